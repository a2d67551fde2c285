// The profile store's fast search: two bytes of a name compared at 32 or 64 positions at once, then
// the whole name where both agree, so that a file of many small sections is crossed at memory speed.
#include "platform/profile_scan.h"

#include <bit>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LW_SCAN_X86 1
#endif

namespace lw {

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

// How one byte of the name is compared: (byte | fold) == want; fold is 0x20 for letters (either
// case), else 0.
struct Probe {
    qsizetype offset = 0;
    unsigned char want = 0;
    unsigned char fold = 0;
    Probe(const char* name, qsizetype at)
        : offset(at), want(isLetter(name[at]) ? (static_cast<unsigned char>(name[at]) | 0x20)
                                              : static_cast<unsigned char>(name[at])),
          fold(isLetter(name[at]) ? 0x20 : 0) {}
    bool hits(const char* p) const { return (static_cast<unsigned char>(p[offset]) | fold) == want; }
};

struct Needle {
    const char* name;
    qsizetype size;
    Probe a;
    Probe b;
    bool matchesAt(const char* p) const {
        for (qsizetype i = 0; i < size; ++i) {
            if (p[i] != name[i] && lower(p[i]) != lower(name[i]))
                return false;
        }
        return true;
    }
};

// The two bytes compared first: the last one, and the first byte that is no letter (digits and
// signs need no case folding and tell names like "Section12" and "Section13" apart sooner), else
// the first.
Needle needleFor(const char* name, qsizetype size) {
    qsizetype first = 0;
    for (qsizetype i = 0; i + 1 < size; ++i) {
        if (!isLetter(name[i])) {
            first = i;
            break;
        }
    }
    return Needle{name, size, Probe(name, first), Probe(name, size - 1)};
}

// Positions i in [from, last) are candidates: the name fits before the end at each.
qsizetype scanPlain(const char* d, qsizetype from, qsizetype last, const Needle& n) {
    for (qsizetype i = from; i < last; ++i) {
        if (n.a.hits(d + i) && n.b.hits(d + i) && n.matchesAt(d + i))
            return i;
    }
    return -1;
}

#ifdef LW_SCAN_X86

// The first candidate of a vector step whose whole name matches: bits holds one bit a byte from i
// where both probes hit. -1 when none does.
template <typename Bits>
inline __attribute__((always_inline)) qsizetype firstMatch(const char* d, qsizetype i, Bits bits,
                                                           const Needle& n) {
    while (bits) {
        const qsizetype at = i + std::countr_zero(bits);
        if (n.matchesAt(d + at))
            return at;
        bits &= bits - 1;
    }
    return -1;
}

__attribute__((target("avx512bw"))) qsizetype scanAvx512(const char* d, qsizetype from, qsizetype last,
                                                         const Needle& n) {
    const __m512i aw = _mm512_set1_epi8(char(n.a.want)), af = _mm512_set1_epi8(char(n.a.fold));
    const __m512i bw = _mm512_set1_epi8(char(n.b.want)), bf = _mm512_set1_epi8(char(n.b.fold));
    qsizetype i = from;
    for (; last - i >= 64; i += 64) {
        const __m512i x = _mm512_or_si512(_mm512_loadu_si512(d + i + n.a.offset), af);
        const __m512i y = _mm512_or_si512(_mm512_loadu_si512(d + i + n.b.offset), bf);
        quint64 bits = _mm512_mask_cmpeq_epi8_mask(_mm512_cmpeq_epi8_mask(x, aw), y, bw);
        if (const qsizetype at = firstMatch(d, i, bits, n); at >= 0)
            return at;
    }
    return scanPlain(d, i, last, n);
}

__attribute__((target("avx2"))) qsizetype scanAvx2(const char* d, qsizetype from, qsizetype last,
                                                   const Needle& n) {
    const __m256i aw = _mm256_set1_epi8(char(n.a.want)), af = _mm256_set1_epi8(char(n.a.fold));
    const __m256i bw = _mm256_set1_epi8(char(n.b.want)), bf = _mm256_set1_epi8(char(n.b.fold));
    qsizetype i = from;
    for (; last - i >= 32; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + n.a.offset));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + n.b.offset));
        unsigned bits = unsigned(_mm256_movemask_epi8(_mm256_and_si256(
            _mm256_cmpeq_epi8(_mm256_or_si256(x, af), aw), _mm256_cmpeq_epi8(_mm256_or_si256(y, bf), bw))));
        if (const qsizetype at = firstMatch(d, i, bits, n); at >= 0)
            return at;
    }
    return scanPlain(d, i, last, n);
}

qsizetype scanSse2(const char* d, qsizetype from, qsizetype last, const Needle& n) {
    const __m128i aw = _mm_set1_epi8(char(n.a.want)), af = _mm_set1_epi8(char(n.a.fold));
    const __m128i bw = _mm_set1_epi8(char(n.b.want)), bf = _mm_set1_epi8(char(n.b.fold));
    qsizetype i = from;
    for (; last - i >= 16; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + n.a.offset));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + n.b.offset));
        unsigned bits = unsigned(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(x, af), aw), _mm_cmpeq_epi8(_mm_or_si128(y, bf), bw))));
        if (const qsizetype at = firstMatch(d, i, bits, n); at >= 0)
            return at;
    }
    return scanPlain(d, i, last, n);
}

enum class Level { Sse2, Avx2, Avx512 };

Level level() {
    static const Level found = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512bw"))
            return Level::Avx512;
        return __builtin_cpu_supports("avx2") ? Level::Avx2 : Level::Sse2;
    }();
    return found;
}

#endif

} // namespace

qsizetype findNameCandidate(const char* data, qsizetype end, qsizetype from, const char* name,
                            qsizetype size) {
    if (size <= 0 || from < 0)
        return -1;
    const qsizetype last = end - size + 1; // one past the last possible start
    if (from >= last)
        return -1;
    const Needle needle = needleFor(name, size);
#ifdef LW_SCAN_X86
    switch (level()) {
    case Level::Avx512:
        // The wide registers pay off over long stretches only: the processor brings up their
        // units first, and a short search is over before that has paid for itself.
        if (last - from >= 4096)
            return scanAvx512(data, from, last, needle);
        return scanAvx2(data, from, last, needle);
    case Level::Avx2:
        return scanAvx2(data, from, last, needle);
    case Level::Sse2:
        break;
    }
    return scanSse2(data, from, last, needle);
#else
    return scanPlain(data, from, last, needle);
#endif
}

} // namespace lw
