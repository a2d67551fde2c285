// Tests of the report editor window: New, the handlers, the key filters and the close
// handling, hosted by the fake frame.
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

namespace {

// Clicks a radio button or check box where the user does: on its indicator.
void clickButton(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// The user's pick from the alias list.
void pickAlias(TForm1* w, const QString& alias) {
    w->ComboBox1->setCurrentIndex(w->ComboBox1->findText(alias));
    emit w->ComboBox1->textActivated(alias);
}

} // namespace

class TestMdi1 : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeFrame> m_frame;
    QTemporaryDir m_dir;

    // A window loaded from an empty definition file: state 0, directory mode.
    TForm1* loadedWindow() {
        static int n = 0;
        const QString path = m_dir.filePath(QStringLiteral("loaded%1.pr").arg(++n));
        return writeFile(path, QByteArray()) ? loadDocument(*m_frame, path) : nullptr;
    }

private slots:
    void initTestCase() { setEngine(std::make_unique<FakeEngine>()); }
    void init() { m_frame = std::make_unique<FakeFrame>(); }
    void cleanup() { m_frame.reset(); }

    void newFillsWindow() {
        m_frame->aliases = {QStringLiteral("A"), QStringLiteral("B")};
        TForm1* w = newDocument(*m_frame);
        QVERIFY(m_frame->reportCommandsEnabled);
        QCOMPARE(FakeFrame::subWindowOf(w)->windowTitle(), QStringLiteral("No Name 1"));
        QVERIFY(FakeFrame::subWindowOf(w)->isMaximized());
        QCOMPARE(w->Edit1->text() + "|" + w->definitionPath(), QStringLiteral("No Name 1|No Name 1"));
        QCOMPARE(w->modificationState(), 3);
        for (const QString& cleared :
             {w->Edit2->text(), w->Label2->text(), w->Label3->text(), w->Edit5->text(),
              w->ComboBox1->currentText(), w->ComboBox2->currentText()})
            QCOMPARE(cleared, QString());
        QCOMPARE(w->Edit3->text() + "-" + w->Edit4->text(), QStringLiteral("1-10"));
        QVERIFY(!w->CheckBox1->isEnabled() && !w->Label13->isEnabled() && !w->Edit5->isEnabled());
        QCOMPARE(w->ComboBox1->count(), 2);
        QCOMPARE(newDocument(*m_frame)->definitionPath(), QStringLiteral("No Name 2"));
    }

    // Which edits raise the modification state, to which code, and that only state 0 is raised.
    void stateRules_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("after");
        auto row = [](const char* name, int before, const char* action, int after) {
            QTest::newRow(name) << before << QString(action) << after;
        };
        row("name typed", 0, "name", 5);
        row("several", 0, "several", 5);
        row("alias mode", 0, "aliasmode", 5);
        row("record typed", 0, "record", 6);
        row("query switch", 0, "query", 6);
        row("alias picked alone", 0, "pick", 0);
        row("same texts from the program", 0, "same", 0);
        row("new stays new", 3, "name", 3);
        row("first edit's code stays", 6, "name", 6);
    }
    void stateRules() {
        QFETCH(int, before);
        QFETCH(QString, action);
        QFETCH(int, after);
        TForm1* w = loadedWindow();
        QVERIFY(w);
        if (action == QLatin1String("pick"))
            clickButton(w->RB6);
        w->setModificationState(before);
        if (action == QLatin1String("name"))
            QTest::keyClicks(w->Edit1, "x");
        else if (action == QLatin1String("several"))
            clickButton(w->RB4);
        else if (action == QLatin1String("aliasmode"))
            clickButton(w->RB6);
        else if (action == QLatin1String("record"))
            QTest::keyClicks(w->Edit3, "5");
        else if (action == QLatin1String("query"))
            clickButton(w->CheckBox1);
        else if (action == QLatin1String("pick"))
            pickAlias(w, "DEMO");
        else if (action == QLatin1String("same")) {
            w->Edit1->setText(w->Edit1->text());
            w->RB5->setChecked(true);
            w->ComboBox2->setEditText("T.DB");
        }
        QCOMPARE(w->modificationState(), after);
    }

    void columnarChoosesSingleSheet() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        clickButton(w->RB4);
        clickButton(w->RB2);
        QVERIFY(w->RB3->isChecked() && !w->RB4->isEnabled());
        clickButton(w->RB1);
        QVERIFY(w->RB3->isChecked() && w->RB4->isEnabled());
    }

    void recordEditsTakeDigitsOnly() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        w->Edit4->clear();
        QTest::keyClicks(w->Edit4, "12a4");
        QCOMPARE(w->Edit4->text(), QStringLiteral("124"));
        QTest::keyClicks(w->Edit4, "- 57");
        QCOMPARE(w->Edit4->text(), QStringLiteral("1245"));
        QTest::keyClick(w->Edit4, Qt::Key_Backspace);
        QCOMPARE(w->Edit4->text(), QStringLiteral("124"));
        // Pasting cannot bring in what typing could not.
        w->Edit4->clear();
        QGuiApplication::clipboard()->setText("9x");
        w->Edit4->paste();
        QCOMPARE(w->Edit4->text(), QString());
    }

    void aliasBoxTakesPicksOnly() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        clickButton(w->RB6);
        w->ComboBox2->setEditText("TYPED");
        QTest::keyClicks(w->ComboBox1, "DEMO");
        QCOMPARE(w->ComboBox1->currentText(), QString());
        QCOMPARE(w->ComboBox2->count(), 0);
        // Nor can a shown alias be deleted or pasted over.
        w->ComboBox1->setEditText("SHOWN");
        w->ComboBox1->lineEdit()->selectAll();
        QTest::keyClick(w->ComboBox1, Qt::Key_Delete);
        QTest::keyClick(w->ComboBox1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("SHOWN"));

        // A pick lists the alias's tables and keeps the table text; a failing listing empties it all.
        pickAlias(w, "DEMO");
        QCOMPARE(w->ComboBox2->count(), 3);
        QCOMPARE(w->ComboBox2->itemText(1), QStringLiteral("CLIENTS.DBF"));
        QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("TYPED"));
        pickAlias(w, "BROKEN");
        QCOMPARE(w->ComboBox2->count(), 0);
        QCOMPARE(w->ComboBox2->currentText(), QString());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void tableWarningOncePerWindow() {
        TForm1* first = loadedWindow();
        QVERIFY(first);
        DialogRecord warning;
        answerNextMessageDialog(Answer::Ok, &warning);
        QTest::keyClick(first->Edit2, Qt::Key_Backspace);
        QCOMPARE(warning.title, QStringLiteral(" ATTENTION  "));
        QCOMPARE(warning.text, QStringLiteral(" File should be created "));
        QTest::keyClicks(first->Edit2, "AB"); // no second question: it would hang here
        QCOMPARE(first->Edit2->text(), QStringLiteral("AB"));

        TForm1* second = loadedWindow();
        QVERIFY(second);
        DialogRecord again;
        answerNextMessageDialog(Answer::Ok, &again);
        QTest::keyClicks(second->Edit2, "Q");
        QVERIFY(again.seen);
        QCOMPARE(second->Edit2->text(), QStringLiteral("Q"));
    }

    void queryLabelFollowsTable() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        const int width = w->Edit5->width();
        answerNextMessageDialog(Answer::Ok);
        QTest::keyClicks(w->Edit2, "ORDERS.DB");
        QCOMPARE(w->Label13->text(), QStringLiteral("Select * from ORDERS.DB"));
        QCOMPARE(w->Label13->width(), w->Label13->sizeHint().width());
        QVERIFY(w->CheckBox1->isEnabled() && w->Label13->isEnabled() && !w->Edit5->isEnabled());
        QCOMPARE(w->Edit5->x(), w->Label13->x() + w->Label13->width() + 5);
        QCOMPARE(w->Edit5->width(), width);
        // A resize of the bottom panel ends the edit 90 pixels short of the panel's edge.
        FakeFrame::subWindowOf(w)->showNormal();
        FakeFrame::subWindowOf(w)->resize(700, 400);
        QTRY_COMPARE(w->Edit5->width(), w->Panel6->width() - w->Edit5->x() - 90);
    }

    // Back in directory mode, an empty directory label is filled from the alias.
    void directoryLabelFromAlias_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("alias") << "DEMO" << QString() << "/data/demo/";
        QTest::newRow("unknown alias") << "BROKEN" << QString() << "//";
        QTest::newRow("label kept") << "DEMO" << QStringLiteral("/kept/") << "/kept/";
    }
    void directoryLabelFromAlias() {
        QFETCH(QString, alias);
        QFETCH(QString, label);
        QFETCH(QString, expected);
        TForm1* w = loadedWindow();
        QVERIFY(w);
        w->setDirectoryLabel(label);
        clickButton(w->RB6);
        QVERIFY(w->ComboBox1->isVisible() && !w->Label2->isVisible() && !w->Button2->isVisible());
        w->ComboBox1->setEditText(alias);
        clickButton(w->RB5);
        QVERIFY(!w->ComboBox2->isVisible() && w->Label2->isVisible() && w->Edit2->isVisible());
        QCOMPARE(w->Label2->text(), expected);
    }

    void browse() {
        QTemporaryDir data;
        QVERIFY(writeFile(data.filePath("ORDERS.DB"), "x"));
        TForm1* w = loadedWindow();
        QVERIFY(w);
        m_frame->lastDirectory = QStringLiteral("/last/");
        w->setDirectoryLabel(data.path());
        answerNextFileDialog(data.filePath("ORDERS.DB"));
        QTest::mouseClick(w->Button2, Qt::LeftButton);
        QCOMPARE(m_frame->openDialog()->nameFilters(), (QStringList{"*.DB", "*.DBF"}));
        QCOMPARE(w->Edit2->text(), QStringLiteral("ORDERS.DB"));
        QCOMPARE(w->Label2->text(), data.path() + QLatin1Char('/'));
        QCOMPARE(w->Label13->text(), QStringLiteral("Select * from ORDERS.DB"));
        QCOMPARE(m_frame->lastDirectory, QStringLiteral("/last/"));
        QVERIFY(!w->tableWarningShown());

        // Cancelled: nothing changes. With an empty label the dialog starts in the last directory.
        m_frame->lastDirectory = data.path() + QLatin1Char('/');
        w->setDirectoryLabel(QString());
        w->setModificationState(0);
        answerNextFileDialog(QString());
        QTest::mouseClick(w->Button2, Qt::LeftButton);
        QCOMPARE(m_frame->openDialog()->directory().absolutePath(), data.path());
        QCOMPARE(w->Edit2->text() + "|" + w->Label2->text(), QStringLiteral("ORDERS.DB|"));
        QCOMPARE(w->modificationState(), 0);
    }

    void closeQuestion() {
        // A fresh window asks with its name although nothing was typed; NO closes it unsaved.
        TForm1* fresh = newDocument(*m_frame);
        DialogRecord question;
        answerNextMessageDialog(Answer::No, &question);
        QVERIFY(fresh->closeWindow());
        QCOMPARE(question.title, QStringLiteral(" Do you want to save the report? "));
        QCOMPARE(question.text, QStringLiteral("<< No Name 1 >>"));
        // An unedited loaded window closes silently (a question would hang here).
        TForm1* loaded = loadedWindow();
        QVERIFY(loaded && loaded->closeWindow());
        QTRY_VERIFY(m_frame->editorWindows().isEmpty());
    }

    // Every way of closing runs the close handling once, through the sub-window, which goes too;
    // the report commands go off with the last window only.
    void closeRoutesAndReportCommands() {
        QList<QPointer<QMdiSubWindow>> subs;
        QList<TForm1*> windows;
        for (int i = 0; i < 4; ++i) {
            windows << newDocument(*m_frame);
            subs << FakeFrame::subWindowOf(windows.last());
        }
        int asked = 0;
        for (int route = 0; route < 4; ++route) {
            answerNextModal([&asked](QWidget* dlg) {
                ++asked;
                if (auto* no = dlg->findChild<QAbstractButton*>("CancelBtn"))
                    no->click();
            });
            if (route == 0)
                subs[0]->close();
            else if (route == 1)
                windows[1]->FlatButton1Click();
            else if (route == 2)
                windows[2]->close();
            else
                closeDocument(*m_frame);
            QTRY_VERIFY(subs[route].isNull());
            QCOMPARE(asked, route + 1);
            QCOMPARE(m_frame->reportCommandsEnabled, route < 3);
        }
    }
};

QTEST_MAIN(TestMdi1)
#include "tst_mdi1.moc"
