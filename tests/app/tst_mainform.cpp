// Tests of the main window: its components, creation with and without a database engine, the
// tiled background, the File and Windows menus, the arrangement commands, the option, and closing.
#include "app/aboutbox.h"
#include "app/mainform.h"
#include "app/menuitem.h"
#include "platform/errorbox.h"
#include "platform/help.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "ui/flatbtn.h"
#include "ui/mydialog.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace lw;
using lw::test::Answer;
using lw::test::DialogRecord;

namespace {

class FixedEngine : public DataEngine {
public:
    QStringList aliasNames() override { return {QStringLiteral("beta"), QStringLiteral("Alpha")}; }
    QStringList tableNames(const QString&) override { return {}; }
    QStringList aliasParameters(const QString&) override { return {}; }
};

class BrokenEngine : public DataEngine {
public:
    QStringList aliasNames() override { throw EngineError("The database engine could not start"); }
    QStringList tableNames(const QString&) override { throw EngineError("no engine"); }
    QStringList aliasParameters(const QString&) override { throw EngineError("no engine"); }
};

QString settingsPath() {
    return Profile(settingsFileName()).filePath();
}

QStringList visibleCaptions(QMenu* menu) {
    QStringList captions;
    for (QAction* action : menu->actions()) {
        if (action->isVisible())
            captions.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return captions;
}

// Answers the next count save questions with "No", recording their texts in order.
void answerQuestions(int count, QStringList* texts) {
    test::answerNextModal([count, texts](QWidget* w) {
        const auto* label = w->findChild<QLabel*>(QStringLiteral("Label1"));
        texts->append(label ? label->text() : QString());
        if (count > 1)
            answerQuestions(count - 1, texts);
        if (auto* no = w->findChild<QAbstractButton*>(QStringLiteral("CancelBtn")))
            no->click();
        else
            w->close();
    });
}

// Opens a menu as the user does: its aboutToShow handler runs.
void openMenu(QMenu* menu) {
    emit menu->aboutToShow();
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void menus();
    void toolBar_data();
    void toolBar();
    void windowAndDialogs();
    void startUpSequence();
    void creationSteps();
    void creationWithoutEngine();
    void backgroundTiles();
    void centredOnFirstShowOnly();
    void fileMenuFollowsEditorWindows();
    void reportCommands();
    void windowsMenuEmpty();
    void windowsMenuTenWindows();
    void windowsMenuChoice();
    void tilingAndArranging();
    void showOptionWritesAtOnce();
    void aboutTwice();
    void exitCommands_data();
    void exitCommands();
    void closeAsksLeastRecentFirst();
    void closeStopsWhenEditorRefuses();
    void closeStopsWhenSettingsCannotBeWritten();

private:
    std::unique_ptr<TMainForm> makeForm(bool show = true);
};

void TestMainForm::initTestCase() {
    // Settings go to a throwaway directory even when the program is run outside CTest.
    QStandardPaths::setTestModeEnabled(true);
}

void TestMainForm::init() {
    QFile::remove(settingsPath());
    setEngine(std::make_unique<FixedEngine>());
    setHelpFile(QStringLiteral("ledgwick.hlp"));
}

void TestMainForm::cleanup() {
    // Editor windows left by a failed test must not ask questions in the next one.
    QFile::remove(settingsPath());
}

std::unique_ptr<TMainForm> TestMainForm::makeForm(bool show) {
    auto form = std::make_unique<TMainForm>();
    if (show) {
        form->show();
        QApplication::setActiveWindow(form.get());
        (void)QTest::qWaitForWindowExposed(form.get()); // offscreen windows are exposed at once
    }
    return form;
}

// The menus as designed: captions in order (separators "-"), the hidden list items, the marks by
// which the list items are found, the two disabled report items, no shortcut anywhere.
void TestMainForm::menus() {
    auto form = makeForm(false);
    auto captions = [](QMenu* menu) {
        QStringList all;
        for (QAction* action : menu->actions())
            all.append(static_cast<TMenuItem*>(action)->caption());
        return all;
    };
    QCOMPARE(captions(form->N1), (QStringList{"New", "Open ...", "Close", "-", "Save", "Save as ...", "-",
                                              "1", "2", "3", "4", "-", "Exit"}));
    QCOMPARE(captions(form->EXCEL1), (QStringList{"Blank Builder", "Generate Report"}));
    QCOMPARE(captions(form->N17), QStringList{"Show prepared report"});
    QCOMPARE(captions(form->N14), (QStringList{"Cascade", "TileHorisontal", "TileVertical", "Arrange", "-",
                                               "1", "2", "3", "4", "5", "6", "7", "8", "9"}));
    QCOMPARE(captions(form->N8), QStringList{"About"});
    QCOMPARE(visibleCaptions(form->N1),
             (QStringList{"New", "Open ...", "Close", "-", "Save", "Save as ...", "-", "Exit"}));
    QCOMPARE(visibleCaptions(form->N14).size(), 5);
    QVERIFY(!form->N12->isEnabled() && !form->N16->isEnabled());
    QVERIFY(form->Show->isCheckable());

    const QList<TMenuItem*> recent{form->N11, form->N21, form->N31, form->N41};
    for (int k = 1; k <= 4; ++k) {
        QCOMPARE(form->findMenuItem(1, k), recent[k - 1]);
        QCOMPARE(recent[k - 1]->property("Tag").toInt(), k);
    }
    QCOMPARE(form->NLine->property("GroupIndex").toInt(), 1);
    QCOMPARE(form->N13->property("GroupIndex").toInt(), 1);
    for (QAction* action : form->N14->actions().mid(5))
        QCOMPARE(action->property("GroupIndex").toInt(), 2);
    for (QObject* component : form->components()) {
        if (auto* item = qobject_cast<TMenuItem*>(component)) {
            QVERIFY(item->shortcut().isEmpty());
            QCOMPARE(form->findChild<TMenuItem*>(item->objectName()), item);
        }
    }
}

void TestMainForm::toolBar_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("left");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("SB2") << "SB2" << 3 << "New" << true;
    QTest::newRow("SB3") << "SB3" << 23 << "Open" << true;
    QTest::newRow("SB6") << "SB6" << 44 << "Save" << false;
    QTest::newRow("SB12") << "SB12" << 79 << "Blank Build" << false;
    QTest::newRow("SB16") << "SB16" << 99 << "Generate report" << false;
}

void TestMainForm::toolBar() {
    QFETCH(QString, name);
    QFETCH(int, left);
    QFETCH(QString, hint);
    QFETCH(bool, enabled);
    auto form = makeForm();
    auto* button = form->findChild<QToolButton*>(name);
    QVERIFY(button);
    QCOMPARE(button->parentWidget(), form->Panel1);
    QCOMPARE(button->geometry(), QRect(left, 4, 20, 20));
    QCOMPARE(button->toolTip(), hint);
    QCOMPARE(button->isEnabled(), enabled);
    // Two pictures: the normal one and a different one for the disabled state.
    const QImage normal = button->icon().pixmap(16, 16, QIcon::Normal).toImage();
    const QImage disabled = button->icon().pixmap(16, 16, QIcon::Disabled).toImage();
    QCOMPARE(normal.size(), QSize(16, 16));
    QCOMPARE(disabled.size(), QSize(16, 16));
    QVERIFY(normal != disabled);
}

void TestMainForm::windowAndDialogs() {
    auto form = makeForm();
    QCOMPARE(form->objectName(), QStringLiteral("MainForm"));
    QCOMPARE(form->windowTitle(), QStringLiteral("Ledgerwick Builder 2.5"));
    QCOMPARE(form->centralWidget()->size(), QSize(551, 343));
    QCOMPARE(form->Panel1->height(), 27);
    QCOMPARE(form->Panel1->y(), 0);
    QCOMPARE(form->Panel1->width(), 551);
    QCOMPARE(form->Panel2->width(), 70);
    QCOMPARE(form->Panel2->geometry(), QRect(551 - 1 - 70, 1, 70, 25)); // inside the bevel
    QCOMPARE(form->FlatButton1->parentWidget(), form->Panel2);
    QCOMPARE(form->FlatButton1->geometry(), QRect(10, 2, 58, 25));
    QCOMPARE(form->FlatButton1->caption(), QStringLiteral("  Exit"));
    QCOMPARE(form->clientArea()->geometry().top(), 27);

    QCOMPARE(form->OpenDialog1->objectName(), QStringLiteral("OpenDialog1"));
    QCOMPARE(form->OpenDialog1->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(form->SaveDialog1->windowTitle(), QStringLiteral("Save Report"));
    QCOMPARE(form->SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(form->SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(form->openDialog(), form->OpenDialog1);
    QCOMPARE(form->saveDialog(), form->SaveDialog1);

    QCOMPARE(form->img->objectName(), QStringLiteral("img"));
    QVERIFY(!form->img->isVisible());
    const QImage tile = form->backgroundTile().toImage();
    QCOMPARE(tile.size(), QSize(47, 26));
    for (int y = 0; y < tile.height(); ++y) {
        for (int x = 0; x < tile.width(); ++x) {
            const QRgb p = tile.pixel(x, y);
            QVERIFY(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p));
            QVERIFY(qRed(p) >= 188 && qRed(p) <= 216);
        }
    }

    // Design order: the menus and their items as in the table, then the tool bar.
    const QList<QObject*>& components = form->components();
    QVERIFY(components.indexOf(form->N13) < components.indexOf(form->EXCEL1));
    QVERIFY(components.indexOf(form->About1) < components.indexOf(form->Panel1));
}

// Title and help file, the main window, the message dialog, the about box shown modally; the
// about box goes when the main window is first active.
void TestMainForm::startUpSequence() {
    setApplicationTitle(QStringLiteral("changed"));
    setHelpFile(QStringLiteral("changed.hlp"));
    QString helpWhileAbout;
    bool windowHiddenWhileAbout = false;
    bool dialogExistedWhileAbout = false;
    DialogRecord about;
    test::answerNextModal(
        [&](QWidget* w) {
            helpWhileAbout = helpFile();
            windowHiddenWhileAbout = MainForm && !MainForm->isVisible();
            dialogExistedWhileAbout = !FormDlg.isNull();
            w->close();
        },
        &about);
    std::unique_ptr<TMainForm> form(startProgram());
    QVERIFY(about.seen);
    QCOMPARE(about.objectName, QStringLiteral("AboutBox"));
    QCOMPARE(applicationTitle(), QStringLiteral("Ledgerwick"));
    QCOMPARE(helpWhileAbout, QStringLiteral("Ledgwk.hlp"));
    QVERIFY(windowHiddenWhileAbout);
    QVERIFY(dialogExistedWhileAbout);
    QCOMPARE(MainForm.data(), form.get());
    QVERIFY(!AboutBox.isNull());
    form->show();
    QApplication::setActiveWindow(form.get());
    QVERIFY(test::waitFor([] { return AboutBox.isNull(); }));
}

void TestMainForm::creationSteps() {
    auto form = makeForm(false);
    QCOMPARE(form->aliasList(), (QStringList{"Alpha", "beta"}));
    QCOMPARE(helpFile(), QStringLiteral("Ledgwk.hlp"));
    QVERIFY(form->clientAreaHooked());
    QVERIFY(form->settings().loaded());
    QCOMPARE(form->startDirectory(), currentDirectory());
    QCOMPARE(MainForm.data(), form.get());
}

// Filling the alias list fails: the error box, the remaining steps skipped, the window usable.
void TestMainForm::creationWithoutEngine() {
    setEngine(std::make_unique<BrokenEngine>());
    QVERIFY(test::writeFile(settingsPath(), "[MainForm]\nWidth=400\nHeight=300\n[EXCEL]\nShow=0\n"));
    DialogRecord box;
    test::answerNextErrorBox(&box);
    auto form = makeForm();
    QVERIFY(box.seen);
    QCOMPARE(box.title, QStringLiteral("Ledgerwick"));
    QCOMPARE(box.text, QStringLiteral("The database engine could not start."));

    QVERIFY(form->aliasList().isEmpty());
    QCOMPARE(helpFile(), QStringLiteral("ledgwick.hlp"));
    QVERIFY(!form->clientAreaHooked());
    QVERIFY(!form->settings().loaded());
    QVERIFY(form->startDirectory().isEmpty());
    // Designed size and check mark: nothing was read.
    QCOMPARE(form->centralWidget()->size(), QSize(551, 343));
    QVERIFY(form->Show->isChecked());
    // A plain grey client area.
    const QImage shot = form->clientArea()->viewport()->grab().toImage();
    QCOMPARE(QColor(shot.pixel(5, 5)), QColor(128, 128, 128));
    QCOMPARE(QColor(shot.pixel(200, 100)), QColor(128, 128, 128));
}

void TestMainForm::backgroundTiles() {
    auto form = makeForm();
    const QImage tile = form->backgroundTile().toImage();
    const QImage shot = form->clientArea()->viewport()->grab().toImage();
    QVERIFY(shot.width() > 2 * tile.width() && shot.height() > 2 * tile.height());
    // Anchored at the top-left corner and repeated unchanged in both directions, to the far edges.
    const QPoint probes[] = {{0, 0}, {46, 25}, {13, 7}};
    for (const QPoint& p : probes) {
        const QRgb expected = tile.pixel(p);
        QCOMPARE(shot.pixel(p), expected);
        QCOMPARE(shot.pixel(p + QPoint(tile.width(), 0)), expected);
        QCOMPARE(shot.pixel(p + QPoint(0, tile.height())), expected);
        QCOMPARE(shot.pixel(p + QPoint(3 * tile.width(), 2 * tile.height())), expected);
    }
    const int right = shot.width() - 1;
    const int bottom = shot.height() - 1;
    QCOMPARE(shot.pixel(right, bottom), tile.pixel(right % tile.width(), bottom % tile.height()));
}

// Whatever left and top are stored, the window opens centred with the stored size.
void TestMainForm::centredOnFirstShowOnly() {
    QVERIFY(test::writeFile(settingsPath(), "[MainForm]\nWidth=400\nHeight=300\nLeft=5\nTop=-70\n"));
    auto form = makeForm(false);
    QCOMPARE(form->pos(), QPoint(5, -70));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QRect screen = form->screen()->geometry();
    const QSize size = form->frameGeometry().size();
    QCOMPARE(form->size(), QSize(400, 300));
    QCOMPARE(form->pos(), screen.topLeft() + QPoint((screen.width() - size.width()) / 2,
                                                    (screen.height() - size.height()) / 2));
    // Later showings keep wherever the window is.
    form->move(10, 20);
    form->hide();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->pos(), QPoint(10, 20));
}

void TestMainForm::fileMenuFollowsEditorWindows() {
    auto form = makeForm();
    openMenu(form->N1);
    QVERIFY(!form->N4->isEnabled() && !form->N6->isEnabled() && !form->N7->isEnabled());
    form->N2->trigger();
    QCOMPARE(form->editorWindows().size(), 1);
    // Nothing changes until the menu opens again; the Report menu opening does the same.
    QVERIFY(!form->N4->isEnabled());
    openMenu(form->EXCEL1);
    QVERIFY(form->N4->isEnabled() && form->N6->isEnabled() && form->N7->isEnabled());

    test::answerNextMessageDialog(Answer::No);
    form->N4->trigger();
    QVERIFY(test::waitFor([&] { return form->editorWindows().isEmpty(); }));
    openMenu(form->N1);
    QVERIFY(!form->N4->isEnabled() && !form->N6->isEnabled() && !form->N7->isEnabled());
}

void TestMainForm::reportCommands() {
    auto form = makeForm();
    const QList<QObject*> commands{form->SB6, form->SB12, form->SB16, form->N12, form->N16};
    auto enabledCount = [&] {
        int n = 0;
        for (QObject* c : commands)
            n += c->property("enabled").toBool() ? 1 : 0;
        return n;
    };
    QCOMPARE(enabledCount(), 0);
    form->SB2->click();
    form->N2->trigger();
    QCOMPARE(form->editorWindows().size(), 2);
    QCOMPARE(enabledCount(), 5);
    // Opening a menu leaves the report commands alone.
    form->setReportCommandsEnabled(false);
    openMenu(form->N1);
    openMenu(form->EXCEL1);
    QCOMPARE(enabledCount(), 0);
    form->setReportCommandsEnabled(true);

    test::answerNextMessageDialog(Answer::No);
    form->N4->trigger();
    QVERIFY(test::waitFor([&] { return form->editorWindows().size() == 1; }));
    QCOMPARE(enabledCount(), 5);
    test::answerNextMessageDialog(Answer::No);
    form->N4->trigger();
    QVERIFY(test::waitFor([&] { return form->editorWindows().isEmpty(); }));
    QCOMPARE(enabledCount(), 0);
}

void TestMainForm::windowsMenuEmpty() {
    auto form = makeForm();
    // Items left visible by an earlier opening are hidden again.
    form->N22->setVisible(true);
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14),
             (QStringList{"Cascade", "TileHorisontal", "TileVertical", "Arrange", "-"}));
}

// Ten windows: nine listed, the active one first, the least recently active one missing.
void TestMainForm::windowsMenuTenWindows() {
    auto form = makeForm();
    form->N2->trigger();
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14).mid(5), QStringList{"No Name 1"});
    QCOMPARE(form->N15->tag(), 0);

    for (int i = 2; i <= 10; ++i)
        form->N2->trigger();
    QCOMPARE(form->editorWindows().size(), 10);
    openMenu(form->N14);
    QStringList expected;
    for (int i = 10; i >= 2; --i)
        expected << QStringLiteral("No Name %1").arg(i);
    QCOMPARE(visibleCaptions(form->N14).mid(5), expected);
    const TMenuItem* items[] = {form->N15, form->N22, form->N32, form->N42, form->N51,
                                form->N61, form->N71, form->N81, form->N91};
    for (int k = 0; k < 9; ++k)
        QCOMPARE(items[k]->tag(), k);
    // Fewer windows again: the surplus items are hidden.
    QList<QMdiSubWindow*> subs = form->childWindows();
    for (int i = 0; i < 8; ++i) {
        test::answerNextMessageDialog(Answer::No);
        subs[i]->close();
    }
    QVERIFY(test::waitFor([&] { return form->editorWindows().size() == 2; }));
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14).mid(5), (QStringList{"No Name 2", "No Name 1"}));
}

void TestMainForm::windowsMenuChoice() {
    auto form = makeForm();
    for (int i = 0; i < 3; ++i)
        form->N2->trigger();
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14).mid(5), (QStringList{"No Name 3", "No Name 2", "No Name 1"}));
    form->N22->trigger();
    QCOMPARE(form->activeEditorWindow()->definitionPath(), QStringLiteral("No Name 2"));
    QCOMPARE(form->clientArea()->activeSubWindow(), form->childWindows().first());
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14).mid(5), (QStringList{"No Name 2", "No Name 3", "No Name 1"}));
    form->N32->trigger();
    QCOMPARE(form->activeEditorWindow()->definitionPath(), QStringLiteral("No Name 1"));
    openMenu(form->N14);
    QCOMPARE(visibleCaptions(form->N14).mid(5), (QStringList{"No Name 1", "No Name 2", "No Name 3"}));
}

void TestMainForm::tilingAndArranging() {
    auto form = makeForm();
    form->resize(700, 500);
    for (int i = 0; i < 3; ++i)
        form->N2->trigger();
    const QRect area = form->clientArea()->viewport()->rect();
    const QList<QMdiSubWindow*> subs = form->childWindows();

    form->TileHorisontal->trigger();
    QCOMPARE(form->tileMode(), TileMode::Horizontal);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!subs[i]->isMaximized());
        QCOMPARE(subs[i]->geometry(), lw::tileRects(area, 3, TileMode::Horizontal)[i]);
    }
    QCOMPARE(subs[0]->width(), area.width());

    form->TileVertical->trigger();
    QCOMPARE(form->tileMode(), TileMode::Vertical);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(subs[i]->geometry(), lw::tileRects(area, 3, TileMode::Vertical)[i]);
    QCOMPARE(subs[0]->height(), area.height());

    // A minimised window keeps its place in the row along the bottom; the others tile above it.
    subs[2]->showMinimized();
    form->TileVertical->trigger();
    const QRect icon = subs[2]->geometry();
    QCOMPARE(icon.bottom(), area.bottom());
    QCOMPARE(icon.left(), area.left());
    for (int i = 0; i < 2; ++i) {
        QVERIFY(!subs[i]->geometry().intersects(icon));
        QCOMPARE(subs[i]->geometry().top(), area.top());
    }
    subs[2]->move(300, 40);
    form->Arrange->trigger();
    QCOMPARE(subs[2]->geometry().bottomLeft(), area.bottomLeft());

    form->Cascade1->trigger();
    QVERIFY(subs[0]->geometry() != subs[1]->geometry());
}

// Toggling twice leaves the option as it was and writes the file each time.
void TestMainForm::showOptionWritesAtOnce() {
    auto form = makeForm(false);
    QVERIFY(!form->Show->isChecked()); // no settings file: unchecked
    form->Show->trigger();
    QVERIFY(form->Show->isChecked());
    QCOMPARE(Profile(settingsFileName()).readString("EXCEL", "Show", "none"), QStringLiteral("1"));
    QVERIFY(QFile::remove(settingsPath()));
    form->Show->trigger();
    QVERIFY(!form->Show->isChecked());
    QCOMPARE(Profile(settingsFileName()).readString("EXCEL", "Show", "none"), QStringLiteral("0"));
    // Nothing else is written by the option.
    QCOMPARE(Profile(settingsFileName()).sections(), QStringList{"EXCEL"});
}

// Each About shows a new box; the one before is gone once the main window is active again.
void TestMainForm::aboutTwice() {
    auto form = makeForm();
    QList<QPointer<QWidget>> boxes;
    bool earlierGone = true;
    for (int i = 0; i < 2; ++i) {
        test::answerNextModal([&boxes, &earlierGone](QWidget* w) {
            for (const QPointer<QWidget>& earlier : boxes)
                earlierGone = earlierGone && earlier.isNull();
            boxes.append(w);
            w->close();
        });
        form->About1->trigger();
        QApplication::setActiveWindow(form.get());
        QVERIFY(test::waitFor([] { return AboutBox.isNull(); }));
    }
    QCOMPARE(boxes.size(), 2);
    QVERIFY(earlierGone);
    QVERIFY(test::waitFor([&] { return boxes[1].isNull(); }));
}

void TestMainForm::exitCommands_data() {
    QTest::addColumn<bool>("button");
    QTest::newRow("menu item") << false;
    QTest::newRow("flat button") << true;
}

void TestMainForm::exitCommands() {
    QFETCH(bool, button);
    auto form = makeForm();
    if (button)
        QTest::mouseClick(form->FlatButton1, Qt::LeftButton, {}, QPoint(20, 12));
    else
        form->N13->trigger();
    QVERIFY(!form->isVisible());
    QVERIFY(QFile::exists(settingsPath()));
}

// The less recently active window is asked first, the active one last.
void TestMainForm::closeAsksLeastRecentFirst() {
    auto form = makeForm();
    form->N2->trigger();
    form->N2->trigger();
    form->N2->trigger();
    openMenu(form->N14);
    form->N32->trigger(); // "No Name 1" becomes the active window
    QStringList asked;
    answerQuestions(3, &asked);
    QVERIFY(form->close());
    QCOMPARE(asked, (QStringList{"<< No Name 2 >>", "<< No Name 3 >>", "<< No Name 1 >>"}));
    QVERIFY(form->aliasList().isEmpty());
}

void TestMainForm::closeStopsWhenEditorRefuses() {
    auto form = makeForm();
    form->N2->trigger();
    DialogRecord question, dialog;
    test::answerNextModal(
        [&dialog](QWidget* w) {
            // "OK" to the question, then the Save-as dialog that follows is cancelled.
            test::answerNextFileChoice(QString(), &dialog);
            if (auto* ok = w->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                ok->click();
        },
        &question);
    QVERIFY(!form->close());
    QVERIFY(question.seen && dialog.seen);
    QVERIFY(form->isVisible());
    QCOMPARE(form->editorWindows().size(), 1);
    QCOMPARE(form->aliasList(), (QStringList{"Alpha", "beta"}));
}

void TestMainForm::closeStopsWhenSettingsCannotBeWritten() {
    auto form = makeForm();
    form->N2->trigger();
    // A directory where the settings file should be: the store cannot write it.
    QVERIFY(QDir().mkpath(settingsPath()));
    DialogRecord box;
    test::answerNextErrorBox(&box);
    const bool closed = form->close();
    QDir(settingsPath()).removeRecursively();
    QVERIFY(!closed);
    QVERIFY(box.seen);
    QVERIFY(box.text.startsWith(QStringLiteral("Unable to write to")));
    QVERIFY(form->isVisible());
    QCOMPARE(form->editorWindows().size(), 1);
    QCOMPARE(form->aliasList().size(), 2);
    // The window is not asked about its report: the close stopped before the editor windows.
    test::answerNextMessageDialog(Answer::No);
    QVERIFY(form->close());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
