// Code pages of table files: the dBASE language driver bytes and the decoder of table text.
#include "data/codepage.h"

#include <QStringDecoder>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lw::data {

int codePageOfLanguageDriver(unsigned char driver) {
    switch (driver) {
    case 0x01:
    case 0x09:
    case 0x0B:
    case 0x0D:
    case 0x0F:
    case 0x11:
    case 0x15:
    case 0x18:
    case 0x19:
    case 0x1B:
        return 437;
    case 0x02:
    case 0x0A:
    case 0x0E:
    case 0x10:
    case 0x12:
    case 0x14:
    case 0x16:
    case 0x1A:
    case 0x1D:
    case 0x25:
    case 0x37:
        return 850;
    case 0x03:
    case 0x57:
    case 0x58:
    case 0x59:
        return 1252;
    case 0x04:
        return 10000;
    case 0x08:
    case 0x17:
    case 0x66:
        return 865;
    case 0x13:
    case 0x7B:
        return 932;
    case 0x1C:
    case 0x6C:
        return 863;
    case 0x1F:
    case 0x22:
    case 0x23:
    case 0x40:
    case 0x64:
    case 0x87:
        return 852;
    case 0x24:
        return 860;
    case 0x26:
    case 0x65:
        return 866;
    case 0x4D:
    case 0x7A:
        return 936;
    case 0x4E:
    case 0x79:
        return 949;
    case 0x4F:
    case 0x78:
        return 950;
    case 0x50:
    case 0x7C:
        return 874;
    case 0x67:
        return 861;
    case 0x6A:
    case 0x86:
        return 737;
    case 0x6B:
    case 0x88:
        return 857;
    case 0x7D:
        return 1255;
    case 0x7E:
        return 1256;
    case 0x96:
        return 10007;
    case 0x97:
        return 10029;
    case 0x98:
        return 10006;
    case 0xC8:
        return 1250;
    case 0xC9:
        return 1251;
    case 0xCA:
        return 1254;
    case 0xCB:
        return 1253;
    case 0xCC:
        return 1257;
    default:
        return 0;
    }
}

namespace {

// The names Qt (through ICU) knows the multi-byte pages by.
QByteArray multiByteName(int codePage) {
    switch (codePage) {
    case 932:
        return "Shift_JIS";
    case 936:
        return "GBK";
    case 949:
        return "windows-949";
    case 950:
        return "Big5";
    default:
        return {};
    }
}

} // namespace

namespace {

// The length of UTF-8 bytes without a character cut short at their end (a field cut by bytes).
qsizetype wholeCharacters(const char* bytes, qsizetype length) {
    qsizetype back = 0;
    while (back < 3 && back < length &&
           (static_cast<unsigned char>(bytes[length - back - 1]) & 0xC0) == 0x80) {
        ++back;
    }
    if (back == length) {
        return length;
    }
    const auto lead = static_cast<unsigned char>(bytes[length - back - 1]);
    const int need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    return need > back ? length - back - 1 : length;
}

} // namespace

bool validUtf8(const char* bytes, qsizetype length, bool& multiByte) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
    while (i < length) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        quint32 min = 0;
        quint32 code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            min = 0x80;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            min = 0x800;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            min = 0x10000;
            code = c & 0x07;
        } else {
            return false;
        }
        qsizetype k = 1;
        for (; k <= more && i + k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        if (k <= more) {
            return true; // cut short by the end of the bytes
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        multiByte = true;
        i += more + 1;
    }
    return true;
}

TextDecoder::TextDecoder(int codePage) : m_codePage(codePage) {
    if (codePage == utf8CodePage) {
        m_utf8 = true;
        return;
    }
    m_high = singleByteTable(codePage);
    if (m_high == nullptr) {
        const QByteArray name = multiByteName(codePage);
        if (!name.isEmpty() && QStringDecoder(name.constData()).isValid()) {
            m_decoderName = name;
            return;
        }
        m_known = false;
        m_codePage = 1252;
        m_high = singleByteTable(1252);
    }
}

void TextDecoder::decode(const char* bytes, qsizetype length, QString& out) const {
    if (m_utf8) {
        out = QString::fromUtf8(bytes, wholeCharacters(bytes, length));
        return;
    }
    if (m_high == nullptr) {
        QStringDecoder decoder(m_decoderName.constData());
        out = decoder(QByteArrayView(bytes, length));
        return;
    }
    // A string of the same length that is not shared is written over as it is (a record's value
    // reused for the next record's text of the same width): resize() is a call for nothing.
    if (out.size() != length || !out.isDetached()) {
        out.resize(length);
    }
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
#ifdef __SSE2__
    // ASCII sixteen bytes at a time: widened to UTF-16 as they are (most table text is ASCII).
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (_mm_movemask_epi8(v) != 0) {
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    if (i < length && i + 16 > length && length >= 16) {
        // The last sixteen bytes, overlapping some already widened (to the same characters).
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + length - 16));
        if (_mm_movemask_epi8(v) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + length - 16), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + length - 8), _mm_unpackhi_epi8(v, zero));
            i = length;
        }
    }
    if (i + 8 <= length) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + i));
        if ((_mm_movemask_epi8(v) & 0xFF) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_unpacklo_epi8(v, zero));
            i += 8;
        }
    }
    if (i < length && i + 8 > length && length >= 8) {
        // The last eight bytes, overlapping as above.
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(s + length - 8));
        if ((_mm_movemask_epi8(v) & 0xFF) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + length - 8), _mm_unpacklo_epi8(v, zero));
            i = length;
        }
    }
#endif
    for (; i < length; ++i) {
        const unsigned char c = s[i];
        d[i] = c < 0x80 ? char16_t(c) : m_high[c - 0x80];
    }
}

void TextDecoder::decodeUtf8(const char* bytes, qsizetype length, std::string& out) const {
    out.clear();
    if (m_utf8) {
        bool multiByte = false;
        if (validUtf8(bytes, length, multiByte)) {
            out.assign(bytes, std::size_t(length));
            out.resize(std::size_t(wholeCharacters(bytes, length)));
            return;
        }
        const QByteArray utf8 = QString::fromUtf8(bytes, length).toUtf8();
        out.assign(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    if (m_high == nullptr) {
        QString text;
        decode(bytes, length, text);
        const QByteArray utf8 = text.toUtf8();
        out.assign(utf8.constData(), std::size_t(utf8.size()));
        return;
    }
    const auto* s = reinterpret_cast<const unsigned char*>(bytes);
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(char(c));
            continue;
        }
        const char16_t u = m_high[c - 0x80];
        if (u < 0x800) {
            out.push_back(char(0xC0 | (u >> 6)));
            out.push_back(char(0x80 | (u & 0x3F)));
        } else {
            out.push_back(char(0xE0 | (u >> 12)));
            out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(char(0x80 | (u & 0x3F)));
        }
    }
}

} // namespace lw::data
