// Tests of the document commands: Save, Save as, Open with its load step, and the close
// question's save, on editor windows hosted by the fake frame.
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/definition.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

namespace {

class FakeEngine : public DataEngine {
public:
    QStringList aliasNames() override {
        if (failAliases)
            throw EngineError("the engine does not answer");
        return {QStringLiteral("DEMO"), QStringLiteral("SHOP")};
    }
    QStringList tableNames(const QString&) override { return {QStringLiteral("ORDERS.DB")}; }
    QStringList aliasParameters(const QString&) override { return {QStringLiteral("PATH=/data/demo")}; }
    static inline bool failAliases = false;
};

// Answers the close question with OK, then the Save-as dialog that follows with fileName
// (empty: cancel).
void answerOkThenSaveAs(const QString& fileName, DialogRecord* question, DialogRecord* save) {
    answerNextModal(
        [fileName, save](QWidget* dlg) {
            answerNextFileChoice(fileName, save);
            if (auto* ok = dlg->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                ok->click();
        },
        question);
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveAndOpenRestoresEveryControl_data();
    void saveAndOpenRestoresEveryControl();
    void fileWithoutKeysOpensWithDefaults();
    void loadRefusals_data();
    void loadRefusals();
    void openCommand();
    void saveOfNewBecomesSaveAs();
    void saveAsExtensionRule_data();
    void saveAsExtensionRule();
    void saveKeepsForeignKeys();
    void failedSaveChangesNothing();
    void failedSaveAsKeepsOldIdentity();
    void closeQuestionSaves();
    void closeQuestionSaveAsCancelledKeepsWindow();
    void closeQuestionFailedSaveKeepsWindow();
    void aliasFailureDuringLoad();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    std::unique_ptr<FakeFrame> m_frame;
    QTemporaryDir m_dir;
};

void TestDocuments::initTestCase() {
    QVERIFY(m_dir.isValid());
    setEngine(std::make_unique<FakeEngine>());
}

void TestDocuments::init() {
    FakeEngine::failAliases = false;
    m_frame = std::make_unique<FakeFrame>();
    m_frame->aliases = {QStringLiteral("DEMO"), QStringLiteral("SHOP")};
    m_frame->lastDirectory = m_dir.path() + QLatin1Char('/');
}

void TestDocuments::cleanup() {
    m_frame.reset();
}

void TestDocuments::saveAndOpenRestoresEveryControl_data() {
    QTest::addColumn<bool>("aliasMode");
    QTest::addColumn<bool>("columnar");
    QTest::addColumn<bool>("several");
    QTest::addColumn<bool>("query");
    QTest::newRow("directory, form, one sheet") << false << false << false << false;
    QTest::newRow("directory, form, several, query") << false << false << true << true;
    QTest::newRow("alias, columnar, query") << true << true << false << true;
    QTest::newRow("alias, form, several") << true << false << true << false;
}

void TestDocuments::saveAndOpenRestoresEveryControl() {
    QFETCH(bool, aliasMode);
    QFETCH(bool, columnar);
    QFETCH(bool, several);
    QFETCH(bool, query);
    TForm1* w = newDocument(*m_frame);
    w->Edit1->setText(QStringLiteral("Monthly sales"));
    if (aliasMode) {
        w->RB6->setChecked(true);
        w->ComboBox1->setEditText(QStringLiteral("SHOP"));
        w->ComboBox2->setEditText(QStringLiteral("ORDERS.DB"));
    } else {
        w->setDirectoryLabel(QStringLiteral("/data/shop/"));
        w->Edit2->setText(QStringLiteral("CLIENTS.DBF"));
    }
    if (several)
        w->RB4->setChecked(true);
    if (columnar)
        w->RB2->setChecked(true);
    w->Edit3->setText(QStringLiteral("3"));
    w->Edit4->setText(QString()); // an empty range end is stored as 0
    w->CheckBox1->setEnabled(true);
    w->CheckBox1->setChecked(query);
    w->Edit5->setText(QStringLiteral("where TOTAL > 10"));
    w->setWorkbookForm(true);
    const QString select = w->Label13->text();

    const QString file = path(QStringLiteral("round%1").arg(QTest::currentDataTag()).remove(' ').remove(','));
    DialogRecord dialog;
    answerNextFileChoice(file, &dialog);
    QVERIFY(saveDocument(*m_frame, w));
    QVERIFY(dialog.seen);
    QCOMPARE(dialog.title, QStringLiteral("Save Report"));
    const QString saved = file + QStringLiteral(".pr");
    QVERIFY(QFile::exists(saved));
    QCOMPARE(w->definitionPath(), saved);
    QCOMPARE(w->windowTitle(), QFileInfo(saved).fileName());
    QCOMPARE(w->workbookPath(), file + QStringLiteral(".xls"));
    QCOMPARE(w->Label3->text(), file + QStringLiteral(".xls"));
    QCOMPARE(w->modificationState(), 0);
    QCOMPARE(m_frame->recentFiles, QStringList{saved});
    QCOMPARE(m_frame->lastDirectory, m_dir.path() + QLatin1Char('/'));

    QVERIFY(w->closeWindow());
    QTRY_VERIFY(m_frame->editorWindows().isEmpty());
    TForm1* r = loadDocument(*m_frame, saved);
    QVERIFY(r);
    QCOMPARE(r->modificationState(), 0);
    QCOMPARE(r->definitionPath(), saved);
    QCOMPARE(r->windowTitle(), QFileInfo(saved).fileName());
    QCOMPARE(r->Edit1->text(), QStringLiteral("Monthly sales"));
    QCOMPARE(r->RB6->isChecked(), aliasMode);
    QCOMPARE(r->RB5->isChecked(), !aliasMode);
    r->show();
    if (aliasMode) {
        QCOMPARE(r->ComboBox1->currentText(), QStringLiteral("SHOP"));
        QCOMPARE(r->ComboBox2->currentText(), QStringLiteral("ORDERS.DB"));
        QCOMPARE(r->Label2->text(), QString());
        QVERIFY(r->ComboBox1->isVisible() && r->ComboBox2->isVisible() && !r->Edit2->isVisible());
    } else {
        QCOMPARE(r->Label2->text(), QStringLiteral("/data/shop/"));
        QCOMPARE(r->Edit2->text(), QStringLiteral("CLIENTS.DBF"));
        QVERIFY(!r->ComboBox1->isVisible() && r->Edit2->isVisible() && r->Button2->isVisible());
    }
    QCOMPARE(r->ComboBox1->count(), 2); // asked afresh from the catalogue
    QCOMPARE(r->RB2->isChecked(), columnar);
    QCOMPARE(r->RB4->isChecked(), several && !columnar);
    QCOMPARE(r->RB4->isEnabled(), !columnar);
    QVERIFY(r->workbookForm());
    QCOMPARE(r->Edit3->text(), QStringLiteral("3"));
    QCOMPARE(r->Edit4->text(), QStringLiteral("0"));
    QVERIFY(r->CheckBox1->isEnabled());
    QCOMPARE(r->CheckBox1->isChecked(), query);
    QCOMPARE(r->Label13->isEnabled(), query);
    QCOMPARE(r->Edit5->isEnabled(), query);
    QCOMPARE(r->Edit5->text(), QStringLiteral("where TOTAL > 10"));
    QCOMPARE(r->Label13->text(), select);
    QCOMPARE(r->Edit5->x(), r->Label13->x() + r->Label13->width() + 5);
    QCOMPARE(r->workbookPath(), file + QStringLiteral(".xls"));
    QCOMPARE(r->Label3->text(), file + QStringLiteral(".xls"));
}

void TestDocuments::fileWithoutKeysOpensWithDefaults() {
    const QString file = path(QStringLiteral("bare.pr"));
    QVERIFY(writeFile(file, "[OTHER]\nName=not ours\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    QVERIFY(m_frame->reportCommandsEnabled);
    for (const QString& text :
         {w->Edit1->text(), w->Edit2->text(), w->Label2->text(), w->Label3->text(), w->Edit5->text(),
          w->Label13->text(), w->ComboBox1->currentText(), w->ComboBox2->currentText()})
        QCOMPARE(text, QString());
    QVERIFY(w->RB5->isChecked() && w->RB1->isChecked() && w->RB3->isChecked());
    QCOMPARE(w->Edit3->text(), QStringLiteral("1"));
    QCOMPARE(w->Edit4->text(), QStringLiteral("1"));
    QVERIFY(!w->CheckBox1->isChecked());
    QVERIFY(w->CheckBox1->isEnabled());
    QVERIFY(!w->Edit5->isEnabled());
    QCOMPARE(w->modificationState(), 0);
}

void TestDocuments::loadRefusals_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::newRow("missing") << "missing"
                             << " File was not found ";
    QTest::newRow("directory") << "directory"
                               << " File was not found ";
    QTest::newRow("read-only") << "readonly"
                               << " File was not found ";
    QTest::newRow("already open") << "open"
                                  << " File already open ";
}

void TestDocuments::loadRefusals() {
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QString file = path(kind + QStringLiteral(".pr"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(file));
    } else if (kind == QLatin1String("readonly")) {
        QVERIFY(writeFile(file, "[REPORT]\nName=ro\n"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        QFile probe(file);
        if (probe.open(QIODevice::ReadWrite))
            QSKIP("the file system lets this user write a read-only file");
    } else if (kind == QLatin1String("open")) {
        QVERIFY(writeFile(file, "[REPORT]\nName=first\n"));
        TForm1* first = loadDocument(*m_frame, file);
        QVERIFY(first);
        first->Edit1->setText(QStringLiteral("edited"));
    }
    const qsizetype before = m_frame->editorWindows().size();
    m_frame->reportCommandsChanges = 0;
    DialogRecord rec;
    answerNextMessageDialog(Answer::Ok, &rec);
    QCOMPARE(loadDocument(*m_frame, file), nullptr);
    QVERIFY(rec.seen);
    QCOMPARE(rec.title, caption);
    QCOMPARE(rec.text, file);
    QCOMPARE(m_frame->editorWindows().size(), before);
    QCOMPARE(m_frame->reportCommandsChanges, 0);
    if (kind == QLatin1String("open"))
        QCOMPARE(m_frame->editorWindows().first()->Edit1->text(), QStringLiteral("edited"));
    else
        QVERIFY(!QFileInfo(file).isFile() || kind == QLatin1String("readonly"));
}

void TestDocuments::openCommand() {
    QTemporaryDir other;
    const QString file = other.filePath(QStringLiteral("opened.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=Opened\n"));
    DialogRecord rec;
    answerNextFileChoice(file, &rec);
    openDocument(*m_frame);
    QVERIFY(rec.seen);
    QCOMPARE(m_frame->openDialog()->nameFilters(), QStringList{QStringLiteral("Files report (*.pr)")});
    QCOMPARE(m_frame->lastDirectory, other.path() + QLatin1Char('/'));
    QCOMPARE(m_frame->editorWindows().size(), 1);
    QCOMPARE(m_frame->editorWindows().first()->Edit1->text(), QStringLiteral("Opened"));
    QCOMPARE(m_frame->recentFiles, QStringList{file});

    // Opening it again is refused with a message, and the path still goes to the recent files.
    DialogRecord refusal;
    answerNextModal([file, &refusal](QWidget* dlg) {
        answerNextMessageDialog(Answer::Ok, &refusal);
        auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            dlg->close();
            return;
        }
        name->setText(file);
        if (auto* files = qobject_cast<QFileDialog*>(dlg))
            static_cast<QDialog*>(files)->accept();
    });
    openDocument(*m_frame);
    QVERIFY(refusal.seen);
    QCOMPARE(refusal.title, QStringLiteral(" File already open "));
    QCOMPARE(m_frame->editorWindows().size(), 1);
    QCOMPARE(m_frame->recentFiles, (QStringList{file, file}));

    // Cancelled: nothing changes.
    answerNextFileChoice(QString());
    openDocument(*m_frame);
    QCOMPARE(m_frame->recentFiles.size(), 2);
    QCOMPARE(m_frame->lastDirectory, other.path() + QLatin1Char('/'));
}

void TestDocuments::saveOfNewBecomesSaveAs() {
    TForm1* w = newDocument(*m_frame);
    DialogRecord rec;
    answerNextFileChoice(QString(), &rec);
    QVERIFY(!saveDocument(*m_frame, w));
    QVERIFY(rec.seen);
    QCOMPARE(w->modificationState(), int(TForm1::StateNew));
    QCOMPARE(w->definitionPath(), QStringLiteral("No Name 1"));
    QVERIFY(m_frame->recentFiles.isEmpty());
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), QStringList());
}

void TestDocuments::saveAsExtensionRule_data() {
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("workbook");
    QTest::newRow("plain") << ""
                           << "plain"
                           << "plain.pr"
                           << "plain.xls";
    QTest::newRow("dotted directory") << "my.projects"
                                      << "sales"
                                      << "sales.pr"
                                      << "sales.xls";
    QTest::newRow("prt") << ""
                         << "report.prt"
                         << "report.prt"
                         << "report..xls";
}

void TestDocuments::saveAsExtensionRule() {
    QFETCH(QString, directory);
    QFETCH(QString, chosen);
    QFETCH(QString, stored);
    QFETCH(QString, workbook);
    const QString dir = directory.isEmpty() ? m_dir.path() : path(directory);
    QVERIFY(QDir().mkpath(dir));
    TForm1* w = newDocument(*m_frame);
    answerNextFileChoice(dir + QLatin1Char('/') + chosen);
    QVERIFY(saveDocumentAs(*m_frame, w));
    QCOMPARE(w->definitionPath(), dir + QLatin1Char('/') + stored);
    QVERIFY(QFileInfo(w->definitionPath()).isFile());
    QCOMPARE(w->workbookPath(), dir + QLatin1Char('/') + workbook);
    QCOMPARE(Profile(w->definitionPath()).readString("REPORT", "Excel", QString()), w->workbookPath());
    QCOMPARE(m_frame->recentFiles, QStringList{w->definitionPath()});
}

void TestDocuments::saveKeepsForeignKeys() {
    const QString file = path(QStringLiteral("foreign.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=Old\nCells=12\n[ZARMEK]\nTForm=TMainForm\n[GEN]\nLast=today\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("New"));
    QCOMPARE(w->modificationState(), 5);
    QVERIFY(saveDocument(*m_frame, w));
    QCOMPARE(w->modificationState(), 0);
    const QByteArray bytes = readFile(file);
    QVERIFY(bytes.contains("Name=New\n"));
    QVERIFY(bytes.contains("Cells=12\n"));
    QVERIFY(bytes.contains("[ZARMEK]\nTForm=TMainForm\n"));
    QVERIFY(bytes.contains("[GEN]\nLast=today\n"));
    QCOMPARE(w->workbookPath(), path(QStringLiteral("foreign.xls")));
}

// The window's definition file made unwritable for everyone: its directory replaced by a file.
static bool blockDirectory(const QString& dir) {
    return QDir(dir).removeRecursively() && writeFile(dir, "blocked");
}

void TestDocuments::failedSaveChangesNothing() {
    const QString dir = path(QStringLiteral("failing"));
    const QString file = dir + QStringLiteral("/f.pr");
    QVERIFY(writeFile(file, "[REPORT]\nExcel=/elsewhere/f.xls\nName=Before\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("After"));
    QVERIFY(blockDirectory(dir));
    QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocument(*m_frame, w));
    QCOMPARE(w->modificationState(), 5);
    QCOMPARE(w->workbookPath(), QStringLiteral("/elsewhere/f.xls"));
    QCOMPARE(w->Label3->text(), QStringLiteral("/elsewhere/f.xls"));
    QCOMPARE(w->definitionPath(), file);

    // Once the cause is gone, a retry writes every key.
    QVERIFY(QFile::remove(dir));
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(saveDocument(*m_frame, w));
    QCOMPARE(w->modificationState(), 0);
    const ReportDefinition d = readDefinition(file);
    QCOMPARE(d.name, QStringLiteral("After"));
    QCOMPARE(d.excel, dir + QStringLiteral("/f.xls"));
    QCOMPARE(Profile(file).keys(QStringLiteral("SQL")).size(), 3);
}

void TestDocuments::failedSaveAsKeepsOldIdentity() {
    const QString blocked = path(QStringLiteral("blockedAs"));
    QVERIFY(writeFile(blocked, "blocked"));
    TForm1* w = newDocument(*m_frame);
    answerNextFileChoice(blocked + QStringLiteral("/x.pr"));
    QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocumentAs(*m_frame, w));
    QCOMPARE(w->definitionPath(), QStringLiteral("No Name 1"));
    QCOMPARE(w->windowTitle(), QStringLiteral("No Name 1"));
    QCOMPARE(w->modificationState(), int(TForm1::StateNew));
    QVERIFY(m_frame->recentFiles.isEmpty());
}

void TestDocuments::closeQuestionSaves() {
    const QString file = path(QStringLiteral("closing.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=Before\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("After"));
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    DialogRecord question;
    answerNextMessageDialog(Answer::Ok, &question);
    QVERIFY(sub->close());
    QVERIFY(question.seen);
    QCOMPARE(question.text, QStringLiteral("<< After >>"));
    QTRY_VERIFY(sub.isNull());
    QCOMPARE(readDefinition(file).name, QStringLiteral("After"));
    QVERIFY(!m_frame->reportCommandsEnabled);
}

void TestDocuments::closeQuestionSaveAsCancelledKeepsWindow() {
    TForm1* w = newDocument(*m_frame);
    w->Edit1->setText(QStringLiteral("Unsaved work"));
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    DialogRecord question, save;
    answerOkThenSaveAs(QString(), &question, &save);
    QVERIFY(!sub->close());
    QVERIFY(question.seen && save.seen);
    QTest::qWait(50);
    QVERIFY(!sub.isNull());
    QVERIFY(sub->isVisible());
    QCOMPARE(w->modificationState(), int(TForm1::StateNew));
    QCOMPARE(w->Edit1->text(), QStringLiteral("Unsaved work"));
    QVERIFY(m_frame->reportCommandsEnabled);

    // Closing again asks again; this time the definition is saved and the window goes.
    const QString file = path(QStringLiteral("rescued"));
    answerOkThenSaveAs(file, &question, &save);
    QVERIFY(sub->close());
    QTRY_VERIFY(sub.isNull());
    QCOMPARE(readDefinition(file + QStringLiteral(".pr")).name, QStringLiteral("Unsaved work"));
}

void TestDocuments::closeQuestionFailedSaveKeepsWindow() {
    const QString dir = path(QStringLiteral("closefail"));
    const QString file = dir + QStringLiteral("/c.pr");
    QVERIFY(writeFile(file, "[REPORT]\nName=C\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit3->setText(QStringLiteral("5"));
    QVERIFY(blockDirectory(dir));
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    DialogRecord question, error;
    answerNextModal(
        [&error](QWidget* dlg) {
            answerNextErrorBox(&error);
            if (auto* ok = dlg->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                ok->click();
        },
        &question);
    QVERIFY(!w->closeWindow());
    QVERIFY(question.seen);
    QVERIFY(error.seen);
    QVERIFY(error.text.startsWith(QStringLiteral("Unable to write to")));
    QTest::qWait(50);
    QVERIFY(!sub.isNull());
    QCOMPARE(w->modificationState(), 6);
    QVERIFY(m_frame->reportCommandsEnabled);
}

void TestDocuments::aliasFailureDuringLoad() {
    const QString file = path(QStringLiteral("engine.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=E\n"));
    FakeEngine::failAliases = true;
    QVERIFY_THROWS_EXCEPTION(EngineError, loadDocument(*m_frame, file));
    // The window stays with what was filled so far.
    QCOMPARE(m_frame->editorWindows().size(), 1);
    QVERIFY(m_frame->reportCommandsEnabled);
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
