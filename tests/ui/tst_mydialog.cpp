// Tests of the message catalogue, the message dialog's layout arithmetic and the dialog itself:
// results by button and key, the applied layout, help, and a fresh instance for every call.
#include "support/testsupport.h"
#include "ui/dialoglayout.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include "platform/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QtTest>

using namespace lw;
using lw::test::answerNextMessageDialog;
using lw::test::answerNextModal;
using lw::test::DialogRecord;

// Records every URL the desktop would have opened, instead of opening it.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void openUrl(const QUrl& url) { urls << url; }
};

// What the dialog looked like while it was shown.
struct Shown {
    bool seen = false;
    TFormDlg* dialog = nullptr;
    QString title;
    QString text;
    int outerWidth = 0;
    int clientWidth = 0;
    int frameExtra = 0;
    QPoint pos;
    bool cancelShown = false;
    bool helpShown = false;
    int helpTag = -1;
    int okLeft = 0, cancelLeft = 0, helpLeft = 0;
    int okHelp = 0, cancelHelp = 0, helpHelp = 0, dialogHelp = 0;
    bool okFocused = false;
    bool okDefault = false;
    int pendingCount = 0;
};

static Shown capture(QWidget* w) {
    Shown s;
    auto* d = qobject_cast<TFormDlg*>(w);
    if (!d)
        return s;
    s.seen = true;
    s.dialog = d;
    s.title = d->windowTitle();
    s.text = d->Label1->text();
    s.outerWidth = d->frameGeometry().width();
    s.clientWidth = d->width();
    s.frameExtra = d->frameExtraWidth();
    s.pos = d->pos();
    s.cancelShown = !d->CancelBtn->isHidden();
    s.helpShown = !d->HelpBtn->isHidden();
    s.helpTag = d->HelpBtn->tag();
    s.okLeft = d->OKBtn->x();
    s.cancelLeft = d->CancelBtn->x();
    s.helpLeft = d->HelpBtn->x();
    s.okHelp = d->OKBtn->helpContext();
    s.cancelHelp = d->CancelBtn->helpContext();
    s.helpHelp = d->HelpBtn->helpContext();
    s.dialogHelp = d->helpContext();
    s.okFocused = d->focusWidget() == d->OKBtn;
    s.okDefault = d->OKBtn->isDefault();
    s.pendingCount = formDlgRequest.buttons;
    return s;
}

static void clickOk(QWidget* w) {
    if (auto* d = qobject_cast<TFormDlg*>(w))
        d->OKBtn->click();
    else
        w->close();
}

class TstMyDialog : public QObject {
    Q_OBJECT
private slots:
    void catalogue_data();
    void catalogue();
    void layoutArithmetic_data();
    void layoutArithmetic();
    void designed();
    void results_data();
    void results();
    void escWithOkAloneDoesNothing();
    void shownLayout_data();
    void shownLayout();
    void widening_data();
    void widening();
    void recordsCaptionAndText();
    void help();
    void freshInstanceEveryCall();
    void nestedCallKeepsTheOpenDialog();
};

void TstMyDialog::catalogue_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("length");
    const QList<QPair<QString, int>> table{
        {" File was not found ", 20},
        {" File already open ", 19},
        {" Save the report ", 17},
        {" Do you want to save the report? ", 33},
        {" ATTENTION  ", 12},
        {" ERROR ", 7},
        {" Enter the database path ", 25},
        {" Database does not defined", 26},
        {" File should be created ", 24},
        {" Report error", 13},
        {" A Critical error of call (001) ", 32},
        {" MS Excel File was not found", 28},
        {" No OLE - connection to a MS Excel Sheet ", 41},
        {" A Critical error (002) ", 24},
        {" Reading cells", 14},
        {" No entries in the file ", 24},
        {" No data ", 9},
        {" EXCEL does not answer ", 23},
        {" Continue expectation? ", 23},
        {" VORTAL1.EXE is already started ", 32},
        {" DataBase path ", 15},
        {" Alias", 6},
        {" Excel cannot be lunched", 24},
        {" Scan form again!", 17},
        {" Close MS Excel", 15},
    };
    for (int i = 0; i < table.size(); ++i)
        QTest::addRow("%d", i + 1) << i + 1 << table[i].first << table[i].second;
    QTest::newRow("zero") << 0 << QString() << 0;
    QTest::newRow("26") << 26 << QString() << 0;
    QTest::newRow("negative") << -1 << QString() << 0;
}

void TstMyDialog::catalogue() {
    QFETCH(int, number);
    QFETCH(QString, text);
    QFETCH(int, length);
    const QString got = messageText(number);
    QCOMPARE(got, text);
    QCOMPARE(got.size(), length); // the blanks count
}

void TstMyDialog::layoutArithmetic_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("help");
    QTest::addColumn<int>("captionWidth");
    QTest::addColumn<int>("messageWidth");
    QTest::addColumn<int>("outerWidth");
    // expected
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("cancelShown");
    QTest::addColumn<bool>("helpShown");
    QTest::addColumn<int>("helpTag");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("gap");
    QTest::addColumn<int>("okLeft");
    QTest::addColumn<int>("cancelLeft");
    QTest::addColumn<int>("helpLeft");

    // The four rows of the positions table at the designed width 310.
    QTest::newRow("1 button, help 0") << 1 << 0 << 50 << 60 << 310 //
                                      << 1 << false << false << 1 << 310 << 120 << 120 << 310 << 325;
    QTest::newRow("2 buttons, help 0") << 2 << 0 << 50 << 60 << 310 //
                                       << 2 << true << false << 2 << 310 << 56 << 56 << 182 << 338;
    QTest::newRow("1 button, help") << 1 << 7 << 50 << 60 << 310 //
                                    << 2 << false << true << 1 << 310 << 56 << 56 << 182 << 197;
    QTest::newRow("2 buttons, help") << 2 << 7 << 50 << 60 << 310 //
                                     << 3 << true << true << 2 << 310 << 25 << 25 << 120 << 245;
    // Button counts below 1, and a negative help context.
    QTest::newRow("negative buttons") << -4 << 0 << 50 << 60 << 310 //
                                      << 1 << false << false << 1 << 310 << 120 << 120 << 310 << 325;
    QTest::newRow("negative help context") << 2 << -3 << 50 << 60 << 310 //
                                           << 3 << true << true << 2 << 310 << 25 << 25 << 120 << 245;
    // Widening: by the caption (+40), by the message (+16), never below the width before.
    QTest::newRow("caption widens") << 2 << 0 << 400 << 100 << 310 //
                                    << 2 << true << false << 2 << 440 << 100 << 100 << 270 << 470;
    QTest::newRow("message widens") << 1 << 0 << 100 << 500 << 310 //
                                    << 1 << false << false << 1 << 516 << 223 << 223 << 516 << 531;
    QTest::newRow("message one past the limit")
        << 1 << 0 << 0 << 295 << 310 //
        << 1 << false << false << 1 << 311 << 120 << 120 << 310 << 325;
    QTest::newRow("framed window keeps its width")
        << 1 << 0 << 200 << 250 << 316 //
        << 1 << false << false << 1 << 316 << 123 << 123 << 316 << 331;
    QTest::newRow("gap truncates") << 2 << 0 << 0 << 296 << 310 //
                                   << 2 << true << false << 2 << 312 << 57 << 57 << 184 << 341;
}

void TstMyDialog::layoutArithmetic() {
    MessageLayoutInput in;
    QFETCH(int, buttons);
    QFETCH(int, help);
    QFETCH(int, captionWidth);
    QFETCH(int, messageWidth);
    QFETCH(int, outerWidth);
    in.buttons = buttons;
    in.helpContext = help;
    in.captionWidth = captionWidth;
    in.messageWidth = messageWidth;
    in.outerWidth = outerWidth;
    const MessageLayout out = layOutMessageDialog(in);
    QTEST(out.count, "count");
    QTEST(out.cancelShown, "cancelShown");
    QTEST(out.helpShown, "helpShown");
    QTEST(out.helpTag, "helpTag");
    QTEST(out.outerWidth, "width");
    QTEST(out.gap, "gap");
    QTEST(out.okLeft, "okLeft");
    QTEST(out.cancelLeft, "cancelLeft");
    QTEST(out.helpLeft, "helpLeft");
}

void TstMyDialog::designed() {
    TFormDlg dlg;
    QCOMPARE(dlg.objectName(), QStringLiteral("FormDlg"));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(dlg.size(), QSize(310, 74));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // not resizable
    QCOMPARE(dlg.pos(), QPoint(280, 201));
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(flags & Qt::CustomizeWindowHint);
    QVERIFY(!(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));

    QCOMPARE(dlg.Label1->objectName(), QStringLiteral("Label1"));
    QCOMPARE(dlg.Label1->pos(), QPoint(8, 17));
    QVERIFY(dlg.Label1->font().bold());
    QCOMPARE(dlg.Label1->font().pixelSize(), 11);
    QCOMPARE(dlg.Label1->textFormat(), Qt::PlainText);

    struct Btn {
        TMsgButton* button;
        const char* name;
        QRect geometry;
        int tag;
        const char* caption;
        bool bold;
    };
    const Btn buttons[] = {
        {dlg.OKBtn, "OKBtn", QRect(76, 44, 70, 25), 0, "OK", false},
        {dlg.CancelBtn, "CancelBtn", QRect(151, 44, 70, 25), 1, "NO", false},
        {dlg.HelpBtn, "HelpBtn", QRect(233, 50, 85, 27), 2, "HELP", true},
    };
    for (const Btn& b : buttons) {
        QCOMPARE(b.button->objectName(), QString::fromLatin1(b.name));
        QCOMPARE(b.button->geometry(), b.geometry);
        QCOMPARE(b.button->tag(), b.tag);
        QCOMPARE(b.button->text(), QString::fromLatin1(b.caption));
        QCOMPARE(b.button->font().bold(), b.bold);
        QVERIFY(!b.button->icon().isNull());
        QCOMPARE(b.button->glyphRect().left(), 2);
    }
    QVERIFY(dlg.OKBtn->isDefault());
    QCOMPARE(dlg.OKBtn->nextInFocusChain(), dlg.CancelBtn);
    QCOMPARE(dlg.CancelBtn->nextInFocusChain(), dlg.HelpBtn);
}

enum class How { OkButton, NoButton, Close, Enter, Esc, EnterOnNo };
Q_DECLARE_METATYPE(How)

void TstMyDialog::results_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<How>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("OK of two") << 2 << How::OkButton << 1;
    QTest::newRow("NO of two") << 2 << How::NoButton << 2;
    QTest::newRow("closed, two") << 2 << How::Close << 2;
    QTest::newRow("Enter, two") << 2 << How::Enter << 1;
    QTest::newRow("Esc, two") << 2 << How::Esc << 2;
    QTest::newRow("Enter with NO focused") << 2 << How::EnterOnNo << 2;
    QTest::newRow("OK alone") << 1 << How::OkButton << 1;
    QTest::newRow("closed, one") << 1 << How::Close << 2;
    QTest::newRow("Enter, one") << 1 << How::Enter << 1;
}

void TstMyDialog::results() {
    QFETCH(int, buttons);
    QFETCH(How, how);
    bool stillOpen = false;
    answerNextModal([how, &stillOpen](QWidget* w) {
        auto* d = qobject_cast<TFormDlg*>(w);
        if (!d) {
            w->close();
            return;
        }
        switch (how) {
        case How::OkButton:
            d->OKBtn->click();
            break;
        case How::NoButton:
            d->CancelBtn->click();
            break;
        case How::Close:
            d->close();
            break;
        case How::Enter:
            QTest::keyClick(d->windowHandle(), Qt::Key_Return);
            break;
        case How::Esc:
            QTest::keyClick(d->windowHandle(), Qt::Key_Escape);
            break;
        case How::EnterOnNo:
            d->CancelBtn->setFocus();
            QTest::keyClick(d->windowHandle(), Qt::Key_Return);
            break;
        }
        // A key that did not close the dialog must not leave the test waiting.
        stillOpen = d->isVisible();
        if (stillOpen)
            d->done(99);
    });
    const int result = MyFormDialog(messageText(5), QStringLiteral("message"), buttons, 0);
    QVERIFY(!stillOpen);
    QTEST(result, "result");
}

void TstMyDialog::escWithOkAloneDoesNothing() {
    bool openAfterEsc = false;
    answerNextModal([&openAfterEsc](QWidget* w) {
        QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
        openAfterEsc = w->isVisible();
        clickOk(w);
    });
    QCOMPARE(MyFormDialog(messageText(5), messageText(9), 1, 0), 1);
    QVERIFY(openAfterEsc);
}

void TstMyDialog::shownLayout_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("help");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("cancelShown");
    QTest::addColumn<bool>("helpShown");
    QTest::addColumn<int>("helpTag");
    QTest::newRow("1 button, help 0") << 1 << 0 << 1 << false << false << 1;
    QTest::newRow("0 buttons") << 0 << 0 << 1 << false << false << 1;
    QTest::newRow("2 buttons, help 0") << 2 << 0 << 2 << true << false << 2;
    QTest::newRow("5 buttons") << 5 << 0 << 2 << true << false << 2;
    QTest::newRow("1 button, help") << 1 << 12 << 2 << false << true << 1;
    QTest::newRow("2 buttons, help") << 2 << 12 << 3 << true << true << 2;
}

// The dialog applies the table to its own outer width, whatever frame the platform gives it.
void TstMyDialog::shownLayout() {
    QFETCH(int, buttons);
    QFETCH(int, help);
    QFETCH(int, count);
    QFETCH(int, helpTag);
    Shown s;
    answerNextModal([&s](QWidget* w) {
        s = capture(w);
        clickOk(w);
    });
    QCOMPARE(MyFormDialog(QStringLiteral(" x "), QStringLiteral(" y "), buttons, help), 1);
    QVERIFY(s.seen);
    QCOMPARE(s.pendingCount, count);
    QTEST(s.cancelShown, "cancelShown");
    QTEST(s.helpShown, "helpShown");
    QCOMPARE(s.helpTag, helpTag);
    QCOMPARE(s.outerWidth, 310 + s.frameExtra); // short texts keep the designed width
    const int gap = (s.outerWidth - 70 * count) / (count + 1);
    QCOMPARE(s.okLeft, gap);
    QCOMPARE(s.cancelLeft, 70 + 2 * gap);
    QCOMPARE(s.helpLeft, helpTag * 85 + (helpTag + 1) * gap);
    QCOMPARE(s.pos, QPoint(280, 201));
    QVERIFY(s.okDefault);
    QVERIFY(s.okFocused);
    // The help context goes to the dialog, OK and HELP, never to NO.
    QCOMPARE(s.dialogHelp, help);
    QCOMPARE(s.okHelp, help);
    QCOMPARE(s.helpHelp, help);
    QCOMPARE(s.cancelHelp, 0);
}

void TstMyDialog::widening_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("byCaption");
    QTest::newRow("caption") << QStringLiteral(" %1 ").arg(QString(60, QLatin1Char('W')))
                             << QStringLiteral("short") << true;
    QTest::newRow("message") << messageText(4)
                             << QStringLiteral("/home/user/reports/%1.pr").arg(QString(60, QLatin1Char('m')))
                             << false;
    QTest::newRow("message with markup")
        << messageText(1) << QStringLiteral("/tmp/<b>%1</b>.pr").arg(QString(50, QLatin1Char('x'))) << false;
}

void TstMyDialog::widening() {
    QFETCH(QString, caption);
    QFETCH(QString, message);
    QFETCH(bool, byCaption);
    Shown s;
    int captionWidth = 0, messageWidth = 0;
    answerNextModal([&](QWidget* w) {
        s = capture(w);
        if (s.dialog) {
            const QFontMetrics metrics(s.dialog->Label1->font());
            captionWidth = metrics.horizontalAdvance(caption);
            messageWidth = metrics.horizontalAdvance(message);
        }
        clickOk(w);
    });
    QCOMPARE(MyFormDialog(caption, message, 2, 0), 1);
    QVERIFY(s.seen);
    const int wanted = byCaption ? captionWidth + 40 : messageWidth + 16;
    QVERIFY(wanted > 310 + s.frameExtra);
    QVERIFY(byCaption ? captionWidth + 40 > messageWidth + 16 : messageWidth + 16 > captionWidth + 40);
    QCOMPARE(s.outerWidth, wanted);
    QCOMPARE(s.clientWidth, wanted - s.frameExtra);
    QCOMPARE(s.text, message); // shown as it stands, markup included
    QCOMPARE(s.okLeft, (wanted - 140) / 3);
    QCOMPARE(s.cancelLeft, 70 + 2 * ((wanted - 140) / 3));
}

// The shared helper answers the dialog and sees what it showed, blanks included.
void TstMyDialog::recordsCaptionAndText() {
    DialogRecord rec;
    answerNextMessageDialog(lw::test::Answer::No, &rec);
    QCOMPARE(MyFormDialog(messageText(4), QStringLiteral("<< Sales >>"), 2, 0), 2);
    QVERIFY(rec.seen);
    QCOMPARE(rec.className, QStringLiteral("lw::TFormDlg"));
    QCOMPARE(rec.objectName, QStringLiteral("FormDlg"));
    QCOMPARE(rec.title, QStringLiteral(" Do you want to save the report? "));
    QCOMPARE(rec.text, QStringLiteral("<< Sales >>"));

    DialogRecord empty;
    answerNextMessageDialog(lw::test::Answer::Ok, &empty);
    QCOMPARE(MyFormDialog(messageText(6), QString(), 1, 0), 1);
    QCOMPARE(empty.title, messageText(6));
    QCOMPARE(empty.text, QString());
}

void TstMyDialog::help() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    setHelpFile(QStringLiteral("Ledgwk.hlp"));
    QVERIFY(lw::test::writeFile(dir.filePath(QStringLiteral("Ledgwk.hlp")), "help"));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "openUrl");

    // HELP and the help key open the help file and leave the dialog open.
    bool openAfterHelp = false, openAfterF1 = false;
    int afterButton = -1;
    answerNextModal([&](QWidget* w) {
        auto* d = qobject_cast<TFormDlg*>(w);
        if (!d) {
            w->close();
            return;
        }
        d->HelpBtn->click();
        afterButton = catcher.urls.size();
        openAfterHelp = d->isVisible();
        QTest::keyClick(d->windowHandle(), Qt::Key_F1);
        openAfterF1 = d->isVisible();
        d->OKBtn->click();
    });
    QCOMPARE(MyFormDialog(messageText(6), messageText(7), 2, 44), 1);
    QCOMPARE(afterButton, 1);
    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls.first().toLocalFile(),
             QDir(dir.path()).absoluteFilePath(QStringLiteral("Ledgwk.hlp")));
    QVERIFY(openAfterHelp);
    QVERIFY(openAfterF1);

    // Help context 0: no HELP, and the help key asks for nothing.
    catcher.urls.clear();
    Shown s;
    answerNextModal([&](QWidget* w) {
        s = capture(w);
        QTest::keyClick(w->windowHandle(), Qt::Key_F1);
        clickOk(w);
    });
    QCOMPARE(MyFormDialog(messageText(6), messageText(7), 2, 0), 1);
    QVERIFY(!s.helpShown);
    QVERIFY(catcher.urls.isEmpty());

    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDir::setCurrent(oldDir);
}

void TstMyDialog::freshInstanceEveryCall() {
    createFormDlg();
    QPointer<TFormDlg> first = FormDlg;
    QVERIFY(first);
    createFormDlg(); // a second start-up call keeps the same instance
    QCOMPARE(FormDlg.data(), first.data());

    Shown one;
    bool servedByFirst = false;
    answerNextModal([&](QWidget* w) {
        one = capture(w);
        servedByFirst = first && w == first.data();
        clickOk(w);
    });
    MyFormDialog(messageText(5), messageText(9), 0, 0);
    QVERIFY(servedByFirst); // the start-up instance served the first message
    QVERIFY(!FormDlg);
    QVERIFY(!first); // destroyed after use
    QVERIFY(!one.cancelShown);

    // The next call starts again from the design: NO shown, HELP at tag 2.
    Shown two;
    answerNextModal([&](QWidget* w) {
        two = capture(w);
        clickOk(w);
    });
    MyFormDialog(messageText(4), QStringLiteral("<< R >>"), 2, 3);
    QVERIFY(two.seen);
    QVERIFY(two.cancelShown);
    QVERIFY(two.helpShown);
    QCOMPARE(two.helpTag, 2);
    QVERIFY(!FormDlg);
}

// Something delivered while a message is open (a timer, a message from another program) may
// ask for a second one: it gets its own dialog and the open one carries on unharmed.
void TstMyDialog::nestedCallKeepsTheOpenDialog() {
    int innerResult = 0;
    bool outerStillOpen = false;
    int helpAfterInner = 0;
    QString innerTitle;
    answerNextModal([&](QWidget* w) {
        DialogRecord inner;
        answerNextMessageDialog(lw::test::Answer::No, &inner);
        innerResult = MyFormDialog(messageText(6), messageText(8), 2, 0);
        innerTitle = inner.title;
        outerStillOpen = w->isVisible() && FormDlg.data() == w;
        helpAfterInner = formDlgRequest.helpContext;
        clickOk(w);
    });
    QCOMPARE(MyFormDialog(messageText(5), messageText(3), 1, 9), 1);
    QCOMPARE(innerResult, 2);
    QCOMPARE(innerTitle, messageText(6));
    QVERIFY(outerStillOpen);
    QCOMPARE(helpAfterInner, 9);
    QVERIFY(!FormDlg);
}

QTEST_MAIN(TstMyDialog)
#include "tst_mydialog.moc"
