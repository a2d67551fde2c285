// Tests of the about box: keys that must not close it, the click on "OK", help, and the
// create / show / destroy cycle that start-up, About and the main window's activation use.
#include "app/aboutbox.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

using namespace lw;

class TstAboutBox : public QObject {
    Q_OBJECT

private slots:
    void lifeCycle_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("helpOpened");
        QTest::addColumn<bool>("keyCloses");
        QTest::newRow("Esc closes it") << int(Qt::Key_Escape) << 0 << true;
        QTest::newRow("Enter closes it") << int(Qt::Key_Return) << 0 << true;
        QTest::newRow("keypad Enter closes it") << int(Qt::Key_Enter) << 0 << true;
        QTest::newRow("F1 opens the help") << int(Qt::Key_F1) << 1 << false;
        QTest::newRow("a letter does nothing") << int(Qt::Key_A) << 0 << false;
    }
    // Created and stored, shown modally; Esc and Enter close it as the click on the text "OK" through
    // the window system does, other keys do not. An activation of the main window while the box is
    // open leaves it alone; the next one destroys it, and one more finds nothing to destroy.
    void lifeCycle() {
        QFETCH(int, key);
        QFETCH(bool, keyCloses);
        test::HelpCatcher catcher;
        QPointer<TAboutBox> box = createAboutBox();
        QCOMPARE(AboutBox, box);
        bool openAfterKey = false, aliveWhileOpen = false, closedByClick = false;
        test::answerNextModal([&](QWidget* w) {
            QTest::keyClick(w->windowHandle(), Qt::Key(key));
            openAfterKey = w->isVisible();
            if (!openAfterKey)
                return; // closed by the key, with the close area's result
            destroyAboutBox();
            aliveWhileOpen = box && AboutBox == box;
            if (auto* ok = w->findChild<QLabel*>(QStringLiteral("OKLabel")); ok && w->isVisible())
                QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, ok->mapTo(w, ok->rect().center()));
            closedByClick = !w->isVisible();
            w->close(); // a box the click did not close must not hang the test
        });
        QCOMPARE(box->exec(), 2);
        QCOMPARE(openAfterKey, !keyCloses);
        QVERIFY(keyCloses || (aliveWhileOpen && closedByClick));
        QTEST(int(catcher.urls.size()), "helpOpened");
        QVERIFY(box); // closed, not yet destroyed
        destroyAboutBox();
        QVERIFY(!box && !AboutBox);
        destroyAboutBox();
        QVERIFY(!AboutBox);
    }

    // The window manager's close button (a close event from the window system) closes the box as
    // its close area does, with result 2.
    void closedByWindowManager() {
        QPointer<TAboutBox> box = createAboutBox();
        bool closed = false;
        test::answerNextModal([&](QWidget* w) {
            QCloseEvent fromWindowManager;
            QSpontaneKeyEvent::setSpontaneous(&fromWindowManager);
            qApp->notify(w, &fromWindowManager); // sendEvent() would clear the spontaneous mark
            closed = !w->isVisible();
            w->close(); // a box the event did not close must not hang the test
        });
        QCOMPARE(box->exec(), 2);
        QVERIFY(closed);
        destroyAboutBox();
    }
};

QTEST_MAIN(TstAboutBox)
#include "tst_aboutbox.moc"
