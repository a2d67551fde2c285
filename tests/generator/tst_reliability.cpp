// The report generator under stress, as a program: queries stopped by a signal or their time limit,
// kills during the write, private blanks, relative paths, tables changed while read, reports past
// the format's limits, huge blanks, conditions on PostgreSQL aliases by role, and what it says.
#include "../data/fixtures.h"
#include "report/definition.h"
#include "support/testsupport.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QtEndian>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lw;

namespace {

QString binaryDir() { return qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR"); }
bool havePostgres() { return !qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST"); }

struct Run {
    int exit = -1;
    QString err;
    QString out;
    qint64 ms = 0; // from the signal (or the start) to the end
};

// A condition that never ends, per kind of source.
const QString EndlessSqlite = QStringLiteral(
    "where ID in (with recursive c(i) as (select 1 union all select i + 1 from c) select i from c where i < 0)");
const QString EndlessDbase = QStringLiteral(
    "where (select count(*) from ORDERS a, ORDERS b, ORDERS c, ORDERS d, ORDERS e, ORDERS f, ORDERS g, ORDERS h, "
    "ORDERS i, ORDERS j, ORDERS k, ORDERS l, ORDERS m) < 0");
const QString EndlessPostgres = QStringLiteral("where pg_sleep(1e9) is null");

} // namespace

class TstReliability : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_program;

    QString path(const QString& name) const { return m_tmp.filePath(name); }

    QProcessEnvironment environment(const QStringList& env = {}) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("LEDGERWICK_ALIASES", path("aliases.ini"));
        e.insert("XDG_CONFIG_HOME", path("config"));
        e.insert("ODBCSYSINI", path(""));
        e.insert("ODBCINI", path("odbc.ini"));
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        return e;
    }

    Run run(const QStringList& args, const QStringList& env = {}, const QString& workingDir = {}) {
        QProcess p;
        p.setProcessEnvironment(environment(env));
        if (!workingDir.isEmpty())
            p.setWorkingDirectory(workingDir);
        QElapsedTimer t;
        t.start();
        p.start(m_program, args);
        Run r;
        if (!p.waitForFinished(180000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.ms = t.elapsed();
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.err = QString::fromUtf8(p.readAllStandardError());
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        return r;
    }

    // Starts the generator, sends it a signal after a while, and times how long it takes to end.
    Run runAndSignal(const QStringList& args, int signal, int afterMs, const QStringList& env = {}) {
        QProcess p;
        p.setProcessEnvironment(environment(env));
        p.start(m_program, args);
        Run r;
        if (!p.waitForStarted())
            return r;
        const qint64 pid = p.processId();
        if (p.waitForFinished(afterMs)) { // ended before the signal: the test's fault
            r.err = QString::fromUtf8(p.readAllStandardError());
            return r;
        }
        QElapsedTimer t;
        t.start();
        if (pid > 0) // never a whole process group
            ::kill(pid_t(pid), signal);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.ms = t.elapsed();
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // A columnar blank with one band row of markers, written by our writer (.xls or .xlsx by its name).
    bool makeBlank(const QString& file, const QStringList& markers) {
        const auto fill = [&markers](auto& w, int xf) {
            w.beginSheet("Report");
            w.writeText(0, 0, xf, "Title");
            for (int c = 0; c < markers.size(); ++c)
                w.writeText(1, c, xf, "${" + markers[c] + "}");
            w.finish();
        };
        try {
            if (file.endsWith(".xlsx")) {
                xlsx::NewWorkbookWriter w(file);
                fill(w, 0);
            } else {
                xls::WorkbookWriter w(file);
                fill(w, 15);
            }
            return true;
        } catch (const xls::Error& e) {
            qWarning() << e.what();
            return false;
        }
    }

    QString definition(const QString& name, const QString& source, const QString& table, const QString& condition = {},
                       bool alias = true, const QString& excel = {}, int view = 1, int list = 0) {
        ReportDefinition d;
        d.name = name;
        d.view = view;
        d.list = list;
        d.alias = alias;
        d.path = source;
        d.db = table;
        d.from = 1;
        d.to = 0;
        d.sqlOnOff = !condition.isEmpty();
        d.sql = condition;
        d.excel = excel;
        writeDefinition(path(name + ".pr"), d);
        return path(name + ".pr");
    }

    QString reportOf(const QString& name, const QString& ext = "xls") const { return path(name + "_report." + ext); }

    bool setSettings(const QByteArray& excelSection) {
        return QDir().mkpath(path("config/Ledgerwick")) &&
               test::writeFile(path("config/Ledgerwick/l_wick.ini"), "[EXCEL]\n" + excelSection);
    }

    // A connection to the test server as user, to the report database (or another).
    QSqlDatabase pg(const QString& connection, const QString& user, const QString& database = "lw_reliability") {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", connection);
        db.setHostName(qEnvironmentVariable("LEDGERWICK_TEST_PG_HOST"));
        db.setPort(qEnvironmentVariableIntValue("LEDGERWICK_TEST_PG_PORT"));
        db.setUserName(user);
        db.setDatabaseName(database);
        return db;
    }

    // Backends of the report database running a statement that holds text.
    int activeBackends(const QString& text) {
        int n = -1;
        {
            QSqlDatabase db = pg("watch", "postgres");
            if (db.open()) {
                QSqlQuery q(db);
                if (q.exec(QStringLiteral("select count(*) from pg_stat_activity where datname = 'lw_reliability' "
                                          "and state = 'active' and query like '%%1%' and pid <> pg_backend_pid()")
                               .arg(text)) &&
                    q.next())
                    n = q.value(0).toInt();
            }
        }
        QSqlDatabase::removeDatabase("watch");
        return n;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_program = binaryDir() + "/VORTAL1";
        QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName(path("shop.sqlite"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE SALES (ID INTEGER, NAME TEXT)"));
            QVERIFY(q.exec("INSERT INTO SALES WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c "
                           "WHERE i < 300) SELECT i, 'Client ' || i FROM c"));
            QVERIFY(q.exec("CREATE TABLE BIG AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                           "FROM c WHERE i < 250000) SELECT i AS ID, 'Client number ' || i AS NAME FROM c"));
        }
        QSqlDatabase::removeDatabase("setup");
        QVERIFY(QDir().mkpath(path("tables")));
        QVERIFY(QFile::copy(binaryDir() + "/demo/tables/ORDERS.DBF", path("tables/ORDERS.DBF")));
        QByteArray aliases = "[SHOP]\nTYPE=SQLITE\nDATABASE NAME=shop.sqlite\n\n[TABLES]\nTYPE=STANDARD\nPATH=" +
                             QFile::encodeName(path("tables")) + "\n";
        // ODBC through unixODBC and the SQLite ODBC driver, when it is installed.
        for (const char* d : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
            if (const QString lib = QLatin1String(d) + "/libsqlite3odbc.so"; QFileInfo::exists(lib)) {
                QVERIFY(test::writeFile(path("odbcinst.ini"), "[LW SQLite3]\nDriver=" + QFile::encodeName(lib) + "\n"));
                QVERIFY(test::writeFile(path("odbc.ini"), "[lw_shop]\nDriver=LW SQLite3\nDatabase=" +
                                                              QFile::encodeName(path("shop.sqlite")) + "\n"));
                aliases += "\n[SHOP ODBC]\nTYPE=ODBC\nODBC DSN=lw_shop\n";
                break;
            }
        }
        if (havePostgres()) {
            const QByteArray server = "TYPE=POSTGRESQL\nSERVER NAME=" + qgetenv("LEDGERWICK_TEST_PG_HOST") +
                                      "\nPORT=" + qgetenv("LEDGERWICK_TEST_PG_PORT") + "\nDATABASE NAME=lw_reliability\n";
            aliases += "\n[PG]\n" + server + "USER NAME=postgres\n";
            aliases += "\n[PG READER]\n" + server + "USER NAME=lw_reader\n";
            aliases += "\n[PG SERVER FILES]\n" + server + "USER NAME=lw_files\n";
            aliases += "\n[PG TRUSTED]\n" + server + "USER NAME=postgres\nConditions=trusted\n";
            {
                QSqlDatabase db = pg("pg", "postgres", "postgres");
                QVERIFY2(db.open(), qPrintable(db.lastError().text()));
                QSqlQuery(db).exec("DROP DATABASE IF EXISTS lw_reliability");
                QVERIFY(QSqlQuery(db).exec("CREATE DATABASE lw_reliability ENCODING 'UTF8' TEMPLATE template0"));
                for (const char* role : {"lw_reader", "lw_files"}) {
                    QSqlQuery(db).exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
                    QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role)));
                }
                QVERIFY(QSqlQuery(db).exec("GRANT pg_read_server_files TO lw_files"));
            }
            QSqlDatabase::removeDatabase("pg");
            {
                QSqlDatabase db = pg("pg", "postgres");
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY(q.exec("CREATE TABLE sales (id integer, name text)"));
                QVERIFY(q.exec("INSERT INTO sales SELECT i, 'Client ' || i FROM generate_series(1, 300) i"));
                QVERIFY(q.exec("GRANT SELECT ON sales TO lw_reader, lw_files"));
            }
            QSqlDatabase::removeDatabase("pg");
        }
        QVERIFY(test::writeFile(path("aliases.ini"), aliases));
        QVERIFY(setSettings(""));
    }

    // A query that never ends is stopped by SIGTERM or SIGINT within 2 s, whatever the source; the
    // old report stays and nothing is left beside it. After kill -9 the PostgreSQL backend ends too.
    void endlessQueryStopped_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<int>("signal");
        QTest::newRow("SQLite alias, SIGTERM") << "SHOP" << "SALES" << EndlessSqlite << SIGTERM;
        QTest::newRow("SQLite alias, SIGINT") << "SHOP" << "SALES" << EndlessSqlite << SIGINT;
        QTest::newRow("dBASE table, SIGTERM") << "TABLES" << "ORDERS" << EndlessDbase << SIGTERM;
        QTest::newRow("ODBC, SIGTERM") << "SHOP ODBC" << "SALES" << EndlessSqlite << SIGTERM;
        QTest::newRow("PostgreSQL, SIGTERM") << "PG READER" << "sales" << EndlessPostgres << SIGTERM;
        QTest::newRow("PostgreSQL, SIGINT") << "PG READER" << "sales" << EndlessPostgres << SIGINT;
        QTest::newRow("PostgreSQL, SIGKILL") << "PG READER" << "sales" << EndlessPostgres << SIGKILL;
    }
    void endlessQueryStopped() {
        QFETCH(QString, source);
        QFETCH(QString, table);
        QFETCH(QString, condition);
        QFETCH(int, signal);
        if (source.startsWith("PG") && !havePostgres())
            QSKIP("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set (scripts/test starts one)");
        if (source.contains("ODBC") && !QFile::exists(path("odbc.ini")))
            QSKIP("the SQLite ODBC driver (package libsqliteodbc) is not installed");
        static int n = 0;
        const QString name = QStringLiteral("endless%1").arg(n++);
        QVERIFY(makeBlank(path(name + ".xls"), {table == "ORDERS" ? "ORDERNO" : "NAME"}));
        QVERIFY(test::writeFile(reportOf(name), "the old report"));
        const QString def = definition(name, source, table, condition);
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        const Run r = runAndSignal({"--batch", def}, signal, 1500);
        QVERIFY2(r.ms > 0, qPrintable(r.err));
        if (signal != SIGKILL) {
            QVERIFY2(r.ms < 2000, qPrintable(QString::number(r.ms)));
            QCOMPARE(r.exit, 1);
        }
        QCOMPARE(test::readFile(reportOf(name)), QByteArray("the old report"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        if (source.startsWith("PG")) // the server's statement ends with its client
            QVERIFY(QTest::qWaitFor([&] { return activeBackends("pg_sleep") == 0; }, 5000));
    }

    // The time limit "QueryTimeout" ends an endless query with a message naming the limit; a
    // condition longer than 1,000,000 bytes is refused before any engine sees it.
    void queryTimeLimit_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("expected");
        QTest::newRow("SQLite alias") << "SHOP" << "SALES" << EndlessSqlite << "stopped after 1 seconds";
        QTest::newRow("dBASE table") << "TABLES" << "ORDERS" << EndlessDbase << "stopped after 1 seconds";
        QTest::newRow("PostgreSQL") << "PG READER" << "sales" << EndlessPostgres << "stopped after 1 seconds";
        QTest::newRow("ODBC") << "SHOP ODBC" << "SALES" << EndlessSqlite << "stopped after 1 seconds";
        const QString longCondition = "where name <> '" + QString(1100000, 'x') + "'";
        QTest::newRow("long, PostgreSQL") << "PG READER" << "sales" << longCondition << "longer than 1000000 bytes";
        QTest::newRow("long, SQLite alias") << "SHOP" << "SALES" << longCondition << "longer than 1000000 bytes";
        QTest::newRow("long, dBASE table") << "TABLES" << "ORDERS" << longCondition << "longer than 1000000 bytes";
    }
    void queryTimeLimit() {
        QFETCH(QString, source);
        QFETCH(QString, table);
        QFETCH(QString, condition);
        QFETCH(QString, expected);
        if (source.startsWith("PG") && !havePostgres())
            QSKIP("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set (scripts/test starts one)");
        if (source.contains("ODBC") && !QFile::exists(path("odbc.ini")))
            QSKIP("the SQLite ODBC driver (package libsqliteodbc) is not installed");
        static int n = 0;
        const QString name = QStringLiteral("limit%1").arg(n++);
        QVERIFY(makeBlank(path(name + ".xls"), {table == "ORDERS" ? "ORDERNO" : "NAME"}));
        QVERIFY(setSettings("QueryTimeout=1\n"));
        const Run r = run({"--batch", definition(name, source, table, condition)});
        QVERIFY(setSettings(""));
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains("Report error: ") && r.err.contains(expected), qPrintable(r.err));
        QVERIFY2(r.ms < 8000, qPrintable(QString::number(r.ms)));
        QVERIFY(!QFile::exists(reportOf(name)));
    }

    // kill -9 at any moment, the final write included, leaves nothing in the report's folder or in
    // the temporary folder: the old report or a complete new one. What dead writers left before
    // (named after their process, or an earlier version's names a day old) goes with the next run.
    void killedAnyMoment_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("afterMs");
        // A whole run takes about half a second (.xls) or three (.xlsx): kills fall on every phase,
        // the final write included.
        for (int ms = 50; ms <= 700; ms += 50)
            QTest::newRow(qPrintable(QStringLiteral("after %1 ms").arg(ms))) << "xls" << ms;
        for (int ms = 250; ms <= 4000; ms += 250)
            QTest::newRow(qPrintable(QStringLiteral(".xlsx, after %1 ms").arg(ms))) << "xlsx" << ms;
    }
    void killedAnyMoment() {
        QFETCH(QString, ext);
        QFETCH(int, afterMs);
        const QString name = "killed";
        const QString blank = path(name + "." + ext);
        if (!QFile::exists(blank))
            QVERIFY(makeBlank(blank, {"ID", "NAME", "ID", "NAME", "ID", "NAME", "ID", "NAME"}));
        const QString def = definition(name, "SHOP", "BIG", {}, true, ext == "xls" ? QString() : blank);
        QFile::remove(reportOf(name, ext));
        QVERIFY(test::writeFile(reportOf(name, ext), "the old report"));
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        const QString scratch = path("scratch");
        QVERIFY(QDir().mkpath(scratch));
        const Run r = runAndSignal({"--batch", def}, SIGKILL, afterMs, {"TMPDIR=" + scratch});
        if (r.ms == 0) // ended before the kill: done, the new report in place
            QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        const QByteArray report = test::readFile(reportOf(name, ext));
        const auto sheets = [&] {
            return ext == "xls" ? xls::readWorkbook(reportOf(name)).sheets.size()
                                : xlsx::readPackage(reportOf(name, ext)).book.sheets.size();
        };
        QVERIFY2(report == "the old report" || sheets() == (ext == "xls" ? 4 : 1),
                 qPrintable(r.err + QString::number(report.size())));
        const QStringList left = QDir(scratch).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(", ")));
    }
    // kill -9 while a new .xlsx blank is written (the blank builder's) leaves nothing beside it:
    // no blank at all, or the whole one. The kills fall on filling the sheet and on zipping it.
    void killedBlankWrite_data() {
        QTest::addColumn<int>("afterMs");
        for (int ms : {0, 30, 100, 200, 300, 450, 600, 800, 1100, 1500})
            QTest::newRow(qPrintable(QStringLiteral("after %1 ms").arg(ms))) << ms;
    }
    void killedBlankWrite() {
        QFETCH(int, afterMs);
        const QString dir = path(QStringLiteral("blank-killed-%1").arg(afterMs));
        QVERIFY(QDir().mkpath(dir));
        const QString blank = dir + "/new.xlsx";
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                xlsx::NewWorkbookWriter w(blank);
                w.beginSheet("Report");
                for (int r = 0; r < 300000; ++r)
                    w.writeText(r, 0, 0, QStringLiteral("Client number %1").arg(r));
                w.finish();
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        QVERIFY(child > 0);
        QThread::msleep(afterMs);
        ::kill(child, SIGKILL); // never a process group
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
        if (!left.isEmpty()) {
            QCOMPARE(left, QStringList{"new.xlsx"});
            QCOMPARE(xlsx::readPackage(blank).book.sheets.at(0).cells.size(), std::size_t(300000));
        }
    }

    void staleTemporariesRemoved_data() {
        QTest::addColumn<QString>("ext");
        QTest::newRow(".xls") << "xls";
        QTest::newRow(".xlsx") << "xlsx";
    }
    void staleTemporariesRemoved() {
        QFETCH(QString, ext);
        const QString name = "stale" + ext;
        const QString blank = path(name + "." + ext);
        QVERIFY(makeBlank(blank, {"NAME"}));
        const QString def = definition(name, "SHOP", "SALES", {}, true, ext == "xls" ? QString() : blank);
        QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        before << name + "_report." + ext;
        // The process ids of a process that has ended and of this one (alive).
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        QVERIFY(child > 0);
        ::waitpid(child, nullptr, 0);
        const QString base = path("." + name + "_report." + ext + ".");
        const QStringList stale = {base + QString::number(child) + ".tmp", base + QString::number(child) + ".1f.tmp",
                                   base + "Ab12Cd", path(".gsf-save-Zz9Yx8")};
        const QStringList kept = {base + QString::number(::getpid()) + ".tmp", base + "Ab12Cd.bak",
                                  base + "fresh1"};
        for (const QString& f : stale + kept)
            QVERIFY(test::writeFile(f, "left behind"));
        const QDateTime old = QDateTime::currentDateTime().addDays(-2);
        for (const QString& f : {base + "Ab12Cd", path(".gsf-save-Zz9Yx8"), base + "Ab12Cd.bak"}) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        QCOMPARE(run({"--batch", def}).exit, 0);
        for (const QString& f : stale)
            QVERIFY2(!QFile::exists(f), qPrintable(f));
        for (const QString& f : kept)
            QVERIFY2(QFile::remove(f), qPrintable(f));
        QStringList after = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        before.sort();
        after.sort();
        QCOMPARE(after, before);
    }

    // A new report has no permission bits that its blank lacks (the umask on top); a report that
    // exists keeps its mode.
    void reportPermissions_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("blankMode");
        QTest::addColumn<int>("reportMode"); // the existing report's; 0: none
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("expected");
        for (const QString ext : {"xls", "xlsx"}) {
            const auto row = [&ext](const char* name) -> QTestData& {
                return QTest::newRow(qPrintable(ext == "xls" ? QString(name) : "." + ext + ", " + name)) << ext;
            };
            row("private blank") << 0600 << 0 << 022 << 0600;
            row("group-readable blank") << 0640 << 0 << 022 << 0640;
            row("public blank, umask 077") << 0644 << 0 << 077 << 0600;
            row("public blank") << 0644 << 0 << 022 << 0644;
            row("executable blank") << 0755 << 0 << 002 << 0644;
            row("read-only blank") << 0400 << 0 << 022 << 0400;
            row("private blank, public report") << 0600 << 0644 << 022 << 0644;
            row("public blank, private report") << 0644 << 0600 << 022 << 0600;
        }
    }
    void reportPermissions() {
        QFETCH(QString, ext);
        QFETCH(int, blankMode);
        QFETCH(int, reportMode);
        QFETCH(int, mask);
        QFETCH(int, expected);
        static int n = 0;
        const QString name = QStringLiteral("mode%1").arg(n++);
        const QString blank = path(name + "." + ext);
        QVERIFY(makeBlank(blank, {"NAME"}));
        QCOMPARE(::chmod(QFile::encodeName(blank).constData(), mode_t(blankMode)), 0);
        if (reportMode) {
            QVERIFY(test::writeFile(reportOf(name, ext), "the old report"));
            QCOMPARE(::chmod(QFile::encodeName(reportOf(name, ext)).constData(), mode_t(reportMode)), 0);
        }
        const QString def = definition(name, "SHOP", "SALES", {}, true, ext == "xls" ? QString() : blank);
        const mode_t old = ::umask(mode_t(mask)); // the child inherits it
        const Run r = run({"--batch", def});
        ::umask(old);
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(reportOf(name, ext)).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), expected);
    }

    // A relative "Excel" path is taken from the definition's folder, wherever the generator is
    // started; the spreadsheet program gets the report's absolute path, so that a name starting
    // with "-" is never taken for an option.
    void relativeWorkbookPath_data() {
        QTest::addColumn<QString>("excel");  // as the definition holds it
        QTest::addColumn<QString>("report"); // where the report is, under the test's folder
        QTest::newRow("in a subfolder") << "sub/rel.xls" << "defs/sub/rel_report.xls";
        QTest::newRow("dot first") << "./dot.xls" << "defs/dot_report.xls";
        QTest::newRow("parent folder") << "../up.xls" << "up_report.xls";
        QTest::newRow("starts with a dash") << "-dash.xls" << "defs/-dash_report.xls";
        QTest::newRow("derived from the definition") << "" << "defs/derived_report.xls";
    }
    void relativeWorkbookPath() {
        QFETCH(QString, excel);
        QFETCH(QString, report);
        QVERIFY(QDir().mkpath(path("defs/sub")) && QDir().mkpath(path("elsewhere")));
        const QString name = excel.isEmpty() ? "derived" : QFileInfo(excel).completeBaseName();
        const QString blank = excel.isEmpty() ? path("defs/derived.xls") : QDir::cleanPath(path("defs/" + excel));
        QVERIFY(makeBlank(blank, {"NAME"}));
        ReportDefinition d;
        d.name = name;
        d.view = 1;
        d.alias = true;
        d.path = "SHOP";
        d.db = "SALES";
        d.from = 1;
        d.to = 2;
        d.excel = excel;
        writeDefinition(path("defs/" + name + ".pr"), d);
        const QString opened = path("opened.txt");
        QFile::remove(opened);
        QVERIFY(test::writeFile(path("spreadsheet.sh"), "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " +
                                                            QFile::encodeName(opened) + "\n"));
        QVERIFY(QFile::setPermissions(path("spreadsheet.sh"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(setSettings("Show=1\nProgram=" + QFile::encodeName(path("spreadsheet.sh")) + "\n"));
        // Started from another folder with the definition's relative path, as a launcher may.
        const Run r = run({"../defs/" + name + ".pr"}, {"QT_QPA_PLATFORM=offscreen", "LEDGERWICK_TEST_ANSWERS=ok,ok"},
                          path("elsewhere"));
        QVERIFY(setSettings(""));
        QVERIFY2(r.exit == 0, qPrintable(r.err));
        QVERIFY(QFile::exists(path(report)));
        QVERIFY(QTest::qWaitFor([&] { return test::readFile(opened) == QFile::encodeName(path(report)); }, 10000));
        QVERIFY(QDir(path("elsewhere")).isEmpty());
    }

    // A dBASE table rewritten in place (same size) while the generator reads it: " Report error",
    // the table changed, the old report kept; the same table left alone makes its report.
    void tableChangedWhileRead_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("whole table, rewritten") << "" << true;
        QTest::newRow("condition, rewritten") << "where ID > 0" << true;
        QTest::newRow("sorted, rewritten") << "order by NAME desc" << true;
        QTest::newRow("whole table, left alone") << "" << false;
        QTest::newRow("condition, left alone") << "where ID > 0" << false;
    }
    void tableChangedWhileRead() {
        QFETCH(QString, condition);
        QFETCH(bool, rewritten);
        const QList<lwtest::DbfField> fields{{"ID", 'N', 8}, {"NAME", 'C', 20}};
        constexpr int records = 60000;
        const auto table = [&](char version) {
            QList<QByteArray> rows;
            for (int i = 1; i <= records; ++i)
                rows << lwtest::dbfRecord(fields, {QByteArray::number(i), "Name " + QByteArray(1, version) +
                                                                             QByteArray::number(i)});
            return lwtest::dbfTable(0x03, 0x57, fields, rows);
        };
        const QByteArray first = table('a'), second = table('b');
        QCOMPARE(first.size(), second.size());
        const QString file = path("changing/PEOPLE.DBF");
        QVERIFY(QDir().mkpath(path("changing")));
        QVERIFY(test::writeFile(file, first));
        static int n = 0;
        const QString name = QStringLiteral("changing%1").arg(n++);
        // 60,000 records: the run takes long enough for the table to change under it.
        QVERIFY(makeBlank(path(name + ".xls"), {"ID", "NAME"}));
        QVERIFY(test::writeFile(reportOf(name), "the old report"));
        const QString def = definition(name, path("changing"), "PEOPLE.DBF", condition, false);
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(m_program, {"--batch", def});
        QVERIFY(p.waitForStarted());
        // In place, as a program that edits records does: the same file, the same size.
        int rewrites = 0;
        while (!p.waitForFinished(5)) {
            if (!rewritten)
                continue;
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.write(++rewrites % 2 ? second : first) == first.size());
        }
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (!rewritten) {
            QVERIFY2(p.exitCode() == 0, qPrintable(err));
            QCOMPARE(xls::readWorkbook(reportOf(name)).sheets.at(0).cells.size(), std::size_t(1 + 2 * records));
            return;
        }
        QVERIFY(rewrites > 0);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains("Report error: The table file \"" + file + "\" changed while it was read: run the report again"),
                 qPrintable(err));
        QCOMPARE(test::readFile(reportOf(name)), QByteArray("the old report"));
    }

    // Past a limit of the format the generator stops as soon as the report crosses it, saying how
    // many records fit, and writes nothing; --check says so before anything is written. The 2 GB
    // of the workbook stream are stood in for by a small limit (LEDGERWICK_TEST_STREAM_LIMIT).
    void formatLimits_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("list");       // 1: a sheet per record
        QTest::addColumn<int>("bandRows");   // rows of 256 marker cells in the band (columnar)
        QTest::addColumn<bool>("checkOnly");
        QTest::addColumn<QString>("limit");  // the stand-in for 2 GB; empty: the real one
        QTest::addColumn<QString>("fit");    // the records that fit, as the message says
        QTest::newRow("65,535 sheets, --check") << "BIG" << 70000 << 1 << 0 << true << "" << "65535";
        QTest::newRow("65,535 sheets") << "BIG" << 70000 << 1 << 0 << false << "" << "65535";
        QTest::newRow("2 GB, --check") << "BIG" << 5000 << 0 << 200 << true << "" << "4158";
        QTest::newRow("2 GB stand-in, columnar") << "BIG" << 0 << 0 << 0 << false << "3000000" << "";
        QTest::newRow("2 GB stand-in, sheets") << "BIG" << 20000 << 1 << 0 << false << "3000000" << "";
    }
    void formatLimits() {
        QFETCH(QString, table);
        QFETCH(int, to);
        QFETCH(int, list);
        QFETCH(int, bandRows);
        QFETCH(bool, checkOnly);
        QFETCH(QString, limit);
        QFETCH(QString, fit);
        static int n = 0;
        const QString name = QStringLiteral("large%1").arg(n++);
        if (bandRows == 0) {
            QVERIFY(makeBlank(path(name + ".xls"), {"ID", "NAME"}));
        } else {
            xls::WorkbookWriter w(path(name + ".xls"));
            w.beginSheet("Wide");
            for (int r = 0; r < bandRows; ++r)
                for (int c = 0; c < 256; ++c)
                    w.writeText(r, c, 15, c % 2 ? "${NAME}" : "${ID}");
            w.finish();
        }
        ReportDefinition d;
        d.name = name;
        d.view = list ? 0 : 1;
        d.list = list;
        d.alias = true;
        d.path = "SHOP";
        d.db = table;
        d.from = 1;
        d.to = to;
        writeDefinition(path(name + ".pr"), d);
        QVERIFY(test::writeFile(reportOf(name), "the old report"));
        const QStringList env = limit.isEmpty() ? QStringList() : QStringList{"LEDGERWICK_TEST_STREAM_LIMIT=" + limit};
        const QStringList before = QDir(path("")).entryList(QDir::Files | QDir::Hidden);
        const Run r = run({checkOnly ? "--check" : "--batch", path(name + ".pr")}, env);
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains("Report error: The report is too large for an .xls workbook: it would pass its " +
                                QString(limit.isEmpty() && list ? "65,535 sheets" : "2 GB")),
                 qPrintable(r.err));
        QCOMPARE(test::readFile(reportOf(name)), QByteArray("the old report"));
        QCOMPARE(QDir(path("")).entryList(QDir::Files | QDir::Hidden), before);
        const qsizetype at = r.err.indexOf("Only the first ") + 15;
        const qint64 fits = r.err.mid(at, r.err.indexOf(' ', at) - at).toLongLong();
        if (!fit.isEmpty())
            QCOMPARE(QString::number(fits), fit);
        if (checkOnly || limit.isEmpty())
            return;
        // As many records as it said fit do fit.
        QVERIFY(fits > 0);
        d.to = int(fits);
        writeDefinition(path(name + ".pr"), d);
        const Run again = run({"--batch", path(name + ".pr")}, env);
        QVERIFY2(again.exit == 0, qPrintable(again.err));
    }

    // The blank's runs of formatted empty cells (MULBLANK) are held as runs: a sheet filled with
    // them is read, checked and copied in memory bounded by four times the blank's size and a
    // constant; a blank whose cells could not be held within the limit (stood in for by a small
    // one) is a clear " Report error" naming it, never a bad_alloc.
    void blankFullOfEmptyCells_data() {
        QTest::addColumn<bool>("alternating"); // two formats taking turns: no runs
        QTest::addColumn<bool>("checkOnly");
        QTest::addColumn<QString>("limit");    // LEDGERWICK_TEST_MODEL_LIMIT; empty: the real 1 GB
        QTest::newRow("runs, --check") << false << true << "";
        QTest::newRow("runs, report") << false << false << "";
        QTest::newRow("no runs, past the limit") << true << false << "50000000";
        QTest::newRow("no runs, past the limit, --check") << true << true << "50000000";
    }
    void blankFullOfEmptyCells() {
        QFETCH(bool, alternating);
        QFETCH(bool, checkOnly);
        QFETCH(QString, limit);
        const QString name = alternating ? "alternating" : "emptycells";
        if (!QFile::exists(path(name + ".xls"))) {
            xls::WorkbookWriter w(path(name + ".xls"));
            xls::CellFormat boxed;
            boxed.border = true;
            const quint16 box = w.addFormat(boxed);
            w.beginSheet("Filled");
            w.writeText(0, 0, box, "${NAME}");
            const int rows = alternating ? 20000 : xls::maxRows;
            for (int r = 1; r < rows; ++r) {
                if (!alternating) {
                    w.writeBlanks(r, 0, 255, box);
                    continue;
                }
                for (int c = 0; c < 256; ++c)
                    w.writeBlank(r, c, c % 2 ? box : quint16(15));
            }
            w.finish();
        }
        const qint64 size = QFileInfo(path(name + ".xls")).size();
        const QString def = definition(name, "SHOP", "SALES");
        ReportDefinition d = readDefinition(def);
        d.to = 3;
        writeDefinition(def, d);
        // The program run by hand, so that its own peak memory is measured (wait4).
        QProcessEnvironment e = environment(limit.isEmpty() ? QStringList() : QStringList{"LEDGERWICK_TEST_MODEL_LIMIT=" + limit});
        std::vector<QByteArray> envBytes, argBytes{QFile::encodeName(m_program), checkOnly ? "--check" : "--batch",
                                                    QFile::encodeName(def)};
        for (const QString& kv : e.toStringList())
            envBytes.push_back(kv.toLocal8Bit());
        std::vector<char*> envp, argv;
        for (QByteArray& b : envBytes)
            envp.push_back(b.data());
        envp.push_back(nullptr);
        for (QByteArray& b : argBytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        int pipeErr[2];
        QCOMPARE(::pipe(pipeErr), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeErr[1], 2);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        QVERIFY(pid > 0);
        ::close(pipeErr[1]);
        QByteArray err;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeErr[0], buffer, sizeof buffer)) > 0;)
            err.append(buffer, n);
        ::close(pipeErr[0]);
        int status = 0;
        struct rusage usage {};
        QCOMPARE(::wait4(pid, &status, 0, &usage), pid);
        QVERIFY(WIFEXITED(status));
        const qint64 peak = qint64(usage.ru_maxrss) * 1024;
        const qint64 bound = 4 * size + (80 << 20);
        QVERIFY2(peak <= bound, qPrintable(QStringLiteral("%1 bytes at the peak for a blank of %2").arg(peak).arg(size)));
        if (alternating) {
            QCOMPARE(WEXITSTATUS(status), 1);
            QVERIFY2(err.contains("Report error: " + QFile::encodeName(path(name + ".xls")) +
                                  ": holds more cells than can be read in 47 MB of memory"),
                     err.constData());
            QVERIFY(!err.contains("bad_alloc"));
            return;
        }
        QVERIFY2(WEXITSTATUS(status) == 0, err.constData());
        if (checkOnly)
            return;
        // Every formatted empty cell of the blank is in the report, in its format.
        const xls::Workbook report = xls::readWorkbook(reportOf(name));
        const xls::Sheet& last = report.sheets.back();
        for (int c : {0, 17, 255}) {
            const xls::Cell* cell = last.cellAt(last.lastRow(), c);
            QVERIFY(cell);
            QCOMPARE(cell->value.type, xls::ValueType::Empty);
            QVERIFY(cell->xf != 15);
        }
        qsizetype cells = 0;
        for (const xls::Sheet& sheet : report.sheets)
            for (const xls::Cell& c : sheet.cells)
                cells += 1 + c.repeat;
        QCOMPARE(cells, qsizetype(3 + (xls::maxRows - 1) * 256));
        // xlrd, which we did not write, reads the runs as formatted blank cells too.
        QProcess xlrd;
        xlrd.start("/usr/bin/python3",
                   {"-c", "import sys, xlrd\n"
                          "b = xlrd.open_workbook(sys.argv[1], formatting_info=True)\n"
                          "s = b.sheet_by_index(b.nsheets - 1)\n"
                          "row = s.row(s.nrows - 1)\n"
                          "print(len(row), sum(c.ctype == xlrd.XL_CELL_BLANK and c.xf_index != 15 for c in row))\n",
                    reportOf(name)});
        QVERIFY(xlrd.waitForFinished(120000));
        QCOMPARE(xlrd.readAllStandardOutput().trimmed(), QByteArray("256 256"));
    }

    // A condition runs on a PostgreSQL alias only when its login has no rights beyond reading the
    // database, or when the administrator marked the alias's conditions as trusted.
    void conditionsByRole_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("refusal"); // on standard error; empty: the report is made
        QTest::newRow("ordinary role") << "PG READER" << "where id < 3" << "";
        QTest::newRow("superuser") << "PG" << "where id < 3" << "logs in as \"postgres\", a superuser";
        QTest::newRow("superuser, lo_export") << "PG" << "where lo_export(0, '/tmp/x') is null"
                                                << "logs in as \"postgres\", a superuser";
        QTest::newRow("server files role") << "PG SERVER FILES" << "where pg_read_file('/etc/hostname') is null"
                                           << "logs in as \"lw_files\", a member of pg_read_server_files";
        QTest::newRow("superuser, no condition") << "PG" << "" << "";
        QTest::newRow("superuser, trusted") << "PG TRUSTED" << "where id < 3" << "";
        QTest::newRow("ordinary role, server file refused by the server")
            << "PG READER" << "where pg_read_file('/etc/hostname') is null" << "permission denied";
    }
    void conditionsByRole() {
        QFETCH(QString, alias);
        QFETCH(QString, condition);
        QFETCH(QString, refusal);
        if (!havePostgres())
            QSKIP("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set (scripts/test starts one)");
        static int n = 0;
        const QString name = QStringLiteral("role%1").arg(n++);
        QVERIFY(makeBlank(path(name + ".xls"), {"name"}));
        const Run r = run({"--batch", definition(name, alias, "sales", condition)});
        if (refusal.isEmpty()) {
            QVERIFY2(r.exit == 0, qPrintable(r.err));
            const int records = int(xls::readWorkbook(reportOf(name)).sheets.at(0).cells.size()) - 1;
            QCOMPARE(records, condition.isEmpty() ? 300 : 2);
            return;
        }
        QCOMPARE(r.exit, 1);
        QVERIFY2(r.err.contains("Report error: ") && r.err.contains(refusal), qPrintable(r.err));
        if (refusal.contains("logs in as"))
            QVERIFY2(r.err.contains("\"Conditions=trusted\""), qPrintable(r.err));
        QVERIFY(!QFile::exists(reportOf(name)));
    }

    // What the user is told names the cause and the folder or file: a temporary folder that takes
    // no more data, a blank whose compound file is damaged (and nothing of libgsf's own on standard
    // error), a function the guard of table-file conditions refuses.
    void messagesNameTheCause_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("temporary folder full") << "full" << ""
                                               << QStringList{"the temporary folder " + path("scratch"), "File too large"};
        QTest::newRow("directory of the compound file damaged")
            << "directory" << "" << QStringList{"damaged compound file"};
        QTest::newRow("allocation table of the compound file damaged")
            << "fat" << "" << QStringList{"damaged compound file"};
        QTest::newRow("pragma function on a table file")
            << "table" << "where ORDERNO in (select cid from pragma_table_info('ORDERS'))"
            << QStringList{"is refused: ", "pragma_table_info", "function"};
        QTest::newRow("pragma function of a value on a table file")
            << "table" << "where ORDERNO = pragma_nothing()" << QStringList{"no such function: pragma_nothing"};
    }
    void messagesNameTheCause() {
        QFETCH(QString, kind);
        QFETCH(QString, condition);
        QFETCH(QStringList, expected);
        static int n = 0;
        const QString name = QStringLiteral("told%1").arg(n++);
        QVERIFY(makeBlank(path(name + ".xls"), {kind == "table" ? "ORDERNO" : "ID"}));
        if (kind == "directory" || kind == "fat") {
            QByteArray bytes = test::readFile(path(name + ".xls"));
            QVERIFY(bytes.size() > 1024);
            const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
            // The header names the first directory sector (0x30) and the first sector of the
            // allocation table (0x4C); sector k starts at 512 * (k + 1).
            const qint64 sector = 512 * (qint64(u32(kind == "directory" ? 0x30 : 0x4C)) + 1);
            QVERIFY(sector + 512 <= bytes.size());
            for (int i = kind == "directory" ? 128 : 0; i < 512; ++i)
                bytes[sector + i] = char(kind == "directory" ? 0 : 0xFE);
            QVERIFY(test::writeFile(path(name + ".xls"), bytes));
        }
        const QString def = kind == "table" ? definition(name, "TABLES", "ORDERS", condition)
                                            : definition(name, "SHOP", "BIG");
        Run r;
        if (kind == "full") {
            // A temporary folder that takes no more than a megabyte: the file size limit, whose
            // signal the child ignores so that its writes fail as on a full disk.
            QVERIFY(QDir().mkpath(path("scratch")));
            struct rlimit old {};
            ::getrlimit(RLIMIT_FSIZE, &old);
            struct rlimit small = old;
            small.rlim_cur = 1 << 20;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
            std::signal(SIGXFSZ, SIG_IGN);
            r = run({"--batch", def}, {"TMPDIR=" + path("scratch")});
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, SIG_DFL);
        } else {
            r = run({"--batch", def});
        }
        QCOMPARE(r.exit, 1);
        for (const QString& e : expected)
            QVERIFY2(r.err.contains(e), qPrintable(r.err));
        QVERIFY2(r.err.startsWith("Report error: "), qPrintable(r.err));
        QVERIFY2(!r.err.contains("CRITICAL") && !r.err.contains("Unknown error") && r.err.count('\n') == 1,
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(reportOf(name)));
    }
};

QTEST_GUILESS_MAIN(TstReliability)
#include "tst_reliability.moc"
