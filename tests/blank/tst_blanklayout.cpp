// A new blank as another program reads it (python3-xlrd): cells, fonts, number formats, borders,
// widths and print titles of both layouts, odd field names, wide tables; and its markers read back.
#include "support/testsupport.h"
#include "tools/blank/blanklayout.h"
#include "tools/blank/blankscan.h"
#include "workbook/xls.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace lw;
using data::Field;
using data::FieldType;

namespace {

// The workbook as python3-xlrd reads it (tests/blank/xlsdump.py); an empty object when it cannot.
QJsonObject readByXlrd(const QString& path, QString* error) {
    QProcess p;
    p.start("/usr/bin/python3", {qEnvironmentVariable("LEDGERWICK_SOURCE_DIR") + "/tests/blank/xlsdump.py", path});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        *error = QString::fromUtf8(p.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

// A sheet's cells by "row,col".
QHash<QString, QJsonObject> cellsOf(const QJsonObject& sheet) {
    QHash<QString, QJsonObject> cells;
    for (const QJsonValue& v : sheet["cells"].toArray())
        cells.insert(QString("%1,%2").arg(v["row"].toInt()).arg(v["col"].toInt()), v.toObject());
    return cells;
}

std::vector<Field> manyFields(int n) {
    std::vector<Field> fields;
    for (int i = 0; i < n; ++i)
        fields.push_back({QString("F%1").arg(i + 1), i % 2 ? FieldType::Integer : FieldType::Text, 8, 0});
    return fields;
}

const std::vector<Field> typedFields{
    {"NAME", FieldType::Text, 40, 0},      {"QTY", FieldType::Integer, 6, 0},
    {"PRICE", FieldType::Decimal, 10, 2}, {"RATE", FieldType::Double, 0, 0},
    {"SINCE", FieldType::Date, 0, 0},     {"AT", FieldType::Timestamp, 0, 0},
    {"ACTIVE", FieldType::Logical, 1, 0},
};

} // namespace

Q_DECLARE_METATYPE(std::vector<Field>)

class TstBlankLayout : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    // Columnar: the report name bold and larger in A1, bold bordered names in row 3, one marker per
    // column in row 4 with the field's number format, row 3 repeated when printed.
    void columnar() {
        const QString path = m_tmp.filePath("columnar.xls");
        QCOMPARE(blank::writeBlank(path, "Sales: [2024/25]", true, typedFields), QStringList());
        QString error;
        const QJsonObject book = readByXlrd(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonObject sheet = book["sheets"][0].toObject();
        QCOMPARE(sheet["name"].toString(), "Sales_ _2024_25_"); // what a sheet name refuses is replaced
        QCOMPARE(sheet["titles"].toArray(), QJsonArray({2, 2}));
        const auto cells = cellsOf(sheet);
        QCOMPARE(cells.size(), 1 + 2 * int(typedFields.size()));
        QCOMPARE(cells["0,0"]["value"].toString(), "Sales: [2024/25]");
        QVERIFY(cells["0,0"]["weight"].toInt() >= 700 && cells["0,0"]["height"].toInt() > 200);
        const QStringList formats{"@", "0", "0.00", "General", "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "General"};
        for (int c = 0; c < int(typedFields.size()); ++c) {
            const QJsonObject name = cells[QString("2,%1").arg(c)], marker = cells[QString("3,%1").arg(c)];
            QCOMPARE(name["value"].toString(), typedFields[std::size_t(c)].name);
            QVERIFY(name["weight"].toInt() >= 700 && name["border"].toBool());
            QCOMPARE(marker["value"].toString(), "${" + typedFields[std::size_t(c)].name + "}");
            QCOMPARE(marker["format"].toString(), formats[c]);
            QVERIFY(marker["border"].toBool() && marker["weight"].toInt() < 700);
        }
        // Widths follow the sizes: the 40-character name is the widest, and every marker fits.
        const QJsonObject widths = sheet["widths"].toObject();
        for (int c = 1; c < int(typedFields.size()); ++c) {
            QVERIFY(widths["0"].toInt() > widths[QString::number(c)].toInt());
            QVERIFY(widths[QString::number(c)].toInt() >= 256 * (typedFields[std::size_t(c)].name.size() + 3));
        }
    }

    // Form: the name in column A (bold), its marker in column B, one row per field; nothing repeats.
    void form() {
        const QString path = m_tmp.filePath("form.xls");
        QCOMPARE(blank::writeBlank(path, "", false, typedFields), QStringList());
        QString error;
        const QJsonObject sheet = readByXlrd(path, &error)["sheets"][0].toObject();
        QVERIFY2(!sheet.isEmpty(), qPrintable(error));
        QCOMPARE(sheet["name"].toString(), "Report");
        QVERIFY(sheet["titles"].isNull());
        const auto cells = cellsOf(sheet);
        QCOMPARE(cells.size(), 2 * int(typedFields.size())); // no title without a report name
        for (int i = 0; i < int(typedFields.size()); ++i) {
            QCOMPARE(cells[QString("%1,0").arg(2 + i)]["value"].toString(), typedFields[std::size_t(i)].name);
            QVERIFY(cells[QString("%1,0").arg(2 + i)]["weight"].toInt() >= 700);
            QCOMPARE(cells[QString("%1,1").arg(2 + i)]["value"].toString(),
                     "${" + typedFields[std::size_t(i)].name + "}");
        }
    }

    // Names are written as they are; a name that holds "${" stays literal text in its caption, a
    // name that holds "}" cannot be a marker and is said, one that holds "${" can; a table wider than a sheet is said too.
    // What xlrd reads, our own scan of the blank agrees with: every field marker known.
    void oddTables_data() {
        QTest::addColumn<std::vector<Field>>("fields");
        QTest::addColumn<bool>("columnar");
        QTest::addColumn<int>("markers");    // marker cells expected
        QTest::addColumn<QString>("warning"); // start of the one warning, empty for none
        const std::vector<Field> odd{{"Имя клиента", FieldType::Text, 30, 0},
                                     {"total ${x", FieldType::Double, 0, 0},
                                     {"a}b", FieldType::Integer, 4, 0},
                                     {"#", FieldType::Integer, 4, 0}};
        QTest::newRow("odd names, columnar") << odd << true << 3 << "These fields cannot have a marker";
        QTest::newRow("odd names, form") << odd << false << 3 << "These fields cannot have a marker";
        QTest::newRow("200 fields") << manyFields(200) << true << 200 << "";
        QTest::newRow("300 fields, columnar") << manyFields(300) << true << 256 << "The table has 300 fields";
        QTest::newRow("300 fields, form") << manyFields(300) << false << 300 << "";
    }
    void oddTables() {
        QFETCH(std::vector<Field>, fields);
        QFETCH(bool, columnar);
        QFETCH(int, markers);
        QFETCH(QString, warning);
        const QString path = m_tmp.filePath(QString("odd-%1.xls").arg(QTest::currentDataTag()));
        const QStringList warnings = blank::writeBlank(path, "Odd", columnar, fields);
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty())
            QVERIFY2(warnings.first().startsWith(warning), qPrintable(warnings.first()));

        QString error;
        const QJsonObject sheet = readByXlrd(path, &error)["sheets"][0].toObject();
        QVERIFY2(!sheet.isEmpty(), qPrintable(error));
        QStringList seen;
        for (const QJsonValue& cell : sheet["cells"].toArray())
            if (cell["value"].toString().startsWith("${"))
                seen.append(cell["value"].toString());
        QCOMPARE(seen.size(), markers);
        if (fields.front().name.startsWith("Имя")) {
            QVERIFY(seen.contains("${Имя клиента}") && seen.contains("${#}"));
            const auto cells = cellsOf(sheet);
            QCOMPARE(cells[columnar ? "2,1" : "3,0"]["value"].toString(), "total $${x");
            QVERIFY(seen.contains("${total ${x}"));
        }

        QStringList names;
        for (const Field& f : fields)
            names.append(f.name);
        const blank::ScanResult scan = blank::scanBlank(xls::readWorkbook(path), names);
        QCOMPARE(int(scan.markers.size()), markers);
        QCOMPARE(scan.fieldMarkers, markers);
        QCOMPARE(scan.unknown(), QStringList());
    }

    // Markers read back with their sheet and cell; an unknown name listed once, at its first cell.
    void scan() {
        const QString path = m_tmp.filePath("scan.xls");
        {
            xls::WorkbookWriter w(path);
            w.beginSheet("One");
            w.writeText(0, 0, 15, "${name} of ${#} on ${DATE} in ${REPORT}");
            w.writeText(2, 27, 15, "${Nope}");
            w.writeText(3, 0, 15, "$${LITERAL} and ${total");
            w.endSheet();
            w.beginSheet("Two");
            w.writeText(65535, 255, 15, "${NOPE} again ${Missing}");
            w.endSheet();
            w.finish();
        }
        const blank::ScanResult scan = blank::scanBlank(xls::readWorkbook(path), {"NAME"});
        QCOMPARE(int(scan.markers.size()), 7);
        QCOMPARE(scan.fieldMarkers, 1);
        QCOMPARE(scan.unknown(), QStringList({"Nope (One!AB3)", "Missing (Two!IV65536)"}));
    }
};

QTEST_GUILESS_MAIN(TstBlankLayout)
#include "tst_blanklayout.moc"
