// The Blank Builder and Generate Report commands with stand-in tools started for real, and the
// main window's answer to the completion messages they post through ledgerwick-post.
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "tools/sibling.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace lw;
using namespace lw::test;

namespace {

// Closes any modal dialog that shows up while it lives, and remembers that one did.
class NoDialogExpected {
public:
    NoDialogExpected() {
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            if (QWidget* w = QApplication::activeModalWidget()) {
                m_seen = true;
                w->close();
            }
        });
        m_timer.start(20);
    }
    bool seen() const { return m_seen; }

private:
    QTimer m_timer;
    bool m_seen = false;
};

// The frame as the main window behaves: the active editor window is the most recently activated
// one even while the frame itself is minimised and inactive (the fake's own answer is then none).
class ToolFrame : public FakeFrame {
public:
    TForm1* activeEditorWindow() const override {
        const QList<TForm1*> windows = editorWindows();
        return windows.isEmpty() ? nullptr : windows.first();
    }
};

QByteArray definition(const QString& excel, bool alias, const QString& path, const QString& db) {
    return "[REPORT]\nExcel=" + excel.toUtf8() + "\nName=Sales\nAlias=" + (alias ? "1" : "0") +
           "\nPath=" + path.toUtf8() + "\nDB=" + db.toUtf8() + "\nView=0\nList=0\nFrom=1\nTo=10\n";
}

} // namespace

class TstSibling : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<ToolFrame> m_frame;
    std::unique_ptr<SiblingTools> m_tools;

    QString startDir() const { return m_tmp->filePath("start"); }
    QString outFile() const { return m_tmp->filePath("out"); }
    QString goFile() const { return m_tmp->filePath("go"); }
    QWidget* mainWindow() const { return m_frame->frameWidget(); }
    // A definition path that a shell would split, expand or run.
    QString oddPath() const {
        return m_tmp->filePath(QString::fromUtf8("my \"odd\" dir/Отчёт it's $(touch X) `x`; a&b.pr"));
    }
    bool toolStarted() const {
        return waitFor([&]() { return QFileInfo::exists(outFile()); }, 10000);
    }
    bool mainWindowNormal() const {
        return mainWindow()->isEnabled() && mainWindow()->windowState() == Qt::WindowNoState;
    }

    // Puts the stand-in tool into the start directory under a tool's name.
    bool installTool(const QString& name) {
        const QString target = startDir() + QLatin1Char('/') + name;
        return QFile::copy(qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + "/tests/tools/standin-tool.sh",
                           target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Writes a definition file and opens it in an editor window (state 0).
    TForm1* openDefinition(const QString& file, const QByteArray& content) {
        return writeFile(file, content) ? loadDocument(*m_frame, file) : nullptr;
    }

private slots:
    void initTestCase() {
        setEngine(std::make_unique<FakeEngine>());
        QFile::setPermissions(qEnvironmentVariable("XDG_RUNTIME_DIR"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("LW_STANDIN_POST", qgetenv("LEDGERWICK_TEST_BINARY_DIR") + "/ledgerwick-post");
        // Whatever started us may have left an address of its own; the tools must get ours.
        qputenv("LEDGERWICK_WINDOW", "/nowhere/TMainForm-1");
    }

    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(startDir()));
        m_frame = std::make_unique<ToolFrame>();
        m_frame->startDir = startDir();
        m_tools = std::make_unique<SiblingTools>(*m_frame);
        QVERIFY(!m_tools->portAddress().isEmpty());
        qputenv("LW_STANDIN_OUT", outFile().toUtf8());
        for (const char* name : {"LW_STANDIN_GO", "LW_STANDIN_MODE", "LW_STANDIN_EXCEL"})
            qunsetenv(name);
    }

    void cleanup() {
        writeFile(goFile(), ""); // releases a stand-in that still waits
        m_tools.reset();
        m_frame.reset();
        m_tmp.reset();
    }

    // Each failed check shows its message with one button, starts nothing and leaves the file alone;
    // a definition that passes them all goes to the blank builder, its path whole as one argument.
    void blankBuilderChecks_data() {
        QTest::addColumn<QByteArray>("content"); // empty: a new definition, never saved
        QTest::addColumn<QString>("typedTable"); // null: as loaded
        QTest::addColumn<QString>("caption");    // null: accepted
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, const QByteArray& content, const QString& typedTable,
                      const QString& caption, const QString& text) {
            QTest::newRow(name) << content << typedTable << caption << text;
        };
        const QString none;
        const QString error = QStringLiteral(" ERROR ");
        const QString path = QStringLiteral(" Enter the database path ");
        const QString table = QStringLiteral(" Database does not defined");
        row("never saved", QByteArray(), none, " ATTENTION  ", " Save the report ");
        row("no directory", definition("/r/a.xls", false, "", "T.DB"), none, error, path);
        row("directory holding FALSE", definition("/r/a.xls", false, "/x/FALSE/", "T.DB"), none, error, path);
        row("no alias", definition("/r/a.xls", true, "", "T"), none, error, path);
        row("table of blanks", definition("/r/a.xls", false, "/data/", "T.DB"), "   ", error, table);
        row("no alias table", definition("/r/a.xls", true, "DEMO", ""), none, error, table);
        row("no workbook", definition("", false, "/data/", "T.DB"), none, error, "");
        row("table with blanks around", definition("/r/a.xls", false, "/data/", "T.DB"), "  T.DB ", none,
            none);
        row("alias table a blank, as typed", definition("/r/a.xls", true, "DEMO", "T"), " ", none, none);
    }
    void blankBuilderChecks() {
        QFETCH(QByteArray, content);
        QFETCH(QString, typedTable);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QVERIFY(installTool("zarmek.exe"));
        const QString file = oddPath();
        TForm1* w = content.isEmpty() ? newDocument(*m_frame) : openDefinition(file, content);
        QVERIFY(w);
        if (!typedTable.isNull())
            w->aliasMode() ? w->ComboBox2->setEditText(typedTable) : w->Edit2->setText(typedTable);

        DialogRecord rec;
        answerNextMessageDialog(Answer::Ok, &rec, caption.isNull() ? 500 : 10000);
        m_tools->blankBuilder();
        if (caption.isNull()) {
            QVERIFY(toolStarted());
            QCOMPARE(readFile(outFile()), "1\n" + file.toUtf8());
            QVERIFY(waitFor([&]() { return mainWindowNormal(); }, 10000)); // the stand-in posts nothing
            QVERIFY(!rec.seen);
            return;
        }
        QCOMPARE(rec.objectName, QStringLiteral("FormDlg"));
        QCOMPARE(rec.title, caption);
        QCOMPARE(rec.text, text);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(outFile()));
        QVERIFY(mainWindowNormal());
        if (!content.isEmpty())
            QCOMPARE(readFile(file), content);
    }

    // Generate Report refuses a definition with unsaved changes (a new one has state 3), showing
    // the report name; Blank Builder takes a saved definition edited afterwards.
    void generateRefusals_data() {
        QTest::addColumn<bool>("isNew");
        QTest::addColumn<QString>("name");
        QTest::newRow("never saved") << true << "No Name 1";
        QTest::newRow("edited after saving") << false << "Sales, edited";
    }
    void generateRefusals() {
        QFETCH(bool, isNew);
        QFETCH(QString, name);
        QVERIFY(installTool("VORTAL1") && installTool("zarmek.exe"));
        const QString file = m_tmp->filePath("a.pr");
        TForm1* w =
            isNew ? newDocument(*m_frame) : openDefinition(file, definition("/r/a.xls", false, "/d/", "T"));
        QVERIFY(w);
        if (!isNew)
            w->Edit1->setText(name);
        DialogRecord rec;
        answerNextMessageDialog(Answer::Ok, &rec);
        m_tools->generateReport();
        QCOMPARE(rec.title, QStringLiteral(" Save the report "));
        QCOMPARE(rec.text, name);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(outFile()));
        if (isNew)
            return;
        NoDialogExpected guard;
        m_tools->blankBuilder();
        QVERIFY(toolStarted());
        QVERIFY(!guard.seen());
    }

    // The blank builder from start to end: "ZARMEK" written, the main window minimised and disabled
    // while the tool runs, and its message (or its silent end, or a failed start) giving it back.
    void blankBuilderRun_data() {
        QTest::addColumn<QString>("mode"); // missing: no tool to start
        QTest::addColumn<QString>("workbookAfter");
        const QString unchanged = QStringLiteral("/r/a.xls");
        QTest::newRow("posts 1029") << "done" << QStringLiteral("/new place/Sales «final».xls");
        QTest::newRow("posts 1025") << "restore" << unchanged;
        QTest::newRow("ends without posting") << "silent" << unchanged;
        QTest::newRow("missing") << "missing" << unchanged;
    }
    void blankBuilderRun() {
        QFETCH(QString, mode);
        QFETCH(QString, workbookAfter);
        const bool startable = mode != QLatin1String("missing");
        if (startable)
            QVERIFY(installTool("zarmek.exe"));
        const QString file = m_tmp->filePath("a.pr");
        TForm1* w = openDefinition(file, definition("/r/a.xls", false, "/data/", "ORDERS.DB"));
        QVERIFY(w);
        mainWindow()->showMaximized();
        qputenv("LW_STANDIN_MODE", mode.toUtf8());
        qputenv("LW_STANDIN_GO", goFile().toUtf8());
        qputenv("LW_STANDIN_EXCEL", "/new place/Sales «final».xls");

        NoDialogExpected guard;
        m_tools->blankBuilder();
        const QByteArray written = readFile(file);
        QVERIFY2(written.contains("[ZARMEK]\nTForm=TMainForm"), written.constData());
        QVERIFY(written.contains("Excel=/r/a.xls\n")); // the other keys are left as they were
        if (!startable) {                              // back at once, nothing said
            QVERIFY(mainWindowNormal());
            QTest::qWait(50);
            QVERIFY(!guard.seen());
            return;
        }
        QVERIFY(mainWindow()->isMinimized());
        QVERIFY(!mainWindow()->isEnabled());
        QVERIFY(toolStarted());
        QCOMPARE(readFile(outFile() + QStringLiteral(".window")), m_tools->portAddress().toUtf8());
        QTest::qWait(100);
        QVERIFY(!mainWindow()->isEnabled()); // still waiting for the tool

        QVERIFY(writeFile(goFile(), ""));
        QVERIFY(waitFor([&]() { return mainWindow()->isEnabled(); }, 10000));
        QCOMPARE(mainWindow()->windowState(), Qt::WindowNoState);
        QCOMPARE(w->workbookPath(), workbookAfter);
        QCOMPARE(w->Label3->text(), workbookAfter);
        QVERIFY(!guard.seen());
        if (mode == QLatin1String("done")) { // a later Save derives the workbook path again
            w->Edit1->setText("Sales 2");
            QVERIFY(saveDocument(*m_frame, w));
            QCOMPARE(w->Label3->text(), m_tmp->filePath("a.xls"));
        }
    }

    // The report generator (found as VORTAL1.exe) gets the path whole, as one argument, never through
    // a shell, and leaves the main window as it is.
    void generatorStarts() {
        QVERIFY(installTool("VORTAL1.exe"));
        QVERIFY(openDefinition(oddPath(), definition("/r/a.xls", false, "/data/", "ORDERS.DB")));
        NoDialogExpected guard;
        m_tools->generateReport();
        QVERIFY(toolStarted());
        QCOMPARE(readFile(outFile()), "1\n" + oddPath().toUtf8());
        QVERIFY(!QFileInfo::exists("X") && !QFileInfo::exists(m_tmp->filePath("X")));
        QVERIFY(mainWindowNormal());
        QVERIFY(!guard.seen());
    }

    // With no editor window 1029 only restores; other numbers change nothing.
    void messagesWithoutEditorWindow() {
        mainWindow()->setEnabled(false);
        mainWindow()->showMinimized();
        m_tools->handleMessage(1026);
        QVERIFY(!mainWindow()->isEnabled() && mainWindow()->isMinimized());
        m_tools->handleMessage(1029);
        QVERIFY(mainWindowNormal());
    }
};

QTEST_MAIN(TstSibling)
#include "tst_sibling.moc"
