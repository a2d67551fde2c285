// The alias configuration engine on real database engines: SQLite through Qt's driver, ODBC
// through unixODBC and the SQLite ODBC driver, PostgreSQL on the server scripts/test-servers
// starts; connection reuse; where the configuration is found; the demo data built with the program.
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/engine_aliasfile.h"
#include "support/testsupport.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace lw;

namespace {

QStringList tablesOf(const QString& alias) {
    QStringList dest;
    lw::listTables(alias, dest);
    return dest;
}

// Lists the tables of an alias that cannot be opened: the error text, and the list left empty.
QString openFailure(const QString& alias) {
    QStringList dest{"stale"};
    try {
        lw::listTables(alias, dest);
    } catch (const EngineError& e) {
        return dest.isEmpty() ? QString::fromUtf8(e.what()) : QStringLiteral("list not emptied");
    }
    return QStringLiteral("no error");
}

// Runs statements on a connection of the test's own.
bool execAll(const QString& connection, const QStringList& statements) {
    for (const QString& s : statements) {
        QSqlQuery q(QSqlDatabase::database(connection));
        if (!q.exec(s)) {
            qWarning("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
            return false;
        }
    }
    return true;
}

// The SQLite ODBC driver library of Debian's libsqliteodbc.
QString sqliteOdbcDriver() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc",
                            "/usr/lib/odbc", "/usr/local/lib/odbc", "/usr/lib64"}) {
        if (QFileInfo::exists(QLatin1String(dir) + QStringLiteral("/libsqlite3odbc.so")))
            return QLatin1String(dir) + QStringLiteral("/libsqlite3odbc.so");
    }
    return QString();
}

// The stored connection handle, to see whether a connection was reused.
const void* handleOf(const QString& connection) {
    const QVariant h = QSqlDatabase::database(connection, false).driver()->handle();
    return h.isValid() ? *static_cast<void* const*>(h.constData()) : nullptr;
}

} // namespace

class TstCatalogueEngines : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_config;
    QString m_odbcSkip;
    QString m_pgSkip;

    void useConfiguration(const QByteArray& text) {
        QVERIFY(test::writeFile(m_config, text));
        setEngine(std::make_unique<AliasFileEngine>(m_config));
    }

    QByteArray postgresAlias(const QByteArray& name, const QByteArray& user) const {
        return "[" + name + "]\nTYPE=POSTGRESQL\nSERVER NAME=" + qgetenv("LEDGERWICK_TEST_PG_HOST") +
               "\nPORT=" + qgetenv("LEDGERWICK_TEST_PG_PORT") +
               "\nDATABASE NAME=" + qgetenv("LEDGERWICK_TEST_PG_DB") + "\nUSER NAME=" + user + "\n";
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_config = m_dir.filePath("aliases.ini");
        QVERIFY(test::writeFile(m_dir.filePath("letter.txt"), "Dear reader,\nno database.\n"));

        // The shop database, with SQLite's own bookkeeping tables beside the user's.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
        QVERIFY(QDir().mkpath(m_dir.filePath("db")));
        db.setDatabaseName(m_dir.filePath("db/shop.sqlite"));
        QVERIFY(db.open());
        QVERIFY(execAll("setup",
                        {"CREATE TABLE customers (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT)",
                         "CREATE TABLE \"Orders\" (id INTEGER PRIMARY KEY, customer INTEGER)",
                         "CREATE TABLE \"Übersicht\" (x)", "CREATE VIEW recent AS SELECT * FROM \"Orders\"",
                         "CREATE INDEX orders_customer ON \"Orders\"(customer)",
                         "INSERT INTO customers (name) VALUES ('Ada')", "ANALYZE"}));

        // A data source of our own: unixODBC reads ODBCSYSINI and ODBCINI when a connection opens.
        const QString driver = sqliteOdbcDriver();
        if (driver.isEmpty()) {
            m_odbcSkip = QStringLiteral("the SQLite ODBC driver (package libsqliteodbc) is not installed");
        } else {
            QVERIFY(test::writeFile(m_dir.filePath("odbcinst.ini"),
                                    "[LW SQLite3]\nDriver=" + QFile::encodeName(driver) + "\n"));
            QVERIFY(test::writeFile(m_dir.filePath("odbc.ini"),
                                    "[lw_shop]\nDriver=LW SQLite3\nDatabase=" +
                                        QFile::encodeName(m_dir.filePath("db/shop.sqlite")) + "\n"));
            qputenv("ODBCSYSINI", QFile::encodeName(m_dir.path()));
            qputenv("ODBCINI", QFile::encodeName(m_dir.filePath("odbc.ini")));
        }
        if (qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST") ||
            qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_DB"))
            m_pgSkip = QStringLiteral("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set "
                                      "(scripts/test starts one with scripts/test-servers)");
    }

    void init() {
        QByteArray text = "[Shop]\nTYPE=SQLITE\nDATABASE NAME=db/shop.sqlite\n"
                          "[Letter]\nTYPE=SQLITE\nDATABASE NAME=letter.txt\n"
                          "[Shop ODBC]\nTYPE=ODBC\nODBC DSN=lw_shop\n"
                          "[Nowhere ODBC]\nTYPE=ODBC\nODBC DSN=lw_no_such_dsn\n";
        if (m_pgSkip.isEmpty())
            text += postgresAlias("Server", qgetenv("LEDGERWICK_TEST_PG_USER")) +
                    postgresAlias("Stranger", "lw_nobody");
        useConfiguration(text);
    }
    void cleanupTestCase() { setEngine(nullptr); }

    // User tables only (no views, indexes or SQLite's own); one connection per alias, kept and reused,
    // while the lists themselves are asked for afresh.
    void sqliteTablesAndConnectionReuse() {
        QCOMPARE(tablesOf("shop"), (QStringList{"customers", "Orders", "Übersicht"}));
        const void* first = handleOf("Shop");
        QVERIFY(first != nullptr);
        QVERIFY(execAll("setup", {"CREATE TABLE added (x)"}));
        QCOMPARE(tablesOf("SHOP"), (QStringList{"customers", "Orders", "Übersicht", "added"}));
        QCOMPARE(handleOf("Shop"), first);
        QVERIFY(execAll("setup", {"DROP TABLE added"}));

        // An alias pointed elsewhere while the program runs lists the database it now names.
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(m_dir.filePath("other.sqlite"));
        QVERIFY(other.open() && execAll("other", {"CREATE TABLE elsewhere (x)"}));
        useConfiguration("[Shop]\nTYPE=SQLITE\nDATABASE NAME=other.sqlite\n");
        QCOMPARE(tablesOf("Shop"), QStringList{"elsewhere"});
    }

    void odbcTables() {
        if (!m_odbcSkip.isEmpty())
            QSKIP(qPrintable(m_odbcSkip));
        QCOMPARE(tablesOf("shop odbc"), (QStringList{"customers", "Orders", "Übersicht"}));
        const void* first = handleOf("Shop ODBC");
        tablesOf("Shop ODBC");
        QCOMPARE(handleOf("Shop ODBC"), first);
    }

    // Tables of every schema (others than "public" by schema and name), no views, no system
    // tables, and those whose names begin with "Inv", which Qt's own listing drops.
    void postgresTablesAndParameters() {
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        QCOMPARE(tablesOf("server"), (QStringList{"Inventory", "Kunden_Übersicht", "Orders", "customers",
                                                  "invoices", "archive.orders_1998"}));
        const QString host = qEnvironmentVariable("LEDGERWICK_TEST_PG_HOST");
        QCOMPARE(engine().aliasParameters("server").first(), QStringLiteral("SERVER NAME=") + host);
        QCOMPARE(lw::normalisePath("Server"), QStringLiteral("R NAME=") + host + QLatin1Char('/'));
    }

    // A kept connection is reused; one that the server ended is opened again on the next listing.
    void postgresConnectionReuse() {
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        auto backend = [] {
            QSqlQuery q(QSqlDatabase::database(QStringLiteral("Server"), false));
            return q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next() ? q.value(0).toInt() : 0;
        };
        tablesOf("Server");
        const int first = backend();
        QVERIFY(first != 0);
        tablesOf("Server");
        QCOMPARE(backend(), first);
        {
            QSqlDatabase killer =
                QSqlDatabase::cloneDatabase(QStringLiteral("Server"), QStringLiteral("killer"));
            QVERIFY(killer.open());
            QSqlQuery q(killer);
            QVERIFY(q.exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(first)));
            QVERIFY(test::waitFor([&] {
                return q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid = %1")
                                  .arg(first)) &&
                       q.next() && q.value(0).toInt() == 0;
            }));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("killer"));
        QCOMPARE(tablesOf("Server").size(), 6);
        QVERIFY(backend() != 0 && backend() != first);
    }

    // A database that cannot be opened: a clear text naming the alias, an empty table list.
    void openFailures_data() {
        QTest::addColumn<QString>("alias");
        QTest::addColumn<QString>("expected");
        QTest::newRow("SQLite file that is no database") << "Letter"
                                                         << "letter.txt\" of alias \"Letter\" cannot be read";
        QTest::newRow("unknown ODBC data source") << "Nowhere ODBC"
                                                  << "Cannot open the database of alias \"Nowhere ODBC\": ";
        QTest::newRow("PostgreSQL login refused") << "Stranger"
                                                  << "Cannot open the database of alias \"Stranger\": ";
    }
    void openFailures() {
        QFETCH(QString, alias);
        QFETCH(QString, expected);
        if (alias.contains(QLatin1String("ODBC")) && !m_odbcSkip.isEmpty())
            QSKIP(qPrintable(m_odbcSkip));
        if (alias == QLatin1String("Stranger") && !m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        const QString text = openFailure(alias);
        QVERIFY2(text.contains(expected), qPrintable(text));
        if (alias == QLatin1String("Stranger"))
            QVERIFY2(text.contains(QStringLiteral("lw_nobody")), qPrintable(text));
        if (alias == QLatin1String("Letter"))
            QVERIFY(!QSqlDatabase::contains(alias));
    }

    // LEDGERWICK_ALIASES, else the per-user file, else the demo built with the program.
    void configurationLocation() {
        const QByteArray saved = qgetenv("LEDGERWICK_ALIASES");
        qputenv("LEDGERWICK_ALIASES", QFile::encodeName(m_config));
        QCOMPARE(AliasFileEngine::locateConfiguration(), m_config);
        setEngine(nullptr);
        QStringList aliases;
        lw::listAliases(aliases);
        QVERIFY(aliases.contains(QStringLiteral("Shop ODBC")));

        qunsetenv("LEDGERWICK_ALIASES");
        const QString perUser = profileDirectory() + QStringLiteral("/aliases.ini");
        QVERIFY(test::writeFile(perUser, "[Mine]\nTYPE=STANDARD\nPATH=/\n"));
        QCOMPARE(AliasFileEngine::locateConfiguration(), perUser);
        QVERIFY(QFile::remove(perUser));
        const QString demo = AliasFileEngine::locateConfiguration();
        QVERIFY2(demo.endsWith(QStringLiteral("/demo/aliases.ini")) && QFileInfo(demo).isFile(),
                 qPrintable(demo));
        if (!saved.isNull())
            qputenv("LEDGERWICK_ALIASES", saved);
    }

    // The demo aliases list their tables; each table is a well-formed dBASE III file.
    void demoData() {
        const QString demoDir = qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR") + QStringLiteral("/demo");
        setEngine(std::make_unique<AliasFileEngine>(demoDir + QStringLiteral("/aliases.ini")));
        QStringList aliases;
        lw::listAliases(aliases);
        QCOMPARE(aliases, (QStringList{"DEMO", "DEMO SQLITE"}));
        const QStringList dbf = tablesOf("demo");
        QCOMPARE(dbf, (QStringList{"CLIENTS.DBF", "ORDERS.DBF", "Parts.dbf"}));
        QCOMPARE(tablesOf("Demo SQLite"), (QStringList{"regions", "sales", "Stock Levels"}));
        QCOMPARE(lw::normalisePath("DEMO"), demoDir + QStringLiteral("/tables/"));

        for (const QString& name : dbf) {
            const QByteArray f = test::readFile(demoDir + QStringLiteral("/tables/") + name);
            QVERIFY2(f.size() > 33, qPrintable(name));
            const auto* b = reinterpret_cast<const uchar*>(f.constData());
            const qint64 records = qFromLittleEndian<quint32>(b + 4);
            const int header = qFromLittleEndian<quint16>(b + 8);
            int recordLength = 1; // the deletion mark, then the fields' lengths
            for (int at = 32; at < header - 1; at += 32) {
                QVERIFY(QByteArray("CNDL").contains(char(b[at + 11])));
                recordLength += b[at + 16];
            }
            QVERIFY(b[0] == 3 && records > 0 && (header - 33) % 32 == 0 && b[header - 1] == 0x0D);
            QCOMPARE(int(qFromLittleEndian<quint16>(b + 10)), recordLength);
            QCOMPARE(qint64(f.size()), header + records * recordLength + 1);
            QCOMPARE(int(b[f.size() - 1]), 0x1A);
            for (qint64 r = 0; r < records; ++r)
                QCOMPARE(f.at(header + r * recordLength), ' ');
        }
    }
};

QTEST_MAIN(TstCatalogueEngines)
#include "tst_catalogue_engines.moc"
