// Tests of the about box: its design, keys that must not close it, the click on "OK", help,
// and the create / show / destroy cycle that start-up, About and the main window's activation use.
#include "app/aboutbox.h"
#include "support/testsupport.h"

#include <QAbstractButton>
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
        QCOMPARE(box.minimumSize(), box.maximumSize());
        QCOMPARE(box.pos(), QPoint((800 - 437) / 2, (800 - 271) / 2)); // the offscreen screen is 800 x 800
        QVERIFY(!(box.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                       Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
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

    void keysDoNotClose_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }
    // The start-up cycle: created and stored, shown modally, closed only by a click on "OK", then
    // destroyed by the main window's activation.
    void keysDoNotClose() {
        QFETCH(int, key);
        TAboutBox* box = createAboutBox();
        QCOMPARE(AboutBox.data(), box);
        QPointer<TAboutBox> watch = box;
        bool openAfterKey = false, closedByClick = false;
        answerNextModal([&](QWidget* w) {
            QTest::keyClick(w->windowHandle(), Qt::Key(key));
            openAfterKey = w->isVisible();
            closedByClick = clickOkText(w);
        });
        QCOMPARE(box->exec(), 2);
        QVERIFY(openAfterKey);
        QVERIFY(closedByClick); // a click on the text "OK" lands on the close area
        QVERIFY(watch);         // closed, not yet destroyed
        destroyAboutBox();
        QVERIFY(!watch);
        QVERIFY(!AboutBox);
    }

    void helpKey() {
        test::HelpCatcher catcher;
        TAboutBox* box = createAboutBox();
        bool openAfterHelp = false;
        answerNextModal([&](QWidget* w) {
            QTest::keyClick(w->windowHandle(), Qt::Key_F1);
            openAfterHelp = w->isVisible();
            clickOkText(w);
        });
        box->exec();
        QCOMPARE(catcher.urls.size(), 1);
        QVERIFY(openAfterHelp);
        destroyAboutBox();
    }

    void activationWithoutBox() {
        QVERIFY(!AboutBox);
        destroyAboutBox();
        destroyAboutBox();
        QVERIFY(!AboutBox);
    }

    // A box still on screen is not pulled away from under its own modal loop.
    void openBoxIsNotDestroyed() {
        QPointer<TAboutBox> watch = createAboutBox();
        bool aliveWhileOpen = false;
        answerNextModal([&](QWidget* w) {
            destroyAboutBox();
            aliveWhileOpen = watch && AboutBox == watch;
            clickOkText(w);
        });
        watch->exec();
        QVERIFY(aliveWhileOpen);
        destroyAboutBox();
        QVERIFY(!watch);
    }
};

QTEST_MAIN(TstAboutBox)
#include "tst_aboutbox.moc"
