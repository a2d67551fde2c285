// Table files of a directory, read with readdir: the entry type comes with the name, so only
// table names whose type the file system does not report (links, some network file systems)
// cost a stat call.
#include "data/engine_directory.h"

#include "data/catalogue.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace lw {

namespace {

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
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

// The names are held either as their bytes (unsigned char) or, in a listing of plain-ASCII names,
// already as their UTF-16 units (char16_t), one unit a byte: the order below is the same on both.
// Words read from memory have their first byte the least significant.
static_assert(std::endian::native == std::endian::little);

// Eight bytes of a name from position depth, in their order: the first the least significant.
std::uint64_t headBytes(const unsigned char* name, std::size_t length, std::size_t depth) {
    std::uint64_t word = 0;
    if (length >= depth + 8) {
        std::memcpy(&word, name + depth, 8);
    } else if (depth < length) {
        std::memcpy(&word, name + depth, length - depth);
    }
    return word;
}

// The same from units that all hold a byte: each unit's low byte, packed.
std::uint64_t headBytes(const char16_t* name, std::size_t length, std::size_t depth) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if (length >= depth + 8) {
        std::memcpy(&low, name + depth, 8);
        std::memcpy(&high, name + depth + 4, 8);
    } else {
        char16_t units[8] = {};
        if (depth < length) {
            std::memcpy(units, name + depth, (length - depth) * sizeof(char16_t));
        }
        std::memcpy(&low, units, 8);
        std::memcpy(&high, units + 4, 8);
    }
    auto pack = [](std::uint64_t x) { // four 16-bit lanes of a byte each, to four bytes
        x = (x | (x >> 8)) & 0x0000FFFF0000FFFFULL;
        return (x | (x >> 16)) & 0xFFFFFFFFULL;
    };
    return pack(low) | (pack(high) << 32);
}

// Eight bytes of a name from position depth, letters A to Z as their lower case, zero past the
// end, packed so that comparing two of them as numbers compares the bytes in name order.
template <typename Unit> std::uint64_t orderHead(const Unit* name, std::size_t length, std::size_t depth) {
    // The first byte the most significant.
    const std::uint64_t word = __builtin_bswap64(headBytes(name, length, depth));
    // All eight bytes lowered at once: a byte gets 0x20 added where it lies in 'A'..'Z'.
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    const std::uint64_t low7 = word & (0x7F * ones);
    const std::uint64_t atLeastA = low7 + (0x80 - 'A') * ones;
    const std::uint64_t aboveZ = low7 + (0x80 - 'Z' - 1) * ones;
    const std::uint64_t upper = (atLeastA & ~aboveZ & ~word) & (0x80 * ones);
    return word | (upper >> 2);
}

// Which of two names' first length units goes first by their exact values, or 0 when they agree.
int compareExactly(const unsigned char* p, const unsigned char* q, std::size_t length) {
    return std::memcmp(p, q, length);
}

int compareExactly(const char16_t* p, const char16_t* q, std::size_t length) {
    return std::char_traits<char16_t>::compare(p, q, length);
}

// Name order from position depth on, for names equal before it: letters A to Z equal to their
// lower case, everything else by byte value (for UTF-8 names that is code point order); a name
// before the longer names it begins; names equal in that order go by their exact bytes.
template <typename Unit>
bool nameLessFrom(const Unit* base, const NameSpan& a, const NameSpan& b, std::size_t depth) {
    const Unit* p = base + a.offset;
    const Unit* q = base + b.offset;
    const std::size_t common = std::min(a.length, b.length);
    for (std::size_t i = depth; i < common; ++i) {
        const Unit x = lowerAscii(p[i]);
        const Unit y = lowerAscii(q[i]);
        if (x != y) {
            return x < y;
        }
    }
    if (a.length != b.length) {
        return a.length < b.length;
    }
    return compareExactly(p, q, common) < 0;
}

// Room the sort works in: a second array of spans for the radix passes to copy between, and their
// counts of names per digit.
struct SortRoom {
    NameSpan* scratch; // room for as many spans as the whole listing has
    std::vector<std::uint32_t> counts;
};

// Puts spans in the order of their heads by radix passes over the heads' bits that differ. Bits the
// same in every head decide nothing, so each byte position where the heads differ keeps only its
// bits from the highest that differs down (digits differ in their low four bits), packed into one
// key that orders and groups the spans as their heads do: names numbered with six digits after a
// shared beginning take 24 bits, and fewer passes than six. The counts of all passes are taken in
// the one pass that packs the keys; a pass whose digit is the same everywhere is skipped. The heads
// are left as those keys.
void radixSortHeads(NameSpan* spans, std::size_t n, std::uint64_t differ, SortRoom& room) {
    int shifts[8];
    std::uint64_t masks[8];
    int widths[8];
    int fields = 0;
    int bits = 0;
    for (int shift = 56; shift >= 0; shift -= 8) {
        const unsigned byte = unsigned(differ >> shift) & 0xFF;
        if (byte != 0) {
            const int width = std::bit_width(byte);
            shifts[fields] = shift;
            widths[fields] = width;
            masks[fields] = (std::uint64_t(1) << width) - 1;
            ++fields;
            bits += width;
        }
    }
    // Wider digits mean fewer passes but more counts to add up and more places to write to at once:
    // twelve bits once there are as many names as counts a pass, eight below.
    const int widest = n >= 4096 ? 12 : 8;
    const int passes = (bits + widest - 1) / widest;
    const int digitBits = (bits + passes - 1) / passes;
    const std::size_t buckets = std::size_t(1) << digitBits;
    const std::uint64_t digitMask = buckets - 1;
    room.counts.assign(std::size_t(passes) * buckets, 0);
    std::uint32_t* counts = room.counts.data();
    // The counting for a known number of passes, its loop unrolled.
    auto packAndCount = [&]<int knownPasses>() {
        const int passCount = knownPasses > 0 ? knownPasses : passes;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t head = spans[i].head;
            std::uint64_t key = 0;
            for (int f = 0; f < fields; ++f) {
                key = (key << widths[f]) | ((head >> shifts[f]) & masks[f]);
            }
            spans[i].head = key;
            for (int pass = 0; pass < passCount; ++pass) {
                ++counts[std::size_t(pass) * buckets + ((key >> (pass * digitBits)) & digitMask)];
            }
        }
    };
    switch (passes) {
    case 1:
        packAndCount.template operator()<1>();
        break;
    case 2:
        packAndCount.template operator()<2>();
        break;
    case 3:
        packAndCount.template operator()<3>();
        break;
    default:
        packAndCount.template operator()<0>();
        break;
    }
    NameSpan* from = spans;
    NameSpan* to = room.scratch;
    for (int pass = 0; pass < passes; ++pass) {
        std::uint32_t* start = counts + std::size_t(pass) * buckets;
        const int shift = pass * digitBits;
        if (start[(from[0].head >> shift) & digitMask] == n) {
            continue; // every name has the same digit here
        }
        std::uint32_t at = 0;
        for (std::size_t b = 0; b < buckets; ++b) {
            const std::uint32_t count = start[b];
            start[b] = at;
            at += count;
        }
        for (std::size_t i = 0; i < n; ++i) {
            to[start[(from[i].head >> shift) & digitMask]++] = from[i];
        }
        std::swap(from, to);
    }
    if (from != spans) {
        std::copy(from, from + n, spans);
    }
}

// Sorts spans whose names agree before depth: their heads (eight bytes from depth) are made, or
// were with the bits in which they differ from the first one's given; the spans are put in the
// order of their heads, then each run of names with equal heads in turn from eight bytes further
// on. Names that share a long beginning thus cost a pass over their heads per eight shared bytes,
// never a comparison of the shared bytes; a comparison sort is left for small runs.
template <typename Unit>
void sortFrom(const Unit* base, NameSpan* spans, std::size_t n, std::size_t depth, SortRoom& room,
              const std::uint64_t* headsMade = nullptr) {
    for (;;) {
        if (n < 2) {
            return;
        }
        std::uint64_t differ = 0;
        if (headsMade != nullptr) {
            differ = *headsMade;
            headsMade = nullptr;
        } else {
            const std::uint64_t first = orderHead(base + spans[0].offset, spans[0].length, depth);
            spans[0].head = first;
            for (std::size_t i = 1; i < n; ++i) {
                const std::uint64_t head = orderHead(base + spans[i].offset, spans[i].length, depth);
                spans[i].head = head;
                differ |= head ^ first;
            }
        }
        if (n < 48) {
            std::sort(spans, spans + n, [base, depth](const NameSpan& a, const NameSpan& b) {
                return a.head != b.head ? a.head < b.head : nameLessFrom(base, a, b, depth + 8);
            });
            return;
        }
        if (differ == 0) {
            // The same eight bytes everywhere. Names that end within them are equal but for the
            // case of their letters; the others go on eight bytes further.
            if (spans[0].length <= depth + 8) {
                std::sort(spans, spans + n, [base](const NameSpan& a, const NameSpan& b) {
                    return compareExactly(base + a.offset, base + b.offset, a.length) < 0;
                });
                return;
            }
            depth += 8;
            continue;
        }
        radixSortHeads(spans, n, differ, room);
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
                        return compareExactly(base + a.offset, base + b.offset, a.length) < 0;
                    });
                } else {
                    sortFrom(base, run, count, depth + 8, room);
                }
            }
            i = j;
        }
        return;
    }
}

// How many of the first limit bytes of two names are the same, eight at a time.
std::size_t sharedPrefix(const char* a, const char* b, std::size_t limit) {
    // The first byte that differs in two words read from memory: their lowest that differs.
    auto firstDiffering = [](std::uint64_t x, std::uint64_t y) {
        return std::size_t(std::countr_zero(x ^ y) / 8);
    };
    std::size_t i = 0;
    while (i + 8 <= limit) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y) {
            return i + firstDiffering(x, y);
        }
        i += 8;
    }
    if (i < limit && limit >= 8) {
        // The last eight bytes, overlapping those found the same.
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a + limit - 8, 8);
        std::memcpy(&y, b + limit - 8, 8);
        return x == y ? limit : limit - 8 + firstDiffering(x, y);
    }
    while (i < limit && a[i] == b[i]) {
        ++i;
    }
    return i;
}

bool isAscii(const char* text, std::size_t length) {
    std::uint64_t all = 0;
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text + i, 8);
        all |= word;
    }
    for (; i < length; ++i) {
        all |= static_cast<unsigned char>(text[i]);
    }
    return (all & 0x8080808080808080ULL) == 0;
}

// The block of memory the names are gathered in and that then holds their texts, for the strings
// of the listing to share: one allocation for the whole listing instead of one a name (and no
// second buffer), and one release when the last string goes. A name's text stands at the index of
// its first byte, as many units as it has bytes at most (a UTF-8 byte gives at most one UTF-16
// unit, and the name's terminating zero makes room for the text's). Plain-ASCII names, the usual
// case, are widened as they are gathered, a unit a byte; from the first name that is not, the
// block holds the bytes (those gathered so far narrowed again) and the texts are decoded at the
// end.
class NameBlock {
public:
    explicit NameBlock(std::size_t units) { resize(units); }
    NameBlock(const NameBlock&) = delete;
    NameBlock& operator=(const NameBlock&) = delete;
    ~NameBlock() {
        if (header_ != nullptr) {
            QTypedArrayData<char16_t>::deallocate(header_);
        }
    }

    unsigned char* bytes() const { return reinterpret_cast<unsigned char*>(units_); }
    char16_t* units() const { return units_; }
    std::size_t capacity() const { return capacity_; } // in units

    // Makes room for exactly this many units, keeping what the block holds up to there.
    void resize(std::size_t units) {
        const auto [header, data] = header_ == nullptr
                                        ? QTypedArrayData<char16_t>::allocate(qsizetype(units))
                                        : QTypedArrayData<char16_t>::reallocateUnaligned(
                                              header_, units_, qsizetype(units), QArrayData::KeepSize);
        if (header == nullptr) {
            throw std::bad_alloc(); // the block held so far is still there, and released
        }
        header_ = header;
        units_ = data;
        capacity_ = units;
        adviseLargePages();
    }

    // The first count units, each holding a byte, made into those bytes in the block's first count
    // bytes, front to back: a stretch's bytes lie at or before its units, over units already read.
    void narrow(std::size_t count) {
        unsigned char* bytes = this->bytes();
        std::size_t i = 0;
        for (; i + 16 <= count; i += 16) {
            char16_t in[16];
            unsigned char out[16];
            std::memcpy(in, units_ + i, sizeof in);
            for (int k = 0; k < 16; ++k) {
                out[k] = static_cast<unsigned char>(in[k]);
            }
            std::memcpy(bytes + i, out, sizeof out);
        }
        for (; i < count; ++i) {
            bytes[i] = static_cast<unsigned char>(units_[i]);
        }
    }

    // Hands the block over to the strings that refer to it, one reference each.
    QTypedArrayData<char16_t>* release(int references) {
        header_->ref_.storeRelaxed(references);
        return std::exchange(header_, nullptr);
    }

private:
    // A block of a listing of some half a million names or more is backed by large pages where the
    // system makes them on request: the faults of its small pages, each a trap into the kernel,
    // were a tenth of such a listing (the zeroing is the same either way). Blocks that big are
    // mapped on their own by the allocator, so the request concerns this block only.
    void adviseLargePages() {
#ifdef MADV_HUGEPAGE
        constexpr std::uintptr_t large = std::uintptr_t(2) << 20;
        const std::size_t bytes = capacity_ * sizeof(char16_t);
        if (bytes < (std::size_t(32) << 20)) {
            return;
        }
        const auto start = reinterpret_cast<std::uintptr_t>(units_);
        const std::uintptr_t from = (start + large - 1) & ~(large - 1);
        const std::uintptr_t to = (start + bytes) & ~(large - 1);
        if (to > from) {
            madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE); // only a request
        }
#endif
    }

    QTypedArrayData<char16_t>* header_ = nullptr;
    char16_t* units_ = nullptr;
    std::size_t capacity_ = 0;
};

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

    // The directory's own size is about that of its names, so the block and the spans are made
    // big enough at once rather than grown and copied; room not written to costs no memory. The
    // block keeps that size: cut to its names', it would be freed smaller than the next listing's
    // block is made, and the allocator, which keeps freed blocks below some tens of megabytes for
    // reuse only up to the biggest it has released, would map fresh memory for each listing.
    struct stat directoryInfo;
    const std::size_t hint =
        fstat(dirFd, &directoryInfo) == 0 && directoryInfo.st_size > 0
            ? std::min<std::size_t>(std::size_t(directoryInfo.st_size), std::size_t(1) << 26)
            : 16384;
    NameBlock block(hint);
    std::size_t used = 0; // units (or bytes) of the block taken
    bool allAscii = true; // and so the block holds units
    std::vector<NameSpan> spans;
    spans.reserve(hint / 32);
    // How many first bytes every table name so far shares with the first one: the order is
    // decided after them, so the sort starts there. The names' heads from there are made while
    // their bytes are at hand, with the bits in which they differ from the first name's; should a
    // later name share less (after the first few names, seldom), they are made again for all.
    std::string first;
    std::size_t shared = 0;
    std::uint64_t differ = 0;
    bool headsMade = true;
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
        if (!regular) {
            continue;
        }
        // Offsets are 32 bits: four gigabytes of names, some hundred million tables.
        if (used + length + 1 > UINT32_MAX) {
            throw EngineError((which + QStringLiteral(" holds too many tables to list")).toStdString());
        }
        if (used + length + 1 > block.capacity()) {
            block.resize(std::max(block.capacity() * 2, used + length + 1));
        }
        // With its terminating zero, the text's when widened. A name widened that turns out not to be
        // plain ASCII is narrowed again with the others.
        if (allAscii) {
            char16_t* units = block.units() + used;
            unsigned all = 0;
            for (std::size_t i = 0; i <= length; ++i) {
                const auto byte = static_cast<unsigned char>(name[i]);
                units[i] = byte;
                all |= byte;
            }
            if (all >= 0x80) {
                block.narrow(used + length + 1);
                allAscii = false;
            }
        } else {
            std::memcpy(block.bytes() + used, name, length + 1);
        }
        if (spans.empty()) {
            first.assign(name, length);
            shared = length;
        } else {
            const std::size_t before = shared;
            shared = sharedPrefix(first.data(), name, std::min(shared, length));
            if (shared != before && headsMade) {
                if (spans.size() <= 64) {
                    differ = 0;
                    for (NameSpan& span : spans) {
                        span.head = allAscii ? orderHead(block.units() + span.offset, span.length, shared)
                                             : orderHead(block.bytes() + span.offset, span.length, shared);
                        differ |= span.head ^ spans[0].head;
                    }
                } else {
                    headsMade = false;
                }
            }
        }
        std::uint64_t head = 0;
        if (headsMade) {
            head = orderHead(reinterpret_cast<const unsigned char*>(name), length, shared);
            differ |= spans.empty() ? 0 : head ^ spans[0].head;
        }
        spans.push_back({std::uint32_t(used), std::uint32_t(length), head});
        used += length + 1;
    }
    const std::size_t count = spans.size();
    if (count == 0) {
        return {};
    }

    // The strings' list, made at once; until they are made, its room is where the sort copies the
    // spans between passes (a string takes more room than a span).
    static_assert(sizeof(QString) >= sizeof(NameSpan) && alignof(QString) >= alignof(NameSpan));
    QArrayDataPointer<QString> list(QTypedArrayData<QString>::allocate(qsizetype(count)));
    if (list.data() == nullptr) {
        throw std::bad_alloc();
    }
    SortRoom room{reinterpret_cast<NameSpan*>(list.data()), {}};
    const std::uint64_t* differMade = headsMade ? &differ : nullptr;
    if (allAscii) {
        sortFrom(static_cast<const char16_t*>(block.units()), spans.data(), count, shared, room, differMade);
    } else {
        sortFrom(static_cast<const unsigned char*>(block.bytes()), spans.data(), count, shared, room,
                 differMade);
        // Each name decoded in turn from a copy of the bytes, since a text may take the place of
        // other names' bytes. Names are UTF-8 to Qt on this platform (QFile::decodeName does the
        // same).
        const std::string bytes(reinterpret_cast<const char*>(block.bytes()), used);
        char16_t* units = block.units();
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        for (NameSpan& span : spans) {
            const char* name = bytes.data() + span.offset;
            char16_t* text = units + span.offset;
            if (isAscii(name, span.length)) {
                for (std::size_t i = 0; i < span.length; ++i) {
                    text[i] = char16_t(static_cast<unsigned char>(name[i]));
                }
            } else {
                span.length = std::uint32_t(
                    reinterpret_cast<char16_t*>(utf8.appendToBuffer(
                        reinterpret_cast<QChar*>(text), QByteArrayView(name, qsizetype(span.length)))) -
                    text);
            }
            text[span.length] = 0;
        }
    }
    // Each string holds a reference to the block, so changing one copies it first, as changing any
    // shared string does; a string left alone with the block may grow into the room after it,
    // which no other string uses any more.
    char16_t* units = block.units();
    QTypedArrayData<char16_t>* header = block.release(int(count));
    QString* strings = list.data();
    for (const NameSpan& span : spans) {
        new (strings + list.size)
            QString(QStringPrivate(header, units + span.offset, qsizetype(span.length)));
        ++list.size;
    }
    return QStringList(std::move(list));
}

} // namespace lw
