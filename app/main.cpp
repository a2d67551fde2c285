// Program entry: the start-up sequence of Ledgerwick Builder (the steps themselves are in
// startProgram(), app/mainform.cpp), then the message loop until the main window has closed.
#include "app/mainform.h"
#include "app/quitwhenidle.h"
#include "platform/errorbox.h"

#include <QApplication>

#include <exception>
#include <memory>

namespace {

// Every handler guards its own body; this only catches what would otherwise end the program
// from inside Qt's event delivery, and shows it in the standard error box like any failure.
class Application : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            lw::showErrorBox(QString::fromUtf8(e.what()));
        } catch (...) {
            lw::showErrorBox(QStringLiteral("Unknown failure"));
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));

    // LEDGERWICK_QUIT_WHEN_IDLE, for timing the start-up: the program prints "idle" and ends once
    // the about box and the main window have been painted and the event loop runs out of work.
    if (qEnvironmentVariableIsSet("LEDGERWICK_QUIT_WHEN_IDLE"))
        lw::quitWhenIdle(app, [] { return static_cast<QWidget*>(lw::MainForm); });

    // Title and help file, the main window, the about box shown modally.
    const std::unique_ptr<lw::TMainForm> form(lw::startProgram());

    // The first show centres the window; closing it, the program's last window, ends the loop.
    // Linux has no start-up show command, so the window always opens in its normal state.
    form->show();
    return app.exec();
}
