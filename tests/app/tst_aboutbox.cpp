// Tests of the about box: its design, keys that must not close it, the click on "OK", help,
// and the create / show / destroy cycle that start-up, About and the main window's activation use.
#include "app/aboutbox.h"
#include "platform/help.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QtTest>

using namespace lw;
using lw::test::answerNextModal;

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    int opened = 0;
public slots:
    void openUrl(const QUrl&) { ++opened; }
};

// Clicks the middle of the "OK" text through the window system, as the user's mouse would, and
// tells whether that closed the box; a box the click did not close is closed so no test hangs.
static bool clickOkText(QWidget* box) {
    auto* ok = box->findChild<QLabel*>(QStringLiteral("OKLabel"));
    if (ok && box->isVisible()) {
        const QPoint at = ok->mapTo(box, ok->rect().center());
        QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {}, at);
    }
    const bool closed = !box->isVisible();
    if (!closed)
        box->close();
    return closed;
}

class TstAboutBox : public QObject {
    Q_OBJECT
private slots:
    void designed();
    void picture();
    void keysDoNotClose_data();
    void keysDoNotClose();
    void helpKey();
    void startUpBox();
    void aboutTwice();
    void activationWithoutBox();
    void openBoxIsNotDestroyed();
};

void TstAboutBox::designed() {
    TAboutBox box;
    QCOMPARE(box.objectName(), QStringLiteral("AboutBox"));
    QCOMPARE(box.windowTitle(), QStringLiteral("About"));
    QCOMPARE(box.size(), QSize(437, 271));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    QCOMPARE(box.pos(), QPoint((800 - 437) / 2, (800 - 271) / 2)); // the offscreen screen is 800 x 800
    QVERIFY(!(box.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(box.palette().color(QPalette::Window), QColor(192, 192, 192));
    QCOMPARE(box.property("helpContext").toInt(), 1000);

    QCOMPARE(box.AboutImage->objectName(), QStringLiteral("AboutImage"));
    QCOMPARE(box.AboutImage->geometry(), QRect(0, 59, 280, 171));
    QCOMPARE(box.SpeedButton1->objectName(), QStringLiteral("SpeedButton1"));
    QCOMPARE(box.SpeedButton1->geometry(), QRect(2, 69, 151, 77));
    QCOMPARE(box.SpeedButton1->text(), QString());
    QVERIFY(box.SpeedButton1->icon().isNull());

    const QStringList texts{QStringLiteral("Ledgerwick Builder 2.5"),
                            QStringLiteral("Report Writer for MS Excel 7.0,8.0, 2000"), QStringLiteral("OK")};
    for (const QString& text : texts) {
        bool found = false;
        for (QLabel* label : box.findChildren<QLabel*>())
            found = found || label->text() == text;
        QVERIFY2(found, qPrintable(text));
    }
    // Nothing on the box takes the keyboard focus.
    for (QWidget* w : box.findChildren<QWidget*>())
        QVERIFY2(w->focusPolicy() == Qt::NoFocus, qPrintable(w->objectName()));
}

void TstAboutBox::picture() {
    TAboutBox box;
    const QImage image = box.AboutImage->pixmap().toImage();
    const QImage stored(QStringLiteral(":/about/about.png"));
    QCOMPARE(stored.size(), QSize(278, 174));
    QCOMPARE(stored.format(), QImage::Format_Indexed8);
    QVERIFY(stored.colorCount() <= 256);
    QCOMPARE(image.size(), QSize(278, 174));

    // Centred in its region: one column in from the left, one line cut off at the top.
    box.show();
    const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage source = stored.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.pixel(1 + 10, 59 + 10), source.pixel(10, 11));
    QCOMPARE(shown.pixel(1 + 200, 59 + 100), source.pixel(200, 101));
}

void TstAboutBox::keysDoNotClose_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Esc") << int(Qt::Key_Escape);
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    QTest::newRow("space") << int(Qt::Key_Space);
}

void TstAboutBox::keysDoNotClose() {
    QFETCH(int, key);
    TAboutBox* box = createAboutBox();
    bool openAfterKey = false, closedByClick = false;
    answerNextModal([&](QWidget* w) {
        QTest::keyClick(w->windowHandle(), Qt::Key(key));
        openAfterKey = w->isVisible();
        closedByClick = clickOkText(w);
    });
    const int result = box->exec();
    QVERIFY(openAfterKey);
    QVERIFY(closedByClick); // a click on the text "OK" lands on the close area
    QCOMPARE(result, 2);
    destroyAboutBox();
    QVERIFY(!AboutBox);
}

void TstAboutBox::helpKey() {
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    setHelpFile(QStringLiteral("Ledgwk.hlp"));
    QVERIFY(lw::test::writeFile(dir.filePath(QStringLiteral("Ledgwk.hlp")), "help"));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "openUrl");

    TAboutBox* box = createAboutBox();
    bool openAfterHelp = false;
    answerNextModal([&](QWidget* w) {
        QTest::keyClick(w->windowHandle(), Qt::Key_F1);
        openAfterHelp = w->isVisible();
        clickOkText(w);
    });
    box->exec();
    QCOMPARE(catcher.opened, 1);
    QVERIFY(openAfterHelp);
    destroyAboutBox();

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(oldDir);
}

// Start-up: created, stored, shown modally, then destroyed by the main window's first activation.
void TstAboutBox::startUpBox() {
    TAboutBox* box = createAboutBox();
    QCOMPARE(AboutBox.data(), box);
    QPointer<TAboutBox> watch = box;
    lw::test::DialogRecord rec;
    bool closedByClick = false;
    answerNextModal([&](QWidget* w) { closedByClick = clickOkText(w); }, &rec);
    box->exec();
    QCOMPARE(rec.objectName, QStringLiteral("AboutBox"));
    QCOMPARE(rec.title, QStringLiteral("About"));
    QVERIFY(closedByClick);
    QVERIFY(watch); // closed, not yet destroyed
    destroyAboutBox();
    QVERIFY(!watch);
    QVERIFY(!AboutBox);
}

void TstAboutBox::aboutTwice() {
    QList<QPointer<TAboutBox>> shown;
    for (int i = 0; i < 2; ++i) {
        QPointer<QWidget> seen;
        answerNextModal([&seen](QWidget* w) {
            seen = w;
            clickOkText(w);
        });
        showNewAboutBox();
        QVERIFY(seen);
        QCOMPARE(seen.data(), static_cast<QWidget*>(AboutBox.data()));
        QVERIFY(AboutBox->SpeedButton1->isEnabled());
        shown << AboutBox;
        destroyAboutBox(); // the main window becomes active again
        QVERIFY(!AboutBox);
        QVERIFY(!shown.last());
    }

    // About twice with no activation between: the second is a new box; the first is left
    // to the application and only the last one is destroyed.
    answerNextModal(clickOkText);
    showNewAboutBox();
    QPointer<TAboutBox> first = AboutBox;
    answerNextModal(clickOkText);
    showNewAboutBox();
    QPointer<TAboutBox> second = AboutBox;
    QVERIFY(first && second && first != second);
    destroyAboutBox();
    QVERIFY(!second);
    QVERIFY(first);
    delete first.data();
}

void TstAboutBox::activationWithoutBox() {
    QVERIFY(!AboutBox);
    destroyAboutBox();
    destroyAboutBox();
    QVERIFY(!AboutBox);
}

// A box still on screen is not pulled away from under its own modal loop.
void TstAboutBox::openBoxIsNotDestroyed() {
    TAboutBox* box = createAboutBox();
    QPointer<TAboutBox> watch = box;
    bool aliveWhileOpen = false;
    answerNextModal([&](QWidget* w) {
        destroyAboutBox();
        aliveWhileOpen = watch && AboutBox == watch;
        clickOkText(w);
    });
    box->exec();
    QVERIFY(aliveWhileOpen);
    destroyAboutBox();
    QVERIFY(!watch);
}

QTEST_MAIN(TstAboutBox)
#include "tst_aboutbox.moc"
