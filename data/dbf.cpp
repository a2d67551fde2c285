// The dBASE reader: dBASE III+, IV and 5, FoxPro 2.x and Visual FoxPro tables with their memo files
// (.dbt of dBASE III and IV, .fpt), read record by record from a buffer of bounded size.
#include "data/bytes.h"
#include "data/codepage.h"
#include "data/tablefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <charconv>
#include <cstring>

namespace lw::data {

namespace {

quint32 be32(const unsigned char* p) {
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}
quint64 le64(const unsigned char* p) {
    return quint64(le32(p)) | (quint64(le32(p + 4)) << 32);
}

// How the bytes of a field become a value.
enum class Decode {
    Char,
    Varchar,
    Numeric,
    Float,
    Date,
    Logical,
    Memo,
    Int32,
    Double8,
    Currency,
    DateTime,
    Binary
};

struct Column {
    Field field;
    char type = 'C';
    Decode decode = Decode::Char;
    int offset = 0; // within the record, after the deletion flag
    int length = 0;
    int nullBit = -1; // Visual FoxPro: bit of the null flags that says the value is null
    int varBit = -1;  // Visual FoxPro: bit that says a varchar holds its length in its last byte
};

// The Julian day of 1899-12-30, the date part of a FoxPro date and time that holds only a time.
constexpr quint32 timeOnlyJulianDay = 2415019;

// The records of a table are read this many bytes at a time (at least one record).
constexpr qint64 bufferBytes = 64 * 1024;

// Bytes of one memo, at most: a memo longer than this is cut with a warning.
constexpr qint64 memoLimit = 64 * 1024 * 1024;

class MemoFile {
public:
    enum class Layout { Dbt, Fpt };

    MemoFile(const QString& path, Layout layout) : m_file(path), m_layout(layout) {
        unsigned char header[32] = {};
        if (m_file.size() < 32 || !m_file.readAt(0, header, sizeof header)) {
            failTable(path, QStringLiteral("the memo file is too short to be one"));
        }
        if (layout == Layout::Fpt) {
            m_blockSize = (header[6] << 8) | header[7];
            // FoxPro writes 0 for a block size of one byte in some old files.
            if (m_blockSize == 0) {
                m_blockSize = 1;
            }
        } else {
            // dBASE IV keeps its block size at byte 20; dBASE III always uses 512.
            const int size = le16(header + 20);
            m_blockSize = (header[16] == 0x03 || size < 64) ? 512 : size;
        }
    }

    const QString& path() const { return m_file.path(); }

    // The memo at block into out; text says whether it is text. Throws when the pointer or the
    // memo's length goes past the end of the memo file.
    void read(quint32 block, QByteArray& out, bool& text, QStringList& warnings) {
        text = true;
        out.clear();
        const qint64 start = qint64(block) * m_blockSize;
        if (start >= m_file.size()) {
            throw std::out_of_range(
                QStringLiteral("its memo pointer (block %1) is past the end of the memo file \"%2\"")
                    .arg(block)
                    .arg(m_file.path())
                    .toStdString());
        }
        if (m_layout == Layout::Fpt) {
            unsigned char head[8];
            if (!m_file.readAt(start, head, 8)) {
                pastEnd(block);
            }
            const quint32 type = be32(head);
            const qint64 length = be32(head + 4);
            if (start + 8 + length > m_file.size()) {
                pastEnd(block);
            }
            text = type == 1;
            readBounded(start + 8, length, out, warnings);
            return;
        }
        unsigned char head[8];
        const bool haveHead = m_file.readAt(start, head, std::min<qint64>(8, m_file.size() - start));
        if (haveHead && start + 8 <= m_file.size() && head[0] == 0xFF && head[1] == 0xFF && head[2] == 0x08 &&
            head[3] == 0x00) {
            // dBASE IV: a block header with the length of the memo and of the header itself.
            const qint64 length = qint64(le32(head + 4)) - 8;
            if (length < 0 || start + 8 + length > m_file.size()) {
                pastEnd(block);
            }
            readBounded(start + 8, length, out, warnings);
            cutAt(out, '\x1A');
            cutAt(out, '\x1F');
            return;
        }
        // dBASE III: text up to the end-of-memo mark (or the end of the file).
        char chunk[512];
        qint64 at = start;
        while (at < m_file.size()) {
            const qint64 n = std::min<qint64>(sizeof chunk, m_file.size() - at);
            if (!m_file.readAt(at, chunk, n)) {
                pastEnd(block);
            }
            const void* mark = std::memchr(chunk, 0x1A, std::size_t(n));
            const qint64 take = mark ? static_cast<const char*>(mark) - chunk : n;
            if (out.size() + take > memoLimit) {
                cutWarning(warnings);
                out.append(chunk, qsizetype(memoLimit - out.size()));
                return;
            }
            out.append(chunk, qsizetype(take));
            if (mark) {
                return;
            }
            at += n;
        }
    }

private:
    // Said once, however many memos are cut.
    void cutWarning(QStringList& warnings) const {
        const QString text =
            QStringLiteral("The memo file \"%1\": a memo longer than %2 bytes was cut to that length")
                .arg(m_file.path())
                .arg(memoLimit);
        if (!warnings.contains(text)) {
            warnings.append(text);
        }
    }

    [[noreturn]] void pastEnd(quint32 block) {
        throw std::out_of_range(
            QStringLiteral("its memo (block %1) runs past the end of the memo file \"%2\"")
                .arg(block)
                .arg(m_file.path())
                .toStdString());
    }

    void readBounded(qint64 at, qint64 length, QByteArray& out, QStringList& warnings) {
        if (length > memoLimit) {
            cutWarning(warnings);
            length = memoLimit;
        }
        out.resize(qsizetype(length));
        if (!m_file.readAt(at, out.data(), length)) {
            throw std::out_of_range(
                QStringLiteral("the memo file \"%1\" cannot be read").arg(m_file.path()).toStdString());
        }
    }

    static void cutAt(QByteArray& out, char mark) {
        const qsizetype at = out.indexOf(mark);
        if (at >= 0) {
            out.truncate(at);
        }
    }

    InputFile m_file;
    Layout m_layout;
    qint64 m_blockSize = 512;
};

bool isVisualFoxPro(unsigned char version) {
    return version == 0x30 || version == 0x31 || version == 0x32;
}

bool knownVersion(unsigned char version) {
    switch (version) {
    case 0x02: // FoxBASE
    case 0x30:
    case 0x31:
    case 0x32: // Visual FoxPro
    case 0xF5:
    case 0xE5:
    case 0xFB: // FoxPro 2.x
        return true;
    default:
        // dBASE III+, IV and 5: the low three bits say 3; the high ones say memo and SQL tables.
        return (version & 0x07) == 0x03;
    }
}

class DbfReader : public TableReader {
public:
    explicit DbfReader(const QString& path) : m_file(path) {
        m_path = path;
        readHeader();
        m_buffer.resize(std::size_t(std::max<qint64>(bufferBytes / m_recordSize, 1) * m_recordSize));
        m_bufferRecords = qint64(m_buffer.size()) / m_recordSize;
    }

    bool advance() override {
        while (m_next < m_count) {
            const qint64 index = m_next++;
            if (index < m_bufferFirst || index >= m_bufferFirst + m_bufferFilled) {
                fill(index);
            }
            const unsigned char* record = reinterpret_cast<const unsigned char*>(m_buffer.data()) +
                                          (index - m_bufferFirst) * m_recordSize;
            if (record[0] == '*') {
                continue;
            }
            if (record[0] == 0x1A) {
                // An end-of-file mark where the header promised more records.
                warn(QStringLiteral(
                         "The table file \"%1\" ends at record %2 although its header counts %3 records")
                         .arg(m_path)
                         .arg(index + 1)
                         .arg(m_count));
                m_count = index;
                return false;
            }
            m_current = record;
            m_currentIndex = index;
            return true;
        }
        m_current = nullptr;
        return false;
    }

    void rewind() override {
        m_next = 0;
        m_current = nullptr;
    }

    qint64 recordNumber() const override { return m_currentIndex + 1; }
    qint64 position() const override { return m_currentIndex; }

    void seek(qint64 index) override {
        if (index < 0 || index >= m_count) {
            failTable(m_path, QStringLiteral("there is no record %1").arg(index + 1));
        }
        if (index < m_bufferFirst || index >= m_bufferFirst + m_bufferFilled) {
            // Records asked for in order are read ahead a buffer at a time; one asked for out
            // of order (a sorted result) alone.
            fill(index, index == m_currentIndex + 1 ? m_bufferRecords : 1);
        }
        m_current =
            reinterpret_cast<const unsigned char*>(m_buffer.data()) + (index - m_bufferFirst) * m_recordSize;
        m_currentIndex = index;
    }

    void value(int column, Value& out) override;
    bool textUtf8(int column, std::string& out) override;

private:
    void readHeader();
    QString readDbase2Header(const unsigned char* head, std::vector<QByteArray>& rawNames);
    void finishHeader(int languageDriver, const std::vector<QByteArray>& rawNames);
    void chooseDecoder(int languageDriver, const std::vector<QByteArray>& rawNames);
    bool textIsUtf8(const std::vector<QByteArray>& rawNames);
    void findMemoFile();
    void fill(qint64 index, qint64 records = 0);
    bool isNull(const Column& c) const {
        if (c.nullBit < 0 || m_nullFlagsOffset < 0) {
            return false;
        }
        const int byte = c.nullBit / 8;
        return byte < m_nullFlagsLength && (m_current[1 + m_nullFlagsOffset + byte] >> (c.nullBit % 8)) & 1;
    }
    // The bytes of a text field without the blanks and zeros that pad it.
    void textBytes(const Column& c, const char*& bytes, qsizetype& length) const;
    void numeric(const Column& c, const char* bytes, qsizetype length, Value& out);
    void memo(const Column& c, Value& out);
    [[noreturn]] void failRecord(const Column& c, const QString& reason) const {
        failTable(
            m_path,
            QStringLiteral("record %1, field %2: %3").arg(m_currentIndex + 1).arg(c.field.name, reason));
    }
    // Said once for each field and kind of fault, naming the first record that has it.
    void warnValue(const Column& c, const QString& what) {
        const QString key = c.field.name + QLatin1Char('\n') + what;
        if (m_warnedValues.contains(key)) {
            return;
        }
        m_warnedValues.insert(key);
        warn(QStringLiteral("The table file \"%1\": %2 in field %3 (first at record %4) read as empty")
                 .arg(m_path, what, c.field.name)
                 .arg(m_currentIndex + 1));
    }

    InputFile m_file;
    unsigned char m_version = 0;
    qint64 m_headerSize = 0;
    qint64 m_recordSize = 0;
    qint64 m_count = 0;
    std::vector<Column> m_columns;
    int m_nullFlagsOffset = -1;
    int m_nullFlagsLength = 0;
    TextDecoder m_decoder;
    std::unique_ptr<MemoFile> m_memo;
    bool m_needsMemo = false;
    bool m_dbase2 = false;

    std::vector<char> m_buffer;
    qint64 m_bufferRecords = 0;
    qint64 m_bufferFirst = 0;
    qint64 m_bufferFilled = 0;
    qint64 m_next = 0;
    qint64 m_currentIndex = -1;
    const unsigned char* m_current = nullptr;
    QByteArray m_memoBytes;
    QSet<QString> m_warnedValues;
};

void DbfReader::readHeader() {
    const qint64 size = m_file.size();
    unsigned char head[32];
    if (size < 32 || !m_file.readAt(0, head, 32)) {
        failTable(m_path, QStringLiteral("the file is too short to be a dBASE table"));
    }
    m_version = head[0];
    if ((m_version & 0x07) == 0x04) {
        failTable(m_path, QStringLiteral("dBASE 7 tables are not supported (save it as dBASE IV or 5)"));
    }
    std::vector<QByteArray> rawNames;
    if (m_version == 0x02) {
        const QString notDbase2 = readDbase2Header(head, rawNames);
        if (m_dbase2) {
            finishHeader(0, rawNames);
            return;
        }
        rawNames.clear();
        // FoxBASE wrote 0x02 with the dBASE III layout; what fits neither is named for what it says.
        const qint64 headerSize = le16(head + 8);
        if (headerSize < 33 || headerSize > size || le16(head + 10) < 2) {
            failTable(m_path,
                      QStringLiteral("it is a dBASE II table that cannot be read: %1").arg(notDbase2));
        }
    }
    if (!knownVersion(m_version)) {
        failTable(m_path, QStringLiteral("it is not a dBASE table (unknown version byte 0x%1)")
                              .arg(m_version, 2, 16, QLatin1Char('0')));
    }
    const qint64 headerCount = le32(head + 4);
    m_headerSize = le16(head + 8);
    m_recordSize = le16(head + 10);
    if (m_headerSize < 33 || m_headerSize > size) {
        failTable(m_path, QStringLiteral("its header size %1 does not fit the file of %2 bytes")
                              .arg(m_headerSize)
                              .arg(size));
    }
    if (m_recordSize < 1) {
        failTable(m_path, QStringLiteral("its record size is 0"));
    }

    const int languageDriver = head[29];
    const int codePage = codePageOfLanguageDriver(head[29]);
    m_decoder = TextDecoder(codePage == 0 ? 1252 : codePage);

    std::vector<unsigned char> header(static_cast<std::size_t>(m_headerSize));
    if (!m_file.readAt(0, header.data(), m_headerSize)) {
        failTable(m_path, QStringLiteral("its header cannot be read"));
    }
    const bool vfp = isVisualFoxPro(m_version);
    std::vector<Column> all;
    int lengthSum = 0;
    qint64 at = 32;
    for (; at + 32 <= m_headerSize && header[std::size_t(at)] != 0x0D; at += 32) {
        const unsigned char* d = header.data() + at;
        Column c;
        int nameLength = 0;
        while (nameLength < 11 && d[nameLength] != 0) {
            ++nameLength;
        }
        m_decoder.decode(reinterpret_cast<const char*>(d), nameLength, c.field.name);
        c.field.name = c.field.name.trimmed();
        rawNames.push_back(QByteArray(reinterpret_cast<const char*>(d), nameLength));
        c.type = char(d[11]);
        c.length = d[16];
        c.field.decimals = d[17];
        // FoxPro and Clipper keep the high byte of a long character field's length in the decimals.
        if (c.type == 'C' && !vfp && m_version != 0x03 && c.field.decimals > 0) {
            c.length += 256 * c.field.decimals;
            c.field.decimals = 0;
        } else if (c.type == 'C') {
            c.field.decimals = 0;
        }
        if (c.length == 0) {
            failTable(m_path, QStringLiteral("the field %1 has the length 0").arg(c.field.name));
        }
        c.offset = lengthSum;
        lengthSum += c.length;
        c.field.size = c.length;
        const unsigned char flags = vfp ? d[18] : 0;
        switch (c.type) {
        case 'C':
            c.field.type = FieldType::Text;
            break;
        case 'V':
            c.decode = Decode::Varchar;
            c.field.type = FieldType::Text;
            break;
        case 'N':
            c.decode = Decode::Numeric;
            c.field.type = c.field.decimals == 0 && c.length <= 18 ? FieldType::Integer : FieldType::Decimal;
            break;
        case 'F':
            c.decode = Decode::Float;
            c.field.type = FieldType::Double;
            break;
        case 'D':
            c.decode = Decode::Date;
            c.field.type = FieldType::Date;
            break;
        case 'L':
            c.decode = Decode::Logical;
            c.field.type = FieldType::Logical;
            break;
        case 'M':
            c.decode = (flags & 0x04) ? Decode::Binary : Decode::Memo;
            c.field.type = (flags & 0x04) ? FieldType::Binary : FieldType::Text;
            c.field.size = 0;
            m_needsMemo = m_needsMemo || c.decode == Decode::Memo;
            break;
        case 'I':
        case '+':
            c.decode = c.length == 4 ? Decode::Int32 : Decode::Binary;
            c.field.type = FieldType::Integer;
            break;
        case 'B':
            if (vfp && c.length == 8) {
                c.decode = Decode::Double8;
                c.field.type = FieldType::Double;
            } else {
                c.decode = Decode::Binary;
                c.field.type = FieldType::Binary;
            }
            break;
        case 'Y':
            c.decode = c.length == 8 ? Decode::Currency : Decode::Binary;
            c.field.type = FieldType::Decimal;
            c.field.decimals = 4;
            break;
        case 'T':
            c.decode = c.length == 8 ? Decode::DateTime : Decode::Binary;
            c.field.type = FieldType::Timestamp;
            break;
        case '0':
            // Visual FoxPro's hidden field of null and varchar-length flags.
            m_nullFlagsOffset = c.offset;
            m_nullFlagsLength = c.length;
            rawNames.pop_back();
            continue;
        case 'G':
        case 'P':
        case 'Q':
        case 'W':
            c.decode = Decode::Binary;
            c.field.type = FieldType::Binary;
            break;
        default:
            c.decode = Decode::Binary;
            c.field.type = FieldType::Binary;
            warn(QStringLiteral(
                     "The table file \"%1\": the field %2 has the unknown type \"%3\" and is read as empty")
                     .arg(m_path, c.field.name, QString(QChar::fromLatin1(c.type))));
            break;
        }
        if (c.decode == Decode::Binary && c.field.type == FieldType::Binary) {
            warn(QStringLiteral("The table file \"%1\": the binary field %2 is read as empty")
                     .arg(m_path, c.field.name));
        }
        if (vfp) {
            // Bits of the null flags: one per varchar (length held), then one per nullable field.
            c.nullBit = flags & 0x02 ? 1 : -1; // placeholder, numbered below
            c.varBit = (c.type == 'V' || c.type == 'Q') ? 1 : -1;
        }
        all.push_back(c);
    }
    if (at + 32 > m_headerSize && (at >= m_headerSize || header[std::size_t(at)] != 0x0D)) {
        failTable(m_path, QStringLiteral("its field list has no end mark within the header"));
    }
    if (all.empty()) {
        failTable(m_path, QStringLiteral("it has no fields"));
    }
    if (lengthSum + 1 != m_recordSize) {
        failTable(m_path, QStringLiteral("its record size %1 does not match its fields (%2 bytes)")
                              .arg(m_recordSize)
                              .arg(lengthSum + 1));
    }
    int bit = 0;
    for (Column& c : all) {
        if (c.varBit >= 0) {
            c.varBit = bit++;
        }
        if (c.nullBit >= 0) {
            c.nullBit = bit++;
        }
    }
    m_columns = std::move(all);
    m_count = headerCount;
    finishHeader(languageDriver, rawNames);
}

// What follows the field list of either layout: the record count against the file's size, the
// code page, the memo file. m_count holds the header's count.
void DbfReader::finishHeader(int languageDriver, const std::vector<QByteArray>& rawNames) {
    const qint64 size = m_file.size();
    const qint64 headerCount = m_count;
    const qint64 available = (size - m_headerSize) / m_recordSize;
    m_count = headerCount;
    if (headerCount > available) {
        warn(QStringLiteral(
                 "The header of the table file \"%1\" counts %2 records but the file holds only %3; "
                 "those %3 are read")
                 .arg(m_path)
                 .arg(headerCount)
                 .arg(available));
        m_count = available;
    } else if (headerCount < available) {
        warn(QStringLiteral(
                 "The table file \"%1\" holds %2 records but its header counts %3; only %3 are read")
                 .arg(m_path)
                 .arg(available)
                 .arg(headerCount));
    }
    chooseDecoder(languageDriver, rawNames);
    for (const Column& c : m_columns) {
        m_fields.push_back(c.field);
    }
    if (m_needsMemo) {
        findMemoFile();
    }
}

// dBASE II: a header of 521 bytes: the version, the record count (16 bits), the date, the record
// length (16 bits, the deletion flag included), then up to 32 field descriptors of 16 bytes (the
// name in 11 bytes, the type C, N or L, the length, two bytes of no use, the decimals); a 0x0D
// where a descriptor would start ends the list. False when the header is not such a one.
QString DbfReader::readDbase2Header(const unsigned char* head, std::vector<QByteArray>& rawNames) {
    constexpr qint64 headerSize = 521;
    const qint64 size = m_file.size();
    unsigned char header[headerSize];
    if (size < headerSize || !m_file.readAt(0, header, headerSize)) {
        return QStringLiteral("the file is shorter than its header of %1 bytes").arg(headerSize);
    }
    const qint64 recordSize = le16(head + 6);
    std::vector<Column> all;
    int lengthSum = 0;
    for (int i = 0; i < 32; ++i) {
        const unsigned char* d = header + 8 + 16 * i;
        if (d[0] == 0x0D) {
            break;
        }
        Column c;
        int nameLength = 0;
        while (nameLength < 11 && d[nameLength] != 0) {
            ++nameLength;
        }
        if (nameLength == 0) {
            return QStringLiteral("field %1 has no name").arg(i + 1);
        }
        rawNames.push_back(QByteArray(reinterpret_cast<const char*>(d), nameLength));
        m_decoder.decode(rawNames.back().constData(), nameLength, c.field.name);
        c.field.name = c.field.name.trimmed();
        c.type = char(d[11]);
        c.length = d[12];
        c.field.decimals = c.type == 'N' ? d[15] : 0;
        c.field.size = c.length;
        c.offset = lengthSum;
        switch (c.type) {
        case 'C':
            c.field.type = FieldType::Text;
            break;
        case 'N':
            c.decode = Decode::Numeric;
            c.field.type = c.field.decimals == 0 && c.length <= 18 ? FieldType::Integer : FieldType::Decimal;
            break;
        case 'L':
            c.decode = Decode::Logical;
            c.field.type = FieldType::Logical;
            break;
        default:
            return QStringLiteral("the field %1 has the type \"%2\", which dBASE II does not have")
                .arg(c.field.name, QString::fromLatin1(&c.type, 1));
        }
        if (c.length == 0) {
            return QStringLiteral("the field %1 has the length 0").arg(c.field.name);
        }
        lengthSum += c.length;
        all.push_back(c);
    }
    if (all.empty()) {
        return QStringLiteral("it has no fields");
    }
    if (lengthSum + 1 != recordSize) {
        return QStringLiteral("its record size %1 does not match its fields (%2 bytes)")
            .arg(recordSize)
            .arg(lengthSum + 1);
    }
    m_dbase2 = true;
    m_headerSize = headerSize;
    m_recordSize = recordSize;
    m_count = le16(head + 1);
    m_columns = std::move(all);
    return {};
}

// The decoder of the table's text by its language driver. A driver we do not know (or none) gives
// code page 1252, unless the text of the names and character fields is valid UTF-8 holding
// characters of several bytes: then it is read as UTF-8, and the warning says so.
void DbfReader::chooseDecoder(int languageDriver, const std::vector<QByteArray>& rawNames) {
    const int codePage = m_dbase2 ? 0 : codePageOfLanguageDriver(static_cast<unsigned char>(languageDriver));
    if (codePage != 0) {
        if (!m_decoder.known()) {
            warn(QStringLiteral("The table file \"%1\" uses code page %2, which is read as 1252")
                     .arg(m_path)
                     .arg(codePage));
        }
        return;
    }
    const bool utf8 = textIsUtf8(rawNames);
    if (utf8) {
        m_decoder = TextDecoder(utf8CodePage);
        for (std::size_t i = 0; i < m_columns.size() && i < rawNames.size(); ++i) {
            m_decoder.decode(rawNames[i].constData(), rawNames[i].size(), m_columns[i].field.name);
            m_columns[i].field.name = m_columns[i].field.name.trimmed();
        }
    }
    if (languageDriver == 0 && !utf8) {
        return; // no driver named: code page 1252, as always
    }
    const QString named = languageDriver == 0 ? QStringLiteral("names no language driver")
                                              : QStringLiteral("names the unknown language driver 0x%1")
                                                    .arg(languageDriver, 2, 16, QLatin1Char('0'));
    warn(QStringLiteral("The table file \"%1\" %2; its text is read as %3")
             .arg(m_path, named,
                  utf8 ? QStringLiteral("UTF-8 (it is valid UTF-8 with characters of several bytes)")
                       : QStringLiteral("code page 1252")));
}

// Whether the names and the character fields of the records (up to a bound of bytes read) are valid
// UTF-8 with at least one character of several bytes.
bool DbfReader::textIsUtf8(const std::vector<QByteArray>& rawNames) {
    bool multiByte = false;
    for (const QByteArray& name : rawNames) {
        if (!validUtf8(name.constData(), name.size(), multiByte)) {
            return false;
        }
    }
    std::vector<const Column*> text;
    for (const Column& c : m_columns) {
        if (c.decode == Decode::Char || c.decode == Decode::Varchar) {
            text.push_back(&c);
        }
    }
    if (text.empty()) {
        return multiByte;
    }
    constexpr qint64 scanBytes = 32 * 1024 * 1024;
    const qint64 records = std::min(m_count, std::max<qint64>(scanBytes / m_recordSize, 1));
    const qint64 perRead = std::max<qint64>(bufferBytes / m_recordSize, 1);
    std::vector<char> buffer(std::size_t(perRead * m_recordSize));
    for (qint64 first = 0; first < records; first += perRead) {
        const qint64 n = std::min(perRead, records - first);
        if (!m_file.readAt(m_headerSize + first * m_recordSize, buffer.data(), n * m_recordSize)) {
            break;
        }
        for (qint64 r = 0; r < n; ++r) {
            const char* record = buffer.data() + r * m_recordSize;
            if (record[0] == 0x1A) {
                return multiByte;
            }
            for (const Column* c : text) {
                if (!validUtf8(record + 1 + c->offset, c->length, multiByte)) {
                    return false;
                }
            }
        }
    }
    return multiByte;
}

void DbfReader::findMemoFile() {
    const QFileInfo info(m_path);
    const QString base = info.completeBaseName();
    const QDir dir = info.absoluteDir();
    const QStringList candidates = dir.entryList(QDir::Files | QDir::Readable | QDir::Hidden | QDir::System);
    QString dbt;
    QString fpt;
    for (const QString& name : candidates) {
        if (name.size() != base.size() + 4 || !name.startsWith(base, Qt::CaseInsensitive) ||
            name.at(base.size()) != QLatin1Char('.')) {
            continue;
        }
        const QString ext = name.mid(base.size() + 1).toLower();
        if (ext == QLatin1String("dbt") && (dbt.isEmpty() || name.startsWith(base))) {
            dbt = dir.filePath(name);
        } else if (ext == QLatin1String("fpt") && (fpt.isEmpty() || name.startsWith(base))) {
            fpt = dir.filePath(name);
        }
    }
    const bool fox = m_version == 0xF5 || m_version == 0xE5 || m_version == 0xFB || isVisualFoxPro(m_version);
    QString chosen = fox ? (fpt.isEmpty() ? dbt : fpt) : (dbt.isEmpty() ? fpt : dbt);
    if (chosen.isEmpty()) {
        warn(QStringLiteral(
                 "The memo file of the table file \"%1\" is missing; its memo fields are read as empty")
                 .arg(m_path));
        return;
    }
    const bool isFpt = chosen.endsWith(QLatin1String("fpt"), Qt::CaseInsensitive);
    m_memo = std::make_unique<MemoFile>(chosen, isFpt ? MemoFile::Layout::Fpt : MemoFile::Layout::Dbt);
}

void DbfReader::fill(qint64 index, qint64 records) {
    const qint64 count = std::min(records > 0 ? records : m_bufferRecords, m_count - index);
    if (!m_file.readAt(m_headerSize + index * m_recordSize, m_buffer.data(), count * m_recordSize)) {
        failTable(m_path,
                  QStringLiteral("record %1 cannot be read: the file is shorter than when it was opened")
                      .arg(index + 1));
    }
    m_bufferFirst = index;
    m_bufferFilled = count;
}

void DbfReader::textBytes(const Column& c, const char*& bytes, qsizetype& length) const {
    bytes = reinterpret_cast<const char*>(m_current) + 1 + c.offset;
    length = c.length;
    if (c.decode == Decode::Varchar && c.varBit >= 0 && m_nullFlagsOffset >= 0 &&
        c.varBit / 8 < m_nullFlagsLength &&
        ((m_current[1 + m_nullFlagsOffset + c.varBit / 8] >> (c.varBit % 8)) & 1)) {
        length = std::min<qsizetype>(static_cast<unsigned char>(bytes[c.length - 1]), c.length - 1);
        return;
    }
    while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) {
        --length;
    }
}

void DbfReader::numeric(const Column& c, const char* bytes, qsizetype length, Value& out) {
    qsizetype first = 0;
    while (first < length && (bytes[first] == ' ' || bytes[first] == '*' || bytes[first] == '\0')) {
        ++first;
    }
    while (length > first &&
           (bytes[length - 1] == ' ' || bytes[length - 1] == '*' || bytes[length - 1] == '\0')) {
        --length;
    }
    const char* s = bytes + first;
    const qsizetype n = length - first;
    if (n == 0) {
        out.kind = Value::Kind::Null;
        return;
    }
    // Sign, digits, an optional point (or comma) and digits: kept exactly.
    qsizetype i = 0;
    const bool negative = s[0] == '-';
    if (s[0] == '-' || s[0] == '+') {
        ++i;
    }
    qint64 whole = 0;
    int wholeDigits = 0;
    qsizetype wholeStart = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') {
        if (wholeDigits < 18) {
            whole = whole * 10 + (s[i] - '0');
        }
        ++wholeDigits;
        ++i;
    }
    const qsizetype wholeEnd = i;
    qsizetype fracStart = -1;
    qsizetype fracEnd = -1;
    if (i < n && (s[i] == '.' || s[i] == ',')) {
        fracStart = ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') {
            ++i;
        }
        fracEnd = i;
    }
    const bool plain = i == n && (wholeDigits > 0 || fracEnd > fracStart);
    if (!plain) {
        // Exponent forms that some programs write into F and N fields.
        double d = 0;
        const auto [end, ec] = std::from_chars(s + (s[0] == '+' ? 1 : 0), s + n, d);
        if (ec == std::errc() && end == s + n) {
            out.kind = Value::Kind::Double;
            out.number = d;
            return;
        }
        out.kind = Value::Kind::Null;
        warnValue(c, QStringLiteral("a value that is not a number"));
        return;
    }
    if (c.decode == Decode::Float) {
        double d = 0;
        std::string text(s, std::size_t(n));
        for (char& ch : text) {
            if (ch == ',') {
                ch = '.';
            }
        }
        std::from_chars(text.data() + (text[0] == '+' ? 1 : 0), text.data() + text.size(), d);
        out.kind = Value::Kind::Double;
        out.number = d;
        return;
    }
    if (fracStart < 0 && wholeDigits <= 18 && c.field.type == FieldType::Integer) {
        out.kind = Value::Kind::Integer;
        out.integer = negative ? -whole : whole;
        return;
    }
    const qsizetype fraction = fracEnd > fracStart ? fracEnd - fracStart : 0;
    out.kind = Value::Kind::Decimal;
    // The number from the same digits, correctly rounded.
    char digits[72];
    qsizetype k = 0;
    if (negative) {
        digits[k++] = '-';
    }
    const qsizetype wholeLength = std::min<qsizetype>(wholeEnd - wholeStart, 32);
    std::memcpy(digits + k, s + wholeStart, std::size_t(wholeLength));
    k += wholeLength;
    if (k == qsizetype(negative)) {
        digits[k++] = '0';
    }
    if (fraction > 0) {
        digits[k++] = '.';
        const qsizetype f = std::min<qsizetype>(fraction, 32);
        std::memcpy(digits + k, s + fracStart, std::size_t(f));
        k += f;
    }
    out.number = 0;
    std::from_chars(digits, digits + k, out.number);
    if (m_numbersOnly) {
        return;
    }
    // Exact decimal text: "-0.50" from "-.50", "3" from "3.".
    QString& t = out.text;
    t.clear();
    if (negative) {
        t.append(QLatin1Char('-'));
    }
    if (wholeEnd == wholeStart) {
        t.append(QLatin1Char('0'));
    } else {
        t.append(QLatin1String(s + wholeStart, wholeEnd - wholeStart));
    }
    if (fraction > 0 || c.field.decimals > 0) {
        t.append(QLatin1Char('.'));
        t.append(QLatin1String(s + fracStart, fraction));
        // As many digits after the point as the field declares: "12" of an N(10,2) is "12.00".
        for (qsizetype k = fraction; k < c.field.decimals; ++k) {
            t.append(QLatin1Char('0'));
        }
    }
}

void DbfReader::memo(const Column& c, Value& out) {
    out.kind = Value::Kind::Null;
    const unsigned char* d = m_current + 1 + c.offset;
    quint32 block = 0;
    if (c.length == 4) {
        block = le32(d);
    } else {
        qsizetype i = 0;
        while (i < c.length && (d[i] == ' ' || d[i] == 0)) {
            ++i;
        }
        for (; i < c.length && d[i] >= '0' && d[i] <= '9'; ++i) {
            block = block * 10 + (d[i] - '0');
            if (block > 0x7FFFFFFF) {
                failRecord(c, QStringLiteral("its memo pointer is not a number"));
            }
        }
        while (i < c.length && (d[i] == ' ' || d[i] == 0)) {
            ++i;
        }
        if (i != c.length) {
            failRecord(c, QStringLiteral("its memo pointer is not a number"));
        }
    }
    if (block == 0 || !m_memo) {
        return;
    }
    bool text = true;
    try {
        m_memo->read(block, m_memoBytes, text, m_warnings);
    } catch (const std::out_of_range& e) {
        failRecord(c, QString::fromStdString(e.what()));
    }
    if (!text) {
        warnValue(c, QStringLiteral("a memo that is not text"));
        return;
    }
    out.kind = Value::Kind::Text;
    m_decoder.decode(m_memoBytes.constData(), m_memoBytes.size(), out.text);
}

void DbfReader::value(int column, Value& out) {
    const Column& c = m_columns[std::size_t(column)];
    if (isNull(c)) {
        out.kind = Value::Kind::Null;
        return;
    }
    const unsigned char* d = m_current + 1 + c.offset;
    const char* bytes = reinterpret_cast<const char*>(d);
    switch (c.decode) {
    case Decode::Char:
    case Decode::Varchar: {
        qsizetype length = 0;
        textBytes(c, bytes, length);
        out.kind = Value::Kind::Text;
        m_decoder.decode(bytes, length, out.text);
        return;
    }
    case Decode::Numeric:
    case Decode::Float:
        numeric(c, bytes, c.length, out);
        return;
    case Decode::Date: {
        int y = 0, m = 0, day = 0;
        bool digits = c.length == 8;
        bool blank = true;
        for (int i = 0; i < c.length; ++i) {
            digits = digits && d[i] >= '0' && d[i] <= '9';
            blank = blank && (d[i] == ' ' || d[i] == '0' || d[i] == 0);
        }
        if (blank) {
            out.kind = Value::Kind::Null;
            return;
        }
        if (digits) {
            y = (d[0] - '0') * 1000 + (d[1] - '0') * 100 + (d[2] - '0') * 10 + (d[3] - '0');
            m = (d[4] - '0') * 10 + (d[5] - '0');
            day = (d[6] - '0') * 10 + (d[7] - '0');
            out.date = QDate(y, m, day);
            if (out.date.isValid()) {
                out.kind = Value::Kind::Date;
                return;
            }
        }
        out.kind = Value::Kind::Null;
        warnValue(c, QStringLiteral("a date that is not one"));
        return;
    }
    case Decode::Logical:
        switch (d[0]) {
        case 'T':
        case 't':
        case 'Y':
        case 'y':
            out.kind = Value::Kind::Logical;
            out.logical = true;
            return;
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            out.kind = Value::Kind::Logical;
            out.logical = false;
            return;
        case '?':
        case ' ':
        case 0:
            out.kind = Value::Kind::Null;
            return;
        default:
            out.kind = Value::Kind::Null;
            warnValue(c, QStringLiteral("a logical value that is not one"));
            return;
        }
    case Decode::Memo:
        memo(c, out);
        return;
    case Decode::Int32:
        out.kind = Value::Kind::Integer;
        out.integer = qint32(le32(d));
        return;
    case Decode::Double8: {
        const quint64 bits = le64(d);
        std::memcpy(&out.number, &bits, 8);
        out.kind = Value::Kind::Double;
        return;
    }
    case Decode::Currency: {
        const qint64 v = qint64(le64(d));
        const quint64 a = v < 0 ? quint64(0) - quint64(v) : quint64(v);
        out.kind = Value::Kind::Decimal;
        out.text = (v < 0 ? QStringLiteral("-") : QString()) + QString::number(a / 10000) + QLatin1Char('.') +
                   QStringLiteral("%1").arg(a % 10000, 4, 10, QLatin1Char('0'));
        out.number = double(v) / 10000.0;
        return;
    }
    case Decode::DateTime: {
        const quint32 day = le32(d);
        const quint32 ms = le32(d + 4);
        bool blank = true;
        for (int i = 0; i < 8; ++i) {
            blank = blank && (d[i] == ' ' || d[i] == 0);
        }
        if (blank || day == 0) {
            out.kind = Value::Kind::Null;
            return;
        }
        out.date = QDate::fromJulianDay(day);
        out.time = QTime::fromMSecsSinceStartOfDay(int(ms % 86400000u));
        if (!out.date.isValid() || ms >= 86400000u) {
            out.kind = Value::Kind::Null;
            warnValue(c, QStringLiteral("a date and time that is not one"));
            return;
        }
        // FoxPro keeps a time of day alone on the day 1899-12-30 (day 0 of the spreadsheet count).
        out.kind = day == timeOnlyJulianDay ? Value::Kind::Time : Value::Kind::Timestamp;
        return;
    }
    case Decode::Binary:
        out.kind = Value::Kind::Null;
        return;
    }
}

bool DbfReader::textUtf8(int column, std::string& out) {
    const Column& c = m_columns[std::size_t(column)];
    if (isNull(c)) {
        return false;
    }
    if (c.decode == Decode::Char || c.decode == Decode::Varchar) {
        const char* bytes = nullptr;
        qsizetype length = 0;
        textBytes(c, bytes, length);
        m_decoder.decodeUtf8(bytes, length, out);
        return true;
    }
    Value v;
    value(column, v);
    if (v.kind != Value::Kind::Text) {
        return false;
    }
    const QByteArray utf8 = v.text.toUtf8();
    out.assign(utf8.constData(), std::size_t(utf8.size()));
    return true;
}

} // namespace

std::unique_ptr<TableReader> openDbf(const QString& path) {
    return std::make_unique<DbfReader>(path);
}

} // namespace lw::data
