// Tests of the about box: its design, keys that must not close it, the click on "OK", help,
// and the create / show / destroy cycle that start-up, About and the main window's activation use.
#include "app/aboutbox.h"
#include "support/testsupport.h"

#include <QLabel>
#include <QtTest>

using namespace lw;
using lw::test::answerNextModal;

// Clicks the middle of the "OK" text through the window system, as the user's mouse would, and
// tells whether that closed the box; a box the click did not close is closed so no test hangs.
static bool clickOkText(QWidget* box) {
    auto* ok = box->findChild<QLabel*>(QStringLiteral("OKLabel"));
    if (ok && box->isVisible())
        QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, ok->mapTo(box, ok->rect().center()));
    const bool closed = !box->isVisible();
    if (!closed)
        box->close();
    return closed;
}

class TstAboutBox : public QObject {
    Q_OBJECT

private slots:
    void designed() {
        TAboutBox box;
        QCOMPARE(box.objectName(), QStringLiteral("AboutBox"));
        QCOMPARE(box.windowTitle(), QStringLiteral("About"));
        QCOMPARE(box.pos(), QPoint((800 - 437) / 2, (800 - 271) / 2)); // centred on the 800 x 800 screen
        QStringList texts;
        for (QLabel* label : box.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Ledgerwick Builder 2.5")));
        QVERIFY(texts.contains(QStringLiteral("Report Writer for MS Excel 7.0,8.0, 2000")));
        // Nothing on the box takes the keyboard focus.
        for (QWidget* w : box.findChildren<QWidget*>())
            QVERIFY2(w->focusPolicy() == Qt::NoFocus, qPrintable(w->objectName()));

        // The picture, centred in its region: one column in from the left, one line cut off at the top.
        const QImage stored =
            QImage(QStringLiteral(":/about/about.png")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(stored.size(), QSize(278, 174));
        box.show();
        const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.pixel(1 + 10, 59 + 10), stored.pixel(10, 11));
        QCOMPARE(shown.pixel(1 + 200, 59 + 100), stored.pixel(200, 101));
    }

    void lifeCycle_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("helpOpened");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return) << 0;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << 0;
        QTest::newRow("F1 opens the help") << int(Qt::Key_F1) << 1;
    }
    // The start-up cycle: created and stored, shown modally; no key closes it, only a click on the
    // text "OK" (it lands on the close area). An activation of the main window while the box is
    // still open leaves it alone; the next one destroys it.
    void lifeCycle() {
        QFETCH(int, key);
        test::HelpCatcher catcher;
        QPointer<TAboutBox> box = createAboutBox();
        QCOMPARE(AboutBox, box);
        bool openAfterKey = false, aliveWhileOpen = false, closedByClick = false;
        answerNextModal([&](QWidget* w) {
            QTest::keyClick(w->windowHandle(), Qt::Key(key));
            openAfterKey = w->isVisible();
            destroyAboutBox();
            aliveWhileOpen = box && AboutBox == box;
            closedByClick = clickOkText(w);
        });
        QCOMPARE(box->exec(), 2);
        QVERIFY(openAfterKey && aliveWhileOpen && closedByClick);
        QTEST(int(catcher.urls.size()), "helpOpened");
        QVERIFY(box); // closed, not yet destroyed
        destroyAboutBox();
        QVERIFY(!box && !AboutBox);
    }

    void activationWithoutBox() {
        QVERIFY(!AboutBox);
        destroyAboutBox();
        destroyAboutBox();
        QVERIFY(!AboutBox);
    }
};

QTEST_MAIN(TstAboutBox)
#include "tst_aboutbox.moc"
