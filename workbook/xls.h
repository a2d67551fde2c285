// Excel 97-2003 workbooks (.xls, BIFF8 records in an OLE2 compound file): the workbook model
// that reading gives, formulas as token lists that can be moved and widened, and the streaming writer.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace lw::xls {

// Limits of the format.
inline constexpr int maxRows = 65536;
inline constexpr int maxColumns = 256;
inline constexpr int maxCellText = 32767;
inline constexpr int maxSheetName = 31;
inline constexpr int maxRowBreaks = 1026; // page breaks a sheet can hold
inline constexpr int maxSheets = 65535;
inline constexpr qint64 maxStream = 0x7FFFFFFF; // bytes of the workbook stream

// Any failure to read or write a workbook. The text names the problem in words a user understands
// ("... is an Excel 5.0/95 workbook: save it as Excel 97-2003 workbook", "... is encrypted",
// "... is an .xlsx workbook saved under an .xls name", "record past the end of the stream", ...)
// and, where known, the file.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One BIFF record as it stands in the stream (CONTINUE records joined where the reader keeps a
// record whole).
struct Record {
    quint16 id = 0;
    QByteArray data;
};

enum class ValueType : quint8 { Empty, Number, Text, Boolean, Error };

// The value of a cell, or the cached result of a formula.
struct Value {
    ValueType type = ValueType::Empty;
    double number = 0;  // Number; Boolean as 0 or 1; Error as its error code (0x07 #DIV/0!, 0x2A #N/A ...)
    QString text;       // Text
};

struct RowSpan {
    int sheet = -1; // index of the sheet in the workbook being written; -1: the formula's own sheet
    int first = 0;  // first row, 0-based
    int last = 0;   // last row, 0-based
};

// A formula as its parsed-expression tokens (rgce) plus trailing data (rgcb, array constants).
// Tokens that refer to sheets of a workbook (tRef3d, tArea3d ...) hold the index of the SHEET in the
// model (not the file's EXTERNSHEET index): the reader maps them, the writer maps them back to its
// own EXTERNSHEET table. Shared formulas (SHRFMLA) are expanded into each cell's own tokens when read.
// A name of the workbook (tName) is named by its index in Workbook::names plus one. A formula the
// model cannot carry (one referring to another workbook, to a range of sheets or to a name of a
// sheet, an array formula, a data table) is read as its cached value alone, and Workbook::dropped
// or Sheet::dropped says so.
class Formula {
public:
    Formula() = default;
    Formula(QByteArray tokens, QByteArray extra = {});

    const QByteArray& tokens() const { return m_tokens; }
    const QByteArray& extra() const { return m_extra; }
    bool isEmpty() const { return m_tokens.isEmpty(); }

    // Moves the formula as copying its cell down by rowOffset rows does: references whose row is
    // relative move by rowOffset, absolute rows stay. A reference that would leave the sheet becomes
    // an error reference (#REF!) and the call returns false. Every other token is kept byte for byte.
    bool moveRows(int rowOffset);

    // Whether an area reference on the formula's own sheet covers exactly rows first..last
    // (0-based), in any columns: the total under a band.
    bool hasAreaOverRows(int first, int last) const;

    // Where a reference points after the rows it refers to were moved (rows inserted, a sheet split
    // into several): called with each cell or area reference as {sheet, first row, last row} (sheet
    // -1 for a reference on the formula's own sheet, a 2-D one) and whether it is an area, `where`
    // gives where it points now (sheet -1 gives a 2-D reference, else a 3-D one to that sheet; a
    // cell reference takes the first row) or nothing when the cells are gone. Columns and the
    // relative/absolute flags stay; sizes, jumps and subexpression lengths are kept right when a
    // reference changes between 2-D and 3-D. A reference that is gone or would leave the sheet
    // becomes #REF! and the call returns false.
    using Relocation = std::function<std::optional<RowSpan>(const RowSpan&, bool area)>;
    bool relocate(const Relocation& where);
    // Inserting count rows before row `at` of a sheet (-1: the formula's own sheet, as 2-D
    // references; else 3-D references to that sheet): rows at or below `at` move down by count,
    // whether relative or absolute; an area over `at` grows. False when a reference leaves the sheet.
    bool insertRows(int at, int count, int sheet = -1);

    // Each area on the formula's own sheet covering exactly rows first..last is replaced:
    // with one piece of sheet -1, by the same columns over rows piece.first..piece.last;
    // otherwise by one 3-D area per piece (same columns), as further arguments of the enclosing
    // function (its argument count raised). Returns false, leaving the formula unchanged, when a
    // function would get more than 30 arguments or the area is not a function argument.
    bool spreadArea(int first, int last, const std::vector<RowSpan>& pieces);

    // The sheet indices its 3-D references name, each once, ascending.
    std::vector<int> sheetsReferenced() const;
    // Replaces the sheet index s of every 3-D reference by map(s) (for a workbook whose sheets are
    // not the source's); returns false, leaving the formula unchanged, when map gives a negative
    // index or one past 65,535 for any of them.
    bool mapSheets(const std::function<int(int)>& map);

private:
    QByteArray m_tokens;
    QByteArray m_extra;
};

struct Cell {
    int row = 0;
    int column = 0;
    quint16 xf = 15;                // index of the cell's format (XF record)
    // An empty cell that stands for itself and the next `repeat` cells of its row, all of the same
    // format and empty (a run of formatted empty cells, as MULBLANK records hold them): a sheet
    // filled with formatted empty cells costs one cell a run, not one a cell.
    quint8 repeat = 0;
    Value value;                    // a formula's cached result for formula cells
    std::optional<Formula> formula; // set for FORMULA cells

    int lastColumn() const { return column + repeat; }
};

struct MergedRange {
    int firstRow = 0;
    int lastRow = 0;
    int firstColumn = 0;
    int lastColumn = 0;
    bool operator==(const MergedRange&) const = default;
};

struct RowFormat {
    int row = 0;
    quint16 height = 255;     // twips (1/20 pt)
    bool customHeight = false;
    bool hidden = false;
    std::optional<quint16> xf; // a row format, when the row has one
};

struct ColumnFormat {
    int first = 0;
    int last = 0;
    quint16 width = 2340; // 1/256 of the width of the zero character
    quint16 xf = 15;
    bool hidden = false;
};

// A defined name: a user's name or a built-in one (print area, filter database ...). Its formula's
// 3-D references hold sheet indices, as cell formulas' do.
struct DefinedName {
    QString name;     // a user's name; empty for a built-in one
    int builtin = -1; // built-in code (0x06 print area, 0x0D filter database ...), -1 for a user's name
    int scope = -1;   // index of the sheet the name belongs to, -1 the workbook
    bool hidden = false;
    Formula formula;
};

// Built-in names that LibreOffice also writes as ordinary names ("Excel_BuiltIn_Print_Area",
// "_xlnm.Print_Area"): the built-in code such a name stands for, -1 for any other name.
int builtinNameCode(const QString& name);

// A drawn object of a sheet (picture, shape, text box, comment box, chart, a filter's drop-down):
// its OfficeArt shape container in pieces, each followed by the records that follow it in the
// sheet (OBJ, TXO and its CONTINUE records, a chart's substream from BOF to EOF). A chart's series
// formulas (BRAI) hold sheet indices, as cell formulas do. workbook/xls/drawing.h places copies.
struct DrawingObject {
    struct Part {
        QByteArray art;
        QList<Record> records;
    };
    std::vector<Part> parts;
    int row = -1;  // top row of its anchor; -1: none (it stays where it is)
    int kind = -1; // its OBJ's object type (0x05 chart, 0x08 picture, 0x14 drop-down, 0x19 comment ...)
};

struct Sheet {
    QString name;
    bool hidden = false;
    std::vector<Cell> cells;           // in row order, columns ascending within a row
    std::vector<RowFormat> rows;       // rows with a ROW record, in row order
    std::vector<ColumnFormat> columns; // COLINFO
    std::vector<MergedRange> merged;
    std::vector<int> rowBreaks;        // a page break before each of these rows (0-based)
    std::optional<std::pair<int, int>> printTitleRows; // first and last row repeated when printed
    // The sheet's other layout records as read (DEFCOLWIDTH, DEFAULTROWHEIGHT, WINDOW2, SCL, PANE,
    // SELECTION, page setup, margins, header, footer, print settings ...), written back unchanged.
    QList<Record> layoutRecords;
    // Records anchored to cells, as read: conditional formats (CONDFMT, CF, CONDFMT12, CF12, CFEX),
    // data validation (DVAL, DV), hyperlinks (HLINK, QUICKTIP) and the autofilter (FILTERMODE,
    // AUTOFILTERINFO, AUTOFILTER); written moved with the rows (workbook/xls/anchors.h).
    QList<Record> anchored;
    // The sheet's drawing: the group shape that holds the others (an OfficeArt shape container),
    // the objects, and the comments (NOTE records, each naming its comment box's OBJ).
    QByteArray drawingPatriarch;
    std::vector<DrawingObject> objects;
    QList<Record> notes;
    // What the sheet holds that is not carried into a written copy, by name: "drawings",
    // "comments", "conditional formats", "data validation", "hyperlinks" ... (each once).
    QStringList dropped;

    const Cell* cellAt(int row, int column) const; // nullptr when no cell is there (a run's cell for its columns)
    int lastRow() const;                           // last row holding a cell, -1 for none
};

// The workbook-global formatting records as read (FONT, FORMAT, XF, STYLE, PALETTE), kept in
// their order so that a writer can put them back unchanged and every XF index stays valid.
struct Formats {
    QList<Record> records;
};

// A storage or stream of the compound file beside the workbook stream, with everything under it
// (a macro project's "_VBA_PROJECT_CUR"), carried into a written workbook byte for byte.
struct StorageEntry {
    QString name;
    bool storage = false; // a storage (its children), else a stream (its data)
    QByteArray data;
    std::vector<StorageEntry> children;
};

struct Workbook {
    std::vector<Sheet> sheets;
    bool date1904 = false;
    quint16 codepage = 1200;
    Formats formats;
    QStringList dropped; // workbook-level things not carried (e.g. "macros", "links to other workbooks")
    std::vector<DefinedName> names; // print titles excepted (Sheet::printTitleRows)
    QByteArray drawingGroup;        // the OfficeArt drawing group (MSODRAWINGGROUP) with its pictures
    // A macro project: its storage and its workbook records (OBJPROJ, the workbook's CODENAME).
    std::vector<StorageEntry> storages;
    QList<Record> macroRecords;

    // The number format code of a cell format ("General", "0.00", "dd/mm/yyyy", ...).
    QString numberFormat(quint16 xf) const;
    // Whether a cell with this format shows its number as a date or time.
    bool isDateFormat(quint16 xf) const;

    // (private tables used by the two functions above; filled by the reader)
    std::vector<quint16> xfFormatIndex;         // per XF: its FORMAT index
    std::vector<std::pair<quint16, QString>> formatCodes; // FORMAT records: index, code
};

// Reads a whole workbook. Throws Error for anything that is not a readable BIFF8 workbook:
// no such file, not a compound file, an .xlsx or HTML file under the name, a "Book" stream
// (Excel 5.0/95), no "Workbook" stream, FILEPASS (encrypted), damaged or truncated records.
// Never crashes or allocates without bound on hostile input: a model that would take more than
// maxModelBytes (1 GB unless set) is refused with an Error that says so.
Workbook readWorkbook(const QString& path);
inline constexpr qint64 defaultMaxModelBytes = qint64(1) << 30;
// The memory the model of a read workbook may take, about; applies to later reads.
void setMaxModelBytes(qint64 bytes);
// Reads the records of a "Workbook" stream already taken out of its compound file (the same
// checks as readWorkbook; for tests and the fuzz target).
Workbook readWorkbookStream(const QByteArray& workbookStream);

// Whether a text is a valid sheet name on its own: 1 to 31 characters, none of []:*?/\ and not
// starting or ending with an apostrophe. Empty when valid, else the reason.
QString sheetNameProblem(const QString& name);

struct Font {
    QString name = QStringLiteral("Arial");
    quint16 height = 200; // twips
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

enum class HAlign : quint8 { General, Left, Center, Right };

// A cell format of our own (for new workbooks).
struct CellFormat {
    Font font;
    QString numberFormat = QStringLiteral("General");
    bool border = false; // thin border on all four sides
    HAlign align = HAlign::General;
    bool wrap = false;
};

// Writes a workbook, streaming: sheets one after another, the cells of a sheet in row order
// (columns ascending within a row). Memory does not grow with the number of rows: sheet data goes
// to a temporary file, and the shared string table, kept in memory, is held to about 16 MB of text
// (half a million texts at most); past that, a new text of at most 255 characters is written in
// its cell's own record (LABEL), while texts already in the table keep referring to it. finish()
// writes the file atomically (a temporary file in the target's directory, then rename); a writer
// destroyed without finish() leaves no file and the old one at path untouched. Every write that
// breaks a limit of the format or the order above throws Error.
class WorkbookWriter {
public:
    explicit WorkbookWriter(const QString& path);
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    // Formats: by default a new workbook's own (the 5 standard fonts and 21 standard XFs, quint16
    // index 15 the default cell format). useFormatsOf takes a read workbook's global formatting
    // records unchanged (call before the first sheet), so its XF indices can be written as they are.
    // The date system is not taken with them: call setDate1904(source.date1904) for that.
    void useFormatsOf(const Workbook& source);
    void setDate1904(bool date1904);
    // A cell format of our own; returns its XF index (the same format twice gives the same index).
    quint16 addFormat(const CellFormat& format);
    // A copy of an existing XF with another number format (e.g. a date format for a "General" cell
    // that receives a date); cached, so repeated calls give the same index.
    quint16 withNumberFormat(quint16 xf, const QString& numberFormat);

    // Starts the next sheet. The name must be valid and unique regardless of case (Error).
    // With a layout source, its column formats and layout records are copied into the new sheet
    // (column widths, default row height, window settings, page setup, margins, print settings).
    void beginSheet(const QString& name, const Sheet* layoutSource = nullptr);
    void setColumnWidth(int first, int last, quint16 width, quint16 xf = 15);
    // Row height and format of a row; call before the row's first cell (or for an empty row, in order).
    void setRow(const RowFormat& row);
    void writeBlank(int row, int column, quint16 xf);
    // Empty cells of one format in columns first..last of a row (one MULBLANK record).
    void writeBlanks(int row, int first, int last, quint16 xf);
    void writeNumber(int row, int column, quint16 xf, double value);
    // Text: Error past 32,767 characters; an empty text is written as a blank cell.
    void writeText(int row, int column, quint16 xf, const QString& text);
    void writeBoolean(int row, int column, quint16 xf, bool value);
    void writeError(int row, int column, quint16 xf, quint8 code);
    void writeValue(int row, int column, quint16 xf, const Value& value);
    // A formula with its cached result; the workbook asks to be recalculated when opened.
    void writeFormula(int row, int column, quint16 xf, const Formula& formula, const Value& cached);
    void addMerged(const MergedRange& range);
    void addRowBreak(int row);
    void setPrintTitleRows(int first, int last);
    void setSheetHidden(bool hidden);
    // Whole records (headers included) for the sheet being written, in the place the format gives
    // them: Filter before the sheet's dimensions (FILTERMODE, AUTOFILTERINFO, AUTOFILTER), Objects
    // after the cells (drawings, comments), Formats after the merged cells (CONDFMT, HLINK, DVAL ...).
    enum class SheetPart { Filter, Objects, Formats };
    void addSheetRecords(SheetPart part, const QByteArray& records);
    void endSheet();
    // A defined name; its scope and 3-D references are indices of written sheets (checked in finish).
    // Formulas name it by its place among the names given, counted from 1.
    void addName(const DefinedName& name);
    // The workbook's OfficeArt drawing group (MSODRAWINGGROUP), for sheets given drawings.
    void setDrawingGroup(const QByteArray& officeArt);
    // Records given whole refer to sheets by EXTERNSHEET entry (charts): the table is written,
    // one entry per sheet in sheet order.
    void useSheetReferences();
    // A macro project carried as it is: its workbook records and its storage.
    void keepMacroProject(const QList<Record>& records, const std::vector<StorageEntry>& storages);
    // A whole sheet as the next one: begun under its name with its layout, then its row formats
    // and cells (which must be in row order), merged cells, page breaks and print titles; ended.
    void writeSheet(const Sheet& sheet);

    int sheetCount() const;         // sheets begun so far
    // What the workbook stream takes so far, about (sheet data, the string table, the formats and
    // each sheet's own records): a report that grows can be stopped before the format's 2 GB.
    qint64 streamSize() const;
    QString sheetName(int index) const;

    // Writes the compound file and renames it into place. Throws Error on any failure (the old file
    // stays as it was).
    void finish();
    // A new file (none at path yet) gets no permission bits that the file at templatePath lacks,
    // the umask applying on top; a file that replaces another keeps the other's mode.
    void limitPermissionsTo(const QString& templatePath);
    // Asked between pieces of finish()'s copying: true stops it with Error, the old file untouched.
    void setCancelCheck(std::function<bool()> cancelled);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace lw::xls
