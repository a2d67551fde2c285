// The workbook writer checked by programs we did not write: python3-xlrd (values, types, formats,
// merged cells, widths, page breaks, print titles), libfreexl and LibreOffice (values it reads and
// formulas it computes), plus the limits of the format and the atomic finish.
#include "workbook/writer_budget.h"
#include "workbook/xls.h"
#include "xlstest.h"

#include <QDirIterator>
#include <QtTest>

#include <cmath>

using namespace lw::xls;
using namespace lw::xlstest;

namespace {

enum class Kind { Number, Text, Boolean, Error, Blank, Date, Formula };

struct Case {
    const char* label;
    Kind kind;
    double number;
    QString text;
    const char* xlrdType; // what xlrd says
    QString csv;          // what LibreOffice shows (formulas: what it computes)
};

// Tokens: =<column B of row>*2 (tRef relative, tInt 2, tMul).
Formula timesTwo(int row) {
    QByteArray t;
    t.append(char(0x44)).append(le16(row)).append(le16(0xC001));
    t.append(char(0x1E)).append(le16(2)).append(char(0x05));
    return Formula(t);
}

// ="ab"&"cd"
Formula concat() {
    QByteArray t;
    t.append(char(0x17)).append(char(2)).append(char(0)).append("ab");
    t.append(char(0x17)).append(char(2)).append(char(0)).append("cd");
    t.append(char(0x08));
    return Formula(t);
}

const QString longLatin = QString(maxCellText, u'x');
QString mixedLong() {
    QString s;
    for (int i = 0; i < 12000; ++i)
        s += (i % 3 == 0) ? QChar(0x0416) : QChar(u'a' + i % 26);
    return s;
}

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        {"integer", Kind::Number, 42, {}, "number", QStringLiteral("42")},
        {"negative fraction", Kind::Number, -1234.5678, {}, "number", QStringLiteral("-1234.5678")},
        {"large integer", Kind::Number, 123456789012345.0, {}, "number", QStringLiteral("123456789012345")},
        {"tenth", Kind::Number, 0.1, {}, "number", QStringLiteral("0.1")},
        {"text", Kind::Text, 0, QStringLiteral("hello, world"), "text", QStringLiteral("\"hello, world\"")},
        {"unicode text", Kind::Text, 0, QStringLiteral("Привет ☃ Größe"), "text",
         QStringLiteral("Привет ☃ Größe")},
        {"empty text (a blank cell)", Kind::Text, 0, QString(""), "blank", QString()},
        {"longest text", Kind::Text, 0, longLatin, "text", longLatin},
        {"long mixed text", Kind::Text, 0, mixedLong(), "text", mixedLong()},
        // LibreOffice shows a logical cell of the General format as 1 or 0 (xlwt's as well).
        {"true", Kind::Boolean, 1, {}, "boolean", QStringLiteral("1")},
        {"false", Kind::Boolean, 0, {}, "boolean", QStringLiteral("0")},
        {"division error", Kind::Error, 0x07, {}, "error", QStringLiteral("#DIV/0!")},
        {"not available", Kind::Error, 0x2A, {}, "error", QStringLiteral("#N/A")},
        {"blank", Kind::Blank, 0, {}, "blank", QString()},
        {"date", Kind::Date, 45351, {}, "date", QStringLiteral("2024-02-29")},
        {"formula, stale number", Kind::Formula, 0, {}, "number", QStringLiteral("84")},
        {"formula, stale text", Kind::Formula, 1, QStringLiteral("stale"), "text", QStringLiteral("abcd")},
    };
    return c;
}

} // namespace

class TestXlsWrite : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    // Every case in column A, row = case index; column B holds 42 for the formulas. Texts longer
    // than a record go to a second workbook: libfreexl cannot read those (nor LibreOffice's own).
    // Both are written twice: as they are, and with the string table's budget cut to 16 bytes,
    // where each text case is written again 100 rows further down.
    struct Output {
        QJsonObject xlrd;
        QStringList freexl;
        QStringList csv;
        Workbook savedBack; // what LibreOffice saves back, read by us
        QJsonObject forms;  // "row,col": "labelsst" or "label", the record of each text cell
    };
    Output m_out[2][2]; // [past the string budget][long texts]

    static constexpr int repeatOffset = 100;
    static bool isLong(const Case& c) { return c.text.size() > 8000; }
    static QString baseName(bool budget, bool longOnes) {
        return QStringLiteral("%1%2").arg(longOnes ? "long" : "cells", budget ? "-budget" : "");
    }
    // With the 16-byte budget the first text, "hello, world" (13 bytes), joins the string table
    // and fills it; every later text of at most 255 characters goes into a LABEL, longer ones
    // (which a LABEL cannot hold) still join the table. A repeat takes the form of its first.
    static QString expectedForm(const Case& c, bool budget) {
        if (!budget || c.text.size() > 255 || QByteArray(c.label) == "text")
            return QStringLiteral("labelsst");
        return QStringLiteral("label");
    }

    void writeCases(const QString& path, bool longOnes) {
        WorkbookWriter w(path);
        CellFormat date;
        date.numberFormat = QStringLiteral("yyyy-mm-dd");
        const quint16 dateXf = w.addFormat(date);
        CellFormat boxed;
        boxed.border = true;
        const quint16 boxedXf = w.addFormat(boxed);
        w.beginSheet(QStringLiteral("Cells"));
        for (int i = 0; i < int(cases().size()); ++i) {
            const Case& c = cases()[std::size_t(i)];
            if (isLong(c) != longOnes)
                continue;
            switch (c.kind) {
            case Kind::Number:
                w.writeNumber(i, 0, 15, c.number);
                break;
            case Kind::Text:
                w.writeText(i, 0, boxedXf, c.text);
                break;
            case Kind::Boolean:
                w.writeBoolean(i, 0, 15, c.number != 0);
                break;
            case Kind::Error:
                w.writeError(i, 0, 15, quint8(c.number));
                break;
            case Kind::Blank:
                w.writeBlank(i, 0, boxedXf);
                break;
            case Kind::Date:
                w.writeNumber(i, 0, dateXf, c.number);
                break;
            case Kind::Formula:
                if (c.number == 0)
                    w.writeFormula(i, 0, 15, timesTwo(i), Value{ValueType::Number, 7, {}});
                else
                    w.writeFormula(i, 0, 15, concat(), Value{ValueType::Text, 0, c.text});
                break;
            }
            w.writeNumber(i, 1, 15, 42);
        }
        // The texts again (in the unbudgeted workbooks too: the same cells, all in the table).
        for (int i = 0; i < int(cases().size()); ++i) {
            const Case& c = cases()[std::size_t(i)];
            if (isLong(c) == longOnes && c.kind == Kind::Text) {
                w.writeText(i + repeatOffset, 0, boxedXf, c.text);
                w.writeNumber(i + repeatOffset, 1, 15, 42);
            }
        }
        w.finish();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QStringList files;
        const detail::StringTableBudget normal = detail::stringTableBudget();
        for (bool budget : {false, true}) {
            detail::setStringTableBudget(budget ? detail::StringTableBudget{16, 1000} : normal);
            for (bool longOnes : {false, true}) {
                files << m_dir.filePath(baseName(budget, longOnes) + QStringLiteral(".xls"));
                writeCases(files.back(), longOnes);
            }
        }
        detail::setStringTableBudget(normal);
        QString error;
        const QString lo = m_dir.filePath(QStringLiteral("lo"));
        QVERIFY2(soffice(csvFirstSheet(), files, m_dir.path(), &error), qPrintable(error));
        QVERIFY2(soffice(QStringLiteral("xls"), files, lo, &error), qPrintable(error));
        for (bool budget : {false, true}) {
            for (bool longOnes : {false, true}) {
                Output& o = m_out[budget][longOnes];
                const QString base = baseName(budget, longOnes);
                const QString path = m_dir.filePath(base + QStringLiteral(".xls"));
                o.xlrd = xlrd(path, &error);
                QVERIFY2(!o.xlrd.isEmpty(), qPrintable(error));
                if (!longOnes) {
                    o.freexl = freexl(path, &error);
                    QVERIFY2(!o.freexl.isEmpty(), qPrintable(error));
                }
                const Run forms = run(QStringLiteral("/usr/bin/python3"),
                                      {sourceDir() + QStringLiteral("/tests/workbook/biff_check.py"),
                                       QStringLiteral("--text-records"), path});
                QVERIFY2(forms.exitCode == 0, forms.out.constData());
                o.forms = QJsonDocument::fromJson(forms.out).object();
                o.savedBack = readWorkbook(lo + u'/' + base + QStringLiteral(".xls"));
                QFile csv(m_dir.filePath(base + QStringLiteral(".csv")));
                QVERIFY(csv.open(QIODevice::ReadOnly));
                o.csv = QString::fromUtf8(csv.readAll()).split(u'\n');
            }
        }
    }

    void cellTypes_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("budget");
        for (bool budget : {false, true}) {
            for (int i = 0; i < int(cases().size()); ++i)
                QTest::addRow("%s%s", cases()[std::size_t(i)].label, budget ? ", past the string budget" : "")
                    << i << budget;
        }
    }

    void cellTypes() {
        QFETCH(int, row);
        QFETCH(bool, budget);
        const Case& c = cases()[std::size_t(row)];
        const Output& out = m_out[budget][isLong(c)];
        // The text cases are checked twice: where first written and where repeated.
        for (const int at : {row, row + repeatOffset}) {
            if (at != row && c.kind != Kind::Text)
                break;
            const QJsonObject cell = xlrdCell(xlrdSheet(out.xlrd, 0), at, 0);
            QCOMPARE(cell[QStringLiteral("type")].toString(), QString::fromLatin1(c.xlrdType));
            switch (c.kind) {
            case Kind::Number:
            case Kind::Date:
            case Kind::Boolean:
            case Kind::Error:
                QCOMPARE(cell[QStringLiteral("value")].toDouble(), c.number);
                break;
            case Kind::Text:
                QCOMPARE(cell[QStringLiteral("value")].toString(), c.text);
                if (!c.text.isEmpty())
                    QCOMPARE(out.forms[QStringLiteral("%1,0").arg(at)].toString(), expectedForm(c, budget));
                break;
            case Kind::Formula: // xlrd shows the cached result as written
                if (c.number == 0)
                    QCOMPARE(cell[QStringLiteral("value")].toDouble(), 7.0);
                else
                    QCOMPARE(cell[QStringLiteral("value")].toString(), c.text);
                break;
            case Kind::Blank:
                QCOMPARE(cell[QStringLiteral("border")].toInt(), 1);
                break;
            }
            // LibreOffice: the value shown, formulas computed afresh (the cached results are stale).
            const QString line = out.csv.value(at);
            const QString shown = line.left(line.lastIndexOf(u','));
            QCOMPARE(shown, c.csv);
            // libfreexl: numbers and texts as a second reader sees them.
            const QString prefix = QStringLiteral("%1\t0\t").arg(at);
            QString fx;
            for (const QString& l : out.freexl) {
                if (l.startsWith(prefix))
                    fx = l.mid(prefix.size());
            }
            if (c.kind == Kind::Number) {
                QVERIFY2(!fx.isEmpty(), qPrintable(fx));
                QCOMPARE(fx.section(u'\t', 1).toDouble(), c.number);
            } else if (c.kind == Kind::Text && !c.text.isEmpty() && !isLong(c)) {
                QCOMPARE(fx, QStringLiteral("text\t") + c.text);
            } else if (c.kind == Kind::Date) {
                QCOMPARE(fx, QStringLiteral("date\t2024-02-29"));
            }
        }
    }

    // LibreOffice saves the workbook back as Excel 97-2003: each cell keeps its type and value
    // (formulas with LibreOffice's computed results).
    void savedByLibreOffice_data() { cellTypes_data(); }

    void savedByLibreOffice() {
        QFETCH(int, row);
        QFETCH(bool, budget);
        const Case& c = cases()[std::size_t(row)];
        const Workbook& b = m_out[budget][isLong(c)].savedBack;
        const Cell* cell = b.sheets.at(0).cellAt(row, 0);
        if (c.kind == Kind::Blank || (c.kind == Kind::Text && c.text.isEmpty())) {
            QVERIFY(!cell || cell->value.type == ValueType::Empty);
            return;
        }
        QVERIFY(cell);
        switch (c.kind) {
        case Kind::Number:
            QCOMPARE(cell->value.type, ValueType::Number);
            QCOMPARE(cell->value.number, c.number);
            QVERIFY(!b.isDateFormat(cell->xf));
            break;
        case Kind::Date:
            QCOMPARE(cell->value.number, c.number);
            QVERIFY(b.isDateFormat(cell->xf));
            break;
        case Kind::Text:
            QCOMPARE(cell->value.type, ValueType::Text);
            QCOMPARE(cell->value.text, c.text);
            break;
        case Kind::Boolean:
            QCOMPARE(cell->value.type, ValueType::Boolean);
            QCOMPARE(cell->value.number, c.number);
            break;
        case Kind::Error:
            QCOMPARE(cell->value.type, ValueType::Error);
            QCOMPARE(cell->value.number, c.number);
            break;
        case Kind::Formula:
            QVERIFY(cell->formula);
            // LibreOffice 7.4 saves the result of a text formula as the number 0 (its own
            // templates' too): only the number result and the tokens are compared.
            if (c.number == 0)
                QCOMPARE(cell->value.number, 84.0);
            else
                QCOMPARE(cell->formula->tokens(), concat().tokens());
            break;
        case Kind::Blank:
            break;
        }
    }

    // Formats, layout and several sheets, as xlrd reads them.
    void formatsAndLayout() {
        const QString path = m_dir.filePath(QStringLiteral("layout.xls"));
        WorkbookWriter w(path);
        CellFormat title;
        title.font.bold = true;
        title.font.height = 280;
        title.align = HAlign::Center;
        CellFormat head;
        head.font.italic = true;
        head.border = true;
        head.wrap = true;
        CellFormat money;
        money.numberFormat = QStringLiteral("#,##0.00");
        CellFormat custom;
        custom.numberFormat = QStringLiteral("0.000%");
        const quint16 titleXf = w.addFormat(title);
        QCOMPARE(w.addFormat(title), titleXf);
        const quint16 headXf = w.addFormat(head);
        const quint16 moneyXf = w.addFormat(money);
        const quint16 customXf = w.addFormat(custom);
        const quint16 dateXf = w.withNumberFormat(moneyXf, QStringLiteral("dd.mm.yyyy"));
        QCOMPARE(w.withNumberFormat(moneyXf, QStringLiteral("dd.mm.yyyy")), dateXf);

        const QString longName = QStringLiteral("Ünïcode sheet with 31 chars ok");
        w.beginSheet(QStringLiteral("Report"));
        w.setColumnWidth(0, 0, 6000);
        w.setColumnWidth(2, 4, 3000);
        w.setRow(RowFormat{0, 600, true, false, std::nullopt});
        w.writeText(0, 0, titleXf, QStringLiteral("Title"));
        w.writeText(2, 0, headXf, QStringLiteral("Head"));
        w.writeNumber(3, 0, moneyXf, 1234.5);
        w.writeNumber(3, 1, customXf, 0.25);
        w.writeNumber(3, 2, dateXf, 45351);
        w.addMerged({0, 0, 0, 3});
        w.addMerged({5, 7, 1, 2});
        w.addRowBreak(10);
        w.addRowBreak(40);
        w.setPrintTitleRows(2, 2);
        w.endSheet();
        w.beginSheet(longName);
        w.writeText(0, 0, 15, QStringLiteral("second"));
        w.setPrintTitleRows(0, 1);
        w.endSheet();
        QCOMPARE(w.sheetCount(), 2);
        QCOMPARE(w.sheetName(1), longName);
        w.finish();

        QString error;
        const QJsonObject book = xlrd(path, &error);
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonObject s0 = xlrdSheet(book, 0);
        QCOMPARE(s0[QStringLiteral("name")].toString(), QStringLiteral("Report"));
        QCOMPARE(xlrdSheet(book, 1)[QStringLiteral("name")].toString(), longName);
        const QJsonObject t = xlrdCell(s0, 0, 0);
        QVERIFY(t[QStringLiteral("bold")].toBool());
        QCOMPARE(t[QStringLiteral("height")].toInt(), 280);
        QCOMPARE(t[QStringLiteral("halign")].toInt(), 2);
        const QJsonObject h = xlrdCell(s0, 2, 0);
        QVERIFY(h[QStringLiteral("italic")].toBool());
        QCOMPARE(h[QStringLiteral("border")].toInt(), 1);
        QCOMPARE(h[QStringLiteral("wrap")].toInt(), 1);
        QCOMPARE(xlrdCell(s0, 3, 0)[QStringLiteral("format")].toString(), QStringLiteral("#,##0.00"));
        QCOMPARE(xlrdCell(s0, 3, 1)[QStringLiteral("format")].toString(), QStringLiteral("0.000%"));
        QCOMPARE(xlrdCell(s0, 3, 2)[QStringLiteral("format")].toString(), QStringLiteral("dd.mm.yyyy"));
        QCOMPARE(xlrdCell(s0, 3, 2)[QStringLiteral("type")].toString(), QStringLiteral("date"));
        const QJsonArray merged = s0[QStringLiteral("merged")].toArray();
        QCOMPARE(merged.size(), 2);
        QCOMPARE(merged[0].toArray(), (QJsonArray{0, 1, 0, 4}));
        QCOMPARE(merged[1].toArray(), (QJsonArray{5, 8, 1, 3}));
        const QJsonObject widths = s0[QStringLiteral("widths")].toObject();
        QCOMPARE(widths[QStringLiteral("0")].toInt(), 6000);
        QCOMPARE(widths[QStringLiteral("3")].toInt(), 3000);
        QCOMPARE(s0[QStringLiteral("heights")].toObject()[QStringLiteral("0")].toArray().at(0).toInt(), 600);
        QCOMPARE(s0[QStringLiteral("breaks")].toArray(), (QJsonArray{10, 40}));
        QCOMPARE(s0[QStringLiteral("titles")].toArray(), (QJsonArray{2, 2}));
        QCOMPARE(xlrdSheet(book, 1)[QStringLiteral("titles")].toArray(), (QJsonArray{0, 1}));
    }

    // The 1904 date system: xlrd and LibreOffice read the serial against 1904-01-01.
    void dates1904() {
        const QString path = m_dir.filePath(QStringLiteral("d1904.xls"));
        WorkbookWriter w(path);
        w.setDate1904(true);
        CellFormat date;
        date.numberFormat = QStringLiteral("yyyy-mm-dd");
        const quint16 xf = w.addFormat(date);
        w.beginSheet(QStringLiteral("Dates"));
        w.writeNumber(0, 0, xf, 43889); // 2024-02-29 in the 1904 system
        w.finish();
        const QJsonObject book = xlrd(path);
        QCOMPARE(book[QStringLiteral("datemode")].toInt(), 1);
        QString error;
        QVERIFY2(soffice(csvFirstSheet(), {path}, m_dir.path(), &error), qPrintable(error));
        QCOMPARE(readLines(m_dir.filePath(QStringLiteral("d1904.csv"))).value(0),
                 QStringLiteral("2024-02-29"));
        QCOMPARE(readWorkbook(path).date1904, true);
    }

    void limits_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("message");
        QTest::newRow("row 65,537") << 0 << "65,536 rows";
        QTest::newRow("column 257") << 1 << "256 columns";
        QTest::newRow("text of 32,768 characters") << 2 << "32,767 characters";
        QTest::newRow("same cell twice") << 3 << "row order";
        QTest::newRow("row going back") << 4 << "row order";
        QTest::newRow("not a number") << 5 << "not finite";
        QTest::newRow("unknown cell format") << 6 << "does not exist";
        QTest::newRow("cell outside a sheet") << 7 << "beginSheet";
        QTest::newRow("3-D reference to a missing sheet") << 8 << "refers to sheet 3";
        QTest::newRow("not an error code") << 9 << "not an error value";
        QTest::newRow("cell above a row format given") << 10 << "row order";
        QTest::newRow("row format above a row format given") << 11 << "comes after";
    }

    void limits() {
        QFETCH(int, which);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QStringLiteral("limit%1.xls").arg(which));
        WorkbookWriter w(path);
        if (which != 7)
            w.beginSheet(QStringLiteral("S"));
        QString caught;
        try {
            switch (which) {
            case 0:
                w.writeNumber(maxRows, 0, 15, 1);
                break;
            case 1:
                w.writeNumber(0, maxColumns, 15, 1);
                break;
            case 2:
                w.writeText(0, 0, 15, QString(maxCellText + 1, u'x'));
                break;
            case 3:
                w.writeNumber(1, 1, 15, 1);
                w.writeNumber(1, 1, 15, 2);
                break;
            case 4:
                w.writeNumber(5, 1, 15, 1);
                w.writeNumber(4, 3, 15, 2);
                break;
            case 5:
                w.writeNumber(0, 0, 15, std::nan(""));
                break;
            case 6:
                w.writeNumber(0, 0, 900, 1);
                break;
            case 7:
                w.writeNumber(0, 0, 15, 1);
                break;
            case 8: {
                QByteArray t;
                t.append(char(0x5A)).append(le16(2)).append(le16(0)).append(le16(0xC000));
                w.writeFormula(0, 0, 15, Formula(t), Value{ValueType::Number, 0, {}});
                w.finish();
                break;
            }
            case 9:
                w.writeError(0, 0, 15, 0x55);
                break;
            case 10:
                w.setRow(RowFormat{100, 300, true, false, {}});
                w.writeNumber(50, 0, 15, 1);
                break;
            case 11:
                w.setRow(RowFormat{100, 300, true, false, {}});
                w.setRow(RowFormat{50, 300, true, false, {}});
                break;
            }
        } catch (const Error& e) {
            caught = QString::fromUtf8(e.what());
        }
        QVERIFY2(caught.contains(message), qPrintable(caught));
        QVERIFY(!QFile::exists(path));
    }

    void sheetNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("plain") << "Sales" << true;
        QTest::newRow("31 characters") << QString(31, u'n') << true;
        QTest::newRow("32 characters") << QString(32, u'n') << false;
        QTest::newRow("empty") << "" << false;
        for (const char* c : {"[", "]", ":", "*", "?", "/", "\\"})
            QTest::newRow(c) << QStringLiteral("a%1b").arg(QLatin1String(c)) << false;
        QTest::newRow("leading apostrophe") << "'quoted" << false;
        QTest::newRow("inner apostrophe") << "Ann's" << true;
        QTest::newRow("same name in other case") << "DATA" << false;
    }

    void sheetNames() {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        WorkbookWriter w(m_dir.filePath(QStringLiteral("names.xls")));
        w.beginSheet(QStringLiteral("Data"));
        bool ok = true;
        try {
            w.beginSheet(name);
        } catch (const Error&) {
            ok = false;
        }
        QCOMPARE(ok, valid);
        if (name != QLatin1String("DATA"))
            QCOMPARE(sheetNameProblem(name).isEmpty(), valid);
    }

    // A writer destroyed before finish leaves the old file as it was and no temporary file; a
    // finished one replaces it whole, with the old file's permissions.
    void atomicFinish() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.xls"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old contents");
        }
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        {
            WorkbookWriter w(path);
            w.beginSheet(QStringLiteral("S"));
            w.writeNumber(0, 0, 15, 1);
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("report.xls")});
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old contents"));
        f.close();
        {
            WorkbookWriter w(path);
            w.beginSheet(QStringLiteral("S"));
            w.writeNumber(0, 0, 15, 1);
            w.finish();
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("report.xls")});
        QCOMPARE(readWorkbook(path).sheets.at(0).cells.at(0).value.number, 1.0);
        QCOMPARE(QFile::permissions(path) &
                     (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        // A folder that does not exist: an error, nothing written.
        WorkbookWriter bad(dir.filePath(QStringLiteral("missing/report.xls")));
        bad.beginSheet(QStringLiteral("S"));
        QVERIFY_THROWS_EXCEPTION(Error, bad.finish());
    }

    // A full sheet of 65,536 rows and more sheets after it: libfreexl finds the last cells, and
    // the records that index rows and strings point at them.
    void fullSheets() {
        const QString path = m_dir.filePath(QStringLiteral("full.xls"));
        WorkbookWriter w(path);
        for (int s = 0; s < 2; ++s) {
            w.beginSheet(QStringLiteral("Part %1").arg(s + 1));
            const int rows = s == 0 ? maxRows : 1000;
            for (int r = 0; r < rows; ++r) {
                if (r % 7 == 3) // rows with a format and no cells, and rows left out
                    w.setRow(RowFormat{r, 400, true, false, std::nullopt});
                if (r % 7 >= 3 && r % 7 <= 4)
                    continue;
                w.writeNumber(r, 0, 15, r + s * 100000);
                w.writeText(r, 1, 15, QStringLiteral("t%1").arg(r % 1000));
            }
        }
        w.finish();
        QString error;
        const QStringList lines = freexl(path, &error);
        QVERIFY2(!lines.isEmpty(), qPrintable(error));
        // The lookup records (INDEX, DBCELL, EXTSST) point where they should.
        const Run check = run(QStringLiteral("/usr/bin/python3"),
                              {sourceDir() + QStringLiteral("/tests/workbook/biff_check.py"), path});
        QVERIFY2(check.exitCode == 0, check.out.constData());
        QVERIFY(lines.contains(QStringLiteral("65535\t0\tint\t65535")));
        QVERIFY(lines.contains(QStringLiteral("65535\t1\ttext\tt535")));
        QVERIFY(lines.contains(QStringLiteral("999\t0\tint\t100999")));
        QCOMPARE(lines.count(QStringLiteral("sheet\tPart 2")), 1);
    }
};

QTEST_GUILESS_MAIN(TestXlsWrite)
#include "tst_xls_write.moc"
