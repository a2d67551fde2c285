// Tests of the message dialog: its layout arithmetic, results by button and key, the applied
// layout, help, and a fresh instance for every call.
#include "support/testsupport.h"
#include "ui/dialoglayout.h"
#include "ui/messages.h"
#include "ui/mydialog.h"

#include <QLabel>
#include <QtTest>

using namespace lw;

namespace {

// What the dialog looked like while it was shown. The layout as applied and as the layout rule
// gives it for the texts measured in the label's font, each as: button count, NO shown, HELP
// shown, HELP tag, outer width, OK left, NO left, HELP left.
struct Shown {
    bool seen = false, okFocusedAndDefault = false;
    QString text;
    QList<int> applied, expected;
    QList<int> helpContexts; // of the dialog, OK, NO and HELP
    int designedOuter = 0;   // 310 and the frame
};

QList<int> layoutList(const MessageLayout& o) {
    return {o.count, o.cancelShown, o.helpShown, o.helpTag, o.outerWidth, o.okLeft, o.cancelLeft, o.helpLeft};
}

// Shows a message and answers it with OK, after running during on the dialog; records into *shown
// what the dialog looked like before during ran. Returns MyFormDialog's result.
int showMessage(Shown* shown, const QString& caption, const QString& message, int buttons, int help,
                const std::function<void(TFormDlg*)>& during = {}) {
    test::answerNextModal([=](QWidget* w) {
        auto* d = qobject_cast<TFormDlg*>(w);
        if (!d) {
            w->close();
            return;
        }
        // The caption is measured as the title bar shows it, the message in the label's font.
        const QFontMetrics metrics(d->Label1->font());
        const int outer = 310 + d->frameExtraWidth();
        MessageLayoutInput in{buttons,
                              help,
                              QFontMetrics(titleBarFont()).horizontalAdvance(caption),
                              metrics.horizontalAdvance(message),
                              8,
                              outer};
        in.captionRoom = titleBarRoom();
        *shown = {true,
                  d->focusWidget() == d->OKBtn && d->OKBtn->isDefault(),
                  d->Label1->text(),
                  {formDlgRequest.buttons, !d->CancelBtn->isHidden(), !d->HelpBtn->isHidden(),
                   d->HelpBtn->tag(), d->frameGeometry().width(), d->OKBtn->x(), d->CancelBtn->x(),
                   d->HelpBtn->x()},
                  layoutList(layOutMessageDialog(in)),
                  {d->helpContext(), d->OKBtn->helpContext(), d->CancelBtn->helpContext(),
                   d->HelpBtn->helpContext()},
                  outer};
        if (during)
            during(d);
        if (d->isVisible())
            d->OKBtn->click();
    });
    return MyFormDialog(caption, message, buttons, help);
}

enum class How { NoButton, HelpButton, Close, Esc, F1 };

} // namespace

Q_DECLARE_METATYPE(How)

class TstMyDialog : public QObject {
    Q_OBJECT
private slots:
    void layoutArithmetic_data() {
        QTest::addColumn<QList<int>>("input"); // buttons, help context, caption, message, outer width
        // count, NO shown, HELP shown, HELP tag, outer width, OK left, NO left, HELP left
        QTest::addColumn<QList<int>>("expected");
        using L = QList<int>;
        QTest::newRow("0 buttons") << L{0, 0, 50, 60, 310} << L{1, 0, 0, 1, 310, 120, 310, 325};
        // Widening: by the caption (+40), by the message (+16), never below the width before.
        QTest::newRow("caption widens") << L{2, 0, 400, 100, 310} << L{2, 1, 0, 2, 440, 100, 270, 470};
        QTest::newRow("message widens") << L{1, 0, 100, 500, 310} << L{1, 0, 0, 1, 516, 223, 516, 531};
        QTest::newRow("framed window keeps its width")
            << L{1, 0, 200, 250, 316} << L{1, 0, 0, 1, 316, 123, 316, 331};
    }
    void layoutArithmetic() {
        QFETCH(QList<int>, input);
        QTEST(layoutList(layOutMessageDialog({input[0], input[1], input[2], input[3], 8, input[4]})),
              "expected");
    }

    void results_data() {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("help");
        QTest::addColumn<How>("how");
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("stillOpen"); // then OK closes it
        QTest::addColumn<int>("helpOpened");
        QTest::newRow("NO of two") << 2 << 0 << How::NoButton << 2 << false << 0;
        QTest::newRow("closed, one") << 1 << 0 << How::Close << 2 << false << 0;
        QTest::newRow("Esc, one: nothing") << 1 << 0 << How::Esc << 1 << true << 0;
        QTest::newRow("HELP opens the help file") << 2 << 44 << How::HelpButton << 1 << true << 1;
        QTest::newRow("the help key, help context 0") << 2 << 0 << How::F1 << 1 << true << 0;
    }
    void results() {
        QFETCH(int, buttons);
        QFETCH(int, help);
        QFETCH(How, how);
        test::HelpCatcher catcher;
        bool stillOpen = false;
        Shown shown;
        const int result = showMessage(&shown, messageText(5), "message", buttons, help, [&](TFormDlg* d) {
            if (how == How::NoButton || how == How::HelpButton)
                (how == How::NoButton ? d->CancelBtn : d->HelpBtn)->click();
            else if (how == How::Close)
                d->close();
            else if (how == How::Esc || how == How::F1)
                QTest::keyClick(d->windowHandle(), how == How::Esc ? Qt::Key_Escape : Qt::Key_F1);
            stillOpen = d->isVisible();
        });
        QVERIFY(shown.seen);
        QTEST(stillOpen, "stillOpen");
        QTEST(result, "result");
        QTEST(int(catcher.urls.size()), "helpOpened");
        QVERIFY(catcher.urls.isEmpty() || catcher.urls.first().toLocalFile() == catcher.helpPath());
    }

    // The dialog lays itself out by the rule, on its own outer width and its measured texts, here
    // widened by a message with markup that is shown as it stands; OK is focused and default; the
    // help context goes to the dialog, OK and HELP, never to NO.
    void appliedLayout() {
        const QString message = "/tmp/<b>" + QString(50, 'x') + "</b>.pr";
        Shown s;
        QCOMPARE(showMessage(&s, messageText(1), message, 2, 12), 1);
        QVERIFY(s.seen);
        QCOMPARE(s.applied, s.expected);
        QCOMPARE(s.applied.mid(0, 4), (QList<int>{3, 1, 1, 2}));
        QVERIFY(s.applied[4] > s.designedOuter);
        QCOMPARE(s.text, message);
        QVERIFY(s.okFocusedAndDefault);
        QCOMPARE(s.helpContexts, (QList<int>{12, 12, 0, 12}));
    }

    // A caption longer than the message widens the dialog to the caption in the title bar's bold
    // font plus room for the bar's icon and buttons, so that a window manager shows it whole.
    void captionShowsWhole() {
        Shown s;
        const QString caption = messageText(4);
        QCOMPARE(showMessage(&s, caption, "<< R >>", 2, 0), 1);
        QCOMPARE(s.applied, s.expected);
        QFont bold = QApplication::font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance(caption) + 4 * QFontMetrics(bold).height();
        QVERIFY2(s.applied[4] >= needed, qPrintable(QStringLiteral("%1 < %2").arg(s.applied[4]).arg(needed)));
    }

    // An instance made beforehand serves the first message and is destroyed after it; the next
    // call makes its own, starting again from the design.
    void freshInstanceEveryCall() {
        createFormDlg();
        QPointer<TFormDlg> first = FormDlg;
        QVERIFY(first);
        Shown one, two;
        bool servedByFirst = false;
        showMessage(&one, messageText(5), messageText(9), 0, 0,
                    [&](TFormDlg* d) { servedByFirst = d == first; });
        QVERIFY(servedByFirst);
        QVERIFY(!FormDlg && !first);
        showMessage(&two, messageText(4), "<< R >>", 2, 3);
        QCOMPARE(two.applied.mid(0, 4), (QList<int>{3, 1, 1, 2}));
        QVERIFY(!FormDlg);
    }

    // Something delivered while a message is open (a timer, a message from another program) may
    // ask for a second one: it gets its own dialog and the open one carries on unharmed.
    void nestedCallKeepsTheOpenDialog() {
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
};

QTEST_MAIN(TstMyDialog)
#include "tst_mydialog.moc"
