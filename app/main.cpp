// Program entry: the start-up sequence of Ledgerwick Builder (the steps themselves are in
// startProgram(), app/mainform.cpp), then the message loop until the main window has closed.
#include "app/mainform.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));

    // Title and help file, the main window, the message dialog, the about box shown modally.
    const std::unique_ptr<lw::TMainForm> form(lw::startProgram());

    // The first show centres the window; closing it, the program's last window, ends the loop.
    // Linux has no start-up show command, so the window always opens in its normal state.
    form->show();
    return app.exec();
}
