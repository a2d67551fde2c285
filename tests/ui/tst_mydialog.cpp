// Tests of the message catalogue, the message dialog's layout arithmetic and the dialog itself:
// results by button and key, the applied layout, help, and a fresh instance for every call.
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
    QPoint pos;
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
        const QFontMetrics metrics(d->Label1->font());
        const int designedOuter = 310 + d->frameExtraWidth();
        const MessageLayoutInput in{
            buttons, help,         metrics.horizontalAdvance(caption), metrics.horizontalAdvance(message),
            8,       designedOuter};
        *shown = {true,
                  d->focusWidget() == d->OKBtn && d->OKBtn->isDefault(),
                  d->Label1->text(),
                  d->pos(),
                  {formDlgRequest.buttons, !d->CancelBtn->isHidden(), !d->HelpBtn->isHidden(),
                   d->HelpBtn->tag(), d->frameGeometry().width(), d->OKBtn->x(), d->CancelBtn->x(),
                   d->HelpBtn->x()},
                  layoutList(layOutMessageDialog(in)),
                  {d->helpContext(), d->OKBtn->helpContext(), d->CancelBtn->helpContext(),
                   d->HelpBtn->helpContext()},
                  designedOuter};
        if (during)
            during(d);
        if (d->isVisible())
            d->OKBtn->click();
    });
    return MyFormDialog(caption, message, buttons, help);
}

enum class How { OkButton, NoButton, HelpButton, Close, Esc, Enter, EnterOnNo, F1 };

} // namespace

Q_DECLARE_METATYPE(How)

class TstMyDialog : public QObject {
    Q_OBJECT
private slots:
    void catalogue_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("1") << 1 << " File was not found ";
        QTest::newRow("5, two blanks at the end") << 5 << " ATTENTION  ";
        QTest::newRow("8, none at the end") << 8 << " Database does not defined";
        QTest::newRow("0") << 0 << QString();
        QTest::newRow("26") << 26 << QString();
    }
    void catalogue() {
        QFETCH(int, number);
        QTEST(messageText(number), "text");
    }

    void layoutArithmetic_data() {
        QTest::addColumn<QList<int>>("input"); // buttons, help context, caption, message, outer width
        // count, NO shown, HELP shown, HELP tag, outer width, OK left, NO left, HELP left
        QTest::addColumn<QList<int>>("expected");
        using L = QList<int>;
        // The four rows of the positions table at the designed width 310.
        QTest::newRow("1 button, help 0") << L{1, 0, 50, 60, 310} << L{1, 0, 0, 1, 310, 120, 310, 325};
        QTest::newRow("2 buttons, help 0") << L{2, 0, 50, 60, 310} << L{2, 1, 0, 2, 310, 56, 182, 338};
        QTest::newRow("1 button, help") << L{1, 7, 50, 60, 310} << L{2, 0, 1, 1, 310, 56, 182, 197};
        QTest::newRow("2 buttons, help") << L{2, 7, 50, 60, 310} << L{3, 1, 1, 2, 310, 25, 120, 245};
        QTest::newRow("0 buttons") << L{0, 0, 50, 60, 310} << L{1, 0, 0, 1, 310, 120, 310, 325};
        QTest::newRow("5 buttons") << L{5, 0, 50, 60, 310} << L{2, 1, 0, 2, 310, 56, 182, 338};
        // Widening: by the caption (+40), by the message (+16), never below the width before.
        QTest::newRow("caption widens") << L{2, 0, 400, 100, 310} << L{2, 1, 0, 2, 440, 100, 270, 470};
        QTest::newRow("message widens") << L{1, 0, 100, 500, 310} << L{1, 0, 0, 1, 516, 223, 516, 531};
        QTest::newRow("message one past the limit")
            << L{1, 0, 0, 295, 310} << L{1, 0, 0, 1, 311, 120, 310, 325};
        QTest::newRow("framed window keeps its width")
            << L{1, 0, 200, 250, 316} << L{1, 0, 0, 1, 316, 123, 316, 331};
        QTest::newRow("gap truncates") << L{2, 0, 0, 296, 310} << L{2, 1, 0, 2, 312, 57, 184, 341};
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
        QTest::newRow("OK of two") << 2 << 0 << How::OkButton << 1 << false << 0;
        QTest::newRow("NO of two") << 2 << 0 << How::NoButton << 2 << false << 0;
        QTest::newRow("closed, two") << 2 << 0 << How::Close << 2 << false << 0;
        QTest::newRow("Esc, two") << 2 << 0 << How::Esc << 2 << false << 0;
        QTest::newRow("Enter with NO focused") << 2 << 0 << How::EnterOnNo << 2 << false << 0;
        QTest::newRow("Enter, one") << 1 << 0 << How::Enter << 1 << false << 0;
        QTest::newRow("closed, one") << 1 << 0 << How::Close << 2 << false << 0;
        QTest::newRow("Esc, one: nothing") << 1 << 0 << How::Esc << 1 << true << 0;
        QTest::newRow("HELP opens the help file") << 2 << 44 << How::HelpButton << 1 << true << 1;
        QTest::newRow("the help key too") << 2 << 44 << How::F1 << 1 << true << 1;
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
            if (how == How::OkButton || how == How::NoButton || how == How::HelpButton)
                (how == How::OkButton ? d->OKBtn : how == How::NoButton ? d->CancelBtn : d->HelpBtn)->click();
            else if (how == How::Close)
                d->close();
            else if (how == How::EnterOnNo)
                d->CancelBtn->setFocus();
            const QMap<How, Qt::Key> keys{{How::Esc, Qt::Key_Escape},
                                          {How::Enter, Qt::Key_Return},
                                          {How::EnterOnNo, Qt::Key_Return},
                                          {How::F1, Qt::Key_F1}};
            if (keys.contains(how))
                QTest::keyClick(d->windowHandle(), keys[how]);
            stillOpen = d->isVisible();
        });
        QVERIFY(shown.seen);
        QTEST(stillOpen, "stillOpen");
        QTEST(result, "result");
        QTEST(int(catcher.urls.size()), "helpOpened");
        QVERIFY(catcher.urls.isEmpty() || catcher.urls.first().toLocalFile() == catcher.helpPath());
    }

    void appliedLayout_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("help");
        QTest::addColumn<bool>("widens");
        auto row = [](const char* name, const QString& caption, const QString& message, int buttons, int help,
                      bool widens) {
            QTest::newRow(name) << caption << message << buttons << help << widens;
        };
        row("0 buttons", " x ", " y ", 0, 0, false);
        row("5 buttons", " x ", " y ", 5, 0, false);
        row("1 button, help", " x ", " y ", 1, 12, false);
        row("2 buttons, help", " x ", " y ", 2, 12, false);
        row("caption widens", " " + QString(60, 'W') + " ", "short", 2, 0, true);
        const QString markup = "/tmp/<b>" + QString(50, 'x') + "</b>.pr";
        row("message widens, markup shown as it stands", messageText(1), markup, 2, 0, true);
    }
    // The dialog lays itself out by the rule, on its own outer width and its measured texts; it
    // stands where designed with OK focused and default; the help context goes to the dialog, OK
    // and HELP, never to NO.
    void appliedLayout() {
        QFETCH(QString, caption);
        QFETCH(QString, message);
        QFETCH(int, buttons);
        QFETCH(int, help);
        Shown s;
        QCOMPARE(showMessage(&s, caption, message, buttons, help), 1);
        QVERIFY(s.seen);
        QCOMPARE(s.applied, s.expected);
        QTEST(s.applied[4] > s.designedOuter, "widens");
        QCOMPARE(s.text, message);
        QCOMPARE(s.pos, QPoint(280, 201));
        QVERIFY(s.okFocusedAndDefault);
        QCOMPARE(s.helpContexts, (QList<int>{help, help, 0, help}));
    }

    // The start-up instance serves the first message and is destroyed after it; the next call
    // starts again from the design.
    void freshInstanceEveryCall() {
        createFormDlg();
        QPointer<TFormDlg> first = FormDlg;
        createFormDlg(); // a second start-up call keeps the same instance
        QVERIFY(first && FormDlg == first);
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
