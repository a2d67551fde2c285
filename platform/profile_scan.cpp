// The profile store's fast search: two bytes of a name compared at 32 or 64 positions at once, then
// the whole name where both agree, so that a file of many small sections is crossed at memory speed.
#include "platform/profile_scan.h"

#include <bit>
#include <type_traits>

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

// The positions of a byte, for findBytes: take() writes those of one step (bits from base, each
// bit one byte) and says when the output is full.
struct ByteHits {
    qsizetype* out;
    qsizetype max;
    qsizetype count = 0;
    qsizetype* next;
    bool take(qsizetype base, quint64 bits) {
        while (bits) {
            out[count++] = base + std::countr_zero(bits);
            if (count == max) {
                *next = out[count - 1] + 1;
                return true;
            }
            bits &= bits - 1;
        }
        return false;
    }
};

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

// The 64 positions from i as one vector: a zero byte where both probes hit, else not zero. A
// probe's bytes are or-ed with its fold and compared by exclusive or, in one three-way logic
// operation; where a probe needs no fold (digits and signs, the usual probes) the second probe's
// comparison and the joining of both are that one operation. Fold is a template parameter so that
// this is chosen once. The first probe's load is aligned in the main loop (Aligned), which spares
// the processor one load that crosses two cache lines a step.
template <bool FoldA, bool FoldB, bool Aligned>
__attribute__((target("avx512bw"), always_inline)) inline __m512i
misses512(const char* pa, const char* pb, qsizetype i, __m512i aw, __m512i af, __m512i bw, __m512i bf) {
    const __m512i la = Aligned ? _mm512_load_si512(pa + i) : _mm512_loadu_si512(pa + i);
    const __m512i lb = _mm512_loadu_si512(pb + i);
    // (la | af) ^ aw, and x | ((lb | bf) ^ bw) or x | (lb ^ bw).
    const __m512i x = FoldA ? _mm512_ternarylogic_epi32(la, af, aw, 0x56) : _mm512_xor_si512(la, aw);
    return FoldB ? _mm512_or_si512(x, _mm512_ternarylogic_epi32(lb, bf, bw, 0x56))
                 : _mm512_ternarylogic_epi32(x, lb, bw, 0xF6);
}

// Where a vector of misses512 holds zero bytes, one bit a position.
__attribute__((target("avx512bw"), always_inline)) inline quint64 zeros512(__m512i z) {
    return quint64(_mm512_testn_epi8_mask(z, z));
}

// One probe's bytes, as compared: or-ed with its fold where the probe is a letter.
template <bool Fold>
__attribute__((target("avx2"), always_inline)) inline __m256i folded256(__m256i x, __m256i fold) {
    return Fold ? _mm256_or_si256(x, fold) : x;
}

// Where both probes hit in the 32 positions from i, one bit a position.
template <bool FoldA, bool FoldB>
__attribute__((target("avx2"), always_inline)) inline unsigned
hits256(const char* pa, const char* pb, qsizetype i, __m256i aw, __m256i af, __m256i bw, __m256i bf) {
    const __m256i x = folded256<FoldA>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pa + i)), af);
    const __m256i y = folded256<FoldB>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pb + i)), bf);
    return unsigned(
        _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(x, aw), _mm256_cmpeq_epi8(y, bw))));
}

template <bool FoldA, bool FoldB>
__attribute__((target("avx2"))) qsizetype scanAvx2(const char* d, qsizetype from, qsizetype last,
                                                   const Needle& n) {
    const __m256i aw = _mm256_set1_epi8(char(n.a.want)), af = _mm256_set1_epi8(char(n.a.fold));
    const __m256i bw = _mm256_set1_epi8(char(n.b.want)), bf = _mm256_set1_epi8(char(n.b.fold));
    const char* pa = d + n.a.offset;
    const char* pb = d + n.b.offset;
    qsizetype i = from;
    // Two steps a round with one branch for both: hits are rare.
    for (; last - i >= 64; i += 64) {
        const unsigned m0 = hits256<FoldA, FoldB>(pa, pb, i, aw, af, bw, bf);
        const unsigned m1 = hits256<FoldA, FoldB>(pa, pb, i + 32, aw, af, bw, bf);
        if ((m0 | m1) == 0)
            continue;
        if (const qsizetype at = firstMatch(d, i, quint64(m0) | (quint64(m1) << 32), n); at >= 0)
            return at;
    }
    for (; last - i >= 32; i += 32) {
        if (const qsizetype at = firstMatch(d, i, hits256<FoldA, FoldB>(pa, pb, i, aw, af, bw, bf), n);
            at >= 0)
            return at;
    }
    return scanPlain(d, i, last, n);
}

// For stretches of some kilobytes at least (the caller's choice), so that the first unaligned
// step and the AVX2 tail are a small part.
template <bool FoldA, bool FoldB>
__attribute__((target("avx512bw"))) qsizetype scanAvx512(const char* d, qsizetype from, qsizetype last,
                                                         const Needle& n) {
    const __m512i aw = _mm512_set1_epi8(char(n.a.want)), af = _mm512_set1_epi8(char(n.a.fold));
    const __m512i bw = _mm512_set1_epi8(char(n.b.want)), bf = _mm512_set1_epi8(char(n.b.fold));
    const char* pa = d + n.a.offset;
    const char* pb = d + n.b.offset;
    qsizetype i = from;
    // One unaligned step, then on from where the first probe's loads are aligned (the positions
    // in between are looked at twice, which changes nothing: the first match is still the first).
    if (const qsizetype at = firstMatch(d, i, zeros512(misses512<FoldA, FoldB, false>(pa, pb, i, aw, af, bw, bf)), n);
        at >= 0)
        return at;
    i += 64 - qsizetype(reinterpret_cast<quintptr>(pa + i) & 63);
    // Four steps a round with one branch for all of them (the smallest byte of the four tells
    // whether any has a zero byte): hits are rare, and the loop's own bookkeeping would otherwise
    // bound the speed more than the comparisons.
    for (; last - i >= 256; i += 256) {
        const __m512i z0 = misses512<FoldA, FoldB, true>(pa, pb, i, aw, af, bw, bf);
        const __m512i z1 = misses512<FoldA, FoldB, true>(pa, pb, i + 64, aw, af, bw, bf);
        const __m512i z2 = misses512<FoldA, FoldB, true>(pa, pb, i + 128, aw, af, bw, bf);
        const __m512i z3 = misses512<FoldA, FoldB, true>(pa, pb, i + 192, aw, af, bw, bf);
        const __m512i least = _mm512_min_epu8(_mm512_min_epu8(z0, z1), _mm512_min_epu8(z2, z3));
        if (zeros512(least) == 0)
            continue;
        // Each step's hits only where the steps before it had no match (or none at all).
        if (const qsizetype at = firstMatch(d, i, zeros512(z0), n); at >= 0)
            return at;
        if (const qsizetype at = firstMatch(d, i + 64, zeros512(z1), n); at >= 0)
            return at;
        if (const qsizetype at = firstMatch(d, i + 128, zeros512(z2), n); at >= 0)
            return at;
        if (const qsizetype at = firstMatch(d, i + 192, zeros512(z3), n); at >= 0)
            return at;
    }
    return scanAvx2<FoldA, FoldB>(d, i, last, n);
}

// scan(fa, fb) instantiated for the probes' folds, given as std::bool_constant.
template <typename Scan> qsizetype withFolds(const Needle& n, Scan&& scan) {
    using Yes = std::true_type;
    using No = std::false_type;
    if (n.a.fold)
        return n.b.fold ? scan(Yes{}, Yes{}) : scan(Yes{}, No{});
    return n.b.fold ? scan(No{}, Yes{}) : scan(No{}, No{});
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

// Where the 32 bytes at p are the byte in want, one bit a byte.
__attribute__((target("avx2"), always_inline)) inline unsigned byteBits256(const char* p, __m256i want) {
    return unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), want)));
}

// 32 bytes a step, four steps a round with one branch for all of them: the byte looked for is rare
// next to the others. The first step is unaligned and reports only the positions before the first
// aligned one.
__attribute__((target("avx2"))) qsizetype bytesAvx2(const char* d, qsizetype from, qsizetype end, char c,
                                                    ByteHits& hits) {
    const __m256i want = _mm256_set1_epi8(c);
    qsizetype i = from;
    if (end - i >= 32) {
        const qsizetype aligned = i + 32 - qsizetype(reinterpret_cast<quintptr>(d + i) & 31);
        const unsigned keep = aligned - i == 32 ? ~0u : (1u << (aligned - i)) - 1;
        if (hits.take(i, byteBits256(d + i, want) & keep))
            return hits.count;
        i = aligned;
    }
    for (; end - i >= 128; i += 128) {
        const __m256i e0 = _mm256_cmpeq_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(d + i)), want);
        const __m256i e1 = _mm256_cmpeq_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(d + i + 32)), want);
        const __m256i e2 = _mm256_cmpeq_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(d + i + 64)), want);
        const __m256i e3 = _mm256_cmpeq_epi8(_mm256_load_si256(reinterpret_cast<const __m256i*>(d + i + 96)), want);
        const __m256i any = _mm256_or_si256(_mm256_or_si256(e0, e1), _mm256_or_si256(e2, e3));
        if (_mm256_testz_si256(any, any))
            continue;
        const quint64 low = quint64(unsigned(_mm256_movemask_epi8(e0))) | (quint64(unsigned(_mm256_movemask_epi8(e1))) << 32);
        const quint64 high = quint64(unsigned(_mm256_movemask_epi8(e2))) | (quint64(unsigned(_mm256_movemask_epi8(e3))) << 32);
        if (hits.take(i, low) || hits.take(i + 64, high))
            return hits.count;
    }
    for (; end - i >= 32; i += 32) {
        if (hits.take(i, byteBits256(d + i, want)))
            return hits.count;
    }
    for (; i < end; ++i) {
        if (d[i] == c && hits.take(i, 1))
            return hits.count;
    }
    *hits.next = end;
    return hits.count;
}

qsizetype bytesSse2(const char* d, qsizetype from, qsizetype end, char c, ByteHits& hits) {
    const __m128i want = _mm_set1_epi8(c);
    qsizetype i = from;
    for (; end - i >= 16; i += 16) {
        const unsigned bits = unsigned(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i)), want)));
        if (hits.take(i, bits))
            return hits.count;
    }
    for (; i < end; ++i) {
        if (d[i] == c && hits.take(i, 1))
            return hits.count;
    }
    *hits.next = end;
    return hits.count;
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

qsizetype findBytes(const char* data, qsizetype from, qsizetype end, char c, qsizetype* out, qsizetype max,
                    qsizetype* next) {
    *next = end;
    if (from < 0 || from >= end || max <= 0)
        return 0;
    ByteHits hits{out, max, 0, next};
#ifdef LW_SCAN_X86
    if (level() != Level::Sse2)
        return bytesAvx2(data, from, end, c, hits);
    return bytesSse2(data, from, end, c, hits);
#else
    for (qsizetype i = from; i < end; ++i) {
        if (data[i] == c && hits.take(i, 1))
            return hits.count;
    }
    return hits.count;
#endif
}

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
        if (last - from >= 4096) {
            return withFolds(needle, [&](auto fa, auto fb) {
                return scanAvx512<decltype(fa)::value, decltype(fb)::value>(data, from, last, needle);
            });
        }
        [[fallthrough]];
    case Level::Avx2:
        return withFolds(needle, [&](auto fa, auto fb) {
            return scanAvx2<decltype(fa)::value, decltype(fb)::value>(data, from, last, needle);
        });
    case Level::Sse2:
        break;
    }
    return scanSse2(data, from, last, needle);
#else
    return scanPlain(data, from, last, needle);
#endif
}

} // namespace lw
