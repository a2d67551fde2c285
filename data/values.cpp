// Typed values from engine text: decimals, ISO dates and times.
#include "data/values.h"

#include <charconv>
#include <cmath>

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

bool digits(const char* s, int n, int& out) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

bool parseDate(const char* s, qsizetype n, QDate& out) {
    int y = 0, m = 0, d = 0;
    if (n < 10 || s[4] != '-' || s[7] != '-' || !digits(s, 4, y) || !digits(s + 5, 2, m) ||
        !digits(s + 8, 2, d)) {
        return false;
    }
    out = QDate(y, m, d);
    return out.isValid();
}

// "HH:MM[:SS[.fff...]]" and what follows it (a zone) is left.
bool parseTime(const char* s, qsizetype n, QTime& out) {
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (n < 5 || s[2] != ':' || !digits(s, 2, h) || !digits(s + 3, 2, mi)) {
        return false;
    }
    qsizetype i = 5;
    if (i + 3 <= n && s[i] == ':' && digits(s + i + 1, 2, sec)) {
        i += 3;
        if (i < n && s[i] == '.') {
            ++i;
            int scale = 100;
            while (i < n && s[i] >= '0' && s[i] <= '9') {
                ms += (s[i] - '0') * scale;
                scale /= 10;
                ++i;
            }
        }
    }
    if (i < n && s[i] != '+' && s[i] != '-' && s[i] != 'Z' && s[i] != ' ') {
        return false;
    }
    out = QTime(h, mi, sec, ms);
    return out.isValid();
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
    assignLatin1(out.text, buf + at, qsizetype(sizeof buf) - at);
}

bool setDecimalText(Value& out, const char* text, qsizetype length) {
    double d = 0;
    const char* begin = text + (length > 0 && text[0] == '+' ? 1 : 0);
    const auto [end, ec] = std::from_chars(begin, text + length, d, std::chars_format::fixed);
    if (ec != std::errc() || end != text + length) {
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
            t = QString::fromUtf8(text, length);
            return;
        }
        d[i] = c;
    }
}

bool setIsoValue(Value& out, const char* text, qsizetype length, FieldType want) {
    if (want == FieldType::Time) {
        if (!parseTime(text, length, out.time)) {
            return false;
        }
        out.kind = Value::Kind::Time;
        return true;
    }
    if (!parseDate(text, length, out.date)) {
        // A time alone in a Timestamp column is a Time, as a date alone is a Date.
        if (want == FieldType::Timestamp && parseTime(text, length, out.time)) {
            out.kind = Value::Kind::Time;
            return true;
        }
        return false;
    }
    if (length == 10) {
        out.kind = Value::Kind::Date;
        return true;
    }
    if ((text[10] != ' ' && text[10] != 'T') || !parseTime(text + 11, length - 11, out.time)) {
        return false;
    }
    out.kind = Value::Kind::Timestamp;
    return true;
}

} // namespace lw::data
