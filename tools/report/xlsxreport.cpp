// The report generator's .xlsx path: typed values into cells, band copies and form blocks written
// row by row, formulas and the ranges after the rows (merged cells, conditional formats, data
// validation, hyperlinks, autofilter), defined names and the print area moved with the rows.
#include "tools/report/xlsxreport.h"

#include "tools/common/markers.h"
#include "tools/report/cellvalues.h"
#include "workbook/xlsx/placer.h"

#include <QHash>
#include <QRegularExpression>

#include <cmath>

namespace lw::report {

// The state of one report being written.
struct XlsxReport::Fill {
    Generator& g;
    xlsx::ReportWriter& out;
    const xlsx::Package& pkg;
    const xls::Workbook& blank;
    const Template& t;
    const int report; // the blank's report sheet
    const xls::Sheet& sheet;
    const QString reportName;
    const Layout layout;

    const data::Record* record = nullptr;
    qint64 number = 0;
    double todaySerial = 0;
    QString todayText;
    QHash<quint32, int> derived;
    QSet<QString> usedNames;

    enum class Part { Header, Band, Footer, Form, Other };
    Part part = Part::Other;

    // Columnar: where the report sheet's rows went, per written report sheet.
    struct Placed {
        QString name;
        int copies = 0;        // band copies on the sheet
        bool footer = false;   // the footer is on it
        int footerShift = 0;   // rows the footer moved
    };
    std::vector<Placed> placed;
    bool known = false;     // placed holds the whole report (counted first or written)
    int firstWritten = 0;   // written index of the first report sheet
    std::vector<QString> formSheetNames;
    // Places the report sheet's drawings, comments and tables; none when it has none.
    std::unique_ptr<xlsx::PartPlacer> placer;
    int vmlBlocks = 0; // the next free block of VML shape numbers

    Fill(Generator& gen, xlsx::ReportWriter& w, const xlsx::Package& p, const Template& tp)
        : g(gen), out(w), pkg(p), blank(p.book), t(tp), report(tp.sheetIndex),
          sheet(p.book.sheets[std::size_t(tp.sheetIndex)]), reportName(sheet.name), layout(gen.layout()) {}

    bool columnar() const { return layout == Layout::Columnar; }
    int b0() const { return t.bandFirst; }
    int b1() const { return t.bandLast; }
    int h() const { return t.bandHeight(); }

    QString uniqueName(const QString& wanted) { return uniqueSheetName(usedNames, wanted); }

    QString where(int row, int column) const {
        return out.sheetName(out.sheetCount() - 1) + u'!' + cellName(row, column);
    }

    bool isReportSheet(const QString& name) const {
        return name.compare(reportName, Qt::CaseInsensitive) == 0;
    }

    // Where the columnar rows of a range [first, last] of the report sheet went on report sheet k:
    // header rows stay, band rows widen over the copies on it, footer rows follow the footer.
    std::optional<xlsx::RowSpan> placeOn(std::size_t k, int first, int last) const {
        const Placed& p = placed[k];
        const int bandEnd = b0() + p.copies * h() - 1; // last row of the copies
        xlsx::RowSpan s{{}, first, last};
        if (first > b1()) {
            if (!p.footer)
                return std::nullopt;
            return xlsx::RowSpan{{}, first + p.footerShift, last + p.footerShift};
        }
        if (first >= b0() && p.copies == 0)
            return std::nullopt;
        if (last >= b0() && last <= b1())
            s.last = p.copies > 0 ? last + (p.copies - 1) * h() : b0() - 1;
        else if (last > b1())
            s.last = p.footer ? last + p.footerShift : bandEnd;
        if (s.last < s.first)
            return std::nullopt;
        return s;
    }

    // How a reference of a formula follows the rows (the .xls side's rules): on the report sheet
    // (own: sheet empty while writing it; else by name) header rows stay, band references mean the
    // first copy (in the band: its own copy, moved afterwards), an area over exactly the band
    // widens over the copies, footer rows move with the footer.
    std::optional<xlsx::RowSpan> follow(const xlsx::RowSpan& r, bool area, bool own, QString& problem) {
        const bool onReport = own ? r.sheet.isEmpty() || isReportSheet(r.sheet) : isReportSheet(r.sheet);
        if (!onReport)
            return r;
        const QString first = layout == Layout::FormSheets && !formSheetNames.empty() ? formSheetNames.front()
                              : placed.empty()                                        ? reportName
                                                                                      : placed.front().name;
        const QString current = out.sheetCount() > 0 ? out.sheetName(out.sheetCount() - 1) : QString();
        const auto on = [&](const QString& name, int f, int l) {
            return xlsx::RowSpan{own && name == current ? QString() : name, f, l};
        };
        if (!columnar())
            return on(own ? current : first, r.first, r.last);
        if (area && r.first == b0() && r.last == b1() && part != Part::Band) {
            if (!known) {
                problem = QStringLiteral("covers the band's first copy only: the records were not counted");
                return on(first, r.first, r.last);
            }
            if (placed.size() > 1 && part != Part::Footer) {
                problem = QStringLiteral("covers the band's copies on the first sheet only");
            }
            return on(first, b0(), b0() + placed.front().copies * h() - 1);
        }
        if (r.last <= b1()) {
            if (part == Part::Band)
                return xlsx::RowSpan{{}, r.first, r.last};
            return on(part == Part::Header ? current : first, r.first, r.last);
        }
        if (!known) {
            problem = QStringLiteral("refers to the footer, whose place was not known");
            return std::nullopt;
        }
        const Placed& last = placed.back();
        if (r.first > b1())
            return on(last.name, r.first + last.footerShift, r.last + last.footerShift);
        if (placed.size() == 1)
            return on(first, r.first, r.last + last.footerShift);
        problem = QStringLiteral("spans the band and the footer, which now lie on several sheets");
        return std::nullopt;
    }

    QString followFormula(const QString& formula, bool own, int row, int column) {
        QString problem;
        bool ok = true;
        QString text = formula;
        // A footer total over the band split over several sheets: one range per sheet.
        if (own && columnar() && known && placed.size() > 1 && part == Part::Footer &&
            xlsx::formulaHasAreaOverRows(text, b0(), b1())) {
            std::vector<xlsx::RowSpan> pieces;
            for (std::size_t k = 0; k < placed.size(); ++k)
                if (placed[k].copies > 0)
                    pieces.push_back({k + 1 == placed.size() ? QString() : placed[k].name, b0(),
                                      b0() + placed[k].copies * h() - 1});
            if (const auto spread = xlsx::spreadFormulaArea(text, b0(), b1(), pieces)) {
                // The pieces are in place: mark them so that following leaves them.
                text = *spread;
                return text;
            }
            problem = QStringLiteral("could not grow over every copy of the band");
        }
        text = xlsx::relocateFormula(
            text, [&](const xlsx::RowSpan& r, bool area) { return follow(r, area, own, problem); }, &ok);
        if (!problem.isEmpty())
            g.warn(QStringLiteral("The formula in %1 %2%3.").arg(where(row, column), problem,
                                                                 ok ? QString() : QStringLiteral(": #REF!")));
        else if (!ok)
            g.warn(QStringLiteral("The formula in %1 refers past the sheet's edge after the rows moved: #REF!.")
                       .arg(where(row, column)));
        return text;
    }

    int styleFor(int style, int kind) {
        const quint32 key = (quint32(style) << 2) | quint32(kind);
        if (const auto it = derived.constFind(key); it != derived.constEnd())
            return *it;
        int result = style;
        if (!blank.isDateFormat(quint16(style))) {
            const QString code = blank.numberFormat(quint16(style)).trimmed();
            if (code.isEmpty() || code.compare(QStringLiteral("General"), Qt::CaseInsensitive) == 0 ||
                code == QStringLiteral("@"))
                result = out.withNumberFormat(style, kind == 0   ? QStringLiteral("yyyy-mm-dd")
                                                     : kind == 1 ? QStringLiteral("hh:mm:ss")
                                                                 : QStringLiteral("yyyy-mm-dd hh:mm:ss"));
        }
        derived.insert(key, result);
        return result;
    }

    // what names the cell for the warning; it is made only when a text is cut.
    template <class What>
    void writeText(int row, int column, int style, const QString& text, What what) {
        bool cut = false;
        const QString written = cutText(text, cut);
        if (cut)
            g.warn(QStringLiteral("Text longer than 32,767 characters was cut (%1).").arg(what()));
        out.writeText(row, column, style, written);
    }

    void writeField(int row, const CellPlan& c) {
        if (!record || c.field < 0 || std::size_t(c.field) >= record->size()) {
            out.writeValue(row, c.column, c.xf, c.value);
            return;
        }
        const data::Value& v = (*record)[std::size_t(c.field)];
        if (writeCommonValue(out, row, c.column, c.xf, v, blank.date1904,
                             [this](int style, int kind) { return styleFor(style, kind); }))
            return;
        switch (v.kind) {
        case data::Value::Kind::Double: // not finite: #NUM!, as the writer does
            out.writeNumber(row, c.column, c.xf, v.number);
            return;
        case data::Value::Kind::Text:
            writeText(row, c.column, c.xf, v.text, [&] { return QStringLiteral("field %1").arg(g.m_fieldNames.value(c.field)); });
            return;
        case data::Value::Kind::Logical:
            out.writeBoolean(row, c.column, c.xf, v.logical);
            return;
        default: // written above
            return;
        }
    }

    // One cell of blank sheet `source` (row src) written at row dst.
    void writeCell(int source, int src, int dst, const CellPlan& c) {
        const QString formula = pkg.formulaAt(source, src, c.column);
        if (!formula.isEmpty()) {
            const bool own = source == report;
            QString f = followFormula(formula, own, dst, c.column);
            if (dst != src && (part == Part::Band || part == Part::Form)) {
                bool ok = true;
                f = xlsx::moveFormulaRows(f, dst - src, &ok);
                if (!ok)
                    g.warn(QStringLiteral("The formula in %1 refers past the sheet's edge after moving: #REF!.")
                               .arg(where(dst, c.column)));
            }
            // A moved formula's old result would be wrong: the spreadsheet program computes it.
            out.writeFormula(dst, c.column, c.xf, f, f == formula ? c.value : xls::Value{});
            return;
        }
        switch (c.kind) {
        case CellPlan::Kind::Static:
        case CellPlan::Kind::Formula:
            out.writeValue(dst, c.column, c.xf, c.value);
            return;
        case CellPlan::Kind::Field:
            writeField(dst, c);
            return;
        case CellPlan::Kind::Number:
            out.writeNumber(dst, c.column, c.xf, double(number));
            return;
        case CellPlan::Kind::Date:
            out.writeNumber(dst, c.column, styleFor(c.xf, 0), todaySerial);
            return;
        case CellPlan::Kind::Text: {
            const QString text = markerText(c.parts, record, number, g.m_def.name, todayText,
                                            [this](int field) { return fieldMarkerName(field, g.m_fieldNames); });
            writeText(dst, c.column, c.xf, text, [&] { return QStringLiteral("cell %1").arg(cellName(dst, c.column)); });
            return;
        }
        }
    }

    void copyRows(int first, int last, int at) {
        for (int r = first; r <= last; ++r) {
            const RowPlan& rp = t.rows[std::size_t(r)];
            const int dst = at + (r - first);
            if (rp.format) {
                xls::RowFormat f = *rp.format;
                f.row = dst;
                out.setRow(f);
            }
            for (const CellPlan& c : rp.cells)
                writeCell(report, r, dst, c);
        }
        for (const xls::MergedRange& m : sheet.merged)
            if (m.firstRow >= first && m.lastRow <= last)
                out.addMerged({m.firstRow + at - first, m.lastRow + at - first, m.firstColumn, m.lastColumn});
        for (int b : sheet.rowBreaks)
            if (b > 0 && b >= first && b <= last)
                out.addRowBreak(b + at - first);
    }

    QByteArray tailFor(const xlsx::RangeCopies& ranges) {
        return xlsx::relocateSheetTail(pkg.sheets[std::size_t(report)].tail, ranges,
                                       [&](const xlsx::RowSpan& r, bool area) {
                                           QString problem;
                                           return follow(r, area, true, problem).value_or(r);
                                       });
    }

    // The drawings, comments and tables of the report sheet placed on the sheet being written,
    // whose rows of the blank `map` gives.
    void placeParts(const xls::RowMap& map, bool first) {
        if (!placer || !placer->active() || out.sheetCount() == 0)
            return;
        placer->place(map, out.sheetName(out.sheetCount() - 1), first);
        for (const QString& p : placer->problems())
            g.warn(p);
    }

    // Where the report sheet's rows are on columnar report sheet p: the header, the band's copies
    // on it, the footer and everything below it when it is there.
    xls::RowMap columnarMap(const Placed& p) const {
        if (!t.hasBand())
            return xls::RowMap();
        std::vector<xls::RowSegment> segments;
        if (b0() > 0)
            segments.push_back({0, b0() - 1, 0});
        if (p.copies > 0)
            segments.push_back({b0(), b1(), b0(), p.copies, h()});
        if (p.footer)
            segments.push_back({b1() + 1, xlsx::maxRows - 1, b1() + 1 + p.footerShift});
        return xls::RowMap(std::move(segments), xlsx::maxRows);
    }

    void beginReportSheet(const QString& name, bool first) {
        out.beginSheet(name, report, first);
    }
};

XlsxReport::XlsxReport(Generator& generator) : g(generator) {}

int XlsxReport::rowLimit() {
    // Tests split reports without writing a million rows.
    static const int limit = [] {
        bool ok = false;
        const int rows = qEnvironmentVariableIntValue("LEDGERWICK_TEST_XLSX_ROWS", &ok);
        return ok && rows > 0 ? std::min(rows, maxRows) : maxRows;
    }();
    return limit;
}

XlsxReport::~XlsxReport() = default;

const xls::Workbook& XlsxReport::read(const QString& path) {
    m_package = xlsx::readPackage(path);
    for (const QString& w : m_package.warnings)
        g.warn(w);
    return m_package.book;
}

void XlsxReport::fill(Progress& progress) {
    const Template& t = g.m_template;
    m_out = std::make_unique<xlsx::ReportWriter>(g.m_reportPath, m_package);
    m_out->limitPermissionsTo(g.m_blankPath);
    try {
        Fill f(g, *m_out, m_package, t);
        const QDate today = g.m_today.isValid() ? g.m_today : QDate::currentDate();
        dateSerial(today, m_package.book.date1904, f.todaySerial);
        f.todayText = today.toString(Qt::ISODate);
        const int sheets = int(m_package.book.sheets.size());
        for (int s = 0; s < sheets; ++s)
            if (s != t.sheetIndex)
                f.usedNames.insert(m_package.book.sheets[std::size_t(s)].name.toLower());
        f.firstWritten = t.sheetIndex;
        f.placer = std::make_unique<xlsx::PartPlacer>(m_package, t.sheetIndex, *m_out, &f.vmlBlocks);

        // Formulas written before the footer that refer to it or to the band's copies, and other
        // sheets referring to the report sheet, need the record count first.
        bool needCount = false;
        if (f.columnar()) {
            for (int s = 0; s < sheets && !needCount; ++s) {
                for (auto it = m_package.sheets[std::size_t(s)].formulas.constBegin();
                     it != m_package.sheets[std::size_t(s)].formulas.constEnd() && !needCount; ++it) {
                    const int row = int(it.key() >> 16);
                    xlsx::relocateFormula(*it, [&](const xlsx::RowSpan& r, bool area) {
                        const bool onReport = s == t.sheetIndex ? r.sheet.isEmpty() || f.isReportSheet(r.sheet)
                                                                : f.isReportSheet(r.sheet);
                        if (onReport && (s != t.sheetIndex || row <= t.bandLast) &&
                            (r.last > t.bandLast || (area && r.first == t.bandFirst && r.last == t.bandLast && row < t.bandFirst)))
                            needCount = true;
                        return r;
                    });
                }
            }
        }
        qint64 counted = -1;
        if (needCount)
            counted = progress.total >= 0 ? progress.total.load() : g.countRecords(progress);
        const int b0 = t.bandFirst, b1 = t.bandLast, h = std::max(1, t.bandHeight());
        if (counted >= 0) {
            // Place the copies as the loop below will.
            const qint64 perSheet = std::max<qint64>(1, (rowLimit() - b0) / h);
            qint64 left = counted;
            int k = 0;
            do {
                const qint64 copies = std::min(left, perSheet);
                left -= copies;
                f.placed.push_back({k == 0 ? f.reportName : numberedSheetName(f.reportName, k + 1), int(copies), false, 0});
                ++k;
            } while (left > 0);
            const int after = b0 + f.placed.back().copies * h;
            if (after + t.footerHeight() > rowLimit()) {
                f.placed.push_back({numberedSheetName(f.reportName, k + 1), 0, true, b0 - (b1 + 1)});
            } else {
                f.placed.back().footer = true;
                f.placed.back().footerShift = after - (b1 + 1);
            }
            f.known = true;
        }

        const auto copyOther = [&](int s) {
            const xls::Sheet& other = m_package.book.sheets[std::size_t(s)];
            m_out->beginSheet(other.name, s, true);
            f.record = nullptr;
            f.number = 0;
            f.part = Fill::Part::Other;
            std::size_t ri = 0;
            for (const xls::Cell& cell : other.cells) {
                while (ri < other.rows.size() && other.rows[ri].row <= cell.row)
                    m_out->setRow(other.rows[ri++]);
                f.writeCell(s, cell.row, cell.row, planCell(cell, g.m_fieldNames));
            }
            for (; ri < other.rows.size(); ++ri)
                m_out->setRow(other.rows[ri]);
            for (const xls::MergedRange& m : other.merged)
                m_out->addMerged(m);
            for (int b : other.rowBreaks)
                m_out->addRowBreak(b);
            // Its drawings stay; charts on it over the report sheet's rows follow them as formulas do.
            xlsx::PartPlacer parts(m_package, s, *m_out, &f.vmlBlocks);
            if (parts.active()) {
                parts.place(xls::RowMap(), other.name, true, [&](const xlsx::RowSpan& r, bool area) {
                    QString problem;
                    return f.follow(r, area, false, problem);
                });
                for (const QString& p : parts.problems())
                    g.warn(p);
            }
            m_out->endSheet(xlsx::relocateSheetTail(
                m_package.sheets[std::size_t(s)].tail,
                [](const xlsx::RowSpan& r) { return std::vector<xlsx::RowSpan>{r}; },
                [&](const xlsx::RowSpan& r, bool area) {
                    QString problem;
                    return f.follow(r, area, false, problem).value_or(r);
                }));
        };

        qint64 records = 0;
        for (int s = 0; s < sheets; ++s) {
            if (s != t.sheetIndex) {
                copyOther(s);
                continue;
            }
            switch (f.layout) {
            case Layout::Columnar: {
                int row = 0;
                int sheetNo = 0;
                std::vector<Fill::Placed> written;
                const auto start = [&](qint64 firstNumber) {
                    if (sheetNo > 0) {
                        // The sheet's ranges: its own copies only.
                        f.placed.swap(written);
                        const std::size_t k = f.placed.size() - 1;
                        f.placeParts(f.columnarMap(f.placed[k]), k == 0);
                        m_out->endSheet(f.tailFor([&](const xlsx::RowSpan& r) {
                            std::vector<xlsx::RowSpan> v;
                            if (r.sheet.isEmpty())
                                if (auto p = f.placeOn(k, r.first, r.last))
                                    v.push_back(*p);
                            return v;
                        }));
                        f.placed.swap(written);
                    }
                    ++sheetNo;
                    const QString name = f.uniqueName(sheetNo == 1 ? f.reportName : numberedSheetName(f.reportName, sheetNo));
                    f.beginReportSheet(name, sheetNo == 1);
                    written.push_back({name, 0, false, 0});
                    const data::Record* keep = f.record;
                    f.record = nullptr;
                    f.number = firstNumber;
                    f.part = Fill::Part::Header;
                    f.copyRows(0, b0 - 1, 0);
                    f.record = keep;
                    row = b0;
                };
                records = g.eachRecord(progress, [&](const data::Record& rec, qint64 n) {
                    f.record = &rec;
                    f.number = n;
                    if (sheetNo == 0 || row + h > rowLimit())
                        start(n);
                    f.part = Fill::Part::Band;
                    f.copyRows(b0, b1, row);
                    ++written.back().copies;
                    row += h;
                });
                f.record = nullptr;
                f.number = records;
                if (row + t.footerHeight() > rowLimit())
                    start(records);
                written.back().footer = true;
                written.back().footerShift = row - (b1 + 1);
                if (f.known && f.placed.size() == written.size()) {
                    for (std::size_t k = 0; k < written.size(); ++k)
                        if (f.placed[k].copies != written[k].copies)
                            g.warn(QStringLiteral("The records changed while the report was written: formulas "
                                                  "that refer to the footer may point at the wrong cells."));
                }
                f.placed = written;
                f.known = true;
                f.part = Fill::Part::Footer;
                f.copyRows(b1 + 1, t.lastRow, row);
                f.placeParts(f.columnarMap(f.placed.back()), f.placed.size() == 1);
                const std::size_t k = f.placed.size() - 1;
                m_out->endSheet(f.tailFor([&](const xlsx::RowSpan& r) {
                    std::vector<xlsx::RowSpan> v;
                    if (!r.sheet.isEmpty())
                        v.push_back(r);
                    else if (auto p = f.placeOn(k, r.first, r.last))
                        v.push_back(*p);
                    return v;
                }));
                break;
            }
            case Layout::FormOneSheet: {
                const int block = t.blockHeight();
                int row = 0, sheetNo = 0;
                int blocks = 0;
                const auto end = [&]() {
                    const int count = blocks;
                    // Every block has its own copies of what is drawn on the form, and its own tables.
                    f.placeParts(xls::RowMap({{0, xlsx::maxRows - 1, 0, count, block, t.lastRow}}, xlsx::maxRows),
                                 sheetNo == 1);
                    m_out->endSheet(f.tailFor([&](const xlsx::RowSpan& r) {
                        std::vector<xlsx::RowSpan> v;
                        for (int b = 0; b < count; ++b)
                            v.push_back({r.sheet, r.first + b * block, r.last + b * block});
                        return v;
                    }));
                };
                records = g.eachRecord(progress, [&](const data::Record& rec, qint64 n) {
                    f.record = &rec;
                    f.number = n;
                    if (sheetNo == 0 || row + block > rowLimit()) {
                        if (sheetNo > 0)
                            end();
                        ++sheetNo;
                        const QString name = f.uniqueName(sheetNo == 1 ? f.reportName : numberedSheetName(f.reportName, sheetNo));
                        f.beginReportSheet(name, sheetNo == 1);
                        f.placed.push_back({name, 0, false, 0});
                        row = 0;
                        blocks = 0;
                    }
                    if (row > 0)
                        m_out->addRowBreak(row);
                    f.part = Fill::Part::Form;
                    f.copyRows(0, t.lastRow, row);
                    row += block;
                    ++blocks;
                    ++f.placed.back().copies;
                });
                end();
                break;
            }
            case Layout::FormSheets: {
                records = g.eachRecord(progress, [&](const data::Record& rec, qint64 n) {
                    f.record = &rec;
                    f.number = n;
                    const QString name = f.uniqueName(QString::number(n));
                    f.formSheetNames.push_back(name);
                    f.beginReportSheet(name, n == 1);
                    f.part = Fill::Part::Form;
                    f.copyRows(0, t.lastRow, 0);
                    f.placeParts(xls::RowMap(), n == 1);
                    m_out->endSheet(f.tailFor([](const xlsx::RowSpan& r) { return std::vector<xlsx::RowSpan>{r}; }));
                });
                break;
            }
            }
        }

        // What the blank's report sheet holds that is not copied goes with its first report sheet only.
        if (const QStringList firstOnly = f.placer->firstOnly(); !firstOnly.isEmpty()) {
            const bool severalSheets = f.layout == Layout::FormSheets ? f.formSheetNames.size() > 1 : f.placed.size() > 1;
            if (severalSheets)
                g.warn(QStringLiteral("The %1 of sheet %2 are on the first report sheet only.")
                           .arg(firstOnly.join(QStringLiteral(", ")), f.reportName));
            if (f.layout == Layout::FormOneSheet && !f.placed.empty() && f.placed.front().copies > 1)
                g.warn(QStringLiteral("The %1 of sheet %2 are with the first form only.")
                           .arg(firstOnly.join(QStringLiteral(", ")), f.reportName));
        }

        // Defined names: indices of the written sheets, the report sheet's names on each of its
        // sheets, ranges moved with the rows.
        const int reportSheets = f.layout == Layout::FormSheets ? int(f.formSheetNames.size()) : int(f.placed.size());
        std::vector<xlsx::DefinedName> names;
        f.part = Fill::Part::Other;
        for (const xlsx::DefinedName& d : m_package.names) {
            const auto relocated = [&](const QString& text, const QString& sheetName, std::size_t k) {
                bool ok = true;
                QString problem;
                const QString moved = xlsx::relocateFormula(
                    text,
                    [&](const xlsx::RowSpan& r, bool area) -> std::optional<xlsx::RowSpan> {
                        if (!f.isReportSheet(r.sheet))
                            return r;
                        if (f.columnar() && k < f.placed.size()) {
                            auto p = f.placeOn(k, r.first, r.last);
                            if (p)
                                p->sheet = sheetName;
                            return p;
                        }
                        (void)area;
                        if (f.layout == Layout::FormOneSheet && k < f.placed.size() && r.last >= r.first)
                            // Over the form's block: over every block on that sheet.
                            return xlsx::RowSpan{sheetName, r.first,
                                                 r.last + (f.placed[k].copies - 1) * t.blockHeight()};
                        return xlsx::RowSpan{sheetName, r.first, r.last};
                    },
                    &ok);
                if (!ok || !problem.isEmpty())
                    g.warn(QStringLiteral("The defined name %1 lost a reference: #REF!.").arg(d.name));
                return moved;
            };
            if (d.localSheet == t.sheetIndex) {
                for (int k = 0; k < reportSheets; ++k) {
                    const QString name = f.layout == Layout::FormSheets ? f.formSheetNames[std::size_t(k)]
                                                                         : f.placed[std::size_t(k)].name;
                    // Print titles repeat on every sheet; other names stay with the first.
                    if (k > 0 && d.name != QLatin1String("_xlnm.Print_Titles") &&
                        d.name != QLatin1String("_xlnm.Print_Area"))
                        continue;
                    xlsx::DefinedName n = d;
                    n.localSheet = t.sheetIndex + k;
                    n.text = relocated(d.text, name, std::size_t(k));
                    names.push_back(n);
                }
                continue;
            }
            xlsx::DefinedName n = d;
            if (d.localSheet > t.sheetIndex)
                n.localSheet = d.localSheet + reportSheets - 1;
            const QString first = f.layout == Layout::FormSheets ? f.formSheetNames.front() : f.placed.front().name;
            n.text = relocated(d.text, first, 0);
            names.push_back(n);
        }
        m_out->setDefinedNames(names);
    } catch (const xls::Error& e) {
        abandon();
        throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
    } catch (...) {
        abandon();
        throw;
    }
}

void XlsxReport::finish() {
    if (!m_out)
        return;
    try {
        m_out->finish();
    } catch (const xls::Error& e) {
        abandon();
        throw ReportFailure(CaptionReportError, QString::fromUtf8(e.what()));
    }
    m_out.reset();
}

void XlsxReport::abandon() {
    m_out.reset();
}

} // namespace lw::report
