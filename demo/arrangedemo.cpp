// lw_arrangedemo: arranges a demo blank the way a user would in a spreadsheet program: a line under
// the title that names the day of the report, and a total under the band for the given fields.
//
//   lw_arrangedemo BLANK.xls|BLANK.xlsx [--total FIELD]...
//
// The blank is rewritten in place (atomically) with its formats, layout and markers kept.
#include "tools/common/markers.h"
#include "workbook/xls.h"
#include "workbook/xlsx/xlsx.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <algorithm>

namespace {

int fail(const QString& text)
{
    QTextStream(stderr) << "lw_arrangedemo: " << text << '\n';
    return 1;
}

// SUM over one column's rows first..last (0-based), rows and column relative as typed by a user.
lw::xls::Formula sumOver(int column, int first, int last)
{
    QByteArray t;
    auto put16 = [&t](int v) {
        t.append(char(v & 0xFF));
        t.append(char((v >> 8) & 0xFF));
    };
    t.append(char(0x25)); // tArea: rwFirst, rwLast, colFirst, colLast (relative row and column)
    put16(first);
    put16(last);
    put16(column | 0xC000);
    put16(column | 0xC000);
    t.append(char(0x22)); // tFuncVar: one argument, SUM
    t.append(char(1));
    put16(4);
    return lw::xls::Formula(t);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return fail(QStringLiteral("usage: lw_arrangedemo BLANK.xls [--total FIELD]..."));
    const QString path = args.takeFirst();
    QStringList totals;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--total") && !args.isEmpty())
            totals << args.takeFirst();
        else
            return fail(QStringLiteral("unexpected argument \"%1\"").arg(a));
    }

    try {
        const bool isXlsx = path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive);
        lw::xlsx::Package package;
        if (isXlsx)
            package = lw::xlsx::readPackage(path);
        const lw::xls::Workbook blank = isXlsx ? package.book : lw::xls::readWorkbook(path);
        if (blank.sheets.empty())
            return fail(path + QStringLiteral(": the blank has no sheet"));
        const lw::xls::Sheet& sheet = blank.sheets.front();

        // The band: the rows holding a marker, and the marker of each column in it.
        int bandFirst = -1;
        int bandLast = -1;
        for (const lw::xls::Cell& c : sheet.cells) {
            if (c.value.type == lw::xls::ValueType::Text && !c.formula && lw::hasMarker(c.value.text)) {
                if (bandFirst < 0)
                    bandFirst = c.row;
                bandLast = c.row;
            }
        }
        if (bandFirst < 0)
            return fail(path + QStringLiteral(": the blank holds no marker"));

        struct Extra {
            int row;
            int column;
            quint16 xf;
            bool formula;
            QString text;
        };
        std::vector<Extra> extras;
        // The line under the title, in the workbook's default cell format.
        if (!sheet.cellAt(1, 0) && bandFirst > 1)
            extras.push_back({1, 0, quint16(isXlsx ? 0 : 15), false, QStringLiteral("Prepared on ${DATE}")});
        // Totals one row under the band, in the band cell's format; "Total" in the first column.
        const int totalRow = bandLast + 2;
        bool labelled = false;
        for (const QString& field : totals) {
            const lw::xls::Cell* marker = nullptr;
            for (const lw::xls::Cell& c : sheet.cells)
                if (c.row >= bandFirst && c.row <= bandLast && c.value.type == lw::xls::ValueType::Text &&
                    lw::soleMarker(c.value.text).compare(field, Qt::CaseInsensitive) == 0)
                    marker = &c;
            if (!marker)
                return fail(path + QStringLiteral(": no marker of the field %1 in the band").arg(field));
            extras.push_back({totalRow, marker->column, marker->xf, true, {}});
            if (!labelled && marker->column > 0) {
                const lw::xls::Cell* caption = sheet.cellAt(bandFirst - 1, 0);
                extras.push_back({totalRow, 0, caption ? caption->xf : quint16(isXlsx ? 0 : 15), false, QStringLiteral("Total")});
                labelled = true;
            }
        }
        std::sort(extras.begin(), extras.end(),
                  [](const Extra& a, const Extra& b) { return std::pair(a.row, a.column) < std::pair(b.row, b.column); });

        if (isXlsx) {
            // The same cells through the .xlsx writer: the blank's parts kept, its formulas as text.
            lw::xlsx::ReportWriter out(path, package);
            for (std::size_t s = 0; s < blank.sheets.size(); ++s) {
                const lw::xls::Sheet& sh = blank.sheets[s];
                std::vector<std::pair<lw::xls::Cell, QString>> cells;
                for (const lw::xls::Cell& c : sh.cells)
                    cells.emplace_back(c, package.formulaAt(int(s), c.row, c.column));
                if (s == 0)
                    for (const Extra& e : extras) {
                        lw::xls::Cell c;
                        c.row = e.row;
                        c.column = e.column;
                        c.xf = e.xf;
                        c.value = {lw::xls::ValueType::Text, 0, e.text};
                        const QString col = lw::xlsx::cellName(0, e.column).chopped(1);
                        cells.emplace_back(c, e.formula ? QStringLiteral("SUM(%1%2:%1%3)").arg(col).arg(bandFirst + 1).arg(bandLast + 1)
                                                        : QString());
                    }
                std::stable_sort(cells.begin(), cells.end(), [](const auto& a, const auto& b) {
                    return std::pair(a.first.row, a.first.column) < std::pair(b.first.row, b.first.column);
                });
                out.beginSheet(sh.name, int(s), true);
                std::size_t ri = 0;
                for (const auto& [c, formula] : cells) {
                    while (ri < sh.rows.size() && sh.rows[ri].row <= c.row)
                        out.setRow(sh.rows[ri++]);
                    if (!formula.isEmpty())
                        out.writeFormula(c.row, c.column, c.xf, formula, {});
                    else
                        out.writeValue(c.row, c.column, c.xf, c.value);
                }
                for (; ri < sh.rows.size(); ++ri)
                    out.setRow(sh.rows[ri]);
                for (const lw::xls::MergedRange& m : sh.merged)
                    out.addMerged(m);
                out.endSheet(package.sheets[s].tail);
            }
            out.setDefinedNames(package.names);
            out.finish();
            return 0;
        }

        lw::xls::WorkbookWriter out(path);
        out.useFormatsOf(blank);
        out.setDate1904(blank.date1904);
        for (std::size_t s = 0; s < blank.sheets.size(); ++s) {
            // The first sheet gets the extras among its cells, in row order.
            lw::xls::Sheet sh = blank.sheets[s];
            std::vector<lw::xls::Cell>& cells = sh.cells;
            if (s == 0)
                for (const Extra& e : extras) {
                    lw::xls::Cell c;
                    c.row = e.row;
                    c.column = e.column;
                    c.xf = e.xf;
                    if (e.formula) {
                        c.formula = sumOver(e.column, bandFirst, bandLast);
                        c.value.type = lw::xls::ValueType::Number;
                    } else {
                        c.value.type = lw::xls::ValueType::Text;
                        c.value.text = e.text;
                    }
                    cells.push_back(c);
                }
            std::stable_sort(cells.begin(), cells.end(), [](const lw::xls::Cell& a, const lw::xls::Cell& b) {
                return std::pair(a.row, a.column) < std::pair(b.row, b.column);
            });
            out.writeSheet(sh);
        }
        out.finish();
    } catch (const lw::xls::Error& e) {
        return fail(QString::fromUtf8(e.what()));
    }
    return 0;
}
