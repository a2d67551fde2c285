// The streaming workbook writer: cells go row by row into a temporary file in row blocks, the
// string table and the formats stay in memory, and finish() puts the compound file together.
#include "workbook/biff.h"
#include "workbook/gsflog.h"
#include "workbook/reportfile.h"
#include "workbook/writer_budget.h"
#include "workbook/xls.h"
#include "workbook/xls/storage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

#include <gsf/gsf.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lw::xls {

using namespace biff;

namespace {

constexpr qsizetype maxRecordData = 8224;
constexpr int maxXf = 4050;

// A text as the string table stores it after its character count: the option byte (1: UTF-16LE
// characters, 0: one byte each, when every character is Latin-1), then the characters.
void encodeText(const QString& s, QByteArray& out) {
    bool wide = false;
    for (QChar c : s) {
        if (c.unicode() > 0xFF) {
            wide = true;
            break;
        }
    }
    out.resize(1 + s.size() * (wide ? 2 : 1));
    char* p = out.data();
    *p++ = wide ? 1 : 0;
    if (wide) {
        std::memcpy(p, s.utf16(), std::size_t(s.size()) * 2);
    } else {
        for (QChar c : s)
            *p++ = char(c.unicode());
    }
}

std::atomic<qsizetype> budgetBytes{detail::StringTableBudget{}.bytes};
std::atomic<quint32> budgetCount{detail::StringTableBudget{}.count};

// Builds a record whose strings may run on in CONTINUE records: a string's header never splits,
// its characters go on after a new option byte.
class ContinuedRecord {
public:
    ContinuedRecord(QByteArray& out, quint16 id) : m_out(out), m_id(id) {}
    ~ContinuedRecord() { flush(); }
    // Where the next byte goes: the position of its record's header in `out` and the offset in it.
    qsizetype recordStart() const { return m_out.size(); }
    qsizetype offsetInRecord() const { return 4 + m_cur.size(); }
    void room(qsizetype n) {
        if (m_cur.size() + n > maxRecordData)
            flush();
    }
    void raw(const QByteArray& b) {
        room(b.size());
        m_cur.append(b);
    }
    void string(const QString& s) {
        QByteArray enc;
        encodeText(s, enc);
        encoded(enc.constData(), enc.size());
    }
    // A string already encoded by encodeText: its option byte, then its characters.
    void encoded(const char* enc, qsizetype size) {
        const bool wide = enc[0] & 1;
        const int charSize = wide ? 2 : 1;
        const qsizetype chars = (size - 1) / charSize;
        room(3 + (chars == 0 ? 0 : charSize));
        Out o(m_cur);
        o.u16(quint16(chars)).u8(wide ? 1 : 0);
        const char* p = enc + 1;
        qsizetype done = 0;
        while (done < chars) {
            qsizetype fit = (maxRecordData - m_cur.size()) / charSize;
            if (fit <= 0) {
                flush();
                m_cur.append(char(wide ? 1 : 0));
                continue;
            }
            const qsizetype n = std::min<qsizetype>(fit, chars - done);
            m_cur.append(p + done * charSize, n * charSize);
            done += n;
        }
    }
    void flush() {
        if (m_cur.isEmpty() && m_written)
            return;
        appendRecord(m_out, m_written ? quint16(rContinue) : m_id, m_cur);
        m_written = true;
        m_cur.clear();
    }

private:
    QByteArray& m_out;
    quint16 m_id;
    QByteArray m_cur;
    bool m_written = false;
};

QByteArray fontRecord(const Font& f) {
    QByteArray d;
    Out o(d);
    o.u16(f.height)
        .u16(quint16((f.bold ? 0x01 : 0x00) | (f.italic ? 0x02 : 0x00)))
        .u16(0x7FFF)
        .u16(f.bold ? 700 : 400)
        .u16(0);
    o.u8(f.underline ? 1 : 0).u8(0).u8(0).u8(0);
    d.append(unicodeString(f.name.left(255), true));
    return d;
}

// An XF record: font, number format, style or cell (with its parent style), alignment, border.
QByteArray xfRecord(quint16 font, quint16 format, bool style, quint16 parent, quint8 align, bool border,
                    quint8 used) {
    QByteArray d;
    Out o(d);
    o.u16(font).u16(format);
    o.u16(style ? quint16(0xFFF5) : quint16(0x0001 | (parent << 4)));
    o.u8(align).u8(0).u8(0).u8(used);
    if (border) {
        o.u32(0x1111u | (0x40u << 16) | (0x40u << 23));
        o.u32(0x40u | (0x40u << 7));
    } else {
        o.u32(0).u32(0);
    }
    o.u16(0x20C0);
    return d;
}

QByteArray styleRecord(quint16 xf, quint8 builtin) {
    QByteArray d;
    Out(d).u16(quint16(0x8000 | xf)).u8(builtin).u8(0xFF);
    return d;
}

bool isPostCellLayout(quint16 id) {
    return id == rWindow2 || id == rPlv || id == rScl || id == rPane || id == rSelection;
}
bool isTrailingLayout(quint16 id) {
    return id == rPhoneticPr || id == rCodeName || id == rSheetExt || id == rFeatHdr;
}
bool isCalcRecord(quint16 id) {
    return id == rCalcCount || id == rCalcMode || id == rRefMode || id == rIteration || id == rDelta ||
           id == rSaveRecalc;
}
// Where a sheet's layout record goes: 0 before the cells, 1 the window settings after them,
// 2 after the merged cells, -1 nowhere (the writer's own calculation settings). A CONTINUE record
// goes with the record before it.
std::vector<int> layoutGroups(const QList<Record>& layout) {
    std::vector<int> groups;
    int last = 0;
    for (const Record& r : layout) {
        if (r.id != rContinue)
            last = isCalcRecord(r.id) ? -1 : isPostCellLayout(r.id) ? 1 : isTrailingLayout(r.id) ? 2 : 0;
        groups.push_back(last);
    }
    return groups;
}

bool startsPageSetup(quint16 id) {
    return id == rVerticalPageBreaks || id == rHeader || id == rFooter || id == rHCenter || id == rVCenter ||
           id == rLeftMargin || id == rRightMargin || id == rTopMargin || id == rBottomMargin || id == rPls ||
           id == rSetup || id == rHeaderFooter || id == rProtect || id == rDefColWidth || id == 0x0099;
}

// A record whose data is one 16-bit number.
void appendU16Record(QByteArray& out, quint16 id, quint16 value) {
    QByteArray d;
    Out(d).u16(value);
    appendRecord(out, id, d);
}

// The BOF of a BIFF8 substream: 0x0005 the workbook globals, 0x0010 a worksheet.
void appendBof(QByteArray& out, quint16 substream) {
    QByteArray d;
    Out(d).u16(0x0600).u16(substream).u16(0x0DBB).u16(0x07CC).u32(0).u32(0x00000006);
    appendRecord(out, rBof, d);
}

void initGsf() {
    detail::startGsf();
}


// Reads the sheet data back from their file for the compound file, into one buffer kept for
// all of them (of up to 1 MB, no larger than the data need).
class SheetDataReader {
public:
    explicit SheetDataReader(int fd) : m_fd(fd) {}

    // Up to left bytes from offset at: where they are and how many (0 or less: a failure).
    std::pair<const char*, qint64> read(qint64 at, qint64 left) {
        const std::size_t want = std::size_t(std::min<qint64>(left, qint64(1) << 20));
        if (m_buffer.size() < want)
            m_buffer.resize(want);
        ssize_t n;
        do
            n = ::pread(m_fd, m_buffer.data(), want, off_t(at));
        while (n < 0 && errno == EINTR);
        return {m_buffer.data(), qint64(n)};
    }

private:
    int m_fd;
    std::vector<char> m_buffer;
};

} // namespace

struct WorkbookWriter::Impl {
    QString path;
    bool finished = false;
    std::function<bool()> cancelled;
    QString permissionsTemplate;
    // What streamSize() counts without walking everything again.
    qsizetype formatsCounted = -1;
    qint64 formatBytes = 0;
    qint64 endedSheetBytes = 0;

    // Formats: the global formatting records in their order.
    QList<Record> formats;
    std::vector<QByteArray> xfs; // XF data by index
    int fontCount = 0;
    std::vector<std::pair<quint16, QString>> formatCodes;
    quint16 nextFormat = 164;
    QHash<QByteArray, quint16> ownFormats;
    QHash<QString, quint16> numberFormatCopies;
    bool date1904 = false;

    // Shared strings, each text once: encoded (encodeText) one after another in sstText, text i
    // from sstStart[i] to sstStart[i + 1]. sstSlots finds a text by its hash (open addressing, at
    // most half full): the hash's high bits and the text's index + 1 (0: a free slot), so the table
    // costs 8 to 16 bytes a text beside the text itself. Past the budget, new texts of at most 255
    // characters go into LABEL records instead; longer ones (a LABEL holds at most 255) still join.
    // The hash doubles when it is half full (each text's slot found again from its bytes), so a
    // lookup stays O(1) and the hash stays small enough for the processor's caches: made once for
    // the budget's count of texts, its slots lay scattered over 8 MB, and a report of a thousand
    // distinct texts spent an eighth of its time waiting for them.
    struct Slot {
        quint32 tag = 0;
        quint32 index = 0;
    };
    struct FreeSlots {
        void operator()(Slot* p) const { std::free(p); }
    };
    std::vector<char> sstText;
    std::vector<quint32> sstStart{0};
    std::unique_ptr<Slot[], FreeSlots> sstSlots;
    std::size_t sstSlotCount = 0; // a power of two
    void makeSlots(std::size_t count);
    quint32 sstRefs = 0;
    qsizetype sstBudgetBytes = budgetBytes.load();
    quint32 sstBudgetCount = budgetCount.load();
    QByteArray encodedText; // the text being looked up
    quint32 sstCount() const { return quint32(sstStart.size() - 1); }

    // Sheet data, one sheet after another, in a temporary file.
    QTemporaryFile data;
    QByteArray pending; // written to `data` in large pieces
    qint64 dataSize = 0;

    struct SheetInfo {
        QString name;
        QList<Record> layout;
        std::array<std::optional<ColumnFormat>, maxColumns> columns;
        std::vector<MergedRange> merged;
        std::vector<int> breaks;
        std::optional<std::pair<int, int>> titles;
        bool hidden = false;
        QByteArray filter, objects, cellFormats; // whole records given by addSheetRecords
        qint64 dataStart = 0;
        qint64 dataLength = 0;
        std::vector<quint32> dbcells; // relative to dataStart
        int firstRow = -1, lastRow = -1, firstColumn = maxColumns, lastColumn = -1;
    };
    std::vector<SheetInfo> sheets;
    bool inSheet = false;
    // A sheet's records besides its cells, about: BOF, INDEX, layout, merged cells, window, EOF.
    static qint64 sheetOwnBytes(const SheetInfo& s) {
        qint64 bytes = 512 + 4 * qint64(s.dbcells.size()) + 8 * qint64(s.merged.size());
        for (const Record& r : s.layout)
            bytes += 4 + r.data.size();
        return bytes;
    }
    int lastRow = -1, lastColumn = -1;
    int maxSheetRef = -1;
    std::vector<DefinedName> names;
    int maxNameRef = 0; // the highest name a formula uses (1-based)
    QByteArray drawingGroup;
    bool sheetReferences = false;
    QList<Record> macroRecords;
    std::vector<StorageEntry> storages;

    // The current block of 32 rows.
    struct BlockRow {
        bool used = false;
        std::optional<RowFormat> format;
        QByteArray cells;
        int firstColumn = maxColumns, lastColumn = -1;
    };
    int blockStart = -1;
    std::array<BlockRow, 32> block;

    qint64 sheetPos() const { return dataSize + pending.size() - sheets.back().dataStart; }
    void output(const QByteArray& b) {
        pending.append(b);
        if (pending.size() >= (1 << 20))
            flushPending();
    }
    // Sheet data goes straight to the file's descriptor, so that a failure tells its cause (a full
    // disk, a size limit) rather than "Unknown error".
    void flushPending() {
        if (pending.isEmpty())
            return;
        const int fd = data.handle();
        qsizetype done = 0;
        while (done < pending.size()) {
            const ssize_t n = ::pwrite(fd, pending.constData() + done, std::size_t(pending.size() - done),
                                       off_t(dataSize + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw Error(QStringLiteral("cannot write the sheet data to the temporary folder %1: %2")
                                .arg(QDir::toNativeSeparators(QDir::tempPath()),
                                     QString::fromLocal8Bit(strerror(n < 0 ? errno : ENOSPC)))
                                .toStdString());
            done += n;
        }
        dataSize += pending.size();
        pending.resize(0); // its room kept
    }

    void ownFormatRecords();
    void insertFormatRecord(quint16 id, const QByteArray& d);
    quint16 fontIndex(const Font& f);
    quint16 formatIndex(const QString& code);
    quint16 addXf(const QByteArray& d);
    std::optional<quint32> stringIndex(const QString& s);
    void insertSlot(std::size_t hash, quint32 index);

    SheetInfo& sheet() {
        if (!inSheet)
            throw Error("a cell or row was written outside a sheet (call beginSheet first)");
        return sheets.back();
    }
    void placeCell(int row, int column);
    void addCellRecord(int row, quint16 id, const QByteArray& d, int last = -1);
    char* cellRecord(int row, int column, quint16 xf, quint16 id, int size);
    void flushBlock();
    void checkXf(quint16 xf) const {
        if (xf >= xfs.size())
            throw Error(QStringLiteral("the cell format %1 does not exist (the workbook has %2)")
                            .arg(xf)
                            .arg(xfs.size())
                            .toStdString());
    }
    QByteArray globals(std::vector<qsizetype>& boundSheetPos) const;
    // The sheet shown when the workbook opens: the first that is not hidden (the first of all when
    // every one is).
    std::size_t activeSheet() const {
        for (std::size_t i = 0; i < sheets.size(); ++i)
            if (!sheets[i].hidden)
                return i;
        return 0;
    }
    void sheetParts(std::size_t i, qint64 start, QByteArray& head, QByteArray& tail) const;
};

void WorkbookWriter::Impl::ownFormatRecords() {
    formats.clear();
    xfs.clear();
    formatCodes.clear();
    ownFormats.clear();
    numberFormatCopies.clear();
    nextFormat = 164;
    fontCount = 0;
    const Font plain;
    Font bold = plain;
    bold.bold = true;
    Font italic = plain;
    italic.italic = true;
    Font boldItalic = bold;
    boldItalic.italic = true;
    for (const Font& f : {plain, bold, italic, boldItalic, plain}) {
        formats.append(Record{rFont, fontRecord(f)});
        ++fontCount;
    }
    // Style XFs 0..14, the default cell format 15, and the styles Comma, Comma [0], Currency,
    // Currency [0] and Percent (16..20), as every BIFF8 workbook holds them.
    for (int i = 0; i < 15; ++i) {
        const quint16 font = i == 0 ? 0 : (i <= 2 ? 1 : (i <= 4 ? 2 : 0));
        const QByteArray d = xfRecord(font, 0, true, 0, 0x20, false, i == 0 ? 0x00 : 0xF4);
        formats.append(Record{rXf, d});
        xfs.push_back(d);
    }
    {
        const QByteArray d = xfRecord(0, 0, false, 0, 0x20, false, 0x00);
        formats.append(Record{rXf, d});
        xfs.push_back(d);
    }
    const quint16 styleFormats[5] = {43, 41, 44, 42, 9};
    for (quint16 f : styleFormats) {
        const QByteArray d = xfRecord(1, f, true, 0, 0x20, false, 0xF8);
        formats.append(Record{rXf, d});
        xfs.push_back(d);
    }
    formats.append(Record{rStyle, styleRecord(0x10, 3)});
    formats.append(Record{rStyle, styleRecord(0x11, 6)});
    formats.append(Record{rStyle, styleRecord(0x12, 4)});
    formats.append(Record{rStyle, styleRecord(0x13, 7)});
    formats.append(Record{rStyle, styleRecord(0x00, 0)});
    formats.append(Record{rStyle, styleRecord(0x14, 5)});
}

void WorkbookWriter::Impl::insertFormatRecord(quint16 id, const QByteArray& d) {
    // After the last record of the same kind, else after the kinds that come before it.
    static const quint16 order[] = {rFont, rFormat, rXf};
    qsizetype at = -1;
    for (quint16 kind : order) {
        for (qsizetype i = 0; i < formats.size(); ++i) {
            if (formats[i].id == kind)
                at = i;
        }
        if (kind == id)
            break;
    }
    formats.insert(at + 1, Record{id, d});
}

quint16 WorkbookWriter::Impl::fontIndex(const Font& f) {
    const QByteArray d = fontRecord(f);
    int n = 0;
    for (const Record& r : formats) {
        if (r.id != rFont)
            continue;
        if (r.data == d)
            return quint16(n < 4 ? n : n + 1); // font index 4 does not exist
        ++n;
    }
    insertFormatRecord(rFont, d);
    ++fontCount;
    return quint16(n < 4 ? n : n + 1);
}

quint16 WorkbookWriter::Impl::formatIndex(const QString& code) {
    for (const auto& [index, c] : formatCodes) {
        if (c == code)
            return index;
    }
    const int builtin = builtinFormatIndex(code);
    if (builtin >= 0)
        return quint16(builtin);
    if (code.size() > 255)
        throw Error("a number format is longer than 255 characters");
    const quint16 index = nextFormat++;
    QByteArray d;
    Out(d).u16(index);
    d.append(unicodeString(code, false));
    insertFormatRecord(rFormat, d);
    formatCodes.emplace_back(index, code);
    return index;
}

quint16 WorkbookWriter::Impl::addXf(const QByteArray& d) {
    if (int(xfs.size()) >= maxXf)
        throw Error("the workbook holds too many cell formats (at most 4,050)");
    insertFormatRecord(rXf, d);
    xfs.push_back(d);
    return quint16(xfs.size() - 1);
}

static std::size_t textHash(const char* p, qsizetype n) {
    return qHash(QByteArrayView(p, n), 0);
}

static quint32 hashTag(std::size_t h) {
    return quint32(quint64(h) >> 32) ^ quint32(h);
}

// A hash of count slots (a power of two) holding the texts already in the table.
void WorkbookWriter::Impl::makeSlots(std::size_t count) {
    sstSlots.reset(static_cast<Slot*>(std::calloc(count, sizeof(Slot))));
    if (!sstSlots)
        throw Error("out of memory for the workbook's string table");
    sstSlotCount = count;
    for (quint32 i = 0; i < sstCount(); ++i)
        insertSlot(textHash(sstText.data() + sstStart[i], sstStart[i + 1] - sstStart[i]), i);
}

void WorkbookWriter::Impl::insertSlot(std::size_t hash, quint32 index) {
    const std::size_t mask = sstSlotCount - 1;
    std::size_t i = hash & mask;
    while (sstSlots[i].index != 0)
        i = (i + 1) & mask;
    sstSlots[i] = Slot{hashTag(hash), index + 1};
}

// The text's index in the shared string table, added when new; none when it is new and the table
// is past its budget (the caller writes it as a LABEL).
std::optional<quint32> WorkbookWriter::Impl::stringIndex(const QString& s) {
    encodeText(s, encodedText);
    const qsizetype n = encodedText.size();
    const std::size_t hash = textHash(encodedText.constData(), n);
    const quint32 tag = hashTag(hash);
    if (!sstSlots) {
        const std::size_t texts = std::max<std::size_t>(512, sstCount() + 1);
        std::size_t count = 1024;
        while (count < texts * 2)
            count *= 2;
        makeSlots(count);
    }
    {
        const std::size_t mask = sstSlotCount - 1;
        for (std::size_t i = hash & mask; sstSlots[i].index != 0; i = (i + 1) & mask) {
            const Slot& slot = sstSlots[i];
            if (slot.tag != tag)
                continue;
            const quint32 index = slot.index - 1;
            const qsizetype start = sstStart[index];
            if (sstStart[index + 1] - start == n &&
                std::memcmp(sstText.data() + start, encodedText.constData(), std::size_t(n)) == 0) {
                ++sstRefs;
                return index;
            }
        }
    }
    const qsizetype size = qsizetype(sstText.size());
    if (s.size() <= 255 && (sstCount() >= sstBudgetCount || size + n > sstBudgetBytes))
        return std::nullopt;
    if (size + n > 0x7FFFFFFF || sstCount() >= 0x7FFFFFFF)
        throw Error("the workbook's texts take more than 2 GB");
    // The text store is reserved for the whole budget at once (pages are only used as texts fill
    // them), so it is not copied as it grows; past the budget it grows by doubling.
    if (std::size_t(size + n) > sstText.capacity()) {
        qsizetype want = std::max<qsizetype>({qsizetype(sstText.capacity()) * 2, size + n, 1 << 16});
        if (size + n <= sstBudgetBytes)
            want = std::max<qsizetype>(size + n, std::min<qsizetype>(sstBudgetBytes, qsizetype(64) << 20));
        sstText.reserve(std::size_t(want));
    }
    sstText.insert(sstText.end(), encodedText.constData(), encodedText.constData() + n);
    const quint32 index = sstCount();
    sstStart.push_back(quint32(size + n));
    insertSlot(hash, index);
    if (std::size_t(sstCount()) * 2 > sstSlotCount)
        makeSlots(sstSlotCount * 2);
    ++sstRefs;
    return index;
}

void WorkbookWriter::Impl::placeCell(int row, int column) {
    SheetInfo& s = sheet();
    if (row < 0 || row >= maxRows)
        throw Error(QStringLiteral("row %1 lies outside a sheet's 65,536 rows").arg(row + 1).toStdString());
    if (column < 0 || column >= maxColumns)
        throw Error(
            QStringLiteral("column %1 lies outside a sheet's 256 columns").arg(column + 1).toStdString());
    if (row < lastRow || (row == lastRow && column <= lastColumn) || (blockStart >= 0 && row < blockStart))
        throw Error(QStringLiteral("cells must be written in row order, columns ascending (row %1, column %2 "
                                   "after row %3, column %4)")
                        .arg(row + 1)
                        .arg(column + 1)
                        .arg(lastRow + 1)
                        .arg(lastColumn + 1)
                        .toStdString());
    lastRow = row;
    lastColumn = column;
    if (s.firstRow < 0)
        s.firstRow = row;
    s.lastRow = row;
    s.firstColumn = std::min(s.firstColumn, column);
    s.lastColumn = std::max(s.lastColumn, column);
}

void WorkbookWriter::Impl::addCellRecord(int row, quint16 id, const QByteArray& d, int last) {
    if (blockStart < 0 || row >= blockStart + 32) {
        flushBlock();
        blockStart = row - row % 32;
    }
    BlockRow& br = block[std::size_t(row - blockStart)];
    br.used = true;
    const int column = biff::u16(d.constData() + 2);
    br.firstColumn = std::min(br.firstColumn, column);
    br.lastColumn = std::max(br.lastColumn, std::max(column, last));
    appendRecord(br.cells, id, d);
}

// A cell record of size data bytes (row, column and format included) at the end of its row's
// cells, its header and first six bytes written: where the rest of its data goes. The rows' buffers
// keep their room from block to block, so a cell costs no allocation and no copy of its own.
char* WorkbookWriter::Impl::cellRecord(int row, int column, quint16 xf, quint16 id, int size) {
    if (blockStart < 0 || row >= blockStart + 32) {
        flushBlock();
        blockStart = row - row % 32;
    }
    BlockRow& br = block[std::size_t(row - blockStart)];
    br.used = true;
    br.firstColumn = std::min(br.firstColumn, column);
    br.lastColumn = std::max(br.lastColumn, column);
    const qsizetype at = br.cells.size();
    if (at + 4 + size > br.cells.capacity())
        br.cells.reserve(std::max<qsizetype>({br.cells.capacity() * 2, at + 4 + size, 1024}));
    br.cells.resize(at + 4 + size);
    char* p = br.cells.data() + at;
    put16(p, id);
    put16(p + 2, quint16(size));
    put16(p + 4, quint16(row));
    put16(p + 6, quint16(column));
    put16(p + 8, xf);
    return p + 10;
}

void WorkbookWriter::Impl::flushBlock() {
    if (blockStart < 0)
        return;
    SheetInfo& s = sheets.back();
    // Written straight into the pending output, whose room is kept from one piece to the next.
    if (pending.capacity() < (1 << 20) + (1 << 18))
        pending.reserve((1 << 20) + (1 << 18));
    const qsizetype start = pending.size();
    // ROW records, then the cells of each row, then the DBCELL that finds them.
    std::vector<int> used;
    for (int i = 0; i < 32; ++i) {
        if (block[std::size_t(i)].used)
            used.push_back(i);
    }
    if (!used.empty()) {
        for (int i : used) {
            const BlockRow& br = block[std::size_t(i)];
            const bool hasCells = br.lastColumn >= 0;
            quint16 flags = 0x0100;
            quint16 height = 255;
            quint16 xf = 0x0F;
            if (br.format) {
                height = br.format->height & 0x7FFF;
                if (br.format->customHeight)
                    flags |= 0x40;
                if (br.format->hidden)
                    flags |= 0x20;
                if (br.format->xf) {
                    flags |= 0x80;
                    xf = *br.format->xf & 0x0FFF;
                }
            }
            char r[20];
            put16(r, rRow);
            put16(r + 2, 16);
            put16(r + 4, quint16(blockStart + i));
            put16(r + 6, quint16(hasCells ? br.firstColumn : 0));
            put16(r + 8, quint16(hasCells ? br.lastColumn + 1 : 0));
            put16(r + 10, height);
            put16(r + 12, 0);
            put16(r + 14, 0);
            put16(r + 16, flags);
            put16(r + 18, xf);
            pending.append(r, sizeof r);
        }
        const qsizetype secondRow = 20; // the end of the first ROW record
        std::vector<qsizetype> firstCell;
        for (int i : used) {
            // One entry per row that holds cells, as the row block's index counts them.
            if (!block[std::size_t(i)].cells.isEmpty())
                firstCell.push_back(pending.size() - start);
            pending.append(block[std::size_t(i)].cells);
        }
        QByteArray d;
        Out o(d);
        o.u32(quint32(pending.size() - start));
        qsizetype prev = secondRow;
        for (qsizetype p : firstCell) {
            o.u16(quint16(std::min<qsizetype>(p - prev, 0xFFFF)));
            prev = p;
        }
        s.dbcells.push_back(quint32(sheetPos()));
        appendRecord(pending, rDbCell, d);
        if (pending.size() >= (1 << 20))
            flushPending();
    }
    for (BlockRow& br : block) {
        br.used = false;
        br.format.reset();
        br.cells.resize(0); // its room kept for the next block
        br.firstColumn = maxColumns;
        br.lastColumn = -1;
    }
    blockStart = -1;
}

QByteArray WorkbookWriter::Impl::globals(std::vector<qsizetype>& boundSheetPos) const {
    QByteArray g;
    // Room for it all at once: the string table may take megabytes, and growing by doubling
    // would hold it up to three times over.
    qsizetype formatBytes = 0;
    for (const Record& r : formats)
        formatBytes += 4 + r.data.size();
    const qsizetype sstBytes = qsizetype(sstText.size()) + 2 * qsizetype(sstCount());
    g.reserve(formatBytes + sstBytes + sstBytes / 1024 + qsizetype(sheets.size()) * 1024 + (1 << 16));
    auto rec = [&g](quint16 id, const QByteArray& d) { appendRecord(g, id, d); };
    auto u16rec = [&g](quint16 id, quint16 v) { appendU16Record(g, id, v); };
    appendBof(g, 0x0005);
    u16rec(rInterfaceHdr, 1200);
    rec(rInterfaceEnd, {});
    u16rec(rCodepage, 1200);
    u16rec(rWindowProtect, 0);
    u16rec(rProtect, 0);
    u16rec(rPassword, 0);
    {
        QByteArray d;
        // The first visible sheet is the active one.
        const quint16 active = quint16(activeSheet());
        Out(d).u16(0).u16(0).u16(0x4000).u16(0x2000).u16(0x0038).u16(active).u16(active).u16(1).u16(0x0258);
        rec(rWindow1, d);
    }
    u16rec(rBackup, 0);
    u16rec(rHideObj, 0);
    u16rec(rDateMode, date1904 ? 1 : 0);
    u16rec(rPrecision, 1);
    u16rec(rRefreshAll, 0);
    u16rec(rBookBool, 0);
    for (const Record& r : macroRecords)
        rec(r.id, r.data);
    for (const Record& r : formats)
        rec(r.id, r.data);
    for (const SheetInfo& s : sheets) {
        boundSheetPos.push_back(g.size() + 4);
        QByteArray d;
        // At least one sheet stays visible: a workbook of hidden sheets shows nothing to open.
        const bool hidden = s.hidden && std::size_t(&s - sheets.data()) != activeSheet();
        Out(d).u32(0).u8(hidden ? 1 : 0).u8(0);
        d.append(unicodeString(s.name, true));
        rec(rBoundSheet, d);
    }
    {
        QByteArray d;
        Out(d).u16(1).u16(1);
        rec(rCountry, d);
    }
    bool titles = false;
    for (const SheetInfo& s : sheets)
        titles = titles || s.titles.has_value();
    if (maxSheetRef >= 0 || titles || !names.empty() || sheetReferences) {
        // This workbook's own sheets, one EXTERNSHEET entry per sheet in sheet order, so that a
        // 3-D reference's entry index is the sheet's index.
        QByteArray d;
        Out(d).u16(quint16(sheets.size())).u16(0x0401);
        rec(rSupBook, d);
        QByteArray x;
        Out o(x);
        o.u16(quint16(sheets.size()));
        for (std::size_t i = 0; i < sheets.size(); ++i)
            o.u16(0).u16(quint16(i)).u16(quint16(i));
        appendLongRecord(g, rExternSheet, x);
        // The names given first, so that a formula's name index is its place among them.
        for (const DefinedName& name : names) {
            const QString text = name.builtin >= 0 ? QString(QChar(char16_t(name.builtin))) : name.name;
            bool wide = false;
            for (QChar c : text)
                wide = wide || c.unicode() > 0xFF;
            QByteArray n;
            Out on(n);
            on.u16(quint16((name.hidden ? 0x01 : 0) | (name.builtin >= 0 ? 0x20 : 0)))
                .u8(0)
                .u8(quint8(text.size()))
                .u16(quint16(name.formula.tokens().size()))
                .u16(0)
                .u16(quint16(name.scope + 1))
                .u32(0)
                .u8(wide ? 1 : 0);
            for (QChar c : text) {
                if (wide)
                    on.u16(c.unicode());
                else
                    on.u8(quint8(c.unicode()));
            }
            on.bytes(name.formula.tokens()).bytes(name.formula.extra());
            appendLongRecord(g, rName, n);
        }
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            if (!sheets[i].titles)
                continue;
            QByteArray n;
            Out on(n);
            on.u16(0x0020).u8(0).u8(1).u16(11).u16(0).u16(quint16(i + 1)).u32(0);
            on.u8(0).u8(0x07);
            on.u8(ptgArea3d).u16(quint16(i)).u16(quint16(sheets[i].titles->first));
            on.u16(quint16(sheets[i].titles->second)).u16(0).u16(0x00FF);
            rec(rName, n);
        }
    }
    if (!drawingGroup.isEmpty())
        appendLongRecord(g, rMsoDrawingGroup, drawingGroup);
    // The shared string table, and EXTSST pointing into it every `bucket` strings.
    const quint32 count = sstCount();
    const quint16 bucket = quint16(std::max<quint32>(8, (count + 1019) / 1020));
    QByteArray ext;
    Out oe(ext);
    oe.u16(bucket);
    {
        ContinuedRecord sstRec(g, rSst);
        QByteArray head;
        Out(head).u32(sstRefs).u32(count);
        sstRec.raw(head);
        for (quint32 i = 0; i < count; ++i) {
            const char* text = sstText.data() + sstStart[i];
            const qsizetype size = sstStart[i + 1] - sstStart[i];
            sstRec.room(3 + (size > 1 ? 2 : 0));
            if (i % bucket == 0)
                oe.u32(quint32(sstRec.recordStart() + sstRec.offsetInRecord()))
                    .u16(quint16(sstRec.offsetInRecord()))
                    .u16(0);
            sstRec.encoded(text, size);
        }
    }
    rec(rExtSst, ext);
    rec(rEof, {});
    return g;
}

void WorkbookWriter::Impl::sheetParts(std::size_t index, qint64 start, QByteArray& head,
                                      QByteArray& tail) const {
    const SheetInfo& s = sheets[index];
    auto rec = [&head](quint16 id, const QByteArray& d) { appendRecord(head, id, d); };
    auto u16rec = [&head](quint16 id, quint16 v) { appendU16Record(head, id, v); };
    appendBof(head, 0x0010);
    const bool hasRows = s.firstRow >= 0 || !s.dbcells.empty();
    const qsizetype indexPos = head.size();
    {
        QByteArray d(16 + 4 * qsizetype(s.dbcells.size()), '\0');
        rec(rIndex, d);
    }
    // The sheet asks to be calculated automatically and recalculated before it is saved.
    u16rec(rCalcCount, 100);
    u16rec(rCalcMode, 1);
    u16rec(rRefMode, 1);
    u16rec(rIteration, 0);
    {
        QByteArray d;
        Out(d).f64(0.001);
        rec(rDelta, d);
    }
    u16rec(rSaveRecalc, 1);
    // Layout records before the cells, page breaks where the page setup starts.
    QByteArray breaks;
    if (!s.breaks.empty()) {
        std::vector<int> b = s.breaks;
        std::sort(b.begin(), b.end());
        b.erase(std::unique(b.begin(), b.end()), b.end());
        Out o(breaks);
        o.u16(quint16(b.size()));
        for (int r : b)
            o.u16(quint16(r)).u16(0).u16(0x00FF);
    }
    bool breaksDone = breaks.isEmpty();
    qsizetype defColWidthPos = 0;
    const std::vector<int> groups = layoutGroups(s.layout);
    for (qsizetype i = 0; i < s.layout.size(); ++i) {
        const Record& r = s.layout[i];
        if (groups[std::size_t(i)] != 0)
            continue;
        if (!breaksDone && startsPageSetup(r.id)) {
            rec(rHorizontalPageBreaks, breaks);
            breaksDone = true;
        }
        if (r.id == rDefColWidth)
            defColWidthPos = head.size();
        rec(r.id, r.data);
    }
    if (!breaksDone)
        rec(rHorizontalPageBreaks, breaks);
    // Column formats, merged into runs of equal columns.
    for (int c = 0; c < maxColumns;) {
        if (!s.columns[std::size_t(c)]) {
            ++c;
            continue;
        }
        const ColumnFormat& f = *s.columns[std::size_t(c)];
        int e = c;
        while (e + 1 < maxColumns && s.columns[std::size_t(e + 1)] &&
               s.columns[std::size_t(e + 1)]->width == f.width && s.columns[std::size_t(e + 1)]->xf == f.xf &&
               s.columns[std::size_t(e + 1)]->hidden == f.hidden)
            ++e;
        QByteArray d;
        Out(d).u16(quint16(c)).u16(quint16(e)).u16(f.width).u16(f.xf).u16(f.hidden ? 1 : 0).u16(0);
        rec(rColInfo, d);
        c = e + 1;
    }
    head.append(s.filter);
    {
        QByteArray d;
        Out o(d);
        if (s.firstRow >= 0)
            o.u32(quint32(s.firstRow))
                .u32(quint32(s.lastRow + 1))
                .u16(quint16(s.firstColumn))
                .u16(quint16(s.lastColumn + 1));
        else
            o.u32(0).u32(0).u16(0).u16(0);
        o.u16(0);
        rec(rDimensions, d);
    }
    // The INDEX record, now that every position is known.
    {
        char* p = head.data() + indexPos + 4;
        put32(p, 0);
        put32(p + 4, hasRows && s.firstRow >= 0 ? quint32(s.firstRow) : 0);
        put32(p + 8, hasRows && s.firstRow >= 0 ? quint32(s.lastRow + 1) : 0);
        put32(p + 12, defColWidthPos ? quint32(start + defColWidthPos) : 0);
        for (std::size_t i = 0; i < s.dbcells.size(); ++i)
            put32(p + 16 + 4 * i, quint32(start + head.size() + s.dbcells[i]));
    }
    // After the cells: the window settings (only the first sheet selected), merged cells, the rest.
    auto trec = [&tail](quint16 id, const QByteArray& d) { appendRecord(tail, id, d); };
    tail.append(s.objects);
    bool window = false;
    for (qsizetype i = 0; i < s.layout.size(); ++i) {
        const Record& r = s.layout[i];
        if (groups[std::size_t(i)] != 1)
            continue;
        QByteArray d = r.data;
        if (r.id == rWindow2 && d.size() >= 2) {
            window = true;
            quint16 flags = biff::u16(d.constData()) & ~0x0600;
            if (index == activeSheet())
                flags |= 0x0600;
            put16(d.data(), flags);
        }
        trec(r.id, d);
    }
    if (!window) {
        QByteArray d;
        Out(d).u16(index == activeSheet() ? 0x06B6 : 0x00B6).u16(0).u16(0).u32(0x40).u16(0).u16(0).u32(0);
        trec(rWindow2, d);
    }
    for (std::size_t i = 0; i < s.merged.size(); i += 1026) {
        const std::size_t n = std::min<std::size_t>(1026, s.merged.size() - i);
        QByteArray d;
        Out o(d);
        o.u16(quint16(n));
        for (std::size_t k = i; k < i + n; ++k) {
            const MergedRange& m = s.merged[k];
            o.u16(quint16(m.firstRow))
                .u16(quint16(m.lastRow))
                .u16(quint16(m.firstColumn))
                .u16(quint16(m.lastColumn));
        }
        trec(rMergedCells, d);
    }
    tail.append(s.cellFormats);
    for (qsizetype i = 0; i < s.layout.size(); ++i) {
        if (groups[std::size_t(i)] == 2)
            trec(s.layout[i].id, s.layout[i].data);
    }
    trec(rEof, {});
}

// WorkbookWriter -------------------------------------------------------------------------------------

WorkbookWriter::WorkbookWriter(const QString& path) : d(std::make_unique<Impl>()) {
    d->path = path;
    d->ownFormatRecords();
    d->data.setFileTemplate(QDir::tempPath() + QStringLiteral("/ledgerwick-sheets-XXXXXX"));
    if (!d->data.open())
        throw Error(QStringLiteral("cannot make a temporary file for the sheet data in %1: %2")
                        .arg(QDir::tempPath(), d->data.errorString())
                        .toStdString());
    // Open and without a name from now on: whatever ends this process, nothing is left behind.
    (void)::unlink(QFile::encodeName(d->data.fileName()).constData());
}

WorkbookWriter::~WorkbookWriter() = default;

void WorkbookWriter::useFormatsOf(const Workbook& source) {
    if (!d->sheets.empty())
        throw Error("the formats of a template must be taken before the first sheet");
    d->formats = source.formats.records;
    d->xfs.clear();
    d->formatCodes.clear();
    d->ownFormats.clear();
    d->numberFormatCopies.clear();
    d->fontCount = 0;
    d->nextFormat = 164;
    for (const Record& r : d->formats) {
        if (r.id == rXf)
            d->xfs.push_back(r.data);
        else if (r.id == rFont)
            ++d->fontCount;
        else if (r.id == rFormat && r.data.size() >= 2)
            d->nextFormat = std::max<quint16>(d->nextFormat, quint16(biff::u16(r.data.constData()) + 1));
    }
    d->formatCodes = source.formatCodes;
    if (d->xfs.size() < 16 || d->fontCount < 1) {
        d->ownFormatRecords();
        throw Error("the template's formats are incomplete (fewer than 16 cell formats or no font)");
    }
}

void WorkbookWriter::setDate1904(bool date1904) {
    d->date1904 = date1904;
}

quint16 WorkbookWriter::addFormat(const CellFormat& f) {
    const quint16 font = d->fontIndex(f.font);
    const quint16 format = d->formatIndex(f.numberFormat);
    const quint8 align = quint8(quint8(f.align) | (f.wrap ? 0x08 : 0x00) | 0x20);
    const QByteArray rec = xfRecord(font, format, false, 0, align, f.border, 0xFC);
    const auto it = d->ownFormats.constFind(rec);
    if (it != d->ownFormats.constEnd())
        return it.value();
    const quint16 index = d->addXf(rec);
    d->ownFormats.insert(rec, index);
    return index;
}

quint16 WorkbookWriter::withNumberFormat(quint16 xf, const QString& numberFormat) {
    d->checkXf(xf);
    const QString key = QString::number(xf) + u'|' + numberFormat;
    const auto it = d->numberFormatCopies.constFind(key);
    if (it != d->numberFormatCopies.constEnd())
        return it.value();
    QByteArray rec = d->xfs[xf];
    const quint16 format = d->formatIndex(numberFormat);
    put16(rec.data() + 2, format);
    const quint16 flags = biff::u16(rec.constData() + 4);
    if (flags & 0x0004) // a style: the copy becomes a cell format of that style
        put16(rec.data() + 4, quint16(0x0001 | (xf << 4)));
    rec[9] = char(quint8(rec[9]) | 0x04);
    const quint16 index = d->addXf(rec);
    d->numberFormatCopies.insert(key, index);
    return index;
}

void WorkbookWriter::beginSheet(const QString& name, const Sheet* layoutSource) {
    if (d->finished)
        throw Error("the workbook is already finished");
    if (d->inSheet)
        endSheet();
    const QString problem = sheetNameProblem(name);
    if (!problem.isEmpty())
        throw Error(problem.toStdString());
    for (const auto& s : d->sheets) {
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            throw Error(
                QStringLiteral("the workbook already holds a sheet named \"%1\"").arg(s.name).toStdString());
    }
    if (d->sheets.size() >= std::size_t(maxSheets))
        throw Error("a workbook holds at most 65,535 sheets");
    d->sheets.emplace_back();
    Impl::SheetInfo& s = d->sheets.back();
    s.name = name;
    s.dataStart = d->dataSize + d->pending.size();
    if (layoutSource) {
        s.layout = layoutSource->layoutRecords;
        for (const ColumnFormat& c : layoutSource->columns) {
            for (int i = std::max(0, c.first); i <= std::min(c.last, maxColumns - 1); ++i)
                s.columns[std::size_t(i)] = c;
        }
    } else {
        QByteArray d1;
        Out(d1).u16(0).u16(255);
        s.layout.append(Record{rDefaultRowHeight, d1});
        QByteArray d2;
        Out(d2).u16(0x04C1);
        s.layout.append(Record{rWsBool, d2});
        QByteArray d3;
        Out(d3).u16(8);
        s.layout.append(Record{rDefColWidth, d3});
    }
    d->inSheet = true;
    d->lastRow = -1;
    d->lastColumn = -1;
    d->blockStart = -1;
}

void WorkbookWriter::setColumnWidth(int first, int last, quint16 width, quint16 xf) {
    Impl::SheetInfo& s = d->sheet();
    if (first < 0 || last >= maxColumns || first > last)
        throw Error(QStringLiteral("columns %1 to %2 lie outside a sheet's 256 columns")
                        .arg(first + 1)
                        .arg(last + 1)
                        .toStdString());
    d->checkXf(xf);
    for (int i = first; i <= last; ++i)
        s.columns[std::size_t(i)] = ColumnFormat{i, i, width, xf, false};
}

void WorkbookWriter::setRow(const RowFormat& row) {
    d->sheet();
    if (row.row < 0 || row.row >= maxRows)
        throw Error(
            QStringLiteral("row %1 lies outside a sheet's 65,536 rows").arg(row.row + 1).toStdString());
    if (row.row < d->lastRow || (d->blockStart >= 0 && row.row < d->blockStart))
        throw Error(QStringLiteral("the format of row %1 comes after later rows (rows are written in order)")
                        .arg(row.row + 1)
                        .toStdString());
    if (row.xf)
        d->checkXf(*row.xf);
    if (d->blockStart < 0 || row.row >= d->blockStart + 32) {
        d->flushBlock();
        d->blockStart = row.row - row.row % 32;
    }
    Impl::BlockRow& br = d->block[std::size_t(row.row - d->blockStart)];
    br.used = true;
    br.format = row;
    Impl::SheetInfo& s = d->sheets.back();
    (void)s;
}

void WorkbookWriter::writeBlank(int row, int column, quint16 xf) {
    d->checkXf(xf);
    d->placeCell(row, column);
    d->cellRecord(row, column, xf, rBlank, 6);
}

void WorkbookWriter::writeBlanks(int row, int first, int last, quint16 xf) {
    if (last <= first) {
        writeBlank(row, first, xf);
        return;
    }
    if (last >= maxColumns)
        throw Error(QStringLiteral("column %1 lies outside a sheet's 256 columns").arg(last + 1).toStdString());
    d->checkXf(xf);
    d->placeCell(row, first);
    d->lastColumn = last;
    d->sheets.back().lastColumn = std::max(d->sheets.back().lastColumn, last);
    QByteArray r;
    Out o(r);
    o.u16(quint16(row)).u16(quint16(first));
    for (int c = first; c <= last; ++c)
        o.u16(xf);
    o.u16(quint16(last));
    d->addCellRecord(row, rMulBlank, r, last);
}

void WorkbookWriter::writeNumber(int row, int column, quint16 xf, double value) {
    if (!std::isfinite(value))
        throw Error(QStringLiteral("the number in row %1, column %2 is not finite")
                        .arg(row + 1)
                        .arg(column + 1)
                        .toStdString());
    d->checkXf(xf);
    d->placeCell(row, column);
    // An RK value when the number is an integer of 30 bits or its low 34 bits are zero.
    if (value == std::floor(value) && value >= -536870912.0 && value <= 536870911.0 &&
        !(value == 0 && std::signbit(value))) {
        put32(d->cellRecord(row, column, xf, rRk, 10), (quint32(qint32(value)) << 2) | 0x02);
        return;
    }
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        put32(d->cellRecord(row, column, xf, rRk, 10), quint32(bits >> 32));
        return;
    }
    std::memcpy(d->cellRecord(row, column, xf, rNumber, 14), &value, 8);
}

void WorkbookWriter::writeText(int row, int column, quint16 xf, const QString& text) {
    if (text.size() > maxCellText)
        throw Error(QStringLiteral("the text in row %1, column %2 is longer than 32,767 characters")
                        .arg(row + 1)
                        .arg(column + 1)
                        .toStdString());
    if (text.isEmpty()) { // no spreadsheet program makes an empty text cell, and some readers refuse one
        writeBlank(row, column, xf);
        return;
    }
    d->checkXf(xf);
    d->placeCell(row, column);
    if (const std::optional<quint32> index = d->stringIndex(text)) {
        put32(d->cellRecord(row, column, xf, rLabelSst, 10), *index);
    } else { // past the string table's budget: the text in the cell's own record
        QByteArray r;
        Out(r).u16(quint16(row)).u16(quint16(column)).u16(xf);
        r.append(unicodeString(text, false));
        d->addCellRecord(row, rLabel, r);
    }
}

void WorkbookWriter::writeBoolean(int row, int column, quint16 xf, bool value) {
    d->checkXf(xf);
    d->placeCell(row, column);
    char* p = d->cellRecord(row, column, xf, rBoolErr, 8);
    p[0] = value ? 1 : 0;
    p[1] = 0;
}

static bool validErrorCode(quint8 code) {
    return code == 0x00 || code == 0x07 || code == 0x0F || code == 0x17 || code == 0x1D || code == 0x24 ||
           code == 0x2A;
}

void WorkbookWriter::writeError(int row, int column, quint16 xf, quint8 code) {
    if (!validErrorCode(code))
        throw Error(
            QStringLiteral("0x%1 is not an error value").arg(code, 2, 16, QLatin1Char('0')).toStdString());
    d->checkXf(xf);
    d->placeCell(row, column);
    char* p = d->cellRecord(row, column, xf, rBoolErr, 8);
    p[0] = char(code);
    p[1] = 1;
}

void WorkbookWriter::writeValue(int row, int column, quint16 xf, const Value& value) {
    switch (value.type) {
    case ValueType::Empty:
        writeBlank(row, column, xf);
        break;
    case ValueType::Number:
        writeNumber(row, column, xf, value.number);
        break;
    case ValueType::Text:
        writeText(row, column, xf, value.text);
        break;
    case ValueType::Boolean:
        writeBoolean(row, column, xf, value.number != 0);
        break;
    case ValueType::Error:
        writeError(row, column, xf, quint8(value.number));
        break;
    }
}

void WorkbookWriter::writeFormula(int row, int column, quint16 xf, const Formula& formula,
                                  const Value& cached) {
    const QByteArray& tokens = formula.tokens();
    if (tokens.isEmpty())
        throw Error("a formula without tokens");
    if (22 + tokens.size() + formula.extra().size() > maxRecordData)
        throw Error("a formula is too long for its record");
    // Every token must be one this writer can carry: no names, no shared or array parts.
    int maxSheet = -1;
    for (int pos = 0; pos < tokens.size();) {
        const int size = tokenSize(tokens, pos);
        const quint8 t = quint8(tokens[pos]);
        if (size < 0 || t == ptgExp || t == ptgTbl || t == 0x18)
            throw Error(
                QStringLiteral("the formula in row %1, column %2 holds a token this writer cannot carry")
                    .arg(row + 1)
                    .arg(column + 1)
                    .toStdString());
        const quint8 base = baseToken(t);
        if (t >= 0x20 && base == ptgName) { // a name given by addName, by its place plus one
            const quint32 index = biff::u32(tokens.constData() + pos + 1);
            if (index < 1 || index > 0xFFFF)
                throw Error(QStringLiteral("the formula in row %1, column %2 uses a defined name that does not exist")
                                .arg(row + 1)
                                .arg(column + 1)
                                .toStdString());
            d->maxNameRef = std::max(d->maxNameRef, int(index));
        }
        if (t >= 0x20 && base == ptgNameX)
            throw Error(QStringLiteral("the formula in row %1, column %2 uses a name of another workbook")
                            .arg(row + 1)
                            .arg(column + 1)
                            .toStdString());
        if (t >= 0x20 &&
            (base == ptgRef3d || base == ptgArea3d || base == ptgRefErr3d || base == ptgAreaErr3d))
            maxSheet = std::max<int>(maxSheet, biff::u16(tokens.constData() + pos + 1));
        pos += size;
    }
    if (cached.type == ValueType::Text && cached.text.size() > maxCellText)
        throw Error("a formula's text result is longer than 32,767 characters");
    if (cached.type == ValueType::Error && !validErrorCode(quint8(cached.number)))
        throw Error("a formula's error result is not an error value");
    if (cached.type == ValueType::Number && !std::isfinite(cached.number))
        throw Error("a formula's result is not a finite number");
    d->checkXf(xf);
    d->placeCell(row, column);
    d->maxSheetRef = std::max(d->maxSheetRef, maxSheet);
    // The result (8 bytes), the options, 4 unused bytes, the tokens' size, the tokens, their extra.
    const QByteArray& extra = formula.extra();
    char* p = d->cellRecord(row, column, xf, rFormula, int(22 + tokens.size() + extra.size()));
    std::memset(p, 0, 8);
    switch (cached.type) {
    case ValueType::Number:
        std::memcpy(p, &cached.number, 8);
        break;
    case ValueType::Text:
        p[0] = cached.text.isEmpty() ? 3 : 0;
        break;
    case ValueType::Boolean:
        p[0] = 1;
        p[2] = cached.number != 0 ? 1 : 0;
        break;
    case ValueType::Error:
        p[0] = 2;
        p[2] = char(quint8(cached.number));
        break;
    case ValueType::Empty:
        p[0] = 3;
        break;
    }
    if (cached.type != ValueType::Number)
        put16(p + 6, 0xFFFF);
    put16(p + 8, 0x0001);
    put32(p + 10, 0);
    put16(p + 14, quint16(tokens.size()));
    std::memcpy(p + 16, tokens.constData(), std::size_t(tokens.size()));
    if (!extra.isEmpty())
        std::memcpy(p + 16 + tokens.size(), extra.constData(), std::size_t(extra.size()));
    if (cached.type == ValueType::Text && !cached.text.isEmpty()) {
        // The STRING record with the text result belongs to the same row's cells.
        QByteArray s;
        {
            ContinuedRecord sr(s, rString);
            sr.string(cached.text);
        }
        Impl::BlockRow& br = d->block[std::size_t(row - d->blockStart)];
        br.cells.append(s);
    }
}

void WorkbookWriter::addMerged(const MergedRange& m) {
    Impl::SheetInfo& s = d->sheet();
    if (m.firstRow < 0 || m.lastRow >= maxRows || m.firstColumn < 0 || m.lastColumn >= maxColumns ||
        m.firstRow > m.lastRow || m.firstColumn > m.lastColumn)
        throw Error("a merged range lies outside the sheet or is reversed");
    s.merged.push_back(m);
}

void WorkbookWriter::addRowBreak(int row) {
    Impl::SheetInfo& s = d->sheet();
    if (row <= 0 || row >= maxRows)
        throw Error(
            QStringLiteral("a page break before row %1 lies outside the sheet").arg(row + 1).toStdString());
    if (s.breaks.size() >= std::size_t(maxRowBreaks))
        throw Error("a sheet holds at most 1,026 page breaks");
    s.breaks.push_back(row);
}

void WorkbookWriter::setPrintTitleRows(int first, int last) {
    Impl::SheetInfo& s = d->sheet();
    if (first < 0 || last >= maxRows || first > last)
        throw Error("print title rows lie outside the sheet or are reversed");
    s.titles = std::pair(first, last);
}

void WorkbookWriter::setSheetHidden(bool hidden) {
    d->sheet().hidden = hidden;
}

void WorkbookWriter::addSheetRecords(SheetPart part, const QByteArray& records) {
    Impl::SheetInfo& s = d->sheet();
    (part == SheetPart::Filter ? s.filter : part == SheetPart::Objects ? s.objects : s.cellFormats).append(records);
}

void WorkbookWriter::addName(const DefinedName& name) {
    if (d->finished)
        throw Error("the workbook is already finished");
    const QString text = name.builtin >= 0 ? QStringLiteral("x") : name.name;
    if (text.isEmpty() || text.size() > 255 || name.builtin > 0xFF)
        throw Error("a defined name needs a name of 1 to 255 characters");
    if (name.formula.tokens().size() > 0xFFFF || name.formula.tokens().size() + name.formula.extra().size() > 8000)
        throw Error(QStringLiteral("the defined name %1 is too long").arg(name.name).toStdString());
    for (int s : name.formula.sheetsReferenced())
        d->maxSheetRef = std::max(d->maxSheetRef, s);
    d->maxSheetRef = std::max(d->maxSheetRef, name.scope);
    d->names.push_back(name);
}

void WorkbookWriter::setDrawingGroup(const QByteArray& officeArt) {
    d->drawingGroup = officeArt;
}

void WorkbookWriter::keepMacroProject(const QList<Record>& records, const std::vector<StorageEntry>& storages) {
    d->macroRecords = records;
    d->storages = storages;
}

void WorkbookWriter::useSheetReferences() {
    d->sheetReferences = true;
}

void WorkbookWriter::endSheet() {
    if (!d->inSheet)
        throw Error("endSheet without beginSheet");
    d->flushBlock();
    d->inSheet = false;
    Impl::SheetInfo& s = d->sheets.back();
    s.dataLength = d->dataSize + d->pending.size() - s.dataStart;
    d->endedSheetBytes += Impl::sheetOwnBytes(s);
}

void WorkbookWriter::writeSheet(const Sheet& sheet) {
    beginSheet(sheet.name, &sheet);
    setSheetHidden(sheet.hidden);
    // Row formats and cells, both in row order, merged into one walk: a row's format comes first.
    std::size_t r = 0;
    for (const Cell& c : sheet.cells) {
        while (r < sheet.rows.size() && sheet.rows[r].row <= c.row)
            setRow(sheet.rows[r++]);
        if (c.formula)
            writeFormula(c.row, c.column, c.xf, *c.formula, c.value);
        else if (c.repeat > 0 && c.value.type == ValueType::Empty)
            writeBlanks(c.row, c.column, c.lastColumn(), c.xf);
        else
            writeValue(c.row, c.column, c.xf, c.value);
    }
    while (r < sheet.rows.size())
        setRow(sheet.rows[r++]);
    for (const MergedRange& m : sheet.merged)
        addMerged(m);
    for (int b : sheet.rowBreaks)
        addRowBreak(b);
    if (sheet.printTitleRows)
        setPrintTitleRows(sheet.printTitleRows->first, sheet.printTitleRows->second);
    endSheet();
}

qint64 WorkbookWriter::streamSize() const {
    if (d->formatsCounted != d->formats.size()) {
        d->formatBytes = 0;
        for (const Record& r : d->formats)
            d->formatBytes += 4 + r.data.size();
        d->formatsCounted = d->formats.size();
    }
    qint64 size = d->dataSize + d->pending.size() + qint64(d->sstText.size()) + 3 * qint64(d->sstCount()) +
                  d->formatBytes + d->endedSheetBytes;
    if (d->inSheet)
        size += d->sheetOwnBytes(d->sheets.back());
    return size;
}

int WorkbookWriter::sheetCount() const {
    return int(d->sheets.size());
}

QString WorkbookWriter::sheetName(int index) const {
    if (index < 0 || index >= int(d->sheets.size()))
        return {};
    return d->sheets[std::size_t(index)].name;
}

void WorkbookWriter::finish() {
    if (d->finished)
        throw Error("the workbook is already finished");
    if (d->inSheet)
        endSheet();
    if (d->sheets.empty())
        throw Error("a workbook needs at least one sheet");
    if (d->maxNameRef > int(d->names.size()))
        throw Error(QStringLiteral("a formula uses defined name %1 but the workbook has %2")
                        .arg(d->maxNameRef)
                        .arg(d->names.size())
                        .toStdString());
    if (d->maxSheetRef >= int(d->sheets.size()))
        throw Error(QStringLiteral("a formula refers to sheet %1 but the workbook has %2 sheets")
                        .arg(d->maxSheetRef + 1)
                        .arg(d->sheets.size())
                        .toStdString());
    d->flushPending();

    // The texts' hash is not needed any more (a later text would rebuild it).
    d->sstSlots.reset();
    d->sstSlotCount = 0;
    std::vector<qsizetype> boundPos;
    QByteArray globals = d->globals(boundPos);
    std::vector<QByteArray> heads(d->sheets.size()), tails(d->sheets.size());
    qint64 pos = globals.size();
    for (std::size_t i = 0; i < d->sheets.size(); ++i) {
        const qint64 start = pos;
        d->sheetParts(i, start, heads[i], tails[i]);
        put32(globals.data() + boundPos[i], quint32(start));
        pos += heads[i].size() + d->sheets[i].dataLength + tails[i].size();
    }
    if (pos > 0x7FFFFFFF)
        throw Error("the workbook is larger than 2 GB");

    const QFileInfo target(d->path);
    const QString folder = target.absolutePath();
    reportfile::removeStaleTemporaries(folder, target.fileName());
    reportfile::NewFile file(folder, target.fileName());
    if (file.fd < 0)
        throw Error((d->path + QStringLiteral(": cannot write in its folder %1: ").arg(folder) +
                     QString::fromLocal8Bit(strerror(file.error)))
                        .toStdString());
    FILE* stream = ::fdopen(::dup(file.fd), "w+b");
    if (!stream)
        throw Error((d->path + QStringLiteral(": cannot be written: ") + QString::fromLocal8Bit(strerror(errno)))
                        .toStdString());

    // libgsf writes into our file (it would otherwise make a temporary file of its own beside it).
    initGsf();
    GsfOutput* sink = gsf_output_stdio_new_FILE(QFile::encodeName(d->path).constData(), stream, FALSE);
    if (!sink) {
        std::fclose(stream);
        throw Error((d->path + QStringLiteral(": cannot be written")).toStdString());
    }
    GsfOutfile* ole = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    GsfOutput* child = gsf_outfile_new_child(ole, "Workbook", FALSE);
    bool ok = child != nullptr;
    auto put = [&](const char* p, qint64 n) {
        if (ok && n > 0)
            ok = gsf_output_write(child, size_t(n), reinterpret_cast<const guint8*>(p));
    };
    put(globals.constData(), globals.size());
    bool cancelled = false;
    SheetDataReader reader(d->data.handle());
    for (std::size_t i = 0; i < d->sheets.size() && ok; ++i) {
        put(heads[i].constData(), heads[i].size());
        qint64 at = d->sheets[i].dataStart;
        qint64 left = d->sheets[i].dataLength;
        while (ok && left > 0) {
            if (d->cancelled && d->cancelled()) {
                ok = false;
                cancelled = true;
                break;
            }
            const auto [p, n] = reader.read(at, left);
            if (n <= 0) {
                ok = false;
                break;
            }
            put(p, n);
            at += n;
            left -= n;
            // The disk starts writing what is there already, so that the closing fsync waits
            // for the last pieces only rather than for the whole file.
            (void)::sync_file_range(file.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        }
        put(tails[i].constData(), tails[i].size());
    }
    if (child) {
        ok = gsf_output_close(child) && ok;
        g_object_unref(child);
    }
    for (const StorageEntry& e : d->storages)
        ok = ok && writeStorage(ole, e);
    ok = gsf_output_close(GSF_OUTPUT(ole)) && ok; // closes the FILE as well
    g_object_unref(ole);
    if (cancelled)
        throw Error((d->path + QStringLiteral(": writing was cancelled")).toStdString());
    if (!ok || ::fsync(file.fd) != 0)
        throw Error((d->path + QStringLiteral(": the workbook could not be written in %1: %2")
                                   .arg(folder, QString::fromLocal8Bit(strerror(errno ? errno : EIO))))
                        .toStdString());

    // The new file gets the old one's permissions, or the usual ones for a new file.
    const QByteArray finalName = QFile::encodeName(d->path);
    const mode_t mode = reportfile::modeFor(d->path, d->permissionsTemplate);
    ::fchmod(file.fd, mode);
    file.putInPlace(finalName);
    d->finished = true;
    d->data.close();
}

void WorkbookWriter::limitPermissionsTo(const QString& templatePath) {
    d->permissionsTemplate = templatePath;
}

void WorkbookWriter::setCancelCheck(std::function<bool()> cancelled) {
    d->cancelled = std::move(cancelled);
}

namespace detail {

StringTableBudget stringTableBudget() {
    return StringTableBudget{budgetBytes.load(), budgetCount.load()};
}

void setStringTableBudget(const StringTableBudget& budget) {
    budgetBytes = budget.bytes;
    budgetCount = budget.count;
}

} // namespace detail

} // namespace lw::xls
