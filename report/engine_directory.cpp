// Table files of a directory, read with readdir: the entry type comes with the name, so only
// table names whose type the file system does not report (links, some network file systems)
// cost a stat call.
#include "report/engine_directory.h"

#include "report/catalogue.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace lw {

namespace {

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// The same test as isTableFileName on the raw bytes of a name, before it is decoded.
bool isTableFileBytes(const char* name, std::size_t length) {
    // The shortest table name is "x.db"; the extension is the text after the last ".".
    if (length < 4) {
        return false;
    }
    const auto* end = reinterpret_cast<const unsigned char*>(name + length);
    if (lowerAscii(end[-1]) == 'f') {
        return length >= 5 && end[-4] == '.' && lowerAscii(end[-3]) == 'd' && lowerAscii(end[-2]) == 'b';
    }
    return end[-3] == '.' && lowerAscii(end[-2]) == 'd' && lowerAscii(end[-1]) == 'b';
}

struct NameSpan {
    std::size_t offset;
    std::size_t length;
    std::uint64_t head; // the first eight bytes in name order, so most comparisons are one
};

std::uint64_t orderHead(const char* name, std::size_t length) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        head = (head << 8) | (i < length ? lowerAscii(static_cast<unsigned char>(name[i])) : 0u);
    }
    return head;
}

// Name order: letters A to Z equal to their lower case, everything else by byte value (for UTF-8
// names that is code point order); names equal in that order go by their exact bytes.
bool nameLess(const char* base, const NameSpan& a, const NameSpan& b) {
    if (a.head != b.head) {
        return a.head < b.head;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(base + a.offset);
    const auto* q = reinterpret_cast<const unsigned char*>(base + b.offset);
    const std::size_t common = std::min(a.length, b.length);
    for (std::size_t i = 8; i < common; ++i) {
        const unsigned char x = lowerAscii(p[i]);
        const unsigned char y = lowerAscii(q[i]);
        if (x != y) {
            return x < y;
        }
    }
    if (a.length != b.length) {
        return a.length < b.length;
    }
    return std::memcmp(p, q, common) < 0;
}

// Puts the names in name order: a radix sort on the first eight bytes (a pass for each byte
// position where the names differ), then names that agree in those by the rest of the name. Big
// directories are mostly told apart by their first bytes, and a comparison sort costs far more.
void sortNames(const char* base, std::vector<NameSpan>& spans) {
    const auto less = [base](const NameSpan& a, const NameSpan& b) { return nameLess(base, a, b); };
    const std::size_t n = spans.size();
    if (n < 64) {
        std::sort(spans.begin(), spans.end(), less);
        return;
    }
    std::vector<NameSpan> scratch(n);
    for (int shift = 0; shift < 64; shift += 8) {
        std::size_t start[256] = {};
        for (const NameSpan& span : spans) {
            ++start[(span.head >> shift) & 0xFF];
        }
        if (start[(spans.front().head >> shift) & 0xFF] == n) {
            continue; // every name has the same byte here
        }
        std::size_t at = 0;
        for (std::size_t& slot : start) {
            const std::size_t count = slot;
            slot = at;
            at += count;
        }
        for (const NameSpan& span : spans) {
            scratch[start[(span.head >> shift) & 0xFF]++] = span;
        }
        spans.swap(scratch);
    }
    for (std::size_t i = 0; i < n;) {
        std::size_t j = i + 1;
        while (j < n && spans[j].head == spans[i].head) {
            ++j;
        }
        if (j - i > 1) {
            std::sort(spans.begin() + std::ptrdiff_t(i), spans.begin() + std::ptrdiff_t(j), less);
        }
        i = j;
    }
}

bool isAscii(const char* text, std::size_t length) {
    unsigned char all = 0;
    for (std::size_t i = 0; i < length; ++i) {
        all |= static_cast<unsigned char>(text[i]);
    }
    return all < 0x80;
}

// Closes the directory stream however the listing ends.
struct DirCloser {
    DIR* dir;
    ~DirCloser() {
        if (dir != nullptr) {
            closedir(dir);
        }
    }
};

QString reasonText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool isTableFileName(const QString& fileName) {
    const QByteArray bytes = QFile::encodeName(fileName);
    return isTableFileBytes(bytes.constData(), std::size_t(bytes.size()));
}

QStringList listTableFiles(const QString& directory, const QString& alias) {
    const QString which = alias.isEmpty()
                              ? QStringLiteral("The directory \"%1\"").arg(directory)
                              : QStringLiteral("The directory \"%1\" of alias \"%2\"").arg(directory, alias);
    const QByteArray path = QFile::encodeName(directory);
    DirCloser stream{opendir(path.constData())};
    if (stream.dir == nullptr) {
        const int error = errno;
        if (error == ENOENT) {
            throw EngineError((which + QStringLiteral(" does not exist")).toStdString());
        }
        if (error == ENOTDIR) {
            throw EngineError((which + QStringLiteral(" is not a directory")).toStdString());
        }
        throw EngineError((which + QStringLiteral(" cannot be read: ") + reasonText(error)).toStdString());
    }
    const int dirFd = dirfd(stream.dir);

    // The names are gathered as bytes in one buffer, ordered there and decoded at the end: one
    // allocation per table instead of several.
    std::string buffer;
    std::vector<NameSpan> spans;
    buffer.reserve(16384);
    spans.reserve(1024);
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(stream.dir);
        if (entry == nullptr) {
            const int error = errno;
            if (error != 0) {
                throw EngineError(
                    (which + QStringLiteral(" cannot be read: ") + reasonText(error)).toStdString());
            }
            break;
        }
        const char* name = entry->d_name;
        const std::size_t length = std::strlen(name);
        if (!isTableFileBytes(name, length)) {
            continue;
        }
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link counts as the file it points to.
            struct stat info;
            regular = fstatat(dirFd, name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (regular) {
            spans.push_back({buffer.size(), length, orderHead(name, length)});
            buffer.append(name, length);
        }
    }

    const char* base = buffer.data();
    sortNames(base, spans);
    QStringList names;
    names.reserve(qsizetype(spans.size()));
    for (const NameSpan& span : spans) {
        // File names are UTF-8 to Qt on this platform (QFile::decodeName does the same); the
        // common plain-ASCII name takes the cheaper conversion, which gives the same text.
        const char* name = base + span.offset;
        const auto length = qsizetype(span.length);
        names.append(isAscii(name, span.length) ? QString::fromLatin1(name, length)
                                                : QString::fromUtf8(name, length));
    }
    return names;
}

} // namespace lw
