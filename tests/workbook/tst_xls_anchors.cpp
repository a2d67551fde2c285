// What is anchored to rows, placed as the report's layouts place the rows: ranges moved, widened and
// copied by the row map, conditional format, validation and hyperlink records rewritten, names
// understood, and the results of totals under a band computed.
#include "workbook/biff.h"
#include "workbook/xls.h"
#include "workbook/xls/anchors.h"
#include "workbook/xls/totals.h"

#include <QTest>

using namespace lw::xls;

namespace {

QByteArray le16(int v) {
    QByteArray b;
    biff::Out(b).u16(quint16(v));
    return b;
}

// Tokens: a relative area or cell on the formula's own sheet, an integer, a function of n arguments.
QByteArray area(int r1, int r2, int c1, int c2) {
    return QByteArray(1, 0x25) + le16(r1) + le16(r2) + le16(c1 | 0xC000) + le16(c2 | 0xC000);
}
QByteArray ref(int r, int c) {
    return QByteArray(1, 0x24) + le16(r) + le16(c | 0xC000);
}
QByteArray integer(int v) {
    return QByteArray(1, 0x1E) + le16(v);
}
QByteArray func(int argc, int fn) {
    return QByteArray(1, 0x42) + char(argc) + le16(fn);
}
QByteArray name(int index) {
    return QByteArray(1, 0x43) + le16(index) + le16(0);
}
const QByteArray SumAttr("\x19\x10\x00\x00", 4);
const QByteArray Add(1, 0x03), Mul(1, 0x05), Div(1, 0x06);

// The band at row 4 (index 3) copied for 10 records, the footer 9 rows lower; a form block of 8
// rows repeated 10 times; a sheet per record.
RowMap layoutMap(const QString& layout) {
    if (layout == "columnar")
        return RowMap({{0, 2, 0}, {3, 3, 3, 10, 1}, {4, maxRows - 1, 13}});
    if (layout == "columnar, 2-row band")
        return RowMap({{0, 2, 0}, {3, 4, 3, 10, 2}, {5, maxRows - 1, 23}});
    if (layout == "columnar, no footer here")
        return RowMap({{0, 2, 0}, {3, 3, 3, 5, 1}});
    if (layout == "form")
        return RowMap({{0, maxRows - 1, 0, 10, 8, 7}});
    return RowMap();
}

QString piecesText(const std::vector<RowPiece>& pieces) {
    QStringList out;
    for (const RowPiece& p : pieces)
        out << QStringLiteral("%1-%2%3%4")
                   .arg(p.first + 1)
                   .arg(p.last + 1)
                   .arg(p.shift < 0 ? "" : "+")
                   .arg(p.shift);
    return out.join(u' ');
}

// The ranges (1-based rows) of the records in the order they come, per record type.
QString rangesOf(const QByteArray& records) {
    QStringList out;
    for (qsizetype pos = 0; pos + 4 <= records.size();) {
        const quint16 id = biff::u16(records.constData() + pos);
        const quint16 size = biff::u16(records.constData() + pos + 2);
        const char* d = records.constData() + pos + 4;
        if (id == biff::rCondFmt) {
            const int n = biff::u16(d + 12);
            for (int i = 0; i < n; ++i)
                out << QStringLiteral("cf:%1-%2")
                           .arg(biff::u16(d + 14 + 8 * i) + 1)
                           .arg(biff::u16(d + 16 + 8 * i) + 1);
        } else if (id == biff::rCf) {
            const int cce1 = biff::u16(d + 2), cce2 = biff::u16(d + 4);
            out << QStringLiteral("rule:%1").arg(biff::u16(d + size - cce1 - cce2 + 1) + 1); // its tRef's row
        } else if (id == biff::rHlink || id == biff::rQuickTip) {
            const char* r = d + (id == biff::rQuickTip ? 2 : 0);
            out << QStringLiteral("%1:%2-%3")
                       .arg(id == biff::rHlink ? "link" : "tip")
                       .arg(biff::u16(r) + 1)
                       .arg(biff::u16(r + 2) + 1);
        } else if (id == biff::rDv) {
            biff::Reader rd(QByteArray(d, size));
            rd.u32();
            for (int i = 0; i < 4; ++i)
                rd.string();
            for (int i = 0; i < 2; ++i) {
                const int cce = rd.u16();
                rd.u16();
                rd.skip(cce);
            }
            for (int n = rd.u16(); n > 0; --n) {
                const int r1 = rd.u16(), r2 = rd.u16();
                rd.skip(4);
                out << QStringLiteral("dv:%1-%2").arg(r1 + 1).arg(r2 + 1);
            }
        } else if (id == biff::rDval) {
            out << QStringLiteral("dval:%1").arg(biff::u32(d + 14));
        }
        pos += 4 + size;
    }
    return out.join(u' ');
}

// A conditional format over C<row> whose rule compares with the cell itself (C<row> < 0), a list
// validation over B<row>, and a hyperlink with its tip on A<row>.
QList<Record> anchoredAt(int row) {
    QList<Record> r;
    QByteArray condFmt = le16(1) + le16(2) + le16(row) + le16(row) + le16(2) + le16(2) + le16(1) + le16(row) +
                         le16(row) + le16(2) + le16(2);
    r << Record{biff::rCondFmt, condFmt};
    const QByteArray rule = ref(row, 2);
    r << Record{biff::rCf,
                QByteArray(1, 1) + char(6) + le16(int(rule.size())) + le16(0) + QByteArray(6, '\0') + rule};
    QByteArray dval = le16(0) + QByteArray(8, '\0') + QByteArray(4, '\xFF') + QByteArray(4, '\0');
    r << Record{biff::rDval, dval};
    QByteArray dv = QByteArray(4, '\0');
    for (int s = 0; s < 4; ++s)
        dv += le16(1) + char(0) + char(0);
    dv += le16(3) + le16(0) + integer(1) + le16(0) + le16(0);
    dv += le16(1) + le16(row) + le16(row) + le16(1) + le16(1);
    r << Record{biff::rDv, dv};
    r << Record{biff::rHlink, le16(row) + le16(row) + le16(0) + le16(0) + QByteArray(20, 'x')};
    r << Record{biff::rQuickTip,
                le16(0x0800) + le16(row) + le16(row) + le16(0) + le16(0) + QByteArray(4, 'y')};
    return r;
}

} // namespace

class TestXlsAnchors : public QObject {
    Q_OBJECT

private slots:
    // Ranges of rows (1-based) where they land: "first-last+shift of the first copy".
    void rowMap_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<QString>("expected");
        QTest::newRow("band widened: B4 -> B4:B13") << "columnar" << 4 << 4 << "4-13+0";
        QTest::newRow("header stays") << "columnar" << 1 << 3 << "1-3+0";
        QTest::newRow("below moves: row 8 -> 17") << "columnar" << 8 << 8 << "17-17+9";
        QTest::newRow("header to footer widened") << "columnar" << 1 << 8 << "1-17+0";
        QTest::newRow("header and band widened") << "columnar" << 3 << 4 << "3-13+0";
        QTest::newRow("whole column stays") << "columnar" << 1 << maxRows << "1-65536+0";
        QTest::newRow("inside a 2-row band: copied")
            << "columnar, 2-row band" << 5 << 5
            << "5-5+0 7-7+2 9-9+4 11-11+6 13-13+8 15-15+10 17-17+12 19-19+14 21-21+16 23-23+18";
        QTest::newRow("footer not on this sheet: cut at the band")
            << "columnar, no footer here" << 1 << 8 << "1-8+0";
        QTest::newRow("only the footer: not on this sheet") << "columnar, no footer here" << 8 << 8 << "";
        QTest::newRow("form block widened") << "form" << 1 << 8 << "1-80+0";
        QTest::newRow("form cell copied per block")
            << "form" << 4 << 4
            << "4-4+0 12-12+8 20-20+16 28-28+24 36-36+32 44-44+40 52-52+48 60-60+56 68-68+64 76-76+72";
        QTest::newRow("sheet per record stays") << "sheets" << 4 << 4 << "4-4+0";
    }
    void rowMap() {
        QFETCH(QString, layout);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, expected);
        QCOMPARE(piecesText(layoutMap(layout).range(first - 1, last - 1)), expected);
    }

    // How far an object anchored at a row (1-based) moves, once per copy.
    void shifts_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("row");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("logo above the band") << "columnar" << 1 << QList<int>{0};
        QTest::newRow("picture at row 8 -> 17") << "columnar" << 8 << QList<int>{9};
        QTest::newRow("comment in the band") << "columnar" << 4 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        QTest::newRow("footer not on this sheet") << "columnar, no footer here" << 8 << QList<int>{};
        QTest::newRow("form") << "form" << 8 << QList<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72};
        QTest::newRow("sheets") << "sheets" << 8 << QList<int>{0};
    }
    void shifts() {
        QFETCH(QString, layout);
        QFETCH(int, row);
        QFETCH(QList<int>, expected);
        const std::vector<int> got = layoutMap(layout).shifts(row - 1);
        QCOMPARE(QList<int>(got.begin(), got.end()), expected);
    }

    // Conditional formats (and the formula of their rule), validation and hyperlinks placed.
    void anchoredRecords_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("expected");
        QTest::newRow("band, columnar")
            << "columnar" << 4 << "cf:4-13 rule:4 dval:1 dv:4-13 link:4-13 tip:4-13";
        QTest::newRow("below, columnar")
            << "columnar" << 8 << "cf:17-17 rule:17 dval:1 dv:17-17 link:17-17 tip:17-17";
        QTest::newRow("header, columnar")
            << "columnar" << 3 << "cf:3-3 rule:3 dval:1 dv:3-3 link:3-3 tip:3-3";
        QTest::newRow("form: per block")
            << "form" << 4
            << "cf:4-4 cf:12-12 cf:20-20 cf:28-28 cf:36-36 cf:44-44 cf:52-52 cf:60-60 cf:68-68 cf:76-76 "
               "rule:4 dval:1 "
               "dv:4-4 dv:12-12 dv:20-20 dv:28-28 dv:36-36 dv:44-44 dv:52-52 dv:60-60 dv:68-68 dv:76-76 "
               "link:4-4 tip:4-4 link:12-12 tip:12-12 link:20-20 tip:20-20 link:28-28 tip:28-28 link:36-36 "
               "tip:36-36 link:44-44 tip:44-44 link:52-52 tip:52-52 link:60-60 tip:60-60 link:68-68 "
               "tip:68-68 "
               "link:76-76 tip:76-76";
        QTest::newRow("sheets") << "sheets" << 4 << "cf:4-4 rule:4 dval:1 dv:4-4 link:4-4 tip:4-4";
        QTest::newRow("not on the sheet") << "columnar, no footer here" << 8 << "";
    }
    void anchoredRecords() {
        QFETCH(QString, layout);
        QFETCH(int, row);
        QFETCH(QString, expected);
        QStringList problems;
        const AnchoredRecords placed = placeAnchored(anchoredAt(row - 1), layoutMap(layout), &problems);
        QCOMPARE(rangesOf(placed.formats), expected);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(", ")));
    }

    // The Excel 2007 records: CONDFMT12 and its CF12 rule (its header's range and its formula), and
    // the CFEX that names the format, below the band: moved 9 rows.
    void condFmt12() {
        const int row = 7;
        const QByteArray frt = le16(biff::rCondFmt12) + le16(1) + le16(row) + le16(row) + le16(2) + le16(2);
        const QByteArray head = frt + le16(1) + le16(5 << 1) + le16(row) + le16(row) + le16(2) + le16(2) +
                                le16(1) + le16(row) + le16(row) + le16(2) + le16(2);
        const QByteArray rule = ref(row, 2);
        const QByteArray cf12 = le16(biff::rCf12) + le16(1) + le16(row) + le16(row) + le16(2) + le16(2) +
                                char(1) + char(6) + le16(int(rule.size())) + le16(0) + QByteArray(4, '\0') +
                                rule + le16(0);
        QByteArray cfex = le16(biff::rCfEx) + le16(1) + le16(row) + le16(row) + le16(2) + le16(2) +
                          QByteArray(4, '\0') + le16(5);
        QStringList problems;
        const AnchoredRecords placed = placeAnchored(
            {Record{biff::rCondFmt12, head}, Record{biff::rCf12, cf12}, Record{biff::rCfEx, cfex}},
            layoutMap("columnar"), &problems);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(", ")));
        QList<int> rows; // every row field: CONDFMT12 header, bound, range; CF12 header, formula; CFEX header
        const QByteArray& out = placed.formats;
        for (qsizetype pos = 0; pos + 4 <= out.size(); pos += 4 + biff::u16(out.constData() + pos + 2)) {
            const char* d = out.constData() + pos + 4;
            const quint16 id = biff::u16(out.constData() + pos);
            rows << biff::u16(d + 4) + 1;
            if (id == biff::rCondFmt12)
                rows << biff::u16(d + 16) + 1 << biff::u16(d + 26) + 1;
            if (id == biff::rCf12)
                rows << biff::u16(d + 23) + 1;
            if (id == biff::rCfEx)
                rows << biff::u16(d + 16);
        }
        QCOMPARE(rows, (QList<int>{17, 17, 17, 17, 17, 17, 5}));
    }

    // A defined name over the band: widened like the print area, on the written sheet given.
    void names_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("target");
        QTest::addColumn<QList<int>>("expected"); // sheet, first row, last row (1-based)
        QTest::newRow("columnar band") << "columnar" << 4 << 4 << 0 << QList<int>{0, 4, 13};
        QTest::newRow("columnar print area") << "columnar" << 1 << 8 << 0 << QList<int>{0, 1, 17};
        QTest::newRow("form print area") << "form" << 1 << 8 << 0 << QList<int>{0, 1, 80};
        QTest::newRow("form band: the first block") << "form" << 4 << 4 << 0 << QList<int>{0, 4, 4};
        QTest::newRow("sheets: its own sheet") << "sheets" << 1 << 8 << 6 << QList<int>{6, 1, 8};
    }
    void names() {
        QFETCH(QString, layout);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, target);
        QFETCH(QList<int>, expected);
        Formula f(QByteArray(1, 0x3B) + le16(0) + le16(first - 1) + le16(last - 1) + le16(0) + le16(4));
        QVERIFY(placeName(f, 0, target, layoutMap(layout), [](int s) { return s; }));
        const char* t = f.tokens().constData();
        QCOMPARE((QList<int>{biff::u16(t + 1), biff::u16(t + 3) + 1, biff::u16(t + 5) + 1}), expected);
    }

    // Names in a formula go by the index the report gives them; one it does not hold stops it.
    void formulaNames_data() {
        QTest::addColumn<QList<int>>("written"); // per name of the blank
        QTest::addColumn<int>("expected");       // the token's index, -1: refused
        QTest::newRow("moved") << QList<int>{4, 0} << 5;
        QTest::newRow("not written") << QList<int>{-1, 0} << -1;
    }
    void formulaNames() {
        QFETCH(QList<int>, written);
        QFETCH(int, expected);
        Formula f(name(1) + func(1, 4));
        const bool ok = mapNames(f, [&](int n) { return written.value(n, -1); });
        QCOMPARE(ok ? int(biff::u16(f.tokens().constData() + 1)) : -1, expected);
    }

    void builtinNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("LibreOffice print titles") << "Excel_BuiltIn_Print_Titles" << 7;
        QTest::newRow("LibreOffice print area") << "_xlnm.Print_Area" << 6;
        QTest::newRow("filter database") << "Excel_BuiltIn__FilterDatabase" << 0x0D;
        QTest::newRow("a user's name") << "Amounts" << -1;
        QTest::newRow("a user's name like one") << "Print_Area" << -1;
    }
    void builtinNames() {
        QFETCH(QString, name);
        QFETCH(int, code);
        QCOMPARE(builtinNameCode(name), code);
    }

    // Totals under a band over column C (amounts -19.75, 10.5 and 40) and D (the texts "a", "b").
    void totals_data() {
        QTest::addColumn<QByteArray>("tokens");
        QTest::addColumn<QString>("expected"); // empty: not computed
        const QByteArray c = area(3, 3, 2, 2), cd = area(3, 3, 2, 3);
        QTest::newRow("SUM as tAttr") << c + SumAttr << "30.75";
        QTest::newRow("SUM of two columns") << cd + func(1, 4) << "30.75";
        QTest::newRow("COUNT") << c + func(1, 0) << "3";
        QTest::newRow("COUNTA of two columns") << cd + func(1, 169) << "5";
        QTest::newRow("AVERAGE") << c + func(1, 5) << "10.25";
        QTest::newRow("MIN") << c + func(1, 6) << "-19.75";
        QTest::newRow("MAX*2+1") << c + func(1, 7) + integer(2) + Mul + integer(1) + Add << "81";
        QTest::newRow("SUM/COUNT") << c + SumAttr + c + func(1, 0) + Div << "10.25";
        QTest::newRow("AVERAGE of no number: #DIV/0!") << area(3, 3, 3, 3) + func(1, 5) << "error 7";
        QTest::newRow("a cell reference: not computed") << ref(3, 2) + integer(1) + Add << "";
        QTest::newRow("another range: not computed") << area(3, 4, 2, 2) + SumAttr << "";
        QTest::newRow("a column of formulas: not computed") << area(3, 3, 4, 4) + SumAttr << "";
        QTest::newRow("SUM of a name over the band") << name(1) + func(1, 4) << "30.75";
        QTest::newRow("a name over other rows: not computed") << name(2) + func(1, 4) << "";
    }
    void totals() {
        QFETCH(QByteArray, tokens);
        QFETCH(QString, expected);
        ColumnTally c, d, e;
        for (double v : {-19.75, 10.5, 40.0})
            c.add({ValueType::Number, v, {}});
        d.add({ValueType::Text, 0, "a"});
        d.add({ValueType::Text, 0, "b"});
        d.add({ValueType::Empty, 0, {}});
        e.unknown = true;
        const std::optional<Value> v = computeTotal(
            Formula(tokens), 3, 3,
            [&](int column) -> const ColumnTally* {
                return column == 2 ? &c : column == 3 ? &d : column == 4 ? &e : nullptr;
            },
            [](int n) { return n == 0 ? std::optional(std::pair(2, 2)) : std::nullopt; });
        const QString got = !v                            ? QString()
                            : v->type == ValueType::Error ? QStringLiteral("error %1").arg(v->number)
                                                          : QString::number(v->number);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TestXlsAnchors)
#include "tst_xls_anchors.moc"
