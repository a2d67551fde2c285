// The like-for-like start-up reference: a bare program with the furniture of the main program (a
// QMainWindow with six menus, a tool bar of five pictured buttons and the Exit caption, a QMdiArea
// showing the background picture, and a modal dialog showing a 278 x 174 picture and the about
// box's three lines of text before the window opens), in the same text sizes (13 px, 13 px bold,
// 24 px bold, 11 px), quitting when idle as the program does.
#include "app/quitwhenidle.h"

#include <QApplication>
#include <QEvent>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>

namespace {

QFont sized(int pixels, bool bold) {
    QFont f;
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Paints the watched widget with rows of the tile from its top-left corner on every paint.
class BackgroundTiles : public QObject {
public:
    BackgroundTiles(QWidget* target, const QPixmap& tile) : m_target(target), m_tile(tile) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_target || event->type() != QEvent::Paint || m_tile.isNull())
            return false;
        const int columns = m_target->width() / m_tile.width() + 1;
        const int rows = m_target->height() / m_tile.height() + 1;
        if (m_row.width() != columns * m_tile.width()) {
            m_row = QPixmap(columns * m_tile.width(), m_tile.height());
            QPainter row(&m_row);
            for (int c = 0; c < columns; ++c)
                row.drawPixmap(c * m_tile.width(), 0, m_tile);
        }
        QPainter painter(m_target);
        for (int r = 0; r < rows; ++r)
            painter.drawPixmap(0, r * m_tile.height(), m_row);
        return true;
    }

private:
    QWidget* m_target;
    QPixmap m_tile;
    QPixmap m_row;
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    static QMainWindow* window = nullptr;
    // As the program's LEDGERWICK_QUIT_WHEN_IDLE: when the loop runs out of work, a painted modal
    // window is closed; once the main window is painted too, "idle" and the end.
    lw::quitWhenIdle(app, [] { return static_cast<QWidget*>(window); });

    QMainWindow main;
    main.setFont(sized(13, false));
    // The client area shows the program's background picture, repeated, drawn as the program draws
    // it: a row of tiles made once, then drawn row by row.
    auto* area = new QMdiArea(&main);
    BackgroundTiles tiles(area->viewport(), QPixmap(QStringLiteral(":/mainform/tile.png")));
    area->viewport()->installEventFilter(&tiles);
    main.setCentralWidget(area);
    main.resize(640, 480);
    const char* const menus[][4] = {
        {"File", "New", "Open ...", "Save"},   {"Report", "Blank Builder", "Generate Report", nullptr},
        {"Options", "Show prepared report", nullptr, nullptr}, {"Windows", "Cascade", "Tile", "Arrange"},
        {"Tools", "Settings", nullptr, nullptr}, {"?", "About", nullptr, nullptr},
    };
    for (const auto& m : menus) {
        QMenu* menu = main.menuBar()->addMenu(QString::fromLatin1(m[0]));
        for (int i = 1; i < 4 && m[i]; ++i)
            menu->addAction(QString::fromLatin1(m[i]));
    }
    QToolBar* tools = main.addToolBar(QStringLiteral("Tools"));
    tools->setIconSize(QSize(16, 16));
    tools->setFont(sized(11, false));
    for (const char* picture : {"new", "open", "save", "blank", "generate"}) {
        const QString name = QString::fromLatin1(picture);
        QIcon icon(QStringLiteral(":/mainform/%1.png").arg(name));
        icon.addFile(QStringLiteral(":/mainform/%1_disabled.png").arg(name), QSize(), QIcon::Disabled);
        // The program's buttons show their raised edges at rest, as push buttons do.
        if (auto* button = qobject_cast<QToolButton*>(tools->widgetForAction(tools->addAction(icon, name))))
            button->setAutoRaise(false);
    }
    // The program's Exit button at the tool bar's end: its caption in the tool bar's 11 px text.
    auto* exit = new QToolButton(tools);
    exit->setText(QStringLiteral("  Exit"));
    exit->setToolButtonStyle(Qt::ToolButtonTextOnly);
    exit->setAutoRaise(true);
    tools->addWidget(exit);

    {
        QDialog about;
        about.setWindowTitle(QStringLiteral("About"));
        about.setFixedSize(437, 271);
        about.setFont(sized(13, false));
        auto* product = new QLabel(QStringLiteral("Ledgerwick Builder 2.5"), &about);
        product->setFont(sized(24, true));
        product->setGeometry(0, 0, 437, 29);
        auto* description = new QLabel(QStringLiteral("Report Writer for MS Excel 7.0,8.0, 2000"), &about);
        description->setGeometry(0, 221, 437, 50);
        auto* ok = new QLabel(QStringLiteral("OK"), &about);
        ok->setFont(sized(13, true));
        ok->move(354, 159);
        auto* picture = new QLabel(&about);
        picture->setGeometry(0, 47, 284, 174);
        picture->setPixmap(QPixmap(QStringLiteral(":/about/about.png")));
        about.exec();
    }

    window = &main;
    main.show();
    return app.exec();
}
