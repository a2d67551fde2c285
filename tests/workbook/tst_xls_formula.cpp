// Formulas as token lists: references moved with a copied row, totals widened over every copy of
// a band (on one sheet and across sheets), and LibreOffice computing what the moved and widened
// formulas give.
#include "workbook/xls.h"
#include "xlstest.h"

#include <QtTest>

#include <limits>

using namespace lw::xls;
using namespace lw::xlstest;

namespace {

int colField(int col, bool rowRel, bool colRel) {
    return col | (colRel ? 0x4000 : 0) | (rowRel ? 0x8000 : 0);
}
// tRef (value class) to row, col.
QByteArray ref(int row, int col, bool rowRel = true, bool colRel = true) {
    return QByteArray(1, 0x44) + le16(row) + le16(colField(col, rowRel, colRel));
}
QByteArray ref3d(int sheet, int row, int col, bool rowRel = true) {
    return QByteArray(1, 0x5A) + le16(sheet) + le16(row) + le16(colField(col, rowRel, true));
}
// tArea (reference class).
QByteArray area(int r1, int r2, int c1, int c2, bool rel1 = true, bool rel2 = true) {
    return QByteArray(1, 0x25) + le16(r1) + le16(r2) + le16(colField(c1, rel1, true)) +
           le16(colField(c2, rel2, true));
}
QByteArray area3d(int sheet, int r1, int r2, int c1, int c2) {
    return QByteArray(1, 0x3B) + le16(sheet) + le16(r1) + le16(r2) + le16(colField(c1, true, true)) +
           le16(colField(c2, true, true));
}
QByteArray integer(int v) {
    return QByteArray(1, 0x1E) + le16(v);
}
// Ends the workbook with a second sheet "More" holding 1..10 in column C, and returns the first
// sheet's rows as LibreOffice computes them (its csv export); empty with *error set on failure.
QStringList finishAndCompute(WorkbookWriter& w, const QString& path, const QTemporaryDir& dir, QString* error) {
    w.beginSheet(QStringLiteral("More"));
    for (int i = 0; i < 10; ++i)
        w.writeNumber(i, 2, 15, i + 1);
    w.finish();
    if (!soffice(csvFirstSheet(), {path}, dir.path(), error))
        return {};
    QFile f(dir.filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".csv")));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no csv export of ") + path;
        return {};
    }
    return QString::fromUtf8(f.readAll()).split(u'\n');
}
QByteArray attrSum() {
    return QByteArray(1, 0x19) + char(0x10) + le16(0);
}
QByteArray funcVar(int argc, int function) {
    return QByteArray(1, 0x42) + char(argc) + le16(function);
}
const QByteArray mul(1, 0x05);
const QByteArray add(1, 0x03);
const QByteArray gt(1, 0x0D);
constexpr int SUM = 4, AVERAGE = 5, IF = 1;

// IF(cond, then, else) with its jumps: tAttrIf over the then-branch, tAttrGoto over the rest.
QByteArray ifThenElse(const QByteArray& cond, const QByteArray& then, const QByteArray& otherwise) {
    const QByteArray gotoEnd = QByteArray(1, 0x19) + char(0x08) + le16(int(otherwise.size()) + 4 - 1);
    const QByteArray ifJump = QByteArray(1, 0x19) + char(0x02) + le16(int(then.size() + gotoEnd.size()));
    return cond + ifJump + then + gotoEnd + otherwise + funcVar(3, IF);
}

} // namespace

class TestXlsFormula : public QObject {
    Q_OBJECT

private slots:
    void moveRows_data() {
        QTest::addColumn<QByteArray>("tokens");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("inside");
        QTest::newRow("relative row moves")
            << ref(4, 2) + integer(2) + mul << 3 << ref(7, 2) + integer(2) + mul << true;
        QTest::newRow("absolute row stays") << ref(4, 2, false) << 3 << ref(4, 2, false) << true;
        QTest::newRow("area, one end absolute")
            << area(1, 4, 0, 0, false, true) << 10 << area(1, 14, 0, 0, false, true) << true;
        QTest::newRow("area turning over is put in order")
            << area(9, 11, 0, 0, false, true) << -5 << area(6, 9, 0, 0, true, false) << true;
        QTest::newRow("3-D reference moves") << ref3d(1, 0, 0) << 5 << ref3d(1, 5, 0) << true;
        QTest::newRow("off the top becomes #REF!")
            << ref(2, 1) + integer(1) + add << -5
            << QByteArray(1, 0x4A) + le16(2) + le16(colField(1, true, true)) + integer(1) + add << false;
        QTest::newRow("off the bottom becomes #REF!")
            << area(65530, 65535, 0, 0) << 1
            << QByteArray(1, 0x2B) + le16(65530) + le16(65535) + le16(0xC000) + le16(0xC000) << false;
        QTest::newRow("an offset past any sheet")
            << ref(2, 1) << std::numeric_limits<int>::max()
            << QByteArray(1, 0x4A) + le16(2) + le16(colField(1, true, true)) << false;
        const QByteArray text = QByteArray(1, 0x17) + char(3) + char(0) + "abc";
        QTest::newRow("other tokens byte for byte")
            << text + ref(0, 0) + funcVar(2, 336) << 2 << text + ref(2, 0) + funcVar(2, 336) << true;
    }

    void moveRows() {
        QFETCH(QByteArray, tokens);
        QFETCH(int, offset);
        QFETCH(QByteArray, expected);
        QFETCH(bool, inside);
        Formula f(tokens);
        QCOMPARE(f.moveRows(offset), inside);
        QCOMPARE(f.tokens().toHex(' '), expected.toHex(' '));
    }

    void spreadArea_data() {
        QTest::addColumn<QByteArray>("tokens");
        QTest::addColumn<QList<int>>("pieces");   // sheet, first, last, ...
        QTest::addColumn<QByteArray>("expected"); // empty: refused, unchanged
        const QByteArray band = area(4, 4, 2, 2);
        QTest::newRow("one piece on the own sheet")
            << band + attrSum() << QList<int>{-1, 4, 43} << area(4, 43, 2, 2) + attrSum();
        QTest::newRow("SUM of one argument gets several")
            << band + attrSum() << QList<int>{0, 4, 65535, 1, 4, 899}
            << area3d(0, 4, 65535, 2, 2) + area3d(1, 4, 899, 2, 2) + funcVar(2, SUM);
        QTest::newRow("further arguments of SUM")
            << band + integer(1) + funcVar(2, SUM) << QList<int>{-1, 4, 10, 2, 0, 5}
            << area(4, 10, 2, 2) + area3d(2, 0, 5, 2, 2) + integer(1) + funcVar(3, SUM);
        QTest::newRow("one piece on another sheet")
            << band + integer(2) + mul << QList<int>{1, 0, 9} << area3d(1, 0, 9, 2, 2) + integer(2) + mul;
        QTest::newRow("inside an expression: refused")
            << band + integer(2) + mul + attrSum() << QList<int>{-1, 4, 9, 1, 0, 9} << QByteArray();
        QTest::newRow("the whole formula: refused") << band << QList<int>{-1, 4, 9, 1, 0, 9} << QByteArray();
        QList<int> many;
        for (int i = 0; i < 31; ++i)
            many << i << 0 << 1;
        QTest::newRow("more than 30 arguments: refused") << band + attrSum() << many << QByteArray();
        QTest::newRow("other rows: untouched")
            << area(4, 5, 2, 2) + attrSum() << QList<int>{-1, 4, 9} << QByteArray();
    }

    void spreadArea() {
        QFETCH(QByteArray, tokens);
        QFETCH(QList<int>, pieces);
        QFETCH(QByteArray, expected);
        std::vector<RowSpan> spans;
        for (int i = 0; i + 2 < pieces.size(); i += 3)
            spans.push_back({pieces[i], pieces[i + 1], pieces[i + 2]});
        Formula f(tokens);
        QCOMPARE(f.hasAreaOverRows(4, 4), tokens.startsWith(area(4, 4, 2, 2)));
        QCOMPARE(f.spreadArea(4, 4, spans), !expected.isEmpty());
        QCOMPARE(f.tokens().toHex(' '), (expected.isEmpty() ? tokens : expected).toHex(' '));
    }

    void mapSheets() {
        Formula f(ref3d(2, 0, 0) + area3d(0, 1, 2, 0, 0) + ref(0, 0) + funcVar(3, SUM));
        QCOMPARE(f.sheetsReferenced(), (std::vector<int>{0, 2}));
        QVERIFY(f.mapSheets([](int s) { return s + 3; }));
        QCOMPARE(f.tokens().toHex(' '),
                 (ref3d(5, 0, 0) + area3d(3, 1, 2, 0, 0) + ref(0, 0) + funcVar(3, SUM)).toHex(' '));
        const QByteArray before = f.tokens();
        QVERIFY(!f.mapSheets([](int s) { return s == 5 ? -1 : s; }));
        QCOMPARE(f.tokens(), before);
    }

    // LibreOffice computes the moved and widened formulas: a band of 40 rows on "Sales" with
    // C = 1..40 and D = C*2 moved from the band's first row, totals below, 10 more rows on "More".
    void computedByLibreOffice() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("spread.xls"));
        WorkbookWriter w(path);
        w.beginSheet(QStringLiteral("Sales"));
        const Formula twice(ref(4, 2) + integer(2) + mul);
        for (int i = 0; i < 40; ++i) {
            w.writeNumber(4 + i, 2, 15, i + 1);
            Formula moved = twice;
            QVERIFY(moved.moveRows(i));
            w.writeFormula(4 + i, 3, 15, moved, Value{ValueType::Number, 0, {}});
        }
        const std::vector<RowSpan> bandHere{{-1, 4, 43}};
        const std::vector<RowSpan> twoSheets{{0, 4, 43}, {1, 0, 9}};
        QList<Formula> totals{
            Formula(area(4, 4, 2, 2) + attrSum()),                      // SUM over the band
            Formula(area(4, 4, 2, 2) + attrSum()),                      // ... and More
            Formula(area(4, 4, 2, 2) + integer(100) + funcVar(2, SUM)), // SUM(band, 100)
            Formula(area(4, 4, 2, 2) + funcVar(1, AVERAGE)),            // AVERAGE over both
            Formula(ifThenElse(integer(1) + integer(0) + gt, area(4, 4, 2, 2) + attrSum(), integer(0))),
        };
        QVERIFY(totals[0].spreadArea(4, 4, bandHere));
        for (int i = 1; i < totals.size(); ++i)
            QVERIFY(totals[i].spreadArea(4, 4, twoSheets));
        for (int i = 0; i < totals.size(); ++i)
            w.writeFormula(45 + i, 2, 15, totals[i], Value{ValueType::Number, -1, {}});
        QString error;
        const QStringList rows = finishAndCompute(w, path, dir, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        for (int i = 0; i < 40; ++i)
            QCOMPARE(csvCell(rows, 4 + i, 3), QString::number(2 * (i + 1)));
        QCOMPARE(csvCell(rows, 45, 2), QStringLiteral("820"));
        QCOMPARE(csvCell(rows, 46, 2), QStringLiteral("875"));
        QCOMPARE(csvCell(rows, 47, 2), QStringLiteral("975"));
        QCOMPARE(csvCell(rows, 48, 2), QStringLiteral("17.5"));
        QCOMPARE(csvCell(rows, 49, 2), QStringLiteral("875"));
    }

    // Row inserts and references re-pointed to other sheets: the rows the relocation gives, tokens
    // changing between 2-D and 3-D with the jumps of IF and the length of a subexpression kept right.
    void relocate_data() {
        QTest::addColumn<QByteArray>("tokens");
        QTest::addColumn<QList<int>>(
            "insert"); // at, count, sheet; empty: 2-D rows 10.. to sheet 3, row + 100
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("inside");
        QTest::newRow("insert: rows above stay, rows below move, absolute too")
            << ref(3, 0) + ref(10, 1, false) + add << QList<int>{5, 20, -1}
            << ref(3, 0) + ref(30, 1, false) + add << true;
        QTest::newRow("insert: the row itself moves, an area over it grows, one ending above stays")
            << area(2, 5, 0, 0) + area(5, 6, 0, 0) + area(1, 4, 0, 0) + funcVar(3, SUM)
            << QList<int>{5, 3, -1}
            << area(2, 8, 0, 0) + area(8, 9, 0, 0) + area(1, 4, 0, 0) + funcVar(3, SUM) << true;
        QTest::newRow("insert on another sheet: only its 3-D references")
            << ref(9, 0) + ref3d(1, 9, 0) + ref3d(2, 9, 0) + add + add << QList<int>{0, 1, 2}
            << ref(9, 0) + ref3d(1, 9, 0) + ref3d(2, 10, 0) + add + add << true;
        QTest::newRow("insert past the last row: #REF!")
            << ref(65000, 0) << QList<int>{0, 600, -1}
            << QByteArray(1, 0x4A) + le16(65000) + le16(colField(0, true, true)) << false;
        const QByteArray refErr3d = QByteArray(1, 0x5C) + le16(1) + le16(2) + le16(colField(0, true, true));
        QTest::newRow("a reference that is gone: #REF!")
            << ref3d(1, 2, 0) << QList<int>{} << refErr3d << false;
        QTest::newRow("2-D to 3-D inside IF: jumps grow")
            << ifThenElse(integer(1) + integer(0) + gt, ref(10, 2), integer(0)) << QList<int>{}
            << ifThenElse(integer(1) + integer(0) + gt, ref3d(3, 110, 2), integer(0)) << true;
        const QByteArray memFunc = QByteArray(1, 0x29) + le16(10);
        const QByteArray memFunc3d = QByteArray(1, 0x29) + le16(14);
        QTest::newRow("2-D to 3-D inside a subexpression: its length grows")
            << memFunc + area(10, 11, 0, 0) + ref(12, 1) + QByteArray(1, 0x10) + funcVar(1, SUM)
            << QList<int>{}
            << memFunc3d + area3d(3, 110, 111, 0, 0) + ref3d(3, 112, 1) + QByteArray(1, 0x10) +
                   funcVar(1, SUM)
            << true;
    }

    void relocate() {
        QFETCH(QByteArray, tokens);
        QFETCH(QList<int>, insert);
        QFETCH(QByteArray, expected);
        QFETCH(bool, inside);
        Formula f(tokens);
        if (!insert.isEmpty()) {
            QCOMPARE(f.insertRows(insert[0], insert[1], insert[2]), inside);
        } else {
            QCOMPARE(f.relocate([](const RowSpan& r, bool) -> std::optional<RowSpan> {
                if (r.sheet >= 0)
                    return std::nullopt;
                return r.first >= 10 ? RowSpan{3, r.first + 100, r.last + 100} : r;
            }),
                     inside);
        }
        QCOMPARE(f.tokens().toHex(' '), expected.toHex(' '));
    }

    // LibreOffice computes relocated references: C2 + C5 after 38 rows inserted at row 3 (C2 + C43),
    // and a reference inside IF re-pointed from "Sales" to "More".
    void relocatedComputedByLibreOffice() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("moved.xls"));
        WorkbookWriter w(path);
        w.beginSheet(QStringLiteral("Sales"));
        w.writeNumber(1, 2, 15, 1000);
        for (int i = 0; i < 40; ++i)
            w.writeNumber(4 + i, 2, 15, i + 1);
        Formula inserted(ref(1, 2) + ref(4, 2) + add);
        QVERIFY(inserted.insertRows(2, 38));
        Formula repointed(ifThenElse(integer(1) + integer(0) + gt, ref(5, 2), integer(0)));
        QVERIFY(repointed.relocate([](const RowSpan& r, bool) {
            return RowSpan{1, r.first + 4, r.last + 4};
        }));
        w.writeFormula(45, 2, 15, inserted, Value{ValueType::Number, -1, {}});
        w.writeFormula(46, 2, 15, repointed, Value{ValueType::Number, -1, {}});
        QString error;
        const QStringList rows = finishAndCompute(w, path, dir, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(csvCell(rows, 45, 2), QStringLiteral("1039"));
        QCOMPARE(csvCell(rows, 46, 2), QStringLiteral("10"));
    }
};

QTEST_GUILESS_MAIN(TestXlsFormula)
#include "tst_xls_formula.moc"
