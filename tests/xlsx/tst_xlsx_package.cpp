// The .xlsx reader and report writer: blanks made by openpyxl and re-saved by LibreOffice read into
// the model, hand-made packages (shared and array formulas, typed cells), hostile files refused,
// and a written report read back by openpyxl and converted by LibreOffice.
#include "workbook/writer_budget.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/xlsx.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace lw;

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

QString books() {
    return QString::fromLocal8Bit(qgetenv("LEDGERWICK_SOURCE_DIR")) + QStringLiteral("/tests/xlsx/xlsx_books.py");
}

bool haveOpenpyxl() {
    QProcess p;
    p.start(Python, {QStringLiteral("-c"), QStringLiteral("import openpyxl")});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray runBooks(const QStringList& args) {
    QProcess p;
    p.start(Python, QStringList{books()} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        qWarning() << "xlsx_books.py" << args << p.readAllStandardError();
    return p.readAllStandardOutput();
}

// LibreOffice converts a file; the converted path, empty when soffice is missing or fails.
QString soffice(const QString& file, const QString& format, const QString& outDir) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (program.isEmpty())
        return {};
    QProcess p;
    p.start(program, {QStringLiteral("-env:UserInstallation=file://") + outDir + QStringLiteral("/profile"),
                      QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"), format,
                      QStringLiteral("--outdir"), outDir, file});
    p.waitForFinished(180000);
    const QString out = outDir + u'/' + QFileInfo(file).completeBaseName() + u'.' + format.section(u':', 0, 0);
    return QFileInfo::exists(out) ? out : QString();
}

const char* const Head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// A package of one sheet whose rows are `rows`, with shared strings `strings`.
void handMade(const QString& path, const QByteArray& rows, const QByteArray& strings = "<si><t>one</t></si>") {
    xlsx::zipio::ZipOut z(path);
    z.addData(QStringLiteral("[Content_Types].xml"),
              QByteArray(Head) + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                                 "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>");
    z.addData(QStringLiteral("_rels/.rels"),
              QByteArray(Head) + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                 "<Relationship Id=\"r1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    z.addData(QStringLiteral("xl/workbook.xml"),
              QByteArray(Head) + "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                 "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                                 "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"s1\"/></sheets></workbook>");
    z.addData(QStringLiteral("xl/_rels/workbook.xml.rels"),
              QByteArray(Head) + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                 "<Relationship Id=\"s1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                                 "<Relationship Id=\"s2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>");
    z.addData(QStringLiteral("xl/sharedStrings.xml"),
              QByteArray(Head) + "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + strings + "</sst>");
    z.addData(QStringLiteral("xl/worksheets/sheet1.xml"),
              QByteArray(Head) + "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
                  rows + "</sheetData></worksheet>");
    z.close();
}

QString describe(const xlsx::Package& p, int row, int column) {
    const xls::Cell* c = p.book.sheets[0].cellAt(row, column);
    if (!c)
        return QStringLiteral("none");
    QString v;
    switch (c->value.type) {
    case xls::ValueType::Empty:
        v = QStringLiteral("empty");
        break;
    case xls::ValueType::Number:
        v = QStringLiteral("n:") + QString::number(c->value.number, 'g', 17);
        break;
    case xls::ValueType::Text:
        v = QStringLiteral("t:") + c->value.text;
        break;
    case xls::ValueType::Boolean:
        v = QStringLiteral("b:") + QString::number(c->value.number);
        break;
    case xls::ValueType::Error:
        v = QStringLiteral("e:") + QString::number(int(c->value.number));
        break;
    }
    const QString f = p.formulaAt(0, row, column);
    return f.isEmpty() ? v : v + QStringLiteral(" =") + f;
}

} // namespace

class TestXlsxPackage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void blankFromOtherPrograms_data();
    void blankFromOtherPrograms();
    void cells_data();
    void cells();
    void refused_data();
    void refused();
    void reportReadByOthers();
    void newWorkbookReadByOthers();

private:
    QTemporaryDir m_dir;
    QString m_blank;   // openpyxl's
    QString m_resaved; // LibreOffice's save of it
};

void TestXlsxPackage::initTestCase() {
    QVERIFY(m_dir.isValid());
    if (!haveOpenpyxl())
        return;
    m_blank = m_dir.filePath(QStringLiteral("blank.xlsx"));
    runBooks({QStringLiteral("blank"), m_blank});
    QDir().mkpath(m_dir.filePath(QStringLiteral("lo")));
    m_resaved = soffice(m_blank, QStringLiteral("xlsx"), m_dir.filePath(QStringLiteral("lo")));
}

void TestXlsxPackage::blankFromOtherPrograms_data() {
    QTest::addColumn<bool>("libreoffice");
    QTest::newRow("openpyxl") << false;
    QTest::newRow("LibreOffice") << true;
}

void TestXlsxPackage::blankFromOtherPrograms() {
    QFETCH(bool, libreoffice);
    if (m_blank.isEmpty())
        QSKIP("python3-openpyxl is not installed");
    if (libreoffice && m_resaved.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    const xlsx::Package p = xlsx::readPackage(libreoffice ? m_resaved : m_blank);
    QCOMPARE(p.book.sheets.size(), std::size_t(2));
    const xls::Sheet& s = p.book.sheets[0];
    QCOMPARE(s.name, QStringLiteral("Sales"));
    QCOMPARE(p.book.sheets[1].name, QStringLiteral("Notes"));
    QCOMPARE(s.cellAt(3, 0)->value.text, QStringLiteral("${NAME}"));
    QCOMPARE(s.cellAt(0, 0)->value.text, QStringLiteral("Sales of ${REPORT}"));
    QCOMPARE(p.formulaAt(0, 5, 1), QStringLiteral("SUM(B4:B4)"));
    QCOMPARE(p.formulaAt(0, 5, 2), QStringLiteral("\"B4\"&COUNT(B4:B4)"));
    QCOMPARE(p.formulaAt(1, 3, 1), QStringLiteral("A4*10"));
    QCOMPARE(p.formulaAt(1, 0, 1).remove(u'\''), QStringLiteral("Sales!B6"));
    QCOMPARE(s.merged.size(), std::size_t(1));
    QCOMPARE(s.merged[0], (xls::MergedRange{0, 0, 0, 2}));
    QVERIFY(s.printTitleRows.has_value());
    QCOMPARE(s.printTitleRows->first, 2);
    // Column A 30 characters wide, row 3 24 points high.
    bool width = false;
    for (const xls::ColumnFormat& c : s.columns)
        width = width || (c.first == 0 && qAbs(c.width / 256.0 - 30) < 1.5);
    QVERIFY(width);
    bool height = false;
    for (const xls::RowFormat& r : s.rows)
        height = height || (r.row == 2 && r.height == 480);
    QVERIFY(height);
    // The XML around the rows is kept for the report.
    QVERIFY(p.sheets[0].tail.contains("dataValidation"));
    QVERIFY(p.sheets[0].tail.contains("conditionalFormatting"));
    QVERIFY(p.sheets[0].head.contains("<cols>"));
}

void TestXlsxPackage::cells_data() {
    QTest::addColumn<QByteArray>("rows");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("warnings");
    QTest::newRow("shared string") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>") << "A1" << "t:one" << 0;
    QTest::newRow("inline string") << QByteArray("<row r=\"1\"><c r=\"B1\" t=\"inlineStr\"><is><t>in</t><r><t>line</t></r></is></c></row>")
                                   << "B1" << "t:inline" << 0;
    QTest::newRow("number") << QByteArray("<row r=\"2\"><c r=\"C2\"><v>1.25E+3</v></c></row>") << "C2" << "n:1250" << 0;
    QTest::newRow("no r attribute") << QByteArray("<row><c><v>1</v></c><c><v>2</v></c></row>") << "B1" << "n:2" << 0;
    QTest::newRow("boolean") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c></row>") << "A1" << "b:1" << 0;
    QTest::newRow("error") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"e\"><v>#DIV/0!</v></c></row>") << "A1" << "e:7" << 0;
    QTest::newRow("escaped character") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a_x0009_b</t></is></c></row>")
                                       << "A1" << "t:a\tb" << 0;
    const QByteArray shared = "<row r=\"1\"><c r=\"B1\"><f t=\"shared\" ref=\"B1:C3\" si=\"0\">A1*$A$1+SUM(A1:A2)</f><v>1</v></c></row>"
                              "<row r=\"3\"><c r=\"C3\"><f t=\"shared\" si=\"0\"/><v>2</v></c></row>";
    QTest::newRow("shared formula, first") << shared << "B1" << "n:1 =A1*$A$1+SUM(A1:A2)" << 0;
    QTest::newRow("shared formula, expanded") << shared << "C3" << "n:2 =B3*$A$1+SUM(B3:B4)" << 0;
    QTest::newRow("array formula kept as value")
        << QByteArray("<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">SUM(B1:B2*C1:C2)</f><v>7</v></c></row>") << "A1" << "n:7" << 1;
    QTest::newRow("string formula") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"x\"&amp;\"y\"</f><v>xy</v></c></row>")
                                    << "A1" << "t:xy =\"x\"&\"y\"" << 0;
}

void TestXlsxPackage::cells() {
    QFETCH(QByteArray, rows);
    QFETCH(QString, cell);
    QFETCH(QString, expected);
    QFETCH(int, warnings);
    const QString path = m_dir.filePath(QStringLiteral("cells.xlsx"));
    handMade(path, rows);
    const xlsx::Package p = xlsx::readPackage(path);
    int r = 0, c = 0;
    QVERIFY(xlsx::parseCellName(cell, r, c));
    QCOMPARE(describe(p, r, c), expected);
    QCOMPARE(p.warnings.size(), warnings);
}

void TestXlsxPackage::refused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("zip bomb") << "bomb" << "zip bomb";
    QTest::newRow("entity bomb") << "entities" << "document type declaration";
    QTest::newRow("Excel 97-2003 under .xlsx") << "xls" << "OLE2";
    QTest::newRow("OpenDocument under .xlsx") << "ods" << "OpenDocument";
    QTest::newRow("text") << "text" << "no zip package";
    QTest::newRow("cut short") << "cut" << "damaged";
    QTest::newRow("cells out of order") << "order" << "out of order";
    QTest::newRow("shared string past the table") << "sst" << "shared string that does not exist";
}

void TestXlsxPackage::refused() {
    QFETCH(QString, kind);
    QFETCH(QString, says);
    const QString path = m_dir.filePath(kind + QStringLiteral(".xlsx"));
    if (kind == QLatin1String("bomb") || kind == QLatin1String("entities")) {
        if (m_blank.isEmpty() && kind == QLatin1String("entities"))
            QSKIP("python3-openpyxl is not installed");
        runBooks({kind, path});
    } else if (kind == QLatin1String("xls")) {
        xls::WorkbookWriter w(path);
        w.beginSheet(QStringLiteral("S"));
        w.writeNumber(0, 0, 15, 1);
        w.endSheet();
        w.finish();
    } else if (kind == QLatin1String("ods")) {
        if (m_blank.isEmpty())
            QSKIP("python3-openpyxl is not installed");
        const QString ods = soffice(m_blank, QStringLiteral("ods"), m_dir.filePath(QStringLiteral("ods")));
        if (ods.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed");
        QFile::remove(path);
        QVERIFY(QFile::copy(ods, path));
    } else if (kind == QLatin1String("text")) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<html>not a workbook</html>");
    } else if (kind == QLatin1String("cut")) {
        handMade(path, "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.resize(f.size() / 2);
    } else if (kind == QLatin1String("order")) {
        handMade(path, "<row r=\"1\"><c r=\"B1\"><v>1</v></c><c r=\"A1\"><v>2</v></c></row>");
    } else if (kind == QLatin1String("sst")) {
        handMade(path, "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>5</v></c></row>");
    }
    QString message;
    try {
        xlsx::readPackage(path);
    } catch (const xlsx::Error& e) {
        message = QString::fromUtf8(e.what());
    }
    QVERIFY2(message.contains(says), qPrintable(message));
}

void TestXlsxPackage::reportReadByOthers() {
    if (m_blank.isEmpty())
        QSKIP("python3-openpyxl is not installed");
    const xlsx::Package blank = xlsx::readPackage(m_resaved.isEmpty() ? m_blank : m_resaved);
    // A small string table: the texts past it go inline.
    const auto saved = xls::detail::stringTableBudget();
    xls::detail::setStringTableBudget({saved.bytes, 3});
    const QString out = m_dir.filePath(QStringLiteral("report.xlsx"));
    {
        xlsx::ReportWriter w(out, blank);
        const int dateStyle = w.withNumberFormat(0, QStringLiteral("yyyy-mm-dd"));
        w.beginSheet(QStringLiteral("Sales"), 0, true);
        xls::RowFormat tall;
        tall.row = 0;
        tall.height = 600;
        tall.customHeight = true;
        w.setRow(tall);
        w.writeText(0, 0, 0, QStringLiteral("Title"));
        for (int r = 1; r <= 70000; ++r) {
            w.writeText(r, 0, 0, QStringLiteral("name %1").arg(r % 5));
            w.writeNumber(r, 1, 0, r * 1.5);
            w.writeNumber(r, 2, dateStyle, 45000 + r % 30);
            w.writeBoolean(r, 3, 0, r % 2 == 0);
        }
        w.writeFormula(70001, 1, 0, QStringLiteral("SUM(B2:B70001)"), xls::Value{});
        w.writeText(70002, 0, 0, QStringLiteral("9007199254740993"));
        w.addMerged({0, 0, 0, 2});
        w.endSheet(xlsx::relocateSheetTail(
            blank.sheets[0].tail,
            [](const xlsx::RowSpan& s) { return std::vector<xlsx::RowSpan>{{s.sheet, s.first, s.last + 69999}}; },
            [](const xlsx::RowSpan& s, bool) { return s; }));
        w.beginSheet(QStringLiteral("Notes"), 1, true);
        w.writeText(0, 0, 0, QStringLiteral("second"));
        w.endSheet(blank.sheets[1].tail);
        w.setDefinedNames({{QStringLiteral("_xlnm.Print_Area"), 0, QStringLiteral("Sales!$A$1:$D$70003"), {}}});
        w.finish();
    }
    xls::detail::setStringTableBudget(saved);
    const QJsonObject dump = QJsonDocument::fromJson(runBooks({QStringLiteral("dump"), out})).object();
    const QJsonArray sheets = dump[QStringLiteral("sheets")].toArray();
    QCOMPARE(sheets.size(), 2);
    const QJsonObject sales = sheets[0].toObject();
    QCOMPARE(sales[QStringLiteral("title")].toString(), QStringLiteral("Sales"));
    QCOMPARE(sales[QStringLiteral("max_row")].toInt(), 70003); // one sheet, no split
    const QJsonObject cells = sales[QStringLiteral("cells")].toObject();
    const auto cell = [&](const char* name) { return cells[QLatin1String(name)].toArray(); };
    QCOMPARE(cell("A1")[1].toString(), QStringLiteral("Title"));
    QCOMPARE(cell("A70001")[1].toString(), QStringLiteral("name 0")); // inline past the table's 3 texts
    QCOMPARE(cell("B3")[1].toDouble(), 3.0);
    QCOMPARE(cell("C2")[0].toString(), QStringLiteral("datetime"));
    QCOMPARE(cell("C2")[2].toString(), QStringLiteral("yyyy-mm-dd"));
    QCOMPARE(cell("D3")[0].toString(), QStringLiteral("bool"));
    QCOMPARE(cell("B70002")[1].toString(), QStringLiteral("=SUM(B2:B70001)"));
    QCOMPARE(cell("A70003")[1].toString(), QStringLiteral("9007199254740993"));
    QCOMPARE(sales[QStringLiteral("merged")].toArray().first().toString(), QStringLiteral("A1:C1"));
    QCOMPARE(sales[QStringLiteral("validation")].toArray().first().toString(), QStringLiteral("B4:B70003"));
    QCOMPARE(sales[QStringLiteral("print_area")].toArray().first().toString(), QStringLiteral("$A$1:$D$70003"));
    // The used range in the sheet's dimension, for readers that take it from there.
    const xlsx::Package back = xlsx::readPackage(out);
    QVERIFY(back.sheets[0].head.contains("<dimension ref=\"A1:D70003\""));

    // LibreOffice opens it and computes the total.
    const QString csv = soffice(out, QStringLiteral("csv"), m_dir.filePath(QStringLiteral("csv")));
    if (csv.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QVERIFY(lines.size() >= 70002);
    double sum = 0;
    for (int r = 1; r <= 70000; ++r)
        sum += r * 1.5;
    QCOMPARE(lines[70001].split(',').value(1).toDouble(), sum);
}

void TestXlsxPackage::newWorkbookReadByOthers() {
    if (!haveOpenpyxl())
        QSKIP("python3-openpyxl is not installed");
    const QString out = m_dir.filePath(QStringLiteral("new.xlsx"));
    xlsx::NewWorkbookWriter w(out);
    xls::CellFormat bold;
    bold.font.bold = true;
    bold.border = true;
    const quint16 b = w.addFormat(bold);
    xls::CellFormat date;
    date.numberFormat = QStringLiteral("yyyy-mm-dd");
    const quint16 d = w.addFormat(date);
    w.beginSheet(QStringLiteral("My Report"));
    w.setColumnWidth(0, 0, 30 * 256);
    w.writeText(2, 0, b, QStringLiteral("NAME"));
    w.writeText(3, 0, d, QStringLiteral("${DAY}"));
    w.setPrintTitleRows(2, 2);
    w.endSheet();
    w.finish();
    const QJsonObject s = QJsonDocument::fromJson(runBooks({QStringLiteral("dump"), out}))
                              .object()[QStringLiteral("sheets")].toArray()[0].toObject();
    QCOMPARE(s[QStringLiteral("title")].toString(), QStringLiteral("My Report"));
    const QJsonObject cells = s[QStringLiteral("cells")].toObject();
    QCOMPARE(cells[QStringLiteral("A3")].toArray()[3].toBool(), true);
    QCOMPARE(cells[QStringLiteral("A4")].toArray()[2].toString(), QStringLiteral("yyyy-mm-dd"));
    QCOMPARE(s[QStringLiteral("print_titles")].toString().remove(u'$'), QStringLiteral("3:3"));
    QCOMPARE(s[QStringLiteral("widthA")].toDouble(), 30.0);
    // And our own reader scans it.
    const xlsx::Package p = xlsx::readPackage(out);
    QCOMPARE(p.book.sheets[0].cellAt(3, 0)->value.text, QStringLiteral("${DAY}"));
}

QTEST_GUILESS_MAIN(TestXlsxPackage)
#include "tst_xlsx_package.moc"
