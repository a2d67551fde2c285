// Tests of the main window: creation without a database engine, the Windows menu, tiling, the
// option, and closing.
#include "app/mainform.h"
#include "app/menuitem.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QTest>

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
    }

    // Filling the alias list fails: the error box, the remaining steps skipped, the window usable
    // with a plain grey client area; its close writes nothing over the settings it never read.
    void creationWithoutEngine() {
        setEngine(std::make_unique<test::StubEngine>(QStringList(), "The database engine could not start"));
        const QByteArray stored =
            "[MainForm]\nWidth=700\nHeight=500\n[MENU]\n1=/a/1.pr\n[DIALOG]\nOpen=/a/\n";
        QVERIFY(test::writeFile(test::settingsFilePath(), stored));
        DialogRecord box;
        test::answerNextErrorBox(&box);
        auto form = test::makeMainForm();
        QCOMPARE(box.title, QStringLiteral("Ledgerwick"));
        QCOMPARE(box.text, QStringLiteral("The database engine could not start."));
        QVERIFY(form->aliasList().isEmpty());
        QVERIFY(!form->clientAreaHooked() && !form->settings().loaded());
        QVERIFY(form->close());
        QCOMPARE(test::readFile(test::settingsFilePath()), stored); // the stored settings are left alone
        QCOMPARE(QColor(form->clientArea()->viewport()->grab().toImage().pixel(5, 5)), QColor(128, 128, 128));
    }

    // The client area shows the background picture repeated from its top-left corner over every
    // pixel, whatever the window's size (a whole number of tiles or not, smaller than one tile).
    void tiledBackground_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("designed") << QSize(551, 370);
        QTest::newRow("stored") << QSize(640, 480);
        QTest::newRow("whole tiles") << QSize(47 * 9, 26 * 12);
        QTest::newRow("narrow") << QSize(200, 120);
    }
    void tiledBackground() {
        QFETCH(QSize, size);
        auto form = test::makeMainForm();
        QVERIFY(form->clientAreaHooked());
        form->resize(size);
        QWidget* viewport = form->clientArea()->viewport();
        const QImage tile = form->backgroundTile().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(!tile.isNull());
        const QImage shown = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), viewport->size());
        QVERIFY(!shown.isNull());
        int wrong = 0;
        QPoint first(-1, -1);
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (shown.pixel(x, y) != tile.pixel(x % tile.width(), y % tile.height()) && wrong++ == 0)
                    first = QPoint(x, y);
            }
        }
        if (wrong != 0)
            qWarning() << "first differing pixel" << first;
        QCOMPARE(wrong, 0);
    }

    // The program's icon answers as the icon read from its picture at once would: the same sizes,
    // and the same pixels at every size asked for.
    void programIconAsItsPicture_data() {
        QTest::addColumn<int>("size");
        for (int size : {16, 24, 32, 48, 64, 128})
            QTest::addRow("%d", size) << size;
    }
    void programIconAsItsPicture() {
        QFETCH(int, size);
        const QIcon icon = programIcon();
        const QIcon read(QStringLiteral(":/mainform/ledgerwick.png"));
        QVERIFY(!read.isNull());
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.availableSizes(), read.availableSizes());
        QCOMPARE(icon.actualSize(QSize(size, size)), read.actualSize(QSize(size, size)));
        for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected})
            QCOMPARE(icon.pixmap(size, mode).toImage(), read.pixmap(size, mode).toImage());
        // A copy that is given another picture stays apart from the icon it was copied from.
        QIcon changed = icon;
        QPixmap other(size, size);
        other.fill(Qt::red);
        changed.addPixmap(other);
        QCOMPARE(icon.availableSizes(), read.availableSizes());
    }

    // The active window first, surplus items hidden. Choosing the second item brings that window to
    // the front, and the list then shows it first.
    void windowsMenu() {
        auto form = test::makeMainForm();
        form->N32->setVisible(true); // left visible by an earlier opening
        form->N2->trigger();
        form->N2->trigger();
        QCOMPARE(windowList(form.get()), (QStringList{"No Name 2", "No Name 1"}));
        form->N22->trigger();
        QCOMPARE(form->activeEditorWindow()->definitionPath(), QStringLiteral("No Name 1"));
        QCOMPARE(form->clientArea()->activeSubWindow(), form->childWindows().first());
        QCOMPARE(windowList(form.get()), (QStringList{"No Name 1", "No Name 2"}));
    }

    // Tiling un-maximises; a minimised window keeps its place in the row along the bottom, and the
    // others tile above it.
    void tilingAndArranging() {
        auto form = test::makeMainForm();
        form->resize(700, 500);
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        const QRect area = form->clientArea()->viewport()->rect();
        const QList<QMdiSubWindow*> subs = form->childWindows();
        subs[0]->showMaximized();
        subs[2]->showMinimized();
        form->TileVertical->trigger();
        const QRect icon = subs[2]->geometry();
        QCOMPARE(icon.bottomLeft(), area.bottomLeft());
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!subs[i]->isMaximized() && !subs[i]->geometry().intersects(icon));
            QCOMPARE(subs[i]->geometry().top(), area.top());
        }
    }

    // Cascading steps the windows from the top-left corner, the active one on top, each at least the
    // designed size (Qt's own cascade would size them from their size hint): in a small client
    // area they run past its edges rather than shrink; in a large one they take most of it.
    void cascading_data() {
        QTest::addColumn<QSize>("mainWindow");
        QTest::addColumn<bool>("larger"); // than designed
        QTest::newRow("designed main window") << QSize(551, 370) << false;
        QTest::newRow("large main window") << QSize(1000, 700) << true;
    }
    void cascading() {
        QFETCH(QSize, mainWindow);
        QFETCH(bool, larger);
        auto form = test::makeMainForm();
        form->resize(mainWindow);
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        QMdiSubWindow* active = form->childWindows().first();
        form->Cascade1->trigger();
        const QList<QMdiSubWindow*> subs = form->childWindows();
        QCOMPARE(subs.first(), active);
        QCOMPARE(form->clientArea()->subWindowList(QMdiArea::StackingOrder).last(), active);
        const QRect area = form->clientArea()->viewport()->rect();
        for (QMdiSubWindow* sub : subs) {
            QVERIFY(!sub->isMaximized());
            QVERIFY(sub->width() >= 521 && sub->height() >= 308);
            QCOMPARE(sub->width() > 521 && sub->height() > 308, larger);
        }
        // Each step down and right is the same, the least recently active window at the corner.
        const QPoint step = subs[1]->pos() - subs[2]->pos();
        QCOMPARE(subs[2]->pos(), area.topLeft());
        QVERIFY(step.x() > 10 && step.x() == step.y());
        QCOMPARE(subs[0]->pos() - subs[1]->pos(), step);
    }

    // The windows under a maximised one are kept outside the main window; choosing one from the
    // Windows menu, tiling or restoring brings them back whole and in their places, and the close
    // asks for each window.
    void coveredWindowsPutAside() {
        auto form = test::makeMainForm();
        form->N2->trigger();
        form->activeEditorWindow()->Edit3->setFocus();
        for (int i = 0; i < 2; ++i)
            form->N2->trigger();
        QCoreApplication::processEvents();
        QList<TForm1*> windows = form->editorWindows(); // the active one first
        auto frame = [](TForm1* w) { return qobject_cast<QMdiSubWindow*>(w->parentWidget()); };
        // A frame that can be seen is in the client area; a covered one is outside the main window.
        auto shown = [&form, frame](TForm1* w) {
            QMdiSubWindow* sub = frame(w);
            return sub && !form->isParked(sub) && form->clientArea()->subWindowList().contains(sub) &&
                   sub->isVisible() && sub->windowTitle() == w->windowTitle();
        };
        auto parked = [&form, frame](TForm1* w) {
            QMdiSubWindow* sub = frame(w);
            return sub && form->isParked(sub) && !form->isAncestorOf(sub) &&
                   !form->clientArea()->subWindowList().contains(sub) && !sub->isHidden();
        };
        QVERIFY(shown(windows[0]) && parked(windows[1]) && parked(windows[2]));
        QCOMPARE(windows[2]->Edit1->text(), QStringLiteral("No Name 1"));
        QVERIFY(form->windowTitle().contains(QStringLiteral("No Name 3")));

        emit form->N14->aboutToShow();
        form->N42->setVisible(false); // only three windows
        form->N32->trigger();         // the least recently active: "No Name 1"
        QCoreApplication::processEvents();
        TForm1* chosen = form->activeEditorWindow();
        QCOMPARE(chosen, windows[2]);
        QVERIFY(shown(chosen) && chosen->Edit1->isVisible() && frame(chosen)->isMaximized());
        // The keyboard works in it again: a control of its rows has the focus.
        QTRY_VERIFY(QApplication::focusWidget() && chosen->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(chosen->Panel5->geometry(), QRect(0, 183, std::max(chosen->width(), 513), 32));
        QVERIFY(parked(windows[0]) && parked(windows[1]));
        QVERIFY(form->windowTitle().contains(QStringLiteral("No Name 1")));

        // Tiled, every window is seen; maximised and restored again, each keeps its tile, the
        // active one on top, and moves and sizes as before (not by outline).
        form->TileHorisontal->trigger();
        QList<QRect> tiles;
        for (TForm1* w : windows) {
            QVERIFY(shown(w) && w->Edit1->isVisible());
            tiles.append(frame(w)->geometry());
        }
        frame(chosen)->showMaximized();
        QCoreApplication::processEvents();
        QVERIFY(shown(chosen) && parked(windows[0]) && parked(windows[1]));
        frame(chosen)->showNormal();
        QCoreApplication::processEvents();
        for (int i = 0; i < windows.size(); ++i) {
            QVERIFY(shown(windows[i]));
            QCOMPARE(frame(windows[i])->geometry(), tiles[i]);
            QVERIFY(!frame(windows[i])->testOption(QMdiSubWindow::RubberBandMove));
        }
        QCOMPARE(form->clientArea()->subWindowList(QMdiArea::StackingOrder).last(), frame(chosen));
        QCOMPARE(form->activeEditorWindow(), chosen);
        // A control of another window that takes the focus makes that window the active one.
        windows[1]->Edit1->setFocus();
        QTRY_COMPARE(form->activeEditorWindow(), windows[1]);
        form->activateEditorWindow(frame(chosen));

        // Maximised again and closed: the window active before it takes over, maximised, out of
        // the holder; the others stay parked.
        frame(windows[1])->showMaximized();
        form->activateEditorWindow(frame(windows[1]));
        QCoreApplication::processEvents();
        windows = form->editorWindows();
        QVERIFY(parked(windows[1]) && parked(windows[2]));
        test::answerNextModal([](QWidget* dialog) {
            if (auto* no = dialog->findChild<QAbstractButton*>(QStringLiteral("CancelBtn")))
                no->click();
        });
        QVERIFY(windows[0]->closeWindow());
        QCoreApplication::processEvents();
        QCOMPARE(form->activeEditorWindow(), windows[1]);
        QVERIFY(frame(windows[1])->isMaximized());
        QVERIFY(shown(windows[1]) && parked(windows[2]));
        QVERIFY(form->windowTitle().contains(windows[1]->windowTitle()));
        // Restored, the maximised window covers nothing any more: the others show again.
        frame(windows[1])->showNormal();
        QCoreApplication::processEvents();
        QVERIFY(shown(windows[1]) && shown(windows[2]));

        int asked = 0;
        for (int i = 0; i < 2; ++i)
            test::answerNextModal([&asked](QWidget* dialog) {
                ++asked;
                if (auto* no = dialog->findChild<QAbstractButton*>(QStringLiteral("CancelBtn")))
                    no->click();
            });
        QVERIFY(form->close());
        QCOMPARE(asked, 2);
    }

    // A minimised window under a maximised one is parked too and comes back minimised, in its
    // place; a parked window that is closed goes from the list, and the active one stays.
    void parkedWindowsKeepTheirState() {
        auto form = test::makeMainForm();
        form->resize(700, 500);
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        QCoreApplication::processEvents();
        const QList<QMdiSubWindow*> subs = form->childWindows(); // the active one first
        subs[0]->showNormal();
        QCoreApplication::processEvents();
        subs[2]->showMinimized();
        QCoreApplication::processEvents();
        const QRect icon = subs[2]->geometry();
        form->activateEditorWindow(subs[0]);
        subs[0]->showMaximized();
        QCoreApplication::processEvents();
        QVERIFY(form->isParked(subs[1]) && form->isParked(subs[2]) && subs[2]->isMinimized());

        test::answerNextModal([](QWidget* dialog) {
            if (auto* no = dialog->findChild<QAbstractButton*>(QStringLiteral("CancelBtn")))
                no->click();
        });
        const QPointer<QMdiSubWindow> closed = subs[1];
        QVERIFY(qobject_cast<TForm1*>(subs[1]->widget())->closeWindow());
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(closed.isNull());
        QCOMPARE(form->childWindows(), (QList<QMdiSubWindow*>{subs[0], subs[2]}));
        QCOMPARE(form->clientArea()->activeSubWindow(), subs[0]);
        QVERIFY(subs[0]->isMaximized() && form->isParked(subs[2]));

        subs[0]->showNormal();
        QCoreApplication::processEvents();
        QVERIFY(!form->isParked(subs[2]) && subs[2]->isMinimized());
        QCOMPARE(subs[2]->geometry(), icon);
        QCOMPARE(form->clientArea()->activeSubWindow(), subs[0]);
    }

    // Ctrl+Tab in an editor window goes to the window active before it, parked or not; more Tabs
    // with Ctrl held go on through all windows in the order they had when Ctrl went down, Shift
    // goes back; releasing Ctrl ends the round.
    void ctrlTabGoesThroughTheWindows() {
        auto form = test::makeMainForm();
        for (int i = 0; i < 3; ++i)
            form->N2->trigger();
        QCoreApplication::processEvents();
        const QList<QMdiSubWindow*> order = form->childWindows(); // No Name 3, 2, 1
        // The Tab key alone goes down and up, as while Ctrl (and Shift) are held.
        auto press = [&form](Qt::Key key, Qt::KeyboardModifiers modifiers) {
            QWidget* target = form->activeEditorWindow()->Edit1;
            QKeyEvent down(QEvent::KeyPress, key, modifiers);
            QKeyEvent up(QEvent::KeyRelease, key, modifiers);
            QApplication::sendEvent(target, &down);
            QApplication::sendEvent(target, &up);
            QCoreApplication::processEvents();
            return form->childWindows().first();
        };
        QCOMPARE(press(Qt::Key_Tab, Qt::ControlModifier), order[1]);
        QVERIFY(order[1]->isMaximized() && !form->isParked(order[1]) && form->isParked(order[0]));
        QCOMPARE(press(Qt::Key_Tab, Qt::ControlModifier), order[2]);
        QCOMPARE(press(Qt::Key_Tab, Qt::ControlModifier), order[0]);
        QCOMPARE(press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier), order[2]);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier);
        QApplication::sendEvent(form->activeEditorWindow()->Edit1, &release);
        // A new round starts from the order of now: order[2], order[0], order[1].
        QCOMPARE(press(Qt::Key_Tab, Qt::ControlModifier), order[0]);
        QCOMPARE(form->activeEditorWindow()->Edit1->text(), QStringLiteral("No Name 3"));
        // Tab alone stays within the window.
        QCOMPARE(press(Qt::Key_Tab, Qt::NoModifier), order[0]);
    }

    // Separators show their line only: the designed caption "-" is not drawn beside it.
    void separatorsHaveNoText() {
        auto form = test::makeMainForm(false);
        int separators = 0;
        for (QObject* component : form->components()) {
            auto* item = qobject_cast<TMenuItem*>(component);
            if (item && item->isSeparator()) {
                ++separators;
                QVERIFY(item->text().isEmpty());
                QCOMPARE(item->caption(), QStringLiteral("-"));
            }
        }
        QCOMPARE(separators, 4);
    }

    // The desktop's keys: Ctrl+N, Ctrl+O and Ctrl+S run New, Open and Save (here a Save as, for a
    // new definition) without the menu having been opened; F10 opens the File menu.
    void shortcutKeys() {
        auto form = test::makeMainForm();
        emit form->N1->aboutToShow(); // no window yet: Save is disabled
        QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(form->editorWindows().size(), 1);
        DialogRecord saveAs, open;
        test::answerNextFileDialog(QString(), &saveAs);
        QTest::keyClick(form->activeEditorWindow()->Edit1, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(saveAs.title, QStringLiteral("Save Report"));
        QApplication::setActiveWindow(form.get()); // the closed dialog leaves no active window offscreen
        test::answerNextFileDialog(QString(), &open);
        QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
        QVERIFY(open.seen && open.title != saveAs.title);
        QApplication::setActiveWindow(form.get());
        QTest::keyClick(form->activeEditorWindow()->Edit3, Qt::Key_F10);
        QTRY_VERIFY(form->N1->isVisible());
        form->N1->hide();
        test::answerNextMessageDialog(Answer::No);
        QVERIFY(form->close());
    }

    // The option is written at once, and nothing else with it.
    void showOptionWritesAtOnce() {
        auto form = test::makeMainForm(false);
        form->Show->trigger();
        QVERIFY(form->Show->isChecked());
        QCOMPARE(test::readFile(test::settingsFilePath()), QByteArray("[EXCEL]\nShow=1\n"));
    }

    // "OK" to the save question at close, then the Save-as dialog is cancelled: the close stops and
    // nothing is lost.
    void closeWithSaveAsCancelled() {
        auto form = test::makeMainForm();
        form->N2->trigger();
        DialogRecord question, dialog;
        test::answerNextModal(
            [&](QWidget* w) {
                test::answerNextFileDialog(QString(), &dialog);
                if (auto* ok = w->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                    ok->click();
            },
            &question);
        QVERIFY(!form->close());
        QCOMPARE(question.text, QStringLiteral("<< No Name 1 >>"));
        QVERIFY(dialog.seen && form->isVisible());
        QCOMPARE(form->editorWindows().size(), 1);
        QCOMPARE(form->aliasList(), (QStringList{"Alpha", "beta"}));
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
