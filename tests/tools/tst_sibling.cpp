// The Blank Builder and Generate Report commands with stand-in tools started for real, and the
// main window's answer to the completion messages they post through ledgerwick-post.
#include "platform/messageport.h"
#include "report/catalogue.h"
#include "report/documents.h"
#include "report/mdi1.h"
#include "support/fakeframe.h"
#include "support/testsupport.h"
#include "tools/sibling.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace lw;
using lw::test::Answer;
using lw::test::DialogRecord;
using lw::test::waitFor;

namespace {

// A catalogue of our own, so that loading a definition never depends on the machine.
class FixedEngine : public DataEngine {
public:
    QStringList aliasNames() override { return {QStringLiteral("DEMO")}; }
    QStringList tableNames(const QString&) override { return {QStringLiteral("ORDERS.DB")}; }
    QStringList aliasParameters(const QString&) override { return {QStringLiteral("PATH=/data")}; }
};

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
class ToolFrame : public test::FakeFrame {
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

    QString startDir() const { return m_tmp->filePath(QStringLiteral("start")); }
    QString outFile() const { return m_tmp->filePath(QStringLiteral("out")); }
    QString goFile() const { return m_tmp->filePath(QStringLiteral("go")); }
    QWidget* mainWindow() const { return m_frame->frameWidget(); }

    // Puts the stand-in tool into the start directory under a tool's name.
    bool installTool(const QString& name) {
        const QString target = startDir() + QLatin1Char('/') + name;
        return QFile::copy(qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") +
                               QStringLiteral("/tests/tools/standin-tool.sh"),
                           target) &&
               QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Writes a definition file and opens it in an editor window (state 0).
    TForm1* openDefinition(const QString& file, const QByteArray& content) {
        if (!test::writeFile(file, content))
            return nullptr;
        return loadDocument(*m_frame, file);
    }

    bool mainWindowNormal() const {
        return mainWindow()->isEnabled() && mainWindow()->windowState() == Qt::WindowNoState;
    }

private slots:
    void initTestCase() {
        setEngine(std::make_unique<FixedEngine>());
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
        qunsetenv("LW_STANDIN_GO");
        qunsetenv("LW_STANDIN_MODE");
        qunsetenv("LW_STANDIN_EXCEL");
    }

    void cleanup() {
        test::writeFile(goFile(), ""); // releases a stand-in that still waits
        m_tools.reset();
        m_frame.reset();
        m_tmp.reset();
    }

    // Each failed check shows its message with one button, starts nothing and leaves the file alone;
    // a definition that passes them all goes to the blank builder.
    void blankBuilderChecks_data() {
        QTest::addColumn<QByteArray>("content"); // empty: a new definition, never saved
        QTest::addColumn<QString>("typedTable"); // null: as loaded
        QTest::addColumn<QString>("caption");    // null: accepted
        QTest::addColumn<QString>("text");
        const QString error = QStringLiteral(" ERROR ");
        const QString path = QStringLiteral(" Enter the database path ");
        const QString table = QStringLiteral(" Database does not defined");
        QTest::newRow("never saved") << QByteArray() << QString() << " ATTENTION  "
                                     << " Save the report ";
        QTest::newRow("no directory")
            << definition("/r/a.xls", false, "", "T.DB") << QString() << error << path;
        QTest::newRow("directory FALSE")
            << definition("/r/a.xls", false, "FALSE", "T.DB") << QString() << error << path;
        QTest::newRow("directory holding FALSE")
            << definition("/r/a.xls", false, "/x/FALSE/", "T.DB") << QString() << error << path;
        QTest::newRow("no alias") << definition("/r/a.xls", true, "", "T") << QString() << error << path;
        QTest::newRow("table of blanks")
            << definition("/r/a.xls", false, "/data/", "T.DB") << "   " << error << table;
        QTest::newRow("no alias table")
            << definition("/r/a.xls", true, "DEMO", "") << QString() << error << table;
        QTest::newRow("no workbook") << definition("", false, "/data/", "T.DB") << QString() << error << "";
        QTest::newRow("table with blanks around")
            << definition("/r/a.xls", false, "/data/", "T.DB") << "  T.DB " << QString() << QString();
        QTest::newRow("alias table a blank, as typed")
            << definition("/r/a.xls", true, "DEMO", "T") << " " << QString() << QString();
    }
    void blankBuilderChecks() {
        QFETCH(QByteArray, content);
        QFETCH(QString, typedTable);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QVERIFY(installTool(QStringLiteral("zarmek.exe")));
        const QString file = m_tmp->filePath(QStringLiteral("a.pr"));
        TForm1* w = content.isEmpty() ? newDocument(*m_frame) : openDefinition(file, content);
        QVERIFY(w);
        if (!typedTable.isNull())
            w->aliasMode() ? w->ComboBox2->setEditText(typedTable) : w->Edit2->setText(typedTable);

        DialogRecord rec;
        test::answerNextMessageDialog(Answer::Ok, &rec, caption.isNull() ? 500 : 10000);
        m_tools->blankBuilder();
        if (caption.isNull()) {
            QVERIFY(waitFor([&]() { return QFileInfo::exists(outFile()); }, 10000));
            QCOMPARE(test::readFile(outFile()), "1\n" + file.toUtf8());
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
            QCOMPARE(test::readFile(file), content);
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
        QVERIFY(installTool(QStringLiteral("VORTAL1")));
        const QString file = m_tmp->filePath(QStringLiteral("a.pr"));
        TForm1* w =
            isNew ? newDocument(*m_frame) : openDefinition(file, definition("/r/a.xls", false, "/d/", "T"));
        QVERIFY(w);
        if (!isNew)
            w->Edit1->setText(name);
        DialogRecord rec;
        test::answerNextMessageDialog(Answer::Ok, &rec);
        m_tools->generateReport();
        QCOMPARE(rec.title, QStringLiteral(" Save the report "));
        QCOMPARE(rec.text, name);
        QTest::qWait(200);
        QVERIFY(!QFileInfo::exists(outFile()));
        if (isNew)
            return;
        QVERIFY(installTool(QStringLiteral("zarmek.exe")));
        NoDialogExpected guard;
        m_tools->blankBuilder();
        QVERIFY(waitFor([&]() { return QFileInfo::exists(outFile()); }, 10000));
        QVERIFY(!guard.seen());
    }

    // The blank builder from start to end: "ZARMEK" written, the main window minimised and disabled
    // while the tool runs, and its message (or its silent end, or a failed start) giving it back.
    void blankBuilderRun_data() {
        QTest::addColumn<QString>("mode"); // missing, plain: no tool that can start
        QTest::addColumn<QString>("workbookAfter");
        QTest::newRow("posts 1029") << "done"
                                    << "/new place/Sales «final».xls";
        QTest::newRow("posts 1025") << "restore"
                                    << "/r/a.xls";
        QTest::newRow("ends without posting") << "silent"
                                              << "/r/a.xls";
        QTest::newRow("missing") << "missing"
                                 << "/r/a.xls";
        QTest::newRow("not executable") << "plain"
                                        << "/r/a.xls";
    }
    void blankBuilderRun() {
        QFETCH(QString, mode);
        QFETCH(QString, workbookAfter);
        const bool startable = mode != QLatin1String("missing") && mode != QLatin1String("plain");
        if (startable)
            QVERIFY(installTool(QStringLiteral("zarmek.exe")));
        if (mode == QLatin1String("plain"))
            QVERIFY(test::writeFile(startDir() + QStringLiteral("/zarmek.exe"), "#!/bin/sh\n"));
        const QString file = m_tmp->filePath(QStringLiteral("a.pr"));
        TForm1* w = openDefinition(file, definition("/r/a.xls", false, "/data/", "ORDERS.DB"));
        QVERIFY(w);
        mainWindow()->showMaximized();
        qputenv("LW_STANDIN_MODE", mode.toUtf8());
        qputenv("LW_STANDIN_GO", goFile().toUtf8());
        qputenv("LW_STANDIN_EXCEL", "/new place/Sales «final».xls");

        NoDialogExpected guard;
        m_tools->blankBuilder();
        const QByteArray written = test::readFile(file);
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
        QVERIFY(waitFor([&]() { return QFileInfo::exists(outFile()); }, 10000));
        QCOMPARE(test::readFile(outFile() + QStringLiteral(".window")), m_tools->portAddress().toUtf8());
        QTest::qWait(100);
        QVERIFY(!mainWindow()->isEnabled()); // still waiting for the tool

        QVERIFY(test::writeFile(goFile(), ""));
        QVERIFY(waitFor([&]() { return mainWindow()->isEnabled(); }, 10000));
        QCOMPARE(mainWindow()->windowState(), Qt::WindowNoState);
        QCOMPARE(w->workbookPath(), workbookAfter);
        QCOMPARE(w->Label3->text(), workbookAfter);
        QVERIFY(!guard.seen());
        if (mode == QLatin1String("done")) { // a later Save derives the workbook path again
            w->Edit1->setText(QStringLiteral("Sales 2"));
            QVERIFY(saveDocument(*m_frame, w));
            QCOMPARE(w->Label3->text(), m_tmp->filePath(QStringLiteral("a.xls")));
        }
    }

    // The definition path arrives whole, as one argument, at either tool (VORTAL1 found as VORTAL1.exe).
    void pathArrivesWhole_data() {
        QTest::addColumn<bool>("generator");
        QTest::newRow("blank builder") << false;
        QTest::newRow("report generator") << true;
    }
    void pathArrivesWhole() {
        QFETCH(bool, generator);
        QVERIFY(installTool(generator ? QStringLiteral("VORTAL1.exe") : QStringLiteral("zarmek.exe")));
        const QString file =
            m_tmp->filePath(QString::fromUtf8("my \"odd\" dir/Отчёт it's $(touch X) `x`; a&b.pr"));
        QVERIFY(openDefinition(file, definition("/r/a.xls", false, "/data/", "ORDERS.DB")));
        NoDialogExpected guard;
        generator ? m_tools->generateReport() : m_tools->blankBuilder();
        QVERIFY(waitFor([&]() { return QFileInfo::exists(outFile()); }, 10000));
        QCOMPARE(test::readFile(outFile()), "1\n" + file.toUtf8());
        QVERIFY(!QFileInfo::exists(QStringLiteral("X")));
        QVERIFY(!guard.seen());
        if (generator) // the generator leaves the main window as it is
            QVERIFY(mainWindowNormal());
    }

    // With no editor window 1029 only restores; other numbers and junk on the port change nothing.
    void messagesWithoutEditorWindow() {
        mainWindow()->setEnabled(false);
        mainWindow()->showMinimized();
        m_tools->handleMessage(1026);
        for (const QByteArray& line : {QByteArray("WM_USER+5\n"), QByteArray("1029")}) {
            QLocalSocket client;
            client.connectToServer(m_tools->portAddress());
            QVERIFY(client.waitForConnected(2000));
            client.write(line);
            client.flush();
            if (!line.endsWith('\n'))
                client.disconnectFromServer();
            QVERIFY(waitFor([&]() { return client.state() == QLocalSocket::UnconnectedState; }));
            QTest::qWait(20);
            QCOMPARE(mainWindowNormal(), line == "1029");
        }
    }
};

QTEST_MAIN(TstSibling)
#include "tst_sibling.moc"
