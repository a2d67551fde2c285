// The dBASE and Paradox readers against readers and writers we did not write (python3-dbfread,
// pxlib, LibreOffice): every field type, version and code page; deleted records, memo files,
// headers that lie about their count, damaged and truncated files.
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
        // The NAME field of a pxlib table made a memo field (same size): read as empty, said once.
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
        QCOMPARE(warnings, QStringList({"The table file \"" + file +
                                        "\": the memo or binary field NAME is read as empty"}));

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
