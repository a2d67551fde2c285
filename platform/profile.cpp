// The profile store: finds sections and keys in the raw bytes of a profile file and rewrites one
// value in place, under a lock shared by our processes, through a temporary file and a rename.
#include "platform/profile.h"
#include "platform/profile_lock.h"
#include "platform/profile_scan.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QStandardPaths>
#include <QVarLengthArray>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lw {

namespace {

std::atomic<int> g_lockTimeoutMs{10000};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isBlank(QChar c) {
    return c.unicode() < 0x80 && isBlank(char(c.unicode()));
}

QStringView trimBlanks(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.sliced(b, e - b);
}

// Names compare with ASCII letters folded and every other character as it is.
QString foldAscii(const QString& s) {
    QString out = s;
    for (QChar& c : out) {
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return out;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

// A run of bytes inside the file's contents: [begin, end).
struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype size() const { return end - begin; }
};

Span trimmed(const char* d, Span s) {
    while (s.begin < s.end && isBlank(d[s.begin]))
        ++s.begin;
    while (s.end > s.begin && isBlank(d[s.end - 1]))
        --s.end;
    return s;
}

// The eight bytes of w with the letters A to Z as their lower case, all at once: a byte gets 0x20
// added where it lies in 'A'..'Z'.
std::uint64_t lowerWord(std::uint64_t w) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    const std::uint64_t low7 = w & (0x7F * ones);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * ones;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * ones;
    const std::uint64_t upper = atLeastA & ~aboveZ & ~w & (0x80 * ones);
    return w | (upper >> 2);
}

// Whether the bytes at p (avail of them left) begin with b, ASCII letters in either case; eight
// bytes compared at a time.
bool startsNoCase(const char* p, qsizetype avail, QByteArrayView b) {
    const qsizetype n = b.size();
    if (avail < n)
        return false;
    const char* q = b.data();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, p + i, 8);
        std::memcpy(&y, q + i, 8);
        if (x != y && lowerWord(x) != lowerWord(y))
            return false;
    }
    for (; i < n; ++i) {
        if (p[i] != q[i] && lowerAscii(p[i]) != lowerAscii(q[i]))
            return false;
    }
    return true;
}

bool equalNoCase(const char* p, qsizetype n, QByteArrayView b) {
    return n == b.size() && startsNoCase(p, n, b);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* s, qsizetype n) {
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        unsigned int cp = 0;
        unsigned int min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
            min = 0x10000;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

// Text in the file is UTF-8; anything that is not valid UTF-8 is taken as Latin-1, never dropped.
QString decode(const char* p, qsizetype n) {
    // Plain ASCII, the usual text, reads the same either way; the Latin-1 widening is the cheaper.
    unsigned char any = 0;
    for (qsizetype i = 0; i < n; ++i)
        any |= static_cast<unsigned char>(p[i]);
    if (any < 0x80)
        return QString::fromLatin1(p, n);
    return isValidUtf8(p, n) ? QString::fromUtf8(p, n) : QString::fromLatin1(p, n);
}

// A section or key name as the caller gave it, ready to be matched against raw file bytes.
class Name {
public:
    // The name is looked at where it is: it must outlive this.
    explicit Name(QString&&) = delete;
    explicit Name(const QString& name) : m_text(trimBlanks(name)) {
        bool ascii = true;
        bool latin1 = true;
        for (QChar c : m_text) {
            if (c.unicode() >= 0x80) {
                ascii = false;
                if (c.unicode() > 0xFF) {
                    latin1 = false;
                    break;
                }
            }
        }
        if (ascii) {
            // Both spellings are the same bytes, kept without an allocation for names of usual size.
            m_utf8.resize(m_text.size());
            const QChar* c = m_text.constData();
            for (qsizetype i = 0; i < m_text.size(); ++i)
                m_utf8[i] = char(c[i].unicode());
            takeHead();
            return;
        }
        const QByteArray utf8 = m_text.toUtf8();
        m_utf8.append(utf8.constData(), utf8.size());
        takeHead();
        if (latin1) {
            const QByteArray other = m_text.toLatin1();
            m_latin1.append(other.constData(), other.size());
            m_hasLatin1 = true;
        }
    }
    bool matches(const char* p, qsizetype n) const {
        if (equalNoCase(p, n, utf8()))
            return true;
        return m_hasLatin1 && equalNoCase(p, n, latin1()) && !isValidUtf8(p, n);
    }
    // Whether a name found at p (with avail bytes to the end of the file) can be this one: false
    // only when it certainly is not, so that its line need not be taken apart.
    bool mayStartAt(const char* p, qsizetype avail) const {
        // Most names looked at differ within their first eight bytes: those are compared here,
        // at once, without a call (names of one spelling only).
        if (!m_hasLatin1 && avail >= 8) {
            std::uint64_t x;
            std::memcpy(&x, p, 8);
            if ((lowerWord(x) & m_headMask) != m_head)
                return false;
            if (m_utf8.size() <= 8)
                return true;
        }
        return startsNoCase(p, avail, utf8()) || (m_hasLatin1 && startsNoCase(p, avail, latin1()));
    }
    // Whether the vector search can look for this name: it has one spelling in the file's bytes.
    bool searchable() const { return !m_hasLatin1 && !m_utf8.isEmpty(); }
    QByteArrayView utf8() const { return QByteArrayView(m_utf8.constData(), m_utf8.size()); }
    // Whether a key of this name can be looked for by its bytes alone: one spelling, and nothing
    // in it that would make a line holding it mean something else ("=" ends a key's name, a line
    // beginning with ";" or "[" is a comment or may be a header).
    bool keySearchable() const {
        return searchable() && !utf8().contains('=') && !utf8().contains('\n') && m_utf8.front() != ';' &&
               m_utf8.front() != '[';
    }

private:
    QStringView m_text; // the caller's name, which outlives this
    QByteArrayView latin1() const { return QByteArrayView(m_latin1.constData(), m_latin1.size()); }

    // The first eight bytes of the name (fewer for a shorter one, the rest masked off) with
    // letters in lower case, as mayStartAt() compares them.
    void takeHead() {
        char head[8] = {};
        const qsizetype n = qMin<qsizetype>(8, m_utf8.size());
        std::memcpy(head, m_utf8.constData(), size_t(n));
        std::memcpy(&m_head, head, 8);
        m_headMask = n == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * n)) - 1;
        m_head = lowerWord(m_head) & m_headMask;
    }

    QVarLengthArray<char, 64> m_utf8;
    QVarLengthArray<char, 64> m_latin1;
    bool m_hasLatin1 = false;
    std::uint64_t m_head = 0;
    std::uint64_t m_headMask = 0;
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct Line {
    qsizetype begin = 0;      // first byte of the line
    qsizetype contentEnd = 0; // where its line ending starts
    qsizetype end = 0;        // after its line ending
    Kind kind = Kind::Other;
    Span name;  // section name between the brackets, or key name before "=", trimmed
    Span value; // for a key: everything after "=" up to the line ending, untrimmed
};

// Walks the lines of a profile file. A UTF-8 byte-order mark at the start is skipped for parsing.
class LineReader {
public:
    explicit LineReader(const QByteArray& data) : m_d(data.constData()), m_size(data.size()) {}

    bool next(Line& line) {
        if (m_pos >= m_size)
            return false;
        line.begin = m_pos;
        const void* nl = std::memchr(m_d + m_pos, '\n', size_t(m_size - m_pos));
        if (nl) {
            line.contentEnd = static_cast<const char*>(nl) - m_d;
            line.end = line.contentEnd + 1;
        } else {
            line.contentEnd = m_size;
            line.end = m_size;
        }
        if (line.contentEnd > line.begin && m_d[line.contentEnd - 1] == '\r')
            --line.contentEnd;
        m_pos = line.end;

        qsizetype start = line.begin;
        if (start == 0 && line.contentEnd >= 3 && std::memcmp(m_d, "\xEF\xBB\xBF", 3) == 0)
            start = 3;
        const Span t = trimmed(m_d, Span{start, line.contentEnd});
        line.name = Span{};
        line.value = Span{};
        if (t.size() == 0) {
            line.kind = Kind::Blank;
            return true;
        }
        const char first = m_d[t.begin];
        if (first == ';') {
            line.kind = Kind::Comment;
            return true;
        }
        if (first == '[') {
            const void* rb = memrchr(m_d + t.begin, ']', size_t(t.size()));
            if (rb) {
                line.kind = Kind::Section;
                line.name = trimmed(m_d, Span{t.begin + 1, static_cast<const char*>(rb) - m_d});
                return true;
            }
        }
        const void* eq = std::memchr(m_d + t.begin, '=', size_t(t.size()));
        if (!eq) {
            line.kind = Kind::Other;
            return true;
        }
        const qsizetype eqPos = static_cast<const char*>(eq) - m_d;
        line.kind = Kind::Key;
        line.name = trimmed(m_d, Span{t.begin, eqPos});
        line.value = Span{eqPos + 1, line.contentEnd};
        return true;
    }

    // Skips to the next section header and reads it. Only "[" characters are looked at on the way,
    // so the lines of other sections cost next to nothing. With a wanted name, headers whose name
    // cannot be that one are passed over without being read.
    bool nextSection(Line& line, const Name* wanted = nullptr) {
        while (m_pos < m_size) {
            qsizetype at = -1;
            if (const void* hit = std::memchr(m_d + m_pos, '[', size_t(m_size - m_pos)))
                at = static_cast<const char*>(hit) - m_d;
            if (at < 0) {
                m_pos = m_size;
                return false;
            }
            qsizetype b = at;
            while (b > 0 && m_d[b - 1] != '\n' && isBlank(m_d[b - 1]))
                --b;
            const bool afterBom = b == 3 && std::memcmp(m_d, "\xEF\xBB\xBF", 3) == 0;
            if (b == 0 || afterBom || m_d[b - 1] == '\n') {
                const qsizetype name = wanted ? firstNonBlank(at + 1) : 0;
                if (wanted && !wanted->mayStartAt(m_d + name, m_size - name)) {
                    m_pos = at + 1;
                    continue;
                }
                m_pos = afterBom ? 0 : b;
                if (next(line) && line.kind == Kind::Section)
                    return true;
            } else {
                m_pos = at + 1;
            }
        }
        return false;
    }

    // Finds the first header of the wanted section from here on and reads it. The vector search
    // looks for the name's bytes; only where they stand right after a "[" that begins a line is
    // the line taken apart.
    bool findSection(const Name& wanted, Line& line) {
        if (!wanted.searchable()) {
            while (nextSection(line, &wanted)) {
                if (wanted.matches(m_d + line.name.begin, line.name.size()))
                    return true;
            }
            return false;
        }
        // Where headers are few, looking only at "[" is fastest; where they are many (a file of
        // small sections), the vector search for the name itself takes over. The "[" are found
        // many at a time (one call a header would cost more than the search): one at first, then
        // twice as many each call, so that a header near the start (or the only one of a large
        // file) is not found by searching far beyond it.
        const qsizetype start = m_pos;
        int headers = 0;
        bool byName = false;
        constexpr qsizetype kBatch = 32;
        qsizetype brackets[kBatch];
        qsizetype batch = 1;
        while (!byName && m_pos < m_size) {
            qsizetype after = m_size;
            const qsizetype found = findBytes(m_d, m_pos, m_size, '[', brackets, batch, &after);
            batch = qMin(2 * batch, kBatch);
            for (qsizetype k = 0; k < found && !byName; ++k) {
                const qsizetype at = brackets[k];
                if (at < m_pos) // on a line already read
                    continue;
                const qsizetype lineStart = bracketLineStart(at);
                if (lineStart >= 0) {
                    const qsizetype name = firstNonBlank(at + 1);
                    if (wanted.mayStartAt(m_d + name, m_size - name)) {
                        m_pos = lineStart;
                        if (next(line) && line.kind == Kind::Section &&
                            wanted.matches(m_d + line.name.begin, line.name.size()))
                            return true;
                        continue;
                    }
                }
                m_pos = at + 1;
                if (++headers == 4) {
                    byName = (m_pos - start) / headers < 512;
                    headers = 0;
                }
            }
            if (!byName)
                m_pos = qMax(m_pos, after);
        }
        if (!byName) {
            m_pos = m_size;
            return false;
        }
        const QByteArrayView name = wanted.utf8();
        while (m_pos < m_size) {
            const qsizetype at = findNameCandidate(m_d, m_size, m_pos, name.constData(), name.size());
            if (at < 0)
                break;
            const qsizetype start = headerLineStart(at);
            if (start < 0 || !startsNoCase(m_d + at, m_size - at, name)) {
                m_pos = at + 1;
                continue;
            }
            m_pos = start;
            if (next(line) && line.kind == Kind::Section &&
                wanted.matches(m_d + line.name.begin, line.name.size()))
                return true;
        }
        m_pos = m_size;
        return false;
    }

    // Reads the next line that may be the key wanted or a section header, passing over blank
    // lines, comments and lines whose name cannot be the key. For reading only: the lines passed
    // over are not reported.
    bool nextKeyLine(const Name& key, Line& line) {
        while (m_pos < m_size) {
            const qsizetype s = firstNonBlank(m_pos);
            const char c = s < m_size ? m_d[s] : '\n';
            if (m_pos == 0 || c == '[' || (c != '\n' && c != ';' && key.mayStartAt(m_d + s, m_size - s)))
                return next(line);
            const void* nl = s < m_size ? std::memchr(m_d + s, '\n', size_t(m_size - s)) : nullptr;
            m_pos = nl ? static_cast<const char*>(nl) - m_d + 1 : m_size;
        }
        return false;
    }

    // For reading, right after the header of the section looked in: the value of the section's
    // first key line named key, found by the vector search for the name within the section (which
    // ends at the next header) instead of line by line. Only for names that are keySearchable().
    std::optional<Span> findKeyValue(const Name& key, qsizetype end) const {
        const qsizetype from = m_pos;
        const QByteArrayView name = key.utf8();
        qsizetype pos = from;
        while (pos < end) {
            const qsizetype at = findNameCandidate(m_d, end, pos, name.constData(), name.size());
            if (at < 0)
                return std::nullopt;
            pos = at + 1;
            // Only blanks before the name on its line, and only blanks between it and an "=".
            qsizetype b = at;
            while (b > from && isBlank(m_d[b - 1]))
                --b;
            if (b != from && m_d[b - 1] != '\n')
                continue;
            qsizetype e = at + name.size();
            while (e < end && isBlank(m_d[e]))
                ++e;
            if (e >= end || m_d[e] != '=')
                continue;
            qsizetype contentEnd = m_size;
            if (const void* nl = std::memchr(m_d + e + 1, '\n', size_t(m_size - e - 1)))
                contentEnd = static_cast<const char*>(nl) - m_d;
            if (contentEnd > e + 1 && m_d[contentEnd - 1] == '\r')
                --contentEnd;
            return Span{e + 1, contentEnd};
        }
        return std::nullopt;
    }

    // Right after a section's header: reads the section's last key line, if it has one.
    bool lastKeyLine(Line& line, qsizetype end) {
        const qsizetype from = m_pos;
        qsizetype lineEnd = end;
        while (lineEnd > from) {
            // The line that ends at lineEnd (after its line ending, or at the end of the file).
            const void* nl = memrchr(m_d + from, '\n', size_t(lineEnd - 1 - from));
            const qsizetype begin = nl ? static_cast<const char*>(nl) - m_d + 1 : from;
            m_pos = begin;
            if (next(line) && line.kind == Kind::Key)
                return true;
            lineEnd = begin;
        }
        m_pos = from;
        return false;
    }

    bool terminated(const Line& line) const { return line.end > 0 && m_d[line.end - 1] == '\n'; }

    // Goes on from a line's start.
    void seek(qsizetype pos) { m_pos = pos; }

    // Right after a section's header: where the section ends (the next header line, or the end).
    qsizetype sectionEnd() const { return sectionEnd(m_pos); }

private:
    // Where the line begins when a section name at `at` would be its header's: only blanks between
    // the name and a "[", and only blanks between that and the line's start. -1 otherwise.
    qsizetype headerLineStart(qsizetype at) const {
        qsizetype b = at;
        while (b > 0 && isBlank(m_d[b - 1]))
            --b;
        if (b == 0 || m_d[b - 1] != '[')
            return -1;
        --b;
        while (b > 0 && m_d[b - 1] != '\n' && isBlank(m_d[b - 1]))
            --b;
        if (b == 0 || (b == 3 && std::memcmp(m_d, "\xEF\xBB\xBF", 3) == 0))
            return 0;
        return m_d[b - 1] == '\n' ? b : -1;
    }

    // Where the line begins when the "[" at `at` opens it (only blanks before it), else -1.
    qsizetype bracketLineStart(qsizetype at) const {
        qsizetype b = at;
        while (b > 0 && m_d[b - 1] != '\n' && isBlank(m_d[b - 1]))
            --b;
        if (b == 0 || (b == 3 && std::memcmp(m_d, "\xEF\xBB\xBF", 3) == 0))
            return 0;
        return m_d[b - 1] == '\n' ? b : -1;
    }

    // Where the section whose lines begin at from ends: the start of the next header line (a "["
    // opening the line, a "]" after it on the line), or the end of the file.
    qsizetype sectionEnd(qsizetype from) const {
        qsizetype pos = from;
        while (pos < m_size) {
            const void* hit = std::memchr(m_d + pos, '[', size_t(m_size - pos));
            if (!hit)
                break;
            const qsizetype at = static_cast<const char*>(hit) - m_d;
            const qsizetype b = bracketLineStart(at);
            if (b >= 0) {
                const void* nl = std::memchr(m_d + at, '\n', size_t(m_size - at));
                const qsizetype lineEnd = nl ? static_cast<const char*>(nl) - m_d : m_size;
                if (std::memchr(m_d + at + 1, ']', size_t(lineEnd - at - 1)))
                    return b;
            }
            pos = at + 1;
        }
        return m_size;
    }

    qsizetype firstNonBlank(qsizetype from) const {
        while (from < m_size && isBlank(m_d[from]))
            ++from;
        return from;
    }

    const char* m_d;
    qsizetype m_size;
    qsizetype m_pos = 0;
};

// Where a key is, or where it would go, in the first matching section.
struct Location {
    bool section = false;         // a matching section exists
    qsizetype insertAt = -1;      // after the last key line of that section, or after its header
    bool insertTerminated = true; // whether that line has a line ending of its own
    bool key = false;             // the key exists in that section
    Span value;                   // the bytes after its "="
};

// Where the section that the entry before went into lies, for the next entry of a batch: batches
// mostly keep to one section, and a write changes nothing before that section's first key line.
struct SectionHint {
    QVarLengthArray<char, 64> name; // the section's name as the entry gave it (UTF-8)
    qsizetype headerEnd = -1;       // after its header's line ending; -1: no hint
};

Location locate(const QByteArray& data, const Name& section, const Name& key, SectionHint* hint = nullptr) {
    Location loc;
    LineReader reader(data);
    Line line;
    const char* d = data.constData();
    const QByteArrayView name = section.utf8();
    if (hint && hint->headerEnd >= 0 && QByteArrayView(hint->name.constData(), hint->name.size()) == name) {
        reader.seek(hint->headerEnd);
        loc.section = true;
        loc.insertAt = hint->headerEnd;
        loc.insertTerminated = true;
    } else {
        if (hint)
            hint->headerEnd = -1;
        if (!reader.findSection(section, line))
            return loc;
        loc.section = true;
        loc.insertAt = line.end;
        loc.insertTerminated = reader.terminated(line);
        // A header without a line ending gets one from the next key written after it.
        if (hint && loc.insertTerminated) {
            hint->name.clear();
            hint->name.append(name.data(), name.size());
            hint->headerEnd = line.end;
        }
    }
    if (key.keySearchable()) {
        // The key by the vector search; where it is missing, the section's last key line found
        // from the section's end backwards (usually its last line).
        const qsizetype end = reader.sectionEnd();
        if (const std::optional<Span> value = reader.findKeyValue(key, end)) {
            loc.key = true;
            loc.value = *value;
        } else if (reader.lastKeyLine(line, end)) {
            loc.insertAt = line.end;
            loc.insertTerminated = reader.terminated(line);
        }
        return loc;
    }
    while (reader.next(line)) {
        if (line.kind == Kind::Section)
            break;
        if (line.kind != Kind::Key)
            continue;
        if (key.matches(d + line.name.begin, line.name.size())) {
            loc.key = true;
            loc.value = line.value;
            return loc;
        }
        loc.insertAt = line.end;
        loc.insertTerminated = reader.terminated(line);
    }
    return loc;
}

// The raw value of the key in the first matching section, for reading: the same key that locate()
// finds, without the bookkeeping that a write needs.
std::optional<Span> findValue(const QByteArray& data, const Name& section, const Name& key) {
    LineReader reader(data);
    Line line;
    const char* d = data.constData();
    if (!reader.findSection(section, line))
        return std::nullopt;
    if (key.keySearchable())
        return reader.findKeyValue(key, reader.sectionEnd());
    while (reader.nextKeyLine(key, line)) {
        if (line.kind == Kind::Section)
            return std::nullopt;
        if (line.kind == Kind::Key && key.matches(d + line.name.begin, line.name.size()))
            return line.value;
    }
    return std::nullopt;
}

// The value as callers see it: surrounding blanks and one pair of enclosing quotes removed.
QString valueText(const QByteArray& data, Span raw) {
    const char* d = data.constData();
    Span v = trimmed(d, raw);
    if (v.size() >= 2 && (d[v.begin] == '"' || d[v.begin] == '\'') && d[v.end - 1] == d[v.begin]) {
        ++v.begin;
        --v.end;
    }
    return decode(d + v.begin, v.size());
}

// The bytes that store a value on one line: line breaks become blanks, and a value that reading
// would change (surrounding blanks, enclosing quotes, or empty inside quotes) is put in double
// quotes, which reading removes again. Written into out, which holds usual values without an
// allocation.
using ValueBytes = QVarLengthArray<char, 256>;
void encodeValue(const QString& value, ValueBytes& out) {
    out.clear();
    auto take = [&out](const QByteArray& bytes) { out.append(bytes.constData(), bytes.size()); };
    // Most values need nothing done: no line break, no blank at either end, no enclosing quotes;
    // plain ASCII ones are narrowed as they are looked at.
    const qsizetype n = value.size();
    const QChar* c = value.constData();
    if (n > 0 && !isBlank(c[0]) && !isBlank(c[n - 1]) &&
        !(n >= 2 && c[0] == c[n - 1] && (c[0] == QLatin1Char('"') || c[0] == QLatin1Char('\'')))) {
        out.resize(n);
        char* o = out.data();
        qsizetype i = 0;
        for (; i < n; ++i) {
            const char16_t u = c[i].unicode();
            if (u >= 0x80 || u == '\n' || u == '\r')
                break;
            o[i] = char(u);
        }
        if (i == n)
            return;
        bool lineBreak = false;
        for (qsizetype k = i; k < n && !lineBreak; ++k)
            lineBreak = c[k] == QLatin1Char('\n') || c[k] == QLatin1Char('\r');
        if (!lineBreak) {
            out.clear();
            take(value.toUtf8());
            return;
        }
        out.clear();
    }
    QString v;
    v.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar ch = value.at(i);
        if (ch == QLatin1Char('\r')) {
            v += QLatin1Char(' ');
            if (i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (ch == QLatin1Char('\n')) {
            v += QLatin1Char(' ');
        } else {
            v += ch;
        }
    }
    bool quote = false;
    if (!v.isEmpty()) {
        const QChar first = v.front();
        const QChar last = v.back();
        quote = isBlank(first) || isBlank(last) ||
                (v.size() >= 2 && first == last && (first == QLatin1Char('"') || first == QLatin1Char('\'')));
    }
    if (quote)
        v = QLatin1Char('"') + v + QLatin1Char('"');
    take(v.toUtf8());
}

QByteArrayView lineEnding(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl > 0 && data.at(nl - 1) == '\r')
        return "\r\n";
    return "\n";
}

// Whether the text holds one of the characters a to c.
bool holdsAny(QStringView text, char16_t a, char16_t b, char16_t c) {
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u == a || u == b || u == c)
            return true;
    }
    return false;
}

void checkNames(const QString& fileName, const QString& section, const QString& key) {
    const QStringView s = trimBlanks(section);
    if (s.isEmpty() || holdsAny(s, u']', u'\n', u'\r'))
        throw ProfileArgumentError(
            QStringLiteral(
                "Invalid section name \"%1\" for %2: a section name must not be empty or hold \"]\" "
                "or a line break")
                .arg(section, fileName)
                .toStdString());
    const QStringView k = trimBlanks(key);
    if (k.isEmpty() || holdsAny(k, u'=', u'\n', u'\r') || k.front() == QLatin1Char(';') ||
        k.front() == QLatin1Char('['))
        throw ProfileArgumentError(
            QStringLiteral(
                "Invalid key name \"%1\" for %2: a key must not be empty, hold \"=\" or a line break, "
                "or begin with \";\" or \"[\"")
                .arg(key, fileName)
                .toStdString());
}

// Applies one write to the file's bytes exactly as a single write would.
void applyEntry(QByteArray& data, const ProfileEntry& entry, SectionHint* hint = nullptr) {
    const Name section(entry.section);
    const Name key(entry.key);
    ValueBytes valueBytes;
    encodeValue(entry.value, valueBytes);
    const QByteArrayView value(valueBytes.constData(), valueBytes.size());
    const Location loc = locate(data, section, key, hint);
    // Changed where it stands: the caller gives data room to grow at its end.
    if (loc.key) {
        qsizetype b = loc.value.begin;
        while (b < loc.value.end && (data.at(b) == ' ' || data.at(b) == '\t'))
            ++b;
        data.replace(b, loc.value.end - b, value);
        return;
    }
    const QByteArrayView eol = lineEnding(data);
    const QByteArrayView name = key.utf8();
    // The bytes to add, put together first and added in one go.
    QVarLengthArray<char, 256> add;
    auto put = [&add](QByteArrayView bytes) { add.append(bytes.data(), bytes.size()); };
    if (loc.section) {
        // After the section's last key line (or its header): a line ending first where that line
        // has none, and then, as that line had, none after the key.
        if (!loc.insertTerminated)
            put(eol);
        put(name);
        put("=");
        put(value);
        if (loc.insertTerminated)
            put(eol);
        data.insert(loc.insertAt, QByteArrayView(add.constData(), add.size()));
        return;
    }
    const bool bomOnly = data.size() == 3 && data.startsWith("\xEF\xBB\xBF");
    if (!data.isEmpty() && !bomOnly && !data.endsWith('\n'))
        put(eol);
    const QByteArrayView sectionName = section.utf8();
    put("[");
    put(sectionName);
    put("]");
    put(eol);
    if (hint) {
        hint->name.clear();
        hint->name.append(sectionName.data(), sectionName.size());
        hint->headerEnd = data.size() + add.size();
    }
    put(name);
    put("=");
    put(value);
    put(eol);
    data.append(add.constData(), add.size());
}

// The bytes of a file that is not there yet, made by the entries: each section in the order its
// first entry comes, with its keys in the order given, which is what applying the entries one by
// one to an empty file gives while no key comes twice into one section. False, with nothing made,
// where one does (or where the batch is too large for comparing every pair): the caller then
// applies them one by one.
bool makeNewContents(const QList<ProfileEntry>& entries, QByteArray& data) {
    constexpr qsizetype kMostEntries = 64;
    const qsizetype n = entries.size();
    if (n == 0 || n > kMostEntries)
        return false;
    std::vector<Name> sections;
    std::vector<Name> keys;
    sections.reserve(size_t(n));
    keys.reserve(size_t(n));
    // first[i]: the first entry of entry i's section, as the reading of the file would match it.
    QVarLengthArray<qsizetype, kMostEntries> first(n);
    for (qsizetype i = 0; i < n; ++i) {
        const Name& section = sections.emplace_back(entries[i].section);
        const Name& key = keys.emplace_back(entries[i].key);
        first[i] = i;
        for (qsizetype j = 0; j < i; ++j) {
            const QByteArrayView other = sections[size_t(j)].utf8();
            if (first[j] == j && section.matches(other.data(), other.size())) {
                first[i] = j;
                break;
            }
        }
        for (qsizetype j = first[i]; j < i; ++j) {
            const QByteArrayView other = keys[size_t(j)].utf8();
            if (first[j] == first[i] && key.matches(other.data(), other.size()))
                return false;
        }
    }
    ValueBytes value;
    for (qsizetype i = 0; i < n; ++i) {
        if (first[i] != i)
            continue;
        const QByteArrayView section = sections[size_t(i)].utf8();
        data.append('[').append(section.data(), section.size()).append("]\n");
        for (qsizetype j = i; j < n; ++j) {
            if (first[j] != i)
                continue;
            const QByteArrayView key = keys[size_t(j)].utf8();
            value.clear();
            encodeValue(entries[j].value, value);
            data.append(key.data(), key.size()).append('=').append(value.constData(), value.size()).append('\n');
        }
    }
    return true;
}

constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

enum class ReadStatus {
    Read,     // the bytes are there
    NoFile,   // missing, not to be opened, or no regular file: read as an empty file
    TooLarge, // larger than kMaxBytes
    NoMemory, // the bytes did not fit into memory
    Failed,   // the system refused the read itself
};

// Reads the whole regular file open at fd, whose status is st, from its start. room: bytes of
// room to leave after the contents, for what a write will add.
ReadStatus readOpenFile(int fd, const struct stat& st, QByteArray* out, qsizetype room = 0) {
    out->clear();
    const qint64 size = st.st_size;
    if (size > kMaxBytes)
        return ReadStatus::TooLarge;
    ReadStatus status = ReadStatus::Read;
    try {
        QByteArray data;
        if (room > 0) {
            data.reserve(qsizetype(size) + 1 + room);
            data.resize(qsizetype(size) + 1);
        } else {
            data = QByteArray(qsizetype(size) + 1, Qt::Uninitialized);
        }
        qsizetype got = 0;
        for (;;) {
            if (got == data.size()) {
                if (got > kMaxBytes)
                    return ReadStatus::TooLarge;
                data.resize(qMin<qsizetype>(data.size() * 2, kMaxBytes + 1));
            }
            const ssize_t n = ::pread(fd, data.data() + got, size_t(data.size() - got), off_t(got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                // A directory opened where a file was expected reads as no file.
                status = errno == EISDIR ? ReadStatus::NoFile : ReadStatus::Failed;
                break;
            }
            if (n == 0)
                break;
            got += n;
            // All the bytes its size promised and no more: the file is at its end, and one more call
            // to learn that is saved. A read that stops short of the size goes on to the real end.
            if (got == qsizetype(size) && got < data.size())
                break;
        }
        if (status == ReadStatus::Read) {
            data.truncate(got);
            *out = std::move(data);
        }
    } catch (const std::bad_alloc&) {
        status = ReadStatus::NoMemory;
    }
    return status;
}

// Reads the whole file once. Anything but a regular file (a directory, a pipe, a device) counts as
// no file, so a stray path can never block the caller.
ReadStatus readAllBytes(const QByteArray& path, QByteArray* out) {
    out->clear();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return ReadStatus::NoFile;
    struct stat st {};
    ReadStatus status = ReadStatus::NoFile;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        status = readOpenFile(fd, st, out);
    ::close(fd);
    return status;
}

// The bytes of the file for reading: empty for no file, the error for one that is there but cannot
// be read.
QByteArray bytesForReading(const QString& fileName, const QByteArray& path) {
    QByteArray data;
    if (path.isEmpty())
        return data;
    switch (readAllBytes(path, &data)) {
    case ReadStatus::Read:
    case ReadStatus::NoFile:
        return data;
    case ReadStatus::TooLarge:
        throw ProfileReadError(QStringLiteral("Unable to read %1: the file is larger than %2 MiB")
                                   .arg(fileName)
                                   .arg(kMaxBytes / (1024 * 1024))
                                   .toStdString());
    case ReadStatus::NoMemory:
        throw ProfileReadError(
            QStringLiteral("Unable to read %1: not enough memory").arg(fileName).toStdString());
    case ReadStatus::Failed:
        break;
    }
    throw ProfileReadError(QStringLiteral("Unable to read %1: %2")
                               .arg(fileName, QString::fromLocal8Bit(std::strerror(errno)))
                               .toStdString());
}

// A whole read-side call, with running out of memory on the way made the store's read error.
template <typename F> auto guardedRead(const QString& fileName, F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        throw ProfileReadError(
            QStringLiteral("Unable to read %1: not enough memory").arg(fileName).toStdString());
    }
}

// The directory part of a path, "." for a bare name.
QByteArray directoryOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The file the write goes to. Symbolic links are followed only where the kernel's own rule for
// links in sticky, world-writable folders would follow them: when the link belongs to this user or
// to the folder's owner, or the folder is not both sticky and world-writable. Anything else is
// refused, so a link planted in a shared folder never turns a write onto another file. found
// tells whether the file exists (then st is its status).
bool resolveForWrite(QByteArray path, QByteArray* target, struct stat* st, bool* found) {
    for (int hop = 0; hop < 40; ++hop) {
        if (::lstat(path.constData(), st) != 0) {
            if (errno != ENOENT)
                return false;
            *target = path;
            *found = false;
            return true;
        }
        if (!S_ISLNK(st->st_mode)) {
            *target = path;
            *found = true;
            return true;
        }
        const QByteArray dir = directoryOf(path);
        struct stat folder {};
        if (::stat(dir.constData(), &folder) != 0)
            return false;
        const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
        if (shared && st->st_uid != ::geteuid() && st->st_uid != folder.st_uid)
            return false;
        QByteArray link(qsizetype(st->st_size > 0 ? st->st_size : 255) + 1, Qt::Uninitialized);
        const ssize_t n = ::readlink(path.constData(), link.data(), size_t(link.size()));
        if (n <= 0 || n >= link.size())
            return false; // changed while being read
        link.truncate(n);
        path = link.startsWith('/') ? link : dir + '/' + link;
    }
    return false; // a loop of links
}

bool writeAll(int fd, const QByteArray& bytes, off_t offset) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, p, size_t(left), offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
        offset += n;
    }
    return true;
}

// Our temporary files: ".<name>.<process id>.tmp", or with a random part before ".tmp" when that
// name is taken. The process id is what tells a later writer whether the file is still in use.
QByteArray temporaryPrefix(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    QByteArray prefix;
    prefix.reserve(path.size() + 40); // room for the process id and a random part
    if (slash < 0)
        prefix.append("./");
    else
        prefix.append(path.constData(), slash + 1);
    prefix.append('.').append(path.constData() + slash + 1, path.size() - slash - 1).append('.');
    return prefix;
}

// Makes a new temporary file for path (never through a link) with the given mode; its name goes to
// *name. unique: always with a random part, since no lock keeps this process's threads apart; else
// the plain name first, which under the file's lock can only be a leftover of an earlier process
// with our id (or planted) and is removed. -1 when no file could be made.
int openTemporary(const QByteArray& path, mode_t mode, bool unique, QByteArray* name) {
    const QByteArray prefix = temporaryPrefix(path);
    const QByteArray pid = QByteArray::number(::getpid());
    auto create = [&](const QByteArray& candidate) {
        *name = candidate;
        return ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    };
    int fd = -1;
    if (!unique) {
        const QByteArray plain = prefix + pid + ".tmp";
        fd = create(plain);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        // Taken: removed if it may be (else, planted where only its owner may remove it, a name
        // with a random part is taken instead).
        if (::unlink(plain.constData()) == 0) {
            fd = create(plain);
            if (fd >= 0 || errno != EEXIST)
                return fd;
        }
    }
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        fd = create(prefix + pid + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) +
                    ".tmp");
        if (fd < 0 && errno != EEXIST)
            return -1;
    }
    return fd;
}

// The process id in a directory entry's name when it is one of our temporary files for base,
// else 0.
pid_t temporaryOwner(const char* entry, const QByteArray& base) {
    const qsizetype n = qsizetype(std::strlen(entry));
    if (n < base.size() + 7 || entry[0] != '.' ||
        std::memcmp(entry + 1, base.constData(), size_t(base.size())) != 0 || entry[base.size() + 1] != '.' ||
        std::strcmp(entry + n - 4, ".tmp") != 0)
        return 0;
    qsizetype i = base.size() + 2;
    qint64 pid = 0;
    const qsizetype digitsFrom = i;
    while (i < n - 4 && entry[i] >= '0' && entry[i] <= '9' && pid < INT_MAX)
        pid = pid * 10 + (entry[i++] - '0');
    if (i == digitsFrom || pid <= 0 || pid > INT_MAX)
        return 0;
    if (i != n - 4) { // ".<random hex>" before ".tmp"
        if (entry[i] != '.' || i + 1 == n - 4)
            return 0;
        for (qsizetype k = i + 1; k < n - 4; ++k) {
            if (!std::isxdigit(static_cast<unsigned char>(entry[k])))
                return 0;
        }
    }
    return pid_t(pid);
}

// Removes the temporary files of base that writers which are gone left behind (killed in the middle
// of a write). Called with the lock held, so no writer of ours is using one of them for this file.
// Reading the folder costs more than the write itself, so a process does it at its first write of
// each file only: what a killed writer left is removed by the next process that writes the file.
void removeStaleTemporaries(const QByteArray& path) {
    static QMutex mutex;
    static QSet<QByteArray> done;
    {
        const QMutexLocker locker(&mutex);
        if (done.contains(path))
            return;
        done.insert(path);
    }
    const QByteArray dir = directoryOf(path);
    const QByteArray base = path.mid(path.lastIndexOf('/') + 1);
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return;
    const pid_t self = ::getpid();
    while (const dirent* e = ::readdir(d)) {
        const pid_t pid = temporaryOwner(e->d_name, base);
        if (pid <= 0 || pid == self)
            continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            (void)::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

// Replaces the contents of the locked file (fd, status old) with bytes: a temporary file in the
// same directory, made 0600 and given the old file's owner (where this process may) and group
// before anything is written into it, then its mode, flushed to disk and renamed over the old one;
// in place when the directory takes no new file or does not let this user replace the old one.
// Returns false with the old file as it was and no temporary file left behind.
bool replaceContents(const QByteArray& path, int lockedFd, const QByteArray& bytes, const struct stat& old) {
    // The copy is for this user alone until it has the old file's owner and group.
    QByteArray tmp;
    int fd = openTemporary(path, 0600, false, &tmp);
    if (fd >= 0) {
        bool ok = true;
        // Owner and group before the first byte; the group alone when this user is not root (the
        // system lets a user give a file any group they belong to).
        const uid_t me = ::geteuid();
        const gid_t group = ::getegid();
        if (me == 0 && (old.st_uid != me || old.st_gid != group))
            ok = ::fchown(fd, old.st_uid, old.st_gid) == 0;
        else if (me != 0 && old.st_gid != group)
            (void)!::fchown(fd, uid_t(-1), old.st_gid);
        ok = ok && writeAll(fd, bytes, 0);
        if (ok && (old.st_mode & 07777) != 0600)
            ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        ok = ok && ::fdatasync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok && ::rename(tmp.constData(), path.constData()) == 0)
            return true;
        // A sticky folder lets no one but its owner and the file's replace the file.
        const bool sticky = ok && (errno == EPERM || errno == EACCES);
        ::unlink(tmp.constData());
        if (!sticky)
            return false;
    }

    // The directory takes no new files, or will not let this user replace the file, but the file
    // itself is writable (it is open for writing under the lock): rewrite it in place.
    fd = lockedFd;
    // The old contents, to be put back if the rewrite fails: the file is still as it was.
    QByteArray oldBytes;
    if (readOpenFile(fd, old, &oldBytes) != ReadStatus::Read)
        return false;
    if (bytes.size() > oldBytes.size()) {
        const int rc = ::posix_fallocate(fd, 0, off_t(bytes.size()));
        if (rc == ENOSPC || rc == EFBIG || rc == EDQUOT)
            return false;
    }
    bool ok = writeAll(fd, bytes, 0);
    ok = ok && ::ftruncate(fd, off_t(bytes.size())) == 0;
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        // Put the old contents back; the space they need was theirs before.
        if (writeAll(fd, oldBytes, 0))
            (void)!::ftruncate(fd, off_t(oldBytes.size()));
        ::fsync(fd);
    }
    return ok;
}

enum class Created { Done, Exists, Unsupported, Failed };

// Makes the file that is not there yet without any lock: a temporary file (with what the umask
// gives a new file) is renamed to the file's name only while no file has that name. Of two
// writers making the file at once one succeeds; the other finds the file there (Exists) and then
// writes into it under its lock, so no key is lost. Unsupported: the file system cannot rename
// that way (the caller then makes the file empty and locks it as any other).
Created createContents(const QByteArray& path, const QByteArray& bytes) {
    QByteArray tmp;
    const int fd = openTemporary(path, 0666, true, &tmp);
    if (fd < 0)
        return Created::Failed;
    bool ok = writeAll(fd, bytes, 0) && ::fdatasync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::renameat2(AT_FDCWD, tmp.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0)
        return Created::Done;
    const int error = errno;
    ::unlink(tmp.constData());
    if (!ok)
        return Created::Failed;
    if (error == EEXIST)
        return Created::Exists;
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ? Created::Unsupported : Created::Failed;
}

// Section names in file order, the first of each name only.
QStringList sectionNames(const QByteArray& data) {
    QStringList out;
    QSet<QString> seen;
    LineReader reader(data);
    Line line;
    while (reader.nextSection(line)) {
        const QString name = decode(data.constData() + line.name.begin, line.name.size());
        if (!seen.contains(foldAscii(name))) {
            seen.insert(foldAscii(name));
            out << name;
        }
    }
    return out;
}

// The keys of the first matching section in file order, the first of each name only.
QStringList keyNames(const QByteArray& data, const Name& wanted) {
    QStringList out;
    const char* d = data.constData();
    LineReader reader(data);
    Line line;
    if (!reader.findSection(wanted, line))
        return out;
    QSet<QString> seen;
    while (reader.next(line) && line.kind != Kind::Section) {
        if (line.kind != Kind::Key)
            continue;
        const QString name = decode(d + line.name.begin, line.name.size());
        if (!seen.contains(foldAscii(name))) {
            seen.insert(foldAscii(name));
            out << name;
        }
    }
    return out;
}

} // namespace

QString settingsFileName() {
    return QStringLiteral("l_wick.ini");
}

QString profileDirectory() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString org = QCoreApplication::organizationName();
    if (!org.isEmpty())
        dir += QLatin1Char('/') + org;
    return dir + QStringLiteral("/Ledgerwick");
}

std::optional<int> profileInteger(const QString& stored) {
    QString text = stored;
    if (text.size() > 2 && text.at(0) == QLatin1Char('0') &&
        (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X')))
        text = QLatin1Char('$') + text.mid(2);
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    if (i < n && text.at(i) == QLatin1Char('$')) {
        ++i;
        const qsizetype digits = n - i;
        if (digits < 1 || digits > 8)
            return std::nullopt;
        quint32 v = 0;
        for (; i < n; ++i) {
            const char16_t c = text.at(i).unicode();
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = (v << 4) | quint32(d);
        }
        return int(v);
    }
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return std::nullopt;
    qint64 v = 0;
    for (; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > qint64(2147483648LL))
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return std::nullopt;
    return int(v);
}

Profile::Profile(const QString& fileName) : m_fileName(fileName) {
    // A path stays the same file name for the object's life; a bare name's directory is looked
    // up at each use.
    if (fileName.contains(QLatin1Char('/')))
        m_nativePath = QFile::encodeName(fileName);
}

QByteArray Profile::nativePath() const {
    return m_nativePath.isEmpty() ? QFile::encodeName(filePath()) : m_nativePath;
}

QString Profile::fileName() const {
    return m_fileName;
}

QString Profile::filePath() const {
    if (m_fileName.isEmpty() || m_fileName.contains(QLatin1Char('/')))
        return m_fileName;
    return profileDirectory() + QLatin1Char('/') + m_fileName;
}

void Profile::setLockTimeout(int milliseconds) {
    g_lockTimeoutMs.store(milliseconds < 0 ? 0 : milliseconds);
}

int Profile::lockTimeout() {
    return g_lockTimeoutMs.load();
}

qint64 profileMaxBytes() {
    return kMaxBytes;
}

QString Profile::readString(const QString& section, const QString& key, const QString& def) const {
    return guardedRead(m_fileName, [&]() {
        const QByteArray data = bytesForReading(m_fileName, nativePath());
        const std::optional<Span> value = findValue(data, Name(section), Name(key));
        return value ? valueText(data, *value) : def;
    });
}

QList<ProfileSection> Profile::readSections(const QStringList& names) const {
    return guardedRead(m_fileName, [&]() {
        const QByteArray data = bytesForReading(m_fileName, nativePath());
        const char* d = data.constData();
        QList<ProfileSection> out;
        for (const QString& name : names) {
            ProfileSection section;
            LineReader reader(data);
            Line line;
            section.m_exists = reader.findSection(Name(name), line);
            while (section.m_exists && reader.next(line) && line.kind != Kind::Section) {
                if (line.kind != Kind::Key)
                    continue;
                const QString key = decode(d + line.name.begin, line.name.size());
                const QString folded = foldAscii(key);
                if (section.m_index.contains(folded))
                    continue;
                section.m_index.insert(folded, section.m_names.size());
                section.m_names.append(key);
                section.m_values.append(valueText(data, line.value));
            }
            out.append(std::move(section));
        }
        return out;
    });
}

QStringList ProfileSection::keys() const {
    return m_names;
}

QString ProfileSection::readString(const QString& key, const QString& def) const {
    const auto it = m_index.constFind(foldAscii(trimBlanks(key).toString()));
    return it == m_index.cend() ? def : m_values.at(*it);
}

int ProfileSection::readInteger(const QString& key, int def) const {
    return profileInteger(readString(key, QString())).value_or(def);
}

bool ProfileSection::readBool(const QString& key, bool def) const {
    return readInteger(key, def ? 1 : 0) != 0;
}

int Profile::readInteger(const QString& section, const QString& key, int def) const {
    return profileInteger(readString(section, key, QString())).value_or(def);
}

bool Profile::readBool(const QString& section, const QString& key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void Profile::writeString(const QString& section, const QString& key, const QString& value) {
    writeEntries({ProfileEntry{section, key, value}});
}

void Profile::writeInteger(const QString& section, const QString& key, int value) {
    writeString(section, key, QString::number(value));
}

void Profile::writeBool(const QString& section, const QString& key, bool value) {
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void Profile::writeEntries(const QList<ProfileEntry>& entries) {
    for (const ProfileEntry& e : entries)
        checkNames(m_fileName, e.section, e.key);
    // Room for what the entries add at most: each line written in UTF-8 (three bytes a character
    // at most) and a new section's header with its line endings.
    qsizetype room = 0;
    for (const ProfileEntry& e : entries)
        room += 3 * (e.section.size() + e.key.size() + e.value.size()) + 16;
    auto refused = [this]() {
        return ProfileWriteError(QStringLiteral("Unable to write to %1").arg(m_fileName).toStdString());
    };
    // Each entry changes the bytes as a single write would, the section of the entry before
    // remembered for the next.
    auto applyAll = [&entries](QByteArray& data) {
        SectionHint hint;
        for (const ProfileEntry& e : entries)
            applyEntry(data, e, &hint);
    };
    const QByteArray path = nativePath();
    if (path.isEmpty())
        throw refused();
    if (!m_fileName.contains(QLatin1Char('/')) && !QDir().mkpath(profileDirectory()))
        throw refused();
    try {
        // Another round whenever another writer replaced or made the file between our look at it
        // and the lock (each such round means that writer finished), for as long as a writer
        // waits for a lock in all; the clock is read only from the second round on.
        const int timeoutMs = g_lockTimeoutMs.load();
        QElapsedTimer waited;
        auto remaining = [&]() {
            return waited.isValid() ? int(qMax<qint64>(0, timeoutMs - waited.elapsed())) : timeoutMs;
        };
        // A missing file is made without a lock where the file system allows.
        bool lockFree = true;
        for (int round = 0;; ++round) {
            if (round == 1)
                waited.start();
            else if (round > 1 && waited.elapsed() >= timeoutMs)
                break;
            QByteArray target = path;
            ProfileLock lock;
            ProfileLock::Result result = lock.acquire(target, remaining(), lockFree);
            if (result == ProfileLock::Result::Link) {
                // Followed only as the rule for shared folders allows, to a file that is no link.
                struct stat st {};
                bool exists = false;
                if (!resolveForWrite(path, &target, &st, &exists) || (exists && !S_ISREG(st.st_mode)))
                    throw refused();
                result = lock.acquire(target, remaining(), lockFree);
            }
            if (result == ProfileLock::Result::Missing) {
                QByteArray data;
                data.reserve(room);
                if (!makeNewContents(entries, data))
                    applyAll(data);
                switch (createContents(target, data)) {
                case Created::Done:
                    return;
                case Created::Exists: // made by another writer meanwhile: written into under its lock
                    continue;
                case Created::Unsupported:
                    lockFree = false;
                    continue;
                case Created::Failed:
                    throw refused();
                }
            }
            if (result == ProfileLock::Result::Changed || result == ProfileLock::Result::Link)
                continue;
            if (result == ProfileLock::Result::Failed)
                throw refused();
            removeStaleTemporaries(target);

            // What cannot be read cannot be kept. The entries are applied in the buffer read, with
            // room at its end for what they add.
            QByteArray data;
            if (readOpenFile(lock.fd(), lock.status(), &data, room) != ReadStatus::Read) {
                lock.discardCreated();
                throw refused();
            }
            applyAll(data);
            if (!replaceContents(target, lock.fd(), data, lock.status())) {
                lock.discardCreated();
                throw refused();
            }
            return;
        }
    } catch (const std::bad_alloc&) {
    }
    throw refused();
}

QStringList Profile::sections() const {
    return guardedRead(m_fileName, [&]() { return sectionNames(bytesForReading(m_fileName, nativePath())); });
}

QStringList Profile::keys(const QString& section) const {
    return guardedRead(m_fileName,
                       [&]() { return keyNames(bytesForReading(m_fileName, nativePath()), Name(section)); });
}

} // namespace lw
