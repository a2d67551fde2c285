// Tests of the message catalogue, the message dialog's layout arithmetic and the dialog itself:
// results by button and key, the applied layout, help, and a fresh instance for every call.
#include "support/testsupport.h"
#include "ui/dialoglayout.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QDir>
#include <QLabel>
#include <QtTest>

using namespace lw;
using lw::test::answerNextModal;

namespace {

// What the dialog looked like while it was shown.
struct Shown {
    bool seen = false;
    QString text;
    int outerWidth = 0, clientWidth = 0, frameExtra = 0;
    QPoint pos;
    bool cancelShown = false, helpShown = false, okFocusedAndDefault = false;
    int count = 0, helpTag = -1, okLeft = 0, cancelLeft = 0, helpLeft = 0;
    QList<int> helpContexts; // of the dialog, OK, NO and HELP
    QFontMetrics metrics{QFont()};
};

Shown capture(TFormDlg* d) {
    Shown s;
    s.seen = true;
    s.text = d->Label1->text();
    s.outerWidth = d->frameGeometry().width();
    s.clientWidth = d->width();
    s.frameExtra = d->frameExtraWidth();
    s.pos = d->pos();
    s.cancelShown = !d->CancelBtn->isHidden();
    s.helpShown = !d->HelpBtn->isHidden();
    s.okFocusedAndDefault = d->focusWidget() == d->OKBtn && d->OKBtn->isDefault();
    s.count = formDlgRequest.buttons;
    s.helpTag = d->HelpBtn->tag();
    s.okLeft = d->OKBtn->x();
    s.cancelLeft = d->CancelBtn->x();
    s.helpLeft = d->HelpBtn->x();
    s.helpContexts = {d->helpContext(), d->OKBtn->helpContext(), d->CancelBtn->helpContext(),
                      d->HelpBtn->helpContext()};
    s.metrics = QFontMetrics(d->Label1->font());
    return s;
}

// Shows a message and answers it with OK, after running during on the dialog; records into *shown
// what the dialog looked like before during ran. Returns MyFormDialog's result.
int showMessage(Shown* shown, const QString& caption, const QString& message, int buttons, int help,
                const std::function<void(TFormDlg*)>& during = {}) {
    answerNextModal([=](QWidget* w) {
        auto* d = qobject_cast<TFormDlg*>(w);
        if (!d) {
            w->close();
            return;
        }
        *shown = capture(d);
        if (during)
            during(d);
        if (d->isVisible())
            d->OKBtn->click();
    });
    return MyFormDialog(caption, message, buttons, help);
}

} // namespace

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
    void shownLayout_data();
    void shownLayout();
    void widening_data();
    void widening();
    void help();
    void freshInstanceEveryCall();
    void nestedCallKeepsTheOpenDialog();
};

void TstMyDialog::catalogue_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("1") << 1 << " File was not found ";
    QTest::newRow("4") << 4 << " Do you want to save the report? ";
    QTest::newRow("5, two blanks at the end") << 5 << " ATTENTION  ";
    QTest::newRow("8, none at the end") << 8 << " Database does not defined";
    QTest::newRow("25") << 25 << " Close MS Excel";
    QTest::newRow("0") << 0 << QString();
    QTest::newRow("26") << 26 << QString();
    QTest::newRow("negative") << -1 << QString();
}

void TstMyDialog::catalogue() {
    QFETCH(int, number);
    QTEST(messageText(number), "text");
}

void TstMyDialog::layoutArithmetic_data() {
    QTest::addColumn<QList<int>>("input"); // buttons, help context, caption width, message width, outer width
    // count, NO shown, HELP shown, HELP tag, outer width, gap, OK left, NO left, HELP left
    QTest::addColumn<QList<int>>("expected");
    using L = QList<int>;
    // The four rows of the positions table at the designed width 310.
    QTest::newRow("1 button, help 0") << L{1, 0, 50, 60, 310} << L{1, 0, 0, 1, 310, 120, 120, 310, 325};
    QTest::newRow("2 buttons, help 0") << L{2, 0, 50, 60, 310} << L{2, 1, 0, 2, 310, 56, 56, 182, 338};
    QTest::newRow("1 button, help") << L{1, 7, 50, 60, 310} << L{2, 0, 1, 1, 310, 56, 56, 182, 197};
    QTest::newRow("2 buttons, help") << L{2, 7, 50, 60, 310} << L{3, 1, 1, 2, 310, 25, 25, 120, 245};
    QTest::newRow("negative help context") << L{2, -3, 50, 60, 310} << L{3, 1, 1, 2, 310, 25, 25, 120, 245};
    // Widening: by the caption (+40), by the message (+16), never below the width before.
    QTest::newRow("caption widens") << L{2, 0, 400, 100, 310} << L{2, 1, 0, 2, 440, 100, 100, 270, 470};
    QTest::newRow("message widens") << L{1, 0, 100, 500, 310} << L{1, 0, 0, 1, 516, 223, 223, 516, 531};
    QTest::newRow("message one past the limit")
        << L{1, 0, 0, 295, 310} << L{1, 0, 0, 1, 311, 120, 120, 310, 325};
    QTest::newRow("framed window keeps its width")
        << L{1, 0, 200, 250, 316} << L{1, 0, 0, 1, 316, 123, 123, 316, 331};
    QTest::newRow("gap truncates") << L{2, 0, 0, 296, 310} << L{2, 1, 0, 2, 312, 57, 57, 184, 341};
}

void TstMyDialog::layoutArithmetic() {
    QFETCH(QList<int>, input);
    MessageLayoutInput in;
    in.buttons = input[0];
    in.helpContext = input[1];
    in.captionWidth = input[2];
    in.messageWidth = input[3];
    in.outerWidth = input[4];
    const MessageLayout o = layOutMessageDialog(in);
    QTEST((QList<int>{o.count, o.cancelShown, o.helpShown, o.helpTag, o.outerWidth, o.gap, o.okLeft,
                      o.cancelLeft, o.helpLeft}),
          "expected");
}

// The window's frame and a handful of its controls as designed.
void TstMyDialog::designed() {
    TFormDlg dlg;
    QCOMPARE(dlg.objectName(), QStringLiteral("FormDlg"));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize()); // not resizable
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags & Qt::WindowStaysOnTopHint);
    QVERIFY(!(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));
    QCOMPARE(dlg.Label1->textFormat(), Qt::PlainText);
    for (TMsgButton* b : {dlg.OKBtn, dlg.CancelBtn, dlg.HelpBtn}) {
        QVERIFY(!b->icon().isNull());
        QCOMPARE(b->glyphRect().left(), 2);
    }
    QCOMPARE((QStringList{dlg.OKBtn->text(), dlg.CancelBtn->text(), dlg.HelpBtn->text()}),
             (QStringList{"OK", "NO", "HELP"}));
    QCOMPARE(dlg.OKBtn->nextInFocusChain(), dlg.CancelBtn);
    QCOMPARE(dlg.CancelBtn->nextInFocusChain(), dlg.HelpBtn);
}

enum class How { OkButton, NoButton, Close, Enter, Esc, EnterOnNo };
Q_DECLARE_METATYPE(How)

void TstMyDialog::results_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<How>("how");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("stillOpen"); // then OK closes it
    QTest::newRow("OK of two") << 2 << How::OkButton << 1 << false;
    QTest::newRow("NO of two") << 2 << How::NoButton << 2 << false;
    QTest::newRow("closed, two") << 2 << How::Close << 2 << false;
    QTest::newRow("Esc, two") << 2 << How::Esc << 2 << false;
    QTest::newRow("Enter with NO focused") << 2 << How::EnterOnNo << 2 << false;
    QTest::newRow("Enter, one") << 1 << How::Enter << 1 << false;
    QTest::newRow("closed, one") << 1 << How::Close << 2 << false;
    QTest::newRow("Esc, one: nothing") << 1 << How::Esc << 1 << true;
}

void TstMyDialog::results() {
    QFETCH(int, buttons);
    QFETCH(How, how);
    bool stillOpen = false;
    Shown shown;
    const int result =
        showMessage(&shown, messageText(5), QStringLiteral("message"), buttons, 0, [&](TFormDlg* d) {
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
            case How::EnterOnNo:
                d->CancelBtn->setFocus();
                [[fallthrough]];
            case How::Enter:
                QTest::keyClick(d->windowHandle(), Qt::Key_Return);
                break;
            case How::Esc:
                QTest::keyClick(d->windowHandle(), Qt::Key_Escape);
                break;
            }
            stillOpen = d->isVisible();
        });
    QVERIFY(shown.seen);
    QTEST(stillOpen, "stillOpen");
    QTEST(result, "result");
}

void TstMyDialog::shownLayout_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("help");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("cancelShown");
    QTest::addColumn<int>("helpTag");
    QTest::newRow("1 button, help 0") << 1 << 0 << 1 << false << 1;
    QTest::newRow("0 buttons") << 0 << 0 << 1 << false << 1;
    QTest::newRow("2 buttons, help 0") << 2 << 0 << 2 << true << 2;
    QTest::newRow("5 buttons") << 5 << 0 << 2 << true << 2;
    QTest::newRow("1 button, help") << 1 << 12 << 2 << false << 1;
    QTest::newRow("2 buttons, help") << 2 << 12 << 3 << true << 2;
}

// The dialog applies the table to its own outer width, whatever frame the platform gives it.
void TstMyDialog::shownLayout() {
    QFETCH(int, buttons);
    QFETCH(int, help);
    QFETCH(int, count);
    QFETCH(int, helpTag);
    Shown s;
    QCOMPARE(showMessage(&s, QStringLiteral(" x "), QStringLiteral(" y "), buttons, help), 1);
    QVERIFY(s.seen);
    QCOMPARE(s.count, count);
    QTEST(s.cancelShown, "cancelShown");
    QCOMPARE(s.helpShown, help != 0);
    QCOMPARE(s.helpTag, helpTag);
    QCOMPARE(s.outerWidth, 310 + s.frameExtra); // short texts keep the designed width
    const int gap = (s.outerWidth - 70 * count) / (count + 1);
    QCOMPARE((QList<int>{s.okLeft, s.cancelLeft, s.helpLeft}),
             (QList<int>{gap, 70 + 2 * gap, helpTag * 85 + (helpTag + 1) * gap}));
    QCOMPARE(s.pos, QPoint(280, 201));
    QVERIFY(s.okFocusedAndDefault);
    // The help context goes to the dialog, OK and HELP, never to NO.
    QCOMPARE(s.helpContexts, (QList<int>{help, help, 0, help}));
}

void TstMyDialog::widening_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("byCaption");
    QTest::newRow("caption") << QStringLiteral(" %1 ").arg(QString(60, QLatin1Char('W'))) << "short" << true;
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
    QCOMPARE(showMessage(&s, caption, message, 2, 0), 1);
    QVERIFY(s.seen);
    const int captionWanted = s.metrics.horizontalAdvance(caption) + 40;
    const int messageWanted = s.metrics.horizontalAdvance(message) + 16;
    const int wanted = byCaption ? captionWanted : messageWanted;
    QVERIFY(wanted > 310 + s.frameExtra);
    QVERIFY(byCaption == (captionWanted > messageWanted));
    QCOMPARE(s.outerWidth, wanted);
    QCOMPARE(s.clientWidth, wanted - s.frameExtra);
    QCOMPARE(s.text, message); // shown as it stands, markup included
    QCOMPARE(s.okLeft, (wanted - 140) / 3);
    QCOMPARE(s.cancelLeft, 70 + 2 * ((wanted - 140) / 3));
}

// HELP and the help key open the help file and leave the dialog open; with help context 0 there
// is no HELP and the help key asks for nothing.
void TstMyDialog::help() {
    test::HelpCatcher catcher;
    bool openAfterHelp = false, openAfterF1 = false;
    qsizetype afterButton = -1;
    Shown s;
    QCOMPARE(showMessage(&s, messageText(6), messageText(7), 2, 44,
                         [&](TFormDlg* d) {
                             d->HelpBtn->click();
                             afterButton = catcher.urls.size();
                             openAfterHelp = d->isVisible();
                             QTest::keyClick(d->windowHandle(), Qt::Key_F1);
                             openAfterF1 = d->isVisible();
                         }),
             1);
    QCOMPARE(afterButton, 1);
    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls.first().toLocalFile(), catcher.helpPath());
    QVERIFY(openAfterHelp && openAfterF1);

    catcher.urls.clear();
    QCOMPARE(showMessage(&s, messageText(6), messageText(7), 2, 0,
                         [](TFormDlg* d) { QTest::keyClick(d->windowHandle(), Qt::Key_F1); }),
             1);
    QVERIFY(!s.helpShown);
    QVERIFY(catcher.urls.isEmpty());
}

void TstMyDialog::freshInstanceEveryCall() {
    createFormDlg();
    QPointer<TFormDlg> first = FormDlg;
    QVERIFY(first);
    createFormDlg(); // a second start-up call keeps the same instance
    QCOMPARE(FormDlg.data(), first.data());

    Shown one, two;
    bool servedByFirst = false;
    showMessage(&one, messageText(5), messageText(9), 0, 0, [&](TFormDlg* d) { servedByFirst = d == first; });
    QVERIFY(servedByFirst); // the start-up instance served the first message
    QVERIFY(!FormDlg);
    QVERIFY(!first); // destroyed after use
    QVERIFY(!one.cancelShown);

    // The next call starts again from the design: NO shown, HELP at tag 2.
    showMessage(&two, messageText(4), QStringLiteral("<< R >>"), 2, 3);
    QVERIFY(two.cancelShown && two.helpShown);
    QCOMPARE(two.helpTag, 2);
    QVERIFY(!FormDlg);
}

// Something delivered while a message is open (a timer, a message from another program) may
// ask for a second one: it gets its own dialog and the open one carries on unharmed.
void TstMyDialog::nestedCallKeepsTheOpenDialog() {
    int innerResult = 0, helpAfterInner = 0;
    bool outerStillOpen = false;
    test::DialogRecord inner;
    Shown s;
    QCOMPARE(showMessage(&s, messageText(5), messageText(3), 1, 9,
                         [&](TFormDlg* d) {
                             test::answerNextMessageDialog(test::Answer::No, &inner);
                             innerResult = MyFormDialog(messageText(6), messageText(8), 2, 0);
                             outerStillOpen = d->isVisible() && FormDlg.data() == d;
                             helpAfterInner = formDlgRequest.helpContext;
                         }),
             1);
    QCOMPARE(innerResult, 2);
    QCOMPARE(inner.title, messageText(6));
    QVERIFY(outerStillOpen);
    QCOMPARE(helpAfterInner, 9);
    QVERIFY(!FormDlg);
}

QTEST_MAIN(TstMyDialog)
#include "tst_mydialog.moc"
