// The Paradox reader: tables of versions 3 to 7, walked along their chain of data blocks, one
// block in memory at a time.
#include "data/bytes.h"
#include "data/codepage.h"
#include "data/tablefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace lw::data {

namespace {

enum : unsigned char {
    Alpha = 0x01,
    DateType = 0x02,
    Short = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Number = 0x06,
    Logical = 0x09,
    MemoBlob = 0x0C,
    Blob = 0x0D,
    FmtMemo = 0x0E,
    Ole = 0x0F,
    Graphic = 0x10,
    TimeType = 0x14,
    TimestampType = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
    Bytes = 0x18
};

// Day 1 of Paradox dates is 1 January of the year 1; Julian day 1721426.
constexpr qint64 julianOfDayZero = 1721425;

struct Column {
    Field field;
    unsigned char type = Alpha;
    int offset = 0;
    int length = 0;
};

// Numbers are stored big-endian with the sign bit flipped, so that their bytes sort as they do.
// All bytes zero is a blank (null) value.
bool signFlipped(const unsigned char* d, int n, unsigned char* out) {
    bool zero = true;
    for (int i = 0; i < n; ++i) {
        zero = zero && d[i] == 0;
    }
    if (zero) {
        return false;
    }
    std::memcpy(out, d, std::size_t(n));
    out[0] ^= 0x80;
    return true;
}

qint64 signedBigEndian(const unsigned char* b, int n) {
    qint64 v = (b[0] & 0x80) ? -1 : 0;
    for (int i = 0; i < n; ++i) {
        v = (v << 8) | b[i];
    }
    return v;
}

// 8-byte numbers: positive ones have the sign bit set, negative ones have every bit inverted.
bool paradoxDouble(const unsigned char* d, double& out) {
    unsigned char b[8];
    bool zero = true;
    for (int i = 0; i < 8; ++i) {
        zero = zero && d[i] == 0;
    }
    if (zero) {
        return false;
    }
    if (d[0] & 0x80) {
        std::memcpy(b, d, 8);
        b[0] &= 0x7F;
    } else {
        for (int i = 0; i < 8; ++i) {
            b[i] = static_cast<unsigned char>(~d[i]);
        }
    }
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i) {
        bits = (bits << 8) | b[i];
    }
    std::memcpy(&out, &bits, 8);
    return true;
}

// Bytes of one memo, at most: a longer memo is cut with a warning.
constexpr qint64 memoLimit = 64 * 1024 * 1024;

// Reads a file ahead on a thread of its own: while the memos of one window of the memo file are
// decoded, the next window is copied out of the system's file cache beside them. One request at a
// time; take() hands over what was read when it is what was asked for, else the caller reads for
// itself. The thread only reads into its own buffer, which changes hands under the lock while the
// thread waits. The caller never waits for the thread: on a busy machine the thread may not run
// for a while, even while it holds the lock, and the caller then goes on as if it had no thread.
class ReadAhead {
public:
    // Null when no thread can be started: the file is then read as it is asked for.
    static std::unique_ptr<ReadAhead> start(const InputFile& file, qint64 capacity) {
        std::unique_ptr<ReadAhead> ahead(new ReadAhead(file, capacity));
        try {
            ahead->m_thread = std::thread([p = ahead.get()] { p->run(); });
        } catch (const std::system_error&) {
            return nullptr;
        }
        return ahead;
    }

    ~ReadAhead() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading length bytes (at most the capacity) at offset; a request not taken is dropped.
    // Nothing is asked while the thread holds the lock.
    void request(qint64 offset, qint64 length) {
        {
            const std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
            if (!lock.owns_lock()) {
                return;
            }
            m_offset = offset;
            m_length = length;
            ++m_asked;
        }
        m_wake.notify_one();
    }

    enum class Taken { Yes, No, Late };
    // When the last request holds the length bytes at offset and has been read: swaps it into
    // buffer (whose storage serves the next request), with where it starts and its length. No
    // when the bytes are not in what was asked for or could not be read; Late when they are not
    // read yet, or the thread holds the lock. The caller then reads them itself at once (the
    // request is dropped; one being read is left to end).
    Taken take(qint64 offset, qint64 length, std::vector<unsigned char>& buffer, qint64& at, qint64& filled) {
        const std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            return Taken::Late;
        }
        if (m_asked == m_taken || offset < m_offset || offset + length > m_offset + m_length) {
            return Taken::No;
        }
        if (m_finished != m_asked) {
            if (m_reading != m_asked) {
                m_finished = m_asked; // not begun: not to be begun
            }
            m_taken = m_asked;
            return Taken::Late;
        }
        m_taken = m_asked;
        if (!m_ok) {
            return Taken::No;
        }
        if (buffer.size() < m_buffer.size()) {
            buffer.resize(m_buffer.size());
        }
        buffer.swap(m_buffer);
        at = m_offset;
        filled = m_length;
        return Taken::Yes;
    }

private:
    ReadAhead(const InputFile& file, qint64 capacity) : m_file(file), m_buffer(std::size_t(capacity)) {}

    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (true) {
            m_wake.wait(lock, [this] { return m_stop || m_finished != m_asked; });
            if (m_stop) {
                return;
            }
            const quint64 job = m_asked;
            m_reading = job;
            const qint64 offset = m_offset;
            const qint64 length = m_length;
            unsigned char* into = m_buffer.data();
            const bool fits = length >= 0 && std::size_t(length) <= m_buffer.size();
            lock.unlock();
            const bool ok = fits && m_file.readAt(offset, into, length);
            lock.lock();
            m_ok = ok;
            m_finished = std::max(m_finished, job); // a later request may have been dropped meanwhile
        }
    }

    const InputFile& m_file;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake; // a request, or the end
    std::vector<unsigned char> m_buffer;
    qint64 m_offset = -1;
    qint64 m_length = 0;
    quint64 m_asked = 0;    // requests made
    quint64 m_reading = 0;  // the last request the thread began to read
    quint64 m_finished = 0; // the last request read (or dropped)
    quint64 m_taken = 0;    // the last request taken
    bool m_ok = false;
    bool m_stop = false;
};

// The .mb file beside a table: memos and other blobs in blocks of 4 KB chunks. A blob field's last
// 10 bytes point into it: the block's offset with an index in its low byte, the blob's length and a
// modification number. Index 0xFF is a block of one blob (type 2: its chunk count, length and
// modification number, then the data); other indexes name an entry of a block shared by small
// blobs (type 3: a table of 64 entries of 5 bytes from byte 12, each the data's offset and length in
// 16-byte units, a modification number and the length's remainder). Every offset and length is
// checked against the file: a damaged memo is a reason, never a read outside the file.
class BlobFile {
public:
    static constexpr qint64 chunk = 4096;

    explicit BlobFile(const QString& path) : m_file(path) {}

    const QString& path() const { return m_file.path(); }

    // Empty when the file can hold memos, else what is wrong with it.
    QString damage() const {
        unsigned char head[1];
        if (m_file.size() < chunk || !m_file.readAt(0, head, 1)) {
            return QStringLiteral("it is shorter than its header block");
        }
        if (head[0] != 0) {
            return QStringLiteral("its first block is not a header block");
        }
        return {};
    }

    // What kind of fault the last read that failed met (its reason names the place too).
    enum class Fault { Outside, NotMemoBlock, LengthMismatch, PastEnd, NoEntry, NoSuchMemo };
    Fault fault() const { return m_fault; }

    // The blob at pointer, of length bytes: data points at its bytes (valid until the next read).
    // False when it cannot be read: reason() says why.
    bool read(quint32 pointer, qint64 length, const char*& data, bool& cut) {
        cut = false;
        // Most memos are small ones of a shared block the window holds whole: taken at once, with
        // the checks readChecked() makes (an entry of the table, of the memo's length, inside the block).
        const qint64 block = qint64(pointer & 0xFFFFFF00u);
        const unsigned index = pointer & 0xFF;
        const qint64 at = block - m_windowAt;
        if (index < 64 && m_windowAt > 0 && at >= 0 && at + chunk <= m_windowFilled) {
            const unsigned char* b = m_window.data() + at;
            const unsigned char* e = b + 12 + 5 * index;
            const qint64 start = qint64(e[0]) * 16;
            const qint64 paragraphs = e[1];
            if (b[0] == 3 && paragraphs != 0 && start >= 12 + 64 * 5 && length <= paragraphs * 16 &&
                length > (paragraphs - 1) * 16 && start + length <= chunk) {
                data = reinterpret_cast<const char*>(b + start);
                return true;
            }
        }
        return readChecked(pointer, length, data, cut);
    }

    // Why the last read that failed failed, naming the place.
    const QString& reason() const { return m_reason; }

private:
    bool readChecked(quint32 pointer, qint64 length, const char*& data, bool& cut) {
        const qint64 block = qint64(pointer & 0xFFFFFF00u);
        const int index = int(pointer & 0xFF);
        if (block == 0 || block >= m_file.size()) {
            m_fault = Fault::Outside;
            m_reason = QStringLiteral("a memo pointer (offset %1) outside the memo file").arg(block);
            return false;
        }
        if (index == 0xFF) {
            unsigned char head[9];
            if (!m_file.readAt(block, head, 9)) {
                // Inside the file as it was opened: it was cut since, or ends in the block's head.
                m_fault = Fault::PastEnd;
                m_reason =
                    QStringLiteral("a memo that runs past the end of the memo file (block at offset %1)")
                        .arg(block);
                return false;
            }
            if (head[0] != 2) {
                m_fault = Fault::NotMemoBlock;
                m_reason =
                    QStringLiteral("a memo pointer (offset %1) to a block that is not a memo's").arg(block);
                return false;
            }
            const qint64 chunks = le16(head + 1);
            const qint64 stored = le32(head + 3);
            if (stored != length || 9 + length > chunks * chunk) {
                m_fault = Fault::LengthMismatch;
                m_reason = QStringLiteral("a memo whose length (%1) does not match its block at offset %2")
                               .arg(length)
                               .arg(block);
                return false;
            }
            const qint64 take = std::min(length, memoLimit);
            cut = take < length;
            m_big.resize(qsizetype(take));
            if (!m_file.readAt(block + 9, m_big.data(), take)) {
                m_fault = Fault::PastEnd;
                m_reason =
                    QStringLiteral("a memo that runs past the end of the memo file (block at offset %1)")
                        .arg(block);
                return false;
            }
            data = m_big.constData();
            return true;
        }
        if (index >= 64 || !loadChunk(block)) {
            m_fault = Fault::NoEntry;
            m_reason =
                QStringLiteral("a memo pointer (offset %1, entry %2) to no memo").arg(block).arg(index);
            return false;
        }
        const unsigned char* e = m_chunk + 12 + 5 * index;
        const qint64 start = qint64(e[0]) * 16;
        const qint64 paragraphs = e[1];
        if (m_chunk[0] != 3 || paragraphs == 0 || start < 12 + 64 * 5 || length > paragraphs * 16 ||
            length <= (paragraphs - 1) * 16) {
            m_fault = Fault::NoSuchMemo;
            m_reason = QStringLiteral("a memo pointer (offset %1, entry %2) to no memo of its length")
                           .arg(block)
                           .arg(index);
            return false;
        }
        if (start + length > m_chunkFilled) {
            m_fault = Fault::PastEnd;
            m_reason = QStringLiteral("a memo that runs past the end of the memo file (block at offset %1)")
                           .arg(block);
            return false;
        }
        data = reinterpret_cast<const char*>(m_chunk + start);
        return true;
    }

    // The 4 KB block at offset: m_chunk points at what the file holds of it. The file is read 64 KB
    // at a time, as the small memos of neighbouring records share their blocks and follow each other.
    // Once windows follow each other through the file (a table read from start to end), they are
    // larger and each next one is read ahead; after a window read ahead too late (the machine is
    // busy: reading ahead would only add work) the next few are not.
    bool loadChunk(qint64 offset) {
        constexpr qint64 window = 64 * 1024;
        constexpr qint64 aheadWindow = 512 * 1024;
        const qint64 want = std::min(chunk, m_file.size() - offset);
        if (m_windowAt < 0 || offset < m_windowAt || offset + want > m_windowAt + m_windowFilled) {
            const qint64 end = m_windowAt + m_windowFilled;
            m_inOrder = m_windowAt > 0 && offset >= end && offset - end < aheadWindow ? m_inOrder + 1 : 0;
            const bool ahead = m_inOrder >= 2;
            qint64 at = 0;
            qint64 n = 0;
            if (want < 12 + 64 * 5) {
                m_windowAt = -1;
                return false;
            }
            const ReadAhead::Taken taken =
                m_ahead ? m_ahead->take(offset, want, m_window, at, n) : ReadAhead::Taken::No;
            if (taken == ReadAhead::Taken::Late) {
                m_pause = 8; // the machine is busy: the next windows are read as they come
            }
            if (taken != ReadAhead::Taken::Yes) {
                at = offset;
                n = std::min(ahead ? aheadWindow : window, m_file.size() - offset);
                if (m_window.size() < std::size_t(n)) {
                    m_window.resize(std::size_t(n));
                }
                if (!m_file.readAt(offset, m_window.data(), n)) {
                    m_windowAt = -1;
                    return false;
                }
            }
            m_windowAt = at;
            m_windowFilled = n;
            const qint64 next = std::min(aheadWindow, m_file.size() - (at + n));
            if (m_pause > 0) {
                --m_pause;
            } else if (ahead && !m_aheadOff && next >= 12 + 64 * 5) {
                if (!m_ahead) {
                    m_ahead = ReadAhead::start(m_file, aheadWindow);
                    m_aheadOff = !m_ahead;
                }
                if (m_ahead) {
                    m_ahead->request(at + n, next);
                }
            }
        }
        m_chunk = m_window.data() + (offset - m_windowAt);
        m_chunkFilled = want;
        return want >= 12 + 64 * 5;
    }

    InputFile m_file;
    Fault m_fault = Fault::Outside;
    QString m_reason;
    QByteArray m_big;                    // the last memo of a block of its own
    std::vector<unsigned char> m_window; // what was last read of the file
    qint64 m_windowAt = -1;
    qint64 m_windowFilled = 0;
    const unsigned char* m_chunk = nullptr; // the block of the memo being read, in m_window
    qint64 m_chunkFilled = 0;
    int m_inOrder = 0;                  // windows read one after the other, so far
    int m_pause = 0;                    // windows still to be read without reading ahead
    bool m_aheadOff = false;            // when no thread could be started
    std::unique_ptr<ReadAhead> m_ahead; // once they are; last, as it reads m_file
};

class ParadoxReader : public TableReader {
public:
    explicit ParadoxReader(const QString& path) : m_file(path) {
        m_path = path;
        readHeader();
        m_block.resize(std::size_t(m_blockSize));
    }

    bool advance() override {
        while (true) {
            if (m_started && m_index + 1 < m_recordsInBlock) {
                ++m_index;
                ++m_recordCount;
                m_current = m_block.data() + 6 + qint64(m_index) * m_recordSize;
                return true;
            }
            const int next = m_started ? m_nextBlock : m_firstBlock;
            m_started = true;
            if (next == 0) {
                finishWalk();
                return false;
            }
            loadBlock(next);
        }
    }

    void rewind() override {
        m_started = false;
        m_recordsInBlock = 0;
        m_index = -1;
        m_blocksVisited = 0;
        m_recordCount = 0;
        m_current = nullptr;
    }

    qint64 recordNumber() const override { return m_recordCount; }
    // The block number in the high bits, the record's place in its block in the low 16.
    qint64 position() const override { return (qint64(m_currentBlock) << 16) | m_index; }

    void seek(qint64 position) override {
        const int block = int(position >> 16);
        const int index = int(position & 0xFFFF);
        if (block == m_currentBlock && m_started) {
            if (index >= m_recordsInBlock) {
                failTable(m_path, QStringLiteral("block %1 has no record %2").arg(block).arg(index + 1));
            }
            m_index = index;
            m_current = m_block.data() + 6 + qint64(index) * m_recordSize;
            return;
        }
        if (block == m_lastSeekBlock) {
            // A second record of the same block: the whole block is worth reading.
            loadBlock(block, false);
            // The walk is now somewhere else: it ends if asked to go on.
            m_started = true;
            m_nextBlock = 0;
            seek(position);
            return;
        }
        // One record of another block (a sorted result jumps about): that record alone.
        m_lastSeekBlock = block;
        const qint64 offset = m_headerSize + qint64(block - 1) * m_blockSize;
        unsigned char head[6];
        if (block < 1 || !m_file.readAt(offset, head, 6)) {
            failTable(m_path, QStringLiteral("there is no block %1").arg(block));
        }
        const int addDataSize = qint16(le16(head + 4));
        const int records = addDataSize < 0 ? 0 : addDataSize / m_recordSize + 1;
        if (index >= records || 6 + qint64(index + 1) * m_recordSize > m_blockSize ||
            offset + 6 + qint64(index + 1) * m_recordSize > m_file.size()) {
            failTable(m_path, QStringLiteral("block %1 has no record %2").arg(block).arg(index + 1));
        }
        m_record.resize(std::size_t(m_recordSize));
        if (!m_file.readAt(offset + 6 + qint64(index) * m_recordSize, m_record.data(), m_recordSize)) {
            failTable(m_path, QStringLiteral("block %1 cannot be read").arg(block));
        }
        m_current = m_record.data();
    }

    void value(int column, Value& out) override;

    bool textUtf8(int column, std::string& out) override {
        const Column& c = m_columns[std::size_t(column)];
        if (c.type != Alpha) {
            Value v;
            value(column, v);
            if (v.kind != Value::Kind::Text) {
                return false;
            }
            const QByteArray u = v.text.toUtf8();
            out.assign(u.constData(), std::size_t(u.size()));
            return true;
        }
        const char* bytes = reinterpret_cast<const char*>(m_current) + c.offset;
        const qsizetype length = alphaLength(bytes, c.length);
        if (length == 0) {
            return false;
        }
        m_decoder.decodeUtf8(bytes, length, out);
        return true;
    }

private:
    static qsizetype alphaLength(const char* bytes, int length) {
        const void* nul = std::memchr(bytes, 0, std::size_t(length));
        return nul ? static_cast<const char*>(nul) - bytes : length;
    }

    void readHeader();
    void openBlobFile();
    void loadBlock(int number, bool walking = true);
    void memo(const Column& c, const unsigned char* d, Value& out);
    // Said once for each field and kind of fault (what, unless a key is given), naming the first
    // record that has it.
    void warnValue(const Column& c, const QString& what, const QString& kind = QString()) {
        const QString key = c.field.name + QLatin1Char('\n') + (kind.isEmpty() ? what : kind);
        if (m_warnedValues.contains(key)) {
            return;
        }
        m_warnedValues.insert(key);
        warn(QStringLiteral("The table file \"%1\": %2 in field %3 (first at record %4) read as empty")
                 .arg(m_path, what, c.field.name)
                 .arg(m_recordCount));
    }
    void finishWalk() {
        if (!m_countChecked && m_recordCount != m_headerCount) {
            warn(QStringLiteral(
                     "The header of the table file \"%1\" counts %2 records but its data blocks hold %3; "
                     "the %3 are read")
                     .arg(m_path)
                     .arg(m_headerCount)
                     .arg(m_recordCount));
        }
        m_countChecked = true;
        m_current = nullptr;
    }

    InputFile m_file;
    int m_recordSize = 0;
    qint64 m_headerSize = 0;
    qint64 m_blockSize = 0;
    qint64 m_headerCount = 0;
    int m_firstBlock = 0;
    qint64 m_maxBlocks = 0;
    std::vector<Column> m_columns;
    TextDecoder m_decoder;
    std::unique_ptr<BlobFile> m_blobs; // open only when the table has memo fields and the file is sound
    QSet<QString> m_warnedValues;

    std::vector<unsigned char> m_block;
    std::vector<unsigned char> m_record; // one record read by seek()
    int m_lastSeekBlock = 0;
    bool m_started = false;
    int m_nextBlock = 0;
    int m_currentBlock = 0;
    int m_recordsInBlock = 0;
    int m_index = -1;
    qint64 m_blocksVisited = 0;
    qint64 m_recordCount = 0;
    bool m_countChecked = false;
    const unsigned char* m_current = nullptr;
};

void ParadoxReader::readHeader() {
    const qint64 size = m_file.size();
    unsigned char head[0x78] = {};
    if (size < 0x58 || !m_file.readAt(0, head, std::min<qint64>(size, sizeof head))) {
        failTable(m_path, QStringLiteral("the file is too short to be a Paradox table"));
    }
    m_recordSize = le16(head);
    m_headerSize = le16(head + 2);
    const int fileType = head[4];
    const int maxTableSize = head[5];
    m_headerCount = le32(head + 6);
    m_firstBlock = le16(head + 0x0E);
    const int numFields = qint16(le16(head + 0x21));
    const quint32 encryption1 = le32(head + 0x25);
    const int versionId = head[0x39];

    if (versionId < 3 || versionId > 12) {
        failTable(
            m_path,
            QStringLiteral("it is not a Paradox table of version 3 to 7 (version byte %1)").arg(versionId));
    }
    if (fileType != 0 && fileType != 2) {
        failTable(m_path,
                  QStringLiteral("it is a Paradox index or other file (type %1), not a table").arg(fileType));
    }
    if (maxTableSize < 1 || maxTableSize > 32) {
        failTable(m_path, QStringLiteral("its block size (%1 KB) is not one Paradox uses").arg(maxTableSize));
    }
    m_blockSize = qint64(maxTableSize) * 1024;
    if (m_recordSize < 1 || m_recordSize > m_blockSize - 6) {
        failTable(m_path, QStringLiteral("its record size %1 does not fit its blocks").arg(m_recordSize));
    }
    const bool dataHeader = versionId >= 5;
    const qint64 fieldInfo = dataHeader ? 0x78 : 0x58;
    if (m_headerSize < fieldInfo || m_headerSize > size) {
        failTable(m_path, QStringLiteral("its header size %1 does not fit the file of %2 bytes")
                              .arg(m_headerSize)
                              .arg(size));
    }
    if (numFields < 1 || numFields > 255) {
        failTable(m_path, QStringLiteral("it has %1 fields").arg(numFields));
    }
    quint32 encryption = encryption1;
    if (encryption1 == 0xFF00FF00u) {
        encryption = dataHeader ? le32(head + 0x5C) : 0;
    }
    if (encryption != 0) {
        failTable(m_path, QStringLiteral("it is protected by a password"));
    }
    const int codePage = dataHeader ? le16(head + 0x6A) : 0;
    m_decoder = TextDecoder(codePage == 0 ? 437 : codePage);
    if (!m_decoder.known()) {
        warn(QStringLiteral("The table file \"%1\" uses code page %2, which is read as 1252")
                 .arg(m_path)
                 .arg(codePage));
    }

    std::vector<unsigned char> header(static_cast<std::size_t>(m_headerSize));
    if (!m_file.readAt(0, header.data(), m_headerSize)) {
        failTable(m_path, QStringLiteral("its header cannot be read"));
    }
    qint64 at = fieldInfo;
    if (at + 2 * numFields > m_headerSize) {
        failTable(m_path, QStringLiteral("its field list runs past its header"));
    }
    int offset = 0;
    for (int i = 0; i < numFields; ++i) {
        Column c;
        c.type = header[std::size_t(at + 2 * i)];
        const int fieldSize = header[std::size_t(at + 2 * i + 1)];
        c.length = fieldSize;
        c.field.size = fieldSize;
        switch (c.type) {
        case Alpha:
            c.field.type = FieldType::Text;
            break;
        case DateType:
            c.field.type = FieldType::Date;
            c.field.size = 0;
            break;
        case Short:
        case Long:
        case AutoInc:
            c.field.type = FieldType::Integer;
            c.field.size = 0;
            break;
        case Currency:
        case Number:
            c.field.type = FieldType::Double;
            c.field.size = 0;
            break;
        case Logical:
            c.field.type = FieldType::Logical;
            c.field.size = 0;
            break;
        case TimeType:
            c.field.type = FieldType::Time;
            c.field.size = 0;
            break;
        case TimestampType:
            c.field.type = FieldType::Timestamp;
            c.field.size = 0;
            break;
        case Bcd:
            // The size byte of a BCD field holds its decimals; the value takes 17 bytes.
            c.length = 17;
            c.field.type = FieldType::Decimal;
            c.field.size = 32;
            c.field.decimals = fieldSize;
            break;
        case MemoBlob:
        case FmtMemo:
            c.field.type = FieldType::Text;
            c.field.size = 0;
            break;
        case Blob:
        case Ole:
        case Graphic:
        case Bytes:
            c.field.type = FieldType::Binary;
            c.field.size = 0;
            break;
        default:
            failTable(m_path, QStringLiteral("field %1 has the unknown type 0x%2")
                                  .arg(i + 1)
                                  .arg(c.type, 2, 16, QLatin1Char('0')));
        }
        if (c.length == 0) {
            failTable(m_path, QStringLiteral("field %1 has the length 0").arg(i + 1));
        }
        c.offset = offset;
        offset += c.length;
        m_columns.push_back(c);
    }
    if (offset != m_recordSize) {
        failTable(m_path, QStringLiteral("its record size %1 does not match its fields (%2 bytes)")
                              .arg(m_recordSize)
                              .arg(offset));
    }
    // Then the table name's pointer, one pointer per field name, the table name and the names.
    at += 2 * numFields + 4 + 4 * qint64(numFields) + (versionId >= 12 ? 261 : 79);
    for (Column& c : m_columns) {
        qint64 end = at;
        while (end < m_headerSize && header[std::size_t(end)] != 0) {
            ++end;
        }
        if (end >= m_headerSize) {
            failTable(m_path, QStringLiteral("its field names run past its header"));
        }
        m_decoder.decode(reinterpret_cast<const char*>(header.data() + at), end - at, c.field.name);
        at = end + 1;
    }
    bool hasMemo = false;
    for (const Column& c : m_columns) {
        if (c.type == MemoBlob || c.type == FmtMemo) {
            hasMemo = true;
        } else if (c.type == Blob || c.type == Ole || c.type == Graphic) {
            warn(QStringLiteral("The table file \"%1\": the graphic, OLE or binary field %2 is read as empty")
                     .arg(m_path, c.field.name));
        } else if (c.type == Bytes) {
            warn(QStringLiteral("The table file \"%1\": the binary field %2 is read as empty")
                     .arg(m_path, c.field.name));
        }
        m_fields.push_back(c.field);
    }
    // A last block the file ends inside counts too.
    m_maxBlocks = (size - m_headerSize + m_blockSize - 1) / m_blockSize;
    if (hasMemo) {
        openBlobFile();
    }
}

void ParadoxReader::openBlobFile() {
    const QFileInfo info(m_path);
    const QString base = info.completeBaseName();
    const QDir dir = info.absoluteDir();
    QString found;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Readable | QDir::Hidden | QDir::System)) {
        if (name.size() == base.size() + 3 && name.startsWith(base, Qt::CaseInsensitive) &&
            name.endsWith(QLatin1String(".mb"), Qt::CaseInsensitive) &&
            (found.isEmpty() || name.startsWith(base))) {
            found = dir.filePath(name);
        }
    }
    if (found.isEmpty()) {
        warn(QStringLiteral(
                 "The memo file of the table file \"%1\" is missing; its memo fields are read as empty")
                 .arg(m_path));
        return;
    }
    try {
        auto blobs = std::make_unique<BlobFile>(found);
        const QString damage = blobs->damage();
        if (!damage.isEmpty()) {
            warn(QStringLiteral(
                     "The memo file \"%1\" is damaged (%2); the memo fields of the table file \"%3\" "
                     "are read as empty")
                     .arg(found, damage, m_path));
            return;
        }
        m_blobs = std::move(blobs);
    } catch (const DataError& e) {
        warn(QStringLiteral("%1; the memo fields of the table file \"%2\" are read as empty")
                 .arg(QString::fromStdString(e.what()), m_path));
    }
}

void ParadoxReader::memo(const Column& c, const unsigned char* d, Value& out) {
    // The record holds the memo's first bytes, then the pointer into the .mb file, the memo's
    // length and its modification number.
    if (c.length <= 10) {
        warnValue(c, QStringLiteral("a memo field too short to point at its memo"));
        return;
    }
    const qint64 leader = c.length - 10;
    const unsigned char* tail = d + leader;
    const quint32 pointer = le32(tail);
    const qint64 length = le32(tail + 4);
    if (length == 0) {
        return;
    }
    const char* bytes = nullptr;
    qsizetype n = 0;
    if (length <= leader) {
        // Short enough to be in the record whole.
        bytes = reinterpret_cast<const char*>(d);
        n = qsizetype(length);
    } else {
        if (!m_blobs) {
            return; // said when the table was opened
        }
        bool cut = false;
        if (!m_blobs->read(pointer, length, bytes, cut)) {
            warnValue(c, m_blobs->reason(), QStringLiteral("memo %1").arg(int(m_blobs->fault())));
            return;
        }
        n = qsizetype(std::min(length, memoLimit));
        if (cut) {
            warn(QStringLiteral("The memo file \"%1\": a memo longer than %2 bytes was cut to that length")
                     .arg(m_blobs->path())
                     .arg(memoLimit));
        }
    }
    while (n > 0 && bytes[n - 1] == 0) {
        --n;
    }
    out.kind = Value::Kind::Text;
    m_decoder.decode(bytes, n, out.text);
}

void ParadoxReader::loadBlock(int number, bool walking) {
    const qint64 offset = m_headerSize + qint64(number - 1) * m_blockSize;
    // Past the end first: a pointer beyond the file is what it is, not a loop.
    if (number < 1 || offset >= m_file.size()) {
        failTable(m_path,
                  QStringLiteral("a block pointer (%1) points past the end of the file, after record %2")
                      .arg(number)
                      .arg(m_recordCount));
    }
    if (walking && ++m_blocksVisited > m_maxBlocks) {
        failTable(
            m_path,
            QStringLiteral("the chain of its data blocks goes round in a loop (at block %1)").arg(number));
    }
    const qint64 available = std::min(m_blockSize, m_file.size() - offset);
    if (available < m_blockSize) {
        std::fill(m_block.begin(), m_block.end(), 0);
    }
    if (!m_file.readAt(offset, m_block.data(), available)) {
        failTable(m_path, QStringLiteral("block %1 cannot be read").arg(number));
    }
    m_currentBlock = number;
    m_nextBlock = le16(m_block.data());
    const int addDataSize = qint16(le16(m_block.data() + 4));
    m_recordsInBlock = addDataSize < 0 ? 0 : addDataSize / m_recordSize + 1;
    if (6 + qint64(m_recordsInBlock) * m_recordSize > m_blockSize) {
        failTable(m_path, QStringLiteral("block %1 claims more records than it can hold, after record %2")
                              .arg(number)
                              .arg(m_recordCount));
    }
    if (available < m_blockSize) {
        // The file ends inside this block: the records wholly there are read.
        const int claimed = available < 6 ? 0 : m_recordsInBlock;
        const int whole = available < 6 ? 0 : int((available - 6) / m_recordSize);
        m_recordsInBlock = std::min(claimed, whole);
        if (available < 6) {
            m_nextBlock = 0;
        }
        warn(QStringLiteral("The table file \"%1\": the file ends inside its last block (block %2, %3 of its "
                            "%4 bytes); the %5 records it holds are read%6")
                 .arg(m_path)
                 .arg(number)
                 .arg(available)
                 .arg(m_blockSize)
                 .arg(m_recordsInBlock)
                 .arg(whole < claimed ? QStringLiteral(" (the block should hold %1)").arg(claimed)
                                      : QString()));
    }
    m_index = -1;
}

void ParadoxReader::value(int column, Value& out) {
    const Column& c = m_columns[std::size_t(column)];
    const unsigned char* d = m_current + c.offset;
    unsigned char b[8];
    out.kind = Value::Kind::Null;
    switch (c.type) {
    case Alpha: {
        const char* bytes = reinterpret_cast<const char*>(d);
        const qsizetype length = alphaLength(bytes, c.length);
        if (length > 0) {
            out.kind = Value::Kind::Text;
            m_decoder.decode(bytes, length, out.text);
        }
        return;
    }
    case DateType:
        if (signFlipped(d, 4, b)) {
            out.date = QDate::fromJulianDay(signedBigEndian(b, 4) + julianOfDayZero);
            if (out.date.isValid()) {
                out.kind = Value::Kind::Date;
            }
        }
        return;
    case Short:
        if (signFlipped(d, 2, b)) {
            out.kind = Value::Kind::Integer;
            out.integer = signedBigEndian(b, 2);
        }
        return;
    case Long:
    case AutoInc:
        if (signFlipped(d, 4, b)) {
            out.kind = Value::Kind::Integer;
            out.integer = signedBigEndian(b, 4);
        }
        return;
    case Currency:
    case Number:
        if (paradoxDouble(d, out.number)) {
            out.kind = Value::Kind::Double;
        }
        return;
    case Logical:
        if (d[0] != 0) {
            out.kind = Value::Kind::Logical;
            out.logical = (d[0] & 0x7F) != 0;
        }
        return;
    case TimeType:
        if (signFlipped(d, 4, b)) {
            const qint64 ms = signedBigEndian(b, 4);
            if (ms >= 0 && ms < 86400000) {
                out.kind = Value::Kind::Time;
                out.time = QTime::fromMSecsSinceStartOfDay(int(ms));
            }
        }
        return;
    case TimestampType: {
        double ms = 0;
        if (paradoxDouble(d, ms) && std::isfinite(ms) && ms >= 0 && ms < 1e15) {
            const qint64 whole = qint64(ms);
            out.date = QDate::fromJulianDay(whole / 86400000 + julianOfDayZero);
            out.time = QTime::fromMSecsSinceStartOfDay(int(whole % 86400000));
            if (out.date.isValid()) {
                out.kind = Value::Kind::Timestamp;
            }
        }
        return;
    }
    case Bcd: {
        if (d[0] == 0) {
            return;
        }
        const bool positive = d[0] & 0x80;
        const int decimals = d[0] & 0x3F;
        if (decimals > 32) {
            return;
        }
        const unsigned char flip = positive ? 0 : 0x0F;
        QString& t = out.text;
        t.clear();
        if (!positive) {
            t.append(QLatin1Char('-'));
        }
        bool leading = true;
        for (int i = 2; i < 34; ++i) {
            if (i == 34 - decimals) {
                if (leading) {
                    t.append(QLatin1Char('0'));
                    leading = false;
                }
                t.append(QLatin1Char('.'));
            }
            const unsigned char nibble = ((i % 2) ? (d[i / 2] & 0x0F) : (d[i / 2] >> 4)) ^ flip;
            if (nibble > 9) {
                return; // not a decimal digit: damaged, left blank
            }
            if (leading && nibble == 0 && i < 33 - decimals) {
                continue;
            }
            leading = false;
            t.append(QLatin1Char(char('0' + nibble)));
        }
        if (t == QLatin1String("-0") || (t.startsWith(QLatin1Char('-')) &&
                                         t.count(QLatin1Char('0')) == t.size() - 1 - (decimals ? 1 : 0))) {
            t.remove(0, 1);
        }
        out.kind = Value::Kind::Decimal;
        out.number = t.toDouble();
        return;
    }
    case MemoBlob:
    case FmtMemo:
        memo(c, d, out);
        return;
    default:
        return;
    }
}

} // namespace

std::unique_ptr<TableReader> openParadox(const QString& path) {
    return std::make_unique<ParadoxReader>(path);
}

} // namespace lw::data
