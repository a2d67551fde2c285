// Tests of the report editor window: New, the handlers, the key filters and the close
// handling, hosted by the fake frame.
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "ui/flatbtn.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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

    // Which edits raise the modification state, to which code, and that only state 0 is raised.
    void stateRules() {
        auto stateAfter = [this](int before, const std::function<void(TForm1*)>& edit) {
            TForm1* w = loadedWindow();
            clickButton(w->RB6);
            w->setModificationState(before);
            edit(w);
            return w->modificationState();
        };
        const auto typeName = [](TForm1* w) { QTest::keyClicks(w->Edit1, "x"); };
        QCOMPARE(stateAfter(0, typeName), 5);
        QCOMPARE(stateAfter(0, [](TForm1* w) { QTest::keyClicks(w->Edit3, "5"); }), 6);
        QCOMPARE(stateAfter(0, [](TForm1* w) { pickAlias(w, "DEMO"); }), 0);
        QCOMPARE(stateAfter(0,
                            [](TForm1* w) {
                                w->Edit1->setText(w->Edit1->text());
                                w->RB6->setChecked(true);
                                w->ComboBox2->setEditText("T.DB");
                            }),
                 0);
        QCOMPARE(stateAfter(3, typeName), 3);
        QCOMPARE(stateAfter(6, typeName), 6);
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
        QTest::keyClicks(w->Edit4, "12a- 4");
        QCOMPARE(w->Edit4->text(), QStringLiteral("124"));
        // Pasting cannot bring in what typing could not.
        w->Edit4->clear();
        QGuiApplication::clipboard()->setText("9x");
        w->Edit4->paste();
        QCOMPARE(w->Edit4->text(), QString());
    }

    // Editing shortcuts are commands, not typed characters: they reach the record edit, and a paste
    // still brings in digits only.
    void recordEditsTakeEditingShortcuts() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        w->Edit4->setText("250");
        QTest::keyClick(w->Edit4, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w->Edit4->selectedText(), QStringLiteral("250"));
        QTest::keyClick(w->Edit4, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(w->Edit4->text() + "|" + QGuiApplication::clipboard()->text(), QStringLiteral("|250"));
        QTest::keyClick(w->Edit4, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->Edit4->text(), QStringLiteral("250"));
        w->Edit4->clear();
        QTest::keyClick(w->Edit4, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->Edit4->text(), QStringLiteral("250"));
        QGuiApplication::clipboard()->setText("y7");
        QTest::keyClick(w->Edit4, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->Edit4->text(), QStringLiteral("250"));
        // Nor is a shortcut the first character typed into the table file edit.
        QTest::keyClick(w->Edit2, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(!w->tableWarningShown());
    }

    // Disabled controls show the style's greyed text: "Several" after "Columnar Report" has no
    // black pixel in its caption, as the enabled "Single" has.
    void disabledTextIsGreyed() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        clickButton(w->RB2);
        QVERIFY(!w->RB4->isEnabled() && w->RB3->isEnabled());
        const auto darkestInCaption = [](QWidget* button) {
            const QImage image = button->grab().toImage();
            int darkest = 255;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 20; x < image.width(); ++x)
                    darkest = std::min(darkest, qGray(image.pixel(x, y)));
            return darkest;
        };
        QVERIFY(darkestInCaption(w->RB3) < 40);
        QVERIFY2(darkestInCaption(w->RB4) > 80, "the disabled caption is drawn black");
    }

    void rowsKeepTheirPlaces_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("tiled, smaller than designed") << QSize(300, 120);
        QTest::newRow("designed") << QSize(513, 281);
        QTest::newRow("larger") << QSize(800, 400);
    }
    // Whatever the window's size, the rows keep their designed heights and places, full width but
    // never narrower than designed, the last one taking the rest: a small window cuts them off at
    // its edges instead of drawing them over each other or the close button over the name.
    void rowsKeepTheirPlaces() {
        QFETCH(QSize, size);
        TForm1 w(*m_frame);
        w.resize(size);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int width = std::max(size.width(), 513);
        const QList<CaptionPanel*> rows = {w.Panel1, w.Panel2, w.Panel3, w.Panel4,
                                           w.Panel7, w.Panel5, w.Panel6};
        const QList<int> tops = {0, 33, 63, 93, 123, 183, 215};
        for (int i = 0; i < rows.size(); ++i) {
            const int height = i < 6 ? tops[i + 1] - tops[i] : std::max(size.height(), 281) - 215;
            QCOMPARE(rows[i]->geometry(), QRect(0, tops[i], width, height));
        }
        const QRect close(w.FlatButton1->mapTo(&w, QPoint(0, 0)), w.FlatButton1->size());
        // The close button's panel stands inside the row's one-pixel bevel, at its right end.
        QCOMPARE(close.topLeft(), QPoint(width - 1 - 76 + 19, 1 + 3));
        QVERIFY(!close.intersects(w.Edit1->geometry()));
        QCOMPARE(w.Label9->mapTo(&w, QPoint(0, 0)), QPoint(3, 190));
    }

    // A definition opened in alias mode gets its table list when the list is first opened; the
    // table shown stays and the definition is not counted as changed. A failing listing leaves
    // the table name as it is.
    void tableListFilledWhenOpened() {
        const QString path = m_dir.filePath(QStringLiteral("alias.pr"));
        QVERIFY(writeFile(path, "[REPORT]\nAlias=1\nPath=DEMO\nDB=ORDERS.DB\n"));
        TForm1* w = loadDocument(*m_frame, path);
        QVERIFY(w);
        QCOMPARE(w->ComboBox2->count(), 0);
        w->ComboBox2->showPopup();
        w->ComboBox2->hidePopup();
        QCOMPARE(w->ComboBox2->itemText(1), QStringLiteral("CLIENTS.DBF"));
        QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("ORDERS.DB"));
        QCOMPARE(w->modificationState(), 0);

        QVERIFY(writeFile(path, "[REPORT]\nAlias=1\nPath=BROKEN\nDB=KEPT.DB\n"));
        w->closeWindow();
        TForm1* broken = loadDocument(*m_frame, path);
        QVERIFY(broken);
        broken->ComboBox2->showPopup();
        broken->ComboBox2->hidePopup();
        QCOMPARE(broken->ComboBox2->count(), 0);
        QCOMPARE(broken->ComboBox2->currentText(), QStringLiteral("KEPT.DB"));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aliasBoxTakesPicksOnly() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        clickButton(w->RB6);
        w->ComboBox2->setEditText("TYPED");
        QTest::keyClicks(w->ComboBox1, "DEMO");
        QCOMPARE(w->ComboBox1->currentText(), QString());
        QCOMPARE(w->ComboBox2->count(), 0);

        // A pick lists the alias's tables and keeps the table text; a failing listing empties it all.
        pickAlias(w, "DEMO");
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
        DialogRecord again;
        answerNextMessageDialog(Answer::Ok, &again);
        QTest::keyClicks(loadedWindow()->Edit2, "Q");
        QVERIFY(again.seen);
    }

    // Back in directory mode, an empty directory label is filled from the alias; a set one stays.
    void directoryLabelFromAlias() {
        TForm1* w = loadedWindow();
        QVERIFY(w);
        clickButton(w->RB6);
        w->ComboBox1->setEditText("DEMO");
        clickButton(w->RB5);
        QVERIFY(!w->ComboBox2->isVisible() && w->Label2->isVisible() && w->Edit2->isVisible());
        QCOMPARE(w->Label2->text(), QStringLiteral("/data/demo/"));
        w->setDirectoryLabel("/kept/");
        clickButton(w->RB6);
        clickButton(w->RB5);
        QCOMPARE(w->Label2->text(), QStringLiteral("/kept/"));
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
        QCOMPARE(w->Label2->text() + w->Edit2->text(), data.path() + QStringLiteral("/ORDERS.DB"));
        QCOMPARE(w->Label13->text(), QStringLiteral("Select * from ORDERS.DB"));
        QVERIFY(w->CheckBox1->isEnabled() && !w->Edit5->isEnabled());
        QCOMPARE(m_frame->lastDirectory, QStringLiteral("/last/"));
        QVERIFY(!w->tableWarningShown());
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
        TForm1* windows[4];
        QPointer<QMdiSubWindow> subs[4];
        for (int i = 0; i < 4; ++i)
            subs[i] = FakeFrame::subWindowOf(windows[i] = newDocument(*m_frame));
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
