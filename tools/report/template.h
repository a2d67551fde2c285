// The report generator's view of a blank: its markers resolved against the table's fields, the
// band (columnar) or block (form) of its report sheet, and a plan of every cell to write per copy.
#pragma once

#include "workbook/xls.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace lw::report {

// One piece of a text cell: literal text or a marker that a record fills in.
struct TextPart {
    enum class Kind { Literal, Field, Number, Report, Date };
    Kind kind = Kind::Literal;
    QString literal; // Literal
    int field = -1;  // Field
};

// What to write for one cell of the blank.
struct CellPlan {
    enum class Kind {
        Static,  // the blank's value as it stands
        Formula, // the blank's formula, its references following the rows (totals: widened over the band)
        Field,   // the whole text is one field marker: the field's typed value
        Number,  // the whole text is ${#}: the record's number
        Date,    // the whole text is ${DATE}: the day of generation as a date
        Text,    // text with markers inside: the markers replaced as text
    };
    Kind kind = Kind::Static;
    int column = 0;
    int repeat = 0;   // Static empty: the run of empty cells of the same format goes on this many columns
    quint16 xf = 15;
    xls::Value value; // Static; a formula's cached result
    std::optional<xls::Formula> formula;
    int field = -1;              // Field
    std::vector<TextPart> parts; // Text
    bool spreadsOverBand = false; // a formula above or below the band whose area covers exactly the band
};

struct RowPlan {
    std::optional<xls::RowFormat> format;
    std::vector<CellPlan> cells; // columns ascending
};

// A marker as found in the blank, for --check and error texts.
struct FoundMarker {
    QString sheet;
    QString cell; // "B4"
    QString name; // as written
    bool known = true;
    bool field = false;
};

// The blank's report sheet made ready for copying.
struct Template {
    int sheetIndex = -1; // the blank's sheet that the report fills: the first holding a marker
    int lastRow = -1;    // last row of the sheet's content (cells and merged cells)
    int bandFirst = -1;  // columnar: first and last row holding a field marker; -1 when none
    int bandLast = -1;
    std::vector<RowPlan> rows; // rows 0..lastRow
    std::vector<FoundMarker> markers; // on every sheet of the blank
    QStringList unknown;   // "${NAME} (Sheet!B4)" for each unknown marker
    QStringList otherSheetFields; // sheets other than the report sheet that hold field markers

    bool hasBand() const { return bandFirst >= 0; }
    int bandHeight() const { return bandLast - bandFirst + 1; }
    int blockHeight() const { return lastRow + 1; }
    int footerHeight() const { return hasBand() ? lastRow - bandLast : 0; }
};

// "B4" for row 3, column 1 (0-based).
QString cellName(int row, int column);

// Cuts a text into parts resolved against the field names (unknown names become literal text
// here; findMarkers reports them).
std::vector<TextPart> resolveText(const QString& text, const QStringList& fieldNames);

// Plans one cell of a sheet: its markers resolved against the fields.
CellPlan planCell(const xls::Cell& cell, const QStringList& fieldNames);

// Analyses the blank: the markers of every sheet, the report sheet, its band and the plan of each
// of its rows. A blank without any marker gives sheetIndex -1.
Template analyseBlank(const xls::Workbook& blank, const QStringList& fieldNames);

// The report sheets a number of records takes (the blank's other sheets not counted).
// Columnar: the header rows repeat on every sheet, copies of the band follow, the footer after
// the last copy (on a sheet of its own, after a header, when it does not fit). One-sheet form:
// one block per record.
// maxRows: the format's rows a sheet (.xls unless told).
qint64 columnarSheets(qint64 records, int header, int band, int footer, int maxRows = xls::maxRows);
qint64 formSheets(qint64 records, int block, int maxRows = xls::maxRows);

// A sheet name with " (k)" appended, the name cut so that the whole fits the format's limit.
QString numberedSheetName(const QString& base, qint64 k);

} // namespace lw::report
