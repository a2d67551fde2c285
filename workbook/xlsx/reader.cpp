// Reading an .xlsx package into the workbook model: the relationships, the workbook part (sheets,
// date system, defined names), styles (number formats of the cell formats), shared strings and
// each sheet (cells, rows, columns, merged cells, formulas as text with shared ones expanded).
#include "workbook/xlsx/xlsx.h"

#include "workbook/xlsx/package.h"
#include "workbook/xlsx/xml.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <charconv>
#include <new>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

namespace lw::xlsx {

namespace {

bool is(const char* a, const char* b) {
    return std::strcmp(a, b) == 0;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A number's text without the blanks around it and a leading "+" (which from_chars refuses).
std::string_view numberText(std::string_view v) {
    while (!v.empty() && isBlank(v.front()))
        v.remove_prefix(1);
    while (!v.empty() && isBlank(v.back()))
        v.remove_suffix(1);
    if (v.size() > 1 && v.front() == '+' && v[1] != '-')
        v.remove_prefix(1);
    return v;
}

// Attribute values and cell texts are read without a copy: these run for every cell of a sheet.
template <class T>
bool parseNumber(std::string_view text, T& out) {
    const std::string_view v = numberText(text);
    if (v.empty())
        return false;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    return ec == std::errc() && end == v.data() + v.size();
}

int toInt(const char* v, int fallback = 0) {
    int n = 0;
    return v && parseNumber(std::string_view(v), n) ? n : fallback;
}

double toDouble(const char* v, double fallback) {
    double d = 0;
    return v && parseNumber(std::string_view(v), d) && std::isfinite(d) ? d : fallback;
}

// A cell's position as a cell's "r" holds it ("B12"); false when it is something else.
bool parseCellRef(const char* ref, int& row, int& column) {
    int c = 0, i = 0;
    for (; i < 3 && ref[i] >= 'A' && ref[i] <= 'Z'; ++i)
        c = c * 26 + (ref[i] - 'A' + 1);
    int r = 0, j = i;
    for (; j - i < 7 && ref[j] >= '0' && ref[j] <= '9'; ++j)
        r = r * 10 + (ref[j] - '0');
    if (i > 0 && j > i && ref[j] == 0 && ref[i] != '0') {
        row = r - 1;
        column = c - 1;
        return true;
    }
    return parseCellName(QString::fromUtf8(ref), row, column); // the unusual spellings
}

bool toBool(const char* v) {
    return v && (is(v, "1") || is(v, "true"));
}

QString folderOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(u'/');
    return slash < 0 ? QString() : part.left(slash + 1);
}

// A relationship's target as a part name ("xl/worksheets/sheet1.xml"), from the folder of its source.
QString resolve(const QString& sourcePart, const QString& target) {
    QString path = target.startsWith(u'/') ? target.mid(1) : folderOf(sourcePart) + target;
    QStringList out;
    for (const QString& piece : path.split(u'/')) {
        if (piece == QStringLiteral("..")) {
            if (!out.isEmpty())
                out.removeLast();
        } else if (!piece.isEmpty() && piece != QStringLiteral(".")) {
            out << piece;
        }
    }
    return out.join(u'/');
}

QString relsPartOf(const QString& part) {
    return folderOf(part) + QStringLiteral("_rels/") + part.mid(folderOf(part).size()) + QStringLiteral(".rels");
}

struct RelsHandler : xml::Handler {
    std::vector<Relationship> rels;
    void start(const char* name, const char** atts) override {
        if (ns() != xml::Ns::Package || !is(name, "Relationship"))
            return;
        Relationship r;
        r.id = xml::attributeText(atts, "Id");
        r.type = xml::attributeText(atts, "Type");
        r.target = xml::attributeText(atts, "Target");
        const char* mode = xml::attribute(atts, "TargetMode");
        r.external = mode && is(mode, "External");
        rels.push_back(r);
    }
    void end(const char*) override {}
};

std::vector<Relationship> readRels(const Package& p, const QString& part) {
    const auto it = p.parts.find(relsPartOf(part));
    if (it == p.parts.end())
        return {};
    RelsHandler h;
    xml::parse(it->second, h, it->first);
    return h.rels;
}

struct WorkbookHandler : xml::Handler {
    struct SheetRef {
        QString name, rid;
        bool hidden = false;
    };
    std::vector<SheetRef> sheets;
    std::vector<DefinedName> names;
    bool date1904 = false;
    bool inName = false;
    void start(const char* name, const char** atts) override {
        if (ns() == xml::Ns::StrictMain)
            throw Error("the workbook is saved as Strict Open XML, which is not read: save it as an Excel "
                        "Workbook (.xlsx) without the Strict option");
        if (isMain(name, "sheet")) {
            const char* state = xml::attribute(atts, "state");
            sheets.push_back({xml::attributeText(atts, "name"), xml::attributeText(atts, "id"),
                              state && !is(state, "visible")});
        } else if (isMain(name, "workbookPr")) {
            date1904 = toBool(xml::attribute(atts, "date1904"));
        } else if (isMain(name, "definedName")) {
            DefinedName d;
            for (int i = 0; atts[i]; i += 2) {
                if (is(atts[i], "name"))
                    d.name = QString::fromUtf8(atts[i + 1]);
                else if (is(atts[i], "localSheetId"))
                    d.localSheet = toInt(atts[i + 1], -1);
                else
                    d.attributes += QStringLiteral(" %1=\"%2\"")
                                        .arg(QString::fromUtf8(atts[i]),
                                             QString::fromUtf8(escapeXml(QString::fromUtf8(atts[i + 1]))));
            }
            names.push_back(d);
            inName = true;
        }
    }
    void end(const char* name) override {
        if (isMain(name, "definedName"))
            inName = false;
    }
    void text(const char* data, int length) override {
        if (inName)
            names.back().text += QString::fromUtf8(data, length);
    }
};

struct StylesHandler : xml::Handler {
    std::vector<std::pair<quint16, QString>> codes;
    std::vector<quint16> xfFormats;
    bool inCellXfs = false;
    void start(const char* name, const char** atts) override {
        if (isMain(name, "numFmt")) {
            codes.emplace_back(quint16(toInt(xml::attribute(atts, "numFmtId"))), xml::attributeText(atts, "formatCode"));
        } else if (isMain(name, "cellXfs")) {
            inCellXfs = true;
        } else if (inCellXfs && isMain(name, "xf")) {
            xfFormats.push_back(quint16(toInt(xml::attribute(atts, "numFmtId"))));
        }
    }
    void end(const char* name) override {
        if (isMain(name, "cellXfs"))
            inCellXfs = false;
    }
};

// "_x000D_" in a text stands for the character it codes (OOXML's escape of characters XML cannot hold).
QString unescapeX(const QString& text) {
    if (!text.contains(QStringLiteral("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'_' && i + 6 < text.size() && text[i + 1] == u'x' && text[i + 6] == u'_') {
            bool ok = false;
            const uint code = text.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(char16_t(code));
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The shared strings, each as its text: rich text runs joined, phonetic runs (rPh) left out.
struct StringsHandler : xml::Handler {
    std::vector<QString> strings;
    std::string current;
    int depthPhonetic = 0;
    bool inText = false;
    void start(const char* name, const char**) override {
        if (isMain(name, "si"))
            current.clear();
        else if (isMain(name, "rPh"))
            ++depthPhonetic;
        else if (isMain(name, "t") && depthPhonetic == 0)
            inText = true;
    }
    void end(const char* name) override {
        if (isMain(name, "si"))
            strings.push_back(unescapeX(QString::fromUtf8(current.data(), qsizetype(current.size()))));
        else if (isMain(name, "rPh"))
            --depthPhonetic;
        else if (isMain(name, "t"))
            inText = false;
    }
    void text(const char* data, int length) override {
        if (inText)
            current.append(data, std::size_t(length));
    }
};

quint8 errorCode(std::string_view text) {
    static const std::pair<std::string_view, quint8> codes[] = {
        {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
        {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A}};
    for (const auto& [t, c] : codes)
        if (numberText(text) == t)
            return c;
    return 0x2A;
}

// An ISO 8601 date and time (a cell of type "d": "2024-03-01", "2024-03-01T12:30:00.5Z", "12:30")
// as the date serial the workbook's date system gives it; nothing when it is none.
std::optional<double> isoDateSerial(std::string_view text, bool date1904) {
    QString s = QString::fromLatin1(text.data(), qsizetype(text.size())).trimmed();
    if (s.endsWith(u'Z'))
        s.chop(1);
    const qsizetype t = s.indexOf(u'T');
    QString datePart = t < 0 ? s : s.left(t), timePart = t < 0 ? QString() : s.mid(t + 1);
    if (t < 0 && datePart.contains(u':'))
        std::swap(datePart, timePart);
    static const QRegularExpression zoneOffset(QStringLiteral("[+-]\\d\\d:?\\d\\d$"));
    if (const qsizetype zone = timePart.lastIndexOf(zoneOffset); zone > 0)
        timePart.truncate(zone);
    double serial = 0;
    if (!datePart.isEmpty()) {
        const QDate d = QDate::fromString(datePart, Qt::ISODate);
        if (!d.isValid())
            return std::nullopt;
        if (date1904)
            serial = double(QDate(1904, 1, 1).daysTo(d));
        else // the 1900 system counts a 29 February 1900 that never was
            serial = double(QDate(1899, 12, d < QDate(1900, 3, 1) ? 31 : 30).daysTo(d));
        if (serial < 0)
            return std::nullopt;
    }
    if (!timePart.isEmpty()) {
        const QTime tm = QTime::fromString(timePart, Qt::ISODateWithMs);
        if (!tm.isValid())
            return std::nullopt;
        serial += tm.msecsSinceStartOfDay() / 86400000.0;
    }
    return datePart.isEmpty() && timePart.isEmpty() ? std::nullopt : std::optional<double>(serial);
}

// A cell's "t".
enum class CellType { Number, Shared, Inline, Str, Boolean, Error, Date };

CellType cellType(const char* t) {
    if (!t || is(t, "n"))
        return CellType::Number;
    if (is(t, "s"))
        return CellType::Shared;
    if (is(t, "inlineStr"))
        return CellType::Inline;
    if (is(t, "str"))
        return CellType::Str;
    if (is(t, "b"))
        return CellType::Boolean;
    if (is(t, "e"))
        return CellType::Error;
    if (is(t, "d"))
        return CellType::Date;
    return CellType::Number;
}

struct SheetHandler : xml::Handler {
    const std::vector<QString>& strings;
    xls::Sheet& sheet;
    SheetExtra& extra;
    QStringList& warnings;
    const bool date1904;
    qint64 headEnd = -1, tailStart = -1, dataTagEnd = -1;
    bool inData = false;
    int row = -1;         // the current row (0-based)
    int nextColumn = 0;   // where a cell without "r" goes
    // The current cell (the sheet's last).
    bool inCell = false;
    CellType type = CellType::Number;
    std::string value, formula, inlineText; // cleared, never freed, from cell to cell
    QByteArray formulaType, formulaRef;
    int sharedIndex = -1;
    enum class In { None, V, F, IsT } in = In::None;
    int phonetic = 0;
    struct Shared {
        int row, column;
        QString text;
    };
    QHash<int, Shared> shared;
    bool hasFormula = false;
    bool inRowBreaks = false;

    SheetHandler(const std::vector<QString>& s, xls::Sheet& sh, SheetExtra& e, QStringList& w, bool d1904)
        : strings(s), sheet(sh), extra(e), warnings(w), date1904(d1904) {}

    static QString str(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

    void start(const char* name, const char** atts) override {
        if (ns() != xml::Ns::Main)
            return; // extensions (x14:, mc:, ...) and other namespaces' elements
        // Cells and their values, most of a sheet, are told by their one letter.
        const bool oneLetter = name[0] && !name[1];
        if (oneLetter && inCell) {
            if (name[0] == 'v') {
                in = In::V;
                return;
            }
            if (name[0] == 't') {
                if (phonetic == 0)
                    in = In::IsT;
                return;
            }
        }
        if (!oneLetter && is(name, "sheetData")) {
            headEnd = position();
            dataTagEnd = position() + eventLength();
            inData = true;
            return;
        }
        if (!inData) {
            if (is(name, "col")) {
                xls::ColumnFormat c;
                c.first = std::clamp(toInt(xml::attribute(atts, "min"), 1) - 1, 0, maxColumns - 1);
                c.last = std::clamp(toInt(xml::attribute(atts, "max"), 1) - 1, c.first, maxColumns - 1);
                const double width = toDouble(xml::attribute(atts, "width"), 8.43);
                c.width = quint16(std::clamp(width * 256.0, 0.0, 65535.0));
                c.xf = quint16(toInt(xml::attribute(atts, "style")));
                c.hidden = toBool(xml::attribute(atts, "hidden"));
                sheet.columns.push_back(c);
            } else if (is(name, "mergeCell")) {
                const QString ref = xml::attributeText(atts, "ref");
                const qsizetype colon = ref.indexOf(u':');
                int r1, c1, r2, c2;
                if (colon > 0 && parseCellName(ref.left(colon), r1, c1) && parseCellName(ref.mid(colon + 1), r2, c2))
                    sheet.merged.push_back({std::min(r1, r2), std::max(r1, r2), std::min(c1, c2), std::max(c1, c2)});
            } else if (is(name, "brk") && inRowBreaks) {
                const int id = toInt(xml::attribute(atts, "id"));
                if (id > 0 && id < maxRows)
                    sheet.rowBreaks.push_back(id);
            } else if (is(name, "rowBreaks")) {
                inRowBreaks = true;
            }
            return;
        }
        if (!oneLetter && is(name, "row")) {
            const int r = toInt(xml::attribute(atts, "r"), row + 2) - 1;
            if (r < 0 || r >= maxRows || r <= row)
                throw Error(QStringLiteral("The sheet %1 has rows out of order (row %2).").arg(sheet.name).arg(r + 1).toStdString());
            row = r;
            nextColumn = 0;
            xls::RowFormat f;
            f.row = r;
            const char* ht = xml::attribute(atts, "ht");
            f.customHeight = toBool(xml::attribute(atts, "customHeight"));
            f.height = ht ? quint16(std::clamp(toDouble(ht, 12.75) * 20.0, 0.0, 8190.0)) : 255;
            f.hidden = toBool(xml::attribute(atts, "hidden"));
            if (toBool(xml::attribute(atts, "customFormat")))
                f.xf = quint16(toInt(xml::attribute(atts, "s")));
            if (ht || f.hidden || f.xf)
                sheet.rows.push_back(f);
        } else if (oneLetter && name[0] == 'c') {
            if (row < 0)
                throw Error(QStringLiteral("The sheet %1 has a cell outside a row.").arg(sheet.name).toStdString());
            int r = row, c = nextColumn;
            const char* t = nullptr;
            const char* s = nullptr;
            const char* ref = nullptr;
            for (int i = 0; atts[i]; i += 2) {
                const char* a = atts[i];
                if (a[0] && !a[1]) { // the one-letter attributes of a cell
                    if (a[0] == 'r')
                        ref = atts[i + 1];
                    else if (a[0] == 's')
                        s = atts[i + 1];
                    else if (a[0] == 't')
                        t = atts[i + 1];
                }
            }
            if (ref && (!parseCellRef(ref, r, c) || r != row))
                throw Error(QStringLiteral("The sheet %1 has a cell %2 outside its row %3.")
                                .arg(sheet.name, QString::fromUtf8(ref))
                                .arg(row + 1)
                                .toStdString());
            if (c < nextColumn || c >= maxColumns)
                throw Error(QStringLiteral("The sheet %1 has cells out of order in row %2.").arg(sheet.name).arg(row + 1).toStdString());
            xls::Cell& cell = sheet.cells.emplace_back(); // made where it stays
            cell.row = row;
            cell.column = c;
            nextColumn = c + 1;
            cell.xf = quint16(std::clamp(toInt(s), 0, 65535));
            type = cellType(t);
            value.clear();
            formula.clear();
            inlineText.clear();
            formulaType.clear();
            formulaRef.clear();
            sharedIndex = -1;
            hasFormula = false;
            phonetic = 0;
            inCell = true;
        } else if (inCell && is(name, "v")) {
            in = In::V;
        } else if (inCell && is(name, "f")) {
            in = In::F;
            hasFormula = true;
            const char* ft = xml::attribute(atts, "t");
            formulaType = ft ? QByteArray(ft) : QByteArray();
            const char* fr = xml::attribute(atts, "ref");
            formulaRef = fr ? QByteArray(fr) : QByteArray();
            sharedIndex = toInt(xml::attribute(atts, "si"), -1);
        } else if (inCell && is(name, "rPh")) {
            ++phonetic;
        }
    }

    void end(const char* name) override {
        if (ns() != xml::Ns::Main)
            return;
        if (inCell && name[0] && !name[1]) {
            switch (name[0]) {
            case 'v':
            case 'f':
            case 't':
                in = In::None;
                return;
            case 'c':
                finishCell();
                inCell = false;
                return;
            default:
                break;
            }
        }
        if (is(name, "sheetData")) {
            tailStart = eventLength() == 0 ? dataTagEnd : position() + eventLength();
            inData = false;
            return;
        }
        if (is(name, "rowBreaks")) {
            inRowBreaks = false;
            return;
        }
        if (inCell && is(name, "rPh"))
            --phonetic;
    }

    void text(const char* data, int length) override {
        switch (in) {
        case In::V:
            value.append(data, std::size_t(length));
            break;
        case In::F:
            formula.append(data, std::size_t(length));
            break;
        case In::IsT:
            inlineText.append(data, std::size_t(length));
            break;
        case In::None:
            break;
        }
    }

    void finishCell() {
        xls::Cell& cell = sheet.cells.back();
        xls::Value& v = cell.value;
        switch (type) {
        case CellType::Shared: {
            qint64 i = -1;
            if (!parseNumber(std::string_view(value), i) || i < 0 || i >= qint64(strings.size()))
                throw Error(QStringLiteral("The cell %1!%2 refers to a shared string that does not exist.")
                                .arg(sheet.name, cellName(cell.row, cell.column))
                                .toStdString());
            v.type = xls::ValueType::Text;
            v.text = strings[std::size_t(i)];
            break;
        }
        case CellType::Inline:
            v = {xls::ValueType::Text, 0, unescapeX(str(inlineText))};
            break;
        case CellType::Str:
            v = {xls::ValueType::Text, 0, unescapeX(str(value))};
            break;
        case CellType::Boolean: {
            const std::string_view b = numberText(value);
            v = {xls::ValueType::Boolean, b == "1" || b == "true" ? 1.0 : 0.0, {}};
            break;
        }
        case CellType::Error:
            v = {xls::ValueType::Error, double(errorCode(value)), {}};
            break;
        case CellType::Date:
            if (numberText(value).empty())
                break;
            if (const std::optional<double> serial = isoDateSerial(value, date1904))
                v = {xls::ValueType::Number, *serial, {}};
            else // not a date the format allows: kept as the text it is
                v = {xls::ValueType::Text, 0, str(value).trimmed()};
            break;
        case CellType::Number: {
            double d = 0;
            if (parseNumber(std::string_view(value), d) && std::isfinite(d)) {
                v.type = xls::ValueType::Number;
                v.number = d;
            }
            break;
        }
        }
        if (hasFormula) {
            QString formulaText = str(formula);
            const QString where = QStringLiteral("%1!%2").arg(sheet.name, cellName(cell.row, cell.column));
            if (formulaType == "shared" && sharedIndex >= 0) {
                if (!formulaText.trimmed().isEmpty()) {
                    shared.insert(sharedIndex, {cell.row, cell.column, formulaText});
                } else if (const auto it = shared.constFind(sharedIndex); it != shared.constEnd()) {
                    formulaText = moveFormulaCells(it->text, cell.row - it->row, cell.column - it->column);
                } else {
                    formulaText.clear();
                    warnings << QStringLiteral("The shared formula in %1 has no first cell: kept as its value.").arg(where);
                }
            } else if (formulaType == "array" || formulaType == "dataTable") {
                warnings << QStringLiteral("The %1 formula in %2 is kept as its value.")
                                .arg(formulaType == "array" ? QStringLiteral("array") : QStringLiteral("data table"), where);
                formulaText.clear();
            }
            if (!formulaText.trimmed().isEmpty()) {
                extra.formulas.insert(Package::key(cell.row, cell.column), formulaText);
                cell.formula = xls::Formula(QByteArray("\x17\x00\x00", 3));
            }
        }
    }
};

// Room for a sheet's cells before they are read, so that the cells of a large sheet are not moved
// again and again as they grow: its dimension's area when the sheet gives one near its start, else a
// guess from its size, never more than its size can hold. Room beyond what is made ready below
// costs no memory until written.
std::size_t cellsToReserve(const QByteArray& part) {
    const std::string_view head(part.constData(), std::size_t(std::min<qsizetype>(part.size(), 65536)));
    qint64 cells = part.size() / 48;
    if (const std::size_t at = head.find("<dimension "); at != std::string_view::npos) {
        const std::size_t ref = head.find("ref=\"", at);
        const std::size_t end = ref == std::string_view::npos ? ref : head.find('"', ref + 5);
        if (end != std::string_view::npos) {
            const QString text = QString::fromLatin1(head.data() + ref + 5, qsizetype(end - ref - 5));
            const qsizetype colon = text.indexOf(u':');
            int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
            if (colon > 0 && parseCellName(text.left(colon), r1, c1) && parseCellName(text.mid(colon + 1), r2, c2))
                cells = qint64(std::abs(r2 - r1) + 1) * (std::abs(c2 - c1) + 1);
        }
    }
    return std::size_t(std::clamp<qint64>(cells, 0, part.size() / 16)); // "<c><v>1</v></c>": 15 bytes
}

// A large sheet's cells go into memory never touched before, which the kernel otherwise hands out one
// page at a time as each is first written (a trap per 4 KB: about a tenth of reading a 50 MB sheet).
// The room the sheet's size vouches for is asked for at once; where the kernel cannot, nothing
// changes.
void populate(const void* data, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(page - 1);
    if (to > from)
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)data, (void)bytes;
#endif
}

template <class H>
void parsePart(const Package& p, const QString& part, H& handler, bool required) {
    const auto it = p.parts.find(part);
    if (it == p.parts.end()) {
        if (required)
            throw Error(QStringLiteral("the package has no part %1").arg(part).toStdString());
        return;
    }
    xml::parse(it->second, handler, part);
}

const Relationship* relOfType(const std::vector<Relationship>& rels, const char* typeEnd) {
    for (const Relationship& r : rels)
        if (r.type.endsWith(QLatin1String(typeEnd)))
            return &r;
    return nullptr;
}

} // namespace

QString partName(const QString& sourcePart, const QString& target) {
    return resolve(sourcePart, target);
}

std::vector<Relationship> relationshipsOf(const Package& package, const QString& part) {
    return readRels(package, part);
}

QString Package::formulaAt(int sheet, int row, int column) const {
    if (sheet < 0 || std::size_t(sheet) >= sheets.size())
        return {};
    return sheets[std::size_t(sheet)].formulas.value(key(row, column));
}

Package readPackageData(const QByteArray& data) {
    if (data.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)))
        throw Error("it is an OLE2 compound file, not an .xlsx package: an encrypted workbook (save it "
                    "without a password) or an Excel 97-2003 workbook under an .xlsx name");
    if (!data.startsWith("PK"))
        throw Error("it is not an .xlsx workbook (no zip package)");
    Package p;
    p.parts = zipio::unzipAll(data);
    if (const auto m = p.parts.find(QStringLiteral("mimetype"));
        m != p.parts.end() && m->second.startsWith("application/vnd.oasis.opendocument"))
        throw Error("it is an OpenDocument file, not an .xlsx workbook: save it as an Excel 2007-365 workbook");
    if (p.parts.count(QStringLiteral("xl/encryption")) || p.parts.count(QStringLiteral("EncryptionInfo")))
        throw Error("the workbook is encrypted: save it without a password");

    const std::vector<Relationship> rootRels = readRels(p, QStringLiteral(""));
    const Relationship* office = relOfType(rootRels, "/officeDocument");
    p.workbookPart = office ? resolve(QString(), office->target) : QStringLiteral("xl/workbook.xml");
    if (!p.parts.count(p.workbookPart))
        throw Error("it is not an .xlsx workbook (the package has no workbook part)");
    p.workbookRels = readRels(p, p.workbookPart);

    // Parts whose SpreadsheetML elements carry a prefix (<x:worksheet xmlns:x=...>, as some producers
    // write them) are read as the same XML without it, which is also the form the report writer
    // edits as text.
    const auto unprefixed = [&p](const QString& part) {
        const auto it = p.parts.find(part);
        if (it != p.parts.end() && xml::hasPrefixedRoot(it->second))
            it->second = xml::withoutPrefix(it->second, xml::MainUri, part);
    };
    unprefixed(p.workbookPart);
    WorkbookHandler wb;
    parsePart(p, p.workbookPart, wb, true);
    p.book.date1904 = wb.date1904;
    p.book.codepage = 1200;
    p.names = wb.names;

    if (const Relationship* r = relOfType(p.workbookRels, "/styles")) {
        StylesHandler st;
        unprefixed(resolve(p.workbookPart, r->target));
        parsePart(p, resolve(p.workbookPart, r->target), st, false);
        p.book.formatCodes = st.codes;
        p.book.xfFormatIndex = st.xfFormats;
        p.cellXfCount = int(st.xfFormats.size());
    }
    StringsHandler strings;
    if (const Relationship* r = relOfType(p.workbookRels, "/sharedStrings"))
        parsePart(p, resolve(p.workbookPart, r->target), strings, false);

    for (const auto& ref : wb.sheets) {
        const Relationship* rel = nullptr;
        for (const Relationship& r : p.workbookRels)
            if (r.id == ref.rid)
                rel = &r;
        if (!rel)
            throw Error(QStringLiteral("the sheet %1 has no part").arg(ref.name).toStdString());
        if (!rel->type.endsWith(QLatin1String("/worksheet"))) {
            p.book.dropped << QStringLiteral("the chart sheet or dialog sheet %1").arg(ref.name);
            continue;
        }
        xls::Sheet sheet;
        sheet.name = ref.name;
        SheetExtra extra;
        extra.part = resolve(p.workbookPart, rel->target);
        extra.hidden = ref.hidden;
        SheetHandler h(strings.strings, sheet, extra, p.warnings, p.book.date1904);
        unprefixed(extra.part);
        const auto part = p.parts.find(extra.part);
        if (part == p.parts.end())
            throw Error(QStringLiteral("the package has no part %1").arg(extra.part).toStdString());
        try {
            sheet.cells.reserve(cellsToReserve(part->second));
        } catch (const std::bad_alloc&) {
            // Only room made early: the cells still find theirs as they come.
        }
        // Made ready: at most one cell per 40 bytes of the sheet's XML (a cell with a value and its
        // position takes about that), so that a sheet whose dimension says more costs no more.
        if (const std::size_t ready = std::min(sheet.cells.capacity(), std::size_t(part->second.size() / 40));
            ready * sizeof(xls::Cell) >= (std::size_t(16) << 20))
            populate(sheet.cells.data(), ready * sizeof(xls::Cell));
        xml::parse(part->second, h, extra.part);
        if (h.headEnd < 0) {
            // A sheet without rows: the rows go before whatever follows the sheet's layout.
            throw Error(QStringLiteral("the sheet %1 has no sheetData").arg(ref.name).toStdString());
        }
        extra.head = part->second.left(h.headEnd);
        extra.tail = part->second.mid(h.tailStart);
        extra.rels = readRels(p, extra.part);
        std::sort(sheet.merged.begin(), sheet.merged.end(), [](const auto& a, const auto& b) {
            return std::tie(a.firstRow, a.firstColumn) < std::tie(b.firstRow, b.firstColumn);
        });
        // Print titles from the defined name of this sheet.
        for (const DefinedName& d : p.names) {
            if (d.name != QLatin1String("_xlnm.Print_Titles") || d.localSheet != int(p.book.sheets.size()))
                continue;
            for (const FormulaToken& t : tokenizeFormula(d.text))
                if (t.kind == FormulaToken::Kind::Reference && t.ref.kind == Reference::Kind::Rows)
                    sheet.printTitleRows = std::pair(t.ref.row1, t.ref.row2);
        }
        p.book.sheets.push_back(std::move(sheet));
        p.sheets.push_back(std::move(extra));
    }
    if (p.book.sheets.empty())
        throw Error("the workbook has no worksheet");
    if (p.parts.count(QStringLiteral("xl/vbaProject.bin")))
        p.book.dropped << QStringLiteral("macros");
    return p;
}

Package readPackage(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 cannot be read: %2").arg(path, f.errorString()).toStdString());
    const qint64 size = f.size();
    if (size > readLimits().totalBytes)
        throw Error(QStringLiteral("%1 is larger than a workbook can be").arg(path).toStdString());
    const QByteArray data = f.readAll();
    try {
        return readPackageData(data);
    } catch (const Error& e) {
        throw Error(QStringLiteral("%1: %2").arg(path, QString::fromUtf8(e.what())).toStdString());
    }
}

} // namespace lw::xlsx
