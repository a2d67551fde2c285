// The start-up reference: a bare program that shows a QMainWindow holding a QMdiArea (with
// "--menus", also a menu bar of five captions), prints "idle" once that window has been painted
// and its event loop runs out of work, and ends.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>

#include <cstdio>
#include <cstring>

namespace {

// Notes when the window has been painted: some widget of it received a paint.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* window) : m_window(window) {}
    bool seen = false;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == m_window)
            seen = true;
        return false;
    }

private:
    QWidget* m_window;
};

} // namespace

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
    // The same test for "painted and idle" as the program's LEDGERWICK_QUIT_WHEN_IDLE.
    PaintWatch painted(&window);
    app.installEventFilter(&painted);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &app,
                     [&painted] {
                         if (painted.seen) {
                             std::fputs("idle\n", stdout);
                             std::fflush(stdout);
                             QCoreApplication::exit(0);
                         }
                     });
    window.show();
    return app.exec();
}
