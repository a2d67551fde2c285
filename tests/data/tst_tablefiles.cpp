// The dBASE and Paradox readers against readers and writers we did not write (python3-dbfread,
// pxlib, LibreOffice): every field type, version and code page; deleted records, memo files,
// headers that lie about their count, damaged and truncated files.
#include "data/codepage.h"
#include "data/tabledata.h"
#include "fixtures.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace lw::data;
using lwtest::DbfField;

namespace {

// The threads of this process, as the system counts them; -1 when it does not say.
int threadCount() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Threads:"))
            return line.mid(8).trimmed().toInt();
    return -1;
}

const char* dbfreadScript = R"(
import sys, datetime, decimal
from dbfread import DBF
kw = {}
if len(sys.argv) > 2:
    kw['encoding'] = sys.argv[2]
t = DBF(sys.argv[1], char_decode_errors='strict', **kw)
def cell(f, v):
    if v is None or isinstance(v, bytes):
        return 'null'
    if isinstance(v, bool):
        return 'true' if v else 'false'
    if f.type == 'N' and (f.decimal_count > 0 or f.length > 18):
        return 'd:' + format(decimal.Decimal(repr(v)) if isinstance(v, float) else decimal.Decimal(v), '.%df' % f.decimal_count)
    if f.type == 'Y':
        return 'd:' + format(v, '.4f')
    if isinstance(v, int):
        return str(v)
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, datetime.datetime):
        return v.strftime('%Y-%m-%dT%H:%M:%S') + '.%03d' % (v.microsecond // 1000)
    if isinstance(v, datetime.date):
        return v.isoformat()
    return str(v).replace('\r', '\\r').replace('\n', '\\n')
fields = [f for f in t.fields if f.type != '0']
print('|'.join(f.name for f in fields))
for r in t:
    print('|'.join(cell(f, r[f.name]) for f in fields))
)";

// Doubles are compared as Python prints them: the shortest digits that read back the same, in
// plain notation for exponents from -4 to 15 and as "1e-05" / "1.5e+16" beyond.
QString pythonRepr(double d) {
    const QString e = QString::number(d, 'e', QLocale::FloatingPointShortest); // "-1.25e+01"
    const qsizetype at = e.indexOf(QLatin1Char('e'));
    const int exponent = e.mid(at + 1).toInt();
    QString digits = e.left(at);
    const bool negative = digits.startsWith(QLatin1Char('-'));
    if (negative)
        digits.remove(0, 1);
    digits.remove(QLatin1Char('.'));
    QString out;
    if (exponent < -4 || exponent >= 16) {
        out = digits.left(1) + (digits.size() > 1 ? QLatin1Char('.') + digits.mid(1) : QString()) +
              QStringLiteral("e%1%2")
                  .arg(exponent < 0 ? '-' : '+')
                  .arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
    } else if (exponent < 0) {
        out = QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    } else {
        const int whole = exponent + 1;
        if (digits.size() <= whole)
            out = digits + QString(whole - digits.size(), QLatin1Char('0')) + QStringLiteral(".0");
        else
            out = digits.left(whole) + QLatin1Char('.') + digits.mid(whole);
    }
    return (negative ? QStringLiteral("-") : QString()) + out;
}

// Line ends inside values are shown escaped, so that a record stays one line.
QString oneLine(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

QStringList ourRows(const QString& dir, const QString& table, QStringList* warnings = nullptr) {
    auto source = DataSource::open({false, dir});
    auto stream = source->query(table, QString(), 1, 0);
    QStringList out;
    QStringList names;
    for (const Field& f : stream->fields())
        names << f.name;
    out << names.join(QLatin1Char('|'));
    Record r;
    while (stream->next(r)) {
        QStringList cells;
        for (const Value& v : r)
            cells << oneLine(v.kind == Value::Kind::Double ? pythonRepr(v.number) : lwtest::show(v));
        out << cells.join(QLatin1Char('|'));
    }
    if (warnings)
        *warnings = stream->warnings();
    return out;
}

QString python() {
    return QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
}

// Every record of a .dbf as python3-dbfread reads it.
QStringList dbfreadRows(const QString& file, const QString& encoding = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    p.setProcessEnvironment(env);
    QStringList args{QStringLiteral("-c"), QString::fromUtf8(dbfreadScript), file};
    if (!encoding.isEmpty())
        args << encoding;
    p.start(python(), args);
    p.waitForFinished(60000);
    if (p.exitCode() != 0) {
        qWarning("dbfread: %s", p.readAllStandardError().constData());
        return {QStringLiteral("dbfread failed")};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool haveDbfread() {
    if (python().isEmpty())
        return false;
    return QProcess::execute(python(), {QStringLiteral("-c"), QStringLiteral("import dbfread")}) == 0;
}

// Opens and reads every record; what a damaged file gives must be a DataError, never more.
QString readAll(const QString& dir, const QString& table) {
    try {
        auto source = DataSource::open({false, dir});
        source->fields(table);
        auto stream = source->query(table, QString(), 0, 0);
        Record r;
        int n = 0;
        while (stream->next(r))
            ++n;
        return QStringLiteral("ok %1").arg(n);
    } catch (const DataError& e) {
        return e.text();
    }
}

#ifdef LW_PXFIXTURE
// A table memo.db with its memo file memo.mb made by pxlib in dir; its records as pxlib reads them.
QStringList makeMemoTable(const QString& dir, int version, int codePage, int blockKb, int records) {
    const QString file = dir + "/memo.db";
    QFile::remove(dir + "/memo.mb");
    if (QProcess::execute(QStringLiteral(LW_PXFIXTURE),
                          {"make", file, QString::number(version), QString::number(codePage),
                           QString::number(blockKb), QString::number(records), "memo"}) != 0)
        return {QStringLiteral("pxlib could not make the table")};
    QProcess dump;
    dump.start(QStringLiteral(LW_PXFIXTURE), {"dump", file});
    dump.waitForFinished(30000);
    QStringList rows = QString::fromUtf8(dump.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    // pxlib says on standard output that the memo file it wrote itself is not a whole number of
    // 4 KB chunks (it leaves the last one short): not a record.
    rows.removeIf([](const QString& line) { return line.startsWith(QLatin1String("PXLib: ")); });
    return rows;
}
#endif

// The records of dir/memo.db as our reader gives them, with a condition when given.
QStringList paradoxRows(const QString& dir, const QString& condition, QStringList* warnings = nullptr) {
    auto stream = DataSource::open({false, dir})->query(QStringLiteral("memo.db"), condition, 0, 0);
    const QStringList rows = lwtest::rows(*stream);
    if (warnings)
        *warnings = stream->warnings();
    return rows;
}

struct Sample {
    const char* iconvName;
    quint8 driver;
    QStringList words;
};

// Words of each code page, with the letters that set it apart.
Sample sampleFor(int codePage) {
    switch (codePage) {
    case 437:
        return {"CP437", 0x01, {"Müller Ça va", "½ Straße", "plain"}};
    case 850:
        return {"CP850", 0x02, {"Ørsted Ñandú", "façade ©", "plain"}};
    case 852:
        return {"CP852", 0x64, {"Łódź Žluťoučký", "Ő ű", "plain"}};
    case 866:
        return {"CP866", 0x65, {"Москва", "Ёжик в тумане", "plain"}};
    case 1250:
        return {"CP1250", 0xC8, {"Příliš žluťoučký", "Łódź", "plain"}};
    case 1251:
        return {"CP1251", 0xC9, {"Санкт-Петербург", "Ёлка", "plain"}};
    default:
        return {"CP1252", 0x03, {"Café €", "naïve ©", "plain"}};
    }
}

} // namespace

class TestTableFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString subdir(const QString& name) {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QLocale::setDefault(QLocale::c());
    }

    // Each version, field type, memo layout and code page, value for value against dbfread.
    void dbfAgainstDbfread_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("memo"); // "", "dbt3", "dbt4", "fpt"
        QTest::newRow("dBASE III, 437") << 0x03 << 437 << "";
        QTest::newRow("dBASE III memo, 850") << 0x83 << 850 << "dbt3";
        QTest::newRow("dBASE IV memo, 852") << 0x8B << 852 << "dbt4";
        QTest::newRow("dBASE 5, 1250") << 0x03 << 1250 << "";
        QTest::newRow("FoxPro 2 memo, 866") << 0xF5 << 866 << "fpt";
        QTest::newRow("Visual FoxPro, 1251") << 0x30 << 1251 << "fpt";
        QTest::newRow("dBASE IV, 1252") << 0x8B << 1252 << "dbt4";
    }

    void dbfAgainstDbfread() {
        if (!haveDbfread())
            QSKIP("python3-dbfread is not installed");
        QFETCH(int, version);
        QFETCH(int, codePage);
        QFETCH(QString, memo);
        const Sample sample = sampleFor(codePage);
        const bool vfp = version == 0x30;
        QList<DbfField> fields = {{"NAME", 'C', 24},    {"QTY", 'N', 8}, {"AMOUNT", 'N', 12, 2},
                                  {"RATE", 'F', 14, 4}, {"DAY", 'D', 8}, {"OK", 'L', 1}};
        if (!memo.isEmpty())
            fields.append({"NOTE", 'M', vfp ? 4 : 10});
        if (vfp) {
            fields.append({"COUNT", 'I', 4});
            fields.append({"RATIO", 'B', 8});
            fields.append({"PRICE", 'Y', 8});
            fields.append({"STAMP", 'T', 8});
        }
        // Memos: short, empty pointer, several blocks long, in the code page.
        QList<QByteArray> memoTexts;
        for (int i = 0; i < 4; ++i) {
            QByteArray text = lwtest::encode(sample.words[i % 3], sample.iconvName);
            if (i == 2)
                text = text.repeated(90) + "\r\nend";
            memoTexts << text;
        }
        QList<int> blocks;
        QByteArray memoFile;
        if (memo == "dbt3")
            memoFile = lwtest::dbt3Memo(memoTexts, blocks);
        else if (memo == "dbt4")
            memoFile = lwtest::dbt4Memo(memoTexts, blocks, 512);
        else if (memo == "fpt")
            memoFile = lwtest::fptMemo(memoTexts, blocks, 64);

        const QList<QByteArray> quantities = {"42", "-7", "", "0", "123456", "  -0"};
        const QList<QByteArray> amounts = {"1250.00", "-.50", "", "12", "0.05", "-99999.99"};
        const QList<QByteArray> rates = {"3.1416", "-0.0001", "", "1e3", "12", "0.1"};
        const QList<QByteArray> days = {"19991231", "20000229", "        ",
                                        "00000000", "18991231", "20240105"};
        const QList<QByteArray> logicals = {"T", "F", "?", " ", "y", "n"};
        QList<QByteArray> records;
        for (int r = 0; r < 14; ++r) {
            QList<QByteArray> cells;
            cells << lwtest::encode(sample.words[r % 3], sample.iconvName) +
                         (r % 4 == 3 ? "" : " " + QByteArray::number(r));
            cells << quantities[r % 6] << amounts[r % 6] << rates[r % 6] << days[r % 6] << logicals[r % 6];
            if (!memo.isEmpty()) {
                const int m = r % 5;
                const quint32 block = m < 4 && m != 1 ? quint32(blocks[m]) : 0; // one in five has none
                cells << (vfp ? lwtest::le32(block)
                              : (block ? QByteArray::number(block).rightJustified(10, ' ') : QByteArray()));
            }
            if (vfp) {
                cells << lwtest::le32(quint32(r % 2 ? -r * 1000 : r));
                double d = r * -2.5e-3 + 1e10 * (r % 3);
                QByteArray bytes(8, '\0');
                std::memcpy(bytes.data(), &d, 8);
                cells << bytes;
                cells << lwtest::le64(quint64(qint64(r % 2 ? -1 : 1) * (r * 123456789LL + 5)));
                // Julian day of 2024-02-29 and a time with milliseconds; one without a date.
                cells << (r == 4 ? QByteArray(8, '\0')
                                 : lwtest::le32(2460370 + quint32(r)) +
                                       lwtest::le32(quint32(r * 3600000 + 61123)));
            }
            records << lwtest::dbfRecord(fields, cells, r % 6 == 5 ? '*' : ' ');
        }
        const QString dir = subdir(QStringLiteral("dbf_%1_%2").arg(version).arg(codePage));
        QVERIFY(lwtest::writeFile(dir + "/T.DBF",
                                  lwtest::dbfTable(quint8(version), sample.driver, fields, records)));
        if (!memoFile.isEmpty())
            QVERIFY(lwtest::writeFile(dir + (memo == "fpt" ? "/T.FPT" : "/T.DBT"), memoFile));

        const QStringList ours = ourRows(dir, QStringLiteral("T.DBF"));
        QCOMPARE(ours.size(), 1 + 14 - 2); // two deleted
        QCOMPARE(ours, dbfreadRows(dir + "/T.DBF"));
    }

    // ---- dBASE reader: tables as other programs write them

    // The text of a table whose language driver we do not know (or that names none): UTF-8 when
    // its names and character fields are valid UTF-8 with characters of several bytes, else code
    // page 1252; a driver we know is taken at its word. dbfread is told the encoding it should use.
    void dbfTextEncoding_data() {
        QTest::addColumn<int>("driver");
        QTest::addColumn<QString>("encoding"); // of the bytes written
        QTest::addColumn<QString>("readAs");   // what the table should be read as (dbfread's name)
        QTest::addColumn<QString>("warning");  // part of the one warning; empty: none
        QTest::addColumn<bool>("cyrillic");    // the words written: Russian, or French and Danish
        QTest::newRow("unknown driver, UTF-8") << 0xF0 << "UTF-8" << "utf-8" << "0xf0; its text is read as UTF-8" << true;
        QTest::newRow("unknown driver, UTF-8 Latin") << 0xF0 << "UTF-8" << "utf-8" << "read as UTF-8" << false;
        QTest::newRow("no driver, UTF-8") << 0x00 << "UTF-8" << "utf-8"
                                          << "names no language driver; its text is read as UTF-8" << true;
        QTest::newRow("unknown driver, 1252") << 0xF0 << "CP1252" << "cp1252"
                                              << "0xf0; its text is read as code page 1252" << false;
        QTest::newRow("no driver, 1252") << 0x00 << "CP1252" << "cp1252" << "" << false;
        QTest::newRow("unknown driver, 1251 bytes") << 0xF0 << "CP1251" << "cp1252" << "read as code page 1252" << true;
        QTest::newRow("driver 1252 holding UTF-8 bytes") << 0x03 << "UTF-8" << "cp1252" << "" << false;
        QTest::newRow("driver 1251") << 0xC9 << "CP1251" << "cp1251" << "" << true;
    }
    void dbfTextEncoding() {
        if (!haveDbfread())
            QSKIP("python3-dbfread is not installed");
        QFETCH(int, driver);
        QFETCH(QString, encoding);
        QFETCH(QString, readAs);
        QFETCH(QString, warning);
        QFETCH(bool, cyrillic);
        const QByteArray codecName = encoding.toLatin1();
        const char* codec = codecName.constData();
        // "Номер" is ten bytes in UTF-8: a whole field name.
        const QList<DbfField> fields = {{lwtest::encode(cyrillic ? "Номер" : "Numéro", codec), 'C', 12},
                                        {"CITY", 'C', 16}, {"N", 'N', 4}};
        const QStringList values = cyrillic ? QStringList{"Ёлка", "Москва", "Пётр"} : QStringList{"Café", "Zoë", "Øst"};
        QList<QByteArray> records;
        for (int i = 0; i < 30; ++i)
            records << lwtest::dbfRecord(fields, {lwtest::encode(values[i % 3], codec),
                                                  i % 4 ? QByteArray("plain") : lwtest::encode(values[(i + 1) % 3], codec),
                                                  QByteArray::number(i)});
        const QString dir = subdir(QStringLiteral("enc_") + QTest::currentDataTag());
        QVERIFY(lwtest::writeFile(dir + "/E.DBF", lwtest::dbfTable(0x03, quint8(driver), fields, records)));
        QStringList warnings;
        const QStringList ours = ourRows(dir, QStringLiteral("E.DBF"), &warnings);
        QCOMPARE(ours, dbfreadRows(dir + "/E.DBF", readAs));
        QCOMPARE(ours.size(), 31);
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
        if (readAs == "utf-8")
            QVERIFY(ours.first().startsWith(cyrillic ? "Номер|" : "Numéro|"));
    }

    // A UTF-8 text cut by bytes at the end of a field, and bytes that only look like UTF-8 at first.
    void dbfUtf8Edges() {
        const QString dir = subdir(QStringLiteral("utf8edges"));
        const QList<DbfField> fields = {{"NAME", 'C', 5}};
        // "Жук" is 6 bytes: the field keeps 5, the last letter cut in half.
        const QByteArray cut = QByteArray("Жук").left(5);
        QVERIFY(lwtest::writeFile(dir + "/CUT.DBF", lwtest::dbfTable(0x03, 0xF0, fields,
                                                                      {lwtest::dbfRecord(fields, {cut})})));
        QCOMPARE(ourRows(dir, QStringLiteral("CUT.DBF")), QStringList({"NAME", "Жу"}));
        // Valid in the first records, not in a later one: the whole table is code page 1252.
        QList<QByteArray> records;
        for (int i = 0; i < 3000; ++i)
            records << lwtest::dbfRecord(fields, {i == 2999 ? QByteArray("\xC3(") : QByteArray("\xC3\xA9")});
        QVERIFY(lwtest::writeFile(dir + "/LATE.DBF", lwtest::dbfTable(0x03, 0xF0, fields, records)));
        const QStringList rows = ourRows(dir, QStringLiteral("LATE.DBF"));
        QCOMPARE(rows.value(1), QStringLiteral("Ã©"));
        QCOMPARE(rows.value(3000), QStringLiteral("Ã("));
    }

    // dBASE II: its own header of 521 bytes with 16-byte field descriptors, types C, N and L.
    // dbfread reads every table with the later layout, so the values are compared with the bytes.
    void dbase2_data() {
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("endMark");
        QTest::newRow("three records") << 3 << true;
        QTest::newRow("no end mark") << 5 << false;
        QTest::newRow("empty") << 0 << true;
    }
    void dbase2() {
        QFETCH(int, records);
        QFETCH(bool, endMark);
        struct F { QByteArray name; char type; int length; int decimals; };
        const QList<F> fields = {{"NAME", 'C', 12, 0}, {"QTY", 'N', 5, 0}, {"PRICE", 'N', 8, 2}, {"PAID", 'L', 1, 0}};
        QByteArray file(521, '\0');
        file[0] = 0x02;
        file[1] = char(records);
        file[3] = 7; file[4] = 14; file[5] = 84;
        int recordLength = 1;
        for (int i = 0; i < fields.size(); ++i) {
            QByteArray d(16, '\0');
            d.replace(0, fields[i].name.size(), fields[i].name);
            d[11] = fields[i].type;
            d[12] = char(fields[i].length);
            d[15] = char(fields[i].decimals);
            file.replace(8 + 16 * i, 16, d);
            recordLength += fields[i].length;
        }
        file[8 + 16 * fields.size()] = 0x0D;
        file[6] = char(recordLength);
        QStringList expected{"NAME|QTY|PRICE|PAID"};
        const QList<QByteArray> names = {"Oats", "Barley corn", "Rye"};
        for (int r = 0; r < records; ++r) {
            const QByteArray price = QByteArray::number(r * 12.5 - 3, 'f', 2);
            file += (r == 1 ? "*" : " ") + names[r % 3].leftJustified(12) + QByteArray::number(r * 7).rightJustified(5) +
                    price.rightJustified(8) + (r % 2 ? "T" : "F");
            if (r != 1)
                expected << names[r % 3] + "|" + QString::number(r * 7) + "|d:" + price + "|" + (r % 2 ? "true" : "false");
        }
        if (endMark)
            file += '\x1A';
        const QString dir = subdir(QStringLiteral("dbase2_") + QTest::currentDataTag());
        QVERIFY(lwtest::writeFile(dir + "/OLD.DBF", file));
        QCOMPARE(ourRows(dir, QStringLiteral("OLD.DBF")), expected);
        const std::vector<Field> f = DataSource::open({false, dir})->fields(QStringLiteral("OLD.DBF"));
        QCOMPARE(f.size(), std::size_t(4));
        QCOMPARE(f[1].type, FieldType::Integer);
        QCOMPARE(f[2].type, FieldType::Decimal);
        QCOMPARE(f[3].type, FieldType::Logical);

        // A dBASE II header that fits neither layout is refused as what it is.
        file[8 + 11] = 'D';
        QVERIFY(lwtest::writeFile(dir + "/OLD.DBF", file));
        const QString got = readAll(dir, QStringLiteral("OLD.DBF"));
        QVERIFY2(got.contains("it is a dBASE II table") && got.contains("type \"D\""), qPrintable(got));
    }

    // FoxPro keeps a time alone on 1899-12-30: a time, directly and through a condition; other
    // dates and times stay as they were. dbfread gives the date and the time, which must match.
    void foxProTimeOnly() {
        if (!haveDbfread())
            QSKIP("python3-dbfread is not installed");
        const QString dir = subdir(QStringLiteral("foxtime"));
        const QList<DbfField> fields = {{"AT", 'T', 8}};
        const QList<QPair<quint32, quint32>> stamps = {{2415019, 48938000}, {2415019, 0}, {2415020, 3600000},
                                                       {2460370, 61123}, {2415019, 86399999}};
        QList<QByteArray> records;
        for (const auto& [day, ms] : stamps)
            records << lwtest::dbfRecord(fields, {lwtest::le32(day) + lwtest::le32(ms)});
        QVERIFY(lwtest::writeFile(dir + "/T.DBF", lwtest::dbfTable(0x30, 0x03, fields, records)));
        const QStringList python = dbfreadRows(dir + "/T.DBF");
        QCOMPARE(python.size(), 6);
        for (const QString& condition : {QString(), QStringLiteral("where 1 = 1")}) {
            auto stream = DataSource::open({false, dir})->query(QStringLiteral("T.DBF"), condition, 0, 0);
            Record r;
            for (int i = 0; i < stamps.size(); ++i) {
                QVERIFY(stream->next(r));
                const bool timeOnly = python[i + 1].startsWith("1899-12-30T");
                QCOMPARE(r[0].kind, timeOnly ? Value::Kind::Time : Value::Kind::Timestamp);
                QCOMPARE(timeOnly ? "1899-12-30T" + lwtest::show(r[0]) : lwtest::show(r[0]), python[i + 1]);
            }
        }
    }

    // Two fields cut to one name: both are there, each with its own values.
    void sameNamedFields() {
        if (!haveDbfread())
            QSKIP("python3-dbfread is not installed");
        const QString dir = subdir(QStringLiteral("samenames"));
        const QList<DbfField> fields = {{"POINT_ID", 'C', 6}, {"POINT_ID", 'N', 5}};
        QVERIFY(lwtest::writeFile(dir + "/P.DBF", lwtest::dbfTable(0x03, 0x03, fields,
                                                                    {lwtest::dbfRecord(fields, {"A-1", "7"}),
                                                                     lwtest::dbfRecord(fields, {"B-2", "-12"})})));
        QCOMPARE(ourRows(dir, QStringLiteral("P.DBF")), QStringList({"POINT_ID|POINT_ID", "A-1|7", "B-2|-12"}));
        // dbfread keeps one value per name: the second, in both columns.
        QCOMPARE(dbfreadRows(dir + "/P.DBF").value(1), QStringLiteral("7|7"));
        auto stream = DataSource::open({false, dir})->query(QStringLiteral("P.DBF"), QStringLiteral("where POINT_ID_2 < 0"), 0, 0);
        QCOMPARE(lwtest::rows(*stream, false), QStringList({"B-2|-12"}));
    }

    // The demo tables shipped with the program.
    void demoTables() {
        if (!haveDbfread())
            QSKIP("python3-dbfread is not installed");
        const QString dir = QStringLiteral(LW_BUILD_DIR "/demo/tables");
        const QStringList names =
            QDir(dir).entryList({QStringLiteral("*.dbf"), QStringLiteral("*.DBF")}, QDir::Files);
        QCOMPARE(names.size(), 3);
        for (const QString& name : names) {
            const QStringList ours = ourRows(dir, name);
            QVERIFY2(ours.size() > 3, qPrintable(name));
            QCOMPARE(ours, dbfreadRows(dir + "/" + name));
        }
    }

    // A table another program wrote: LibreOffice saves a sheet as dBASE.
    void dbfFromLibreOffice() {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty() || !haveDbfread())
            QSKIP("LibreOffice or python3-dbfread is not installed");
        const QString dir = subdir(QStringLiteral("libreoffice"));
        QVERIFY(
            lwtest::writeFile(dir + "/sheet.csv",
                              "NAME,QTY,PRICE,DAY\nCafé crème,12,3.50,2024-01-05\nnaïve,-4,0.25,1999-12-31\n"
                              "Zoë,,1234.5,\n"));
        const QString out = subdir(QStringLiteral("libreoffice/out"));
        QProcess p;
        p.start(soffice, {"-env:UserInstallation=file://" + dir + "/profile", "--headless",
                          "--infilter=CSV:44,34,76,1", "--convert-to", "dbf:dBase:1", "--outdir", out,
                          dir + "/sheet.csv"});
        QVERIFY(p.waitForFinished(180000));
        if (!QFileInfo::exists(out + "/sheet.dbf"))
            QSKIP(qPrintable("LibreOffice wrote no dBASE table (package libreoffice-base-drivers?): " +
                             QString::fromLocal8Bit(p.readAllStandardError())));
        // LibreOffice names no language driver: the text is 1252, as we read such tables.
        const QStringList ours = ourRows(out, QStringLiteral("sheet.dbf"));
        QCOMPARE(ours, dbfreadRows(out + "/sheet.dbf", QStringLiteral("cp1252")));
        QCOMPARE(ours.value(1).section(QLatin1Char('|'), 0, 0), QStringLiteral("Café crème"));
    }

    // Visual FoxPro's null flags and varchar lengths, which dbfread does not read.
    void visualFoxProNulls() {
        const QList<DbfField> fields = {
            {"NAME", 'V', 10, 0, 0x02}, {"QTY", 'I', 4, 0, 0x02}, {"_NullFlags", '0', 1, 0, 0x05}};
        // Bits: NAME's length bit 0, NAME's null bit 1, QTY's null bit 2.
        const QList<QByteArray> records = {
            lwtest::dbfRecord(
                fields, {QByteArray("abc\0\0\0\0\0\0\x03", 10), lwtest::le32(5), QByteArray(1, '\x01')}),
            lwtest::dbfRecord(fields, {QByteArray(10, ' '), lwtest::le32(0), QByteArray(1, '\x06')}),
            lwtest::dbfRecord(fields, {QByteArray("full  text"), lwtest::le32(7), QByteArray(1, '\0')})};
        const QString dir = subdir(QStringLiteral("vfpnull"));
        QVERIFY(lwtest::writeFile(dir + "/V.DBF", lwtest::dbfTable(0x30, 0x03, fields, records)));
        QCOMPARE(ourRows(dir, QStringLiteral("v.dbf")),
                 QStringList({"NAME|QTY", "abc|5", "null|null", "full  text|7"}));
    }

    // The header's record count against the file's size: the smaller is read, and it is said.
    void headerCountLies_data() {
        QTest::addColumn<int>("headerCount");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("warning");
        QTest::newRow("more than the file holds") << 40 << 5 << "counts 40 records but the file holds only 5";
        QTest::newRow("fewer than the file holds") << 3 << 3 << "holds 5 records but its header counts 3";
        QTest::newRow("true") << 5 << 5 << "";
    }

    void headerCountLies() {
        QFETCH(int, headerCount);
        QFETCH(int, expected);
        QFETCH(QString, warning);
        const QList<DbfField> fields = {{"N", 'N', 4}};
        QList<QByteArray> records;
        for (int i = 1; i <= 5; ++i)
            records << lwtest::dbfRecord(fields, {QByteArray::number(i)});
        const QString dir = subdir(QStringLiteral("count%1").arg(headerCount));
        QVERIFY(
            lwtest::writeFile(dir + "/C.DBF", lwtest::dbfTable(0x03, 0x03, fields, records, headerCount)));
        QStringList warnings;
        const QStringList ours = ourRows(dir, QStringLiteral("C.DBF"), &warnings);
        QCOMPARE(ours.size() - 1, expected);
        if (warning.isEmpty())
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
        else
            QVERIFY2(warnings.join('\n').contains(warning), qPrintable(warnings.join('\n')));
        if (headerCount > 5 && haveDbfread())
            QCOMPARE(ours, dbfreadRows(dir + "/C.DBF"));
    }

    // Damaged dBASE tables and memo files: a clear error naming the file (and the record).
    void damagedDbf_data() {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("memoFile");
        QTest::addColumn<QString>("error");
        const QList<DbfField> fields = {{"NAME", 'C', 8}, {"NOTE", 'M', 10}};
        QList<int> blocks;
        const QByteArray memo = lwtest::dbt3Memo({"first memo"}, blocks);
        const QByteArray good =
            lwtest::dbfTable(0x83, 0x03, fields,
                             {lwtest::dbfRecord(fields, {"a", "1"}), lwtest::dbfRecord(fields, {"b", "99"})});
        QByteArray wrongSize = good;
        wrongSize[10] = char(wrongSize[10] + 1);
        QByteArray hugeHeader = good;
        hugeHeader[8] = char(0xFF);
        hugeHeader[9] = char(0x7F);
        QByteArray noEnd = good;
        noEnd[32 + 64] = 'X';
        QByteArray badVersion = good;
        badVersion[0] = char(0x07);
        QByteArray badPointer = good;
        badPointer.replace(good.indexOf("99"), 2, "x9");
        QTest::newRow("record size does not match the fields")
            << wrongSize << memo << "does not match its fields";
        QTest::newRow("header size past the file") << hugeHeader << memo << "does not fit the file";
        QTest::newRow("field list without end mark") << noEnd << memo << "no end mark";
        QTest::newRow("not a dBASE table") << badVersion << memo << "not a dBASE table";
        QTest::newRow("memo pointer past the memo file")
            << good << memo << "record 2, field NOTE: its memo pointer (block 99) is past the end";
        QTest::newRow("memo pointer not a number")
            << badPointer << memo << "record 2, field NOTE: its memo pointer is not a number";
        QTest::newRow("empty file") << QByteArray() << memo << "too short";
    }

    void damagedDbf() {
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, memoFile);
        QFETCH(QString, error);
        const QString dir = subdir(QStringLiteral("damaged_") + QTest::currentDataTag());
        QVERIFY(lwtest::writeFile(dir + "/D.DBF", table));
        QVERIFY(lwtest::writeFile(dir + "/D.DBT", memoFile));
        const QString got = readAll(dir, QStringLiteral("D.DBF"));
        QVERIFY2(got.contains(error) && got.contains(dir + "/D.DBF"), qPrintable(got));
    }

    // Paradox tables pxlib writes, in several versions, code pages and block sizes, with deleted
    // records; record for record as pxlib reads them back.
    void paradoxAgainstPxlib_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<int>("blockKb");
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("3.0, 437") << 30 << 437 << 1 << 40 << false;
        QTest::newRow("3.5, deleted") << 35 << 437 << 2 << 30 << true;
        QTest::newRow("4, 1252") << 40 << 1252 << 4 << 100 << true;
        QTest::newRow("5, 1251, many blocks") << 50 << 1251 << 1 << 200 << false;
        QTest::newRow("5, 866") << 50 << 866 << 2 << 20 << false;
        QTest::newRow("7, 1250, deleted") << 70 << 1250 << 32 << 30 << true;
        QTest::newRow("7, 852") << 70 << 852 << 2 << 25 << false;
        QTest::newRow("7, empty") << 70 << 1252 << 2 << 0 << false;
    }

    void paradoxAgainstPxlib() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(int, version);
        QFETCH(int, codePage);
        QFETCH(int, blockKb);
        QFETCH(int, records);
        QFETCH(bool, deleted);
        const QString dir = subdir(QStringLiteral("px_") + QTest::currentDataTag());
        const QString file = dir + "/fixture.db";
        QStringList args{"make",
                         file,
                         QString::number(version),
                         QString::number(codePage),
                         QString::number(blockKb),
                         QString::number(records)};
        if (deleted)
            args << "delete";
        QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE), args), 0);
        QProcess dump;
        dump.start(QStringLiteral(LW_PXFIXTURE), {"dump", file});
        QVERIFY(dump.waitForFinished(30000));
        QCOMPARE(dump.exitCode(), 0);
        const QStringList expected =
            QString::fromUtf8(dump.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QStringList ours;
        {
            auto source = DataSource::open({false, dir});
            auto stream = source->query(QStringLiteral("FIXTURE.DB"), QString(), 0, 0);
            ours = lwtest::rows(*stream);
            QVERIFY2(stream->warnings().isEmpty(), qPrintable(stream->warnings().join('\n')));
        }
        QCOMPARE(ours, expected);
        QVERIFY(ours.size() > 1 || records == 0);
        // Through the virtual table, each record found again where SQLite saw it, in file order
        // and in an order that jumps between blocks.
        {
            auto source = DataSource::open({false, dir});
            auto stream = source->query(QStringLiteral("fixture.db"), QStringLiteral("where 1 = 1"), 0, 0);
            QCOMPARE(lwtest::rows(*stream), expected);
            stream = source->query(QStringLiteral("fixture.db"), QStringLiteral("order by random()"), 0, 0);
            QStringList shuffled = lwtest::rows(*stream);
            QStringList sorted = expected;
            std::sort(shuffled.begin() + 1, shuffled.end());
            std::sort(sorted.begin() + 1, sorted.end());
            QCOMPARE(shuffled, sorted);
        }
        const std::vector<Field> fields =
            DataSource::open({false, dir})->fields(QStringLiteral("fixture.db"));
        QCOMPARE(fields[0].type, FieldType::Text);
        QCOMPARE(fields[0].size, 24);
        QCOMPARE(fields[1].type, FieldType::Date);
        if (version >= 40) {
            QCOMPARE(fields[7].type, FieldType::Time);
            QCOMPARE(fields[8].type, FieldType::Timestamp);
            QCOMPARE(fields[9].type, FieldType::Decimal);
            QCOMPARE(fields[9].decimals, 2);
        }
#endif
    }

    // ---- Paradox reader: memos, and files that end inside their last block

    // Memos of every size pxlib writes (in the record alone, sharing a block, a block of their own,
    // several chunks), value for value against pxlib's own reading.
    void paradoxMemosAgainstPxlib_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<int>("blockKb");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("type"); // the memo field's type, set in the header after pxlib wrote it
        QTest::newRow("7, 1251") << 70 << 1251 << 2 << 40 << 0x0C;
        QTest::newRow("5, 1252, small blocks") << 50 << 1252 << 1 << 30 << 0x0C;
        QTest::newRow("4, 866") << 40 << 866 << 4 << 25 << 0x0C;
        QTest::newRow("formatted memo") << 70 << 1252 << 2 << 15 << 0x0E;
        QTest::newRow("binary blob") << 70 << 1252 << 2 << 15 << 0x0D;
        QTest::newRow("graphic") << 70 << 1252 << 2 << 15 << 0x10;
        QTest::newRow("OLE") << 70 << 1252 << 2 << 15 << 0x0F;
    }
    void paradoxMemosAgainstPxlib() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(int, version);
        QFETCH(int, codePage);
        QFETCH(int, blockKb);
        QFETCH(int, records);
        QFETCH(int, type);
        const QString dir = subdir(QStringLiteral("pxmemo_") + QTest::currentDataTag());
        QStringList expected = makeMemoTable(dir, version, codePage, blockKb, records);
        if (type != 0x0C) {
            // The twelfth field's type byte; pxlib reads a formatted memo as a memo, and gives
            // nothing for the binary kinds, as we do.
            QFile f(dir + "/memo.db");
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek(0x78 + 2 * 11));
            QCOMPARE(f.read(1), QByteArray("\x0C"));
            QVERIFY(f.seek(0x78 + 2 * 11));
            f.write(QByteArray(1, char(type)));
            f.close();
            QProcess dump;
            dump.start(QStringLiteral(LW_PXFIXTURE), {"dump", dir + "/memo.db"});
            QVERIFY(dump.waitForFinished(30000));
            expected = QString::fromUtf8(dump.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
            expected.removeIf([](const QString& line) { return line.startsWith(QLatin1String("PXLib: ")); });
        }
        QStringList warnings;
        QCOMPARE(paradoxRows(dir, QString(), &warnings), expected);
        if (type == 0x0C || type == 0x0E)
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
        else
            QCOMPARE(warnings, QStringList{"The table file \"" + dir +
                                           "/memo.db\": the graphic, OLE or binary field NOTE is read as empty"});
        QCOMPARE(paradoxRows(dir, QStringLiteral("where length(NOTE) >= 0 or NOTE is null")), expected);
        const std::vector<Field> fields = DataSource::open({false, dir})->fields(QStringLiteral("memo.db"));
        QCOMPARE(fields.back().name, QStringLiteral("NOTE"));
        QCOMPARE(fields.back().type, type == 0x0C || type == 0x0E ? FieldType::Text : FieldType::Binary);
#endif
    }

    // A memo file missing or damaged: the table is read all the same, the memos that cannot be
    // read are empty and said, the others as pxlib reads them from the sound file.
    void paradoxDamagedMemos_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("lost");    // the records whose memos are lost: "in the file", "4", "some"
        QTest::addColumn<QString>("warning");
        QTest::newRow("missing") << "missing" << "in the file" << "is missing; its memo fields are read as empty";
        QTest::newRow("shorter than its header") << "short" << "in the file" << "is damaged (it is shorter than its header block)";
        QTest::newRow("not a memo file") << "header" << "in the file" << "its first block is not a header block";
        QTest::newRow("cut in the middle") << "cut" << "some" << "runs past the end of the memo file";
        QTest::newRow("pointer outside the file") << "outside" << "4" << "outside the memo file in field NOTE (first at record 5)";
        QTest::newRow("pointer to an unused entry") << "entry" << "2" << "to no memo of its length in field NOTE (first at record 3)";
        QTest::newRow("length beyond its block") << "length" << "3" << "to no memo of its length";
        QTest::newRow("long memo's length wrong") << "longlength" << "5" << "does not match its block";
    }
    void paradoxDamagedMemos() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(QString, damage);
        QFETCH(QString, lost);
        QFETCH(QString, warning);
        const QString dir = subdir(QStringLiteral("pxmemodamage_") + QTest::currentDataTag());
        const QStringList sound = makeMemoTable(dir, 70, 1252, 2, 21);
        const QString mb = dir + "/memo.mb";
        QFile table(dir + "/memo.db");
        QVERIFY(table.open(QIODevice::ReadWrite));
        const QByteArray head = table.read(4);
        const int recordSize = (head[0] & 0xFF) | (head[1] & 0xFF) << 8;
        const int headerSize = (head[2] & 0xFF) | (head[3] & 0xFF) << 8;
        // The memo field's pointer in record r (all in the first block): after its 10 bytes of text.
        const auto pointerAt = [&](int r) { return headerSize + 6 + r * recordSize + recordSize - 20 + 10; };
        if (damage == "missing") {
            QVERIFY(QFile::remove(mb));
        } else if (damage == "short") {
            QVERIFY(QFile::resize(mb, 100));
        } else if (damage == "header") {
            QFile f(mb);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.write("\x02", 1);
        } else if (damage == "cut") {
            QVERIFY(QFile::resize(mb, QFileInfo(mb).size() / 2));
        } else if (damage == "outside") {
            QVERIFY(table.seek(pointerAt(4)));
            table.write("\x00\x00\x00\x7F", 4);
        } else if (damage == "entry") {
            QVERIFY(table.seek(pointerAt(2)));
            table.write("\x20", 1);
        } else if (damage == "length") {
            QVERIFY(table.seek(pointerAt(3) + 4));
            table.write("\x00\x20\x00\x00", 4); // 8 KB for a memo of a shared block
        } else if (damage == "longlength") {
            QVERIFY(table.seek(pointerAt(5) + 4));
            table.write("\x00\x00\x01\x00", 4);
        }
        table.close();
        QStringList warnings;
        const QStringList ours = paradoxRows(dir, QString(), &warnings);
        QCOMPARE(ours.size(), sound.size());
        QVERIFY2(warnings.join('\n').contains(warning), qPrintable(warnings.join('\n')));
        QStringList lostRecords;
        for (int i = 1; i < sound.size(); ++i) {
            const qsizetype cut = sound[i].lastIndexOf('|');
            QCOMPARE(ours[i].left(ours[i].lastIndexOf('|')), sound[i].left(cut)); // all but the memo
            if (ours[i] != sound[i]) {
                QCOMPARE(ours[i].mid(ours[i].lastIndexOf('|') + 1), QStringLiteral("null"));
                lostRecords << QString::number(i - 1);
            }
        }
        if (lost == "in the file") {
            // Memos of the record alone (7 bytes, one in seven) are kept; all others are lost.
            QStringList inFile;
            for (int r = 0; r < sound.size() - 1; ++r)
                if (r % 7 != 0 && r % 7 != 1)
                    inFile << QString::number(r);
            QCOMPARE(lostRecords, inFile);
        } else if (lost == "some") {
            QVERIFY(!lostRecords.isEmpty() && lostRecords.size() < 15);
            // Each kind of fault said once, however many memos it takes: past the end of the file,
            // a pointer beyond it, a shared block too short to hold its entries.
            QVERIFY2(warnings.filter("in field NOTE").size() <= 3, qPrintable(warnings.join('\n')));
            QVERIFY(warnings.filter("in field NOTE").size() < lostRecords.size());
        } else {
            QCOMPARE(lostRecords, QStringList{lost});
        }
#endif
    }

    // A table whose memo file is read from start to end (megabytes of it): its windows are read
    // ahead on a thread of the reader's, the memos are pxlib's all the same, and the thread is gone
    // when the read is over. Cut while it is read ahead, the memo file loses the memos from there
    // on, said, and the read ends in the error of a table changed while read, without a hang.
    void paradoxMemoFileReadAhead_data() {
        QTest::addColumn<int>("cutAt"); // the record after which the memo file is cut; -1: never
        QTest::addColumn<int>("keep");  // the memo file's bytes kept then
        QTest::newRow("whole") << -1 << 0;
        QTest::newRow("cut to its header at the start") << 200 << 4096;
        QTest::newRow("cut in the middle") << 1500 << 3 * 1024 * 1024;
        QTest::newRow("cut to nothing near the end") << 2800 << 0;
    }
    void paradoxMemoFileReadAhead() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(int, cutAt);
        QFETCH(int, keep);
        const QString dir = subdir(QStringLiteral("pxahead_") + QTest::currentDataTag());
        const QStringList sound = makeMemoTable(dir, 70, 1252, 2, 3000);
        QCOMPARE(sound.size(), 3001);
        const QString mb = dir + "/memo.mb";
        QVERIFY(QFileInfo(mb).size() > 4 * 1024 * 1024);
        const int before = threadCount();
        int most = before;
        auto stream = DataSource::open({false, dir})->query(QStringLiteral("memo.db"), QString(), 0, 0);
        QStringList ours = {sound.value(0)};
        QString error;
        try {
            Record r;
            while (stream->next(r)) {
                QStringList cells;
                for (const Value& v : r)
                    cells << lwtest::show(v);
                ours << cells.join(QLatin1Char('|'));
                most = std::max(most, threadCount());
                if (ours.size() - 1 == cutAt)
                    QVERIFY(QFile::resize(mb, keep));
            }
        } catch (const DataError& e) {
            error = e.text();
        }
        QCOMPARE(ours.size(), sound.size());
        const QStringList warnings = stream->warnings();
        stream.reset(); // a read that failed keeps its reader until then
        if (before >= 0) {
            QCOMPARE(most, before + 1);
            QCOMPARE(threadCount(), before);
        }
        if (cutAt < 0) {
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(ours, sound);
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
            return;
        }
        QVERIFY2(error.contains(QStringLiteral("memo.mb\" changed while it was read")), qPrintable(error));
        int lost = 0;
        for (int i = 1; i < sound.size(); ++i) {
            const qsizetype cut = sound[i].lastIndexOf('|');
            QCOMPARE(ours[i].left(ours[i].lastIndexOf('|')), sound[i].left(cut)); // all but the memo
            if (ours[i] != sound[i]) {
                QVERIFY2(i > cutAt, qPrintable(QString::number(i)));
                QCOMPARE(ours[i].mid(ours[i].lastIndexOf('|') + 1), QStringLiteral("null"));
                ++lost;
            }
        }
        QVERIFY(lost > 0);
        QVERIFY2(warnings.join('\n').contains(QStringLiteral("runs past the end of the memo file")),
                 qPrintable(warnings.join('\n')));
        QVERIFY2(!warnings.join('\n').contains(QStringLiteral("not a memo's")), qPrintable(warnings.join('\n')));
#endif
    }

    // A file that ends inside its last block: the records wholly there are read, with a warning
    // naming the cause, and they are pxlib's records of the whole file.
    void paradoxCutLastBlock_data() {
        QTest::addColumn<int>("keep");     // bytes of the last block kept: its head, then records
        QTest::addColumn<int>("records");  // of the last block read; -1: all it holds
        QTest::newRow("all its records there") << -100 << -1;
        QTest::newRow("two and a half records") << 2 << 2;
        QTest::newRow("inside its head") << -3 << 0;
        QTest::newRow("one record") << 1 << 1;
    }
    void paradoxCutLastBlock() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(int, keep);
        QFETCH(int, records);
        const QString dir = subdir(QStringLiteral("pxcut_") + QTest::currentDataTag());
        const QString file = dir + "/cut.db";
        QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE), {"make", file, "70", "1252", "2", "100"}), 0);
        QProcess dump;
        dump.start(QStringLiteral(LW_PXFIXTURE), {"dump", file});
        QVERIFY(dump.waitForFinished(30000));
        const QStringList whole = QString::fromUtf8(dump.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        f.close();
        const auto u16 = [&](qint64 at) { return int(quint8(bytes[at]) | quint8(bytes[at + 1]) << 8); };
        const int recordSize = u16(0);
        const int headerSize = u16(2);
        const qint64 blockSize = qint64(quint8(bytes[5])) * 1024;
        const qint64 last = headerSize + (bytes.size() - headerSize - blockSize) / blockSize * blockSize;
        const int inLast = qint16(u16(last + 4)) / recordSize + 1;
        QVERIFY(inLast > 2);
        const qint64 size = keep == -100 ? last + 6 + inLast * recordSize + 100
                            : keep < 0   ? last - keep
                                         : last + 6 + qint64(keep) * recordSize + recordSize / 2;
        QVERIFY(size < last + blockSize);
        QVERIFY(QFile::resize(file, size));
        const int read = records < 0 ? inLast : records;
        QStringList warnings;
        auto stream = DataSource::open({false, dir})->query(QStringLiteral("cut.db"), QString(), 0, 0);
        const QStringList ours = lwtest::rows(*stream);
        warnings = stream->warnings();
        QCOMPARE(ours, whole.mid(0, whole.size() - inLast + read));
        QVERIFY2(warnings.join('\n').contains(QStringLiteral("the file ends inside its last block (block %1")
                                                  .arg((last - headerSize) / blockSize + 1)),
                 qPrintable(warnings.join('\n')));
        // Through a condition and in an order that jumps about, the same records.
        stream = DataSource::open({false, dir})->query(QStringLiteral("cut.db"), QStringLiteral("order by SERIAL desc"), 0, 0);
        QCOMPARE(lwtest::rows(*stream).size(), ours.size());
#endif
    }

    // Text of every length up to 40 bytes, plain ASCII or with one letter of the upper half at each
    // place, decoded into a string reused from one text to the next (as a record's value is),
    // against the system's converter of the code page; a copy taken of the string keeps its text.
    void decodeEveryWidth_data() {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<int>("high"); // the byte of the upper half; 0: ASCII only
        QTest::newRow("1252, ASCII") << 1252 << QByteArray("windows-1252") << 0;
        QTest::newRow("1252, e acute") << 1252 << QByteArray("windows-1252") << 0xE9;
        QTest::newRow("1252, euro") << 1252 << QByteArray("windows-1252") << 0x80;
        QTest::newRow("866, Cyrillic") << 866 << QByteArray("IBM866") << 0xAE;
        QTest::newRow("437, box drawing") << 437 << QByteArray("IBM437") << 0xC9;
    }
    void decodeEveryWidth() {
        QFETCH(int, codePage);
        QFETCH(QByteArray, codec);
        QFETCH(int, high);
        if (!QStringDecoder(codec.constData()).isValid())
            QSKIP("the system's converter does not know this code page");
        const TextDecoder ours(codePage);
        QString out;
        for (int length = 0; length <= 40; ++length) {
            for (int at = high ? 0 : -1; at < (high ? length : 0); ++at) {
                QByteArray bytes;
                for (int i = 0; i < length; ++i)
                    bytes.append(char('A' + (i * 7 + length) % 26));
                if (at >= 0)
                    bytes[at] = char(high);
                ours.decode(bytes.constData(), bytes.size(), out);
                QString expected = QStringDecoder(codec.constData())(bytes);
                QVERIFY2(out == expected,
                         qPrintable(QStringLiteral("%1 bytes, upper half at %2: \"%3\" for \"%4\"")
                                        .arg(length)
                                        .arg(at)
                                        .arg(out, expected)));
                // Again, the bytes backwards, while a copy of the string is held: the copy keeps its text.
                const QString held = out;
                std::reverse(bytes.begin(), bytes.end());
                ours.decode(bytes.constData(), bytes.size(), out);
                QCOMPARE(out, QStringDecoder(codec.constData())(bytes));
                QCOMPARE(held, expected);
            }
        }
    }

    // Damaged Paradox tables: block chains that leave the file or go round, sizes that disagree.
    void damagedParadox_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        // Offsets in the fixture: header size 2048 (0x800), blocks of 1 KB from there.
        QTest::newRow("block pointer past the end")
            << 0x800 << QByteArray("\xFF\x7F", 2) << "points past the end";
        QTest::newRow("block chain loops") << 0x800 << QByteArray("\x01\x00", 2) << "loop";
        QTest::newRow("block claims too many records")
            << 0x804 << QByteArray("\xFF\x7F", 2) << "more records than it can hold";
        QTest::newRow("record size does not match the fields")
            << 0 << QByteArray("\x10\x00", 2) << "does not match its fields";
        QTest::newRow("first block past the end")
            << 0x0E << QByteArray("\x00\x10", 2) << "points past the end";
        QTest::newRow("unknown version") << 0x39 << QByteArray("\x20", 1) << "version";
        QTest::newRow("index file") << 4 << QByteArray("\x01", 1) << "index";
        QTest::newRow("password") << 0x25 << QByteArray("\x12\x34\x56\x78", 4) << "password";
    }

    void damagedParadox() {
#ifndef LW_PXFIXTURE
        QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
        QFETCH(int, offset);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const QString dir = subdir(QStringLiteral("pxdamaged_") + QTest::currentDataTag());
        const QString file = dir + "/bad.db";
        QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE), {"make", file, "50", "1252", "1", "30"}), 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(offset));
        f.write(bytes);
        f.close();
        const QString got = readAll(dir, QStringLiteral("bad.db"));
        QVERIFY2(got.contains(error) && got.contains(file), qPrintable(got));
#endif
    }

    // Every prefix of a table file, and files with bytes changed at random: an error or records,
    // never a crash, a hang or a huge allocation.
    void truncatedAndMangled_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("dBASE with memo") << "dbf";
        QTest::newRow("Paradox") << "db";
    }

    void truncatedAndMangled() {
        QFETCH(QString, kind);
        const QString dir = subdir(QStringLiteral("mangled_") + kind);
        QByteArray table;
        QByteArray memoFile;
        if (kind == "dbf") {
            const QList<DbfField> fields = {
                {"NAME", 'C', 8}, {"N", 'N', 6, 2}, {"D", 'D', 8}, {"NOTE", 'M', 4}, {"T", 'T', 8}};
            QList<int> blocks;
            memoFile = lwtest::fptMemo({"memo one", "memo two"}, blocks, 64);
            QList<QByteArray> records;
            for (int i = 0; i < 6; ++i)
                records << lwtest::dbfRecord(fields,
                                             {"n" + QByteArray::number(i), "1.5", "20200101",
                                              lwtest::le32(quint32(blocks[i % 2])), lwtest::le64(2460000)});
            table = lwtest::dbfTable(0x30, 0xC9, fields, records);
        } else {
#ifndef LW_PXFIXTURE
            QSKIP("pxlib (package pxlib-dev) was not found when building");
#else
            QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE),
                                       {"make", dir + "/whole.db", "70", "1251", "1", "12"}),
                     0);
            QFile f(dir + "/whole.db");
            QVERIFY(f.open(QIODevice::ReadOnly));
            table = f.readAll();
#endif
        }
        const QString name = kind == "dbf" ? QStringLiteral("M.DBF") : QStringLiteral("M.DB");
        if (!memoFile.isEmpty())
            QVERIFY(lwtest::writeFile(dir + "/M.FPT", memoFile));
        int errors = 0;
        for (qsizetype size = 0; size < table.size(); size += (kind == "dbf" ? 1 : 7)) {
            QVERIFY(lwtest::writeFile(dir + "/" + name, table.left(size)));
            errors += readAll(dir, name).startsWith(QLatin1String("ok")) ? 0 : 1;
        }
        QVERIFY(errors > 0);
        QRandomGenerator random(20240105);
        for (int round = 0; round < 400; ++round) {
            QByteArray mangled = table;
            for (int k = 0; k < 4; ++k)
                mangled[random.bounded(int(std::min<qsizetype>(mangled.size(), 0x900)))] =
                    char(random.bounded(256));
            QVERIFY(lwtest::writeFile(dir + "/" + name, mangled));
            readAll(dir, name);
            if (!memoFile.isEmpty()) {
                QByteArray m = memoFile;
                m[random.bounded(int(m.size()))] = char(random.bounded(256));
                QVERIFY(lwtest::writeFile(dir + "/M.FPT", m));
            }
        }
    }

    // What cannot be read is said, once: memo fields without their file, Paradox memo and blob
    // fields, an unknown language driver.
    void warnings() {
        const QString dir = subdir(QStringLiteral("warnings"));
        const QList<DbfField> fields = {{"NAME", 'C', 4}, {"NOTE", 'M', 10}};
        QVERIFY(lwtest::writeFile(dir + "/NOMEMO.DBF",
                                  lwtest::dbfTable(0x83, 0x7F, fields,
                                                   {lwtest::dbfRecord(fields, {"a", "1"}),
                                                    lwtest::dbfRecord(fields, {"b", "2"})})));
        QStringList warnings;
        {
            // Through a condition the same is said.
            auto stream = DataSource::open({false, dir})
                              ->query(QStringLiteral("NOMEMO.DBF"), QStringLiteral("where NAME > 'a'"), 0, 0);
            QCOMPARE(lwtest::rows(*stream, false), QStringList({"b|null"}));
            QCOMPARE(stream->warnings().size(), 2);
        }
        QCOMPARE(ourRows(dir, QStringLiteral("NOMEMO.DBF"), &warnings),
                 QStringList({"NAME|NOTE", "a|null", "b|null"}));
        QCOMPARE(warnings.size(), 2);
        QVERIFY(warnings.join('\n').contains("memo file of the table file"));
        QVERIFY(warnings.join('\n').contains("unknown language driver 0x7f"));

        // Bad values: read as empty, said once for each field, naming the first record.
        const QList<DbfField> dated = {{"DAY", 'D', 8}, {"OK", 'L', 1}};
        QList<QByteArray> records;
        for (int i = 0; i < 50; ++i)
            records << lwtest::dbfRecord(dated, {i % 2 ? "20241301" : "20240101", i % 2 ? "x" : "T"});
        QVERIFY(lwtest::writeFile(dir + "/BAD.DBF", lwtest::dbfTable(0x03, 0x03, dated, records)));
        QCOMPARE(ourRows(dir, QStringLiteral("BAD.DBF"), &warnings).value(2), QStringLiteral("null|null"));
        QCOMPARE(warnings,
                 QStringList({"The table file \"" + dir +
                                  "/BAD.DBF\": a date that is not one in field DAY (first at record 2) "
                                  "read as empty",
                              "The table file \"" + dir +
                                  "/BAD.DBF\": a logical value that is not one in field OK (first at "
                                  "record 2) read as empty"}));
#ifdef LW_PXFIXTURE
        // The NAME field of a pxlib table made a memo field (same size), without a memo file: read
        // as empty, said once.
        const QString file = dir + "/memo.db";
        QCOMPARE(QProcess::execute(QStringLiteral(LW_PXFIXTURE), {"make", file, "70", "1252", "1", "5"}), 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(0x78));
        f.write("\x0C", 1);
        f.close();
        const QStringList rows = ourRows(dir, QStringLiteral("memo.db"), &warnings);
        QCOMPARE(rows.size(), 6);
        QVERIFY(rows[1].startsWith("null|1900-01-01"));
        QCOMPARE(warnings, QStringList({"The memo file of the table file \"" + file +
                                        "\" is missing; its memo fields are read as empty"}));

        // A Paradox header that counts more records than its blocks hold: the blocks are read.
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(6));
        f.write("\x09\x00\x00\x00", 4);
        f.close();
        QCOMPARE(ourRows(dir, QStringLiteral("memo.db"), &warnings).size(), 6);
        QVERIFY2(warnings.join('\n').contains("counts 9 records but its data blocks hold 5"),
                 qPrintable(warnings.join('\n')));
#endif
    }

    // Field names are found in any case; the table without its extension too.
    void tableAndFieldNames() {
        const QString dir = subdir(QStringLiteral("names"));
        const QList<DbfField> fields = {{"Amount", 'N', 6, 2}};
        QVERIFY(lwtest::writeFile(
            dir + "/Sales.dbf", lwtest::dbfTable(0x03, 0x03, fields, {lwtest::dbfRecord(fields, {"2.5"})})));
        auto source = DataSource::open({false, dir});
        QCOMPARE(source->fields(QStringLiteral("SALES.DBF")).size(), std::size_t(1));
        QCOMPARE(source->fields(QStringLiteral("sales")).front().name, QStringLiteral("Amount"));
        auto stream = source->query(QStringLiteral("Sales.dbf"), QStringLiteral("where amount > 1"), 0, 0);
        QCOMPARE(lwtest::rows(*stream), QStringList({"Amount", "d:2.50"}));
        try {
            source->fields(QStringLiteral("missing.dbf"));
            QFAIL("a missing table was opened");
        } catch (const DataError& e) {
            QCOMPARE(e.kind(), DataError::Kind::Table);
            QVERIFY(e.text().contains("missing.dbf"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTableFiles)
#include "tst_tablefiles.moc"
