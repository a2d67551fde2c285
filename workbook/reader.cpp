// Reading a BIFF8 workbook: the compound file through libgsf, then our own walk over the
// "Workbook" stream's records into the workbook model.
#include "workbook/biff.h"
#include "workbook/gsflog.h"
#include "workbook/xls.h"
#include "workbook/xls/drawing.h"
#include "workbook/xls/storage.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <gsf/gsf.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

namespace lw::xls {

using namespace biff;

namespace {

std::atomic<qint64> maxModelBytes{defaultMaxModelBytes};

// One record of the stream: its identifier, where it starts and its data.
struct Rec {
    quint16 id = 0;
    qsizetype pos = 0;
    const char* data = nullptr;
    qsizetype size = 0;
};

class Stream {
public:
    explicit Stream(const QByteArray& bytes) : m_b(bytes) {}
    qsizetype size() const { return m_b.size(); }
    void seek(qsizetype pos) { m_pos = pos; }
    bool atEnd() const { return m_pos >= m_b.size(); }
    // The next record; false at the end of the stream. A record that claims more data than the
    // stream holds is an error.
    bool next(Rec& r) {
        if (m_pos + 4 > m_b.size()) {
            if (m_pos < m_b.size() && m_pos + 4 > m_b.size())
                throw Error("a record runs past the end of the workbook stream (the file is truncated)");
            return false;
        }
        const char* p = m_b.constData() + m_pos;
        r.id = biff::u16(p);
        r.size = biff::u16(p + 2);
        r.pos = m_pos;
        if (m_pos + 4 + r.size > m_b.size())
            throw Error("a record runs past the end of the workbook stream (the file is truncated)");
        r.data = p + 4;
        m_pos += 4 + r.size;
        return true;
    }
    quint16 peekId() const {
        if (m_pos + 4 > m_b.size())
            return 0xFFFF;
        return biff::u16(m_b.constData() + m_pos);
    }
    // A reader over a record's data and the CONTINUE records right after it.
    Reader withContinues(const Rec& r) {
        Reader reader;
        reader.addSegment(r.data, r.size);
        Rec c;
        while (peekId() == rContinue && next(c))
            reader.addSegment(c.data, c.size);
        return reader;
    }

private:
    const QByteArray& m_b;
    qsizetype m_pos = 0;
};

double rkValue(quint32 v) {
    double d;
    if (v & 0x02) {
        d = double(qint32(v) >> 2);
    } else {
        const quint64 bits = quint64(v & 0xFFFFFFFCu) << 32;
        std::memcpy(&d, &bits, 8);
    }
    if (v & 0x01)
        d /= 100;
    return d;
}

void needSize(const Rec& r, qsizetype n, const char* what) {
    if (r.size < n)
        throw Error(QStringLiteral("a %1 record is too short").arg(QLatin1String(what)).toStdString());
}

QString sheetDropName(quint16 id) {
    switch (id) {
    case rImData:
        return QStringLiteral("drawings");
    case rNote:
        return QStringLiteral("comments");
    case rCondFmt:
    case rCf:
    case rCondFmt12:
    case rCf12:
    case rCfEx:
        return QStringLiteral("conditional formats");
    case rDval:
    case rDv:
        return QStringLiteral("data validation");
    case rHlink:
    case rQuickTip:
        return QStringLiteral("hyperlinks");
    case rAutoFilterInfo:
    case rAutoFilter:
    case rFilterMode:
        return QStringLiteral("filters");
    case rScenMan:
    case rScenario:
        return QStringLiteral("scenarios");
    case 0x00B0: // SXVIEW and the records of its fields, items and data
    case 0x00B1:
    case 0x00B2:
    case 0x00B4:
    case 0x00B5:
    case 0x00B6:
    case 0x00C5:
    case 0x00F1:
    case 0x0100:
        return QStringLiteral("pivot tables (kept as their cells)");
    case rLabelRanges:
        return QStringLiteral("label ranges");
    case rFeat:
        return QStringLiteral("protected ranges");
    default:
        return {};
    }
}

bool isLayoutRecord(quint16 id) {
    switch (id) {
    case rCalcCount:
    case rCalcMode:
    case rRefMode:
    case rDelta:
    case rIteration:
    case rSaveRecalc:
    case rPrintHeaders:
    case rPrintGridlines:
    case rGridSet:
    case rGuts:
    case rDefaultRowHeight:
    case rWsBool:
    case rVerticalPageBreaks:
    case rHeader:
    case rFooter:
    case rHCenter:
    case rVCenter:
    case rLeftMargin:
    case rRightMargin:
    case rTopMargin:
    case rBottomMargin:
    case rPls:
    case rSetup:
    case rHeaderFooter:
    case rProtect:
    case rScenProtect:
    case rObjProtect:
    case rPassword:
    case rDefColWidth:
    case 0x0099 /* STANDARDWIDTH */:
    case rWindow2:
    case rPlv:
    case rScl:
    case rPane:
    case rSelection:
    case rSheetExt:
    case rPhoneticPr:
    case rFeatHdr:
    case rCodeName:
        return true;
    default:
        return false;
    }
}

struct SharedFormula {
    int firstRow, lastRow, firstColumn, lastColumn;
    QByteArray tokens;
    QByteArray extra;
};

struct PendingShared {
    std::size_t cell;
    int baseRow, baseColumn;
};

class WorkbookReader {
public:
    explicit WorkbookReader(const QByteArray& bytes) : m_stream(bytes), m_bytes(bytes) {}

    Workbook read();

private:
    void readGlobals();
    void readSheet(qsizetype pos, Sheet& sheet);
    void readName(const QByteArray& nameRecord, std::size_t record,
                  std::vector<std::pair<std::size_t, DefinedName>>& standIns);
    void printTitles(const DefinedName& name);
    std::optional<Formula> convertFormula(const QByteArray& tokens, const QByteArray& extra, int row,
                                          int column, bool shared);
    void noteBook(const QString& what) {
        if (!m_book.dropped.contains(what))
            m_book.dropped.append(what);
    }

    Stream m_stream;
    const QByteArray& m_bytes;
    Workbook m_book;
    std::vector<QString> m_sst;
    struct BoundSheet {
        quint32 pos;
        bool hidden;
        quint8 type;
        QString name;
    };
    std::vector<BoundSheet> m_bound;
    std::vector<int> m_boundToModel;     // BOUNDSHEET index -> model sheet index, -1 for none
    std::vector<bool> m_supbookInternal; // per SUPBOOK: this workbook's own sheets
    struct Xti {
        quint16 supbook, first, last;
    };
    std::vector<Xti> m_xti;
    std::vector<QByteArray> m_names;
    std::vector<int> m_nameIndex; // per NAME record: its index in Workbook::names, -1 for none
    bool m_inName = false;        // reading a name's own formula: names in it are not followed
    // What the model takes so far, about, against the limit.
    qint64 m_modelBytes = 0;

public:
    void charge(qint64 bytes) {
        m_modelBytes += bytes;
        if (m_modelBytes > maxModelBytes.load())
            throw Error(QStringLiteral("holds more cells than can be read in %1 MB of memory (a sheet filled "
                                       "with cells far beyond what it shows?): remove the cells it does not need")
                            .arg(maxModelBytes.load() >> 20)
                            .toStdString());
    }
};

Workbook WorkbookReader::read() {
    readGlobals();
    m_boundToModel.assign(m_bound.size(), -1);
    int model = 0;
    for (std::size_t i = 0; i < m_bound.size(); ++i) {
        if (m_bound[i].type == 0)
            m_boundToModel[i] = model++;
        else
            noteBook(m_bound[i].type == 2 ? QStringLiteral("chart sheets") : QStringLiteral("macro sheets"));
    }
    m_book.sheets.resize(std::size_t(model));
    // The names first: cell formulas may use them.
    std::vector<std::pair<std::size_t, DefinedName>> standIns;
    m_nameIndex.assign(m_names.size(), -1);
    for (std::size_t i = 0; i < m_names.size(); ++i)
        readName(m_names[i], i, standIns);
    for (auto& standIn : standIns) {
        const std::size_t record = standIn.first;
        DefinedName& n = standIn.second;
        const bool real = n.builtin == 0x07 ? n.scope >= 0 && m_book.sheets[std::size_t(n.scope)].printTitleRows
                                            : std::any_of(m_book.names.begin(), m_book.names.end(),
                                                          [&](const DefinedName& o) {
                                                              return o.builtin == n.builtin && o.scope == n.scope;
                                                          });
        if (real)
            continue;
        if (n.builtin == 0x07) {
            if (n.scope >= 0)
                printTitles(n);
        } else {
            m_nameIndex[record] = int(m_book.names.size());
            m_book.names.push_back(std::move(n));
        }
    }
    for (std::size_t i = 0; i < m_bound.size(); ++i) {
        if (m_boundToModel[i] < 0)
            continue;
        Sheet& sheet = m_book.sheets[std::size_t(m_boundToModel[i])];
        sheet.name = m_bound[i].name;
        readSheet(m_bound[i].pos, sheet);
        sheet.hidden = m_bound[i].hidden;
    }
    return std::move(m_book);
}

void WorkbookReader::readGlobals() {
    Rec r;
    if (!m_stream.next(r))
        throw Error("the workbook stream is empty");
    if (r.id != rBof || r.size < 4)
        throw Error("the workbook stream does not start with a beginning-of-file record");
    const quint16 version = biff::u16(r.data);
    if (version != 0x0600)
        throw Error("this is an Excel 5.0/95 or older workbook: save it as Excel 97-2003 workbook");
    bool ended = false;
    while (!ended && m_stream.next(r)) {
        switch (r.id) {
        case rEof:
            ended = true;
            break;
        case rFilePass:
            throw Error("the workbook is encrypted (password protected): save it without a password");
        case rCodepage:
            needSize(r, 2, "CODEPAGE");
            m_book.codepage = biff::u16(r.data);
            break;
        case rDateMode:
            needSize(r, 2, "DATEMODE");
            m_book.date1904 = biff::u16(r.data) == 1;
            break;
        case rFont:
        case rStyle:
        case rPalette:
        case rXfCrc:
        case rXfExt:
        case rStyleExt:
            m_book.formats.records.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        case rXf:
            needSize(r, 20, "XF");
            m_book.xfFormatIndex.push_back(biff::u16(r.data + 2));
            m_book.formats.records.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        case rFormat: {
            Reader rd = m_stream.withContinues(r);
            const quint16 index = rd.u16();
            const QString code = rd.string();
            m_book.formatCodes.emplace_back(index, code);
            m_book.formats.records.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        }
        case rBoundSheet: {
            Reader rd(QByteArray::fromRawData(r.data, r.size));
            BoundSheet b;
            b.pos = rd.u32();
            b.hidden = (rd.u8() & 0x03) != 0;
            b.type = rd.u8();
            b.name = rd.string(true);
            if (b.pos >= quint64(m_stream.size()))
                throw Error(QStringLiteral("the sheet \"%1\" starts past the end of the workbook stream")
                                .arg(b.name)
                                .toStdString());
            m_bound.push_back(b);
            break;
        }
        case rSst: {
            Reader rd = m_stream.withContinues(r);
            rd.u32(); // references
            const quint32 unique = rd.u32();
            m_sst.reserve(std::min<qsizetype>(unique, rd.remaining() / 3 + 1));
            for (quint32 i = 0; i < unique; ++i) {
                if (rd.atEnd())
                    throw Error(QStringLiteral("the shared string table holds %1 strings but declares %2")
                                    .arg(i)
                                    .arg(unique)
                                    .toStdString());
                m_sst.push_back(rd.string());
                charge(qint64(sizeof(QString)) + 2 * m_sst.back().size());
            }
            break;
        }
        case rSupBook: {
            needSize(r, 4, "SUPBOOK");
            m_supbookInternal.push_back(biff::u16(r.data + 2) == 0x0401);
            if (!m_supbookInternal.back() && biff::u16(r.data + 2) != 0x3A01)
                noteBook(QStringLiteral("links to other workbooks"));
            break;
        }
        case rExternSheet: {
            Reader rd = m_stream.withContinues(r);
            const quint16 count = rd.u16();
            for (quint16 i = 0; i < count; ++i) {
                Xti x;
                x.supbook = rd.u16();
                x.first = rd.u16();
                x.last = rd.u16();
                m_xti.push_back(x);
            }
            break;
        }
        case rName: {
            Reader rd = m_stream.withContinues(r);
            m_names.push_back(rd.bytes(rd.remaining()));
            break;
        }
        case rObjProj:
        case rCodeName:
            m_book.macroRecords.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        case rMsoDrawingGroup: {
            Reader rd = m_stream.withContinues(r);
            m_book.drawingGroup += rd.bytes(rd.remaining());
            break;
        }
        default:
            break;
        }
    }
    if (!ended)
        throw Error("the workbook stream ends before its workbook records do (the file is truncated)");
}

void WorkbookReader::readName(const QByteArray& n, std::size_t record,
                              std::vector<std::pair<std::size_t, DefinedName>>& standIns) {
    Reader rd(n);
    const quint16 flags = rd.u16();
    rd.u8();
    const int cch = rd.u8();
    const quint16 cce = rd.u16();
    rd.u16();
    const quint16 itab = rd.u16();
    rd.skip(4);
    const quint8 optionByte = rd.u8();
    const bool wide = optionByte & 1;
    QString text;
    for (int i = 0; i < cch; ++i)
        text += QChar(wide ? rd.u16() : rd.u8());
    if (flags & 0x0E) { // a macro's function or command
        noteBook(QStringLiteral("macros"));
        return;
    }
    DefinedName name;
    name.hidden = flags & 0x01;
    if (flags & 0x20)
        name.builtin = text.isEmpty() ? -1 : text.at(0).unicode();
    else if ((name.builtin = builtinNameCode(text)) < 0)
        name.name = text;
    if (itab >= 1) {
        if (itab > m_boundToModel.size() || m_boundToModel[itab - 1] < 0)
            return; // a name of a chart or macro sheet: noted with the sheet
        name.scope = m_boundToModel[itab - 1];
    }
    const QByteArray tokens = rd.bytes(std::min<qsizetype>(cce, rd.remaining()));
    const QByteArray extra = rd.bytes(rd.remaining());
    const QStringList before = m_book.dropped;
    m_inName = true;
    std::optional<Formula> f = tokens.isEmpty() ? std::nullopt : convertFormula(tokens, extra, 0, 0, false);
    m_inName = false;
    m_book.dropped = before;
    if (!f) {
        noteBook(QStringLiteral("the defined name %1 (it refers to another workbook or cannot be read)")
                     .arg(name.name.isEmpty() ? QStringLiteral("built-in %1").arg(name.builtin) : name.name));
        return;
    }
    name.formula = std::move(*f);
    // The stand-ins LibreOffice writes beside the real built-in names count only when the real one
    // is missing.
    if (!(flags & 0x20) && name.builtin >= 0) {
        standIns.emplace_back(record, std::move(name));
        return;
    }
    if (name.builtin == 0x07) {
        if (name.scope >= 0)
            printTitles(name);
        return;
    }
    m_nameIndex[record] = int(m_book.names.size());
    m_book.names.push_back(std::move(name));
}

void WorkbookReader::printTitles(const DefinedName& name) {
    const QByteArray& tokens = name.formula.tokens();
    int pos = 0;
    while (pos < tokens.size()) {
        const int size = tokenSize(tokens, pos);
        if (size < 0)
            return;
        const quint8 t = quint8(tokens[pos]);
        if (baseToken(t) == ptgArea3d || baseToken(t) == ptgArea) {
            const char* p = tokens.constData() + pos + (baseToken(t) == ptgArea3d ? 3 : 1);
            const int r1 = biff::u16(p), r2 = biff::u16(p + 2);
            const int c1 = biff::u16(p + 4) & 0x3FFF, c2 = biff::u16(p + 6) & 0x3FFF;
            if (c1 == 0 && c2 >= 0xFF && r1 <= r2)
                m_book.sheets[std::size_t(name.scope)].printTitleRows = std::pair(r1, r2);
        }
        pos += size;
    }
}

std::optional<Formula> WorkbookReader::convertFormula(const QByteArray& in, const QByteArray& extra, int row,
                                                      int column, bool shared) {
    QByteArray tokens = in;
    int pos = 0;
    while (pos < tokens.size()) {
        const int size = tokenSize(tokens, pos);
        if (size < 0) {
            noteBook(QStringLiteral("formulas the library cannot read (kept as their values)"));
            return std::nullopt;
        }
        char* p = tokens.data() + pos;
        const quint8 t = quint8(*p);
        const quint8 base = baseToken(t);
        if (t >= 0x20 && base == ptgName) {
            // A workbook's name the model holds: the token names it by its index there, plus one.
            const quint32 index = biff::u32(p + 1);
            const int model = index >= 1 && index <= m_nameIndex.size() ? m_nameIndex[index - 1] : -1;
            if (!m_inName && model >= 0 && m_book.names[std::size_t(model)].scope < 0) {
                put32(p + 1, quint32(model + 1));
                pos += size;
                continue;
            }
        }
        if (t >= 0x20 && (base == ptgName || base == ptgNameX)) {
            noteBook(
                QStringLiteral("formulas using defined names or add-in functions (kept as their values)"));
            return std::nullopt;
        }
        if (t == ptgExp || t == ptgTbl || (t < 0x20 && t == 0x18)) {
            noteBook(QStringLiteral("formulas the library cannot read (kept as their values)"));
            return std::nullopt;
        }
        if (t >= 0x20 && (base == ptgRefN || base == ptgAreaN) && shared) {
            // Shared-formula references: offsets from the cell become the cell's own references.
            const quint8 cls = t & 0x60;
            const int refs = base == ptgRefN ? 1 : 2;
            for (int i = 0; i < refs; ++i) {
                char* rp = p + 1 + 2 * i;            // row field
                char* cp = p + 1 + 2 * refs + 2 * i; // column field
                quint16 r = biff::u16(rp);
                quint16 c = biff::u16(cp);
                if (c & 0x8000)
                    r = quint16((row + qint16(r)) & 0xFFFF);
                if (c & 0x4000)
                    c = quint16((c & 0xC000) | ((column + qint8(c & 0xFF)) & 0xFF));
                put16(rp, r);
                put16(cp, c);
            }
            *p = char(withClass(base == ptgRefN ? ptgRef : ptgArea, cls));
        } else if (t >= 0x20 &&
                   (base == ptgRef3d || base == ptgArea3d || base == ptgRefErr3d || base == ptgAreaErr3d)) {
            const quint16 ixti = biff::u16(p + 1);
            int sheet = -1;
            if (ixti < m_xti.size()) {
                const Xti& x = m_xti[ixti];
                if (x.supbook < m_supbookInternal.size() && m_supbookInternal[x.supbook] &&
                    x.first == x.last && x.first < m_boundToModel.size())
                    sheet = m_boundToModel[x.first];
            }
            if (sheet < 0) {
                noteBook(QStringLiteral("formulas referring to other workbooks or to several sheets "
                                        "(kept as their values)"));
                return std::nullopt;
            }
            put16(p + 1, quint16(sheet));
        }
        pos += size;
    }
    return Formula(tokens, extra);
}

void WorkbookReader::readSheet(qsizetype start, Sheet& sheet) {
    auto note = [&sheet](const QString& what) {
        if (!sheet.dropped.contains(what))
            sheet.dropped.append(what);
    };
    m_stream.seek(start);
    Rec r;
    if (!m_stream.next(r) || r.id != rBof || r.size < 4)
        throw Error(QStringLiteral("the sheet \"%1\" does not start with a beginning-of-file record")
                        .arg(sheet.name)
                        .toStdString());
    std::vector<SharedFormula> shared;
    std::vector<PendingShared> pending;
    std::vector<std::pair<int, int>> arrays; // first cells of array formulas
    long stringFor = -1;                     // the formula cell whose text result a STRING record holds
    QSet<quint16> unknown;                   // record types the reader does not know
    bool keepContinue = false;
    // The drawing: the OfficeArt bytes of its MSODRAWING records one after another, and the records
    // between them with the length of those bytes before each.
    QByteArray art;
    std::vector<std::pair<qsizetype, Record>> between;
    enum class Drawn { None, Art, Object } drawn = Drawn::None;
    auto checkCell = [&sheet](int col) {
        if (col >= maxColumns)
            throw Error(QStringLiteral("a cell of the sheet \"%1\" lies past column 256")
                            .arg(sheet.name)
                            .toStdString());
    };
    auto addCell = [&](int row, int col, quint16 xf, Value v, int repeat = 0) {
        checkCell(col + repeat);
        // More cell records than a sheet has cells: a damaged or hostile file, not a sheet.
        if (sheet.cells.size() >= std::size_t(maxRows) * maxColumns)
            throw Error(QStringLiteral("the sheet \"%1\" holds more cells than a sheet can")
                            .arg(sheet.name)
                            .toStdString());
        // A text of the shared string table is shared, not copied.
        charge(qint64(sizeof(Cell)) + (v.text.isDetached() ? 2 * v.text.size() : 0));
        Cell c;
        c.row = row;
        c.column = col;
        c.xf = xf;
        c.repeat = quint8(repeat);
        c.value = std::move(v);
        sheet.cells.push_back(std::move(c));
    };
    // An empty formatted cell: it joins the run just before it when it goes on that run.
    auto addBlank = [&](int row, int col, quint16 xf) {
        if (!sheet.cells.empty()) {
            Cell& last = sheet.cells.back();
            if (last.row == row && last.xf == xf && last.lastColumn() + 1 == col && last.repeat < 255 &&
                last.value.type == ValueType::Empty && !last.formula) {
                checkCell(col);
                ++last.repeat;
                return;
            }
        }
        addCell(row, col, xf, Value{});
    };
    for (;;) {
        if (!m_stream.next(r))
            throw Error(QStringLiteral("the sheet \"%1\" ends before its end record (the file is truncated)")
                            .arg(sheet.name)
                            .toStdString());
        const bool wasKeeping = keepContinue;
        keepContinue = false;
        const Drawn wasDrawn = drawn;
        drawn = Drawn::None;
        if (r.id == rEof)
            break;
        switch (r.id) {
        case rBof: {
            // An embedded chart: its substream up to its own end record goes with the OBJ before it.
            // Its series formulas name sheets by EXTERNSHEET entry: they get the model's sheet indices.
            int depth = 1;
            between.push_back({art.size(), Record{r.id, QByteArray(r.data, r.size)}});
            while (depth > 0) {
                if (!m_stream.next(r))
                    throw Error("an embedded chart runs past the end of the workbook stream");
                if (r.id == rBof)
                    ++depth;
                else if (r.id == rEof)
                    --depth;
                QByteArray data(r.data, r.size);
                if (r.id == 0x1051 && r.size >= 8) { // BRAI: a series' values, categories or name
                    const int cce = biff::u16(r.data + 6);
                    if (cce > 0 && 8 + cce <= r.size) {
                        const QStringList before = m_book.dropped;
                        const std::optional<Formula> f =
                            convertFormula(QByteArray(r.data + 8, cce), {}, 0, 0, false);
                        m_book.dropped = before;
                        if (f && f->tokens().size() == cce)
                            data.replace(8, cce, f->tokens());
                        else
                            note(QStringLiteral("a chart's series that refer to other workbooks"));
                    }
                }
                between.push_back({art.size(), Record{r.id, data}});
            }
            drawn = Drawn::Object;
            break;
        }
        case rMsoDrawing:
            art.append(r.data, r.size);
            drawn = Drawn::Art;
            break;
        case rObj:
        case rTxo:
            between.push_back({art.size(), Record{r.id, QByteArray(r.data, r.size)}});
            drawn = Drawn::Object;
            break;
        case rNote:
            sheet.notes.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        case rContinue:
            if (wasDrawn == Drawn::Art) {
                art.append(r.data, r.size);
                drawn = Drawn::Art;
            } else if (wasDrawn == Drawn::Object) {
                between.push_back({art.size(), Record{r.id, QByteArray(r.data, r.size)}});
                drawn = Drawn::Object;
            } else if (wasKeeping) {
                sheet.layoutRecords.append(Record{r.id, QByteArray(r.data, r.size)});
                keepContinue = true;
            }
            break;
        case rNumber:
            needSize(r, 14, "NUMBER");
            addCell(biff::u16(r.data), biff::u16(r.data + 2), biff::u16(r.data + 4),
                    Value{ValueType::Number, biff::f64(r.data + 6), {}});
            break;
        case rRk:
            needSize(r, 10, "RK");
            addCell(biff::u16(r.data), biff::u16(r.data + 2), biff::u16(r.data + 4),
                    Value{ValueType::Number, rkValue(biff::u32(r.data + 6)), {}});
            break;
        case rMulRk: {
            needSize(r, 6, "MULRK");
            const int row = biff::u16(r.data);
            const int first = biff::u16(r.data + 2);
            const qsizetype n = (r.size - 6) / 6;
            for (qsizetype i = 0; i < n; ++i) {
                const char* p = r.data + 4 + 6 * i;
                addCell(row, first + int(i), biff::u16(p),
                        Value{ValueType::Number, rkValue(biff::u32(p + 2)), {}});
            }
            break;
        }
        case rBlank:
            needSize(r, 6, "BLANK");
            addBlank(biff::u16(r.data), biff::u16(r.data + 2), biff::u16(r.data + 4));
            break;
        case rMulBlank: {
            needSize(r, 6, "MULBLANK");
            const int row = biff::u16(r.data);
            const int first = biff::u16(r.data + 2);
            const qsizetype n = (r.size - 6) / 2;
            for (qsizetype i = 0; i < n; ++i)
                addBlank(row, first + int(i), biff::u16(r.data + 4 + 2 * i));
            break;
        }
        case rBoolErr: {
            needSize(r, 8, "BOOLERR");
            const bool error = r.data[7] != 0;
            addCell(biff::u16(r.data), biff::u16(r.data + 2), biff::u16(r.data + 4),
                    Value{error ? ValueType::Error : ValueType::Boolean, double(quint8(r.data[6])), {}});
            break;
        }
        case rLabelSst: {
            needSize(r, 10, "LABELSST");
            const quint32 index = biff::u32(r.data + 6);
            if (index >= m_sst.size())
                throw Error(QStringLiteral("a cell of the sheet \"%1\" names string %2 of a table of %3")
                                .arg(sheet.name)
                                .arg(index)
                                .arg(m_sst.size())
                                .toStdString());
            addCell(biff::u16(r.data), biff::u16(r.data + 2), biff::u16(r.data + 4),
                    Value{ValueType::Text, 0, m_sst[index]});
            break;
        }
        case rLabel:
        case rRString: {
            Reader rd = m_stream.withContinues(r);
            const int row = rd.u16(), col = rd.u16();
            const quint16 xf = rd.u16();
            addCell(row, col, xf, Value{ValueType::Text, 0, rd.string()});
            break;
        }
        case rFormula: {
            needSize(r, 22, "FORMULA");
            const int row = biff::u16(r.data), col = biff::u16(r.data + 2);
            const quint16 xf = biff::u16(r.data + 4);
            Value v;
            if (biff::u16(r.data + 12) == 0xFFFF) {
                switch (quint8(r.data[6])) {
                case 0:
                    v.type = ValueType::Text;
                    stringFor = long(sheet.cells.size());
                    break;
                case 1:
                    v.type = ValueType::Boolean;
                    v.number = quint8(r.data[8]) ? 1 : 0;
                    break;
                case 2:
                    v.type = ValueType::Error;
                    v.number = quint8(r.data[8]);
                    break;
                default:
                    v.type = ValueType::Text;
                    break;
                }
            } else {
                v.type = ValueType::Number;
                v.number = biff::f64(r.data + 6);
            }
            const quint16 cce = biff::u16(r.data + 20);
            if (22 + cce > r.size)
                throw Error("a formula's tokens run past the end of its record");
            const QByteArray tokens(r.data + 22, cce);
            const QByteArray extra(r.data + 22 + cce, r.size - 22 - cce);
            addCell(row, col, xf, v);
            if (cce == 0) {
                // No tokens: only the value can be kept.
            } else if (cce == 5 && tokens[0] == char(ptgExp)) {
                pending.push_back({sheet.cells.size() - 1, biff::u16(tokens.constData() + 1),
                                   biff::u16(tokens.constData() + 3)});
            } else if (cce >= 1 && tokens[0] == char(ptgTbl)) {
                note(QStringLiteral("data tables (kept as their values)"));
            } else {
                sheet.cells.back().formula = convertFormula(tokens, extra, row, col, false);
            }
            break;
        }
        case rString: {
            Reader rd = m_stream.withContinues(r);
            const QString text = rd.string();
            if (stringFor >= 0 && std::size_t(stringFor) < sheet.cells.size())
                sheet.cells[std::size_t(stringFor)].value.text = text;
            stringFor = -1;
            break;
        }
        case rShrFmla: {
            needSize(r, 10, "SHRFMLA");
            SharedFormula f;
            f.firstRow = biff::u16(r.data);
            f.lastRow = biff::u16(r.data + 2);
            f.firstColumn = quint8(r.data[4]);
            f.lastColumn = quint8(r.data[5]);
            const quint16 cce = biff::u16(r.data + 8);
            if (10 + cce > r.size)
                throw Error("a shared formula's tokens run past the end of its record");
            f.tokens = QByteArray(r.data + 10, cce);
            f.extra = QByteArray(r.data + 10 + cce, r.size - 10 - cce);
            shared.push_back(std::move(f));
            break;
        }
        case rArray:
            needSize(r, 6, "ARRAY");
            arrays.emplace_back(biff::u16(r.data), quint8(r.data[4]));
            break;
        case rTable:
            break;
        case rRow: {
            needSize(r, 16, "ROW");
            RowFormat f;
            f.row = biff::u16(r.data);
            f.height = biff::u16(r.data + 6) & 0x7FFF;
            const quint16 flags = biff::u16(r.data + 12);
            f.customHeight = flags & 0x40;
            f.hidden = flags & 0x20;
            if (flags & 0x80)
                f.xf = quint16(biff::u16(r.data + 14) & 0x0FFF);
            sheet.rows.push_back(f);
            break;
        }
        case rColInfo: {
            needSize(r, 10, "COLINFO");
            ColumnFormat c;
            c.first = std::min<int>(biff::u16(r.data), maxColumns - 1);
            c.last = std::min<int>(biff::u16(r.data + 2), maxColumns - 1);
            c.width = biff::u16(r.data + 4);
            c.xf = biff::u16(r.data + 6);
            c.hidden = biff::u16(r.data + 8) & 0x01;
            if (c.first <= c.last)
                sheet.columns.push_back(c);
            break;
        }
        case rMergedCells: {
            Reader rd(QByteArray::fromRawData(r.data, r.size));
            const quint16 count = rd.u16();
            for (quint16 i = 0; i < count; ++i) {
                MergedRange m;
                m.firstRow = rd.u16();
                m.lastRow = rd.u16();
                m.firstColumn = rd.u16();
                m.lastColumn = rd.u16();
                if (m.firstRow <= m.lastRow && m.firstColumn <= m.lastColumn && m.lastColumn < maxColumns)
                    sheet.merged.push_back(m);
            }
            break;
        }
        case rHorizontalPageBreaks: {
            Reader rd(QByteArray::fromRawData(r.data, r.size));
            const quint16 count = rd.u16();
            for (quint16 i = 0; i < count; ++i) {
                sheet.rowBreaks.push_back(rd.u16());
                rd.skip(4);
            }
            break;
        }
        case rMsoDrawingSelection:
        case rIndex:
        case rDbCell:
        case rDimensions:
        case rUncalced:
        case 0x0019: // WINDOWPROTECT: the workbook's window setting, which some writers repeat per sheet
            break;
        case rCondFmt:
        case rCf:
        case rCondFmt12:
        case rCf12:
        case rCfEx:
        case rDval:
        case rDv:
        case rHlink:
        case rQuickTip:
        case rFilterMode:
        case rAutoFilterInfo:
        case rAutoFilter:
            sheet.anchored.append(Record{r.id, QByteArray(r.data, r.size)});
            break;
        default:
            if (isLayoutRecord(r.id)) {
                sheet.layoutRecords.append(Record{r.id, QByteArray(r.data, r.size)});
                keepContinue = true;
            } else {
                const QString what = sheetDropName(r.id);
                if (!what.isEmpty()) {
                    note(what);
                } else if (!unknown.contains(r.id)) {
                    // Named one by one up to a few types; a file full of them is damaged anyway.
                    unknown.insert(r.id);
                    note(unknown.size() <= 16
                             ? QStringLiteral("other records (type 0x%1)").arg(r.id, 4, 16, QLatin1Char('0'))
                             : QStringLiteral("other records of further types"));
                }
            }
            break;
        }
    }
    if (!art.isEmpty() || !between.empty()) {
        const QString problem = readDrawing(art, between, sheet);
        if (!problem.isEmpty())
            note(problem);
    }
    // Shared formulas become each cell's own tokens; array formulas stay as their values.
    // A cell of a shared formula names the formula by the first cell of its range.
    QHash<quint32, const SharedFormula*> sharedByFirstCell;
    for (const SharedFormula& f : shared)
        sharedByFirstCell.insert(quint32(f.firstRow) << 16 | quint32(f.firstColumn), &f);
    for (const PendingShared& p : pending) {
        Cell& cell = sheet.cells[p.cell];
        const SharedFormula* found =
            sharedByFirstCell.value(quint32(p.baseRow) << 16 | quint32(p.baseColumn));
        if (found) {
            cell.formula = convertFormula(found->tokens, found->extra, cell.row, cell.column, true);
        } else {
            note(QStringLiteral("array formulas (kept as their values)"));
        }
    }
    // Cells in row order (as files usually hold them already); a cell given twice keeps its last
    // record.
    const auto before = [](const Cell& a, const Cell& b) {
        return std::pair(a.row, a.column) < std::pair(b.row, b.column);
    };
    // A run that another cell record lands in (files do not hold that, but a damaged one may)
    // becomes single cells again, in the run's place among the records, so that the last record
    // of each cell wins as below.
    bool overlaps = false;
    if (std::any_of(sheet.cells.begin(), sheet.cells.end(), [](const Cell& c) { return c.repeat > 0; })) {
        std::vector<std::size_t> order(sheet.cells.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return before(sheet.cells[a], sheet.cells[b]); });
        for (std::size_t i = 0; i + 1 < order.size() && !overlaps; ++i) {
            const Cell& a = sheet.cells[order[i]];
            const Cell& b = sheet.cells[order[i + 1]];
            overlaps = a.repeat > 0 && b.row == a.row && b.column <= a.lastColumn();
        }
    }
    if (overlaps) {
        std::vector<Cell> single;
        for (Cell& c : sheet.cells) {
            const int repeat = c.repeat;
            c.repeat = 0;
            single.push_back(c);
            for (int k = 1; k <= repeat; ++k) {
                charge(qint64(sizeof(Cell)));
                single.push_back(c);
                single.back().column = c.column + k;
            }
        }
        sheet.cells = std::move(single);
    }
    if (!std::is_sorted(sheet.cells.begin(), sheet.cells.end(), before))
        std::stable_sort(sheet.cells.begin(), sheet.cells.end(), before);
    const auto same = [](const Cell& a, const Cell& b) { return a.row == b.row && a.column == b.column; };
    if (std::adjacent_find(sheet.cells.begin(), sheet.cells.end(), same) != sheet.cells.end()) {
        std::vector<Cell> unique;
        unique.reserve(sheet.cells.size());
        for (Cell& c : sheet.cells) {
            if (!unique.empty() && same(unique.back(), c))
                unique.back() = std::move(c);
            else
                unique.push_back(std::move(c));
        }
        sheet.cells = std::move(unique);
    }
    std::stable_sort(sheet.rows.begin(), sheet.rows.end(),
                     [](const RowFormat& a, const RowFormat& b) { return a.row < b.row; });
}

// The compound file ------------------------------------------------------------------------------

thread_local QString gsfLog;

void keepGsfLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    // Debug and info lines are dropped; warnings and criticals are kept for the error that follows.
    if ((level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) == 0)
        return;
    if (gsfLog.size() < 4096)
        gsfLog += (gsfLog.isEmpty() ? QString() : QStringLiteral("; ")) + QString::fromUtf8(domain ? domain : "") +
                  QStringLiteral(": ") + QString::fromUtf8(message ? message : "");
}

void initGsf() {
    detail::startGsf();
}

QByteArray workbookStream(const QString& path) {
    QFile file(path);
    if (!file.exists())
        throw Error("no such file");
    if (!file.open(QIODevice::ReadOnly))
        throw Error(("cannot be opened: " + file.errorString()).toStdString());
    const QByteArray head = file.read(512);
    const qint64 fileSize = file.size();
    file.close();
    static const char ole[8] = {char(0xD0), char(0xCF), char(0x11), char(0xE0),
                                char(0xA1), char(0xB1), char(0x1A), char(0xE1)};
    if (!head.startsWith(QByteArray(ole, 8))) {
        if (head.startsWith("PK\x03\x04"))
            throw Error("is an .xlsx workbook (or another zip file) saved under an .xls name: save it as "
                        "Excel 97-2003 workbook");
        const QByteArray trimmed = head.trimmed().toLower();
        if (trimmed.startsWith("<") || trimmed.startsWith("\xEF\xBB\xBF<") || trimmed.contains("<html") ||
            trimmed.contains("<?xml"))
            throw Error(
                "is a web page or XML file saved under an .xls name: save it as Excel 97-2003 workbook");
        if (head.size() >= 2 && quint8(head[0]) == 0x09 &&
            (quint8(head[1]) == 0x08 || quint8(head[1]) == 0x04 || quint8(head[1]) == 0x02 ||
             quint8(head[1]) == 0x00))
            throw Error("is an Excel 2.x-4.0 workbook: save it as Excel 97-2003 workbook");
        throw Error("is not an Excel workbook (not a compound document file)");
    }
    initGsf();
    detail::takeGsfLog();
    GError* err = nullptr;
    const QByteArray native = QFile::encodeName(path);
    GsfInput* input = gsf_input_stdio_new(native.constData(), &err);
    if (!input) {
        const QString why = err ? QString::fromUtf8(err->message) : QStringLiteral("unknown error");
        if (err)
            g_error_free(err);
        throw Error(("cannot be opened: " + why).toStdString());
    }
    GsfInfile* infile = gsf_infile_msole_new(input, &err);
    g_object_unref(input);
    if (!infile) {
        QString why = err ? QString::fromUtf8(err->message) : detail::takeGsfLog();
        if (err)
            g_error_free(err);
        throw Error(("is a damaged compound file" + (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why)))
                        .toStdString());
    }
    GsfInput* stream = nullptr;
    bool book = false;
    const int n = gsf_infile_num_children(infile);
    for (int i = 0; i < n && !stream; ++i) {
        const char* name = gsf_infile_name_by_index(infile, i);
        if (!name)
            continue;
        if (qstricmp(name, "Workbook") == 0)
            stream = gsf_infile_child_by_index(infile, i);
        else if (qstricmp(name, "Book") == 0)
            book = true;
    }
    g_object_unref(infile);
    const QString complaint = detail::takeGsfLog();
    if (!stream) {
        if (book)
            throw Error("is an Excel 5.0/95 workbook: save it as Excel 97-2003 workbook");
        // A compound file whose directory cannot be walked lists nothing, or not all it holds.
        if (n == 0 || !complaint.isEmpty())
            throw Error(("is a damaged compound file: its directory of streams cannot be read" +
                         (complaint.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(complaint)))
                            .toStdString());
        throw Error("holds no Excel workbook (no \"Workbook\" stream); save it as Excel 97-2003 workbook");
    }
    const gsf_off_t size = gsf_input_size(stream);
    if (size < 0 || size > fileSize) {
        g_object_unref(stream);
        throw Error("is a damaged compound file (its workbook stream is larger than the file)");
    }
    QByteArray bytes;
    bytes.resize(qsizetype(size));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qsizetype chunk = std::min<qsizetype>(bytes.size() - done, 1 << 20);
        if (!gsf_input_read(stream, chunk, reinterpret_cast<guint8*>(bytes.data() + done))) {
            g_object_unref(stream);
            throw Error("is a damaged compound file (its workbook stream cannot be read)");
        }
        done += chunk;
    }
    g_object_unref(stream);
    return bytes;
}

} // namespace

void setMaxModelBytes(qint64 bytes) {
    maxModelBytes = bytes > 0 ? bytes : defaultMaxModelBytes;
}

namespace detail {

void startGsf() {
    static std::once_flag once;
    std::call_once(once, [] {
        const auto levels = GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"libgsf", "libgsf:msole", "GLib", "GLib-GObject", "GLib-GIO"})
            g_log_set_handler(domain, levels, keepGsfLog, nullptr);
        g_log_set_default_handler(keepGsfLog, nullptr);
        gsf_init();
    });
}

QString takeGsfLog() {
    QString log;
    log.swap(gsfLog);
    return log;
}

} // namespace detail

Workbook readWorkbookStream(const QByteArray& stream) {
    WorkbookReader reader(stream);
    return reader.read();
}

Workbook readWorkbook(const QString& path) {
    const QString name = QFileInfo(path).fileName().isEmpty() ? path : path;
    try {
        const QByteArray bytes = workbookStream(path);
        Workbook book = readWorkbookStream(bytes);
        if (std::any_of(book.macroRecords.begin(), book.macroRecords.end(),
                        [](const Record& r) { return r.id == rObjProj; })) {
            book.storages = readStorages(path, {QStringLiteral("_VBA_PROJECT_CUR")});
            book.dropped << QStringLiteral("a macro project (carried as it is: its code knows the blank's cells, "
                                          "not the report's)");
        }
        return book;
    } catch (const Error& e) {
        throw Error((name + QStringLiteral(": ") + QString::fromUtf8(e.what())).toStdString());
    } catch (const std::bad_alloc&) {
        throw Error((name + QStringLiteral(": there is not enough memory to read it")).toStdString());
    }
}

} // namespace lw::xls
