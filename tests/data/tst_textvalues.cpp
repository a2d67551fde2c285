// Values of database drivers' texts: every PostgreSQL type the readers take, as the server prints
// it, parsed on the bytes and from UTF-16, and read back from the PostgreSQL test server
// (scripts/test-servers) through the alias's own reader, with the server's text beside it.
#include "data/tabledata.h"
#include "data/textvalues.h"
#include "fixtures.h"
#include "data/catalogue.h"
#include "data/engine_aliasfile.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstdlib>

using namespace lw::data;

namespace {

// A value with its kind: "i:", "f:", "d:", "t:", "date:", "time:", "ts:", "b:", or "null".
QString render(const Value& v) {
    switch (v.kind) {
    case Value::Kind::Null:
        return QStringLiteral("null");
    case Value::Kind::Integer:
        return QStringLiteral("i:") + QString::number(v.integer);
    case Value::Kind::Double:
        if (v.number == 0 && std::signbit(v.number))
            return QStringLiteral("f:-0");
        return QStringLiteral("f:") + QString::number(v.number, 'g', 17);
    case Value::Kind::Decimal:
        return QStringLiteral("d:") + v.text;
    case Value::Kind::Text:
        return QStringLiteral("t:") + v.text;
    case Value::Kind::Date:
        return QStringLiteral("date:") + v.date.toString(Qt::ISODate);
    case Value::Kind::Time:
        return QStringLiteral("time:") + v.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    case Value::Kind::Timestamp:
        return QStringLiteral("ts:") + v.date.toString(Qt::ISODate) + QLatin1Char('T') +
               v.time.toString(QStringLiteral("HH:mm:ss.zzz"));
    case Value::Kind::Logical:
        return v.logical ? QStringLiteral("b:true") : QStringLiteral("b:false");
    }
    return {};
}

// A decimal's number must be the one its text reads as.
bool decimalAgrees(const Value& v) {
    if (v.kind != Value::Kind::Decimal)
        return true;
    const QByteArray text = v.text.toLatin1();
    return v.number == std::strtod(text.constData(), nullptr);
}

FieldType typeOf(const QString& pgType) {
    static const QHash<QString, FieldType> types = {
        {"int2", FieldType::Integer},   {"int4", FieldType::Integer},
        {"int8", FieldType::Integer},   {"oid", FieldType::Integer},
        {"float4", FieldType::Double},  {"float8", FieldType::Double},
        {"numeric", FieldType::Decimal}, {"numeric(10,2)", FieldType::Decimal},
        {"date", FieldType::Date},      {"time", FieldType::Time},
        {"timetz", FieldType::Time},    {"timestamp", FieldType::Timestamp},
        {"timestamptz", FieldType::Timestamp}, {"bool", FieldType::Logical},
        {"text", FieldType::Text},      {"varchar(20)", FieldType::Text},
    };
    return types.value(pgType, FieldType::Text);
}

} // namespace

class TestTextValues : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_pgSkip;
    std::unique_ptr<DataSource> m_pg;
    int m_views = 0;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        if (qEnvironmentVariableIsEmpty("LEDGERWICK_TEST_PG_HOST")) {
            m_pgSkip = QStringLiteral("no PostgreSQL test server: LEDGERWICK_TEST_PG_* are not set "
                                      "(scripts/test starts one with scripts/test-servers)");
            return;
        }
        const QByteArray host = qgetenv("LEDGERWICK_TEST_PG_HOST");
        const int port = qEnvironmentVariableIntValue("LEDGERWICK_TEST_PG_PORT");
        {
            QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
            admin.setHostName(QString::fromLocal8Bit(host));
            admin.setPort(port);
            admin.setDatabaseName(QStringLiteral("postgres"));
            admin.setUserName(QStringLiteral("postgres"));
            if (!admin.open()) {
                m_pgSkip = "cannot connect as postgres: " + admin.lastError().text();
                return;
            }
            QSqlQuery q(admin);
            q.exec(QStringLiteral("DROP DATABASE IF EXISTS lw_textvalues_test"));
            QVERIFY2(q.exec(QStringLiteral("CREATE DATABASE lw_textvalues_test ENCODING 'UTF8' TEMPLATE template0")),
                     qPrintable(q.lastError().text()));
            // A zone whose offset has minutes, and before 1900 seconds too (local mean time).
            QVERIFY(q.exec(QStringLiteral("ALTER DATABASE lw_textvalues_test SET TimeZone TO 'Asia/Kolkata'")));
            admin.close();
            admin.setDatabaseName(QStringLiteral("lw_textvalues_test"));
            QVERIFY(admin.open());
        }
        QVERIFY(lwtest::writeFile(m_dir.filePath("aliases.ini"),
                                  "[PG]\nTYPE=POSTGRESQL\nSERVER NAME=" + host + "\nPORT=" +
                                      QByteArray::number(port) +
                                      "\nDATABASE NAME=lw_textvalues_test\nUSER NAME=postgres\n"));
        lw::setEngine(std::make_unique<lw::AliasFileEngine>(m_dir.filePath("aliases.ini")));
        m_pg = DataSource::open({true, QStringLiteral("PG")});
    }

    void cleanupTestCase() {
        m_pg.reset();
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        lw::setEngine(nullptr);
    }

    // pgType: the column's type; literal: the value as SQL writes it (NULL for none); text: what
    // the server prints for it; expected: the value the readers make of that text.
    void postgresTypes_data() {
        QTest::addColumn<QString>("pgType");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, const char* type, const char* literal, const QString& text,
                      const QString& expected) {
            QTest::newRow(name) << QString::fromLatin1(type) << QString::fromUtf8(literal) << text << expected;
        };
        // Integers at their limits.
        row("int2 min", "int2", "'-32768'", "-32768", "i:-32768");
        row("int2 max", "int2", "'32767'", "32767", "i:32767");
        row("int4 min", "int4", "'-2147483648'", "-2147483648", "i:-2147483648");
        row("int8 min", "int8", "'-9223372036854775808'", "-9223372036854775808", "i:-9223372036854775808");
        row("int8 max", "int8", "'9223372036854775807'", "9223372036854775807", "i:9223372036854775807");
        row("oid max", "oid", "'4294967295'", "4294967295", "i:4294967295");
        row("int4 null", "int4", "NULL", QString(), "null");
        // Floating point: negative zero, NaN, infinities, the limits.
        row("float8 negative zero", "float8", "'-0'", "-0", "f:-0");
        row("float8 NaN", "float8", "'NaN'", "NaN", "f:nan");
        row("float8 infinity", "float8", "'Infinity'", "Infinity", "f:inf");
        row("float8 -infinity", "float8", "'-Infinity'", "-Infinity", "f:-inf");
        row("float8 max", "float8", "'1.7976931348623157e308'", "1.7976931348623157e+308",
            "f:1.7976931348623157e+308");
        row("float8 smallest", "float8", "'5e-324'", "5e-324", "f:4.9406564584124654e-324");
        row("float8 tenth", "float8", "'0.1'", "0.1", "f:0.10000000000000001");
        row("float4 max", "float4", "'3.4028235e38'", "3.4028235e+38", "f:3.4028234999999999e+38");
        row("float4 negative zero", "float4", "'-0'", "-0", "f:-0");
        row("float8 null", "float8", "NULL", QString(), "null");
        // Decimals keep their exact text; NaN and the infinities are no decimal numbers.
        row("numeric scaled", "numeric(10,2)", "'1234.5'", "1234.50", "d:1234.50");
        row("numeric minus zero", "numeric(10,2)", "'-0.001'", "0.00", "d:0.00");
        row("numeric negative", "numeric", "'-0.000001'", "-0.000001", "d:-0.000001");
        row("numeric 39 digits", "numeric", "'123456789012345678901234567890.123456789'",
            "123456789012345678901234567890.123456789", "d:123456789012345678901234567890.123456789");
        row("numeric NaN", "numeric", "'NaN'", "NaN", "t:NaN");
        row("numeric infinity", "numeric", "'Infinity'", "Infinity", "t:Infinity");
        row("numeric -infinity", "numeric", "'-Infinity'", "-Infinity", "t:-Infinity");
        row("numeric null", "numeric", "NULL", QString(), "null");
        // Dates: before 1900, the first year, BC and past 9999 (no date of the report), infinity.
        row("date leap day", "date", "'2024-02-29'", "2024-02-29", "date:2024-02-29");
        row("date before 1900", "date", "'1899-12-31'", "1899-12-31", "date:1899-12-31");
        row("date year 1", "date", "'0001-01-01'", "0001-01-01", "date:0001-01-01");
        row("date BC", "date", "'0044-03-15 BC'", "0044-03-15 BC", "t:0044-03-15 BC");
        row("date after 9999", "date", "'10000-01-01'", "10000-01-01", "t:10000-01-01");
        row("date infinity", "date", "'infinity'", "infinity", "t:infinity");
        row("date -infinity", "date", "'-infinity'", "-infinity", "t:-infinity");
        row("date null", "date", "NULL", QString(), "null");
        // Times: microseconds cut to milliseconds, 24:00:00 (no time of day), zones dropped.
        row("time micro", "time", "'13:45:10.123999'", "13:45:10.123999", "time:13:45:10.123");
        row("time midnight", "time", "'00:00:00'", "00:00:00", "time:00:00:00.000");
        row("time 24:00", "time", "'24:00:00'", "24:00:00", "t:24:00:00");
        row("timetz minutes", "timetz", "'13:45:10+05:30'", "13:45:10+05:30", "time:13:45:10.000");
        row("timetz hours", "timetz", "'08:00:00.5-03'", "08:00:00.5-03", "time:08:00:00.500");
        // Timestamps.
        row("timestamp", "timestamp", "'2024-02-29 13:45:10.5'", "2024-02-29 13:45:10.5",
            "ts:2024-02-29T13:45:10.500");
        row("timestamp before 1900", "timestamp", "'1850-06-01 00:00:00'", "1850-06-01 00:00:00",
            "ts:1850-06-01T00:00:00.000");
        row("timestamp BC", "timestamp", "'0044-03-15 12:00:00 BC'", "0044-03-15 12:00:00 BC",
            "t:0044-03-15 12:00:00 BC");
        row("timestamp after 9999", "timestamp", "'10000-01-01 00:00:00'", "10000-01-01 00:00:00",
            "t:10000-01-01 00:00:00");
        row("timestamp infinity", "timestamp", "'infinity'", "infinity", "t:infinity");
        // With a zone: the wall clock of the session's zone (Asia/Kolkata, +05:30; in 1850 local
        // mean time, +05:53:28).
        row("timestamptz", "timestamptz", "'2024-02-29 08:15:10.25+00'", "2024-02-29 13:45:10.25+05:30",
            "ts:2024-02-29T13:45:10.250");
        row("timestamptz micro", "timestamptz", "'2024-06-30 23:59:59.999999+00'",
            "2024-07-01 05:29:59.999999+05:30", "ts:2024-07-01T05:29:59.999");
        row("timestamptz before 1900", "timestamptz", "'1850-01-01 00:00:00+00'", "1850-01-01 05:53:28+05:53:28",
            "ts:1850-01-01T05:53:28.000");
        row("timestamptz BC", "timestamptz", "'0044-03-15 12:00:00+00 BC'", "0044-03-15 17:53:28+05:53:28 BC",
            "t:0044-03-15 17:53:28+05:53:28 BC");
        row("timestamptz null", "timestamptz", "NULL", QString(), "null");
        // Logicals and texts.
        row("bool true", "bool", "true", "t", "b:true");
        row("bool false", "bool", "false", "f", "b:false");
        row("bool null", "bool", "NULL", QString(), "null");
        row("text utf8", "text", "'Ёлка ''ё'''", QString::fromUtf8("Ёлка 'ё'"), QString::fromUtf8("t:Ёлка 'ё'"));
        // QString::fromUtf8 would drop the mark at the start: the text is made from UTF-16.
        row("text byte order mark", "text", "E'\\uFEFFx'", QStringLiteral("\uFEFFx"), QStringLiteral("t:\uFEFFx"));
        row("text looks like a number", "text", "'12'", "12", "t:12");
        row("text empty", "text", "''", "", "t:");
        // Characters the rows' text format escapes (tab, new line, return, backslash) or passes
        // as they are (other control characters), and a text that reads like its null.
        row("text tab new line return", "text", "E'a\\tb\\nc\\rd'", QStringLiteral("a\tb\nc\rd"),
            QStringLiteral("t:a\tb\nc\rd"));
        row("text backslash N", "text", "E'\\\\N'", QStringLiteral("\\N"), QStringLiteral("t:\\N"));
        row("text backslashes at the ends", "text", "E'\\\\x\\\\'", QStringLiteral("\\x\\"),
            QStringLiteral("t:\\x\\"));
        row("text control characters", "text", "E'\\x01\\b\\f\\x0b\\x1f'",
            QStringLiteral("\x01\b\f\x0b\x1f"), QStringLiteral("t:\x01\b\f\x0b\x1f"));
        row("text escapes beside UTF-8", "text", "E'\u0401\\t\\\\\u0451'", QStringLiteral("\u0401\t\\\u0451"),
            QStringLiteral("t:\u0401\t\\\u0451"));
        row("varchar", "varchar(20)", "'abc'", "abc", "t:abc");
        row("text null", "text", "NULL", QString(), "null");
        // Types the readers take as text.
        row("char padded", "char(3)", "'ab'", "ab ", "t:ab ");
        row("interval", "interval", "'1 day 02:00'", "1 day 02:00:00", "t:1 day 02:00:00");
        row("uuid", "uuid", "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'", "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
            "t:a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11");
        row("json", "json", "'{\"a\": [1, 2.5]}'", "{\"a\": [1, 2.5]}", "t:{\"a\": [1, 2.5]}");
    }

    // The text as the server prints it, parsed from its bytes and from UTF-16; then, with a
    // server, the same literal read through the alias, and the server's own text of it.
    void postgresTypes() {
        QFETCH(QString, pgType);
        QFETCH(QString, literal);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const FieldType type = typeOf(pgType);
        if (!text.isNull()) {
            const QByteArray utf8 = text.toUtf8();
            Value bytes;
            setTextValue(bytes, utf8.constData(), utf8.size(), type);
            QCOMPARE(render(bytes), expected);
            QVERIFY(decimalAgrees(bytes));
            Value wide;
            setTextValue(wide, text, type);
            QCOMPARE(render(wide), expected);
            QVERIFY(decimalAgrees(wide));
        }
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        QVERIFY(m_pg);
        const QString view = QStringLiteral("v%1").arg(++m_views);
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("admin")));
        // The type's own output function prints the server's text (casting bool to text spells it
        // out, casting char(n) to text drops its padding).
        const QString printed = pgType == QLatin1String("bool")      ? QStringLiteral("boolout((%2)::%3)::text")
                                : pgType.startsWith(QLatin1String("char(")) ? QStringLiteral("bpcharout((%2)::%3)::text")
                                                                     : QStringLiteral("((%2)::%3)::text");
        QVERIFY2(q.exec(QStringLiteral("CREATE VIEW %1 AS SELECT (%2)::%3 AS v, %4 AS s")
                            .arg(view, literal, pgType, printed.arg(literal, pgType))),
                 qPrintable(q.lastError().text()));
        auto stream = m_pg->query(view, QString(), 0, 0);
        QCOMPARE(stream->fields().at(0).type, type);
        Record r;
        QVERIFY(stream->next(r));
        QCOMPARE(render(r[1]), text.isNull() ? QStringLiteral("null") : QStringLiteral("t:") + text);
        QCOMPARE(render(r[0]), expected);
        QVERIFY(decimalAgrees(r[0]));
        QVERIFY(!stream->next(r));
    }

    // bytea: a binary field, whose values no cell can show, read as empty.
    void postgresBinary() {
        if (!m_pgSkip.isEmpty())
            QSKIP(qPrintable(m_pgSkip));
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("admin")));
        QVERIFY2(q.exec(QStringLiteral("CREATE VIEW bin AS SELECT '\\x0102'::bytea AS v")),
                 qPrintable(q.lastError().text()));
        auto stream = m_pg->query(QStringLiteral("bin"), QString(), 0, 0);
        QCOMPARE(stream->fields().at(0).type, FieldType::Binary);
        Record r;
        QVERIFY(stream->next(r));
        QCOMPARE(render(r[0]), QStringLiteral("null"));
    }

    // Texts other drivers give (SQLite's, ODBC's): logical words, ISO with "T" and "Z", signs,
    // and what a type does not take, kept as text.
    void otherTexts_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        auto row = [](const char* name, FieldType type, const char* text, const char* expected) {
            QTest::newRow(name) << int(type) << QString::fromUtf8(text) << QString::fromUtf8(expected);
        };
        row("logical yes", FieldType::Logical, "Yes", "b:true");
        row("logical on", FieldType::Logical, "ON", "b:true");
        row("logical 0", FieldType::Logical, "0", "b:false");
        row("logical no", FieldType::Logical, "no", "b:false");
        row("logical other", FieldType::Logical, "maybe", "t:maybe");
        row("logical empty", FieldType::Logical, "", "t:");
        row("integer plus", FieldType::Integer, "+12", "i:12");
        row("integer trailing", FieldType::Integer, "12abc", "t:12abc");
        row("integer too large", FieldType::Integer, "9223372036854775808", "t:9223372036854775808");
        row("integer blank", FieldType::Integer, " 12", "t: 12");
        row("integer sign alone", FieldType::Integer, "-", "t:-");
        row("double exponent", FieldType::Double, "1.5E3", "f:1500");
        row("double too large", FieldType::Double, "1e400", "t:1e400");
        row("decimal exponent", FieldType::Decimal, "1e5", "t:1e5");
        row("decimal plus", FieldType::Decimal, "+1.50", "d:+1.50");
        row("timestamp T Z", FieldType::Timestamp, "2024-02-29T13:45:10.123Z", "ts:2024-02-29T13:45:10.123");
        row("timestamp no seconds", FieldType::Timestamp, "2024-02-29 13:45", "ts:2024-02-29T13:45:00.000");
        row("timestamp date alone", FieldType::Timestamp, "2024-02-29", "date:2024-02-29");
        row("timestamp compact zone", FieldType::Timestamp, "2024-02-29 13:45:10+0530",
            "ts:2024-02-29T13:45:10.000");
        row("timestamp junk after", FieldType::Timestamp, "2024-02-29 13:45:10 later",
            "t:2024-02-29 13:45:10 later");
        row("timestamp bad zone", FieldType::Timestamp, "2024-02-29 13:45:10+5", "t:2024-02-29 13:45:10+5");
        row("timestamp dot alone", FieldType::Timestamp, "2024-02-29 13:45:10.", "t:2024-02-29 13:45:10.");
        row("date 30 February", FieldType::Date, "2024-02-30", "t:2024-02-30");
        row("date year 0", FieldType::Date, "0000-01-01", "t:0000-01-01");
        row("date short", FieldType::Date, "2024-2-29", "t:2024-2-29");
        row("time leap second", FieldType::Time, "23:59:60", "t:23:59:60");
        row("time 25 hours", FieldType::Time, "25:00", "t:25:00");
        row("text invalid UTF-8", FieldType::Text, "a\xff" "b", "t:a\uFFFDb");
    }

    void otherTexts() {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        // Through a value that held a text before: its storage is reused.
        Value v;
        v.kind = Value::Kind::Text;
        v.text = QStringLiteral("an earlier, longer value of the same column");
        const QByteArray bytes = QTest::currentDataTag() == QByteArray("text invalid UTF-8")
                                     ? QByteArray("a\xff" "b")
                                     : text.toUtf8();
        setTextValue(v, bytes.constData(), bytes.size(), FieldType(type));
        QCOMPARE(render(v), expected);
        QVERIFY(decimalAgrees(v));
        if (bytes == text.toUtf8()) {
            Value w;
            setTextValue(w, text, FieldType(type));
            QCOMPARE(render(w), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestTextValues)
#include "tst_textvalues.moc"
