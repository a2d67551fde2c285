// The report generator's work without windows: the definition, the blank, the query, and the
// report sheets written record by record (columnar band copies, one-sheet forms, a sheet per record).
#include "tools/report/generator.h"

#include "data/tabledata.h"
#include "tools/common/markers.h"
#include "tools/common/toolkit.h"
#include "workbook/xls/anchors.h"
#include "workbook/xls/drawing.h"
#include "workbook/xls/totals.h"
#include "tools/report/cellvalues.h"
#include "tools/report/xlsxreport.h"

#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>

#include <array>
#include <cmath>
#include <functional>

namespace lw::report {

ReportFailure::ReportFailure(int caption, const QString& text)
    : std::runtime_error(text.toStdString()), m_caption(caption) {}

namespace {

const QString DateFormat = QStringLiteral("yyyy-mm-dd");
const QString TimeFormat = QStringLiteral("hh:mm:ss");
const QString StampFormat = QStringLiteral("yyyy-mm-dd hh:mm:ss");
const QString LogicalFormat = QStringLiteral("\"TRUE\";\"TRUE\";\"FALSE\"");

// The condition as the query takes it: a bare expression ("AMOUNT > 100", as users type it after
// "Select * from T") gets its WHERE; a condition that starts with a clause keyword stays as written.
QString conditionClause(const QString& condition) {
    const QString c = condition.trimmed();
    if (c.isEmpty())
        return c;
    static const QRegularExpression clause(
        QStringLiteral("^(where|order|group|having|limit|union|except|intersect|window)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return clause.match(c).hasMatch() ? c : QStringLiteral("WHERE ") + c;
}

} // namespace

// The query's records, with the source's errors turned into notices.
class RecordSourceHolder {
public:
    explicit RecordSourceHolder(std::unique_ptr<data::RecordStream> s) : m_stream(std::move(s)) {}
    bool next(data::Record& r, const std::function<void(const std::exception&)>& fail) {
        try {
            return m_stream->next(r);
        } catch (const data::DataError& e) {
            fail(e);
        }
        return false;
    }
    QStringList warnings() const { return m_stream->warnings(); }

private:
    std::unique_ptr<data::RecordStream> m_stream;
};

// The state of writing one report: the writer, where the copy goes and which record fills it.
struct Generator::Writing {
    Generator& g;
    xls::WorkbookWriter& out;
    const xls::Workbook& blank;
    const Template& t;
    const xls::Sheet& sheet; // the report sheet of the blank
    const data::Record* record = nullptr;
    qint64 number = 0;
    double todaySerial = 0;
    QString todayText;
    QHash<quint32, quint16> derivedXf;
    QSet<QString> usedNames; // lower case
    // Columnar: the band's copies on each sheet, for footers that total over the band.
    std::vector<xls::RowSpan> pieces;
    // 3-D references to sheet SpreadSheets + k stand for the written sheet k while a formula is
    // between spreading its total and following the rows (blanks hold far fewer sheets).
    static constexpr int SpreadSheets = 0x8000;
    // Which part of the report the cells being written belong to: it decides how their formulas'
    // references follow the rows that moved.
    enum class Part { Header, Band, Footer, Form, Other };
    Part part = Part::Other;
    // Where the report sheet's rows end up, known before writing when the record count was taken
    // first (formulas above the footer or on other sheets that need it), and for the footer always.
    struct Placement {
        bool known = false;
        qint64 records = 0;
        qint64 sheets = 1;                // report sheets the blank's report sheet became
        int firstSheet = 0;               // written index of the first of them
        int footerShift = 0;              // rows the footer moved on the last report sheet
        std::vector<xls::RowSpan> pieces; // the band's copies per report sheet (written indices)
    } placed;

    // Where the blank's rows landed on each written sheet, for what is anchored to them; the
    // written index of each of the blank's sheets (the report sheet: its first written sheet).
    std::vector<std::pair<int, xls::RowMap>> reportMaps;
    std::vector<int> writtenOf;
    std::unique_ptr<xls::DrawingPlacer> drawings;
    // Columnar: what each column of the band's copies holds, for the results of the totals below.
    std::array<xls::ColumnTally, xls::maxColumns> tallies;

    // The value a field cell of the band received, as a total counts it.
    void tallyField(const CellPlan& c) {
        xls::ColumnTally& t = tallies[std::size_t(c.column)];
        if (!record || c.field < 0 || std::size_t(c.field) >= record->size()) {
            t.unknown = true;
            return;
        }
        const data::Value& v = (*record)[std::size_t(c.field)];
        double serial = 0;
        // Counted as written: a number where the cell got one, else the cell's text (made only
        // then: formatting every value as text cost more than writing it).
        xls::Value written{xls::ValueType::Text, 0, {}};
        switch (v.kind) {
        case data::Value::Kind::Null:
            return;
        case data::Value::Kind::Integer:
            if (std::fabs(double(v.integer)) <= maxExactInteger)
                written = {xls::ValueType::Number, double(v.integer), {}};
            else
                written.text = valueText(v);
            break;
        case data::Value::Kind::Double:
            written = std::isfinite(v.number) ? xls::Value{xls::ValueType::Number, v.number, {}}
                                              : xls::Value{xls::ValueType::Error, 0x24, {}};
            break;
        case data::Value::Kind::Decimal:
            // The number the cell was written with: the readers give it beside the exact text.
            if (std::isfinite(v.number))
                written = {xls::ValueType::Number, v.number, {}};
            else
                written.text = v.text;
            break;
        case data::Value::Kind::Text:
            written.text = v.text;
            break;
        case data::Value::Kind::Date:
        case data::Value::Kind::Timestamp:
            if (dateSerial(v.date, blank.date1904, serial))
                written = {xls::ValueType::Number,
                           serial + (v.kind == data::Value::Kind::Timestamp ? timeFraction(v.time) : 0.0), {}};
            else
                written.text = valueText(v);
            break;
        case data::Value::Kind::Time:
            written = {xls::ValueType::Number, timeFraction(v.time), {}};
            break;
        case data::Value::Kind::Logical:
            written = {xls::ValueType::Boolean, v.logical ? 1.0 : 0.0, {}};
            break;
        }
        t.add(written);
    }

    Writing(Generator& gen, xls::WorkbookWriter& w, const xls::Workbook& b, const Template& tp)
        : g(gen), out(w), blank(b), t(tp), sheet(b.sheets[std::size_t(tp.sheetIndex)]) {}

    int currentSheet() const { return out.sheetCount() - 1; }

    QString uniqueName(const QString& wanted) { return uniqueSheetName(usedNames, wanted); }

    // The cell's format, or a copy with a date, time (kinds 0 to 2) or logical (3) format when the
    // cell shows plain numbers: spreadsheet programs show a logical in a "General" cell as 1 or 0.
    quint16 xfFor(quint16 xf, int kind) {
        const quint32 key = (quint32(xf) << 2) | quint32(kind);
        const auto it = derivedXf.constFind(key);
        if (it != derivedXf.constEnd())
            return *it;
        quint16 result = xf;
        if (kind == 1 && blank.isDateFormat(xf)) {
            // A time alone (a FoxPro date and time on day 0) in a cell formatted for dates and times:
            // shown as a time, not as the day the count of days starts on.
            QString code = blank.numberFormat(xf);
            code.remove(QRegularExpression(QStringLiteral("\"[^\"]*\"|\\[[^\\]]*\\]")));
            if (code.contains(u'y', Qt::CaseInsensitive) || code.contains(u'd', Qt::CaseInsensitive))
                result = out.withNumberFormat(xf, TimeFormat);
        } else if (!blank.isDateFormat(xf)) {
            const QString code = blank.numberFormat(xf).trimmed();
            if (code.isEmpty() || code.compare(QStringLiteral("General"), Qt::CaseInsensitive) == 0 ||
                code == QStringLiteral("@"))
                result = out.withNumberFormat(xf, kind == 0   ? DateFormat
                                                  : kind == 1 ? TimeFormat
                                                  : kind == 2 ? StampFormat
                                                              : LogicalFormat);
        }
        derivedXf.insert(key, result);
        return result;
    }

    // "Sales (2)!D8": a cell of the report as the user finds it.
    QString where(int row, int column) const {
        return out.sheetName(currentSheet()) + u'!' + cellName(row, column);
    }

    // The written index of a sheet of the blank: the report sheet became placed.sheets sheets.
    int writtenSheet(int blankSheet) const {
        return blankSheet < t.sheetIndex ? blankSheet : blankSheet + int(placed.sheets) - 1;
    }

    // Where the report sheet's rows go for a number of records (the arithmetic of the writing loops).
    void place(qint64 records, Layout layout) {
        placed.known = true;
        placed.records = records;
        placed.pieces.clear();
        if (layout == Layout::FormSheets) {
            placed.sheets = std::max<qint64>(1, records);
            return;
        }
        if (layout == Layout::FormOneSheet) {
            placed.sheets = std::max<qint64>(1, formSheets(records, t.blockHeight()));
            return;
        }
        const int b0 = t.bandFirst, h = t.bandHeight();
        const qint64 perSheet = std::max<qint64>(1, (xls::maxRows - b0) / h);
        const qint64 copySheets = std::max<qint64>(1, (records + perSheet - 1) / perSheet);
        for (qint64 k = 0; k < copySheets; ++k) {
            const qint64 copies = k + 1 < copySheets ? perSheet : records - k * perSheet;
            placed.pieces.push_back({placed.firstSheet + int(k), b0, int(b0 + copies * h - 1)});
        }
        const int after = placed.pieces.back().last + 1;
        const bool ownSheet = after + t.footerHeight() > xls::maxRows;
        placed.sheets = copySheets + (ownSheet ? 1 : 0);
        placed.footerShift = (ownSheet ? b0 : after) - (t.bandLast + 1);
    }

    // Formulas written before the last record placed rows by a count of the records taken first.
    void checkCounted(qint64 written) {
        if (placed.known && placed.records != written)
            g.warn(QStringLiteral(
                       "The records changed while the report was written (%1 counted, %2 written): "
                       "formulas that refer to the footer or across sheets may point at the wrong cells.")
                       .arg(placed.records)
                       .arg(written));
    }

    // The formula's references follow the rows of the report sheet as inserting the band's copies
    // into a spreadsheet moves them: header rows stay (every report sheet repeats them), the band
    // means its first copy (band formulas: their own copy, moved by moveRows), footer rows move
    // with the footer, a range over exactly the band is widened over every copy, references to
    // the blank's other sheets follow those sheets. A reference that lands on another sheet than
    // the formula's becomes a 3-D one; one that cannot be placed becomes #REF! with a warning.
    void followRows(xls::Formula& f, int row, int column) {
        const int blankReport = t.sheetIndex;
        const int x = currentSheet();
        const bool onReport = part != Part::Other;
        const bool columnar = t.hasBand() && g.layout() == Layout::Columnar;
        const int b0 = t.bandFirst, b1 = t.bandLast;
        const int firstSheet = placed.firstSheet;
        const int lastSheet = placed.firstSheet + int(placed.sheets) - 1;
        // A total on another sheet over the report's band: spread like the footer's, unless that
        // sheet's own references cover the same rows and the two could not be told apart.
        const bool canSpread = columnar && part == Part::Other && !f.hasAreaOverRows(b0, b1);
        bool spread = false;
        QString problem;
        const auto target = [&](int sheet, int first, int last) {
            return onReport && sheet == x ? xls::RowSpan{-1, first, last} : xls::RowSpan{sheet, first, last};
        };
        const bool ok = f.relocate([&](const xls::RowSpan& r, bool area) -> std::optional<xls::RowSpan> {
            if (r.sheet >= SpreadSheets) // a piece of a total, already on its rows
                return target(r.sheet - SpreadSheets, r.first, r.last);
            if (r.sheet >= 0 && r.sheet != blankReport)
                return xls::RowSpan{writtenSheet(r.sheet), r.first, r.last};
            if (r.sheet < 0 && !onReport)
                return r;  // the other sheet's own cells
            if (!columnar) // forms: the block on its own sheet, from elsewhere the first record's
                return target(onReport ? x : firstSheet, r.first, r.last);
            if (area && r.first == b0 && r.last == b1 && part != Part::Band) {
                if (onReport && r.sheet < 0)
                    return xls::RowSpan{-1, b0, b1}; // widened below
                if (canSpread) {
                    spread = true;
                    return xls::RowSpan{-1, b0, b1};
                }
                problem = QStringLiteral("covers the band's first copy only, not every copy");
                return xls::RowSpan{firstSheet, b0, b1};
            }
            if (r.last <= b1) {
                if (part == Part::Band || (onReport && r.last < b0))
                    return xls::RowSpan{-1, r.first, r.last};
                return target(firstSheet, r.first, r.last);
            }
            if (!placed.known) {
                problem = QStringLiteral("refers to the footer, whose place was not known");
                return std::nullopt;
            }
            if (r.first > b1)
                return target(lastSheet, r.first + placed.footerShift, r.last + placed.footerShift);
            if (placed.sheets == 1)
                return target(firstSheet, r.first, r.last + placed.footerShift);
            problem = QStringLiteral("spans the band and the footer, which now lie on several sheets");
            return std::nullopt;
        });
        if (spread && !f.spreadArea(b0, b1, placed.pieces)) {
            f.relocate([&](const xls::RowSpan& r, bool area) {
                return area && r.sheet < 0 && r.first == b0 && r.last == b1 ? xls::RowSpan{firstSheet, b0, b1}
                                                                            : r;
            });
            problem = QStringLiteral("covers the band's first copy only, not every copy");
        }
        if (!problem.isEmpty())
            g.warn(QStringLiteral("The formula in %1 %2%3.")
                       .arg(where(row, column), problem, ok ? QString() : QStringLiteral(": #REF!")));
        else if (!ok)
            g.warn(
                QStringLiteral("The formula in %1 refers past the sheet's edge after the rows moved: #REF!.")
                    .arg(where(row, column)));
    }

    // what() names the cell in the warning; it is called only when there is one to give.
    template <typename What>
    void writeText(int row, const CellPlan& c, const QString& text, const What& what) {
        bool cut = false;
        const QString written = cutText(text, cut);
        if (cut)
            g.warn(QStringLiteral("Text longer than 32,767 characters was cut (%1).").arg(what()));
        out.writeText(row, c.column, c.xf, written);
    }

    void writeField(int row, const CellPlan& c) {
        if (!record || c.field < 0 || std::size_t(c.field) >= record->size()) {
            out.writeValue(row, c.column, c.xf, c.value); // outside the report sheet: the marker as it stands
            return;
        }
        const data::Value& v = (*record)[std::size_t(c.field)];
        if (writeCommonValue(out, row, c.column, c.xf, v, blank.date1904,
                             [this](quint16 xf, int kind) { return xfFor(xf, kind); }))
            return;
        switch (v.kind) {
        case data::Value::Kind::Double:
            if (std::isfinite(v.number))
                out.writeNumber(row, c.column, c.xf, v.number);
            else
                out.writeError(row, c.column, c.xf, 0x24); // #NUM!
            return;
        case data::Value::Kind::Text:
            writeText(row, c, v.text, [&] { return QStringLiteral("field %1").arg(g.m_fieldNames.value(c.field)); });
            return;
        case data::Value::Kind::Logical: {
            // The constant formula =TRUE or =FALSE with its logical result: LibreOffice shows a
            // plain logical cell (BOOLERR) as 1 or 0 whatever its format, a formula's logical by
            // the format, which a "General" cell gets here.
            static const xls::Formula isTrue(QByteArray("\x1D\x01", 2)), isFalse(QByteArray("\x1D\x00", 2));
            out.writeFormula(row, c.column, xfFor(c.xf, 3), v.logical ? isTrue : isFalse,
                             xls::Value{xls::ValueType::Boolean, v.logical ? 1.0 : 0.0, {}});
            return;
        }
        default: // written above
            return;
        }
    }

    void writeCell(int row, int rowOffset, const CellPlan& c) {
        // The band's cells (a form's: within its block) are tallied for the totals below them.
        const int source = row - rowOffset;
        if (part == Part::Band || (part == Part::Form && source >= t.bandFirst && source <= t.bandLast)) {
            xls::ColumnTally& tally = tallies[std::size_t(c.column)];
            switch (c.kind) {
            case CellPlan::Kind::Static:
                tally.add(c.value);
                break;
            case CellPlan::Kind::Field:
                tallyField(c);
                break;
            case CellPlan::Kind::Number:
                tally.add({xls::ValueType::Number, double(number), {}});
                break;
            case CellPlan::Kind::Date:
                tally.add({xls::ValueType::Number, todaySerial, {}});
                break;
            default: // formulas, whose results are not known here; texts that may come out empty
                tally.unknown = true;
                break;
            }
        }
        switch (c.kind) {
        case CellPlan::Kind::Static:
            if (c.value.type == xls::ValueType::Empty)
                out.writeBlanks(row, c.column, c.column + c.repeat, c.xf);
            else
                out.writeValue(row, c.column, c.xf, c.value);
            return;
        case CellPlan::Kind::Formula: {
            xls::Formula f = *c.formula;
            if (c.spreadsOverBand && (part == Part::Header || part == Part::Footer)) {
                // The total over the band covers every copy: one range per sheet, on the formula's
                // own sheet a plain one. Spread before the other references follow the rows, as
                // 3-D ranges to stand-in sheets that followRows turns into the written ones.
                std::vector<xls::RowSpan> spans = part == Part::Footer ? pieces : placed.pieces;
                for (xls::RowSpan& s : spans)
                    s.sheet += SpreadSheets;
                if (!f.spreadArea(t.bandFirst, t.bandLast, spans))
                    g.warn(QStringLiteral("The formula in %1 could not grow over every copy of the band "
                                          "(a function takes at most 30 arguments).")
                               .arg(where(row, c.column)));
            }
            followRows(f, row, c.column);
            if (rowOffset != 0 && (part == Part::Band || part == Part::Form) && !f.moveRows(rowOffset)) {
                g.warn(QStringLiteral("The formula in %1 refers past the sheet's edge after moving: #REF!.")
                           .arg(where(row, c.column)));
            }
            // Names go by their place among the names written (the workbook's names come first).
            if (!xls::mapNames(f, [this](int model) { return nameIndexOf(model); })) {
                g.warn(QStringLiteral("The formula in %1 uses a name the report does not hold: kept as its value.")
                           .arg(where(row, c.column)));
                out.writeValue(row, c.column, c.xf, c.value);
                return;
            }
            // A total below the band gets its result, computed from the values the copies received.
            // On a columnar report a workbook's name over exactly the band counts as the band (it
            // was widened over every copy); a form's names stay on its first block.
            std::optional<xls::Value> result;
            if (part == Part::Footer || (part == Part::Form && row - rowOffset > t.bandLast))
                result = xls::computeTotal(
                    *c.formula, t.bandFirst, t.bandLast, [this](int column) { return &tallies[std::size_t(column)]; },
                    [this](int name) -> std::optional<std::pair<int, int>> {
                        if (part != Part::Footer || name < 0 || name >= int(blank.names.size()))
                            return std::nullopt;
                        const QByteArray& n = blank.names[std::size_t(name)].formula.tokens();
                        if (n.size() != 11 || (quint8(n[0]) & 0x1F) != 0x1B || xls::Formula(n).sheetsReferenced() !=
                                                                                     std::vector<int>{t.sheetIndex})
                            return std::nullopt;
                        const auto u16 = [&](int at) { return int(quint8(n[at])) | (int(quint8(n[at + 1])) << 8); };
                        if (u16(3) != t.bandFirst || u16(5) != t.bandLast)
                            return std::nullopt;
                        return std::pair(u16(7) & 0xFF, u16(9) & 0xFF);
                    });
            out.writeFormula(row, c.column, c.xf, f, result ? *result : c.value);
            return;
        }
        case CellPlan::Kind::Field:
            writeField(row, c);
            return;
        case CellPlan::Kind::Number:
            out.writeNumber(row, c.column, c.xf, double(number));
            return;
        case CellPlan::Kind::Date:
            out.writeNumber(row, c.column, xfFor(c.xf, 0), todaySerial);
            return;
        case CellPlan::Kind::Text: {
            const QString text = markerText(c.parts, record, number, g.m_def.name, todayText,
                                            [this](int field) { return fieldMarkerName(field, g.m_fieldNames); });
            writeText(row, c, text, [&] { return QStringLiteral("cell %1").arg(cellName(row, c.column)); });
            return;
        }
        }
    }

    // Writes row src of the report sheet at row dst; formulas move by dst - src.
    void writeRow(int src, int dst) {
        const RowPlan& rp = t.rows[std::size_t(src)];
        if (rp.format) {
            xls::RowFormat f = *rp.format;
            f.row = dst;
            out.setRow(f);
        }
        for (const CellPlan& c : rp.cells)
            writeCell(dst, dst - src, c);
    }

    void writeRows(int first, int last, int dstFirst) {
        for (int r = first; r <= last; ++r)
            writeRow(r, dstFirst + (r - first));
    }

    // The sheet's merged cells and page breaks that lie within rows first..last, moved by offset.
    void copyMergedAndBreaks(int first, int last, int offset) {
        for (const xls::MergedRange& m : sheet.merged)
            if (m.firstRow >= first && m.lastRow <= last)
                out.addMerged({m.firstRow + offset, m.lastRow + offset, m.firstColumn, m.lastColumn});
        for (int b : sheet.rowBreaks)
            if (b > 0 && b >= first && b <= last)
                out.addRowBreak(b + offset);
    }

    // Rows first..last of the blank written from row at on, with their merged cells and page breaks.
    void copyRows(int first, int last, int at) {
        writeRows(first, last, at);
        copyMergedAndBreaks(first, last, at - first);
    }

    void beginReportSheet(const QString& name) {
        out.beginSheet(name, &sheet);
        out.setSheetHidden(sheet.hidden);
        if (sheet.printTitleRows)
            out.setPrintTitleRows(sheet.printTitleRows->first, sheet.printTitleRows->second);
    }

    // Ends a sheet: what the source sheet anchors to its rows, placed by the map, goes with it.
    void endSheet(const xls::Sheet& source, const xls::RowMap& map, bool report) {
        // Charts' series: on the report sheet over this sheet's rows; elsewhere over the first
        // report sheet's (as far as known when the chart's sheet is written).
        const int reportSheet = t.sheetIndex;
        const int target = report ? currentSheet() : reportMaps.empty() ? writtenOf[std::size_t(reportSheet)]
                                                                         : reportMaps.front().first;
        // Before the report's sheets are written, the first one's rows as the record count placed them.
        const xls::RowMap early = report || !reportMaps.empty() ? xls::RowMap() : firstReportMap();
        const xls::RowMap& seriesMap = report ? map : reportMaps.empty() ? early : reportMaps.front().second;
        const auto sheetOf = [this](int s) {
            return s >= 0 && s < int(writtenOf.size()) ? writtenOf[std::size_t(s)] : -1;
        };
        out.addSheetRecords(xls::WorkbookWriter::SheetPart::Objects,
                            drawings->sheet(source, map, [&](xls::Formula& f, int shift) {
                                if (!xls::placeSeries(f, reportSheet, target, seriesMap, shift, sheetOf))
                                    g.warn(QStringLiteral("A chart on sheet %1 refers to cells that are not in the "
                                                          "report: #REF!.")
                                               .arg(out.sheetName(currentSheet())));
                            }));
        QStringList problems;
        const xls::AnchoredRecords a = xls::placeAnchored(source.anchored, map, &problems);
        out.addSheetRecords(xls::WorkbookWriter::SheetPart::Filter, a.filter);
        out.addSheetRecords(xls::WorkbookWriter::SheetPart::Formats, a.formats);
        for (const QString& p : problems)
            g.warn(QStringLiteral("Not carried into the report: %1 (sheet %2).").arg(p, source.name));
        if (report)
            reportMaps.emplace_back(currentSheet(), map);
        out.endSheet();
    }

    // The first report sheet's rows as placed from the record count (columnar); as they are when not known.
    xls::RowMap firstReportMap() const {
        if (!placed.known || placed.pieces.empty() || !t.hasBand() || g.layout() != Layout::Columnar)
            return xls::RowMap();
        const int b0 = t.bandFirst, b1 = t.bandLast, h = t.bandHeight();
        const xls::RowSpan& p = placed.pieces.front();
        std::vector<xls::RowSegment> segments;
        if (b0 > 0)
            segments.push_back({0, b0 - 1, 0});
        segments.push_back({b0, b1, p.first, (p.last - p.first + 1) / h, h});
        if (placed.sheets == 1)
            segments.push_back({b1 + 1, xls::maxRows - 1, b1 + 1 + placed.footerShift});
        return xls::RowMap(std::move(segments));
    }

    // A columnar report sheet ends: its header, the band's copies on it, and the footer (at row
    // footerAt, -1 when the footer is not on this sheet).
    void endColumnarSheet(int footerAt) {
        const int b0 = t.bandFirst, b1 = t.bandLast, h = t.bandHeight();
        std::vector<xls::RowSegment> segments;
        if (b0 > 0)
            segments.push_back({0, b0 - 1, 0});
        for (const xls::RowSpan& p : pieces)
            if (p.sheet == currentSheet() && p.last >= p.first)
                segments.push_back({b0, b1, p.first, (p.last - p.first + 1) / h, h});
        if (footerAt >= 0)
            segments.push_back({b1 + 1, xls::maxRows - 1, footerAt});
        endSheet(sheet, xls::RowMap(std::move(segments)), true);
    }

    // The written index of a workbook's name of the blank (by its index there): the workbook's names
    // are written first, in the blank's order; -1 for a sheet's name.
    int nameIndexOf(int model) const {
        if (model < 0 || model >= int(blank.names.size()) || blank.names[std::size_t(model)].scope >= 0)
            return -1;
        int index = 0;
        for (int i = 0; i < model; ++i)
            index += blank.names[std::size_t(i)].scope < 0 ? 1 : 0;
        return index;
    }

    // The blank's defined names in the report: the workbook's names first, over the first report
    // sheet's rows; then the sheets' names, a name of the report sheet once per report sheet, each
    // over its own rows.
    void writeNames() {
        const int report = t.sheetIndex;
        const auto sheetOf = [&](int s) { return s >= 0 && s < int(writtenOf.size()) ? writtenOf[std::size_t(s)] : -1; };
        std::vector<const xls::DefinedName*> ordered;
        for (const xls::DefinedName& n : blank.names)
            if (n.scope < 0)
                ordered.push_back(&n);
        for (const xls::DefinedName& n : blank.names)
            if (n.scope >= 0)
                ordered.push_back(&n);
        const xls::RowMap none;
        for (const xls::DefinedName* name : ordered) {
            const xls::DefinedName& n = *name;
            std::vector<std::pair<int, const xls::RowMap*>> targets;
            if (n.scope == report) {
                for (const auto& [written, map] : reportMaps)
                    targets.emplace_back(written, &map);
            } else if (!reportMaps.empty()) {
                targets.emplace_back(reportMaps.front().first, &reportMaps.front().second);
            } else {
                targets.emplace_back(writtenOf[std::size_t(report)], &none);
            }
            for (const auto& [written, map] : targets) {
                xls::DefinedName placedName = n;
                placedName.scope = n.scope == report ? written : sheetOf(n.scope);
                if (n.scope >= 0 && placedName.scope < 0)
                    continue;
                if (!xls::placeName(placedName.formula, report, written, *map, sheetOf))
                    g.warn(QStringLiteral("The defined name %1 refers to rows that are not in the report: #REF!.")
                               .arg(n.name.isEmpty() ? QStringLiteral("(built-in %1)").arg(n.builtin) : n.name));
                out.addName(placedName);
            }
        }
    }
};

Generator::Generator(const QString& definitionPath) : m_definitionPath(definitionPath) {}

Generator::~Generator() = default;

bool Generator::isXlsxPath(const QString& path) {
    return path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive);
}

QString Generator::reportPathFor(const QString& blankPath) {
    if (isXlsxPath(blankPath))
        return blankPath.left(blankPath.size() - 5) + QStringLiteral("_report.xlsx");
    QString base = blankPath;
    if (base.endsWith(QStringLiteral(".xls"), Qt::CaseInsensitive))
        base.chop(4);
    return base + QStringLiteral("_report.xls");
}

void Generator::warn(const QString& text) {
    if (m_warned.contains(text))
        return;
    m_warned.insert(text);
    m_warnings << text;
}

Layout Generator::layout() const {
    if (m_def.view == 1)
        return Layout::Columnar;
    return m_def.list == 1 ? Layout::FormSheets : Layout::FormOneSheet;
}

QStringList Generator::dropped() const {
    QStringList out = m_blank.dropped;
    for (const xls::Sheet& s : m_blank.sheets)
        for (const QString& what : s.dropped)
            out << QStringLiteral("%1 (sheet %2)").arg(what, s.name);
    if (m_template.sheetIndex >= 0 && m_template.hasBand() && layout() == Layout::Columnar) {
        const xls::Sheet& s = m_blank.sheets[std::size_t(m_template.sheetIndex)];
        const int b0 = m_template.bandFirst, b1 = m_template.bandLast;
        for (const xls::MergedRange& m : s.merged) {
            const bool inside = m.lastRow < b0 || (m.firstRow >= b0 && m.lastRow <= b1) || m.firstRow > b1;
            if (!inside)
                out << QStringLiteral("merged cells %1:%2 across the edge of the band (sheet %3)")
                           .arg(cellName(m.firstRow, m.firstColumn), cellName(m.lastRow, m.lastColumn), s.name);
        }
    }
    return out;
}

void Generator::locate() {
    if (!QFileInfo::exists(m_definitionPath))
        throw ReportFailure(CaptionReportError,
                            QStringLiteral("The report definition %1 does not exist.").arg(m_definitionPath));
    m_def = readDefinition(m_definitionPath);
    m_blankPath = workbookPathOf(m_definitionPath, m_def);
    m_reportPath = reportPathFor(m_blankPath);
    const QFileInfo blank(m_blankPath);
    if (!blank.exists() || !blank.isFile())
        throw ReportFailure(CaptionBlankNotFound, m_blankPath);
    if (QFileInfo(m_reportPath).absoluteFilePath() == blank.absoluteFilePath())
        throw ReportFailure(CaptionReportError,
                            QStringLiteral("The report would replace its blank %1.").arg(m_blankPath));
}

bool Generator::cancelRequested() const {
    return (m_cancel != nullptr && m_cancel->load()) || TerminationWatch::requested();
}

void Generator::dataFailure(const std::exception& e) {
    // A query stopped because the work was cancelled is no failure to tell.
    if (cancelRequested())
        throw Cancelled();
    if (const auto* d = dynamic_cast<const data::DataError*>(&e)) {
        if (d->kind() == data::DataError::Kind::Query)
            throw ReportFailure(CaptionReportError, d->text());
        throw ReportFailure(sourceCaption(m_def.alias),
                            m_def.path + QStringLiteral(": ") + d->text());
    }
    throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
}

void Generator::prepare(bool allowUnknown) {
    try {
        if (isXlsxPath(m_blankPath)) {
            m_xlsx = std::make_unique<XlsxReport>(*this);
            m_blank = m_xlsx->read(m_blankPath);
        } else {
            m_blank = xls::readWorkbook(m_blankPath);
        }
    } catch (const xls::Error& e) {
        throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
    }
    std::vector<data::Field> fields;
    try {
        m_source = data::DataSource::open(data::SourceRef{m_def.alias, m_def.path});
        m_source->setControl(data::QueryControl{m_cancel, queryTimeoutSeconds()});
        fields = m_source->fields(m_def.db);
    } catch (const data::DataError& e) {
        dataFailure(e);
    }
    m_fieldNames.clear();
    for (const data::Field& f : fields)
        m_fieldNames << f.name;
    m_template = analyseBlank(m_blank, m_fieldNames);
    if (m_template.sheetIndex < 0)
        throw ReportFailure(CaptionNoEntries, m_blankPath);
    if (!m_template.unknown.isEmpty() && !allowUnknown)
        throw ReportFailure(CaptionReportError,
                            QStringLiteral("Unknown marker: %1").arg(m_template.unknown.join(QStringLiteral(", "))));
    if (layout() == Layout::Columnar && !m_template.hasBand())
        throw ReportFailure(CaptionReportError,
                            QStringLiteral("The blank %1 has no field marker: a columnar report needs a band.")
                                .arg(m_blankPath));
    for (const QString& s : m_template.otherSheetFields)
        warn(QStringLiteral("Field markers on sheet %1 are left as they are: only sheet %2 is filled.")
                 .arg(s, m_blank.sheets[std::size_t(m_template.sheetIndex)].name));
}

std::unique_ptr<RecordSourceHolder> Generator::openQuery() {
    const QString condition = m_def.sqlOnOff ? conditionClause(m_def.sql) : QString();
    try {
        return std::make_unique<RecordSourceHolder>(m_source->query(m_def.db, condition, m_def.from, m_def.to));
    } catch (const data::DataError& e) {
        dataFailure(e);
    }
}

qint64 Generator::countRecords(Progress& progress) {
    // A database counts the records itself, without sending them; table files are read through.
    qint64 counted = -1;
    try {
        counted = m_source->countRecords(m_def.db, m_def.sqlOnOff ? conditionClause(m_def.sql) : QString(),
                                         m_def.from, m_def.to);
    } catch (const data::DataError&) {
        counted = -1; // the query below tells what is wrong
    }
    if (counted >= 0) {
        progress.counted = counted;
        progress.total = counted;
        return counted;
    }
    auto q = openQuery();
    data::Record r;
    qint64 n = 0;
    const auto fail = [this](const std::exception& e) { dataFailure(e); };
    while (q->next(r, fail)) {
        ++n;
        if ((n & 255) == 0) {
            progress.counted = n;
            if (progress.cancel)
                throw Cancelled();
        }
    }
    progress.counted = n;
    progress.total = n;
    return n;
}

qint64 Generator::recordsThatFit() const {
    const qint64 sheets = xls::maxSheets - (qint64(m_blank.sheets.size()) - 1);
    if (sheets <= 0)
        return 0;
    const Template& t = m_template;
    const auto need = [&](qint64 records) {
        switch (layout()) {
        case Layout::Columnar:
            return columnarSheets(records, t.bandFirst, t.bandHeight(), t.footerHeight());
        case Layout::FormOneSheet:
            return formSheets(records, t.blockHeight());
        case Layout::FormSheets:
            break;
        }
        return records;
    };
    // The most records whose sheets fit, by halving between what surely fits and what cannot.
    qint64 low = 0, high = sheets * qint64(xls::maxRows) + 1;
    while (high - low > 1) {
        const qint64 mid = low + (high - low) / 2;
        (need(mid) <= sheets ? low : high) = mid;
    }
    return low;
}

ReportFailure Generator::tooLarge(const QString& limit, qint64 fit) const {
    return ReportFailure(CaptionReportError,
                         QStringLiteral("The report is too large for an .xls workbook: it would pass %1. "
                                        "Only the first %2 records fit; take fewer (the range From..To or "
                                        "a condition).")
                             .arg(limit, QLocale::c().toString(fit)));
}

qint64 Generator::bytesPerRecord() const {
    const Template& t = m_template;
    int first = 0, last = t.lastRow;
    if (layout() == Layout::Columnar) {
        first = t.bandFirst;
        last = t.bandLast;
    }
    qint64 bytes = layout() == Layout::FormSheets ? 600 : 0; // a sheet's own records
    for (int r = std::max(0, first); r <= last && r < int(t.rows.size()); ++r) {
        bytes += 20 + 2; // the ROW record, and its share of the block's DBCELL
        bytes += 10 * qint64(t.rows[std::size_t(r)].cells.size()); // the smallest cell record
    }
    return std::max<qint64>(bytes, 1);
}

CheckResult Generator::check(Progress& progress) {
    CheckResult c;
    c.records = countRecords(progress);
    const qint64 fit = recordsThatFit();
    if (c.records > fit)
        c.tooLarge = tooLarge(QStringLiteral("its 65,535 sheets"), fit).text();
    else if (c.records * bytesPerRecord() > xls::maxStream)
        c.tooLarge = tooLarge(QStringLiteral("its 2 GB"), xls::maxStream / bytesPerRecord()).text() +
                     QStringLiteral(" (at most that many: the records' texts take more)");
    switch (layout()) {
    case Layout::Columnar:
        c.reportSheets = columnarSheets(c.records, m_template.bandFirst, m_template.bandHeight(),
                                        m_template.footerHeight(), m_xlsx ? XlsxReport::rowLimit() : xls::maxRows);
        break;
    case Layout::FormOneSheet:
        c.reportSheets = formSheets(c.records, m_template.blockHeight(), m_xlsx ? XlsxReport::rowLimit() : xls::maxRows);
        break;
    case Layout::FormSheets:
        c.reportSheets = c.records;
        break;
    }
    c.otherSheets = qint64(m_blank.sheets.size()) - 1;
    return c;
}

void Generator::fill(Progress& progress) {
    const QStringList notCarried = dropped();
    if (!notCarried.isEmpty())
        warn(QStringLiteral("Not carried into the report: %1.").arg(notCarried.join(QStringLiteral("; "))));
    if (m_xlsx) {
        m_xlsx->fill(progress);
        return;
    }
    m_writer = std::make_unique<xls::WorkbookWriter>(m_reportPath);
    m_writer->limitPermissionsTo(m_blankPath);
    try {
        m_writer->useFormatsOf(m_blank);
        m_writer->setDate1904(m_blank.date1904);
        // A macro project goes along as it is (named in the warning above): OBJPROJ only with
        // its storage.
        QList<xls::Record> macroRecords;
        for (const xls::Record& r : m_blank.macroRecords)
            if (r.id != 0x00D3 || !m_blank.storages.empty())
                macroRecords << r;
        m_writer->keepMacroProject(macroRecords, m_blank.storages);
        Writing w(*this, *m_writer, m_blank, m_template);
        const QDate today = m_today.isValid() ? m_today : QDate::currentDate();
        dateSerial(today, m_blank.date1904, w.todaySerial);
        w.todayText = today.toString(Qt::ISODate);
        for (int s = 0; s < int(m_blank.sheets.size()); ++s)
            if (s != m_template.sheetIndex)
                w.usedNames.insert(m_blank.sheets[std::size_t(s)].name.toLower());
        w.placed.firstSheet = m_template.sheetIndex;
        // A sheet per record: the records are counted first (a pass that writes nothing), so that
        // a report past the format's sheets is refused before its sheets are written.
        if (layout() == Layout::FormSheets && progress.total < 0)
            countRecords(progress);
        if (progress.total > recordsThatFit())
            throw tooLarge(QStringLiteral("its 65,535 sheets"), recordsThatFit());
        if (needsRecordCount())
            w.place(progress.total >= 0 ? progress.total.load() : countRecords(progress), layout());

        w.writtenOf.assign(m_blank.sheets.size(), -1);
        for (int s = 0; s < int(m_blank.sheets.size()); ++s) // as far as known before the report's sheets
            w.writtenOf[std::size_t(s)] = s <= m_template.sheetIndex ? s : s + int(w.placed.sheets) - 1;
        w.drawings = std::make_unique<xls::DrawingPlacer>(m_blank);
        for (int s = 0; s < int(m_blank.sheets.size()); ++s) {
            w.writtenOf[std::size_t(s)] = m_writer->sheetCount();
            if (s != m_template.sheetIndex) {
                copyOtherSheet(w, s);
                continue;
            }
            switch (layout()) {
            case Layout::Columnar:
                writeColumnar(w, progress);
                break;
            case Layout::FormOneSheet:
                writeFormOneSheet(w, progress);
                break;
            case Layout::FormSheets:
                writeFormSheets(w, progress);
                break;
            }
        }
        w.writeNames();
        m_writer->setDrawingGroup(w.drawings->group());
        if (!w.drawings->problem().isEmpty())
            warn(QStringLiteral("Not carried into the report: %1.").arg(w.drawings->problem()));
        if (w.drawings->placedCharts())
            m_writer->useSheetReferences();
    } catch (const xls::Error& e) {
        abandon();
        throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
    } catch (...) {
        abandon();
        throw;
    }
}

void Generator::finish() {
    if (m_xlsx) {
        m_xlsx->finish();
        return;
    }
    if (!m_writer)
        return;
    try {
        m_writer->setCancelCheck([this] { return cancelRequested(); });
        m_writer->finish();
    } catch (const xls::Error& e) {
        abandon();
        if (cancelRequested())
            throw Cancelled();
        throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
    }
    m_writer.reset();
}

void Generator::abandon() {
    if (m_xlsx)
        m_xlsx->abandon();
    m_writer.reset();
}

void Generator::closeData() {
    m_source.reset();
}

namespace {

void checkCancel(Progress& progress, qint64 n) {
    progress.written.store(n, std::memory_order_relaxed);
    if (progress.cancel.load(std::memory_order_relaxed))
        throw Cancelled();
}

} // namespace

bool Generator::needsRecordCount() const {
    const Template& t = m_template;
    const bool columnar = layout() == Layout::Columnar;
    // A chart on a sheet before the report's: its series over the band widen by the count.
    for (int s = 0; columnar && s < t.sheetIndex; ++s)
        for (const xls::DrawingObject& o : m_blank.sheets[std::size_t(s)].objects)
            if (o.kind == 0x05)
                return true;
    for (int s = 0; s < int(m_blank.sheets.size()); ++s) {
        for (const xls::Cell& cell : m_blank.sheets[std::size_t(s)].cells) {
            if (!cell.formula)
                continue;
            // Above the footer on the report sheet: references to the footer or totals over the band.
            const bool above = columnar && s == t.sheetIndex && cell.row <= t.bandLast;
            bool need = false;
            xls::Formula f = *cell.formula;
            f.relocate([&](const xls::RowSpan& r, bool area) {
                need = need || r.sheet >= 0 ||
                       (above && (r.last > t.bandLast || (area && cell.row < t.bandFirst &&
                                                          r.first == t.bandFirst && r.last == t.bandLast)));
                return r;
            });
            if (need)
                return true;
        }
    }
    return false;
}

QString noDataText(const ReportDefinition& d) {
    if (d.to > 0 && d.from > d.to)
        return QStringLiteral("From %1 is after To %2").arg(d.from).arg(d.to);
    return d.db;
}

qint64 Generator::eachRecord(Progress& progress, const std::function<void(const data::Record&, qint64)>& each) {
    const auto fail = [this](const std::exception& e) { dataFailure(e); };
    auto q = openQuery();
    data::Record rec;
    if (!q->next(rec, fail))
        throw ReportFailure(CaptionNoData, noDataText(m_def));
    qint64 n = 0;
    do {
        ++n;
        each(rec, n);
        checkCancel(progress, n);
    } while (q->next(rec, fail));
    for (const QString& warning : q->warnings())
        warn(warning);
    return n;
}

qint64 Generator::writeRecords(Writing& w, Progress& progress, const std::function<void(qint64)>& writeOne) {
    // The format's limits are watched as the report grows: past them the work stops at once.
    const qint64 fit = recordsThatFit();
    const qint64 streamLimit = qEnvironmentVariableIsSet("LEDGERWICK_TEST_STREAM_LIMIT")
                                   ? qEnvironmentVariable("LEDGERWICK_TEST_STREAM_LIMIT").toLongLong()
                                   : xls::maxStream;
    const qint64 n = eachRecord(progress, [&](const data::Record& rec, qint64 number) {
        if (number > fit)
            throw tooLarge(QStringLiteral("its 65,535 sheets"), fit);
        w.record = &rec;
        w.number = number;
        writeOne(number);
        if ((number & 63) == 0 || layout() == Layout::FormSheets) {
            if (m_writer->streamSize() > streamLimit)
                throw tooLarge(QStringLiteral("its 2 GB"), number - 1);
        }
    });
    w.record = nullptr;
    w.checkCounted(n);
    return n;
}

void Generator::writeColumnar(Writing& w, Progress& progress) {
    const Template& t = m_template;
    const int b0 = t.bandFirst, b1 = t.bandLast, h = t.bandHeight(), f = t.footerHeight();
    const QString base = w.sheet.name;

    qint64 sheetNo = 0;
    int row = 0;
    const auto startSheet = [&](qint64 firstNumber) {
        if (sheetNo > 0)
            w.endColumnarSheet(-1);
        ++sheetNo;
        w.beginReportSheet(w.uniqueName(sheetNo == 1 ? base : numberedSheetName(base, sheetNo)));
        w.record = nullptr;
        w.number = firstNumber;
        w.part = Writing::Part::Header;
        w.copyRows(0, b0 - 1, 0);
        row = b0;
    };
    const qint64 n = writeRecords(w, progress, [&](qint64 number) {
        if (sheetNo == 0 || row + h > xls::maxRows) {
            const data::Record* record = w.record;
            startSheet(number);
            w.record = record;
            w.number = number;
            w.pieces.push_back({w.currentSheet(), row, row - 1});
        }
        w.part = Writing::Part::Band;
        w.copyRows(b0, b1, row);
        w.pieces.back().last = row + h - 1;
        row += h;
    });

    w.record = nullptr;
    w.number = n;
    if (row + f > xls::maxRows)
        startSheet(n);
    // The footer's formulas follow the rows as they were written.
    w.placed.known = true;
    w.placed.sheets = w.currentSheet() - w.placed.firstSheet + 1;
    w.placed.footerShift = row - (b1 + 1);
    w.placed.pieces = w.pieces;
    w.part = Writing::Part::Footer;
    w.copyRows(b1 + 1, t.lastRow, row);
    w.endColumnarSheet(row);
}

void Generator::writeFormOneSheet(Writing& w, Progress& progress) {
    const int block = m_template.blockHeight();
    const QString base = w.sheet.name;
    qint64 sheetNo = 0;
    int row = 0;
    // The whole sheet goes with each block; a range over the block's rows is widened over them all.
    const auto endFormSheet = [&] {
        w.endSheet(w.sheet,
                   xls::RowMap({{0, xls::maxRows - 1, 0, row / block, block, m_template.lastRow}}), true);
    };
    writeRecords(w, progress, [&](qint64) {
        if (sheetNo == 0 || row + block > xls::maxRows) {
            if (sheetNo > 0)
                endFormSheet();
            ++sheetNo;
            w.beginReportSheet(w.uniqueName(sheetNo == 1 ? base : numberedSheetName(base, sheetNo)));
            row = 0;
        }
        if (row > 0)
            m_writer->addRowBreak(row);
        w.part = Writing::Part::Form;
        w.tallies = {};
        w.copyRows(0, m_template.lastRow, row);
        row += block;
    });
    endFormSheet();
}

void Generator::writeFormSheets(Writing& w, Progress& progress) {
    writeRecords(w, progress, [&](qint64 n) {
        w.beginReportSheet(w.uniqueName(QString::number(n)));
        w.part = Writing::Part::Form;
        w.tallies = {};
        w.copyRows(0, m_template.lastRow, 0);
        w.endSheet(w.sheet, xls::RowMap(), true);
    });
}

void Generator::copyOtherSheet(Writing& w, int sheetIndex) {
    const xls::Sheet& s = m_blank.sheets[std::size_t(sheetIndex)];
    m_writer->beginSheet(s.name, &s);
    m_writer->setSheetHidden(s.hidden);
    if (s.printTitleRows)
        m_writer->setPrintTitleRows(s.printTitleRows->first, s.printTitleRows->second);
    w.record = nullptr;
    w.number = 0;
    w.part = Writing::Part::Other;
    // Row formats and cells, both in row order, merged into one walk.
    std::size_t ri = 0;
    for (const xls::Cell& cell : s.cells) {
        while (ri < s.rows.size() && s.rows[ri].row <= cell.row) {
            m_writer->setRow(s.rows[ri]);
            ++ri;
        }
        w.writeCell(cell.row, 0, planCell(cell, m_fieldNames));
    }
    for (; ri < s.rows.size(); ++ri)
        m_writer->setRow(s.rows[ri]);
    for (const xls::MergedRange& m : s.merged)
        m_writer->addMerged(m);
    for (int b : s.rowBreaks)
        m_writer->addRowBreak(b);
    w.endSheet(s, xls::RowMap(), false);
}

} // namespace lw::report
