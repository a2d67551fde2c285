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

    // Save as of a new window, then Open: every control comes back, with state 0.
    void saveAndOpenRestoresEveryControl_data() {
        QTest::addColumn<bool>("aliasMode");
        QTest::addColumn<bool>("columnar");
        QTest::addColumn<bool>("several");
        QTest::addColumn<bool>("query");
        QTest::newRow("directory, several, query") << false << false << true << true;
        QTest::newRow("alias, columnar") << true << true << false << false;
    }
    void saveAndOpenRestoresEveryControl() {
        QFETCH(bool, aliasMode);
        QFETCH(bool, columnar);
        QFETCH(bool, several);
        QFETCH(bool, query);
        TForm1* w = newDocument(*m_frame);
        w->Edit1->setText("Monthly sales");
        if (aliasMode) {
            w->RB6->setChecked(true);
            w->ComboBox1->setEditText("SHOP");
            w->ComboBox2->setEditText("ORDERS.DB");
        } else {
            w->setDirectoryLabel("/data/shop/");
            w->Edit2->setText("CLIENTS.DBF");
        }
        w->RB4->setChecked(several);
        w->RB2->setChecked(columnar);
        w->Edit3->setText("3");
        w->Edit4->clear(); // an empty range end is stored as 0
        w->CheckBox1->setChecked(query);
        w->Edit5->setText("where TOTAL > 10");
        w->setWorkbookForm(true);
        const QString select = w->Label13->text();

        // A name chosen in a directory whose name holds ".pr" still gets its extension.
        const QString base = path(QStringLiteral("my.projects/%1").arg(aliasMode ? "alias" : "directory"));
        QVERIFY(QDir().mkpath(path("my.projects")));
        answerNextFileDialog(base);
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
            QCOMPARE(r->ComboBox1->currentText() + r->ComboBox2->currentText(),
                     QStringLiteral("SHOPORDERS.DB"));
            QCOMPARE(r->Label2->text(), QString());
        } else {
            QCOMPARE(r->Label2->text() + r->Edit2->text(), QStringLiteral("/data/shop/CLIENTS.DBF"));
        }
        QCOMPARE(r->ComboBox1->count(), 3); // asked afresh from the catalogue
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

    void fileWithoutKeysOpensWithDefaults() {
        const QString file = path("bare.pr");
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

    // A refused load says why with the path, creates no window and leaves the report commands alone.
    void loadRefusals_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");
        const QString notFound = QStringLiteral(" File was not found ");
        QTest::newRow("missing") << "missing" << notFound;
        QTest::newRow("read-only") << "readonly" << notFound;
        QTest::newRow("already open") << "open" << QStringLiteral(" File already open ");
    }
    void loadRefusals() {
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        const QString file = path(kind + QStringLiteral(".pr"));
        if (kind == QLatin1String("readonly")) {
            QVERIFY(writeFile(file, "[REPORT]\n"));
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            if (QFile probe(file); probe.open(QIODevice::ReadWrite))
                QSKIP("this user may write a read-only file");
        } else if (kind == QLatin1String("open")) {
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

    // Open moves the last directory to the file's; the path joins the recent files, refused or not.
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

        DialogRecord refusal;
        answerNextModal([file, &refusal](QWidget* dlg) {
            answerNextMessageDialog(Answer::Ok, &refusal);
            if (auto* name = dlg->findChild<QLineEdit*>("fileNameEdit"))
                name->setText(file);
            static_cast<QDialog*>(dlg)->accept();
        });
        openDocument(*m_frame);
        QCOMPARE(refusal.title, QStringLiteral(" File already open "));
        QCOMPARE(m_frame->editorWindows().size(), 1);
        QCOMPARE(m_frame->recentFiles, (QStringList{file, file}));
    }

    void saveOfNewBecomesSaveAs() {
        QTemporaryDir empty;
        m_frame->lastDirectory = empty.path() + QLatin1Char('/');
        TForm1* w = newDocument(*m_frame);
        DialogRecord rec;
        answerNextFileDialog(QString(), &rec);
        QVERIFY(!saveDocument(*m_frame, w));
        QVERIFY(rec.seen);
        QCOMPARE(m_frame->saveDialog()->directory().absolutePath(), empty.path());
        QCOMPARE(w->modificationState(), 3);
        QCOMPARE(w->definitionPath(), QStringLiteral("No Name 1"));
        QVERIFY(m_frame->recentFiles.isEmpty());
        QCOMPARE(QDir(empty.path()).entryList(QDir::Files), QStringList());
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

        // Save as into a place that cannot be written keeps the window's old name.
        const QString blocked = path("blockedAs");
        QVERIFY(writeFile(blocked, "blocked"));
        answerNextFileDialog(blocked + QStringLiteral("/x.pr"));
        QVERIFY_THROWS_EXCEPTION(ProfileWriteError, saveDocumentAs(*m_frame, w));
        QCOMPARE(w->definitionPath(), file);
        QCOMPARE(w->modificationState(), 0);
        QCOMPARE(m_frame->recentFiles, QStringList());
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

    // A Save from the close question that fails keeps the window; once it can, OK saves and closes.
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

        QVERIFY(QFile::remove(dir) && writeFile(file, "[REPORT]\nFrom=1\n"));
        answerNextMessageDialog(Answer::Ok);
        QVERIFY(sub->close());
        QTRY_VERIFY(sub.isNull());
        QCOMPARE(readDefinition(file).from, 5);
    }
};

QTEST_MAIN(TestDocuments)
#include "tst_documents.moc"
