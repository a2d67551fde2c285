// The workbook reader: workbooks LibreOffice saves as Excel 97-2003 (a template of its own and our
// blank saved back), a template written back with its looks unchanged, and record forms that
// LibreOffice does not write (strings split across CONTINUE records, RK forms, shared formulas).
#include "workbook/biff.h"
#include "workbook/xls.h"
#include "xlstest.h"

#include <QImage>
#include <QtTest>

using namespace lw::xls;
using namespace lw::xlstest;

namespace {

// A workbook stream: the global records given, one BOUNDSHEET per sheet, then the sheets.
QByteArray workbookStream(const QByteArray& globals, const QList<QByteArray>& sheets, int hiddenSheet = -1) {
    QByteArray head = bof(0x0005) + globals;
    QList<int> patch;
    for (int i = 0; i < sheets.size(); ++i) {
        patch.append(int(head.size()) + 4);
        const QByteArray name = "S" + QByteArray::number(i);
        head += rec(0x0085,
                    le32(0) + char(i == hiddenSheet ? 1 : 0) + char(0) + char(name.size()) + char(0) + name);
    }
    head += rec(0x000A, {});
    QByteArray out = head;
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray pos = le32(quint32(out.size()));
        out.replace(patch[i], 4, pos);
        out += bof(0x0010) + sheets[i] + rec(0x000A, {});
    }
    return out;
}

QByteArray cellHead(int row, int col, int xf = 15) {
    return le16(row) + le16(col) + le16(xf);
}

QByteArray formula(int row, int col, const QByteArray& tokens, double cached = 0) {
    QByteArray d = cellHead(row, col);
    d.append(reinterpret_cast<const char*>(&cached), 8);
    return rec(0x0006, d + le16(0) + le32(0) + le16(int(tokens.size())) + tokens);
}

const Cell* cellAt(const Workbook& b, int sheet, int row, int col) {
    return b.sheets.at(std::size_t(sheet)).cellAt(row, col);
}

} // namespace

class TestXlsRead : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_template; // LibreOffice's own save of tests/workbook/template.fods
    QString m_blank;    // our blank, saved back by LibreOffice

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Our blank: bold bordered headings, widths, a merged title, print titles, a date format,
        // a total over the band and a reference to the second sheet.
        const QString blank = path(QStringLiteral("blank.xls"));
        {
            WorkbookWriter w(blank);
            CellFormat head;
            head.font.bold = true;
            head.border = true;
            CellFormat date;
            date.numberFormat = QStringLiteral("dd.mm.yyyy");
            const quint16 headXf = w.addFormat(head);
            const quint16 dateXf = w.addFormat(date);
            w.beginSheet(QStringLiteral("Blank"));
            w.setColumnWidth(0, 0, 8000);
            w.setColumnWidth(1, 2, 4000);
            w.setRow(RowFormat{0, 500, true, false, std::nullopt});
            w.writeText(0, 0, headXf, QStringLiteral("${REPORT}"));
            w.writeText(2, 0, headXf, QStringLiteral("Name"));
            w.writeText(2, 1, headXf, QStringLiteral("Amount"));
            w.writeText(3, 0, 15, QStringLiteral("${NAME}"));
            w.writeNumber(3, 1, 15, 10);
            w.writeNumber(3, 2, dateXf, 45351);
            // B5: =SUM(B4:B4)   C5: =Second!A1*2
            QByteArray sum;
            sum.append(char(0x25)).append(le16(3)).append(le16(3)).append(le16(0xC001)).append(le16(0xC001));
            sum.append(char(0x19)).append(char(0x10)).append(le16(0));
            w.writeFormula(4, 1, 15, Formula(sum), Value{ValueType::Number, 10, {}});
            QByteArray ref3d;
            ref3d.append(char(0x5A)).append(le16(1)).append(le16(0)).append(le16(0xC000));
            ref3d.append(char(0x1E)).append(le16(2)).append(char(0x05));
            w.writeFormula(4, 2, 15, Formula(ref3d), Value{ValueType::Number, 14, {}});
            w.addMerged({0, 0, 0, 2});
            w.addRowBreak(20);
            w.setPrintTitleRows(2, 2);
            w.beginSheet(QStringLiteral("Second"));
            w.writeNumber(0, 0, 15, 7);
            w.finish();
        }
        const QString lo = path(QStringLiteral("lo"));
        QDir().mkpath(lo);
        QString error;
        QVERIFY2(soffice(QStringLiteral("xls"),
                         {sourceDir() + QStringLiteral("/tests/workbook/template.fods"), blank}, lo, &error),
                 qPrintable(error));
        m_template = lo + QStringLiteral("/template.xls");
        m_blank = lo + QStringLiteral("/blank.xls");
        QVERIFY(QFile::exists(m_template));
        QVERIFY(QFile::exists(m_blank));
    }

    // LibreOffice's own workbook: values, types, formats, merged cells, widths and formulas.
    void libreOfficeTemplate() {
        const Workbook b = readWorkbook(m_template);
        QCOMPARE(b.sheets.size(), std::size_t(2));
        QCOMPARE(b.sheets[0].name, QStringLiteral("Sales"));
        QCOMPARE(b.sheets[1].name, QStringLiteral("Other"));
        QCOMPARE(cellAt(b, 0, 0, 0)->value.text, QStringLiteral("${REPORT}"));
        QCOMPARE(cellAt(b, 0, 2, 0)->value.text, QStringLiteral("${NAME}"));
        QCOMPARE(cellAt(b, 0, 2, 1)->value.number, 12.5);
        const Cell* date = cellAt(b, 0, 2, 2);
        QCOMPARE(date->value.number, 45351.0);
        QVERIFY(b.isDateFormat(date->xf));
        QVERIFY(!b.isDateFormat(cellAt(b, 0, 2, 1)->xf));
        QCOMPARE(b.numberFormat(cellAt(b, 0, 2, 1)->xf), QStringLiteral("General"));
        QCOMPARE(b.sheets[0].merged, (std::vector<MergedRange>{{0, 0, 0, 2}}));
        // The first column is wider than the others.
        const auto& cols = b.sheets[0].columns;
        QVERIFY(!cols.empty());
        QCOMPARE(cols.front().first, 0);
        QVERIFY(cols.front().width > cols.back().width);
        QVERIFY(std::any_of(b.sheets[0].rows.begin(), b.sheets[0].rows.end(), [](const RowFormat& r) {
            return r.row == 0 && r.customHeight && r.height > 500;
        }));
        // B4 =SUM(B3:B3) covers the band row; D5 =SUM(Other.A1:A2) names the second sheet.
        const Cell* total = cellAt(b, 0, 3, 1);
        QVERIFY(total->formula);
        QVERIFY(total->formula->hasAreaOverRows(2, 2));
        QCOMPARE(total->value.number, 12.5);
        const Cell* other = cellAt(b, 0, 4, 3);
        QVERIFY(other->formula);
        QCOMPARE(quint8(other->formula->tokens()[0]) & 0x1F, 0x1B); // tArea3d
        QCOMPARE(quint8(other->formula->tokens()[1]), quint8(1));   // the model's sheet 1
        QCOMPARE(cellAt(b, 0, 5, 2)->value.type, ValueType::Error);
        QVERIFY(b.sheets[0].dropped.isEmpty());
        QVERIFY(!b.sheets[0].layoutRecords.isEmpty());
    }

    // Our blank, saved by LibreOffice as a user's would be, read back.
    void blankSavedByLibreOffice() {
        const Workbook b = readWorkbook(m_blank);
        QCOMPARE(b.sheets.size(), std::size_t(2));
        const Sheet& s = b.sheets[0];
        QCOMPARE(s.name, QStringLiteral("Blank"));
        QCOMPARE(cellAt(b, 0, 0, 0)->value.text, QStringLiteral("${REPORT}"));
        QCOMPARE(cellAt(b, 0, 3, 0)->value.text, QStringLiteral("${NAME}"));
        QCOMPARE(cellAt(b, 0, 3, 1)->value.number, 10.0);
        QVERIFY(b.isDateFormat(cellAt(b, 0, 3, 2)->xf));
        QVERIFY(s.merged == (std::vector<MergedRange>{{0, 0, 0, 2}}));
        QCOMPARE(s.printTitleRows, (std::optional<std::pair<int, int>>(std::pair(2, 2))));
        QCOMPARE(s.rowBreaks, std::vector<int>{20});
        const Cell* total = cellAt(b, 0, 4, 1);
        QVERIFY(total && total->formula);
        QVERIFY(total->formula->hasAreaOverRows(3, 3));
        const Cell* twice = cellAt(b, 0, 4, 2);
        QVERIFY(twice && twice->formula);
        QCOMPARE(twice->value.number, 14.0);
        QCOMPARE(quint8(twice->formula->tokens()[1]), quint8(1));
        QVERIFY(std::any_of(s.columns.begin(), s.columns.end(), [](const ColumnFormat& c) {
            return c.first == 0 && c.width > 7000 && c.width < 9000;
        }));
        QVERIFY(std::any_of(s.rows.begin(), s.rows.end(),
                            [](const RowFormat& r) { return r.row == 0 && r.height == 500; }));
    }

    // The template written back through our writer looks the same to LibreOffice: the same
    // values in every sheet, the same printed text and the same printed pages.
    void templateWrittenBack() {
        const Workbook b = readWorkbook(m_template);
        const QString copy = path(QStringLiteral("copy.xls"));
        WorkbookWriter w(copy);
        w.useFormatsOf(b);
        w.setDate1904(b.date1904);
        for (const Sheet& s : b.sheets)
            w.writeSheet(s);
        w.finish();

        const QString csv = path(QStringLiteral("csv"));
        const QString pdf = path(QStringLiteral("pdf"));
        QDir().mkpath(csv);
        QDir().mkpath(pdf);
        QString error;
        QVERIFY2(soffice(csvAllSheets(), {m_template, copy}, csv, &error), qPrintable(error));
        QVERIFY2(soffice(QStringLiteral("pdf"), {m_template, copy}, pdf, &error), qPrintable(error));
        for (const Sheet& s : b.sheets) {
            const QStringList before = readLines(csv + QStringLiteral("/template-%1.csv").arg(s.name));
            const QStringList after = readLines(csv + QStringLiteral("/copy-%1.csv").arg(s.name));
            QVERIFY(!before.isEmpty());
            QCOMPARE(after, before);
        }
        const Run t1 =
            run(QStringLiteral("pdftotext"),
                {QStringLiteral("-layout"), pdf + QStringLiteral("/template.pdf"), QStringLiteral("-")});
        const Run t2 =
            run(QStringLiteral("pdftotext"),
                {QStringLiteral("-layout"), pdf + QStringLiteral("/copy.pdf"), QStringLiteral("-")});
        QCOMPARE(t1.exitCode, 0);
        QVERIFY(t1.out.contains("${REPORT}"));
        QCOMPARE(t2.out, t1.out);
        // The pages as pictures: fonts, borders, widths and merged cells drawn the same.
        QVERIFY(run(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                     pdf + QStringLiteral("/template.pdf"), pdf + QStringLiteral("/t")})
                    .exitCode == 0);
        QVERIFY(run(QStringLiteral("pdftoppm"),
                    {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
                     pdf + QStringLiteral("/copy.pdf"), pdf + QStringLiteral("/c")})
                    .exitCode == 0);
        const QStringList pages = QDir(pdf).entryList({QStringLiteral("t-*.png")}, QDir::Files, QDir::Name);
        QVERIFY(!pages.isEmpty());
        for (const QString& page : pages) {
            const QImage before(pdf + u'/' + page);
            const QImage after(pdf + QStringLiteral("/c") + page.mid(1));
            QVERIFY(!before.isNull());
            QCOMPARE(after.size(), before.size());
            QVERIFY2(after == before, qPrintable(page));
        }
    }

    // Formats added on top of a template's: a date copy of a template cell format keeps its font
    // and borders, a format of our own gets its own font; xlrd reads them so.
    void formatsAddedToTemplate() {
        const Workbook b = readWorkbook(m_template);
        const quint16 heading = cellAt(b, 0, 1, 0)->xf; // italic, bordered
        const QString path = m_dir.filePath(QStringLiteral("added.xls"));
        WorkbookWriter w(path);
        w.useFormatsOf(b);
        const quint16 dated = w.withNumberFormat(heading, QStringLiteral("dd.mm.yyyy"));
        CellFormat own;
        own.font.bold = true;
        own.font.name = QStringLiteral("DejaVu Sans");
        own.numberFormat = QStringLiteral("0.0");
        const quint16 ownXf = w.addFormat(own);
        QVERIFY(dated >= b.xfFormatIndex.size());
        w.beginSheet(QStringLiteral("Added"), &b.sheets[0]);
        w.writeText(0, 0, heading, QStringLiteral("as it was"));
        w.writeNumber(0, 1, dated, 45351);
        w.writeNumber(0, 2, ownXf, 2.25);
        w.finish();
        QString error;
        const QJsonObject book = xlrd(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonObject sheet = xlrdSheet(book, 0);
        const QJsonObject original = xlrdCell(sheet, 0, 0);
        const QJsonObject copy = xlrdCell(sheet, 0, 1);
        QVERIFY(original[QStringLiteral("italic")].toBool());
        QCOMPARE(copy[QStringLiteral("type")].toString(), QStringLiteral("date"));
        QCOMPARE(copy[QStringLiteral("format")].toString(), QStringLiteral("dd.mm.yyyy"));
        for (const char* key : {"font", "height", "italic", "bold", "border"})
            QCOMPARE(copy[QLatin1String(key)], original[QLatin1String(key)]);
        const QJsonObject mine = xlrdCell(sheet, 0, 2);
        QCOMPARE(mine[QStringLiteral("font")].toString(), QStringLiteral("DejaVu Sans"));
        QVERIFY(mine[QStringLiteral("bold")].toBool());
        QCOMPARE(mine[QStringLiteral("format")].toString(), QStringLiteral("0.0"));
    }

    // A workbook of another writer (python3-xlwt): values, formats, merged cells, widths and
    // formulas, a 3-D reference among them.
    void xlwtWorkbook() {
        const QString path = m_dir.filePath(QStringLiteral("xlwt.xls"));
        const QString script = QStringLiteral(
            "import sys, datetime, xlwt\n"
            "b = xlwt.Workbook()\n"
            "s = b.add_sheet('Main')\n"
            "t = b.add_sheet('Other')\n"
            "bold = xlwt.easyxf('font: bold on; borders: left thin, right thin, top thin, bottom thin')\n"
            "date = xlwt.easyxf(num_format_str='YYYY-MM-DD')\n"
            "s.write_merge(0, 0, 0, 2, 'Title', bold)\n"
            "s.write(1, 0, 'Zoë')\n"
            "s.write(1, 1, 2.5)\n"
            "s.write(1, 2, datetime.date(2024, 2, 29), date)\n"
            "s.write(2, 0, True)\n"
            "s.write(2, 1, 1234567)\n"
            "s.write(3, 1, xlwt.Formula('SUM(B2:B3)'))\n"
            "s.write(3, 2, xlwt.Formula('Other!A1*2'))\n"
            "s.col(0).width = 7000\n"
            "t.write(0, 0, 21)\n"
            "b.save(sys.argv[1])\n");
        const Run r = run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
        QVERIFY2(r.exitCode == 0, r.err.constData());
        const Workbook b = readWorkbook(path);
        QCOMPARE(b.sheets.size(), std::size_t(2));
        QCOMPARE(cellAt(b, 0, 0, 0)->value.text, QStringLiteral("Title"));
        QCOMPARE(cellAt(b, 0, 1, 0)->value.text, QStringLiteral("Zoë"));
        QCOMPARE(cellAt(b, 0, 1, 1)->value.number, 2.5);
        QCOMPARE(cellAt(b, 0, 1, 2)->value.number, 45351.0);
        QVERIFY(b.isDateFormat(cellAt(b, 0, 1, 2)->xf));
        QCOMPARE(b.numberFormat(cellAt(b, 0, 1, 2)->xf), QStringLiteral("YYYY-MM-DD"));
        QCOMPARE(cellAt(b, 0, 2, 0)->value.type, ValueType::Boolean);
        QCOMPARE(cellAt(b, 0, 2, 1)->value.number, 1234567.0);
        QVERIFY(b.sheets[0].merged == (std::vector<MergedRange>{{0, 0, 0, 2}}));
        QVERIFY(std::any_of(b.sheets[0].columns.begin(), b.sheets[0].columns.end(),
                            [](const ColumnFormat& c) { return c.first == 0 && c.width == 7000; }));
        QVERIFY(cellAt(b, 0, 3, 1)->formula);
        QVERIFY(cellAt(b, 0, 3, 1)->formula->hasAreaOverRows(1, 2));
        QVERIFY(cellAt(b, 0, 3, 2)->formula);
        QCOMPARE(cellAt(b, 0, 3, 2)->formula->sheetsReferenced(), std::vector<int>{1});
    }

    // Strings of the shared string table split across CONTINUE records at any character, with
    // the character width changing at the split, and rich-text and phonetic data split as well.
    void sstAcrossContinue_data() {
        QTest::addColumn<QList<QByteArray>>("pieces"); // SST data, then each CONTINUE's data
        QTest::addColumn<QStringList>("strings");
        QTest::newRow("compressed characters split")
            << QList<QByteArray>{le16(10) + char(0) + "abcd", QByteArray(1, 0) + "efghij"}
            << QStringList{QStringLiteral("abcdefghij")};
        QTest::newRow("compressed, then UTF-16 after the split")
            << QList<QByteArray>{le16(6) + char(0) + "abc", QByteArray(1, 1) + utf16(QStringLiteral("Жёz"))}
            << QStringList{QStringLiteral("abcЖёz")};
        QTest::newRow("UTF-16, then compressed after the split")
            << QList<QByteArray>{le16(4) + char(1) + utf16(QStringLiteral("ЖЖ")), QByteArray(1, 0) + "ab"}
            << QStringList{QStringLiteral("ЖЖab")};
        QTest::newRow("split right after the string header")
            << QList<QByteArray>{le16(3) + char(0), QByteArray(1, 0) + "abc"}
            << QStringList{QStringLiteral("abc")};
        QTest::newRow("rich-text runs split")
            << QList<QByteArray>{le16(3) + char(0x08) + le16(2) + "abc" + le32(0x00010000),
                                 le32(0x00020002) + le16(2) + char(0) + "xy"}
            << QStringList{QStringLiteral("abc"), QStringLiteral("xy")};
        QTest::newRow("phonetic data split")
            << QList<QByteArray>{le16(2) + char(0x04) + le32(10) + "ab" + QByteArray(6, 'p'),
                                 QByteArray(4, 'q') + le16(1) + char(0) + "z"}
            << QStringList{QStringLiteral("ab"), QStringLiteral("z")};
        QTest::newRow("next string in the next record")
            << QList<QByteArray>{le16(2) + char(0) + "ab", le16(1) + char(0) + "c"}
            << QStringList{QStringLiteral("ab"), QStringLiteral("c")};
    }

    void sstAcrossContinue() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QStringList, strings);
        QByteArray globals =
            rec(0x00FC, le32(quint32(strings.size())) + le32(quint32(strings.size())) + pieces[0]);
        for (int i = 1; i < pieces.size(); ++i)
            globals += rec(0x003C, pieces[i]);
        QByteArray sheet;
        for (int i = 0; i < strings.size(); ++i)
            sheet += rec(0x00FD, cellHead(i, 0) + le32(quint32(i)));
        const Workbook b = readWorkbookStream(workbookStream(globals, {sheet}));
        QCOMPARE(b.sheets[0].cells.size(), std::size_t(strings.size()));
        for (int i = 0; i < strings.size(); ++i)
            QCOMPARE(b.sheets[0].cells[std::size_t(i)].value.text, strings[i]);
    }

    // Defined names: a user's, built-in ones, and the stand-ins LibreOffice writes beside them
    // (understood as the built-in they stand for, and never twice); "name|scope|sheet rows" each.
    void definedNames_data() {
        QTest::addColumn<QByteArrayList>("names"); // NAME records: flags, name, sheet (1-based, 0 none), rows
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("titles");
        const auto name = [](int flags, const QByteArray& text, int itab, int sheet, int r1, int r2) {
            const QByteArray area = QByteArray(1, 0x3B) + le16(sheet) + le16(r1) + le16(r2) + le16(0) + le16(255);
            return le16(flags) + char(0) + char(text.size()) + le16(int(area.size())) + le16(0) + le16(itab) +
                   le32(0) + char(0) + text + area;
        };
        const QByteArray area(1, 0x06), titles(1, 0x07);
        QTest::newRow("a user's name") << QByteArrayList{name(0, "Amounts", 0, 1, 3, 3)} << "Amounts|-1|1 4-4" << "";
        QTest::newRow("print area") << QByteArrayList{name(0x20, area, 1, 0, 0, 7)} << "#6|0|0 1-8" << "";
        QTest::newRow("LibreOffice's stand-in alone")
            << QByteArrayList{name(0, "Excel_BuiltIn_Print_Area", 1, 0, 0, 7)} << "#6|0|0 1-8" << "";
        QTest::newRow("stand-in beside the built-in")
            << QByteArrayList{name(0x20, area, 1, 0, 0, 7), name(0, "_xlnm.Print_Area", 1, 0, 0, 9)} << "#6|0|0 1-8" << "";
        QTest::newRow("print titles and their stand-in")
            << QByteArrayList{name(0x20, titles, 2, 1, 2, 2), name(0, "Excel_BuiltIn_Print_Titles", 2, 1, 4, 4)} << ""
            << "S1 3-3";
        QTest::newRow("a stand-in for print titles alone")
            << QByteArrayList{name(0, "Excel_BuiltIn_Print_Titles", 2, 1, 4, 4)} << "" << "S1 5-5";
        QTest::newRow("hidden filter database")
            << QByteArrayList{name(0x21, QByteArray(1, 0x0D), 1, 0, 2, 3)} << "#13|0|0 3-4" << "";
    }
    void definedNames() {
        QFETCH(QByteArrayList, names);
        QFETCH(QString, expected);
        QFETCH(QString, titles);
        QByteArray globals = rec(0x01AE, le16(2) + le16(0x0401)) +
                             rec(0x0017, le16(2) + le16(0) + le16(0) + le16(0) + le16(0) + le16(1) + le16(1));
        for (const QByteArray& n : names)
            globals += rec(0x0018, n);
        const Workbook b = readWorkbookStream(workbookStream(globals, {QByteArray(), QByteArray()}));
        QStringList got;
        for (const DefinedName& n : b.names) {
            const char* t = n.formula.tokens().constData();
            got << QStringLiteral("%1|%2|%3 %4-%5")
                       .arg(n.builtin >= 0 ? QStringLiteral("#%1").arg(n.builtin) : n.name)
                       .arg(n.scope)
                       .arg(lw::xls::biff::u16(t + 1))
                       .arg(lw::xls::biff::u16(t + 3) + 1)
                       .arg(lw::xls::biff::u16(t + 5) + 1);
        }
        QCOMPARE(got.join(u','), expected);
        QStringList gotTitles;
        for (const Sheet& s : b.sheets)
            if (s.printTitleRows)
                gotTitles << QStringLiteral("%1 %2-%3").arg(s.name).arg(s.printTitleRows->first + 1).arg(s.printTitleRows->second + 1);
        QCOMPARE(gotTitles.join(u','), titles);
        QVERIFY2(b.dropped.isEmpty(), qPrintable(b.dropped.join(", ")));
    }

    // Cell records LibreOffice does not write: RK forms, MULRK, MULBLANK, LABEL, RSTRING,
    // errors, text results, shared and array formulas, 3-D references through EXTERNSHEET, a
    // hidden sheet.
    void otherCellRecords() {
        const QByteArray globals =
            rec(0x01AE, le16(2) + le16(0x0401)) +
            rec(0x0017, le16(2) + le16(0) + le16(0) + le16(0) + le16(0) + le16(1) + le16(1));
        QByteArray s;
        s += rec(0x027E, cellHead(0, 0) + le32((quint32(-7) << 2) | 2)); // -7
        s += rec(0x027E, cellHead(0, 1) + le32((1234u << 2) | 3));       // 12.34
        s += rec(0x027E, cellHead(0, 2) + le32(0x3FF80000));             // 1.5
        s += rec(0x00BD,
                 le16(1) + le16(0) + le16(15) + le32((5u << 2) | 2) + le16(15) + le32(0x40590001) + le16(1));
        s += rec(0x00BE, le16(2) + le16(3) + le16(15) + le16(16) + le16(4));
        s += rec(0x0204, cellHead(3, 0) + le16(4) + char(1) + utf16(QStringLiteral("Жaba")));
        s += rec(0x00D6, cellHead(3, 1) + le16(3) + char(0) + QByteArray("ric") + le16(1) + le32(0));
        s += rec(0x0205, cellHead(3, 2) + char(0x2A) + char(1));
        s += rec(0x0205, cellHead(3, 3) + char(1) + char(0));
        // A text result: the value is marked as text and a STRING record follows.
        {
            QByteArray d = cellHead(4, 0) + QByteArray(6, 0) + le16(0xFFFF) + le16(0) + le32(0);
            const QByteArray t = QByteArray(1, 0x17) + char(1) + char(0) + "q";
            s += rec(0x0006, d + le16(int(t.size())) + t);
            s += rec(0x0207, le16(5) + char(0) + "hello");
        }
        // A shared formula over A6:A7: =B<row above>+1 as offsets, read as each cell's own.
        const QByteArray exp = QByteArray(1, 0x01) + le16(5) + le16(0);
        s += formula(5, 0, exp, 1);
        s += rec(0x04BC, le16(5) + le16(6) + char(0) + char(0) + char(0) + char(2) + le16(9) +
                             QByteArray(1, 0x4C) + le16(0xFFFF) + le16(0xC001) + QByteArray(1, 0x1E) +
                             le16(1) + char(0x03));
        s += formula(6, 0, exp, 2);
        // An array formula: kept as its value.
        s += formula(7, 0, QByteArray(1, 0x01) + le16(7) + le16(0), 9);
        s += rec(0x0221, le16(7) + le16(7) + char(0) + char(0) + le16(0) + le32(0) + le16(3) +
                             QByteArray(1, 0x1E) + le16(9));
        // A 3-D reference through EXTERNSHEET entry 1 (the second sheet).
        s += formula(8, 0, QByteArray(1, 0x3A) + le16(1) + le16(0) + le16(0));
        const Workbook b = readWorkbookStream(
            workbookStream(globals, {s, rec(0x0203, cellHead(0, 0) + QByteArray(8, 0))}, 1));
        QVERIFY(b.sheets[1].hidden); // kept: the writer writes it back
        QVERIFY(!b.sheets[0].hidden);
        QCOMPARE(cellAt(b, 0, 0, 0)->value.number, -7.0);
        QCOMPARE(cellAt(b, 0, 0, 1)->value.number, 12.34);
        QCOMPARE(cellAt(b, 0, 0, 2)->value.number, 1.5);
        QCOMPARE(cellAt(b, 0, 1, 0)->value.number, 5.0);
        QCOMPARE(cellAt(b, 0, 1, 1)->value.number, 1.0); // 100 as a float RK, divided by 100
        QCOMPARE(cellAt(b, 0, 2, 4)->xf, quint16(16));
        QCOMPARE(cellAt(b, 0, 2, 4)->value.type, ValueType::Empty);
        QCOMPARE(cellAt(b, 0, 3, 0)->value.text, QStringLiteral("Жaba"));
        QCOMPARE(cellAt(b, 0, 3, 1)->value.text, QStringLiteral("ric"));
        QCOMPARE(cellAt(b, 0, 3, 2)->value.type, ValueType::Error);
        QCOMPARE(cellAt(b, 0, 3, 2)->value.number, double(0x2A));
        QCOMPARE(cellAt(b, 0, 3, 3)->value.type, ValueType::Boolean);
        QCOMPARE(cellAt(b, 0, 4, 0)->value.text, QStringLiteral("hello"));
        for (int row : {5, 6}) {
            const Cell* c = cellAt(b, 0, row, 0);
            QVERIFY(c->formula);
            const QByteArray t = c->formula->tokens();
            QCOMPARE(quint8(t[0]), quint8(0x44)); // tRef (value class), no longer tRefN
            QCOMPARE(int(quint8(t[1]) | (quint8(t[2]) << 8)), row - 1);
            QCOMPARE(int(quint8(t[3])), 1);
        }
        QVERIFY(!cellAt(b, 0, 7, 0)->formula);
        QCOMPARE(cellAt(b, 0, 7, 0)->value.number, 9.0);
        QVERIFY(b.sheets[0].dropped.contains(QStringLiteral("array formulas (kept as their values)")));
        QCOMPARE(quint8(cellAt(b, 0, 8, 0)->formula->tokens()[1]), quint8(1));
    }

    // Formatted empty cells in a row are held as runs (one model cell a run of one format); a run
    // answers cellAt for each of its columns, and a cell record inside a run wins over it.
    void blankRuns_data() {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<int>("modelCells");
        QTest::addColumn<QList<QList<int>>>("probes"); // row, column, format (-1: no cell), 1: text
        const auto mulBlank = [](int row, int first, const QList<int>& xfs) {
            QByteArray d = le16(row) + le16(first);
            for (int xf : xfs)
                d += le16(xf);
            return rec(0x00BE, d + le16(first + int(xfs.size()) - 1));
        };
        const auto blank = [](int row, int col, int xf) { return rec(0x0201, cellHead(row, col, xf)); };
        QTest::newRow("one format") << mulBlank(0, 2, QList<int>(200, 16)) << 1
                                    << QList<QList<int>>{{0, 2, 16, 0}, {0, 201, 16, 0}, {0, 202, -1, 0}, {0, 1, -1, 0}};
        QTest::newRow("formats taking turns") << mulBlank(1, 0, {16, 17, 16, 17}) << 4
                                              << QList<QList<int>>{{1, 1, 17, 0}, {1, 2, 16, 0}, {1, 4, -1, 0}};
        QTest::newRow("BLANK records joining")
            << blank(0, 0, 16) + blank(0, 1, 16) + blank(0, 2, 17) + blank(1, 3, 17) << 3
            << QList<QList<int>>{{0, 1, 16, 0}, {0, 2, 17, 0}, {1, 3, 17, 0}, {1, 2, -1, 0}};
        QTest::newRow("two rows") << mulBlank(0, 0, QList<int>(256, 16)) + mulBlank(1, 0, QList<int>(256, 16)) << 2
                                  << QList<QList<int>>{{0, 255, 16, 0}, {1, 0, 16, 0}};
        QTest::newRow("a text inside a run")
            << mulBlank(0, 0, QList<int>(6, 16)) + rec(0x0204, cellHead(0, 3) + le16(1) + char(0) + "x") << 6
            << QList<QList<int>>{{0, 2, 16, 0}, {0, 3, 15, 1}, {0, 4, 16, 0}, {0, 5, 16, 0}};
        QTest::newRow("a run over an earlier text")
            << rec(0x0204, cellHead(0, 3) + le16(1) + char(0) + "x") + mulBlank(0, 0, QList<int>(6, 16)) << 6
            << QList<QList<int>>{{0, 3, 16, 0}, {0, 5, 16, 0}};
    }
    void blankRuns() {
        QFETCH(QByteArray, records);
        QFETCH(int, modelCells);
        QFETCH(QList<QList<int>>, probes);
        const Workbook b = readWorkbookStream(workbookStream({}, {records}));
        QCOMPARE(int(b.sheets[0].cells.size()), modelCells);
        for (const QList<int>& p : probes) {
            const Cell* c = cellAt(b, 0, p[0], p[1]);
            QVERIFY2((c != nullptr) == (p[2] >= 0), qPrintable(QStringLiteral("%1,%2").arg(p[0]).arg(p[1])));
            if (!c)
                continue;
            QCOMPARE(int(c->xf), p[2]);
            QCOMPARE(c->value.type, p[3] ? ValueType::Text : ValueType::Empty);
        }
    }
};

QTEST_GUILESS_MAIN(TestXlsRead)
#include "tst_xls_read.moc"
