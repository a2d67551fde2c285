// Tests of the main window: its components, creation with and without a database engine, the
// tiled background, the File and Windows menus, the arrangement commands, the option, and closing.
#include "app/aboutbox.h"
#include "app/mainform.h"
#include "app/menuitem.h"
#include "platform/errorbox.h"
#include "platform/help.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "ui/mydialog.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <memory>

using namespace lw;
using lw::test::Answer;
using lw::test::DialogRecord;

namespace {

// The window list of the Windows menu (the items after its four commands and the separator) as it
// shows when the menu opens.
QStringList windowList(TMainForm* form) {
    emit form->N14->aboutToShow();
    QStringList captions;
    for (QAction* action : form->N14->actions().mid(5))
        if (action->isVisible())
            captions << action->text();
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

// Closes the active editor window, answering its save question with "No".
bool closeEditorWindow(TMainForm* form, int left) {
    test::answerNextMessageDialog(Answer::No);
    form->N4->trigger();
    return test::waitFor([&] { return form->editorWindows().size() == left; });
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Settings go to a throwaway directory even when the program is run outside CTest.
        QStandardPaths::setTestModeEnabled(true);
    }

    void init() {
        QFile::remove(test::settingsFilePath());
        setEngine(std::make_unique<test::StubEngine>(QStringList{"beta", "Alpha"}));
        setHelpFile(QStringLiteral("ledgwick.hlp"));
    }

    // Title and help file, the main window, the message dialog, the about box shown modally; the
    // about box goes when the main window is first active.
    void startUpSequence() {
        setApplicationTitle(QStringLiteral("changed"));
        setHelpFile(QStringLiteral("changed.hlp"));
        QString helpWhileAbout;
        bool windowHiddenWhileAbout = false, dialogExistedWhileAbout = false;
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
        QCOMPARE(about.objectName, QStringLiteral("AboutBox"));
        QCOMPARE(applicationTitle(), QStringLiteral("Ledgerwick"));
        QCOMPARE(helpWhileAbout, QStringLiteral("Ledgwk.hlp"));
        QVERIFY(windowHiddenWhileAbout && dialogExistedWhileAbout);
        QCOMPARE(MainForm.data(), form.get());
        QVERIFY(!AboutBox.isNull());
        form->show();
        QApplication::setActiveWindow(form.get());
        QVERIFY(test::waitFor([] { return AboutBox.isNull(); }));
    }

    // Filling the alias list fails: the error box, the remaining steps skipped, the window usable
    // with its designed size and check mark and a plain grey client area.
    void creationWithoutEngine() {
        setEngine(std::make_unique<test::StubEngine>(QStringList(), "The database engine could not start"));
        QVERIFY(test::writeFile(test::settingsFilePath(),
                                "[MainForm]\nWidth=400\nHeight=300\n[EXCEL]\nShow=0\n"));
        DialogRecord box;
        test::answerNextErrorBox(&box);
        auto form = test::makeMainForm();
        QCOMPARE(box.title, QStringLiteral("Ledgerwick"));
        QCOMPARE(box.text, QStringLiteral("The database engine could not start."));
        QVERIFY(form->aliasList().isEmpty());
        QCOMPARE(helpFile(), QStringLiteral("ledgwick.hlp"));
        QVERIFY(!form->clientAreaHooked());
        QVERIFY(!form->settings().loaded());
        QVERIFY(form->startDirectory().isEmpty());
        QCOMPARE(form->centralWidget()->size(), QSize(551, 343));
        QVERIFY(form->Show->isChecked());
        const QImage shot = form->clientArea()->viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(5, 5)), QColor(128, 128, 128));
        QCOMPARE(QColor(shot.pixel(200, 100)), QColor(128, 128, 128));
    }

    // The tile anchored at the top-left corner and repeated unchanged in both directions.
    void backgroundTiles() {
        auto form = test::makeMainForm();
        const QImage tile = form->backgroundTile().toImage();
        QCOMPARE(tile.size(), QSize(47, 26));
        const QImage shot = form->clientArea()->viewport()->grab().toImage();
        for (const QPoint& p : {QPoint(0, 0), QPoint(46, 25), QPoint(13, 7)}) {
            QCOMPARE(shot.pixel(p), tile.pixel(p));
            QCOMPARE(shot.pixel(p + QPoint(tile.width(), 0)), tile.pixel(p));
            QCOMPARE(shot.pixel(p + QPoint(3 * tile.width(), 2 * tile.height())), tile.pixel(p));
        }
        const int right = shot.width() - 1, bottom = shot.height() - 1;
        QCOMPARE(shot.pixel(right, bottom), tile.pixel(right % tile.width(), bottom % tile.height()));
    }

    // Whatever left and top are stored, the window opens centred with the stored size; later showings
    // keep wherever the window is.
    void centredOnFirstShowOnly() {
        QVERIFY(test::writeFile(test::settingsFilePath(),
                                "[MainForm]\nWidth=400\nHeight=300\nLeft=5\nTop=-70\n"));
        auto form = test::makeMainForm();
        const QRect screen = form->screen()->geometry();
        const QSize size = form->frameGeometry().size();
        QCOMPARE(form->size(), QSize(400, 300));
        QCOMPARE(form->pos(), screen.topLeft() + QPoint((screen.width() - size.width()) / 2,
                                                        (screen.height() - size.height()) / 2));
        form->move(10, 20);
        form->hide();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->pos(), QPoint(10, 20));
    }

    // Close, Save and Save as follow the editor windows when the File or Report menu opens; the five
    // report commands are on exactly while an editor window exists, whatever menu opens.
    void commandsFollowEditorWindows() {
        auto form = test::makeMainForm();
        const QList<QObject*> file{form->N4, form->N6, form->N7};
        const QList<QObject*> report{form->SB6, form->SB12, form->SB16, form->N12, form->N16};
        auto on = [](const QList<QObject*>& commands) {
            return std::count_if(commands.begin(), commands.end(),
                                 [](QObject* c) { return c->property("enabled").toBool(); });
        };
        emit form->N1->aboutToShow();
        QCOMPARE(on(file) + on(report), 0);
        form->SB2->click();
        form->N2->trigger();
        QVERIFY(!form->N4->isEnabled()); // until a menu opens again
        QCOMPARE(on(report), 5);
        emit form->EXCEL1->aboutToShow();
        QCOMPARE(on(file), 3);
        form->setReportCommandsEnabled(false);
        emit form->N1->aboutToShow();
        emit form->EXCEL1->aboutToShow();
        QCOMPARE(on(report), 0);
        form->setReportCommandsEnabled(true);
        QVERIFY(closeEditorWindow(form.get(), 1));
        QCOMPARE(on(report), 5);
        QVERIFY(closeEditorWindow(form.get(), 0));
        emit form->N1->aboutToShow();
        QCOMPARE(on(file) + on(report), 0);
    }

    // Ten windows: nine listed, the active one first, the least recently active one missing; with
    // fewer windows the surplus items are hidden. Choosing the second item brings that window to
    // the front, and the list then shows it first.
    void windowsMenu() {
        auto form = test::makeMainForm();
        form->N22->setVisible(true); // left visible by an earlier opening
        QCOMPARE(windowList(form.get()), QStringList());
        form->N2->trigger();
        QCOMPARE(windowList(form.get()), QStringList{"No Name 1"});
        for (int i = 2; i <= 10; ++i)
            form->N2->trigger();
        QStringList expected;
        for (int i = 10; i >= 2; --i)
            expected << QStringLiteral("No Name %1").arg(i);
        QCOMPARE(windowList(form.get()), expected);
        const QList<QMdiSubWindow*> subs = form->childWindows();
        for (int i = 0; i < 8; ++i) {
            test::answerNextMessageDialog(Answer::No);
            subs[i]->close();
        }
        QVERIFY(test::waitFor([&] { return form->editorWindows().size() == 2; }));
        QCOMPARE(windowList(form.get()), (QStringList{"No Name 2", "No Name 1"}));
        form->N22->trigger();
        QCOMPARE(form->activeEditorWindow()->definitionPath(), QStringLiteral("No Name 1"));
        QCOMPARE(form->clientArea()->activeSubWindow(), form->childWindows().first());
        QCOMPARE(windowList(form.get()), (QStringList{"No Name 1", "No Name 2"}));
    }

    void tilingAndArranging() {
        auto form = test::makeMainForm();
        form->resize(700, 500);
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        const QRect area = form->clientArea()->viewport()->rect();
        const QList<QMdiSubWindow*> subs = form->childWindows();
        for (TileMode mode : {TileMode::Horizontal, TileMode::Vertical}) {
            (mode == TileMode::Horizontal ? form->TileHorisontal : form->TileVertical)->trigger();
            QCOMPARE(form->tileMode(), mode);
            for (int i = 0; i < 3; ++i) {
                QVERIFY(!subs[i]->isMaximized());
                QCOMPARE(subs[i]->geometry(), lw::tileRects(area, 3, mode)[i]);
            }
        }
        // A minimised window keeps its place in the row along the bottom; the others tile above it.
        subs[2]->showMinimized();
        form->TileVertical->trigger();
        const QRect icon = subs[2]->geometry();
        QCOMPARE(icon.bottomLeft(), area.bottomLeft());
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

    // Toggling twice leaves the option as it was and writes the file each time, nothing else.
    void showOptionWritesAtOnce() {
        auto form = test::makeMainForm(false);
        QVERIFY(!form->Show->isChecked());
        form->Show->trigger();
        QVERIFY(form->Show->isChecked());
        QCOMPARE(test::readFile(test::settingsFilePath()), QByteArray("[EXCEL]\nShow=1\n"));
        QVERIFY(QFile::remove(test::settingsFilePath()));
        form->Show->trigger();
        QVERIFY(!form->Show->isChecked());
        QCOMPARE(test::readFile(test::settingsFilePath()), QByteArray("[EXCEL]\nShow=0\n"));
    }

    // Each About shows a new box; the one before is gone once the main window is active again.
    void aboutTwice() {
        auto form = test::makeMainForm();
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

    // Exit from the menu: the less recently active window is asked first, the active one last.
    void closeAsksLeastRecentFirst() {
        auto form = test::makeMainForm();
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        emit form->N14->aboutToShow();
        form->N32->trigger(); // "No Name 1" becomes the active window
        QStringList asked;
        answerQuestions(3, &asked);
        form->N13->trigger();
        QVERIFY(!form->isVisible());
        QCOMPARE(asked, (QStringList{"<< No Name 2 >>", "<< No Name 3 >>", "<< No Name 1 >>"}));
        QVERIFY(form->aliasList().isEmpty());
    }

    void closeWithSaveAs_data() {
        QTest::addColumn<bool>("saved");
        QTest::newRow("Save as cancelled: the close stops, nothing lost") << false;
        QTest::newRow("saved: the file is written, not stored in the list") << true;
    }
    // "OK" to the save question at close, then the Save-as dialog. The settings were written before
    // the question, so a file saved in answer is not in the stored list at the next start.
    void closeWithSaveAs() {
        QFETCH(bool, saved);
        QTemporaryDir dir;
        const QString chosen = saved ? dir.filePath(QStringLiteral("late.pr")) : QString();
        auto form = test::makeMainForm();
        form->N2->trigger();
        DialogRecord question, dialog;
        test::answerNextModal(
            [&](QWidget* w) {
                test::answerNextFileDialog(chosen, &dialog);
                if (auto* ok = w->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                    ok->click();
            },
            &question);
        QCOMPARE(form->close(), saved);
        QCOMPARE(question.text, QStringLiteral("<< No Name 1 >>"));
        QVERIFY(dialog.seen);
        if (!saved) {
            QVERIFY(form->isVisible());
            QCOMPARE(form->editorWindows().size(), 1);
            QCOMPARE(form->aliasList(), (QStringList{"Alpha", "beta"}));
            return;
        }
        QVERIFY(QFile::exists(chosen));
        form.reset();
        auto next = test::makeMainForm(false);
        QCOMPARE(next->settings().recentFiles()[0], QString());
        QVERIFY(next->lastDialogDirectory().isEmpty());
    }

    // A directory where the settings file should be: the store cannot write it, the close stops
    // before the editor windows are asked.
    void closeStopsWhenSettingsCannotBeWritten() {
        auto form = test::makeMainForm();
        form->N2->trigger();
        QVERIFY(QDir().mkpath(test::settingsFilePath()));
        DialogRecord box;
        test::answerNextErrorBox(&box);
        const bool closed = form->close();
        QDir(test::settingsFilePath()).removeRecursively();
        QVERIFY(!closed);
        QVERIFY(box.text.startsWith(QStringLiteral("Unable to write to")));
        QVERIFY(form->isVisible());
        QCOMPARE(form->editorWindows().size(), 1);
        QCOMPARE(form->aliasList().size(), 2);
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(form->close());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
