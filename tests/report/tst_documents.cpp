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
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>

using namespace lw;
using namespace lw::test;

namespace {

class FakeEngine : public DataEngine {
public:
    QStringList aliasNames() override { return {QStringLiteral("DEMO"), QStringLiteral("SHOP")}; }
    QStringList tableNames(const QString&) override { return {QStringLiteral("ORDERS.DB")}; }
    QStringList aliasParameters(const QString&) override { return {QStringLiteral("PATH=/data/demo")}; }
};

// Answers the message dialog on screen with OK and queues the answer to the dialog after it.
void answerOkThen(const std::function<void()>& next, DialogRecord* question = nullptr) {
    answerNextModal(
        [next](QWidget* dlg) {
            next();
            if (auto* ok = dlg->findChild<QAbstractButton*>(QStringLiteral("OKBtn")))
                ok->click();
        },
        question);
}

// Makes a directory unwritable for every user, root included: it becomes a plain file.
bool blockDirectory(const QString& dir) {
    return QDir(dir).removeRecursively() && writeFile(dir, "blocked");
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { m_frame.reset(); }

    void saveAndOpenRestoresEveryControl_data();
    void saveAndOpenRestoresEveryControl();
    void fileWithoutKeysOpensWithDefaults();
    void loadRefusals_data();
    void loadRefusals();
    void openCommand();
    void saveOfNewBecomesSaveAs();
    void failedSaveChangesNothing();
    void closeQuestionSaves();
    void closeQuestionSaveAsCancelledKeepsWindow();
    void closeQuestionFailedSaveKeepsWindow();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    std::unique_ptr<FakeFrame> m_frame;
    QTemporaryDir m_dir;
};

void TestDocuments::initTestCase() {
    setEngine(std::make_unique<FakeEngine>());
}

void TestDocuments::init() {
    m_frame = std::make_unique<FakeFrame>();
    m_frame->lastDirectory = m_dir.path() + QLatin1Char('/');
}

void TestDocuments::saveAndOpenRestoresEveryControl_data() {
    QTest::addColumn<bool>("aliasMode");
    QTest::addColumn<bool>("columnar");
    QTest::addColumn<bool>("several");
    QTest::addColumn<bool>("query");
    QTest::newRow("directory, several, query") << false << false << true << true;
    QTest::newRow("alias, columnar") << true << true << false << false;
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
    w->RB4->setChecked(several);
    w->RB2->setChecked(columnar);
    w->Edit3->setText(QStringLiteral("3"));
    w->Edit4->clear(); // an empty range end is stored as 0
    w->CheckBox1->setChecked(query);
    w->Edit5->setText(QStringLiteral("where TOTAL > 10"));
    w->setWorkbookForm(true);
    const QString select = w->Label13->text();

    // A name chosen in a directory whose name holds ".pr" still gets its extension.
    QVERIFY(QDir().mkpath(path(QStringLiteral("my.projects"))));
    const QString base = path(QStringLiteral("my.projects/%1").arg(aliasMode ? "alias" : "directory"));
    answerNextFileChoice(base);
    QVERIFY(saveDocument(*m_frame, w));
    const QString saved = base + QStringLiteral(".pr");
    QCOMPARE(w->definitionPath(), saved);
    QCOMPARE(FakeFrame::subWindowOf(w)->windowTitle(), QFileInfo(saved).fileName());
    QCOMPARE(w->Label3->text(), base + QStringLiteral(".xls"));
    QCOMPARE(w->modificationState(), 0);
    QCOMPARE(m_frame->recentFiles, QStringList{saved});
    QCOMPARE(m_frame->saveDialog()->windowTitle(), QStringLiteral("Save Report"));

    QVERIFY(w->closeWindow());
    QTRY_VERIFY(m_frame->editorWindows().isEmpty());
    TForm1* r = loadDocument(*m_frame, saved);
    QVERIFY(r);
    QCOMPARE(r->modificationState(), 0);
    QCOMPARE(r->Edit1->text(), QStringLiteral("Monthly sales"));
    QCOMPARE(r->RB6->isChecked(), aliasMode);
    QCOMPARE(r->ComboBox1->isVisible(), aliasMode);
    QCOMPARE(r->Edit2->isVisible(), !aliasMode);
    if (aliasMode) {
        QCOMPARE(r->ComboBox1->currentText() + r->ComboBox2->currentText(), QStringLiteral("SHOPORDERS.DB"));
        QCOMPARE(r->Label2->text(), QString());
    } else {
        QCOMPARE(r->Label2->text() + r->Edit2->text(), QStringLiteral("/data/shop/CLIENTS.DBF"));
    }
    QCOMPARE(r->ComboBox1->count(), 2); // asked afresh from the catalogue
    QCOMPARE(r->RB2->isChecked(), columnar);
    QCOMPARE(r->RB4->isChecked(), several);
    QCOMPARE(r->RB4->isEnabled(), !columnar);
    QVERIFY(r->workbookForm());
    QCOMPARE(r->Edit3->text() + "-" + r->Edit4->text(), QStringLiteral("3-0"));
    QVERIFY(r->CheckBox1->isEnabled());
    QCOMPARE(r->CheckBox1->isChecked(), query);
    QCOMPARE(r->Edit5->isEnabled(), query);
    QCOMPARE(r->Edit5->text(), QStringLiteral("where TOTAL > 10"));
    QCOMPARE(r->Label13->text(), select);
    QCOMPARE(r->Edit5->x(), r->Label13->x() + r->Label13->width() + 5);
    QCOMPARE(r->workbookPath(), base + QStringLiteral(".xls"));
}

void TestDocuments::fileWithoutKeysOpensWithDefaults() {
    const QString file = path(QStringLiteral("bare.pr"));
    QVERIFY(writeFile(file, "[OTHER]\nName=not ours\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    for (const QString& text : {w->Edit1->text(), w->Edit2->text(), w->Label2->text(), w->Label3->text(),
                                w->Edit5->text(), w->Label13->text()})
        QCOMPARE(text, QString());
    QVERIFY(w->RB5->isChecked() && w->RB1->isChecked() && w->RB3->isChecked());
    QCOMPARE(w->Edit3->text() + "-" + w->Edit4->text(), QStringLiteral("1-1"));
    QVERIFY(!w->CheckBox1->isChecked() && !w->Edit5->isEnabled());
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
    const QString file = path(kind + QStringLiteral(".pr"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(file));
    } else if (kind == QLatin1String("readonly")) {
        QVERIFY(writeFile(file, "[REPORT]\n"));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        if (QFile probe(file); probe.open(QIODevice::ReadWrite))
            QSKIP("this user may write a read-only file");
    } else if (kind == QLatin1String("open")) {
        QVERIFY(writeFile(file, "[REPORT]\n"));
        QVERIFY(loadDocument(*m_frame, file));
        m_frame->editorWindows().first()->Edit1->setText(QStringLiteral("edited"));
    }
    const qsizetype before = m_frame->editorWindows().size();
    m_frame->reportCommandsChanges = 0;
    DialogRecord rec;
    answerNextMessageDialog(Answer::Ok, &rec);
    QCOMPARE(loadDocument(*m_frame, file), nullptr);
    QCOMPARE(rec.title, caption);
    QCOMPARE(rec.text, file);
    QCOMPARE(m_frame->editorWindows().size(), before);
    QCOMPARE(m_frame->reportCommandsChanges, 0);
    if (kind == QLatin1String("missing"))
        QVERIFY(!QFile::exists(file)); // the check must not create it
    if (kind == QLatin1String("open"))
        QCOMPARE(m_frame->editorWindows().first()->Edit1->text(), QStringLiteral("edited"));
}

void TestDocuments::openCommand() {
    QTemporaryDir other;
    const QString file = other.filePath(QStringLiteral("opened.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=Opened\n"));
    answerNextFileChoice(file);
    openDocument(*m_frame);
    QCOMPARE(m_frame->openDialog()->nameFilters(), QStringList{QStringLiteral("Files report (*.pr)")});
    QCOMPARE(m_frame->lastDirectory, other.path() + QLatin1Char('/'));
    QCOMPARE(m_frame->editorWindows().first()->Edit1->text(), QStringLiteral("Opened"));
    QCOMPARE(m_frame->recentFiles, QStringList{file});

    // Refused as already open: the path still goes to the recent-files list.
    DialogRecord refusal;
    answerNextModal([file, &refusal](QWidget* dlg) {
        answerNextMessageDialog(Answer::Ok, &refusal);
        if (auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(file);
        static_cast<QDialog*>(dlg)->accept();
    });
    openDocument(*m_frame);
    QCOMPARE(refusal.title, QStringLiteral(" File already open "));
    QCOMPARE(m_frame->editorWindows().size(), 1);
    QCOMPARE(m_frame->recentFiles, (QStringList{file, file}));
}

void TestDocuments::saveOfNewBecomesSaveAs() {
    QTemporaryDir empty;
    m_frame->lastDirectory = empty.path() + QLatin1Char('/');
    TForm1* w = newDocument(*m_frame);
    DialogRecord rec;
    answerNextFileChoice(QString(), &rec);
    QVERIFY(!saveDocument(*m_frame, w));
    QVERIFY(rec.seen);
    QCOMPARE(m_frame->saveDialog()->directory().absolutePath(), empty.path());
    QCOMPARE(w->modificationState(), 3);
    QCOMPARE(w->definitionPath(), QStringLiteral("No Name 1"));
    QVERIFY(m_frame->recentFiles.isEmpty());
    QCOMPARE(QDir(empty.path()).entryList(QDir::Files), QStringList());
}

void TestDocuments::failedSaveChangesNothing() {
    const QString dir = path(QStringLiteral("failing"));
    const QString file = dir + QStringLiteral("/f.pr");
    QVERIFY(writeFile(file, "[REPORT]\nExcel=/elsewhere/f.xls\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("After"));
    QVERIFY(blockDirectory(dir));
    QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocument(*m_frame, w));
    QCOMPARE(w->modificationState(), 5);
    QCOMPARE(w->Label3->text(), QStringLiteral("/elsewhere/f.xls"));

    // Once the cause is gone, a retry writes every key.
    QVERIFY(QFile::remove(dir) && QDir().mkpath(dir));
    QVERIFY(saveDocument(*m_frame, w));
    QCOMPARE(w->modificationState(), 0);
    QCOMPARE(readDefinition(file).name, QStringLiteral("After"));
    QCOMPARE(Profile(file).keys(QStringLiteral("REPORT")).size() +
                 Profile(file).keys(QStringLiteral("SQL")).size(),
             qsizetype(13));

    // Save as into a place that cannot be written keeps the window's old name.
    const QString blocked = path(QStringLiteral("blockedAs"));
    QVERIFY(writeFile(blocked, "blocked"));
    answerNextFileChoice(blocked + QStringLiteral("/x.pr"));
    QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocumentAs(*m_frame, w));
    QCOMPARE(w->definitionPath(), file);
    QCOMPARE(w->modificationState(), 0);
    QCOMPARE(m_frame->recentFiles, QStringList());
}

void TestDocuments::closeQuestionSaves() {
    const QString file = path(QStringLiteral("closing.pr"));
    QVERIFY(writeFile(file, "[REPORT]\nName=Before\n"));
    TForm1* w = loadDocument(*m_frame, file);
    QVERIFY(w);
    w->Edit1->setText(QStringLiteral("After"));
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    answerNextMessageDialog(Answer::Ok);
    QVERIFY(sub->close());
    QTRY_VERIFY(sub.isNull());
    QCOMPARE(readDefinition(file).name, QStringLiteral("After"));
}

void TestDocuments::closeQuestionSaveAsCancelledKeepsWindow() {
    TForm1* w = newDocument(*m_frame);
    w->Edit1->setText(QStringLiteral("Unsaved work"));
    QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
    DialogRecord save;
    answerOkThen([&save] { answerNextFileChoice(QString(), &save); });
    QVERIFY(!sub->close());
    QVERIFY(save.seen);
    QTest::qWait(50);
    QVERIFY(sub && sub->isVisible());
    QCOMPARE(w->modificationState(), 3);
    QVERIFY(m_frame->reportCommandsEnabled);

    // Closing again asks again; this time the definition is saved and the window goes.
    const QString file = path(QStringLiteral("rescued"));
    answerOkThen([file] { answerNextFileChoice(file); });
    QVERIFY(sub->close());
    QTRY_VERIFY(sub.isNull());
    QCOMPARE(readDefinition(file + QStringLiteral(".pr")).name, QStringLiteral("Unsaved work"));
}

void TestDocuments::closeQuestionFailedSaveKeepsWindow() {
    const QString dir = path(QStringLiteral("closefail"));
    QVERIFY(writeFile(dir + QStringLiteral("/c.pr"), "[REPORT]\n"));
    TForm1* w = loadDocument(*m_frame, dir + QStringLiteral("/c.pr"));
    QVERIFY(w);
    w->Edit3->setText(QStringLiteral("5"));
    QVERIFY(blockDirectory(dir));
    DialogRecord error;
    answerOkThen([&error] { answerNextErrorBox(&error); });
    QVERIFY(!w->closeWindow());
    QVERIFY(error.text.startsWith(QStringLiteral("Unable to write to")));
    QTest::qWait(50);
    QVERIFY(FakeFrame::subWindowOf(w)->isVisible());
    QCOMPARE(w->modificationState(), 6);
    QVERIFY(m_frame->reportCommandsEnabled);
}

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
