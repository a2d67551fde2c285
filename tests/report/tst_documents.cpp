// Tests of the document commands: Save, Save as, Open with its load step, and the close
// question's save, on editor windows hosted by the fake frame.
#include "platform/profile.h"
#include "report/definition.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
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

// Answers the message dialog on screen with OK and queues the answer to the dialog after it.
void answerOkThen(const std::function<void()>& next) {
    answerNextModal([next](QWidget* dlg) {
        next();
        if (auto* ok = dlg->findChild<QAbstractButton*>("OKBtn"))
            ok->click();
    });
}

// Makes a directory unwritable for every user, root included: it becomes a plain file.
bool blockDirectory(const QString& dir) {
    return QDir(dir).removeRecursively() && writeFile(dir, "blocked");
}

} // namespace

class TestDocuments : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeFrame> m_frame;
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { setEngine(std::make_unique<FakeEngine>()); }
    void init() {
        m_frame = std::make_unique<FakeFrame>();
        m_frame->lastDirectory = m_dir.path() + QLatin1Char('/');
    }
    void cleanup() { m_frame.reset(); }

    // Save as of a new window names the window and its workbook after the file and writes what the
    // window shows (reopening every control is checked by the end-to-end run).
    void saveAsOfNewWindow() {
        TForm1* w = newDocument(*m_frame);
        w->Edit1->setText("Monthly sales");
        w->setDirectoryLabel("/data/shop/");
        w->Edit2->setText("CLIENTS.DBF");
        w->Edit4->clear(); // an empty range end is stored as 0
        // A name chosen in a directory whose name holds ".pr" still gets its extension.
        const QString base = path("my.projects/sales");
        QVERIFY(QDir().mkpath(path("my.projects")));
        answerNextFileDialog(base);
        QVERIFY(saveDocument(*m_frame, w));
        const QString saved = base + QStringLiteral(".pr");
        QCOMPARE(w->definitionPath(), saved);
        QCOMPARE(FakeFrame::subWindowOf(w)->windowTitle(), QStringLiteral("sales.pr"));
        QCOMPARE(w->workbookPath(), base + QStringLiteral(".xls"));
        QCOMPARE(w->modificationState(), 0);
        QCOMPARE(m_frame->recentFiles, QStringList{saved});
        const ReportDefinition d = readDefinition(saved);
        QCOMPARE(d.name + "|" + d.path + "|" + d.db, QStringLiteral("Monthly sales|/data/shop/|CLIENTS.DBF"));
        QCOMPARE(d.to, 0);
    }

    // A refused load says why with the path, creates no window and leaves the report commands alone.
    void loadRefusals_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        QTest::newRow("missing") << "missing" << QStringLiteral(" File was not found ");
        QTest::newRow("already open") << "open" << QStringLiteral(" File already open ");
    }
    void loadRefusals() {
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        const QString file = path(kind + QStringLiteral(".pr"));
        if (kind == QLatin1String("open")) {
            QVERIFY(writeFile(file, "[REPORT]\n"));
            QVERIFY(loadDocument(*m_frame, file));
            m_frame->editorWindows().first()->Edit1->setText("edited");
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

    // Open moves the last directory to the file's; the path joins the recent files.
    void openCommand() {
        QTemporaryDir other;
        const QString file = other.filePath("opened.pr");
        QVERIFY(writeFile(file, "[REPORT]\nName=Opened\n"));
        answerNextFileDialog(file);
        openDocument(*m_frame);
        QCOMPARE(m_frame->openDialog()->nameFilters(), QStringList{QStringLiteral("Files report (*.pr)")});
        QCOMPARE(m_frame->lastDirectory, other.path() + QLatin1Char('/'));
        QCOMPARE(m_frame->editorWindows().first()->Edit1->text(), QStringLiteral("Opened"));
        QCOMPARE(m_frame->recentFiles, QStringList{file});
    }

    // A refused write leaves the window as it was; once the cause is gone a retry writes every key.
    void failedSaveChangesNothing() {
        const QString dir = path("failing");
        const QString file = dir + QStringLiteral("/f.pr");
        QVERIFY(writeFile(file, "[REPORT]\nExcel=/elsewhere/f.xls\n"));
        TForm1* w = loadDocument(*m_frame, file);
        QVERIFY(w);
        w->Edit1->setText("After");
        QVERIFY(blockDirectory(dir));
        QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocument(*m_frame, w));
        QCOMPARE(w->modificationState(), 5);
        QCOMPARE(w->Label3->text(), QStringLiteral("/elsewhere/f.xls"));

        QVERIFY(QFile::remove(dir) && QDir().mkpath(dir));
        QVERIFY(saveDocument(*m_frame, w));
        QCOMPARE(w->modificationState(), 0);
        QCOMPARE(readDefinition(file).name, QStringLiteral("After"));
        QCOMPARE(Profile(file).keys("REPORT").size() + Profile(file).keys("SQL").size(), qsizetype(13));
    }

    // OK to the close question, then cancelling the Save-as dialog, keeps the window and its work.
    void closeQuestionSaveAsCancelledKeepsWindow() {
        TForm1* w = newDocument(*m_frame);
        w->Edit1->setText("Unsaved work");
        QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
        DialogRecord save;
        answerOkThen([&save] { answerNextFileDialog(QString(), &save); });
        QVERIFY(!sub->close());
        QVERIFY(save.seen);
        QTest::qWait(50);
        QVERIFY(sub && sub->isVisible());
        QCOMPARE(w->modificationState(), 3);
        QVERIFY(m_frame->reportCommandsEnabled);

        // Closing again asks again; this time the definition is saved and the window goes.
        const QString file = path("rescued");
        answerOkThen([file] { answerNextFileDialog(file); });
        QVERIFY(sub->close());
        QTRY_VERIFY(sub.isNull());
        QCOMPARE(readDefinition(file + QStringLiteral(".pr")).name, QStringLiteral("Unsaved work"));
    }

    // A Save from the close question that fails shows why and keeps the window with its work.
    void closeQuestionSaves() {
        const QString dir = path("closefail");
        const QString file = dir + QStringLiteral("/c.pr");
        QVERIFY(writeFile(file, "[REPORT]\n"));
        TForm1* w = loadDocument(*m_frame, file);
        QVERIFY(w);
        w->Edit3->setText("5");
        QVERIFY(blockDirectory(dir));
        DialogRecord error;
        answerOkThen([&error] { answerNextErrorBox(&error); });
        QVERIFY(!w->closeWindow());
        QVERIFY(error.text.startsWith(QStringLiteral("Unable to write to")));
        QTest::qWait(50);
        QPointer<QMdiSubWindow> sub = FakeFrame::subWindowOf(w);
        QVERIFY(sub->isVisible());
        QCOMPARE(w->modificationState(), 6);
        QVERIFY(m_frame->reportCommandsEnabled);
    }
};

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
