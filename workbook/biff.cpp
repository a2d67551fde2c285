// The BIFF8 record layer: record framing, strings across CONTINUE records, formula token sizes
// and the built-in number formats.
#include "workbook/biff.h"

#include <QHash>

namespace lw::xls::biff {

void appendRecord(QByteArray& out, quint16 id, const QByteArray& data) {
    char h[4];
    put16(h, id);
    put16(h + 2, quint16(data.size()));
    out.append(h, 4);
    out.append(data);
}

void appendLongRecord(QByteArray& out, quint16 id, const QByteArray& data) {
    constexpr qsizetype chunk = 8224;
    qsizetype pos = 0;
    do {
        const qsizetype n = std::min(chunk, data.size() - pos);
        appendRecord(out, pos == 0 ? id : quint16(rContinue), data.mid(pos, n));
        pos += n;
    } while (pos < data.size());
}

QByteArray unicodeString(const QString& s, bool shortLength) {
    QByteArray out;
    Out o(out);
    if (shortLength)
        o.u8(quint8(s.size()));
    else
        o.u16(quint16(s.size()));
    bool wide = false;
    for (QChar c : s) {
        if (c.unicode() > 0xFF) {
            wide = true;
            break;
        }
    }
    o.u8(wide ? 1 : 0);
    if (wide) {
        out.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
    } else {
        out.append(s.toLatin1());
    }
    return out;
}

// Reader ---------------------------------------------------------------------------------------

bool Reader::atEnd() const {
    return remaining() == 0;
}

qsizetype Reader::remaining() const {
    qsizetype n = 0;
    for (std::size_t i = m_seg; i < m_segs.size(); ++i)
        n += m_segs[i].size - (i == m_seg ? m_pos : 0);
    return n;
}

void Reader::need(qsizetype n) {
    (void)n;
    while (m_seg < m_segs.size() && m_pos >= m_segs[m_seg].size) {
        ++m_seg;
        m_pos = 0;
    }
    if (m_seg >= m_segs.size())
        throw Error("a record ends before its data");
}

quint8 Reader::u8() {
    need(1);
    return quint8(m_segs[m_seg].data[m_pos++]);
}

quint16 Reader::u16() {
    need(2);
    if (m_segs[m_seg].size - m_pos >= 2) {
        const quint16 v = biff::u16(m_segs[m_seg].data + m_pos);
        m_pos += 2;
        return v;
    }
    const quint8 lo = u8();
    return quint16(lo | (u8() << 8));
}

quint32 Reader::u32() {
    need(4);
    if (m_segs[m_seg].size - m_pos >= 4) {
        const quint32 v = biff::u32(m_segs[m_seg].data + m_pos);
        m_pos += 4;
        return v;
    }
    const quint16 lo = u16();
    return quint32(lo) | (quint32(u16()) << 16);
}

double Reader::f64() {
    const QByteArray b = bytes(8);
    return biff::f64(b.constData());
}

void Reader::skip(qsizetype n) {
    if (n < 0)
        throw Error("a record holds a negative length");
    while (n > 0) {
        need(1);
        const qsizetype k = std::min(n, m_segs[m_seg].size - m_pos);
        m_pos += k;
        n -= k;
    }
}

QByteArray Reader::bytes(qsizetype n) {
    if (n < 0 || n > remaining())
        throw Error("a record ends before its data");
    QByteArray out;
    out.reserve(n);
    while (n > 0) {
        need(1);
        const qsizetype k = std::min(n, m_segs[m_seg].size - m_pos);
        out.append(m_segs[m_seg].data + m_pos, k);
        m_pos += k;
        n -= k;
    }
    return out;
}

QString Reader::string(bool shortLength) {
    const int cch = shortLength ? u8() : u16();
    quint8 flags = u8();
    int runs = 0;
    quint32 ext = 0;
    if (flags & 0x08)
        runs = u16();
    if (flags & 0x04)
        ext = u32();
    QString s;
    s.reserve(cch);
    int left = cch;
    while (left > 0) {
        if (m_seg >= m_segs.size())
            throw Error("a string ends before its characters (a record ends before its data)");
        if (m_pos >= m_segs[m_seg].size) {
            // Characters that go on in the next record start there with an option byte of their own.
            ++m_seg;
            m_pos = 0;
            if (m_seg < m_segs.size() && m_segs[m_seg].size > 0)
                flags = quint8(m_segs[m_seg].data[m_pos++]);
            continue;
        }
        const Seg& seg = m_segs[m_seg];
        const qsizetype avail = seg.size - m_pos;
        if (flags & 0x01) {
            qsizetype n = std::min<qsizetype>(left, avail / 2);
            if (n == 0) { // a character split over two records: read it byte by byte
                const quint16 c = u16();
                s.append(QChar(c));
                --left;
                continue;
            }
            const qsizetype old = s.size();
            s.resize(old + n); // UTF-16 little-endian, as the host keeps it
            std::memcpy(s.data() + old, seg.data + m_pos, std::size_t(2 * n));
            m_pos += 2 * n;
            left -= int(n);
        } else {
            const qsizetype n = std::min<qsizetype>(left, avail);
            s.append(QString::fromLatin1(seg.data + m_pos, n));
            m_pos += n;
            left -= int(n);
        }
        // The next piece, if any, is in the next segment.
    }
    skip(qsizetype(runs) * 4);
    skip(qsizetype(ext));
    return s;
}

// Formula tokens ---------------------------------------------------------------------------------

int tokenSize(const QByteArray& tokens, int pos) {
    const int n = int(tokens.size());
    if (pos >= n)
        return -1;
    const quint8 t = quint8(tokens[pos]);
    int size = -1;
    if (t < 0x20) {
        switch (t) {
        case ptgExp:
        case ptgTbl:
            size = 5;
            break;
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
        case 0x15:
        case 0x16:
            size = 1;
            break;
        case ptgStr: {
            if (pos + 3 > n)
                return -1;
            const int cch = quint8(tokens[pos + 1]);
            const bool wide = quint8(tokens[pos + 2]) & 1;
            size = 3 + cch * (wide ? 2 : 1);
            break;
        }
        case ptgAttr: {
            if (pos + 4 > n)
                return -1;
            const quint8 kind = quint8(tokens[pos + 1]);
            size = 4;
            if (kind & 0x04) // tAttrChoose: a jump table of (count + 1) offsets
                size += (u16(tokens.constData() + pos + 2) + 1) * 2;
            break;
        }
        case 0x1C: // tErr
        case 0x1D: // tBool
            size = 2;
            break;
        case 0x1E: // tInt
            size = 3;
            break;
        case 0x1F: // tNum
            size = 9;
            break;
        default:
            return -1;
        }
    } else {
        switch (baseToken(t)) {
        case ptgArray:
            size = 8;
            break;
        case ptgFunc:
            size = 3;
            break;
        case ptgFuncVar:
            size = 4;
            break;
        case ptgName:
            size = 5;
            break;
        case ptgRef:
        case ptgRefErr:
        case ptgRefN:
            size = 5;
            break;
        case ptgArea:
        case ptgAreaErr:
        case ptgAreaN:
            size = 9;
            break;
        case ptgMemArea:
        case ptgMemErr:
        case ptgMemNoMem:
            size = 7;
            break;
        case ptgMemFunc:
            size = 3;
            break;
        case ptgNameX:
            size = 7;
            break;
        case ptgRef3d:
        case ptgRefErr3d:
            size = 7;
            break;
        case ptgArea3d:
        case ptgAreaErr3d:
            size = 11;
            break;
        default:
            return -1;
        }
    }
    if (pos + size > n)
        return -1;
    return size;
}

int fixedArgumentCount(quint16 f) {
    static const QHash<quint16, int> table = [] {
        QHash<quint16, int> t;
        const int zero[] = {10, 19, 34, 35, 63, 74, 221};
        const int one[] = {2,   3,   15,  16,  17,  18,  20,  21,  22,  23,  24,  25,  26,  32,
                           33,  38,  67,  68,  69,  71,  72,  73,  75,  76,  77,  83,  86,  98,
                           99,  105, 111, 112, 113, 114, 118, 121, 126, 127, 128, 129, 130, 131,
                           140, 141, 162, 163, 164, 184, 190, 198, 229, 230, 231, 232, 233, 234,
                           244, 261, 271, 279, 283, 284, 294, 296, 298, 342, 343, 347, 352, 360};
        const int two[] = {27,  30,  39,  48,  97,  117, 165, 212, 213, 252, 274, 275, 276,
                           285, 288, 299, 303, 304, 305, 306, 307, 308, 310, 311, 312, 313,
                           314, 315, 325, 326, 327, 328, 331, 332, 337, 346, 353};
        const int three[] = {31,  40,  41,  42,  43,  44,  45,  47,  61,  65,  66,  142, 189, 195, 196, 199,
                             235, 277, 278, 280, 281, 282, 287, 290, 291, 292, 295, 297, 300, 301, 309, 351};
        const int four[] = {119, 143, 273, 286, 289, 293, 302, 316, 350};
        for (int i : zero)
            t.insert(quint16(i), 0);
        for (int i : one)
            t.insert(quint16(i), 1);
        for (int i : two)
            t.insert(quint16(i), 2);
        for (int i : three)
            t.insert(quint16(i), 3);
        for (int i : four)
            t.insert(quint16(i), 4);
        return t;
    }();
    return table.value(f, -1);
}

// Number formats ---------------------------------------------------------------------------------

QString builtinFormat(quint16 index) {
    static const char* const codes[50] = {"General",
                                          "0",
                                          "0.00",
                                          "#,##0",
                                          "#,##0.00",
                                          "\"$\"#,##0_);(\"$\"#,##0)",
                                          "\"$\"#,##0_);[Red](\"$\"#,##0)",
                                          "\"$\"#,##0.00_);(\"$\"#,##0.00)",
                                          "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)",
                                          "0%",
                                          "0.00%",
                                          "0.00E+00",
                                          "# ?/?",
                                          "# ?\?/?\?",
                                          "m/d/yy",
                                          "d-mmm-yy",
                                          "d-mmm",
                                          "mmm-yy",
                                          "h:mm AM/PM",
                                          "h:mm:ss AM/PM",
                                          "h:mm",
                                          "h:mm:ss",
                                          "m/d/yy h:mm",
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          "#,##0_);(#,##0)",
                                          "#,##0_);[Red](#,##0)",
                                          "#,##0.00_);(#,##0.00)",
                                          "#,##0.00_);[Red](#,##0.00)",
                                          "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)",
                                          "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)",
                                          "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"?\?_);_(@_)",
                                          "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"?\?_);_(@_)",
                                          "mm:ss",
                                          "[h]:mm:ss",
                                          "mm:ss.0",
                                          "##0.0E+0",
                                          "@"};
    if (index < 50 && codes[index])
        return QString::fromLatin1(codes[index]);
    return {};
}

int builtinFormatIndex(const QString& code) {
    for (quint16 i = 0; i < 50; ++i) {
        const QString c = builtinFormat(i);
        if (!c.isEmpty() && c.compare(code, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool isDateFormatCode(const QString& code) {
    // Only the first section (positive numbers) decides; quoted text, escaped characters, fills,
    // paddings and bracketed colours or conditions do not count, elapsed-time brackets do.
    bool inQuote = false;
    for (int i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (inQuote) {
            if (c == u'"')
                inQuote = false;
            continue;
        }
        switch (c.unicode()) {
        case u'"':
            inQuote = true;
            break;
        case u'\\':
        case u'_':
        case u'*':
            ++i;
            break;
        case u';':
            return false;
        case u'[': {
            const int end = code.indexOf(u']', i);
            if (end < 0)
                return false;
            const QString inner = code.mid(i + 1, end - i - 1).toLower();
            if (!inner.isEmpty() && (inner[0] == u'h' || inner[0] == u'm' || inner[0] == u's') &&
                inner.count(inner[0]) == inner.size())
                return true;
            i = end;
            break;
        }
        default: {
            const QChar l = c.toLower();
            if (l == u'd' || l == u'm' || l == u'y' || l == u'h' || l == u's')
                return true;
            if (l == u'e' || l == u'a' || l == u'b' || l == u'g') {
                if (code.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0)
                    return true;
                if (code.mid(i, 7).compare(QLatin1String("general"), Qt::CaseInsensitive) == 0)
                    i += 6;
            }
            break;
        }
        }
    }
    return false;
}

} // namespace lw::xls::biff
