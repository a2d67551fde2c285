// Typed values of database drivers' texts, parsed on the bytes: integers and floating-point
// numbers by std::from_chars, decimals as their exact text, ISO dates and times, logicals.
#include "data/textvalues.h"

#include "data/values.h"

#include <charconv>

namespace lw::data {

namespace {

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

// A zone after a time: "Z", or a sign and hours with optional minutes and seconds ("+05",
// "-03:30", "+05:53:28", "+0530"). Nothing else may follow it (" BC" must not pass as a zone).
bool zone(const char* s, qsizetype n) {
    if (n == 1 && s[0] == 'Z') {
        return true;
    }
    if (n < 3 || (s[0] != '+' && s[0] != '-')) {
        return false;
    }
    int v = 0;
    qsizetype i = 1;
    for (int part = 0; part < 3 && i < n; ++part) {
        if (part > 0 && s[i] == ':') {
            ++i;
        }
        if (i + 2 > n || !digits(s + i, 2, v)) {
            return false;
        }
        i += 2;
    }
    return i == n;
}

// "HH:MM[:SS[.f...]]" and the length it takes; fractions below a millisecond are dropped.
qsizetype clock(const char* s, qsizetype n, QTime& out) {
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (n < 5 || s[2] != ':' || !digits(s, 2, h) || !digits(s + 3, 2, mi)) {
        return -1;
    }
    qsizetype i = 5;
    if (i + 3 <= n && s[i] == ':' && digits(s + i + 1, 2, sec)) {
        i += 3;
        if (i < n && s[i] == '.') {
            ++i;
            const qsizetype start = i;
            int scale = 100;
            while (i < n && s[i] >= '0' && s[i] <= '9') {
                ms += (s[i] - '0') * scale;
                scale /= 10;
                ++i;
            }
            if (i == start) {
                return -1;
            }
        }
    }
    // QTime takes no "24:00:00" and no leap second: such a time stays text.
    out = QTime(h, mi, sec, ms);
    return out.isValid() ? i : -1;
}

bool equalsLower(const char* s, qsizetype n, const char* word) {
    qsizetype i = 0;
    for (; i < n && word[i] != 0; ++i) {
        if ((s[i] | 0x20) != word[i]) {
            return false;
        }
    }
    return i == n && word[i] == 0;
}

// Narrows an ASCII text into buf; false when it is longer than the buffer or not ASCII.
template <std::size_t N>
bool narrow(QStringView text, char (&buf)[N]) {
    if (std::size_t(text.size()) > N) {
        return false;
    }
    const char16_t* p = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (p[i] >= 0x80) {
            return false;
        }
        buf[i] = char(p[i]);
    }
    return true;
}

// The typed value of text, or false (out's kind untouched) when the type does not take it.
bool typed(Value& out, const char* text, qsizetype length, FieldType type) {
    switch (type) {
    case FieldType::Integer:
        if (parseIntegerText(text, length, out.integer)) {
            out.kind = Value::Kind::Integer;
            return true;
        }
        return false;
    case FieldType::Double:
        if (parseDoubleText(text, length, out.number)) {
            out.kind = Value::Kind::Double;
            return true;
        }
        return false;
    case FieldType::Decimal:
        return setDecimalText(out, text, length);
    case FieldType::Date:
    case FieldType::Time:
        return setIsoValue(out, text, length, type);
    case FieldType::Timestamp:
        // A date alone is a Date, a date with its time a Timestamp; a time alone is not taken here.
        return setIsoValue(out, text, length, FieldType::Date);
    case FieldType::Logical:
        if (parseLogicalText(text, length, out.logical)) {
            out.kind = Value::Kind::Logical;
            return true;
        }
        return false;
    case FieldType::Binary:
    case FieldType::Text:
        break;
    }
    return false;
}

} // namespace

bool parseIntegerText(const char* text, qsizetype length, qint64& out) {
    const char* begin = text + (length > 1 && text[0] == '+' ? 1 : 0);
    qint64 v = 0;
    const auto [end, ec] = std::from_chars(begin, text + length, v);
    if (ec != std::errc() || end != text + length || length == 0) {
        return false;
    }
    out = v;
    return true;
}

bool parseDoubleText(const char* text, qsizetype length, double& out) {
    const char* begin = text + (length > 1 && text[0] == '+' ? 1 : 0);
    double v = 0;
    const auto [end, ec] = std::from_chars(begin, text + length, v);
    if (ec != std::errc() || end != text + length || length == 0) {
        return false;
    }
    out = v;
    return true;
}

bool parseDateText(const char* s, qsizetype n, QDate& out) {
    int y = 0, m = 0, d = 0;
    if (n != 10 || s[4] != '-' || s[7] != '-' || !digits(s, 4, y) || !digits(s + 5, 2, m) ||
        !digits(s + 8, 2, d)) {
        return false;
    }
    const QDate date(y, m, d);
    if (!date.isValid()) {
        return false;
    }
    out = date;
    return true;
}

bool parseTimeText(const char* s, qsizetype n, QTime& out) {
    QTime t;
    const qsizetype used = clock(s, n, t);
    if (used < 0 || (used < n && !zone(s + used, n - used))) {
        return false;
    }
    out = t;
    return true;
}

bool parseTimestampText(const char* s, qsizetype n, QDate& date, QTime& time) {
    QDate d;
    if (n < 16 || (s[10] != ' ' && s[10] != 'T') || !parseDateText(s, 10, d) ||
        !parseTimeText(s + 11, n - 11, time)) {
        return false;
    }
    date = d;
    return true;
}

bool parseLogicalText(const char* s, qsizetype n, bool& out) {
    static const char* const yes[] = {"t", "true", "y", "yes", "on", "1"};
    static const char* const no[] = {"f", "false", "n", "no", "off", "0"};
    for (const char* w : yes) {
        if (equalsLower(s, n, w)) {
            out = true;
            return true;
        }
    }
    for (const char* w : no) {
        if (equalsLower(s, n, w)) {
            out = false;
            return true;
        }
    }
    return false;
}

void setTextValue(Value& out, const char* text, qsizetype length, FieldType type) {
    if (type == FieldType::Text || !typed(out, text, length, type)) {
        setUtf8Text(out, text, length);
    }
}

void setTextValue(Value& out, const QString& text, FieldType type) {
    // Every value but text is short and ASCII; a longer text cannot be one.
    char buf[96];
    bool done = false;
    if (type != FieldType::Text) {
        if (text.size() <= qsizetype(sizeof buf)) {
            done = narrow(text, buf) && typed(out, buf, text.size(), type);
        } else if (type == FieldType::Decimal) { // a decimal of many digits
            const QByteArray bytes = text.toUtf8();
            done = typed(out, bytes.constData(), bytes.size(), type);
        }
    }
    if (!done) {
        out.kind = Value::Kind::Text;
        out.text = text;
    }
}

} // namespace lw::data
