// The start-up reference: a bare program that shows a QMainWindow holding a QMdiArea (with
// "--menus", also a menu bar of five captions), prints "idle" once that window is on screen and
// its event loop runs out of work, and ends.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QWindow>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QMdiArea(&window));
    window.resize(551, 370);
    // The least text a main window can show: what loading a font and laying out captions costs.
    if (argc > 1 && std::strcmp(argv[1], "--menus") == 0) {
        for (const char* caption : {"File", "Report", "Options", "Windows", "?"})
            window.menuBar()->addMenu(QString::fromLatin1(caption));
    }
    // The same test for "shown and idle" as the program's LEDGERWICK_QUIT_WHEN_IDLE.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                     [&window] {
                         if (window.windowHandle() && window.windowHandle()->isExposed()) {
                             std::fputs("idle\n", stdout);
                             std::fflush(stdout);
                             QCoreApplication::exit(0);
                         }
                     });
    window.show();
    return app.exec();
}
