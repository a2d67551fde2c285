// Office Open XML workbooks (.xlsx): the package read into the same model as the .xls side (plus
// what only .xlsx has: formulas as text, the parts to copy), formulas moved as text, and the writers.
#pragma once

#include "workbook/xls.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace lw::xlsx {

inline constexpr int maxRows = 1048576;
inline constexpr int maxColumns = 16384;

using Error = xls::Error;

// ---- Formulas as text ------------------------------------------------------------------------

// One reference of a formula's text: a cell (A1), an area (A1:B2), whole columns (A:C) or whole
// rows (1:3), with or without a sheet ('My Sheet'!, Sheet1:Sheet3!).
struct Reference {
    QString sheet;     // the sheet's name unquoted; empty for the formula's own sheet
    QString lastSheet; // Sheet1:Sheet3!: the last sheet of the range of sheets
    enum class Kind { Cell, Area, Columns, Rows } kind = Kind::Cell;
    int row1 = 0, col1 = 0, row2 = 0, col2 = 0; // 0-based; Columns: rows unused; Rows: columns unused
    bool absRow1 = false, absCol1 = false, absRow2 = false, absCol2 = false;
    bool hasRows() const { return kind != Kind::Columns; }
};

struct FormulaToken {
    enum class Kind { Other, String, Reference } kind = Kind::Other;
    QString text;  // the token as written
    Reference ref; // Reference
};

// The formula cut into references, string literals and everything else (functions, operators,
// numbers, names, structured references, R1C1 text: never read as references). Joining the tokens'
// texts gives the formula back.
std::vector<FormulaToken> tokenizeFormula(const QString& formula);
// A reference as a formula writes it ("'My Sheet'!$A$1:B2").
QString referenceText(const Reference& ref);
QString quoteSheetName(const QString& name);

struct RowSpan {
    QString sheet; // empty: the formula's own sheet
    int first = 0;
    int last = 0;
};

// The same rules as xls::Formula, on text:
// copying the cell down by rowOffset rows (relative rows move; a reference leaving the sheet
// becomes #REF! and ok is set false).
QString moveFormulaRows(const QString& formula, int rowOffset, bool* ok = nullptr);
// Copying the cell by rows and columns (shared formulas: each cell's own from the first one's).
QString moveFormulaCells(const QString& formula, int rowOffset, int columnOffset, bool* ok = nullptr);
// Each cell or area reference with rows, as {sheet, first, last} and whether it is an area, goes
// where `where` says (nothing: #REF!, ok false; a cell given several rows becomes an area).
// Columns and the $ flags stay.
using Relocation = std::function<std::optional<RowSpan>(const RowSpan&, bool area)>;
QString relocateFormula(const QString& formula, const Relocation& where, bool* ok = nullptr);
// Whether an area on the formula's own sheet covers exactly rows first..last.
bool formulaHasAreaOverRows(const QString& formula, int first, int last);
// Each area on the formula's own sheet over exactly rows first..last becomes one area per piece
// (same columns), as further arguments of its function; nothing (unchanged) when the area is not
// a function argument or a function would get more than 255 arguments.
std::optional<QString> spreadFormulaArea(const QString& formula, int first, int last,
                                         const std::vector<RowSpan>& pieces);

// ---- The package ------------------------------------------------------------------------------

// Limits the reader holds hostile files to (settable for tests).
struct ReadLimits {
    qint64 partBytes = 512ll << 20;  // one part, uncompressed
    qint64 totalBytes = 1024ll << 20; // all parts read
    qint64 ratio = 200;              // uncompressed / compressed, for parts over 1 MB
    int parts = 10000;
};
ReadLimits readLimits();
void setReadLimits(const ReadLimits& limits);

struct Relationship {
    QString id, type, target; // target as written
    bool external = false;
};

// What the .xls model has no room for, per sheet of the blank.
struct SheetExtra {
    QString part;            // "xl/worksheets/sheet1.xml"
    QByteArray head;         // the sheet's XML before <sheetData>
    QByteArray tail;         // after </sheetData>
    std::vector<Relationship> rels;
    QHash<quint64, QString> formulas; // (row << 16 | column) -> formula text without "="
    bool hidden = false;
};

struct DefinedName {
    QString name;
    int localSheet = -1; // the sheet index it belongs to, -1 global
    QString text;        // the formula
    QString attributes;  // the other attributes as written (hidden="1" ...)
};

struct Package {
    // Cells (xf = style index), rows, columns, merged cells, date system. A formula cell carries a
    // stand-in xls::Formula (an empty text constant) so that the model's users see a formula and
    // never scan its result for markers; its text is in SheetExtra::formulas.
    xls::Workbook book;
    std::vector<SheetExtra> sheets; // parallel to book.sheets
    std::map<QString, QByteArray> parts; // every part by name, as read
    QString workbookPart;           // "xl/workbook.xml"
    std::vector<Relationship> workbookRels;
    std::vector<DefinedName> names;
    QStringList warnings;           // array formulas kept as values ...
    int cellXfCount = 0;

    static quint64 key(int row, int column) { return (quint64(row) << 16) | quint64(column); }
    QString formulaAt(int sheet, int row, int column) const;
};

// Reads a whole .xlsx package. Throws Error for anything that is not one: an OLE2 file (an
// encrypted .xlsx or an .xls under the name), OpenDocument, a damaged zip, a DTD or entity in a
// part, parts beyond the limits.
Package readPackage(const QString& path);
Package readPackageData(const QByteArray& data); // tests and the fuzz target

// What a file's first bytes say it is: "xlsx", "ods", "ole2" or "" (something else).
QString sniffContent(const QString& path);

// A relationship's target as a part name, from the part that holds the relationship.
QString partName(const QString& sourcePart, const QString& target);
// The relationships of a part of the package (its "_rels/<name>.rels").
std::vector<Relationship> relationshipsOf(const Package& package, const QString& part);

// ---- Writing a report from a blank --------------------------------------------------------------

// Writes a workbook whose sheets are made from the blank's: rows streamed to temporary files in
// constant memory, the blank's other parts copied unchanged (styles only grow by the date formats
// asked for), the package zipped by finish() into an unnamed file and put in place only when complete. Cells in row order within a sheet.
class ReportWriter {
public:
    ReportWriter(const QString& path, const Package& blank);
    ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // A copy of a cell format with another number format (cached).
    int withNumberFormat(int style, const QString& code);

    // Starts a sheet made from blank sheet `source`: its XML before and after the rows are taken
    // from it (tail rewritten by the caller at endSheet). withParts: the sheet keeps the blank
    // sheet's drawings, comments, tables and hyperlinks (their relationships); false for further copies.
    void beginSheet(const QString& name, int source, bool withParts);
    void setRow(const xls::RowFormat& row);
    void writeBlank(int row, int column, int style);
    void writeNumber(int row, int column, int style, double value);
    void writeText(int row, int column, int style, const QString& text);
    void writeBoolean(int row, int column, int style, bool value);
    void writeValue(int row, int column, int style, const xls::Value& value);
    void writeFormula(int row, int column, int style, const QString& formula, const xls::Value& cached);
    void addMerged(const xls::MergedRange& range);
    void addRowBreak(int row);
    // tail: the blank sheet's XML after the rows, its ranges already moved (mergeCells and
    // rowBreaks are replaced by the ones added).
    void endSheet(const QByteArray& tail);
    void setDefinedNames(const std::vector<DefinedName>& names);
    // A part of the blank written with other bytes (a drawing whose anchors moved ...).
    void replacePart(const QString& name, const QByteArray& data);

    // Parts of the report's own (copies of drawings, charts, comments, tables), streamed into one
    // temporary file until finish() zips them; one at a time. beginPart returns the part's name:
    // `wanted` when no part has it (a blank's part left out by dropPart is free again), else one
    // made from it ("xl/charts/chart1_2.xml"). An empty content type: the package's default for
    // the name's extension.
    QString beginPart(const QString& wanted, const QString& contentType);
    void writePart(const QByteArray& data);
    void endPart();
    // A part of the blank that the report leaves out (its copies take its place).
    void dropPart(const QString& name);
    // The relationships of the sheet being written in place of its blank sheet's (targets of
    // parts absolute: "/xl/drawings/drawing1.xml"), and the ids its <drawing>, <legacyDrawing> and
    // <tableParts> name (empty: the element is left out). Taken by endSheet.
    struct SheetParts {
        std::vector<Relationship> rels;
        QString drawing;
        QString legacyDrawing;
        QStringList tables;
    };
    void setSheetParts(SheetParts parts);

    int sheetCount() const;
    QString sheetName(int index) const;
    // A new report gets no permission bits that the file at blankPath lacks (an existing one keeps
    // its own).
    void limitPermissionsTo(const QString& blankPath);
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Rewrites the ranges (sqref, ref) and formulas of a sheet's XML after its rows (conditional
// formats, data validation, hyperlinks, autofilter): each range of a list (sqref) becomes the
// ranges `ranges` gives (none: dropped from its list), a single range (ref) the first of them;
// formulas follow `formulas`.
using RangeCopies = std::function<std::vector<RowSpan>(const RowSpan&)>;
QByteArray relocateSheetTail(const QByteArray& tail, const RangeCopies& ranges, const Relocation& formulas);

// ---- A new workbook (blanks) ------------------------------------------------------------------

// A small workbook of our own with the same calls as xls::WorkbookWriter uses for new blanks.
class NewWorkbookWriter {
public:
    explicit NewWorkbookWriter(const QString& path);
    ~NewWorkbookWriter();
    quint16 addFormat(const xls::CellFormat& format);
    void beginSheet(const QString& name);
    void setColumnWidth(int first, int last, quint16 width, quint16 xf = 0);
    void setRow(const xls::RowFormat& row);
    void writeText(int row, int column, quint16 xf, const QString& text);
    void writeBlank(int row, int column, quint16 xf);
    // A formula as text without "=" and without a result: the spreadsheet program computes it.
    void writeFormula(int row, int column, quint16 xf, const QString& formula);
    void setPrintTitleRows(int first, int last);
    void endSheet();
    void finish();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Cell names: "B4" for row 3, column 1; parses back (false when not a cell name).
QString cellName(int row, int column);
bool parseCellName(const QString& text, int& row, int& column);

// XML escaping of text and attribute values.
QByteArray escapeXml(const QString& text);

} // namespace lw::xlsx
