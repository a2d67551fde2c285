// The start-up reference: a bare program that shows a QMainWindow holding a QMdiArea, prints
// "idle" once that window is on screen and its event loop runs out of work, and ends.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QWindow>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QMdiArea(&window));
    window.resize(551, 370);
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
