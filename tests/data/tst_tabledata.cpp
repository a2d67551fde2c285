// Queries of the table data library: opening sources, conditions through the guarded SQLite
// virtual table, the record range, the same records from a .dbf and from its SQLite copy, and
// database aliases (SQLite, ODBC, PostgreSQL on the server scripts/test-servers starts).
#include "data/tabledata.h"
#include "fixtures.h"
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace lw::data;
using lwtest::DbfField;

namespace {

const QList<DbfField> peopleFields = {{"NAME", 'C', 24},  {"CITY", 'C', 16}, {"AMOUNT", 'N', 10, 2},
                                      {"VISITS", 'N', 6}, {"SINCE", 'D', 8}, {"ACTIVE", 'L', 1}};

struct Person {
    QString name, city;
    QByteArray amount, visits, since, active;
};

const QList<Person> people = {
    {"Ada", "Leeds", "1250.00", "3", "19940312", "T"},
    {"O'Brien", "Cork", "96.75", "12", "19990203", "F"},
    {"Anna", "Москва", "385.50", "", "20000229", "T"},
    {"Ёлка", "Санкт-Петербург", "-10.00", "1", "        ", "?"},
    {"Bob \"the\" Builder", "Leeds", "100.00", "7", "20240105", "T"},
    {"Alice", "Oban", "5000.25", "0", "19851231", "F"},
};

bool exec(QSqlDatabase db, const QString& statement) {
    QSqlQuery q(db);
    if (!q.exec(statement)) {
        qWarning("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}

QString failure(const std::function<void()>& body) {
    try {
        body();
    } catch (const DataError& e) {
        return e.text();
    }
    return QStringLiteral("no error");
}

QStringList query(DataSource& source, const QString& table, const QString& condition, int from = 0,
                  int to = 0) {
    auto stream = source.query(table, condition, from, to);
    return lwtest::rows(*stream, false);
}

} // namespace

class TestTableData : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_pgSkip;

    void useAliases(const QByteArray& text) {
        QVERIFY(lwtest::writeFile(m_dir.filePath("aliases.ini"), text));
        lw::setEngine(std::make_unique<lw::AliasFileEngine>(m_dir.filePath("aliases.ini")));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.filePath("tables"));
        // The people table as a dBASE table (code page 1251) ...
        QList<QByteArray> records;
        for (const Person& p : people)
            records << lwtest::dbfRecord(peopleFields,
                                         {lwtest::encode(p.name, "CP1251"), lwtest::encode(p.city, "CP1251"),
                                          p.amount, p.visits, p.since, p.active});
        records.insert(
            2, lwtest::dbfRecord(peopleFields, {"Deleted", "Nowhere", "999.00", "1", "20000101", "T"}, '*'));
        QVERIFY(lwtest::writeFile(m_dir.filePath("tables/PEOPLE.DBF"),
                                  lwtest::dbfTable(0x03, 0xC9, peopleFields, records)));

        // ... and its copy in SQLite, typed as a user of SQL would type it.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("setup"));
            db.setDatabaseName(m_dir.filePath("people.sqlite"));
            QVERIFY(db.open());
            QVERIFY(exec(
                db,
                "CREATE TABLE \"PEOPLE.DBF\" (NAME TEXT, CITY TEXT, AMOUNT NUMERIC(10,2), VISITS INTEGER, "
                "SINCE DATE, ACTIVE BOOLEAN)"));
            for (const Person& p : people) {
                QSqlQuery q(db);
                q.prepare("INSERT INTO \"PEOPLE.DBF\" VALUES (?, ?, ?, ?, ?, ?)");
                q.addBindValue(p.name);
                q.addBindValue(p.city);
                q.addBindValue(p.amount.toDouble());
                q.addBindValue(p.visits.isEmpty() ? QVariant() : QVariant(p.visits.toLongLong()));
                const QDate d = QDate::fromString(QString::fromLatin1(p.since), QStringLiteral("yyyyMMdd"));
                q.addBindValue(d.isValid() ? QVariant(d.toString(Qt::ISODate)) : QVariant());
                q.addBindValue(p.active == "?" ? QVariant() : QVariant(p.active == "T" ? 1 : 0));
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            }
            QVERIFY(exec(
                db, "CREATE TABLE kinds (big INTEGER, day DATE, moment DATETIME, isotext TEXT, price REAL)"));
            QVERIFY(exec(db,
                         "INSERT INTO kinds VALUES (9007199254740993, '2024-02-29', '2024-02-29 13:45:10', "
                         "'2024-02-29', 2.5), (-9223372036854775807, 'not a date', NULL, 'x', NULL)"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("setup"));

        if (qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST") ||
            qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_DB"))
            m_pgSkip = QStringLiteral("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set "
                                      "(scripts/test starts one with scripts/test-servers)");
        useAliases(
            "[PEOPLE]\nTYPE=STANDARD\nPATH=tables\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE NAME=people.sqlite\n"
            "[BROKEN]\nTYPE=STANDARD\nPATH=no/such/dir\n");
    }

    void cleanupTestCase() { lw::setEngine(nullptr); }

    // Sources that cannot be opened: a Source error naming them.
    void openFailures_data() {
        QTest::addColumn<bool>("alias");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown alias") << true << "NOBODY"
                                       << "The alias \"NOBODY\" does not exist";
        QTest::newRow("alias of a missing directory") << true << "BROKEN"
                                                      << "of alias \"BROKEN\" does not exist";
        QTest::newRow("missing directory") << false << "/no/such/dir"
                                           << "The directory \"/no/such/dir\" does not exist";
        QTest::newRow("nothing given") << false << "  "
                                       << "No directory is given";
    }

    void openFailures() {
        QFETCH(bool, alias);
        QFETCH(QString, path);
        QFETCH(QString, error);
        try {
            DataSource::open({alias, path});
            QFAIL("opened");
        } catch (const DataError& e) {
            QCOMPARE(e.kind(), DataError::Kind::Source);
            QVERIFY2(e.text().contains(error), qPrintable(e.text()));
        }
    }

    // The same definition gives the same records from the .dbf and from its SQLite copy.
    void dbfAndSqliteAgree_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("count");
        QTest::newRow("everything") << "" << 0 << 0 << 6;
        QTest::newRow("number and text")
            << "where AMOUNT > 100 and NAME like 'A%' order by SINCE" << 0 << 0 << 3;
        QTest::newRow("quotes") << "where NAME = 'O''Brien' or NAME like '%\"the\"%'" << 0 << 0 << 2;
        QTest::newRow("non-ASCII text") << "where CITY = 'Москва' or NAME = 'Ёлка'" << 0 << 0 << 2;
        QTest::newRow("dates") << "where SINCE >= '2000-01-01' order by SINCE desc" << 0 << 0 << 2;
        QTest::newRow("nulls and logicals")
            << "where VISITS is null or ACTIVE is null or not ACTIVE order by NAME" << 0 << 0 << 4;
        QTest::newRow("functions") << "where upper(substr(CITY, 1, 1)) = 'L' order by AMOUNT" << 0 << 0 << 2;
        QTest::newRow("range of a sorted result") << "order by AMOUNT desc" << 2 << 4 << 3;
        QTest::newRow("subquery over the same table")
            << "where AMOUNT > (SELECT avg(AMOUNT) FROM \"PEOPLE.DBF\") order by NAME" << 0 << 0 << 2;
        QTest::newRow("union of two selects")
            << "where NAME = 'Ada' union all SELECT * FROM \"PEOPLE.DBF\" where CITY = 'Oban'" << 0 << 0 << 2;
        QTest::newRow("limit and offset") << "order by VISITS limit 2 offset 1" << 0 << 0 << 2;
        QTest::newRow("semicolons in quotes and comments")
            << "where NAME <> 'x; DELETE' and CITY <> 'y;''z' /* ; DROP */ order by NAME -- ; more" << 0 << 0
            << 6;
        QTest::newRow("order by a column number") << "order by 1 desc" << 0 << 0 << 6;
        QTest::newRow("trailing semicolon and comment") << "order by NAME; -- sorted" << 0 << 0 << 6;
    }

    void dbfAndSqliteAgree() {
        QFETCH(QString, condition);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, count);
        auto files = DataSource::open({true, QStringLiteral("people")});
        auto sql = DataSource::open({true, QStringLiteral("PEOPLE SQL")});
        const QStringList fromDbf = query(*files, QStringLiteral("PEOPLE.DBF"), condition, from, to);
        const QStringList fromSql = query(*sql, QStringLiteral("PEOPLE.DBF"), condition, from, to);
        QCOMPARE(fromDbf.size(), count);
        QCOMPARE(fromDbf, fromSql);
    }

    // The typed values a condition's result carries: dates stay dates, decimals keep their digits.
    void typedResults() {
        auto files = DataSource::open({false, m_dir.filePath("tables")});
        auto stream = files->query(QStringLiteral("people.dbf"), QStringLiteral("where NAME = 'Ada'"), 1, 0);
        QCOMPARE(stream->fields().size(), std::size_t(6));
        QCOMPARE(stream->fields()[4].type, FieldType::Date);
        QCOMPARE(stream->fields()[2].decimals, 2);
        Record r;
        QVERIFY(stream->next(r));
        QCOMPARE(r[4].kind, Value::Kind::Date);
        QCOMPARE(r[4].date, QDate(1994, 3, 12));
        QCOMPARE(r[2].kind, Value::Kind::Decimal);
        QCOMPARE(r[2].text, QStringLiteral("1250.00"));
        QCOMPARE(r[3].kind, Value::Kind::Integer);
        QCOMPARE(r[5].kind, Value::Kind::Logical);
        QVERIFY(!stream->next(r));
    }

    // From..To, counted from 1, with and without a condition.
    void recordRange_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("names");
        const QStringList all = {"Ada", "O'Brien", "Anna", "Ёлка", "Bob \"the\" Builder", "Alice"};
        for (const QString& condition :
             {QString(), QStringLiteral("where 1 = 1"), QStringLiteral("where 1 = 1 -- every one")}) {
            const QString c = condition.isEmpty()           ? QStringLiteral("plain, ")
                              : condition.contains(u'-') ? QStringLiteral("comment, ")
                                                          : QStringLiteral("condition, ");
            QTest::newRow(qPrintable(c + "0..0 is everything")) << condition << 0 << 0 << all;
            QTest::newRow(qPrintable(c + "from below 1")) << condition << -5 << 2 << all.mid(0, 2);
            QTest::newRow(qPrintable(c + "one record")) << condition << 3 << 3 << all.mid(2, 1);
            QTest::newRow(qPrintable(c + "to below from")) << condition << 4 << 2 << QStringList();
            QTest::newRow(qPrintable(c + "from past the end")) << condition << 7 << 0 << QStringList();
            QTest::newRow(qPrintable(c + "to past the end")) << condition << 5 << 100 << all.mid(4);
            QTest::newRow(qPrintable(c + "to the last")) << condition << 6 << 6 << all.mid(5);
        }
    }

    void recordRange() {
        QFETCH(QString, condition);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, names);
        for (const char* alias : {"PEOPLE", "PEOPLE SQL"}) {
            auto source = DataSource::open({true, QString::fromLatin1(alias)});
            QStringList got;
            for (const QString& row : query(*source, QStringLiteral("PEOPLE.DBF"), condition, from, to))
                got << row.section(QLatin1Char('|'), 0, 0);
            QCOMPARE(got, names);
            // A database counts the same records itself; table files leave the counting to the reader.
            const qint64 counted = source->countRecords(QStringLiteral("PEOPLE.DBF"), condition, from, to);
            QCOMPARE(counted, qstrcmp(alias, "PEOPLE") == 0 ? qint64(-1) : qint64(names.size()));
        }
    }

    // Reading stops at To: a damaged record after it is never reached.
    void rangeStopsReading() {
        const QString dir = m_dir.filePath("stops");
        QDir().mkpath(dir);
        const QList<DbfField> fields = {{"N", 'N', 4}, {"NOTE", 'M', 10}};
        QList<int> blocks;
        QVERIFY(lwtest::writeFile(dir + "/S.DBT", lwtest::dbt3Memo({"memo"}, blocks)));
        QList<QByteArray> records;
        for (int i = 1; i <= 6; ++i)
            records << lwtest::dbfRecord(fields, {QByteArray::number(i), i == 5 ? "777" : "1"});
        QVERIFY(lwtest::writeFile(dir + "/S.DBF", lwtest::dbfTable(0x83, 0x03, fields, records)));
        auto source = DataSource::open({false, dir});
        QCOMPARE(query(*source, "S.DBF", QString(), 2, 4), QStringList({"2|memo", "3|memo", "4|memo"}));
        const QString error = failure([&] { query(*source, "S.DBF", QString(), 0, 0); });
        QVERIFY2(error.contains("record 5, field NOTE") && error.contains(dir + "/S.DBF"), qPrintable(error));
        // Through the virtual table the reader's own message comes out whole.
        const QString viaSql = failure([&] { query(*source, "S.DBF", "where N > 0", 0, 0); });
        QVERIFY2(viaSql.contains("record 5, field NOTE"), qPrintable(viaSql));
    }

    // The guard around conditions on table files: one statement, reading that table only.
    void refusedConditions_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("error");
        QTest::newRow("second statement") << "where 1 = 1; DELETE FROM \"PEOPLE.DBF\""
                                          << "more than one statement";
        QTest::newRow("second select") << "; SELECT 1"
                                       << "more than one statement";
        QTest::newRow("attach") << "; ATTACH DATABASE '/tmp/x.db' AS x"
                                << "more than one statement";
        QTest::newRow("pragma table") << "where 1 = (SELECT count(*) FROM pragma_table_info('PEOPLE.DBF'))"
                                      << "is refused";
        QTest::newRow("schema") << "where NAME in (SELECT name FROM sqlite_master)"
                                << "only the table itself may be read";
        QTest::newRow("other table") << "where NAME in (SELECT name FROM sqlite_temp_master)"
                                     << "is refused";
        QTest::newRow("load_extension") << "where load_extension('/tmp/evil.so') is null"
                                        << "load_extension is not allowed";
        QTest::newRow("recursive query") << "where VISITS in (WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL "
                                            "SELECT n + 1 FROM c) SELECT n FROM c)"
                                         << "a recursive query is not allowed";
        QTest::newRow("bad syntax") << "where ("
                                    << "is wrong";
        QTest::newRow("unknown column") << "where NOPE = 1"
                                        << "no such column";
        QTest::newRow("huge value") << "where length(zeroblob(1000000000)) > 0"
                                    << "too big";
    }

    void refusedConditions() {
        QFETCH(QString, condition);
        QFETCH(QString, error);
        auto source = DataSource::open({true, QStringLiteral("PEOPLE")});
        try {
            query(*source, QStringLiteral("PEOPLE.DBF"), condition);
            QFAIL("the condition was run");
        } catch (const DataError& e) {
            QCOMPARE(e.kind(), DataError::Kind::Query);
            QVERIFY2(e.text().contains(error) && e.text().contains("PEOPLE.DBF"), qPrintable(e.text()));
        }
    }

    // SQL aliases: one statement in the engine's own SQL, typed values, missing tables.
    void sqliteAlias() {
        auto source = DataSource::open({true, QStringLiteral("PEOPLE SQL")});
        const std::vector<Field> fields = source->fields(QStringLiteral("kinds"));
        QCOMPARE(fields[0].type, FieldType::Integer);
        QCOMPARE(fields[1].type, FieldType::Date);
        QCOMPARE(fields[2].type, FieldType::Timestamp);
        QCOMPARE(fields[3].type, FieldType::Text);
        // Beyond 2^53 an integer stays exact; ISO text of a DATE column is a date, of a TEXT column text.
        QCOMPARE(query(*source, "kinds", "order by big desc"),
                 QStringList({"9007199254740993|2024-02-29|2024-02-29T13:45:10.000|2024-02-29|2.5",
                              "-9223372036854775807|not a date|null|x|null"}));
        QVERIFY(failure([&] {
                    query(*source, "kinds", "; DELETE FROM kinds");
                }).contains("more than one statement"));
        QVERIFY(failure([&] { query(*source, "kinds", "where nope"); }).contains("no such column"));
        const QString missing = failure([&] { source->fields(QStringLiteral("nothing")); });
        QVERIFY2(missing.contains("\"nothing\"") && missing.contains("PEOPLE SQL"), qPrintable(missing));
        QCOMPARE(query(*source, "kinds", "order by big", 1, 1).size(), 1);
    }

    // The demo SQLite database: every table it lists gives its fields and records.
    void demoDatabase() {
        useAliases("[DEMO SQLITE]\nTYPE=SQLITE\nDATABASE NAME=" LW_BUILD_DIR "/demo/demo.sqlite\n");
        QStringList tables;
        lw::listTables(QStringLiteral("DEMO SQLITE"), tables);
        QCOMPARE(tables.size(), 3);
        auto source = DataSource::open({true, QStringLiteral("demo sqlite")});
        for (const QString& table : tables) {
            QVERIFY(!source->fields(table).empty());
            QVERIFY2(query(*source, table, QString()).size() >= 3, qPrintable(table));
        }
        QCOMPARE(query(*source, QStringLiteral("Stock Levels"),
                       QStringLiteral("where quantity > 5000 order by item")),
                 QStringList({"Bolts|9800", "Nuts|12000"}));
        useAliases(
            "[PEOPLE]\nTYPE=STANDARD\nPATH=tables\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE NAME=people.sqlite\n"
            "[BROKEN]\nTYPE=STANDARD\nPATH=no/such/dir\n");
    }

    // ODBC through unixODBC and the SQLite ODBC driver, in read-only access mode.
    void odbcAlias() {
        QString driver;
        for (const char* d :
             {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
            if (const QString lib = QLatin1String(d) + "/libsqlite3odbc.so"; QFileInfo::exists(lib))
                driver = lib;
        }
        if (driver.isEmpty())
            QSKIP("the SQLite ODBC driver (package libsqliteodbc) is not installed");
        QVERIFY(lwtest::writeFile(m_dir.filePath("odbcinst.ini"),
                                  "[LW SQLite3]\nDriver=" + QFile::encodeName(driver) + "\n"));
        QVERIFY(lwtest::writeFile(m_dir.filePath("odbc.ini"),
                                  "[lw_people]\nDriver=LW SQLite3\nDatabase=" +
                                      QFile::encodeName(m_dir.filePath("people.sqlite")) + "\n"));
        qputenv("ODBCSYSINI", QFile::encodeName(m_dir.path()));
        qputenv("ODBCINI", QFile::encodeName(m_dir.filePath("odbc.ini")));
        useAliases("[PEOPLE ODBC]\nTYPE=ODBC\nODBC DSN=lw_people\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE "
                   "NAME=people.sqlite\n");
        auto odbc = DataSource::open({true, QStringLiteral("PEOPLE ODBC")});
        auto sql = DataSource::open({true, QStringLiteral("PEOPLE SQL")});
        const QString condition = QStringLiteral("where VISITS > 1 order by NAME");
        const QStringList viaOdbc = query(*odbc, QStringLiteral("PEOPLE.DBF"), condition, 1, 2);
        QCOMPARE(viaOdbc.size(), 2);
        // Names and numbers as the SQLite alias gives them (the ODBC driver types the rest its own way).
        const QStringList viaSqlite = query(*sql, QStringLiteral("PEOPLE.DBF"), condition, 1, 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(viaOdbc[i].section('|', 0, 1), viaSqlite[i].section('|', 0, 1));
        QVERIFY(failure([&] {
                    query(*odbc, "PEOPLE.DBF", "; DELETE FROM \"PEOPLE.DBF\"");
                }).contains("more than one statement"));
        useAliases(
            "[PEOPLE]\nTYPE=STANDARD\nPATH=tables\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE NAME=people.sqlite\n"
            "[BROKEN]\nTYPE=STANDARD\nPATH=no/such/dir\n");
    }

    // PostgreSQL: a read-only transaction, forward-only, the engine's types.
    void postgresAlias() {
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        const QByteArray host = qgetenv("LEDGERWICK_TEST_PG_HOST");
        const int port = qEnvironmentVariableIntValue("LEDGERWICK_TEST_PG_PORT");
        // A database of this test's own, so that the catalogue's tests see theirs unchanged.
        {
            QSqlDatabase admin =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("pgadmin"));
            admin.setHostName(QString::fromLocal8Bit(host));
            admin.setPort(port);
            admin.setDatabaseName(QStringLiteral("postgres"));
            admin.setUserName(QStringLiteral("postgres"));
            if (!admin.open())
                QSKIP(qPrintable("cannot connect as postgres: " + admin.lastError().text()));
            exec(admin, "DROP DATABASE IF EXISTS lw_data_test");
            QVERIFY(exec(admin, "CREATE DATABASE lw_data_test ENCODING 'UTF8' TEMPLATE template0"));
            admin.close();
            admin.setDatabaseName(QStringLiteral("lw_data_test"));
            QVERIFY(admin.open());
            QVERIFY(exec(
                admin, "CREATE TABLE items (id int8, name text, price numeric(10,2), day date, at timestamp, "
                       "clock time, ok boolean, ratio double precision)"));
            QVERIFY(
                exec(admin,
                     "INSERT INTO items VALUES (9007199254740993, 'Ёлка ''quoted''', 1234.50, '2024-02-29', "
                     "'2024-02-29 13:45:10.5', '08:30:00', true, 0.25), (2, NULL, -0.10, NULL, NULL, NULL, "
                     "false, NULL), (3, 'c', 100, '1999-12-31', NULL, NULL, NULL, 1e300)"));
            QVERIFY(exec(admin, "CREATE SCHEMA archive"));
            QVERIFY(exec(admin, "CREATE TABLE archive.\"Old Items\" (id int)"));
            QVERIFY(exec(admin, "INSERT INTO archive.\"Old Items\" VALUES (1), (2)"));
            QVERIFY(exec(admin, "CREATE SEQUENCE counter"));
            QVERIFY(exec(admin, "CREATE VIEW many AS SELECT i, 'row ' || i AS t FROM generate_series(1, 300000) AS i"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("pgadmin"));
        // A superuser runs conditions only where the administrator trusts them; what is tested here
        // is the read-only transaction around them.
        useAliases("[PG]\nTYPE=POSTGRESQL\nSERVER NAME=" + host + "\nPORT=" + QByteArray::number(port) +
                   "\nDATABASE NAME=lw_data_test\nUSER NAME=postgres\nConditions=trusted\n");
        auto source = DataSource::open({true, QStringLiteral("PG")});
        const std::vector<Field> fields = source->fields(QStringLiteral("items"));
        QCOMPARE(fields[2].type, FieldType::Decimal);
        QCOMPARE(fields[3].type, FieldType::Date);
        QCOMPARE(fields[4].type, FieldType::Timestamp);
        QCOMPARE(fields[5].type, FieldType::Time);
        QCOMPARE(fields[6].type, FieldType::Logical);
        QCOMPARE(query(*source, "items", "where name like 'Ё%' or price < 0 order by id desc"),
                 QStringList({"9007199254740993|Ёлка "
                              "'quoted'|d:1234.50|2024-02-29|2024-02-29T13:45:10.500|08:30:00.000|true|0.25",
                              "2|null|d:-0.10|null|null|null|false|null"}));
        QCOMPARE(query(*source, "items", "order by id", 2, 0).size(), 2);
        // Counted by the server, in the same read-only way; what it refuses is left to the query.
        QCOMPARE(source->countRecords("items", "where name like 'Ё%' or price < 0 order by id desc -- two", 0, 0),
                 qint64(2));
        QCOMPARE(source->countRecords("items", "order by id", 2, 0), qint64(2));
        QCOMPARE(source->countRecords("items", "where nextval('counter') > 0", 0, 0), qint64(-1));
        QCOMPARE(source->countRecords("items", "where no_such_column = 1", 0, 0), qint64(-1));
        QCOMPARE(source->countRecords("items", "; DELETE FROM items", 0, 0), qint64(-1));
        QCOMPARE(query(*source, "archive.Old Items", QString()).size(), 2);
        // Nothing may be changed: a second statement is refused, a writing function fails.
        QVERIFY(failure([&] {
                    query(*source, "items", "; DELETE FROM items");
                }).contains("more than one statement"));
        QVERIFY(failure([&] {
                    query(*source, "items", "$$;$$ = ''; DELETE FROM items");
                }).contains("more than one statement"));
        const QString readOnly = failure([&] { query(*source, "items", "where nextval('counter') > 0"); });
        QVERIFY2(readOnly.contains("read-only transaction"), qPrintable(readOnly));
        // The connection is usable after a failure, and after a range cut short.
        QCOMPARE(query(*source, "items", "order by id", 1, 1).size(), 1);
        QCOMPARE(query(*source, "items", QString()).size(), 3);
        // A large result left early: the rows still coming are dropped and the statement
        // cancelled, and the connection serves the next query; one read to its end gives each row.
        QCOMPARE(query(*source, "many", "order by i", 5, 7), QStringList({"5|row 5", "6|row 6", "7|row 7"}));
        QCOMPARE(query(*source, "items", "where id = 2"), QStringList({"2|null|d:-0.10|null|null|null|false|null"}));
        // A condition that ends in a comment or in its own terminator.
        QCOMPARE(query(*source, "items", "where id <= 3 order by id -- the two small ids").size(), 2);
        QCOMPARE(query(*source, "items", "where id > 2;").size(), 2);
        const QStringList many = query(*source, "many", "where i % 1000 = 0 order by i desc");
        QCOMPARE(many.size(), 300);
        QCOMPARE(many.first(), QStringLiteral("300000|row 300000"));
        // What the server refuses before its first row fails the query as before.
        const QString missing = failure([&] { query(*source, "items", "where no_such_column = 1"); });
        QVERIFY2(missing.contains("The query on table \"items\" of alias \"PG\" failed") &&
                     missing.contains("no_such_column"),
                 qPrintable(missing));
        const QString division = failure([&] { query(*source, "items", "where 1 / (id - 2) > 0"); });
        QVERIFY2(division.contains("division by zero"), qPrintable(division));
        QCOMPARE(query(*source, "items", QString()).size(), 3);
        useAliases(
            "[PEOPLE]\nTYPE=STANDARD\nPATH=tables\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE NAME=people.sqlite\n"
            "[BROKEN]\nTYPE=STANDARD\nPATH=no/such/dir\n");
    }

    // A PostgreSQL query stopped by its time limit or by the user, before its first row or while
    // its rows come: the reader says why, gives no row it did not get, and the connection serves
    // the next query. Runs on the database postgresAlias made.
    void postgresStopped_data() {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<bool>("cancelFirst");
        QTest::addColumn<int>("rowsBefore");
        QTest::addColumn<QString>("expected");
        QTest::newRow("time limit before the first row")
            << "where pg_sleep(30) is null" << false << 0 << "stopped after 1 seconds";
        QTest::newRow("time limit while rows come")
            << "where i <= 100 or pg_sleep(30) is null" << false << 100 << "stopped after 1 seconds";
        QTest::newRow("cancelled before the first row") << "where pg_sleep(30) is null" << true << 0 << "was cancelled";
    }

    void postgresStopped() {
        QFETCH(QString, condition);
        QFETCH(bool, cancelFirst);
        QFETCH(int, rowsBefore);
        QFETCH(QString, expected);
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        useAliases("[PG]\nTYPE=POSTGRESQL\nSERVER NAME=" + qgetenv("LEDGERWICK_TEST_PG_HOST") + "\nPORT=" +
                   qgetenv("LEDGERWICK_TEST_PG_PORT") +
                   "\nDATABASE NAME=lw_data_test\nUSER NAME=postgres\nConditions=trusted\n");
        auto source = DataSource::open({true, QStringLiteral("PG")});
        std::atomic<bool> cancel{cancelFirst};
        QueryControl control;
        control.cancel = &cancel;
        control.timeoutSeconds = 1;
        source->setControl(control);
        QElapsedTimer clock;
        clock.start();
        int rows = 0;
        const QString error = failure([&] {
            auto stream = source->query(QStringLiteral("many"), condition, 0, 0);
            Record r;
            while (stream->next(r))
                QCOMPARE(r.at(0).integer, qint64(++rows));
        });
        QVERIFY2(error.contains(expected), qPrintable(error));
        QCOMPARE(rows, rowsBefore);
        QVERIFY2(clock.elapsed() < 15000, "the statement was not stopped");
        source->setControl(QueryControl{});
        QCOMPARE(query(*source, "items", QString()).size(), 3);
        useAliases(
            "[PEOPLE]\nTYPE=STANDARD\nPATH=tables\n[PEOPLE SQL]\nTYPE=SQLITE\nDATABASE NAME=people.sqlite\n"
            "[BROKEN]\nTYPE=STANDARD\nPATH=no/such/dir\n");
    }
};

QTEST_GUILESS_MAIN(TestTableData)
#include "tst_tabledata.moc"
