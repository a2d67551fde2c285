// The alias configuration engine on real database engines: SQLite through Qt's driver, ODBC
// through unixODBC and the SQLite ODBC driver, PostgreSQL on the server scripts/test-servers
// starts; connection reuse; where the configuration is found; the demo data built with the program.
#include "platform/profile.h"
#include "report/catalogue.h"
#include "report/engine_aliasfile.h"
#include "support/testsupport.h"

#include <QDirIterator>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace lw;

namespace {

QString engineErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EngineError& e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

QStringList tablesOf(const QString& alias) {
    QStringList dest;
    lw::listTables(alias, dest);
    return dest;
}

// Runs statements on a connection of the test's own.
bool execAll(const QString& connection, const QStringList& statements) {
    QSqlDatabase db = QSqlDatabase::database(connection);
    for (const QString& s : statements) {
        QSqlQuery q(db);
        if (!q.exec(s)) {
            qWarning("%s: %s", qPrintable(s), qPrintable(q.lastError().text()));
            return false;
        }
    }
    return true;
}

// The SQLite ODBC driver library of Debian's libsqliteodbc.
QString sqliteOdbcDriver() {
    QStringList dirs{"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc",
                     "/usr/local/lib/odbc", "/usr/lib64"};
    QDirIterator it(QStringLiteral("/usr/lib"), {QStringLiteral("odbc")}, QDir::Dirs);
    while (it.hasNext()) {
        dirs << it.next();
    }
    for (const QString& dir : dirs) {
        const QString candidate = dir + QStringLiteral("/libsqlite3odbc.so");
        if (QFileInfo::exists(candidate)) {
            return candidate;
        }
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

    QByteArray configuration() const {
        QByteArray text = "[Shop]\nTYPE=SQLITE\nDATABASE NAME=db/shop.sqlite\n"
                          "[Letter]\nTYPE=SQLITE\nDATABASE NAME=letter.txt\n"
                          "[Shop ODBC]\nTYPE=ODBC\nODBC DSN=lw_shop\n"
                          "[Nowhere ODBC]\nTYPE=ODBC\nODBC DSN=lw_no_such_dsn\n";
        if (m_pgSkip.isEmpty()) {
            text += postgresAlias("Server", qgetenv("LEDGERWICK_TEST_PG_USER"));
            text += postgresAlias("Stranger", "lw_nobody");
        }
        return text;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_config = m_dir.filePath(QStringLiteral("aliases.ini"));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("db")));
        QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("letter.txt")),
                                "Dear reader,\nthis is no database.\n"));

        // The shop database, with SQLite's own bookkeeping tables beside the user's.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            db.setDatabaseName(m_dir.filePath(QStringLiteral("db/shop.sqlite")));
            QVERIFY(db.open());
            QVERIFY(
                execAll(QStringLiteral("setup"),
                        {"CREATE TABLE customers (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT)",
                         "CREATE TABLE \"Orders\" (id INTEGER PRIMARY KEY, customer INTEGER)",
                         "CREATE TABLE \"Übersicht\" (x)", "CREATE VIEW recent AS SELECT * FROM \"Orders\"",
                         "CREATE INDEX orders_customer ON \"Orders\"(customer)",
                         "INSERT INTO customers (name) VALUES ('Ada')", "ANALYZE"}));
        }

        // A data source of our own: unixODBC reads ODBCSYSINI and ODBCINI when a connection opens.
        const QString driver = sqliteOdbcDriver();
        if (driver.isEmpty()) {
            m_odbcSkip = QStringLiteral("the SQLite ODBC driver (package libsqliteodbc) is not installed");
        } else {
            QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("odbcinst.ini")),
                                    "[LW SQLite3]\nDescription=SQLite3 for the tests\nDriver=" +
                                        QFile::encodeName(driver) + "\n"));
            QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("odbc.ini")),
                                    "[lw_shop]\nDriver=LW SQLite3\nDatabase=" +
                                        QFile::encodeName(m_dir.filePath(QStringLiteral("db/shop.sqlite"))) +
                                        "\n"));
            qputenv("ODBCSYSINI", QFile::encodeName(m_dir.path()));
            qputenv("ODBCINI", QFile::encodeName(m_dir.filePath(QStringLiteral("odbc.ini"))));
        }
        if (qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST") ||
            qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_DB")) {
            m_pgSkip = QStringLiteral("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set "
                                      "(scripts/test starts one with scripts/test-servers)");
        }
    }

    void init() { useConfiguration(configuration()); }
    void cleanupTestCase() { setEngine(nullptr); }

    void sqliteTables() {
        QCOMPARE(tablesOf(QStringLiteral("shop")), (QStringList{"customers", "Orders", "Übersicht"}));
    }

    void sqliteFileThatIsNoDatabase() {
        QStringList dest{"stale"};
        const QString text = engineErrorOf([&] { lw::listTables(QStringLiteral("Letter"), dest); });
        QVERIFY2(text.contains(QStringLiteral("letter.txt\" of alias \"Letter\" cannot be read")),
                 qPrintable(text));
        QVERIFY(dest.isEmpty());
        QVERIFY(!QSqlDatabase::contains(QStringLiteral("Letter")));
    }

    // One connection per alias, kept and reused; the lists themselves are asked for afresh.
    void sqliteConnectionReuse() {
        tablesOf(QStringLiteral("Shop"));
        QVERIFY(QSqlDatabase::contains(QStringLiteral("Shop")));
        const void* first = handleOf(QStringLiteral("Shop"));
        QVERIFY(first != nullptr);

        QVERIFY(execAll(QStringLiteral("setup"), {"CREATE TABLE added (x)"}));
        QCOMPARE(tablesOf(QStringLiteral("SHOP")),
                 (QStringList{"customers", "Orders", "Übersicht", "added"}));
        QCOMPARE(handleOf(QStringLiteral("Shop")), first);
        QVERIFY(execAll(QStringLiteral("setup"), {"DROP TABLE added"}));
    }

    // An alias pointed elsewhere while the program runs lists the database it now names.
    void changedAliasGetsANewConnection() {
        tablesOf(QStringLiteral("Shop"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            db.setDatabaseName(m_dir.filePath(QStringLiteral("other.sqlite")));
            QVERIFY(db.open());
            QVERIFY(execAll(QStringLiteral("other"), {"CREATE TABLE elsewhere (x)"}));
        }
        useConfiguration("[Shop]\nTYPE=SQLITE\nDATABASE NAME=other.sqlite\n");
        QCOMPARE(tablesOf(QStringLiteral("Shop")), QStringList{"elsewhere"});
    }

    void odbcTables() {
        if (!m_odbcSkip.isEmpty()) {
            QSKIP(qPrintable(m_odbcSkip));
        }
        QCOMPARE(tablesOf(QStringLiteral("shop odbc")), (QStringList{"customers", "Orders", "Übersicht"}));
        const void* first = handleOf(QStringLiteral("Shop ODBC"));
        tablesOf(QStringLiteral("Shop ODBC"));
        QCOMPARE(handleOf(QStringLiteral("Shop ODBC")), first);
    }

    void odbcUnknownDataSource() {
        if (!m_odbcSkip.isEmpty()) {
            QSKIP(qPrintable(m_odbcSkip));
        }
        QStringList dest{"stale"};
        const QString text = engineErrorOf([&] { lw::listTables(QStringLiteral("Nowhere ODBC"), dest); });
        QVERIFY2(text.startsWith(QStringLiteral("Cannot open the database of alias \"Nowhere ODBC\": ")),
                 qPrintable(text));
        QVERIFY(dest.isEmpty());
    }

    // Tables of every schema (others than "public" by schema and name), no views, no system
    // tables, and those whose names begin with "Inv", which Qt's own listing drops.
    void postgresTables() {
        if (!m_pgSkip.isEmpty()) {
            QSKIP(qPrintable(m_pgSkip));
        }
        QCOMPARE(tablesOf(QStringLiteral("server")),
                 (QStringList{"Inventory", "Kunden_Übersicht", "Orders", "customers", "invoices",
                              "archive.orders_1998"}));
    }

    void postgresConnectionReuse() {
        if (!m_pgSkip.isEmpty()) {
            QSKIP(qPrintable(m_pgSkip));
        }
        auto backend = [] {
            QSqlQuery q(QSqlDatabase::database(QStringLiteral("Server"), false));
            return q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next() ? q.value(0).toInt() : 0;
        };
        tablesOf(QStringLiteral("Server"));
        const int first = backend();
        QVERIFY(first != 0);
        tablesOf(QStringLiteral("Server"));
        QCOMPARE(backend(), first);

        // A kept connection that the server ended is opened again on the next listing.
        {
            QSqlDatabase killer =
                QSqlDatabase::cloneDatabase(QStringLiteral("Server"), QStringLiteral("killer"));
            QVERIFY(killer.open());
            QSqlQuery q(killer);
            QVERIFY(q.exec(QStringLiteral("SELECT pg_terminate_backend(%1)").arg(first)));
            const bool gone = test::waitFor([&] {
                return q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE pid = %1")
                                  .arg(first)) &&
                       q.next() && q.value(0).toInt() == 0;
            });
            QVERIFY(gone);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("killer"));
        QCOMPARE(tablesOf(QStringLiteral("Server")).size(), 6);
        const int second = backend();
        QVERIFY(second != 0);
        QVERIFY(second != first);
    }

    void postgresRefusedLogin() {
        if (!m_pgSkip.isEmpty()) {
            QSKIP(qPrintable(m_pgSkip));
        }
        QStringList dest{"stale"};
        const QString text = engineErrorOf([&] { lw::listTables(QStringLiteral("Stranger"), dest); });
        QVERIFY2(text.startsWith(QStringLiteral("Cannot open the database of alias \"Stranger\": ")) &&
                     text.contains(QStringLiteral("lw_nobody")),
                 qPrintable(text));
        QVERIFY(dest.isEmpty());
    }

    void postgresParameters() {
        if (!m_pgSkip.isEmpty()) {
            QSKIP(qPrintable(m_pgSkip));
        }
        const QString host = qEnvironmentVariable("LEDGERWICK_TEST_PG_HOST");
        QCOMPARE(engine().aliasParameters(QStringLiteral("server")).first(),
                 QStringLiteral("SERVER NAME=") + host);
        QCOMPARE(lw::normalisePath(QStringLiteral("Server")),
                 QStringLiteral("R NAME=") + host + QLatin1Char('/'));
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
        if (!saved.isNull()) {
            qputenv("LEDGERWICK_ALIASES", saved);
        }
    }

    void demoData() {
        const QString demoDir = qEnvironmentVariable("LEDGERWICK_TEST_BINARY_DIR") + QStringLiteral("/demo");
        setEngine(std::make_unique<AliasFileEngine>(demoDir + QStringLiteral("/aliases.ini")));
        QStringList aliases;
        lw::listAliases(aliases);
        QCOMPARE(aliases, (QStringList{"DEMO", "DEMO SQLITE"}));
        const QStringList dbf = tablesOf(QStringLiteral("demo"));
        QCOMPARE(dbf, (QStringList{"CLIENTS.DBF", "ORDERS.DBF", "Parts.dbf"}));
        QCOMPARE(tablesOf(QStringLiteral("Demo SQLite")), (QStringList{"regions", "sales", "Stock Levels"}));
        QCOMPARE(lw::normalisePath(QStringLiteral("DEMO")), demoDir + QStringLiteral("/tables/"));

        // Each table is a well-formed dBASE III file: header, field descriptors, records, end mark.
        for (const QString& name : dbf) {
            const QByteArray f = test::readFile(demoDir + QStringLiteral("/tables/") + name);
            QVERIFY2(f.size() > 33, qPrintable(name));
            const auto* b = reinterpret_cast<const uchar*>(f.constData());
            const quint32 records = qFromLittleEndian<quint32>(b + 4);
            const int header = qFromLittleEndian<quint16>(b + 8);
            const int recordLength = qFromLittleEndian<quint16>(b + 10);
            QCOMPARE(int(b[0]), 3);
            QVERIFY(records > 0);
            QCOMPARE((header - 33) % 32, 0);
            QCOMPARE(int(b[header - 1]), 0x0D);
            int fieldsLength = 1;
            for (int at = 32; at < header - 1; at += 32) {
                QVERIFY(QByteArray("CNDL").contains(char(b[at + 11])));
                fieldsLength += b[at + 16];
            }
            QCOMPARE(recordLength, fieldsLength);
            QCOMPARE(qint64(f.size()), qint64(header) + qint64(records) * recordLength + 1);
            QCOMPARE(int(b[f.size() - 1]), 0x1A);
            for (quint32 r = 0; r < records; ++r) {
                QCOMPARE(f.at(header + int(r) * recordLength), ' ');
            }
        }
    }
};

QTEST_MAIN(TstCatalogueEngines)
#include "tst_catalogue_engines.moc"
