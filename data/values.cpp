// Typed values from engine text: decimals, ISO dates and times.
#include "data/values.h"

#include "data/textvalues.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <QStringDecoder>

namespace lw::data {

namespace {

// Latin-1 bytes into text, reusing its storage.
void assignLatin1(QString& text, const char* bytes, qsizetype length) {
    text.resize(length);
    char16_t* d = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < length; ++i) {
        d[i] = static_cast<unsigned char>(bytes[i]);
    }
}

} // namespace

void setDecimal(Value& out, double d, int decimals) {
    out.kind = Value::Kind::Decimal;
    out.number = d;
    if (decimals < 0 || decimals > 15 || !std::isfinite(d) || std::fabs(d) >= 1e15) {
        out.text = QString::number(d, 'f', std::max(decimals, 0));
        return;
    }
    static const double scale[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double scaled = std::fabs(d) * scale[decimals];
    if (scaled >= 9e18) {
        out.text = QString::number(d, 'f', decimals);
        return;
    }
    quint64 units = quint64(std::llround(scaled));
    char buf[48];
    int at = sizeof buf;
    for (int k = 0; k < decimals; ++k) {
        buf[--at] = char('0' + units % 10);
        units /= 10;
    }
    if (decimals > 0) {
        buf[--at] = '.';
    }
    do {
        buf[--at] = char('0' + units % 10);
        units /= 10;
    } while (units > 0);
    bool zero = true;
    for (int k = at; k < int(sizeof buf); ++k) {
        zero = zero && (buf[k] == '0' || buf[k] == '.');
    }
    if (d < 0 && !zero) {
        buf[--at] = '-';
    }
    // The number is the text's, as if read back from the report: 2.675 with two digits is 2.68.
    std::from_chars(buf + at, buf + sizeof buf, out.number);
    assignLatin1(out.text, buf + at, qsizetype(sizeof buf) - at);
}

bool setDecimalText(Value& out, const char* text, qsizetype length) {
    double d = 0;
    const char* begin = text + (length > 0 && text[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(begin, text + length, d, std::chars_format::fixed);
    // "NaN" and "Infinity" are no decimal numbers: they stay text.
    if (ec != std::errc() || end != text + length || !std::isfinite(d)) {
        return false;
    }
    out.kind = Value::Kind::Decimal;
    out.number = d;
    assignLatin1(out.text, text, length);
    return true;
}

void setUtf8Text(Value& out, const char* text, qsizetype length) {
    out.kind = Value::Kind::Text;
    QString& t = out.text;
    t.resize(length);
    char16_t* d = reinterpret_cast<char16_t*>(t.data());
    for (qsizetype i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            // The rest decoded once, into the same storage: UTF-8 never takes fewer bytes than
            // UTF-16 takes code units (an invalid byte becomes one replacement character).
            char16_t* o = d + i;
            qsizetype at = i;
            // A byte order mark is a character of the text; the decoder would drop one at its start.
            while (at + 3 <= length && std::memcmp(text + at, "\xEF\xBB\xBF", 3) == 0) {
                *o++ = 0xFEFF;
                at += 3;
            }
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QChar* end = decoder.appendToBuffer(reinterpret_cast<QChar*>(o), QByteArrayView(text + at, length - at));
            t.truncate(end - reinterpret_cast<QChar*>(d));
            return;
        }
        d[i] = c;
    }
}

bool setIsoValue(Value& out, const char* text, qsizetype length, FieldType want) {
    if (want == FieldType::Time) {
        if (!parseTimeText(text, length, out.time)) {
            return false;
        }
        out.kind = Value::Kind::Time;
        return true;
    }
    if (length == 10 && parseDateText(text, length, out.date)) {
        out.kind = Value::Kind::Date;
        return true;
    }
    if (parseTimestampText(text, length, out.date, out.time)) {
        out.kind = Value::Kind::Timestamp;
        return true;
    }
    // A time alone in a Timestamp column is a Time, as a date alone is a Date.
    if (want == FieldType::Timestamp && parseTimeText(text, length, out.time)) {
        out.kind = Value::Kind::Time;
        return true;
    }
    return false;
}

} // namespace lw::data
