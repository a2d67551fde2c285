// The Blank Builder and Generate Report commands with stand-in tools started for real, and the
// main window given back when the blank builder ends or fails, and its answer to the completion messages.
#include "platform/launcher.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeengine.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "tools/sibling.h"

#include <QApplication>
#include <QtTest>

#include <memory>
#include <optional>

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

QByteArray definition(const QString& excel, const QString& path, const QString& db) {
    return "[REPORT]\nExcel=" + excel.toUtf8() + "\nName=Sales\nAlias=0\nPath=" + path.toUtf8() +
           "\nDB=" + db.toUtf8() + "\nView=0\nList=0\nFrom=1\nTo=10\n";
}

} // namespace

class TstSibling : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<ToolFrame> m_frame;
    std::unique_ptr<SiblingTools> m_tools;

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
        const QString target = m_frame->startDir + QLatin1Char('/') + name;
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
        // Whatever started us may have left an address of its own; the tools must get ours.
        qputenv("LEDGERWICK_WINDOW", "/nowhere/TMainForm-1");
    }

    void init() {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_frame = std::make_unique<ToolFrame>();
        m_frame->startDir = m_tmp->filePath("start");
        QVERIFY(QDir().mkpath(m_frame->startDir));
        m_tools = std::make_unique<SiblingTools>(*m_frame);
        qputenv("LW_STANDIN_OUT", outFile().toUtf8());
        qunsetenv("LW_STANDIN_GO");
    }

    void cleanup() {
        writeFile(goFile(), ""); // releases a stand-in that still waits
        m_tools.reset();
        m_frame.reset();
        m_tmp.reset();
    }

    // Each failed check shows its message with one button, starts nothing and leaves the file alone;
    // a definition that passes them all goes to the blank builder, its path whole as one argument,
    // never through a shell.
    void blankBuilderChecks_data() {
        QTest::addColumn<QByteArray>("content"); // empty: a new definition, never saved
        QTest::addColumn<QString>("typedTable"); // null: as loaded
        QTest::addColumn<QString>("caption");    // null: accepted
        QTest::addColumn<QString>("text");
        const QString error = QStringLiteral(" ERROR ");
        QTest::newRow("never saved") << QByteArray() << QString() << " ATTENTION  "
                                     << " Save the report ";
        QTest::newRow("table of blanks")
            << definition("/r/a.xls", "/data/", "T.DB") << "   " << error << " Database does not defined";
        QTest::newRow("no workbook") << definition("", "/data/", "T.DB") << QString() << error << "";
        QTest::newRow("table with blanks around")
            << definition("/r/a.xls", "/data/", "T.DB") << "  T.DB " << QString() << QString();
    }
    void blankBuilderChecks() {
        QFETCH(QByteArray, content);
        QFETCH(QString, typedTable);
        QFETCH(QString, caption);
        QVERIFY(installTool("zarmek.exe"));
        const QString file = oddPath();
        TForm1* w = content.isEmpty() ? newDocument(*m_frame) : openDefinition(file, content);
        QVERIFY(w);
        if (!typedTable.isNull())
            w->Edit2->setText(typedTable);

        DialogRecord rec;
        answerNextMessageDialog(Answer::Ok, &rec, caption.isNull() ? 500 : 10000);
        m_tools->blankBuilder();
        if (caption.isNull()) {
            QVERIFY(toolStarted());
            QCOMPARE(readFile(outFile()), "1\n" + file.toUtf8());
            QVERIFY(!QFileInfo::exists("X") && !QFileInfo::exists(m_tmp->filePath("X"))); // no shell ran it
            QVERIFY(waitFor([&]() { return mainWindowNormal(); }, 10000)); // the stand-in posts nothing
            QVERIFY(!rec.seen);
            return;
        }
        QCOMPARE(rec.objectName, QStringLiteral("FormDlg"));
        QCOMPARE(rec.title, caption);
        QTEST(rec.text, "text");
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(outFile()));
        QVERIFY(mainWindowNormal());
        if (!content.isEmpty())
            QCOMPARE(readFile(file), content);
    }

    // The blank builder's failures: "ZARMEK" written, the main window minimised and disabled while the
    // tool runs, and the tool's end without a message giving it back unasked; a failed start gives it
    // back at once and says which files were looked for.
    void blankBuilderRun_data() {
        QTest::addColumn<bool>("startable");
        QTest::newRow("ends without posting") << true;
        QTest::newRow("no tool to start") << false;
    }
    void blankBuilderRun() {
        QFETCH(bool, startable);
        QVERIFY(!startable || installTool("zarmek.exe"));
        const QString file = m_tmp->filePath("a.pr");
        TForm1* w = openDefinition(file, definition("/r/a.xls", "/data/", "ORDERS.DB"));
        QVERIFY(w);
        mainWindow()->showMaximized();
        qputenv("LW_STANDIN_GO", goFile().toUtf8());

        DialogRecord failure;
        std::optional<NoDialogExpected> guard;
        if (startable)
            guard.emplace();
        else // back at once, and the files looked for are named
            answerNextMessageDialog(Answer::Ok, &failure);
        m_tools->blankBuilder();
        const QByteArray written = readFile(file);
        QVERIFY2(written.contains("[ZARMEK]\nTForm=TMainForm"), written.constData());
        QVERIFY(written.contains("Excel=/r/a.xls\n")); // the other keys are left as they were
        if (!startable) { // back as it was: maximised
            QVERIFY(mainWindow()->isEnabled() && mainWindow()->windowState() == Qt::WindowMaximized);
            QCOMPARE(failure.title, QStringLiteral(" ERROR "));
            QCOMPARE(failure.text, QStringLiteral("%1 does not exist, nor %2/zarmek.exe")
                                       .arg(blankBuilderProgram(m_frame->startDir), installedToolsDirectory()));
            return;
        }
        QVERIFY(mainWindow()->isMinimized() && !mainWindow()->isEnabled());
        QVERIFY(toolStarted());
        QCOMPARE(readFile(outFile() + QStringLiteral(".window")), m_tools->portAddress().toUtf8());
        QTest::qWait(100);
        QVERIFY(!mainWindow()->isEnabled()); // still waiting for the tool

        QVERIFY(writeFile(goFile(), ""));
        QVERIFY(waitFor([&]() { return mainWindow()->isEnabled(); }, 10000));
        QCOMPARE(mainWindow()->windowState(), Qt::WindowMaximized); // as it was before
        QCOMPARE(w->Label3->text(), QStringLiteral("/r/a.xls"));
        QVERIFY(!guard->seen());
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
