// The screenshot driver: starts the real program on the demo aliases, fills two editor windows as a
// user would, and saves what the screen shows as PNG pictures into the directory given (scripts/screenshots).
#include "app/mainform.h"
#include "app/menuitem.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "support/testsupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace lw;

namespace {

QString g_out;
int g_failures = 0;

void complain(const QString& text) {
    QTextStream(stderr) << "shotdriver: " << text << '\n';
    ++g_failures;
}

// Lets the program paint: events are processed for a while, as a user's eye would wait.
void settle(int ms = 300) {
    QTest::qWait(ms);
}

// The virtual X server has no window manager, so top-level windows have no title bars of their own.
// The pictures add a plain one above each window with its caption, the part the desktop would draw.
constexpr int kTitleBar = 22;

bool hasTitleBar(const QWidget* w) {
    return w->windowType() != Qt::Popup && w->windowType() != Qt::ToolTip;
}

void drawTitleBar(QPainter& painter, const QRect& bar, const QString& title, bool active) {
    QLinearGradient fill(bar.topLeft(), bar.topRight());
    fill.setColorAt(0, active ? QColor(10, 36, 106) : QColor(128, 128, 128));
    fill.setColorAt(1, active ? QColor(166, 202, 240) : QColor(192, 192, 192));
    painter.fillRect(bar, fill);
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QRect close(bar.right() - bar.height() + 3, bar.top() + 3, bar.height() - 6, bar.height() - 6);
    painter.drawText(bar.adjusted(6, 0, -bar.height() - 4, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    painter.fillRect(close, QColor(212, 208, 200));
    painter.setPen(Qt::black);
    painter.drawLine(close.topLeft() + QPoint(4, 4), close.bottomRight() - QPoint(4, 4));
    painter.drawLine(close.topRight() + QPoint(-4, 4), close.bottomLeft() + QPoint(4, -4));
}

// Saves what the screen shows of the given top-level windows (lowest first) as docs/<name>.png,
// each with a title bar; the active window's bar is the coloured one.
void shoot(const QString& name, const QList<QWidget*>& windows) {
    settle();
    QRect shown;
    QRect canvasArea;
    for (const QWidget* w : windows) {
        shown |= w->frameGeometry();
        canvasArea |= w->frameGeometry().adjusted(0, hasTitleBar(w) ? -kTitleBar : 0, 0, 0);
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap grabbed = screen->grabWindow(0, shown.x(), shown.y(), shown.width(), shown.height());
    QImage canvas(canvasArea.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    for (const QWidget* w : windows) {
        const QRect r = w->frameGeometry();
        if (hasTitleBar(w)) {
            const QRect bar(r.left() - canvasArea.left(), r.top() - canvasArea.top() - kTitleBar, r.width(),
                            kTitleBar);
            drawTitleBar(painter, bar, w->windowTitle(), w == windows.last());
        }
        painter.drawPixmap(r.topLeft() - canvasArea.topLeft(), grabbed, r.translated(-shown.topLeft()));
        if (hasTitleBar(w)) {
            // The window's outline, as the desktop's frame would show where it ends.
            painter.setPen(QColor(64, 64, 64));
            painter.drawRect(r.adjusted(0, -kTitleBar, -1, -1).translated(-canvasArea.topLeft()));
        }
    }
    painter.end();
    const QString file = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (grabbed.isNull() || !canvas.save(file))
        complain(QStringLiteral("cannot save %1").arg(file));
    else
        QTextStream(stdout) << file << " " << canvas.width() << "x" << canvas.height() << '\n';
}

// Picks an alias or table from a combo box's list as the user does (the list's activation).
bool pick(QComboBox* box, const QString& text) {
    const int row = box->findText(text, Qt::MatchExactly);
    if (row < 0) {
        complain(QStringLiteral("\"%1\" is not in the list of %2").arg(text, box->objectName()));
        return false;
    }
    box->setCurrentIndex(row);
    emit box->textActivated(text);
    return true;
}

void retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void clickRadio(QRadioButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Saves a window's definition under a name through Save as and the real file dialog.
void saveAs(TMainForm& form, const QString& file) {
    test::answerNextFileDialog(file);
    form.N7->trigger();
}

// An alias-mode definition over the demo SQLite database, with a query condition.
TForm1* salesReport(TMainForm& form, const QString& dir) {
    form.N2->trigger();
    TForm1* w = form.activeEditorWindow();
    retype(w->Edit1, QStringLiteral("Monthly sales by region"));
    clickRadio(w->RB2);
    clickRadio(w->RB6);
    pick(w->ComboBox1, QStringLiteral("DEMO SQLITE"));
    pick(w->ComboBox2, QStringLiteral("sales"));
    retype(w->Edit4, QStringLiteral("500"));
    QTest::mouseClick(w->CheckBox1, Qt::LeftButton);
    QTest::keyClicks(w->Edit5, QStringLiteral("where month >= '1999-02'"));
    saveAs(form, dir + QStringLiteral("/sales.pr"));
    return w;
}

// A directory-mode definition over a demo dBASE table: the alias picked first gives the directory.
TForm1* clientsReport(TMainForm& form, const QString& dir) {
    form.N2->trigger();
    TForm1* w = form.activeEditorWindow();
    retype(w->Edit1, QStringLiteral("Client list"));
    clickRadio(w->RB6);
    pick(w->ComboBox1, QStringLiteral("DEMO"));
    clickRadio(w->RB5);
    w->Edit2->setText(QStringLiteral("CLIENTS.DBF"));
    clickRadio(w->RB4);
    retype(w->Edit4, QStringLiteral("250"));
    saveAs(form, dir + QStringLiteral("/clients.pr"));
    return w;
}

void showMaximised(TMainForm& form, TForm1* w) {
    QMdiSubWindow* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    form.clientArea()->setActiveSubWindow(sub);
    sub->showMaximized();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ledgerwick"));
    if (argc != 3) {
        std::fputs("Usage: lw_shotdriver OUTPUT-DIRECTORY REPORT-DIRECTORY\n", stderr);
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(g_out);
    const QString reports = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(reports);

    // The start-up sequence: the about box first, pictured and closed as the user would.
    test::answerNextModal([](QWidget* about) {
        about->activateWindow();
        shoot(QStringLiteral("about-box"), {about});
        about->close();
    });
    TMainForm* form = startProgram();
    form->show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowExposed(form))
        complain(QStringLiteral("the main window was not shown"));
    settle();

    TForm1* sales = salesReport(*form, reports);
    TForm1* clients = clientsReport(*form, reports);

    // Each window maximised at the designed size of the main window, the way the program opens them.
    showMaximised(*form, sales);
    shoot(QStringLiteral("editor-alias"), {form});
    showMaximised(*form, clients);
    shoot(QStringLiteral("editor-directory"), {form});

    // Both side by side in a larger main window, with the alias window's table list open.
    form->resize(1100, 430);
    const QRect screen = form->screen()->availableGeometry();
    form->move(screen.center() - QPoint(form->width() / 2, form->height() / 2));
    settle();
    form->TileVerticalClick();
    QMdiSubWindow* salesSub = qobject_cast<QMdiSubWindow*>(sales->parentWidget());
    form->clientArea()->setActiveSubWindow(salesSub);
    settle();
    shoot(QStringLiteral("main-window"), {form});
    sales->ComboBox2->showPopup();
    settle();
    shoot(QStringLiteral("table-list"), {form, sales->ComboBox2->view()->window()});
    sales->ComboBox2->hidePopup();

    // The message dialog: the question asked when a changed definition is closed. It opens at its
    // designed place on the screen; the main window is moved under it for the picture.
    form->move(120, 120);
    settle();
    retype(sales->Edit1, QStringLiteral("Monthly sales by region, 1999"));
    test::answerNextModal([form](QWidget* dialog) {
        shoot(QStringLiteral("message-dialog"), {form, dialog});
        if (auto* no = dialog->findChild<QWidget*>(QStringLiteral("CancelBtn")))
            QTest::mouseClick(no, Qt::LeftButton);
        else
            dialog->close();
    });
    form->N4->trigger();
    settle();

    // Leave without questions: the other window is saved, so the program simply ends.
    form->close();
    delete form;
    return g_failures == 0 ? 0 : 1;
}
