// Writing a report package from its blank: sheets streamed row by row into temporary files, shared
// strings within the .xls writer's bound (inline strings past it), the workbook part, its
// relationships, content types and styles rewritten, every other part copied unchanged.
#include "workbook/xlsx/xlsx.h"

#include "workbook/reportfile.h"
#include "workbook/writer_budget.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/xml.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryFile>

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace lw::xlsx {

namespace {

const char* const WorksheetType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
const char* const StringsType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
const char* const WorksheetContent = "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml";
const char* const StringsContent = "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";
const char* const RelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

QByteArray number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QByteArray(buf, int(r.ptr - buf));
}

// Where element `name` starts in xml ("<name" followed by a blank, ">" or "/"), from `from`; -1 none.
qsizetype findElement(const QByteArray& xml, const char* name, qsizetype from = 0) {
    const QByteArray open = QByteArray("<") + name;
    for (qsizetype at = xml.indexOf(open, from); at >= 0; at = xml.indexOf(open, at + 1)) {
        const qsizetype after = at + open.size();
        if (after < xml.size() && (xml[after] == ' ' || xml[after] == '>' || xml[after] == '/' ||
                                   xml[after] == '\n' || xml[after] == '\r' || xml[after] == '\t'))
            return at;
    }
    return -1;
}

// The end (one past) of the element starting at `at`: its "/>" or its closing tag.
qsizetype elementEnd(const QByteArray& xml, qsizetype at, const char* name) {
    const qsizetype close = xml.indexOf('>', at);
    if (close < 0)
        return xml.size();
    if (xml[close - 1] == '/')
        return close + 1;
    const QByteArray endTag = QByteArray("</") + name + '>';
    const qsizetype e = xml.indexOf(endTag, close);
    return e < 0 ? xml.size() : e + endTag.size();
}

// Removes every element `name`; returns where the first one was (-1 none).
qsizetype removeElement(QByteArray& xml, const char* name) {
    qsizetype first = -1;
    for (qsizetype at = findElement(xml, name); at >= 0; at = findElement(xml, name, at)) {
        xml.remove(at, elementEnd(xml, at, name) - at);
        if (first < 0)
            first = at;
    }
    return first;
}

// Where to insert an element that comes before all of `followers` (the first found), else before
// the closing tag `closing`.
qsizetype insertPoint(const QByteArray& xml, std::initializer_list<const char*> followers, const char* closing) {
    qsizetype best = -1;
    for (const char* f : followers) {
        const qsizetype at = findElement(xml, f);
        if (at >= 0 && (best < 0 || at < best))
            best = at;
    }
    if (best >= 0)
        return best;
    const qsizetype end = xml.lastIndexOf(closing);
    return end < 0 ? xml.size() : end;
}

struct ContentTypes : xml::Handler {
    std::vector<std::pair<QString, QString>> defaults, overrides;
    void start(const char* name, const char** atts) override {
        if (std::strcmp(name, "Default") == 0)
            defaults.emplace_back(xml::attributeText(atts, "Extension"), xml::attributeText(atts, "ContentType"));
        else if (std::strcmp(name, "Override") == 0)
            overrides.emplace_back(xml::attributeText(atts, "PartName"), xml::attributeText(atts, "ContentType"));
    }
    void end(const char*) override {}
};

QString resolveTarget(const QString& sourcePart, const QString& target) {
    if (target.startsWith(u'/'))
        return target.mid(1);
    const qsizetype slash = sourcePart.lastIndexOf(u'/');
    QStringList out;
    for (const QString& piece : ((slash < 0 ? QString() : sourcePart.left(slash + 1)) + target).split(u'/')) {
        if (piece == QStringLiteral(".."))
            !out.isEmpty() ? out.removeLast() : void();
        else if (!piece.isEmpty() && piece != QStringLiteral("."))
            out << piece;
    }
    return out.join(u'/');
}

} // namespace

// Made here, beside the report writer, so that the package layer alone (the fuzz target) needs no
// report files.
std::unique_ptr<xls::reportfile::NewFile> zipio::newPackageFile(const QString& path) {
    const QFileInfo target(path);
    const QString folder = target.absolutePath();
    xls::reportfile::removeStaleTemporaries(folder, target.fileName());
    auto file = std::make_unique<xls::reportfile::NewFile>(folder, target.fileName());
    if (file->fd < 0)
        throw Error((path + QStringLiteral(": cannot write in its folder %1: ").arg(folder) +
                     QString::fromLocal8Bit(std::strerror(file->error)))
                        .toStdString());
    return file;
}

// Opens a temporary file and takes its name away at once: whatever ends this process (kill -9
// included), nothing is left in the temporary folder.
static bool openUnnamed(QTemporaryFile& file) {
    if (!file.open())
        return false;
    (void)::unlink(QFile::encodeName(file.fileName()).constData());
    file.setAutoRemove(false);
    return true;
}

struct ReportWriter::Impl {
    QString path;
    QString permissionsTemplate; // a new report gets no permission bits this file lacks
    const Package& blank;
    QString stylesPart;
    // Cell formats added: the base format and the number format id.
    std::vector<std::pair<int, int>> newXfs;
    QHash<QString, int> formatIds; // code -> id, added ones
    QHash<quint64, int> derived;
    int nextFormatId = 164;
    // Shared strings.
    QHash<QByteArray, int> sstIndex; // by UTF-8 text: half the memory of UTF-16 keys
    QTemporaryFile sstFile;          // the shared strings part as it grows, off the memory
    QByteArray sstXml;               // what is not yet in sstFile
    qint64 sstBytes = 0;
    qint64 sstRefs = 0;
    xls::detail::StringTableBudget budget = xls::detail::stringTableBudget();
    // Sheets.
    struct Out {
        QString name;
        int source = 0;
        bool withParts = false;
        bool ownRels = false; // its relationships were given (setSheetParts) and are stored already
        qint64 offset = 0;    // its XML in sheetsFile
        qint64 length = 0;
    };
    // Every sheet's XML one after the other in one temporary file: a report of thousands of sheets
    // keeps one file open, not one per sheet.
    QTemporaryFile sheetsFile;
    qint64 sheetsSize = 0;
    std::vector<Out> sheets;
    QSet<QString> lowerNames;
    bool inSheet = false;
    QByteArray buf;
    int row = -1;
    int column = -1;
    bool rowOpen = false;
    std::vector<xls::MergedRange> merged;
    std::vector<int> breaks;
    std::vector<DefinedName> names;
    // The sheet's <dimension>: a placeholder written with the head, filled in when the sheet ends
    // (readers in a hurry take the used range from it).
    qint64 dimensionAt = -1;
    int minRow = -1, maxRow = -1, minCol = -1, maxCol = -1;
    static constexpr int DimensionLength = 40;
    QHash<QString, QByteArray> replacements;
    // Parts of the report's own, one after the other in a temporary file.
    struct Added {
        QString name;
        qint64 offset = 0;
        qint64 length = 0;
    };
    QTemporaryFile partsFile;
    std::vector<Added> added;
    QSet<QString> addedNames;
    QSet<QString> dropped;
    QHash<QString, int> nameCounters; // the last number tried per name
    QByteArray addedTypes;            // their content type overrides
    bool partOpen = false;
    QByteArray partBuf;
    qint64 partsSize = 0;
    std::optional<SheetParts> sheetParts;

    Impl(const QString& p, const Package& b) : path(p), blank(b) {}

    bool nameTaken(const QString& name) const {
        if (addedNames.contains(name) || name.startsWith(QLatin1String("xl/worksheets/lwsheet")) ||
            name == QLatin1String("xl/lwsharedStrings.xml") || name == QLatin1String("[Content_Types].xml"))
            return true;
        return blank.parts.count(name) > 0 && !dropped.contains(name);
    }

    void flushPart(bool force = false) {
        if (!force && partBuf.size() < (1 << 20))
            return;
        if (!partsFile.isOpen() && !openUnnamed(partsFile))
            throw Error(QStringLiteral("no temporary file for the report's parts: %1").arg(partsFile.errorString()).toStdString());
        if (partsFile.write(partBuf) != partBuf.size())
            throw Error(QStringLiteral("%1: the temporary file of its parts cannot be written (%2)")
                            .arg(path, partsFile.errorString())
                            .toStdString());
        partsSize += partBuf.size();
        partBuf.clear();
    }

    void beginPart(const QString& name, const QString& contentType) {
        if (partOpen)
            throw Error("a part begun before the last one ended");
        flushPart(true);
        addedNames.insert(name);
        added.push_back({name, partsSize, 0});
        if (!contentType.isEmpty())
            addedTypes += "<Override PartName=\"/" + escapeXml(name) + "\" ContentType=\"" + escapeXml(contentType) + "\"/>";
        partOpen = true;
    }

    void endPart() {
        if (!partOpen)
            throw Error("a part ended that was not begun");
        flushPart(true);
        added.back().length = partsSize - added.back().offset;
        partOpen = false;
    }

    void flush(bool force = false) {
        if (!force && buf.size() < (1 << 20))
            return;
        if (sheetsFile.write(buf) != buf.size())
            throw Error(QStringLiteral("%1: the temporary file for a sheet cannot be written (%2)")
                            .arg(path, sheetsFile.errorString())
                            .toStdString());
        sheetsSize += buf.size();
        buf.clear();
    }

    void closeRow() {
        if (rowOpen)
            buf += "</row>";
        rowOpen = false;
        flush();
    }

    void openRow(int r, const xls::RowFormat* f) {
        if (!inSheet)
            throw Error("a row written outside a sheet");
        if (r < 0 || r >= maxRows)
            throw Error(QStringLiteral("row %1 is past the sheet's last row").arg(r + 1).toStdString());
        if (r < row || (r == row && rowOpen && f))
            throw Error(QStringLiteral("row %1 written after row %2").arg(r + 1).arg(row + 1).toStdString());
        closeRow();
        buf += "<row r=\"" + QByteArray::number(r + 1) + '"';
        if (f) {
            if (f->xf)
                buf += " s=\"" + QByteArray::number(*f->xf) + "\" customFormat=\"1\"";
            if (f->customHeight || f->height != 255)
                buf += " ht=\"" + number(f->height / 20.0) + '"' + (f->customHeight ? " customHeight=\"1\"" : "");
            if (f->hidden)
                buf += " hidden=\"1\"";
        }
        buf += '>';
        row = r;
        column = -1;
        rowOpen = true;
    }

    void cellStart(int r, int c, int style, const char* type) {
        if (!rowOpen || r != row)
            openRow(r, nullptr);
        if (c <= column || c >= maxColumns)
            throw Error(QStringLiteral("cell %1 written out of order").arg(cellName(r, c)).toStdString());
        column = c;
        minRow = minRow < 0 ? r : std::min(minRow, r);
        maxRow = std::max(maxRow, r);
        minCol = minCol < 0 ? c : std::min(minCol, c);
        maxCol = std::max(maxCol, c);
        // A format the styles part does not hold would make the file unreadable: the default then.
        if (style >= blank.cellXfCount + int(newXfs.size()))
            style = 0;
        buf += "<c r=\"" + cellName(r, c).toLatin1() + '"';
        if (style > 0)
            buf += " s=\"" + QByteArray::number(style) + '"';
        if (type)
            buf += QByteArray(" t=\"") + type + '"';
        buf += '>';
    }

    static QByteArray textElement(const QString& text) {
        const bool keep = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
        return (keep ? QByteArray("<t xml:space=\"preserve\">") : QByteArray("<t>")) + escapeXml(text) + "</t>";
    }

    // The shared string's index, or -1 when the table is full (the text goes inline).
    int shared(const QString& text) {
        ++sstRefs;
        const QByteArray utf8 = text.toUtf8();
        if (const auto it = sstIndex.constFind(utf8); it != sstIndex.constEnd())
            return *it;
        const qint64 size = text.size() * 2;
        if (sstBytes + size > budget.bytes || quint32(sstIndex.size()) >= budget.count)
            return -1;
        const int index = int(sstIndex.size());
        sstIndex.insert(utf8, index);
        sstBytes += size;
        sstXml += "<si>" + textElement(text) + "</si>";
        if (sstXml.size() >= (1 << 20))
            flushStrings();
        return index;
    }

    void flushStrings() {
        if (!sstFile.isOpen()) {
            if (!openUnnamed(sstFile))
                throw Error(QStringLiteral("no temporary file for the shared strings: %1").arg(sstFile.errorString()).toStdString());
            sstFile.write("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                          "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">");
        }
        if (sstFile.write(sstXml) != sstXml.size())
            throw Error(QStringLiteral("%1: the shared strings cannot be written (%2)").arg(path, sstFile.errorString()).toStdString());
        sstXml.clear();
    }
};

ReportWriter::ReportWriter(const QString& path, const Package& blank) : d(std::make_unique<Impl>(path, blank)) {
    for (const Relationship& r : blank.workbookRels)
        if (r.type.endsWith(QLatin1String("/styles")))
            d->stylesPart = resolveTarget(blank.workbookPart, r.target);
    for (const auto& [id, code] : blank.book.formatCodes)
        d->nextFormatId = std::max(d->nextFormatId, int(id) + 1);
}

ReportWriter::~ReportWriter() = default;

int ReportWriter::withNumberFormat(int style, const QString& code) {
    if (d->stylesPart.isEmpty() || d->blank.cellXfCount == 0)
        return style;
    int id = -1;
    for (const auto& [i, c] : d->blank.book.formatCodes)
        if (c == code)
            id = i;
    if (id < 0) {
        id = d->formatIds.value(code, -1);
        if (id < 0) {
            id = d->nextFormatId++;
            d->formatIds.insert(code, id);
        }
    }
    const quint64 key = (quint64(style) << 32) | quint64(id);
    if (const auto it = d->derived.constFind(key); it != d->derived.constEnd())
        return *it;
    const int index = d->blank.cellXfCount + int(d->newXfs.size());
    d->newXfs.emplace_back(std::clamp(style, 0, d->blank.cellXfCount - 1), id);
    d->derived.insert(key, index);
    return index;
}

void ReportWriter::beginSheet(const QString& name, int source, bool withParts) {
    if (d->inSheet)
        throw Error("a sheet begun before the last one ended");
    const QString problem = xls::sheetNameProblem(name);
    if (!problem.isEmpty())
        throw Error(problem.toStdString());
    if (d->lowerNames.contains(name.toLower()))
        throw Error(QStringLiteral("two sheets are named %1").arg(name).toStdString());
    if (source < 0 || std::size_t(source) >= d->blank.sheets.size())
        throw Error("a sheet made from no sheet of the blank");
    d->lowerNames.insert(name.toLower());
    Impl::Out out;
    out.name = name;
    out.source = source;
    out.withParts = withParts;
    if (!d->sheetsFile.isOpen() && !openUnnamed(d->sheetsFile))
        throw Error(QStringLiteral("no temporary file for a sheet: %1").arg(d->sheetsFile.errorString()).toStdString());
    out.offset = d->sheetsSize;
    d->sheets.push_back(std::move(out));
    d->inSheet = true;
    d->row = -1;
    d->column = -1;
    d->rowOpen = false;
    d->merged.clear();
    d->breaks.clear();
    d->sheetParts.reset();
    QByteArray head = d->blank.sheets[std::size_t(source)].head;
    qsizetype at = removeElement(head, "dimension"); // the rows are not the blank's
    if (at < 0)
        at = insertPoint(head, {"sheetViews", "sheetFormatPr", "cols"}, "</worksheet>");
    head.insert(at, QByteArray("<dimension ref=\"A1\"").leftJustified(Impl::DimensionLength - 2, ' ') + "/>");
    d->dimensionAt = at;
    d->minRow = d->maxRow = d->minCol = d->maxCol = -1;
    if (d->sheets.size() > 1)
        head.replace("tabSelected=\"1\"", "tabSelected=\"0\"");
    d->buf = head + "<sheetData>";
}

void ReportWriter::setRow(const xls::RowFormat& row) {
    d->openRow(row.row, &row);
}

void ReportWriter::writeBlank(int row, int column, int style) {
    d->cellStart(row, column, style, nullptr);
    d->buf += "</c>";
}

void ReportWriter::writeNumber(int row, int column, int style, double value) {
    if (!std::isfinite(value)) {
        d->cellStart(row, column, style, "e");
        d->buf += "<v>#NUM!</v></c>";
        return;
    }
    d->cellStart(row, column, style, nullptr);
    d->buf += "<v>" + number(value) + "</v></c>";
}

void ReportWriter::writeText(int row, int column, int style, const QString& text) {
    if (text.size() > xls::maxCellText)
        throw Error(QStringLiteral("the text of cell %1 is longer than 32,767 characters").arg(cellName(row, column)).toStdString());
    if (text.isEmpty()) {
        writeBlank(row, column, style);
        return;
    }
    const int index = d->shared(text);
    if (index >= 0) {
        d->cellStart(row, column, style, "s");
        d->buf += "<v>" + QByteArray::number(index) + "</v></c>";
    } else {
        d->cellStart(row, column, style, "inlineStr");
        d->buf += "<is>" + Impl::textElement(text) + "</is></c>";
    }
}

void ReportWriter::writeBoolean(int row, int column, int style, bool value) {
    d->cellStart(row, column, style, "b");
    d->buf += value ? "<v>1</v></c>" : "<v>0</v></c>";
}

namespace {

const char* errorText(double code) {
    switch (int(code)) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    default:
        return "#N/A";
    }
}

} // namespace

void ReportWriter::writeValue(int row, int column, int style, const xls::Value& value) {
    switch (value.type) {
    case xls::ValueType::Empty:
        writeBlank(row, column, style);
        return;
    case xls::ValueType::Number:
        writeNumber(row, column, style, value.number);
        return;
    case xls::ValueType::Text:
        writeText(row, column, style, value.text);
        return;
    case xls::ValueType::Boolean:
        writeBoolean(row, column, style, value.number != 0);
        return;
    case xls::ValueType::Error:
        d->cellStart(row, column, style, "e");
        d->buf += QByteArray("<v>") + errorText(value.number) + "</v></c>";
        return;
    }
}

void ReportWriter::writeFormula(int row, int column, int style, const QString& formula, const xls::Value& cached) {
    const char* type = cached.type == xls::ValueType::Text      ? "str"
                       : cached.type == xls::ValueType::Boolean ? "b"
                       : cached.type == xls::ValueType::Error   ? "e"
                                                                : nullptr;
    d->cellStart(row, column, style, type);
    d->buf += "<f>" + escapeXml(formula) + "</f>";
    switch (cached.type) {
    case xls::ValueType::Number:
        if (std::isfinite(cached.number))
            d->buf += "<v>" + number(cached.number) + "</v>";
        break;
    case xls::ValueType::Text:
        d->buf += "<v>" + escapeXml(cached.text) + "</v>";
        break;
    case xls::ValueType::Boolean:
        d->buf += cached.number != 0 ? "<v>1</v>" : "<v>0</v>";
        break;
    case xls::ValueType::Error:
        d->buf += QByteArray("<v>") + errorText(cached.number) + "</v>";
        break;
    case xls::ValueType::Empty:
        break;
    }
    d->buf += "</c>";
}

void ReportWriter::addMerged(const xls::MergedRange& range) {
    if (range.firstRow < 0 || range.lastRow >= maxRows || range.firstColumn < 0 || range.lastColumn >= maxColumns)
        throw Error("merged cells past the sheet's edge");
    d->merged.push_back(range);
}

void ReportWriter::addRowBreak(int row) {
    if (row > 0 && row < maxRows && d->breaks.size() < 1023)
        d->breaks.push_back(row);
}

void ReportWriter::endSheet(const QByteArray& blankTail) {
    if (!d->inSheet)
        throw Error("a sheet ended that was not begun");
    d->closeRow();
    d->buf += "</sheetData>";
    QByteArray tail = blankTail;
    Impl::Out& out = d->sheets.back();
    if (!out.withParts) {
        // A further copy of a sheet: its tables, hyperlinks and page setup go with it (tables as
        // copies of their own, see finish()); drawings and comments stay with the first, unless
        // copies of them were placed (setSheetParts).
        for (const char* e : {"drawing", "legacyDrawing", "legacyDrawingHF", "picture", "oleObjects", "controls"})
            removeElement(tail, e);
    }
    if (d->sheetParts) {
        // The elements that name the placed parts, in the order the sheet's schema wants them.
        const SheetParts& p = *d->sheetParts;
        removeElement(tail, "drawing");
        removeElement(tail, "legacyDrawing");
        removeElement(tail, "tableParts");
        const QByteArray r = QByteArray(" xmlns:r=\"") + RelNs + "\" r:id=\"";
        if (!p.drawing.isEmpty())
            tail.insert(insertPoint(tail, {"legacyDrawing", "legacyDrawingHF", "drawingHF", "picture", "oleObjects",
                                           "controls", "webPublishItems", "tableParts", "extLst"},
                                    "</worksheet>"),
                        "<drawing" + r + escapeXml(p.drawing) + "\"/>");
        if (!p.legacyDrawing.isEmpty())
            tail.insert(insertPoint(tail, {"legacyDrawingHF", "drawingHF", "picture", "oleObjects", "controls",
                                           "webPublishItems", "tableParts", "extLst"},
                                    "</worksheet>"),
                        "<legacyDrawing" + r + escapeXml(p.legacyDrawing) + "\"/>");
        if (!p.tables.isEmpty()) {
            QByteArray t = "<tableParts count=\"" + QByteArray::number(p.tables.size()) + "\">";
            for (const QString& id : p.tables)
                t += "<tablePart" + r + escapeXml(id) + "\"/>";
            t += "</tableParts>";
            tail.insert(insertPoint(tail, {"extLst"}, "</worksheet>"), t);
        }
        // Its relationships are stored now: nothing of them is kept until finish().
        if (!p.rels.empty()) {
            QByteArray x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
            for (const Relationship& rel : p.rels)
                x += "<Relationship Id=\"" + escapeXml(rel.id) + "\" Type=\"" + escapeXml(rel.type) + "\" Target=\"" +
                     escapeXml(rel.target) + '"' + (rel.external ? " TargetMode=\"External\"" : "") + "/>";
            x += "</Relationships>";
            d->beginPart(QStringLiteral("xl/worksheets/_rels/lwsheet%1.xml.rels").arg(d->sheets.size()), QString());
            d->partBuf += x;
            d->endPart();
        }
        out.ownRels = true;
        d->sheetParts.reset();
    }
    removeElement(tail, "mergeCells");
    removeElement(tail, "rowBreaks");
    if (!d->merged.empty()) {
        QByteArray m = "<mergeCells count=\"" + QByteArray::number(qsizetype(d->merged.size())) + "\">";
        for (const xls::MergedRange& r : d->merged)
            m += "<mergeCell ref=\"" + cellName(r.firstRow, r.firstColumn).toLatin1() + ':' +
                 cellName(r.lastRow, r.lastColumn).toLatin1() + "\"/>";
        m += "</mergeCells>";
        tail.insert(insertPoint(tail,
                                {"phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
                                 "pageMargins", "pageSetup", "headerFooter", "colBreaks", "customProperties",
                                 "cellWatches", "ignoredErrors", "smartTags", "drawing", "legacyDrawing",
                                 "legacyDrawingHF", "picture", "oleObjects", "controls", "webPublishItems",
                                 "tableParts", "extLst"},
                                "</worksheet>"),
                    m);
    }
    if (!d->breaks.empty()) {
        std::sort(d->breaks.begin(), d->breaks.end());
        d->breaks.erase(std::unique(d->breaks.begin(), d->breaks.end()), d->breaks.end());
        QByteArray b = "<rowBreaks count=\"" + QByteArray::number(qsizetype(d->breaks.size())) + "\" manualBreakCount=\"" +
                       QByteArray::number(qsizetype(d->breaks.size())) + "\">";
        for (int r : d->breaks)
            b += "<brk id=\"" + QByteArray::number(r) + "\" max=\"16383\" man=\"1\"/>";
        b += "</rowBreaks>";
        tail.insert(insertPoint(tail,
                                {"colBreaks", "customProperties", "cellWatches", "ignoredErrors", "smartTags",
                                 "drawing", "legacyDrawing", "legacyDrawingHF", "picture", "oleObjects", "controls",
                                 "webPublishItems", "tableParts", "extLst"},
                                "</worksheet>"),
                    b);
    }
    d->buf += tail;
    d->flush(true);
    d->sheets.back().length = d->sheetsSize - d->sheets.back().offset;
    if (d->maxRow >= 0) {
        QFile& f = d->sheetsFile;
        const QByteArray ref = cellName(d->minRow, d->minCol).toLatin1() + ':' + cellName(d->maxRow, d->maxCol).toLatin1();
        const QByteArray dimension = QByteArray("<dimension ref=\"" + ref + '"').leftJustified(Impl::DimensionLength - 2, ' ') + "/>";
        const qint64 end = f.pos();
        if (!f.seek(d->sheets.back().offset + d->dimensionAt) || f.write(dimension) != dimension.size() || !f.seek(end))
            throw Error("a sheet's temporary file cannot be written");
    }
    if (!d->sheetsFile.flush())
        throw Error("a sheet's temporary file cannot be written");
    d->inSheet = false;
}

void ReportWriter::setDefinedNames(const std::vector<DefinedName>& names) {
    d->names = names;
}

void ReportWriter::replacePart(const QString& name, const QByteArray& data) {
    d->replacements.insert(name, data);
}

QString ReportWriter::beginPart(const QString& wanted, const QString& contentType) {
    QString name = wanted;
    if (d->nameTaken(name)) {
        // "xl/charts/chart1.xml" -> "xl/charts/chart1_2.xml", "_3", ...
        const qsizetype slash = wanted.lastIndexOf(u'/');
        qsizetype dot = wanted.lastIndexOf(u'.');
        if (dot <= slash)
            dot = wanted.size();
        const QString stem = wanted.left(dot), ext = wanted.mid(dot);
        int& n = d->nameCounters[wanted];
        do
            name = stem + u'_' + QString::number(++n + 1) + ext;
        while (d->nameTaken(name));
    }
    d->beginPart(name, contentType);
    return name;
}

void ReportWriter::writePart(const QByteArray& data) {
    if (!d->partOpen)
        throw Error("a part written that was not begun");
    d->partBuf += data;
    d->flushPart();
}

void ReportWriter::endPart() {
    d->endPart();
}

void ReportWriter::dropPart(const QString& name) {
    d->dropped.insert(name);
}

void ReportWriter::setSheetParts(SheetParts parts) {
    if (!d->inSheet)
        throw Error("parts given outside a sheet");
    d->sheetParts = std::move(parts);
}

int ReportWriter::sheetCount() const {
    return int(d->sheets.size());
}

QString ReportWriter::sheetName(int index) const {
    return index >= 0 && std::size_t(index) < d->sheets.size() ? d->sheets[std::size_t(index)].name : QString();
}

void ReportWriter::finish() {
    if (d->inSheet)
        throw Error("the last sheet was not ended");
    if (d->sheets.empty())
        throw Error("a workbook needs a sheet");
    const Package& b = d->blank;
    // Parts that the report writes anew or leaves out.
    QSet<QString> replaced{QStringLiteral("[Content_Types].xml"), b.workbookPart};
    const QString wbFolder = b.workbookPart.left(b.workbookPart.lastIndexOf(u'/') + 1);
    const QString wbRels = wbFolder + QStringLiteral("_rels/") + b.workbookPart.mid(wbFolder.size()) + QStringLiteral(".rels");
    replaced << wbRels;
    for (const SheetExtra& s : b.sheets) {
        replaced << s.part;
        const qsizetype slash = s.part.lastIndexOf(u'/');
        replaced << s.part.left(slash + 1) + QStringLiteral("_rels/") + s.part.mid(slash + 1) + QStringLiteral(".rels");
    }
    for (const QString& name : d->dropped)
        replaced << name;
    if (d->partOpen)
        throw Error("the last part was not ended");
    std::vector<Relationship> keptRels;
    for (const Relationship& r : b.workbookRels) {
        const bool drop = r.type.endsWith(QLatin1String("/worksheet")) || r.type.endsWith(QLatin1String("/calcChain")) ||
                          r.type.endsWith(QLatin1String("/sharedStrings"));
        if (drop && !r.external)
            replaced << resolveTarget(b.workbookPart, r.target);
        else
            keptRels.push_back(r);
    }

    // Relationships of each written sheet. A further copy of a sheet shares its printer settings and
    // hyperlinks, gets tables of its own (new parts, ids and names unique in the workbook) and
    // none of the drawings and comments, whose elements endSheet removed.
    const auto relXml = [](const QString& id, const QString& type, const QString& target, bool external) {
        return "<Relationship Id=\"" + escapeXml(id) + "\" Type=\"" + escapeXml(type) + "\" Target=\"" +
               escapeXml(target) + '"' + (external ? " TargetMode=\"External\"" : "") + "/>";
    };
    static const QRegularExpression tableId(QStringLiteral("(<table\\b[^>]*?\\sid=\")(\\d+)(\")"));
    static const QRegularExpression tableName(QStringLiteral("(\\s(?:name|displayName)=\")([^\"]*)(\")"));
    int nextTableId = 0;
    for (const auto& [name, data] : b.parts)
        if (name.startsWith(QLatin1String("xl/tables/")))
            if (const auto m = tableId.match(QString::fromUtf8(data)); m.hasMatch())
                nextTableId = std::max(nextTableId, m.captured(2).toInt());
    std::vector<QByteArray> sheetRels(d->sheets.size());
    std::vector<std::pair<QString, QByteArray>> extraParts;
    QByteArray extraTypes;
    for (std::size_t i = 0; i < d->sheets.size(); ++i) {
        const Impl::Out& s = d->sheets[i];
        const SheetExtra& source = b.sheets[std::size_t(s.source)];
        if (source.rels.empty() || s.ownRels)
            continue;
        QByteArray sr;
        for (const Relationship& r : source.rels) {
            const QString target = r.external ? r.target : u'/' + resolveTarget(source.part, r.target);
            if (s.withParts) {
                sr += relXml(r.id, r.type, target, r.external);
            } else if (r.type.endsWith(QLatin1String("/table")) && b.parts.count(target.mid(1))) {
                const QString copy = QStringLiteral("xl/tables/lwtable%1.xml").arg(++nextTableId);
                QString xml = QString::fromUtf8(b.parts.at(target.mid(1)));
                // The table element's own id and names only (its columns keep theirs).
                static const QRegularExpression tableStart(QStringLiteral("<(?:\\w+:)?table\\b[^>]*>"));
                static const QRegularExpression idAttr(QStringLiteral("(\\sid=\")(\\d+)(\")"));
                const QRegularExpressionMatch m = tableStart.match(xml);
                if (m.hasMatch()) {
                    QString tag = m.captured(0);
                    tag.replace(idAttr, QStringLiteral("\\1%1\\3").arg(nextTableId));
                    tag.replace(tableName, QStringLiteral("\\1\\2_%1\\3").arg(nextTableId));
                    xml.replace(m.capturedStart(), m.capturedLength(), tag);
                }
                extraParts.emplace_back(copy, xml.toUtf8());
                extraTypes += "<Override PartName=\"/" + copy.toUtf8() +
                              "\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
                sr += relXml(r.id, r.type, u'/' + copy, false);
            } else if (r.external || r.type.endsWith(QLatin1String("/printerSettings"))) {
                sr += relXml(r.id, r.type, target, r.external);
            }
        }
        if (!sr.isEmpty())
            sheetRels[i] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
                           sr + "</Relationships>";
    }

    // The package is written into a file without a name, linked in place only when complete: a
    // kill leaves the old report whole and nothing else behind (see reportfile.h).
    const auto file = zipio::newPackageFile(d->path);
    zipio::ZipOut zip(d->path, file->fd);

    // Content types.
    ContentTypes types;
    if (const auto it = b.parts.find(QStringLiteral("[Content_Types].xml")); it != b.parts.end())
        xml::parse(it->second, types, it->first);
    QByteArray ct = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    bool hasRels = false, hasXml = false;
    for (const auto& [ext, type] : types.defaults) {
        hasRels = hasRels || ext.compare(QStringLiteral("rels"), Qt::CaseInsensitive) == 0;
        hasXml = hasXml || ext.compare(QStringLiteral("xml"), Qt::CaseInsensitive) == 0;
        ct += "<Default Extension=\"" + escapeXml(ext) + "\" ContentType=\"" + escapeXml(type) + "\"/>";
    }
    if (!hasRels)
        ct += "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>";
    if (!hasXml)
        ct += "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    // The parts written anew under their own names keep their types (the workbook's relationships
    // too: readers such as xlsx2csv look for them among the overrides when the blank listed them).
    for (const auto& [part, type] : types.overrides)
        if (!replaced.contains(part.mid(1)) || part.mid(1) == b.workbookPart || part.mid(1) == wbRels)
            ct += "<Override PartName=\"" + escapeXml(part) + "\" ContentType=\"" + escapeXml(type) + "\"/>";
    for (std::size_t i = 0; i < d->sheets.size(); ++i)
        ct += "<Override PartName=\"/xl/worksheets/lwsheet" + QByteArray::number(qsizetype(i + 1)) +
              ".xml\" ContentType=\"" + WorksheetContent + "\"/>";
    ct += "<Override PartName=\"/xl/lwsharedStrings.xml\" ContentType=\"" + QByteArray(StringsContent) + "\"/>";
    ct += extraTypes;
    ct += d->addedTypes;
    ct += "</Types>";
    zip.addData(QStringLiteral("[Content_Types].xml"), ct);

    // The workbook part: its sheets, defined names, and a recalculation when opened.
    QByteArray wb = b.parts.at(b.workbookPart);
    QByteArray sheetsXml = "<sheets>";
    for (std::size_t i = 0; i < d->sheets.size(); ++i) {
        const Impl::Out& s = d->sheets[i];
        sheetsXml += "<sheet xmlns:r=\"" + QByteArray(RelNs) + "\" name=\"" + escapeXml(s.name) + "\" sheetId=\"" +
                     QByteArray::number(qsizetype(i + 1)) + '"' +
                     (b.sheets[std::size_t(s.source)].hidden ? " state=\"hidden\"" : "") + " r:id=\"rIdLw" +
                     QByteArray::number(qsizetype(i + 1)) + "\"/>";
    }
    sheetsXml += "</sheets>";
    const qsizetype sheetsAt = findElement(wb, "sheets");
    if (sheetsAt < 0)
        throw Error("the blank's workbook part has no sheets");
    wb.replace(sheetsAt, elementEnd(wb, sheetsAt, "sheets") - sheetsAt, sheetsXml);
    removeElement(wb, "definedNames");
    if (!d->names.empty()) {
        QByteArray n = "<definedNames>";
        for (const DefinedName& name : d->names) {
            n += "<definedName name=\"" + escapeXml(name.name) + '"';
            if (name.localSheet >= 0)
                n += " localSheetId=\"" + QByteArray::number(name.localSheet) + '"';
            n += name.attributes.toUtf8() + '>' + escapeXml(name.text) + "</definedName>";
        }
        n += "</definedNames>";
        wb.insert(insertPoint(wb, {"calcPr", "oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr",
                                   "smartTagTypes", "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"},
                              "</workbook>"),
                  n);
    }
    static const QRegularExpression tabs(QStringLiteral("(activeTab|firstSheet)=\"\\d+\""));
    wb = QString::fromUtf8(wb).replace(tabs, QStringLiteral("\\1=\"0\"")).toUtf8();
    if (const qsizetype calc = findElement(wb, "calcPr"); calc >= 0) {
        const qsizetype end = wb.indexOf('>', calc);
        if (wb.mid(calc, end - calc).contains("fullCalcOnLoad"))
            wb = QString::fromUtf8(wb).replace(QRegularExpression(QStringLiteral("fullCalcOnLoad=\"[^\"]*\"")),
                                               QStringLiteral("fullCalcOnLoad=\"1\"")).toUtf8();
        else
            wb.insert(calc + 7, " fullCalcOnLoad=\"1\"");
    } else {
        wb.insert(insertPoint(wb, {"oleSize", "customWorkbookViews", "pivotCaches", "smartTagPr", "smartTagTypes",
                                   "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"},
                              "</workbook>"),
                  "<calcPr fullCalcOnLoad=\"1\"/>");
    }
    zip.addData(b.workbookPart, wb);

    // The workbook's relationships.
    QByteArray rels = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const Relationship& r : keptRels)
        rels += relXml(r.id, r.type, r.external ? r.target : u'/' + resolveTarget(b.workbookPart, r.target), r.external);
    for (std::size_t i = 0; i < d->sheets.size(); ++i)
        rels += relXml(QStringLiteral("rIdLw%1").arg(i + 1), QString::fromLatin1(WorksheetType),
                       QStringLiteral("/xl/worksheets/lwsheet%1.xml").arg(i + 1), false);
    rels += relXml(QStringLiteral("rIdLwStrings"), QString::fromLatin1(StringsType),
                   QStringLiteral("/xl/lwsharedStrings.xml"), false);
    rels += "</Relationships>";
    zip.addData(wbRels, rels);

    // Sheets and their relationships.
    for (std::size_t i = 0; i < d->sheets.size(); ++i) {
        const Impl::Out& s = d->sheets[i];
        const QString part = QStringLiteral("xl/worksheets/lwsheet%1.xml").arg(i + 1);
        zip.addFile(part, int(d->sheetsFile.handle()), s.offset, s.length);
        if (!sheetRels[i].isEmpty())
            zip.addData(QStringLiteral("xl/worksheets/_rels/lwsheet%1.xml.rels").arg(i + 1), sheetRels[i]);
    }
    for (auto& [name, data] : extraParts)
        zip.addData(name, std::move(data));
    if (!d->added.empty()) {
        if (!d->partsFile.flush())
            throw Error("the temporary file of the report's parts cannot be written");
        for (const Impl::Added& a : d->added)
            zip.addFile(a.name, int(d->partsFile.handle()), a.offset, a.length);
    }
    d->flushStrings();
    d->sstXml = "</sst>";
    d->flushStrings();
    if (!d->sstFile.flush())
        throw Error("the shared strings' temporary file cannot be written");
    d->sstIndex.clear(); // no longer needed while the package is deflated
    zip.addFile(QStringLiteral("xl/lwsharedStrings.xml"), int(d->sstFile.handle()));

    // Styles: the blank's, with the date formats asked for.
    if (!d->newXfs.empty() && b.parts.count(d->stylesPart)) {
        QByteArray st = b.parts.at(d->stylesPart);
        const qsizetype xfsAt = findElement(st, "cellXfs");
        if (xfsAt >= 0) {
            // The blank's cell formats, to copy from.
            std::vector<QByteArray> xfs;
            const qsizetype xfsEnd = elementEnd(st, xfsAt, "cellXfs");
            for (qsizetype at = findElement(st, "xf", xfsAt); at >= 0 && at < xfsEnd; at = findElement(st, "xf", at + 1)) {
                const qsizetype e = elementEnd(st, at, "xf");
                xfs.push_back(st.mid(at, e - at));
                at = e - 1;
            }
            QByteArray added;
            static const QRegularExpression fmtAttr(QStringLiteral(" numFmtId=\"[^\"]*\"| applyNumberFormat=\"[^\"]*\""));
            for (const auto& [base, id] : d->newXfs) {
                QString xf = QString::fromUtf8(std::size_t(base) < xfs.size() ? xfs[std::size_t(base)] : QByteArray("<xf/>"));
                xf.remove(fmtAttr);
                xf.insert(3, QStringLiteral(" numFmtId=\"%1\" applyNumberFormat=\"1\"").arg(id));
                added += xf.toUtf8();
            }
            const qsizetype close = st.lastIndexOf("</cellXfs>", xfsEnd);
            if (close > xfsAt) {
                st.insert(close, added);
                const qsizetype tagEnd = st.indexOf('>', xfsAt);
                QByteArray tag = st.mid(xfsAt, tagEnd - xfsAt);
                tag = QString::fromUtf8(tag).remove(QRegularExpression(QStringLiteral(" count=\"[^\"]*\""))).toUtf8();
                tag += " count=\"" + QByteArray::number(qsizetype(xfs.size() + d->newXfs.size())) + '"';
                st.replace(xfsAt, tagEnd - xfsAt, tag);
            }
            if (!d->formatIds.isEmpty()) {
                QByteArray fmts;
                for (auto it = d->formatIds.constBegin(); it != d->formatIds.constEnd(); ++it)
                    fmts += "<numFmt numFmtId=\"" + QByteArray::number(*it) + "\" formatCode=\"" + escapeXml(it.key()) + "\"/>";
                const qsizetype numAt = findElement(st, "numFmts");
                if (numAt >= 0 && st.indexOf("</numFmts>", numAt) > 0) {
                    st.insert(st.indexOf("</numFmts>", numAt), fmts);
                } else {
                    if (numAt >= 0)
                        removeElement(st, "numFmts");
                    const qsizetype root = findElement(st, "styleSheet");
                    const qsizetype after = st.indexOf('>', root) + 1;
                    st.insert(after, "<numFmts>" + fmts + "</numFmts>");
                }
                // numFmts' count is optional: drop it rather than keep a wrong one.
                const qsizetype n2 = findElement(st, "numFmts");
                const qsizetype e2 = st.indexOf('>', n2);
                QByteArray tag = st.mid(n2, e2 - n2);
                tag = QString::fromUtf8(tag).remove(QRegularExpression(QStringLiteral(" count=\"[^\"]*\""))).toUtf8();
                st.replace(n2, e2 - n2, tag);
            }
        }
        zip.addData(d->stylesPart, st);
        replaced << d->stylesPart;
    }

    // Everything else, unchanged.
    for (const auto& [name, data] : b.parts)
        if (!replaced.contains(name))
            zip.addData(name, d->replacements.value(name, data));
    zip.close(); // flushed to disk as well
    ::fchmod(file->fd, xls::reportfile::modeFor(d->path, d->permissionsTemplate));
    file->putInPlace(QFile::encodeName(d->path));
}

void ReportWriter::limitPermissionsTo(const QString& blankPath) {
    d->permissionsTemplate = blankPath;
}

QByteArray relocateSheetTail(const QByteArray& tail, const RangeCopies& ranges, const Relocation& formulas) {
    QString out = QString::fromUtf8(tail);
    // Range lists and single ranges.
    static const QRegularExpression attr(QStringLiteral("(\\s)(sqref|ref)=\"([^\"]*)\""));
    QString result;
    qsizetype last = 0;
    for (auto it = attr.globalMatch(out); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        result += out.mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const bool list = m.captured(2) == QLatin1String("sqref");
        QStringList pieces;
        for (const QString& item : m.captured(3).split(u' ', Qt::SkipEmptyParts)) {
            const std::vector<FormulaToken> tokens = tokenizeFormula(item);
            if (tokens.size() != 1 || tokens[0].kind != FormulaToken::Kind::Reference || !tokens[0].ref.hasRows()) {
                pieces << item;
                continue;
            }
            Reference r = tokens[0].ref;
            for (const RowSpan& s : ranges(RowSpan{r.sheet, r.row1, r.row2})) {
                if (s.first < 0 || s.last >= maxRows || s.first > s.last)
                    continue;
                Reference moved = r;
                moved.row1 = s.first;
                moved.row2 = s.last;
                if (moved.kind == Reference::Kind::Cell && s.last != s.first)
                    moved.kind = Reference::Kind::Area;
                pieces << referenceText(moved);
                if (!list)
                    break;
            }
        }
        if (pieces.isEmpty())
            pieces << m.captured(3); // nothing left: kept as it was rather than an empty list
        result += m.captured(1) + m.captured(2) + QStringLiteral("=\"") + pieces.join(u' ') + u'"';
    }
    result += out.mid(last);
    // Formulas of conditional formats and data validation.
    static const QRegularExpression formula(QStringLiteral("<(formula|formula1|formula2)>([^<]*)</\\1>"));
    QString done;
    last = 0;
    for (auto it = formula.globalMatch(result); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        done += result.mid(last, m.capturedStart() - last);
        last = m.capturedEnd();
        const QString moved = relocateFormula(xml::unescapeEntities(m.captured(2)), formulas);
        done += u'<' + m.captured(1) + u'>' + QString::fromUtf8(escapeXml(moved)) + QStringLiteral("</") + m.captured(1) + u'>';
    }
    done += result.mid(last);
    return done.toUtf8();
}

} // namespace lw::xlsx
