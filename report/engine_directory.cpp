// Table files of a directory, read with readdir: the entry type comes with the name, so only
// table names whose type the file system does not report (links, some network file systems)
// cost a stat call.
#include "report/engine_directory.h"

#include "report/catalogue.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
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
    std::uint32_t offset;
    std::uint32_t length;
    std::uint64_t head; // eight bytes of the name in name order, from the depth being sorted
};

// Eight bytes of a name from position depth, letters A to Z as their lower case, zero past the
// end, packed so that comparing two of them as numbers compares the bytes in name order.
std::uint64_t orderHead(const char* name, std::size_t length, std::size_t depth) {
    std::uint64_t word = 0;
    if (depth < length) {
        std::memcpy(&word, name + depth, std::min<std::size_t>(8, length - depth));
    }
    word = __builtin_bswap64(word); // the first byte the most significant
    // All eight bytes lowered at once: a byte gets 0x20 added where it lies in 'A'..'Z'.
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    const std::uint64_t low7 = word & (0x7F * ones);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * ones;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * ones;
    const std::uint64_t upper = (atLeastA & ~aboveZ & ~word) & (0x80 * ones);
    return word | (upper >> 2);
}

// Name order from position depth on, for names equal before it: letters A to Z equal to their
// lower case, everything else by byte value (for UTF-8 names that is code point order); a name
// before the longer names it begins; names equal in that order go by their exact bytes.
bool nameLessFrom(const char* base, const NameSpan& a, const NameSpan& b, std::size_t depth) {
    const auto* p = reinterpret_cast<const unsigned char*>(base + a.offset);
    const auto* q = reinterpret_cast<const unsigned char*>(base + b.offset);
    const std::size_t common = std::min(a.length, b.length);
    for (std::size_t i = depth; i < common; ++i) {
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

// Sorts spans whose names agree before depth, and whose heads hold their bytes from depth: a
// radix pass for each of the eight byte positions where the names differ, then each run of
// names with equal heads in turn from eight bytes further on. Names that share a long
// beginning thus cost a pass over their heads per eight shared bytes, never a comparison of the
// shared bytes; a comparison sort is left for small runs.
void sortFrom(const char* base, NameSpan* spans, std::size_t n, std::size_t depth,
              std::vector<NameSpan>& scratch) {
    for (;;) {
        if (n < 2) {
            return;
        }
        if (n < 48) {
            std::sort(spans, spans + n, [base, depth](const NameSpan& a, const NameSpan& b) {
                return a.head != b.head ? a.head < b.head : nameLessFrom(base, a, b, depth + 8);
            });
            return;
        }
        std::uint64_t differ = 0;
        for (std::size_t i = 1; i < n; ++i) {
            differ |= spans[i].head ^ spans[0].head;
        }
        if (differ == 0) {
            // The same eight bytes everywhere. Names that end within them are equal but for the
            // case of their letters; the others go on eight bytes further.
            if (spans[0].length <= depth + 8) {
                std::sort(spans, spans + n, [base](const NameSpan& a, const NameSpan& b) {
                    return std::memcmp(base + a.offset, base + b.offset, a.length) < 0;
                });
                return;
            }
            depth += 8;
            for (std::size_t i = 0; i < n; ++i) {
                spans[i].head = orderHead(base + spans[i].offset, spans[i].length, depth);
            }
            continue;
        }
        if (scratch.size() < n) {
            scratch.resize(n);
        }
        NameSpan* from = spans;
        NameSpan* to = scratch.data();
        for (int shift = 0; shift < 64; shift += 8) {
            if (((differ >> shift) & 0xFF) == 0) {
                continue; // every name has the same byte here
            }
            std::size_t start[256] = {};
            for (std::size_t i = 0; i < n; ++i) {
                ++start[(from[i].head >> shift) & 0xFF];
            }
            std::size_t at = 0;
            for (std::size_t& slot : start) {
                const std::size_t count = slot;
                slot = at;
                at += count;
            }
            for (std::size_t i = 0; i < n; ++i) {
                to[start[(from[i].head >> shift) & 0xFF]++] = from[i];
            }
            std::swap(from, to);
        }
        if (from != spans) {
            std::copy(from, from + n, spans);
        }
        for (std::size_t i = 0; i < n;) {
            std::size_t j = i + 1;
            while (j < n && spans[j].head == spans[i].head) {
                ++j;
            }
            if (j - i > 1) {
                NameSpan* run = spans + i;
                const std::size_t count = j - i;
                if (run[0].length <= depth + 8) {
                    // Equal heads that hold a name's end: equal but for letter case.
                    std::sort(run, run + count, [base](const NameSpan& a, const NameSpan& b) {
                        return std::memcmp(base + a.offset, base + b.offset, a.length) < 0;
                    });
                } else {
                    for (std::size_t k = 0; k < count; ++k) {
                        run[k].head = orderHead(base + run[k].offset, run[k].length, depth + 8);
                    }
                    sortFrom(base, run, count, depth + 8, scratch);
                }
            }
            i = j;
        }
        return;
    }
}

// Puts the names in name order (nameLessFrom from the first byte), for names whose first shared
// bytes are the same and whose heads hold their bytes from there.
void sortNames(const char* base, std::vector<NameSpan>& spans, std::size_t shared) {
    std::vector<NameSpan> scratch;
    sortFrom(base, spans.data(), spans.size(), shared, scratch);
}

// How many of the first limit bytes of two names are the same, eight at a time while they agree.
std::size_t sharedPrefix(const char* a, const char* b, std::size_t limit) {
    std::size_t i = 0;
    while (i + 8 <= limit) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            break;
        }
        i += 8;
    }
    while (i < limit && a[i] == b[i]) {
        ++i;
    }
    return i;
}

bool isAscii(const char* text, std::size_t length) {
    unsigned char all = 0;
    for (std::size_t i = 0; i < length; ++i) {
        all |= static_cast<unsigned char>(text[i]);
    }
    return all < 0x80;
}

// The names' texts, in the given order, made as strings that share one block of memory: one
// allocation for the whole listing instead of one a name, and one release when the last of them
// goes. Each string holds a reference to the block, so changing one copies it first, as changing
// any shared string does; a string left alone with the block may grow into the room after it,
// which no other string uses any more. Each name's text stands where its bytes stand in the
// buffer (a UTF-8 byte gives at most one UTF-16 unit, and the name's terminating zero makes room
// for the text's). A listing of plain-ASCII names, the usual case, is widened in one pass over the
// buffer in the order the names were read; otherwise each name is decoded in turn. Names are
// UTF-8 to Qt on this platform (QFile::decodeName does the same).
QStringList namesInOneBlock(const std::string& buffer, const std::vector<NameSpan>& spans, bool allAscii) {
    QStringList names;
    const std::size_t count = spans.size();
    if (count == 0) {
        return names;
    }
    names.reserve(qsizetype(count));
    auto [header, block] = QTypedArrayData<char16_t>::allocate(qsizetype(buffer.size()));
    if (header == nullptr) {
        throw std::bad_alloc();
    }
    header->ref_.storeRelaxed(int(count));
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    auto widen = [&](std::size_t from, std::size_t length) {
        for (std::size_t i = from; i < from + length; ++i) {
            block[i] = char16_t(bytes[i]);
        }
    };
    if (allAscii) {
        widen(0, buffer.size());
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    for (const NameSpan& span : spans) {
        char16_t* text = block + span.offset;
        qsizetype length = qsizetype(span.length);
        if (!allAscii) {
            const char* name = buffer.data() + span.offset;
            if (isAscii(name, span.length)) {
                widen(span.offset, span.length);
            } else {
                length = reinterpret_cast<char16_t*>(utf8.appendToBuffer(reinterpret_cast<QChar*>(text),
                                                                         QByteArrayView(name, length))) -
                         text;
            }
            text[length] = 0;
        }
        names.append(QString(QStringPrivate(header, text, length)));
    }
    return names;
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
    // allocation per table instead of several. The directory's own size is about that of its
    // names, so the buffers are made big enough at once rather than grown and copied.
    std::string buffer;
    std::vector<NameSpan> spans;
    struct stat directoryInfo;
    const std::size_t hint =
        fstat(dirFd, &directoryInfo) == 0 && directoryInfo.st_size > 0
            ? std::min<std::size_t>(std::size_t(directoryInfo.st_size), std::size_t(1) << 26)
            : 16384;
    buffer.reserve(hint);
    spans.reserve(hint / 32);
    // How many first bytes every table name so far shares with the first one: the order is
    // decided after them, so the sort starts there.
    std::size_t shared = 0;
    bool allAscii = true;
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
            if (spans.empty()) {
                shared = length;
            } else {
                shared = sharedPrefix(buffer.data(), name, std::min(shared, length));
            }
            spans.push_back({std::uint32_t(buffer.size()), std::uint32_t(length), 0});
            // With its terminating zero, so that the whole buffer can be widened in one pass.
            buffer.append(name, length + 1);
            allAscii = allAscii && isAscii(name, length);
        }
    }

    const char* base = buffer.data();
    for (NameSpan& span : spans) {
        span.head = orderHead(base + span.offset, span.length, shared);
    }
    sortNames(base, spans, shared);
    QStringList names = namesInOneBlock(buffer, spans, allAscii);
    return names;
}

} // namespace lw
