// Tests of the report editor window: its designed controls, New, the handlers, the key filters
// and the close handling, hosted by the fake frame.
#include "report/catalogue.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "ui/flatbtn.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

namespace {

// A catalogue with two directory aliases and one that fails to list its tables.
class FakeEngine : public DataEngine {
public:
    QStringList aliasNames() override { return {QStringLiteral("DEMO"), QStringLiteral("BROKEN")}; }
    QStringList tableNames(const QString& alias) override {
        if (alias.compare(QStringLiteral("DEMO"), Qt::CaseInsensitive) == 0)
            return {QStringLiteral("ORDERS.DB"), QStringLiteral("CLIENTS.DBF"), QStringLiteral("NOTES")};
        throw EngineError("cannot open the database of " + alias.toStdString());
    }
    QStringList aliasParameters(const QString& alias) override {
        if (alias == QLatin1String("demo"))
            return {QStringLiteral("PATH=/data/demo")};
        throw EngineError("no alias " + alias.toStdString());
    }
};

// Clicks a radio button or check box where the user does: on its indicator.
void clickButton(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

} // namespace

class TestMdi1 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void designedGeometry_data();
    void designedGeometry();
    void designedStates();
    void newFillsWindow();
    void stateRules_data();
    void stateRules();
    void programmaticChangesFollowEventRules();
    void columnarChoosesSingleSheet();
    void recordEditsTakeDigitsOnly();
    void aliasBoxRefusesTyping();
    void tableWarningOncePerWindow();
    void queryLabelFollowsTable();
    void directoryLabelFromAlias_data();
    void directoryLabelFromAlias();
    void pickingAliasListsTables();
    void browseSetsTableAndDirectory();
    void browseCancelledChangesNothing();
    void closeAsksOnlyWhenChanged();
    void closeRoutes_data();
    void closeRoutes();
    void reportCommandsAfterClosing();

private:
    std::unique_ptr<FakeFrame> m_frame;
    TForm1* loadedWindow();
    QTemporaryDir m_dir;
};

void TestMdi1::initTestCase() {
    QVERIFY(m_dir.isValid());
    setEngine(std::make_unique<FakeEngine>());
}

void TestMdi1::init() {
    m_frame = std::make_unique<FakeFrame>();
    m_frame->aliases = {QStringLiteral("BROKEN"), QStringLiteral("DEMO")};
}

void TestMdi1::cleanup() {
    m_frame.reset();
}

// A window loaded from an empty definition file: state 0, directory mode.
TForm1* TestMdi1::loadedWindow() {
    static int n = 0;
    const QString path = m_dir.filePath(QStringLiteral("loaded%1.pr").arg(++n));
    if (!writeFile(path, QByteArray()))
        return nullptr;
    return loadDocument(*m_frame, path);
}

void TestMdi1::designedGeometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    auto row = [](const char* name, const char* parent, int x, int y, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << QRect(x, y, w, h);
    };
    row("Label8", "Panel1", 5, 7, 136, 18);
    row("Edit1", "Panel1", 152, 7, 273, 19);
    row("FlatButton1", "Panel8", 19, 3, 57, 24);
    row("Label1", "Panel2", 5, 8, 136, 18);
    row("RB1", "Panel2", 151, 8, 97, 17);
    row("RB2", "Panel2", 264, 8, 137, 17);
    row("Label4", "Panel3", 3, 7, 136, 18);
    row("RB3", "Panel3", 150, 8, 113, 17);
    row("RB4", "Panel3", 264, 8, 129, 17);
    row("Label5", "Panel4", 3, 7, 136, 18);
    row("RB5", "Panel4", 150, 8, 113, 17);
    row("RB6", "Panel4", 264, 8, 177, 17);
    row("Label7", "Panel7", 4, 10, 136, 18);
    row("Label6", "Panel7", 4, 35, 136, 18);
    row("Edit2", "Panel7", 149, 34, 240, 19);
    row("Button2", "Panel7", 393, 34, 24, 19);
    row("Label9", "Panel5", 3, 7, 136, 18);
    row("Label10", "Panel6", 3, 7, 136, 18);
    row("Edit3", "Panel6", 150, 6, 35, 19);
    row("Label12", "Panel6", 194, 7, 15, 18);
    row("Edit4", "Panel6", 215, 6, 35, 19);
    row("Label11", "Panel6", 4, 31, 136, 18);
    row("CheckBox1", "Panel6", 150, 32, 17, 17);
}

void TestMdi1::designedGeometry() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    TForm1 form(*m_frame);
    auto* w = form.findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->geometry(), geometry);
}

void TestMdi1::designedStates() {
    TForm1 form(*m_frame);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Panels top to bottom with their heights; the last one takes the rest.
    const QList<std::pair<QWidget*, int>> panels = {{form.Panel1, 33}, {form.Panel2, 30}, {form.Panel3, 30},
                                                    {form.Panel4, 30}, {form.Panel7, 60}, {form.Panel5, 32}};
    int top = 0;
    for (const auto& [panel, height] : panels) {
        QCOMPARE(panel->y(), top);
        QCOMPARE(panel->height(), height);
        QCOMPARE(panel->width(), form.width());
        top += height;
    }
    QCOMPARE(form.Panel6->y(), top);
    QCOMPARE(form.Panel6->height(), form.height() - top);
    QCOMPARE(form.Panel8->width(), 76);
    QCOMPARE(form.Panel8->geometry().right(), form.Panel1->contentsRect().right());
    QCOMPARE(form.Panel3->caption(), QStringLiteral(" Формировать отчеты на"));
    QCOMPARE(form.Panel4->caption(), QStringLiteral(" Вид пути"));

    // Row captions: grey, white text beginning with a blank.
    for (QLabel* caption : {form.Label1, form.Label4, form.Label5, form.Label6, form.Label7, form.Label8,
                            form.Label9, form.Label10, form.Label11, form.Label12}) {
        QVERIFY2(caption->text().startsWith(QLatin1Char(' ')), qPrintable(caption->objectName()));
        QCOMPARE(caption->palette().color(QPalette::Window), QColor(128, 128, 128));
        QCOMPARE(caption->palette().color(QPalette::WindowText), QColor(Qt::white));
        QVERIFY(caption->autoFillBackground());
    }
    QCOMPARE(form.Label12->text(), QStringLiteral(" to  "));
    QCOMPARE(form.RB6->text(), QStringLiteral("DataBase Name (Alias) "));
    QCOMPARE(form.FlatButton1->caption(), QStringLiteral("Close"));

    // Designed choices, visibility and enabled states; placeholders until the window is filled.
    QVERIFY(form.RB1->isChecked() && form.RB3->isChecked() && form.RB5->isChecked());
    QVERIFY(form.Label2->isVisible() && form.Edit2->isVisible() && form.Button2->isVisible());
    QVERIFY(!form.ComboBox1->isVisible() && !form.ComboBox2->isVisible());
    QVERIFY(!form.CheckBox1->isEnabled() && !form.Label13->isEnabled() && !form.Edit5->isEnabled());
    QCOMPARE(form.Edit1->text(), QStringLiteral("Edit1"));
    QCOMPARE(form.Label13->text(), QStringLiteral("Label13"));
    QCOMPARE(form.ComboBox2->currentText(), QStringLiteral("ComboBox2"));
    QCOMPARE(form.Edit1->maxLength(), 225);
    QCOMPARE(form.Edit3->maxLength(), 4);
    QCOMPARE(form.Edit4->maxLength(), 4);
    QVERIFY(!form.Edit1->hasFrame() && !form.ComboBox1->hasFrame() && form.ComboBox2->hasFrame());

    // Tab order: panels 1 to 6, then the database row.
    const QList<QWidget*> order = {form.Edit1, form.RB1,       form.RB2,   form.RB3,     form.RB4,
                                   form.RB5,   form.RB6,       form.Edit3, form.Edit4,   form.CheckBox1,
                                   form.Edit5, form.ComboBox1, form.Edit2, form.Button2, form.ComboBox2};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget* next = order[i - 1]->nextInFocusChain();
        while (next && next != order[i] && !order.contains(next))
            next = next->nextInFocusChain();
        QVERIFY2(next == order[i], qPrintable(order[i - 1]->objectName() + " -> " + order[i]->objectName()));
    }
    QCOMPARE(form.modificationState(), 0);
}

void TestMdi1::newFillsWindow() {
    TForm1* first = newDocument(*m_frame);
    QVERIFY(m_frame->reportCommandsEnabled);
    QCOMPARE(first->windowTitle(), QStringLiteral("No Name 1"));
    QCOMPARE(FakeFrame::subWindowOf(first)->windowTitle(), QStringLiteral("No Name 1"));
    QVERIFY(FakeFrame::subWindowOf(first)->isMaximized());
    QCOMPARE(first->Edit1->text(), QStringLiteral("No Name 1"));
    QCOMPARE(first->definitionPath(), QStringLiteral("No Name 1"));
    QCOMPARE(first->modificationState(), int(TForm1::StateNew));
    QCOMPARE(first->Edit2->text(), QString());
    QCOMPARE(first->Label2->text(), QString());
    QCOMPARE(first->Label3->text(), QString());
    QCOMPARE(first->ComboBox1->currentText(), QString());
    QCOMPARE(first->ComboBox2->currentText(), QString());
    QCOMPARE(first->Edit5->text(), QString());
    QCOMPARE(first->Edit3->text(), QStringLiteral("1"));
    QCOMPARE(first->Edit4->text(), QStringLiteral("10"));
    QVERIFY(!first->workbookForm());
    QVERIFY(!first->CheckBox1->isEnabled() && !first->Label13->isEnabled() && !first->Edit5->isEnabled());
    QStringList items;
    for (int i = 0; i < first->ComboBox1->count(); ++i)
        items << first->ComboBox1->itemText(i);
    QCOMPARE(items, m_frame->aliases);

    // The list is a copy: a later change of the shared list does not reach an existing window.
    m_frame->aliases << QStringLiteral("LATER");
    TForm1* second = newDocument(*m_frame);
    QCOMPARE(second->definitionPath(), QStringLiteral("No Name 2"));
    QCOMPARE(first->ComboBox1->count(), 2);
    QCOMPARE(second->ComboBox1->count(), 3);
}

void TestMdi1::stateRules_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("after");
    QTest::newRow("name typed") << 0 << "name" << 5;
    QTest::newRow("table typed") << 0 << "table" << 5;
    QTest::newRow("columnar") << 0 << "columnar" << 5;
    QTest::newRow("several") << 0 << "several" << 5;
    QTest::newRow("alias mode") << 0 << "aliasmode" << 5;
    QTest::newRow("record typed") << 0 << "record" << 6;
    QTest::newRow("query switch") << 0 << "query" << 6;
    QTest::newRow("alias picked") << 0 << "pick" << 0;
    QTest::newRow("new stays new") << 3 << "name" << 3;
    QTest::newRow("first edit's code stays") << 6 << "name" << 6;
    QTest::newRow("first edit's code stays 2") << 5 << "record" << 5;
}

void TestMdi1::stateRules() {
    QFETCH(int, before);
    QFETCH(QString, action);
    QFETCH(int, after);
    TForm1* w = loadedWindow();
    QVERIFY(w);
    QCOMPARE(w->modificationState(), 0);
    w->setModificationState(before);
    if (action == QLatin1String("name")) {
        QTest::keyClicks(w->Edit1, QStringLiteral("x"));
    } else if (action == QLatin1String("table")) {
        w->Edit2->setText(QStringLiteral("T.DB"));
    } else if (action == QLatin1String("columnar")) {
        clickButton(w->RB2);
    } else if (action == QLatin1String("several")) {
        clickButton(w->RB4);
    } else if (action == QLatin1String("aliasmode")) {
        clickButton(w->RB6);
    } else if (action == QLatin1String("record")) {
        QTest::keyClicks(w->Edit3, QStringLiteral("5"));
    } else if (action == QLatin1String("query")) {
        clickButton(w->CheckBox1);
        QVERIFY(w->CheckBox1->isChecked());
    } else if (action == QLatin1String("pick")) {
        clickButton(w->RB6);
        w->setModificationState(before);
        w->ComboBox1->setFocus();
        QTest::keyClick(w->ComboBox1, Qt::Key_Down);
        QVERIFY(!w->ComboBox1->currentText().isEmpty());
    }
    QCOMPARE(w->modificationState(), after);
}

void TestMdi1::programmaticChangesFollowEventRules() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    // The same text again, a checked radio button checked again, combo texts set by the program:
    // none of them counts as an edit.
    w->Edit1->setText(w->Edit1->text());
    w->Edit3->setText(w->Edit3->text());
    w->RB1->setChecked(true);
    w->RB5->setChecked(true);
    w->ComboBox1->setEditText(QStringLiteral("DEMO"));
    w->ComboBox2->setEditText(QStringLiteral("ORDERS.DB"));
    QCOMPARE(w->modificationState(), 0);
    QCOMPARE(w->ComboBox2->count(), 0);
    // A different text from the program runs the handler as typing does.
    w->Edit3->setText(QStringLiteral("7"));
    QCOMPARE(w->modificationState(), 6);
}

void TestMdi1::columnarChoosesSingleSheet() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    clickButton(w->RB4);
    QVERIFY(w->RB4->isChecked());
    clickButton(w->RB2);
    QVERIFY(w->RB3->isChecked());
    QVERIFY(!w->RB4->isEnabled());
    clickButton(w->RB1);
    QVERIFY(w->RB4->isEnabled());
    QVERIFY(w->RB3->isChecked());
}

void TestMdi1::recordEditsTakeDigitsOnly() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    for (QLineEdit* edit : {w->Edit3, w->Edit4}) {
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("12a4"));
        QCOMPARE(edit->text(), QStringLiteral("124"));
        QTest::keyClicks(edit, QStringLiteral("- 5"));
        QCOMPARE(edit->text(), QStringLiteral("1245"));
        QTest::keyClick(edit, Qt::Key_7);
        QCOMPARE(edit->text(), QStringLiteral("1245"));
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QStringLiteral("124"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(edit->text(), QStringLiteral("124"));
        // Pasting cannot bring in what typing could not.
        edit->clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("9x"));
        edit->paste();
        QCOMPARE(edit->text(), QString());
        QGuiApplication::clipboard()->setText(QStringLiteral("42"));
        edit->paste();
        QCOMPARE(edit->text(), QStringLiteral("42"));
    }
}

void TestMdi1::aliasBoxRefusesTyping() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    clickButton(w->RB6);
    w->setModificationState(0);
    w->ComboBox2->setEditText(QStringLiteral("KEPT"));
    QTest::keyClicks(w->ComboBox1, QStringLiteral("DEMO"));
    QTest::keyClicks(w->ComboBox1->lineEdit(), QStringLiteral("DEMO"));
    QCOMPARE(w->ComboBox1->currentText(), QString());
    // Nor can a shown alias be cut, deleted or pasted over.
    w->ComboBox1->setEditText(QStringLiteral("SHOWN"));
    QGuiApplication::clipboard()->setText(QStringLiteral("DEMO"));
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Backspace, Qt::NoModifier}, std::pair{Qt::Key_Delete, Qt::NoModifier},
          std::pair{Qt::Key_X, Qt::ControlModifier}, std::pair{Qt::Key_V, Qt::ControlModifier}}) {
        w->ComboBox1->lineEdit()->selectAll();
        QTest::keyClick(w->ComboBox1, key, modifiers);
    }
    QCOMPARE(w->ComboBox1->currentText(), QStringLiteral("SHOWN"));
    QCOMPARE(w->ComboBox2->count(), 0);
    QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("KEPT"));
    QCOMPARE(w->modificationState(), 0);
}

void TestMdi1::tableWarningOncePerWindow() {
    TForm1* first = loadedWindow();
    QVERIFY(first);
    QVERIFY(!first->tableWarningShown());
    DialogRecord warning;
    answerNextMessageDialog(Answer::Ok, &warning);
    QTest::keyClick(first->Edit2, Qt::Key_Backspace);
    QVERIFY(warning.seen);
    QCOMPARE(warning.title, QStringLiteral(" ATTENTION  "));
    QCOMPARE(warning.text, QStringLiteral(" File should be created "));
    QVERIFY(first->tableWarningShown());

    // Later characters in the same window pass without a question and reach the edit.
    QTest::keyClicks(first->Edit2, QStringLiteral("AB"));
    QCOMPARE(first->Edit2->text(), QStringLiteral("AB"));
    QVERIFY(!QApplication::activeModalWidget());

    // Each other window warns once for itself; the first character still arrives.
    TForm1* second = loadedWindow();
    QVERIFY(second);
    DialogRecord again;
    answerNextMessageDialog(Answer::Ok, &again);
    QTest::keyClicks(second->Edit2, QStringLiteral("Q"));
    QVERIFY(again.seen);
    QCOMPARE(second->Edit2->text(), QStringLiteral("Q"));
}

void TestMdi1::queryLabelFollowsTable() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    const int width = w->Edit5->width();
    w->Edit5->setEnabled(false);
    answerNextMessageDialog(Answer::Ok);
    QTest::keyClicks(w->Edit2, QStringLiteral("ORDERS.DB"));
    QCOMPARE(w->Edit2->text(), QStringLiteral("ORDERS.DB"));
    QCOMPARE(w->Label13->text(), QStringLiteral("Select * from ORDERS.DB"));
    QCOMPARE(w->Label13->width(), w->Label13->sizeHint().width());
    QVERIFY(w->CheckBox1->isEnabled());
    QVERIFY(w->Label13->isEnabled());
    QVERIFY(!w->Edit5->isEnabled());
    QCOMPARE(w->Edit5->x(), w->Label13->x() + w->Label13->width() + 5);
    QCOMPARE(w->Edit5->width(), width);

    // A resize of the bottom panel sets the width so that the edit ends 90 pixels short.
    FakeFrame::subWindowOf(w)->showNormal();
    FakeFrame::subWindowOf(w)->resize(700, 400);
    QTRY_COMPARE(w->Edit5->width(), w->Panel6->width() - w->Edit5->x() - 90);

    // The table combo box drives the label too, for the user's typing.
    clickButton(w->RB6);
    QTest::keyClicks(w->ComboBox2, QStringLiteral("X"));
    QCOMPARE(w->Label13->text(), QStringLiteral("Select * from X"));
}

void TestMdi1::directoryLabelFromAlias_data() {
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expected");
    QTest::newRow("alias") << "DEMO"
                           << ""
                           << "/data/demo/";
    QTest::newRow("unknown alias") << "BROKEN"
                                   << ""
                                   << "//";
    QTest::newRow("label kept") << "DEMO"
                                << "/kept/"
                                << "/kept/";
    QTest::newRow("no alias") << ""
                              << ""
                              << "";
}

void TestMdi1::directoryLabelFromAlias() {
    QFETCH(QString, alias);
    QFETCH(QString, label);
    QFETCH(QString, expected);
    TForm1* w = loadedWindow();
    QVERIFY(w);
    w->setDirectoryLabel(label);
    clickButton(w->RB6);
    QVERIFY(w->ComboBox1->isVisible() && w->ComboBox2->isVisible());
    QVERIFY(!w->Label2->isVisible() && !w->Edit2->isVisible() && !w->Button2->isVisible());
    w->ComboBox1->setEditText(alias);
    clickButton(w->RB5);
    QVERIFY(!w->ComboBox1->isVisible() && !w->ComboBox2->isVisible());
    QVERIFY(w->Label2->isVisible() && w->Edit2->isVisible() && w->Button2->isVisible());
    QCOMPARE(w->Label2->text(), expected);
    QCOMPARE(w->Label2->width(), w->Label2->sizeHint().width());
}

void TestMdi1::pickingAliasListsTables() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    clickButton(w->RB6);
    w->ComboBox2->setEditText(QStringLiteral("TYPED"));
    const int demo = w->ComboBox1->findText(QStringLiteral("DEMO"));
    const int broken = w->ComboBox1->findText(QStringLiteral("BROKEN"));
    QVERIFY(demo >= 0 && broken >= 0);

    w->ComboBox1->setFocus();
    w->ComboBox1->setCurrentIndex(demo);
    emit w->ComboBox1->textActivated(w->ComboBox1->currentText());
    QStringList tables;
    for (int i = 0; i < w->ComboBox2->count(); ++i)
        tables << w->ComboBox2->itemText(i);
    QCOMPARE(tables, (QStringList{"ORDERS.DB", "CLIENTS.DBF", "NOTES"}));
    QCOMPARE(w->ComboBox2->currentText(), QStringLiteral("TYPED"));

    // A failing listing empties the table combo box, text included, and reports nothing.
    w->ComboBox1->setCurrentIndex(broken);
    emit w->ComboBox1->textActivated(w->ComboBox1->currentText());
    QCOMPARE(w->ComboBox2->count(), 0);
    QCOMPARE(w->ComboBox2->currentText(), QString());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMdi1::browseSetsTableAndDirectory() {
    QTemporaryDir data;
    QVERIFY(writeFile(data.filePath(QStringLiteral("ORDERS.DB")), "x"));
    TForm1* w = loadedWindow();
    QVERIFY(w);
    m_frame->lastDirectory = QStringLiteral("/last/");
    w->setDirectoryLabel(data.path());
    w->setModificationState(0);
    DialogRecord rec;
    answerNextFileChoice(data.filePath(QStringLiteral("ORDERS.DB")), &rec);
    QTest::mouseClick(w->Button2, Qt::LeftButton);
    QVERIFY(rec.seen);
    QCOMPARE(m_frame->openDialog()->directory().absolutePath(), data.path());
    QCOMPARE(m_frame->openDialog()->nameFilters(), (QStringList{"*.DB", "*.DBF"}));
    QCOMPARE(w->Edit2->text(), QStringLiteral("ORDERS.DB"));
    QCOMPARE(w->Label2->text(), data.path() + QLatin1Char('/'));
    QCOMPARE(w->Label13->text(), QStringLiteral("Select * from ORDERS.DB"));
    QCOMPARE(w->modificationState(), 5);
    QCOMPARE(m_frame->lastDirectory, QStringLiteral("/last/"));
    QVERIFY(!w->tableWarningShown());

    // With an empty directory label the dialog starts in the last dialog directory.
    m_frame->lastDirectory = data.path() + QLatin1Char('/');
    w->setDirectoryLabel(QString());
    answerNextFileChoice(QString());
    QTest::mouseClick(w->Button2, Qt::LeftButton);
    QCOMPARE(m_frame->openDialog()->directory().absolutePath(), data.path());
}

void TestMdi1::browseCancelledChangesNothing() {
    TForm1* w = loadedWindow();
    QVERIFY(w);
    w->Edit2->setText(QStringLiteral("OLD.DB"));
    w->setDirectoryLabel(QStringLiteral("/old/"));
    w->setModificationState(0);
    DialogRecord rec;
    answerNextFileChoice(QString(), &rec);
    QTest::mouseClick(w->Button2, Qt::LeftButton);
    QVERIFY(rec.seen);
    QCOMPARE(w->Edit2->text(), QStringLiteral("OLD.DB"));
    QCOMPARE(w->Label2->text(), QStringLiteral("/old/"));
    QCOMPARE(w->modificationState(), 0);
}

void TestMdi1::closeAsksOnlyWhenChanged() {
    // A fresh window asks, with its name, although nothing was typed; NO closes it unsaved.
    TForm1* fresh = newDocument(*m_frame);
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(fresh);
    DialogRecord question;
    answerNextMessageDialog(Answer::No, &question);
    QVERIFY(fresh->closeWindow());
    QVERIFY(question.seen);
    QCOMPARE(question.title, QStringLiteral(" Do you want to save the report? "));
    QCOMPARE(question.text, QStringLiteral("<< No Name 1 >>"));
    QTRY_VERIFY(sub.isNull());

    // A loaded window closes silently, even after an alias was picked.
    TForm1* loaded = loadedWindow();
    QVERIFY(loaded);
    clickButton(loaded->RB6);
    loaded->setModificationState(0);
    loaded->ComboBox1->setCurrentIndex(loaded->ComboBox1->findText(QStringLiteral("DEMO")));
    emit loaded->ComboBox1->textActivated(QStringLiteral("DEMO"));
    QPointer<QMdiSubWindow> loadedSub = FakeFrame::subWindowOf(loaded);
    QVERIFY(loaded->closeWindow());
    QTRY_VERIFY(loadedSub.isNull());
    QVERIFY(m_frame->editorWindows().isEmpty());
}

void TestMdi1::closeRoutes_data() {
    QTest::addColumn<QString>("route");
    QTest::newRow("sub-window") << "sub";
    QTest::newRow("close button") << "button";
    QTest::newRow("form itself") << "form";
    QTest::newRow("close command") << "command";
}

void TestMdi1::closeRoutes() {
    QFETCH(QString, route);
    TForm1* w = newDocument(*m_frame);
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    // Each route asks exactly once; answering NO lets the window and its sub-window go.
    int asked = 0;
    answerNextModal([&asked](QWidget* dlg) {
        ++asked;
        if (auto* no = dlg->findChild<QAbstractButton*>(QStringLiteral("CancelBtn")))
            no->click();
    });
    if (route == QLatin1String("sub"))
        sub->close();
    else if (route == QLatin1String("button"))
        w->FlatButton1Click();
    else if (route == QLatin1String("form"))
        w->close();
    else
        closeDocument(*m_frame);
    QTRY_VERIFY(sub.isNull());
    QCOMPARE(asked, 1);
    QVERIFY(!m_frame->reportCommandsEnabled);
}

void TestMdi1::reportCommandsAfterClosing() {
    TForm1* a = loadedWindow();
    TForm1* b = loadedWindow();
    QVERIFY(a && b);
    QVERIFY(m_frame->reportCommandsEnabled);
    QVERIFY(a->closeWindow());
    QTRY_COMPARE(m_frame->editorWindows().size(), 1);
    QVERIFY(m_frame->reportCommandsEnabled);
    QVERIFY(b->closeWindow());
    QTRY_COMPARE(m_frame->editorWindows().size(), 0);
    QVERIFY(!m_frame->reportCommandsEnabled);
}

QTEST_MAIN(TestMdi1)
#include "tst_mdi1.moc"
