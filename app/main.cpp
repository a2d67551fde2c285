// Program entry: the start-up sequence of Ledgerwick Builder (the steps themselves are in
// startProgram(), app/mainform.cpp), then the message loop until the main window has closed.
#include "app/mainform.h"
#include "platform/errorbox.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QSet>

#include <cstdio>
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

// Records the windows that have been painted (some widget of theirs received a paint), for
// LEDGERWICK_QUIT_WHEN_IDLE.
class PaintWatch : public QObject {
public:
    bool has(QWidget* window) const { return m_painted.contains(window); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType())
            m_painted.insert(static_cast<QWidget*>(watched)->window());
        return false;
    }

private:
    QSet<QObject*> m_painted;
};

} // namespace

int main(int argc, char* argv[]) {
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));

    // LEDGERWICK_QUIT_WHEN_IDLE, for timing the start-up: whenever the event loop runs out of work,
    // a modal window (the start-up about box) is closed once it has been painted, and once the main
    // window has been painted too the program prints "idle" and ends, without closing its windows.
    // What the user sees is on screen before the start-up counts as done.
    static PaintWatch painted;
    if (qEnvironmentVariableIsSet("LEDGERWICK_QUIT_WHEN_IDLE")) {
        app.installEventFilter(&painted);
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                         [] {
                             if (QWidget* modal = QApplication::activeModalWidget()) {
                                 if (painted.has(modal))
                                     modal->close();
                             } else if (lw::MainForm && painted.has(lw::MainForm)) {
                                 std::fputs("idle\n", stdout);
                                 std::fflush(stdout);
                                 QCoreApplication::exit(0);
                             }
                         });
    }

    // Title and help file, the main window, the message dialog, the about box shown modally.
    const std::unique_ptr<lw::TMainForm> form(lw::startProgram());

    // The first show centres the window; closing it, the program's last window, ends the loop.
    // Linux has no start-up show command, so the window always opens in its normal state.
    form->show();
    return app.exec();
}
