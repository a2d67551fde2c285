// The alias configuration engine on real database engines: SQLite through Qt's driver, ODBC
// through unixODBC and the SQLite ODBC driver, PostgreSQL on the server scripts/test-servers
// starts; connection reuse; where the configuration is found.
#include "platform/profile.h"
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"
#include "support/testsupport.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
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
    for (const char* dir :
         {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
        if (const QString lib = QLatin1String(dir) + "/libsqlite3odbc.so"; QFileInfo::exists(lib))
            return lib;
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
};

QTEST_MAIN(TstCatalogueEngines)
#include "tst_catalogue_engines.moc"
