// The screenshot driver: starts the real program on the demo aliases, fills two editor windows as a
// user would, and saves what the screen shows, window manager's frames included, as PNG pictures
// into the directory given (scripts/screenshots).
#include "app/mainform.h"
#include "app/menuitem.h"
#include "data/catalogue.h"
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

// The pictures come from a virtual X server with a window manager (scripts/screenshots starts
// openbox): each top-level window is pictured with the frame and title bar the window manager gives
// it, as the user sees it. Saves what the screen shows of the given windows (lowest first) as
// docs/<name>.png; what lies outside them stays transparent.
void shoot(const QString& name, const QList<QWidget*>& windows) {
    settle();
    QRect shown;
    for (const QWidget* w : windows)
        shown |= w->frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap grabbed = screen->grabWindow(0, shown.x(), shown.y(), shown.width(), shown.height());
    QImage canvas(shown.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    for (const QWidget* w : windows) {
        const QRect r = w->frameGeometry().translated(-shown.topLeft());
        painter.drawPixmap(r.topLeft(), grabbed, r);
    }
    painter.end();
    const QString file = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (grabbed.isNull() || !canvas.save(file))
        complain(QStringLiteral("cannot save %1").arg(file));
    else
        QTextStream(stdout) << file << " " << canvas.width() << "x" << canvas.height() << '\n';
}

// Without a window manager no window would have a frame: the pictures would lack their title bars.
bool framed(const QWidget* w) {
    return w->frameGeometry().top() < w->geometry().top();
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
// The first key typed into the table name brings the window's one-time notice, pictured over the
// main window and answered with OK.
TForm1* clientsReport(TMainForm& form, const QString& dir) {
    form.N2->trigger();
    TForm1* w = form.activeEditorWindow();
    retype(w->Edit1, QStringLiteral("Client list"));
    clickRadio(w->RB6);
    pick(w->ComboBox1, QStringLiteral("DEMO"));
    clickRadio(w->RB5);
    test::answerNextModal([&form](QWidget* dialog) {
        shoot(QStringLiteral("message-dialog"), {&form, dialog});
        if (!framed(dialog))
            complain(QStringLiteral("the message dialog has no window frame: is a window manager running?"));
        if (auto* ok = dialog->findChild<QWidget*>(QStringLiteral("OKBtn")))
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            dialog->close();
    });
    QTest::keyClicks(w->Edit2, QStringLiteral("CLIENTS.DBF"));
    clickRadio(w->RB4);
    retype(w->Edit4, QStringLiteral("250"));
    saveAs(form, dir + QStringLiteral("/clients.pr"));
    return w;
}

void showMaximised(TMainForm& form, TForm1* w) {
    QMdiSubWindow* sub = qobject_cast<QMdiSubWindow*>(w->parentWidget());
    form.activateEditorWindow(sub);
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

    // The start-up sequence: the about box first, pictured and closed as the user would, by a
    // click on its "OK" area.
    test::answerNextModal([](QWidget* about) {
        about->activateWindow();
        shoot(QStringLiteral("about-box"), {about});
        if (!framed(about))
            complain(QStringLiteral("the about box has no window frame: is a window manager running?"));
        if (auto* ok = about->findChild<QWidget*>(QStringLiteral("SpeedButton1")))
            QTest::mouseClick(ok, Qt::LeftButton);
        else
            about->close();
    });
    TMainForm* form = startProgram();
    form->show();
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form))
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
    form->activateEditorWindow(salesSub);
    settle();
    shoot(QStringLiteral("main-window"), {form});
    sales->ComboBox2->showPopup();
    settle();
    shoot(QStringLiteral("table-list"), {form, sales->ComboBox2->view()->window()});
    sales->ComboBox2->hidePopup();

    // The save question asked when a changed definition is closed, its caption whole in the title
    // bar. It opens at its designed place on the screen; the main window is moved under it.
    form->move(120, 120);
    settle();
    retype(sales->Edit1, QStringLiteral("Monthly sales by region, 1999"));
    test::answerNextModal([form](QWidget* dialog) {
        shoot(QStringLiteral("save-question"), {form, dialog});
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
