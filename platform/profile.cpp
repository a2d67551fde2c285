// The profile store: finds sections and keys in the raw bytes of a profile file and rewrites one
// value in place, under a lock shared by our processes, through a temporary file and a rename.
#include "platform/profile.h"
#include "platform/profile_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStandardPaths>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lw {

namespace {

std::atomic<int> g_lockTimeoutMs{10000};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isBlank(QChar c) {
    return c.unicode() < 0x80 && isBlank(char(c.unicode()));
}

QString trimBlanks(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
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

bool startsNoCase(const char* p, qsizetype avail, const QByteArray& b) {
    const qsizetype n = b.size();
    if (avail < n)
        return false;
    const char* q = b.constData();
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != q[i] && lowerAscii(p[i]) != lowerAscii(q[i]))
            return false;
    }
    return true;
}

bool equalNoCase(const char* p, qsizetype n, const QByteArray& b) {
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
    return isValidUtf8(p, n) ? QString::fromUtf8(p, n) : QString::fromLatin1(p, n);
}

// A section or key name as the caller gave it, ready to be matched against raw file bytes.
class Name {
public:
    explicit Name(const QString& name) : m_text(trimBlanks(name)) {
        m_utf8 = m_text.toUtf8();
        bool latin1 = true;
        for (QChar c : m_text) {
            if (c.unicode() > 0xFF) {
                latin1 = false;
                break;
            }
        }
        if (latin1) {
            m_latin1 = m_text.toLatin1();
            m_hasLatin1 = m_latin1 != m_utf8;
        }
    }
    bool matches(const char* p, qsizetype n) const {
        if (equalNoCase(p, n, m_utf8))
            return true;
        return m_hasLatin1 && equalNoCase(p, n, m_latin1) && !isValidUtf8(p, n);
    }
    // Whether a name found at p (with avail bytes to the end of the file) can be this one: false
    // only when it certainly is not, so that its line need not be taken apart.
    bool mayStartAt(const char* p, qsizetype avail) const {
        return startsNoCase(p, avail, m_utf8) || (m_hasLatin1 && startsNoCase(p, avail, m_latin1));
    }
    const QString& text() const { return m_text; }

private:
    QString m_text;
    QByteArray m_utf8;
    QByteArray m_latin1;
    bool m_hasLatin1 = false;
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

    bool terminated(const Line& line) const { return line.end > 0 && m_d[line.end - 1] == '\n'; }

private:
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

Location locate(const QByteArray& data, const Name& section, const Name& key) {
    Location loc;
    LineReader reader(data);
    Line line;
    const char* d = data.constData();
    while (reader.nextSection(line, &section)) {
        if (section.matches(d + line.name.begin, line.name.size())) {
            loc.section = true;
            loc.insertAt = line.end;
            loc.insertTerminated = reader.terminated(line);
            break;
        }
    }
    if (!loc.section)
        return loc;
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
    bool found = false;
    while (!found && reader.nextSection(line, &section))
        found = section.matches(d + line.name.begin, line.name.size());
    if (!found)
        return std::nullopt;
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
// quotes, which reading removes again.
QByteArray encodeValue(const QString& value) {
    QString v;
    v.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\r')) {
            v += QLatin1Char(' ');
            if (i + 1 < value.size() && value.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            v += QLatin1Char(' ');
        } else {
            v += c;
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
    return v.toUtf8();
}

QByteArray lineEnding(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl > 0 && data.at(nl - 1) == '\r')
        return QByteArrayLiteral("\r\n");
    return QByteArrayLiteral("\n");
}

void checkNames(const QString& fileName, const QString& section, const QString& key) {
    const QString s = trimBlanks(section);
    if (s.isEmpty() || s.contains(QLatin1Char(']')) || s.contains(QLatin1Char('\n')) ||
        s.contains(QLatin1Char('\r')))
        throw ProfileArgumentError(
            QStringLiteral(
                "Invalid section name \"%1\" for %2: a section name must not be empty or hold \"]\" "
                "or a line break")
                .arg(section, fileName)
                .toStdString());
    const QString k = trimBlanks(key);
    if (k.isEmpty() || k.contains(QLatin1Char('=')) || k.contains(QLatin1Char('\n')) ||
        k.contains(QLatin1Char('\r')) || k.startsWith(QLatin1Char(';')) || k.startsWith(QLatin1Char('[')))
        throw ProfileArgumentError(
            QStringLiteral(
                "Invalid key name \"%1\" for %2: a key must not be empty, hold \"=\" or a line break, "
                "or begin with \";\" or \"[\"")
                .arg(key, fileName)
                .toStdString());
}

// Applies one write to the file's bytes exactly as a single write would.
void applyEntry(QByteArray& data, const ProfileEntry& entry) {
    const Name section(entry.section);
    const Name key(entry.key);
    const QByteArray value = encodeValue(entry.value);
    const Location loc = locate(data, section, key);
    if (loc.key) {
        qsizetype b = loc.value.begin;
        while (b < loc.value.end && (data.at(b) == ' ' || data.at(b) == '\t'))
            ++b;
        data.replace(b, loc.value.end - b, value);
        return;
    }
    const QByteArray eol = lineEnding(data);
    const QByteArray keyLine = key.text().toUtf8() + '=' + value;
    if (loc.section) {
        if (loc.insertTerminated)
            data.insert(loc.insertAt, keyLine + eol);
        else
            data.insert(loc.insertAt, eol + keyLine);
        return;
    }
    QByteArray add;
    const bool bomOnly = data.size() == 3 && data.startsWith("\xEF\xBB\xBF");
    if (!data.isEmpty() && !bomOnly && !data.endsWith('\n'))
        add += eol;
    add += '[' + section.text().toUtf8() + ']' + eol + keyLine + eol;
    data += add;
}

// Reads the whole file once. Anything but a regular file (a directory, a pipe, a device) counts as
// unreadable, so a stray path can never block the caller.
QByteArray readAllBytes(const QString& path, bool* ok) {
    *ok = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == data.size())
            data.resize(data.size() * 2);
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return {};
        }
        if (n == 0)
            break;
        got += n;
        // All the bytes its size promised and no more: the file is at its end, and one more call
        // to learn that is saved. A read that stops short of the size goes on to the real end.
        if (got == qsizetype(st.st_size) && got < data.size())
            break;
    }
    ::close(fd);
    data.truncate(got);
    *ok = true;
    return data;
}

// Follows symbolic links to the file they name, so a write replaces the file and not the link.
QString followLinks(const QString& path) {
    QString p = path;
    for (int i = 0; i < 40; ++i) {
        const QFileInfo fi(p);
        if (!fi.isSymLink())
            return p;
        const QString target = fi.symLinkTarget();
        if (target.isEmpty())
            return p;
        p = target;
    }
    return QString(); // a loop of links
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

// Replaces the file's contents with bytes: a temporary file in the same directory, flushed to disk
// and renamed over the old one with its permissions; in place when only the file is writable.
// Returns false with the old file as it was and no temporary file left behind.
bool replaceContents(const QString& target, const QByteArray& bytes, bool exists, const QByteArray& old) {
    const QByteArray path = QFile::encodeName(target);
    struct stat st {};
    if (exists) {
        if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0)
            return false;
    }
    const QFileInfo fi(target);
    const QByteArray dir = QFile::encodeName(fi.absolutePath());
    const QByteArray base = QFile::encodeName(fi.fileName());

    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        tmp =
            dir + "/." + base + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) + ".tmp";
        fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd >= 0) {
        bool ok = writeAll(fd, bytes, 0);
        if (ok && exists) {
            ok = ::fchmod(fd, st.st_mode & 07777) == 0;
            if (::geteuid() == 0)
                (void)!::fchown(fd, st.st_uid, st.st_gid);
        }
        ok = ok && ::fdatasync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        ok = ok && ::rename(tmp.constData(), path.constData()) == 0;
        if (!ok) {
            ::unlink(tmp.constData());
            return false;
        }
        return true;
    }
    if (!exists)
        return false;

    // The directory takes no new files but the file itself is writable: rewrite it in place.
    fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (bytes.size() > old.size()) {
        const int rc = ::posix_fallocate(fd, 0, off_t(bytes.size()));
        if (rc == ENOSPC || rc == EFBIG || rc == EDQUOT) {
            ::close(fd);
            return false;
        }
    }
    bool ok = writeAll(fd, bytes, 0);
    ok = ok && ::ftruncate(fd, off_t(bytes.size())) == 0;
    ok = ok && ::fsync(fd) == 0;
    if (!ok) {
        // Put the old contents back; the space they need was theirs before.
        if (writeAll(fd, old, 0))
            (void)!::ftruncate(fd, off_t(old.size()));
        ::fsync(fd);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

} // namespace

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

Profile::Profile(const QString& fileName) : m_fileName(fileName) {}

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

QString Profile::readString(const QString& section, const QString& key, const QString& def) const {
    const QString path = filePath();
    if (path.isEmpty())
        return def;
    bool ok = false;
    const QByteArray data = readAllBytes(path, &ok);
    if (!ok)
        return def;
    const std::optional<Span> value = findValue(data, Name(section), Name(key));
    if (!value)
        return def;
    return valueText(data, *value);
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
    const ProfileWriteError refused(QStringLiteral("Unable to write to %1").arg(m_fileName).toStdString());
    const QString path = filePath();
    if (path.isEmpty())
        throw refused;
    if (!m_fileName.contains(QLatin1Char('/')) && !QDir().mkpath(profileDirectory()))
        throw refused;
    const QString target = followLinks(path);
    if (target.isEmpty())
        throw refused;

    ProfileLock lock;
    if (!lock.acquire(target, g_lockTimeoutMs.load()))
        throw refused;

    const QFileInfo info(target);
    const bool exists = info.exists();
    if (exists && !info.isFile())
        throw refused;
    QByteArray old;
    if (exists) {
        bool ok = false;
        old = readAllBytes(target, &ok);
        if (!ok)
            throw refused; // what cannot be read cannot be kept
    }
    QByteArray data = old;
    for (const ProfileEntry& e : entries)
        applyEntry(data, e);
    if (!replaceContents(target, data, exists, old))
        throw refused;
}

QStringList Profile::sections() const {
    QStringList out;
    bool ok = false;
    const QString path = filePath();
    const QByteArray data = path.isEmpty() ? QByteArray() : readAllBytes(path, &ok);
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

QStringList Profile::keys(const QString& section) const {
    QStringList out;
    bool ok = false;
    const QString path = filePath();
    const QByteArray data = path.isEmpty() ? QByteArray() : readAllBytes(path, &ok);
    const Name wanted(section);
    const char* d = data.constData();
    LineReader reader(data);
    Line line;
    bool found = false;
    while (!found && reader.nextSection(line, &wanted))
        found = wanted.matches(d + line.name.begin, line.name.size());
    if (!found)
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

} // namespace lw
