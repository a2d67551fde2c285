// Program entry: the start-up sequence of Ledgerwick Builder.
#include "platform/errorbox.h"
#include "platform/help.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));
    lw::setApplicationTitle(QStringLiteral("Ledgerwick"));
    lw::setHelpFile(QStringLiteral("ledgwick.hlp"));
    QMainWindow window;
    window.setCentralWidget(new QMdiArea(&window));
    window.show();
    return app.exec();
}
