// The .xlsx formula tokenizer: which texts are references, and formulas moved, relocated and widened
// by the rules of the .xls side.
#include "workbook/xlsx/xlsx.h"

#include <QtTest>

using namespace lw::xlsx;

class TestXlsxFormula : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void references_data();
    void references();
    void move_data();
    void move();
    void relocate_data();
    void relocate();
    void spread_data();
    void spread();
};

void TestXlsxFormula::references_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QStringList>("refs"); // "sheet|kind|r1,c1,r2,c2" per reference found
    QTest::newRow("cell") << "A1" << QStringList{"|0|0,0,0,0"};
    QTest::newRow("absolute") << "$A$1+B$2" << QStringList{"|0|0,0,0,0", "|0|1,1,1,1"};
    QTest::newRow("area") << "SUM(C5:D7)" << QStringList{"|1|4,2,6,3"};
    QTest::newRow("whole columns") << "SUM(A:A)" << QStringList{"|2|0,0,0,0"};
    QTest::newRow("whole rows") << "SUM(1:1)" << QStringList{"|3|0,0,0,0"};
    QTest::newRow("quoted sheet") << "SUM('My Sheet'!A1:B2)" << QStringList{"My Sheet|1|0,0,1,1"};
    QTest::newRow("quote in sheet") << "'Ann''s'!B3" << QStringList{"Ann's|0|2,1,2,1"};
    QTest::newRow("plain sheet") << "Sheet2!$C$10*2" << QStringList{"Sheet2|0|9,2,9,2"};
    QTest::newRow("range of sheets") << "SUM(Sheet1:Sheet3!A1)" << QStringList{"Sheet1:Sheet3|0|0,0,0,0"};
    QTest::newRow("string literal") << "\"A1\"&B1" << QStringList{"|0|0,1,0,1"};
    QTest::newRow("quote in string") << "\"say \"\"A1\"\"\"&C2" << QStringList{"|0|1,2,1,2"};
    QTest::newRow("function name") << "LOG10(A2)+ATAN2(1,2)" << QStringList{"|0|1,0,1,0"};
    QTest::newRow("R1C1 never") << "R1C1+RC[1]" << QStringList{};
    QTest::newRow("number exponent") << "1E5+2.5E+3" << QStringList{};
    QTest::newRow("past the last column") << "XFE1+XFD1" << QStringList{"|0|0,16383,0,16383"};
    QTest::newRow("past the last row") << "A1048577+A1048576" << QStringList{"|0|1048575,0,1048575,0"};
    QTest::newRow("defined name") << "Total_2+TaxRate" << QStringList{};
    QTest::newRow("error value") << "#REF!+#N/A" << QStringList{};
    QTest::newRow("table column") << "SUM(Table1[Amount])" << QStringList{};
    QTest::newRow("other workbook") << "[1]Sheet1!A1+B1" << QStringList{"|0|0,1,0,1"};
}

void TestXlsxFormula::references() {
    QFETCH(QString, formula);
    QFETCH(QStringList, refs);
    QStringList found;
    QString joined;
    for (const FormulaToken& t : tokenizeFormula(formula)) {
        joined += t.text;
        if (t.kind != FormulaToken::Kind::Reference)
            continue;
        const Reference& r = t.ref;
        const QString sheet = r.lastSheet.isEmpty() ? r.sheet : r.sheet + u':' + r.lastSheet;
        found << QStringLiteral("%1|%2|%3,%4,%5,%6")
                     .arg(sheet)
                     .arg(int(r.kind))
                     .arg(r.hasRows() ? r.row1 : 0)
                     .arg(r.kind == Reference::Kind::Rows ? 0 : r.col1)
                     .arg(r.hasRows() ? r.row2 : 0)
                     .arg(r.kind == Reference::Kind::Rows ? 0 : r.col2);
        QCOMPARE(referenceText(r), t.text); // written back as it was written
    }
    QCOMPARE(found, refs);
    QCOMPARE(joined, formula);
}

void TestXlsxFormula::move_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("moved");
    QTest::addColumn<bool>("ok");
    QTest::newRow("relative") << "A1*2" << 3 << "A4*2" << true;
    QTest::newRow("absolute stays") << "$A$1+A$1+$A1" << 3 << "$A$1+A$1+$A4" << true;
    QTest::newRow("area") << "SUM(B2:C3)" << 10 << "SUM(B12:C13)" << true;
    QTest::newRow("mixed area turns") << "SUM(B$5:B3)" << 4 << "SUM(B$5:B7)" << true;
    QTest::newRow("whole columns stay") << "SUM(A:B)" << 10 << "SUM(A:B)" << true;
    QTest::newRow("whole rows move") << "SUM(2:3)" << 1 << "SUM(3:4)" << true;
    QTest::newRow("sheet kept") << "'My Sheet'!A1:B2" << 1 << "'My Sheet'!A2:B3" << true;
    QTest::newRow("string alone") << "\"A1\"&A1" << 1 << "\"A1\"&A2" << true;
    QTest::newRow("off the top") << "A1+B5" << -2 << "#REF!+B3" << false;
    QTest::newRow("off the bottom") << "Data!A1048576" << 1 << "Data!#REF!" << false;
}

void TestXlsxFormula::move() {
    QFETCH(QString, formula);
    QFETCH(int, offset);
    QFETCH(QString, moved);
    QFETCH(bool, ok);
    bool inside = !ok;
    QCOMPARE(moveFormulaRows(formula, offset, &inside), moved);
    QCOMPARE(inside, ok);
}

void TestXlsxFormula::relocate_data() {
    // Rows inserted: 10 rows before row index 4 (row 5) of the own sheet.
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("relocated");
    QTest::newRow("above stays") << "A1+A4" << "A1+A4";
    QTest::newRow("below moves, absolute too") << "A5+$A$6" << "A15+$A$16";
    QTest::newRow("area over the edge grows") << "SUM(C4:C5)" << "SUM(C4:C15)";
    QTest::newRow("other sheet stays") << "Other!A5+A5" << "Other!A5+A15";
    QTest::newRow("whole columns stay") << "SUM(C:C)" << "SUM(C:C)";
    QTest::newRow("cell over the edge becomes an area") << "Band!$D$4" << "Band!$D$4:$D$14";
}

void TestXlsxFormula::relocate() {
    QFETCH(QString, formula);
    QFETCH(QString, relocated);
    const auto insert = [](const RowSpan& r, bool) -> std::optional<RowSpan> {
        if (r.sheet == QLatin1String("Band")) // a series over the band grows with it
            return RowSpan{r.sheet, r.first, r.last + 10};
        if (!r.sheet.isEmpty())
            return r;
        RowSpan m = r;
        if (m.first >= 4)
            m.first += 10;
        if (m.last >= 4)
            m.last += 10;
        return m;
    };
    QCOMPARE(relocateFormula(formula, insert), relocated);
}

void TestXlsxFormula::spread_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("spread"); // empty: refused
    QTest::newRow("total") << "SUM(C5:C5)" << "SUM(C5:C1048576,'Sales (2)'!C5:C900)";
    QTest::newRow("two arguments") << "MAX(C5:C5,0)" << "MAX(C5:C1048576,'Sales (2)'!C5:C900,0)";
    QTest::newRow("not an argument") << "C5:C5*2" << "";
    QTest::newRow("other rows") << "SUM(C4:C5)" << "";
}

void TestXlsxFormula::spread() {
    QFETCH(QString, formula);
    QFETCH(QString, spread);
    const std::vector<RowSpan> pieces{{{}, 4, 1048575}, {QStringLiteral("Sales (2)"), 4, 899}};
    const std::optional<QString> out = spreadFormulaArea(formula, 4, 4, pieces);
    QCOMPARE(out.value_or(QString()), spread);
    QVERIFY(formulaHasAreaOverRows(formula, 4, 4) || spread.isEmpty());
}

QTEST_GUILESS_MAIN(TestXlsxFormula)
#include "tst_xlsx_formula.moc"
