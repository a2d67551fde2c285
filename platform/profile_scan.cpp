// The profile store's fast search: the first and last byte of a name compared at 32 (or 16)
// positions at once, so that a file of many small sections is crossed at memory speed.
#include "platform/profile_scan.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LW_SCAN_X86 1
#endif

namespace lw {

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// How a byte is compared: (byte | fold) == want; fold is 0x20 for letters (either case), else 0.
struct Probe {
    unsigned char want;
    unsigned char fold;
    explicit Probe(char c)
        : want(isLetter(c) ? (static_cast<unsigned char>(c) | 0x20) : static_cast<unsigned char>(c)),
          fold(isLetter(c) ? 0x20 : 0) {}
    bool hits(char c) const { return (static_cast<unsigned char>(c) | fold) == want; }
};

qsizetype scanPlain(const char* d, qsizetype from, qsizetype last, qsizetype gap, Probe first, Probe final) {
    for (qsizetype i = from; i < last; ++i) {
        if (first.hits(d[i]) && final.hits(d[i + gap]))
            return i;
    }
    return -1;
}

#ifdef LW_SCAN_X86

// Positions i in [from, last) are candidates; d[i + gap] must exist for each.
__attribute__((target("avx2"))) qsizetype scanAvx2(const char* d, qsizetype from, qsizetype last, qsizetype gap,
                                                   Probe first, Probe final) {
    const __m256i fw = _mm256_set1_epi8(char(first.want)), ff = _mm256_set1_epi8(char(first.fold));
    const __m256i lw = _mm256_set1_epi8(char(final.want)), lf = _mm256_set1_epi8(char(final.fold));
    qsizetype i = from;
    for (; last - i >= 64; i += 64) {
        const char* p = d + i;
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + gap));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + gap + 32));
        const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a0, ff), fw),
                                            _mm256_cmpeq_epi8(_mm256_or_si256(b0, lf), lw));
        const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a1, ff), fw),
                                            _mm256_cmpeq_epi8(_mm256_or_si256(b1, lf), lw));
        if (_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1)))
            continue;
        const quint64 bits = quint64(quint32(_mm256_movemask_epi8(m0))) |
                             (quint64(quint32(_mm256_movemask_epi8(m1))) << 32);
        return i + __builtin_ctzll(bits);
    }
    return scanPlain(d, i, last, gap, first, final);
}

qsizetype scanSse2(const char* d, qsizetype from, qsizetype last, qsizetype gap, Probe first, Probe final) {
    const __m128i fw = _mm_set1_epi8(char(first.want)), ff = _mm_set1_epi8(char(first.fold));
    const __m128i lw = _mm_set1_epi8(char(final.want)), lf = _mm_set1_epi8(char(final.fold));
    qsizetype i = from;
    for (; last - i >= 16; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + gap));
        const int bits = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, ff), fw),
                                                         _mm_cmpeq_epi8(_mm_or_si128(b, lf), lw)));
        if (bits)
            return i + __builtin_ctz(unsigned(bits));
    }
    return scanPlain(d, i, last, gap, first, final);
}

bool hasAvx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

#endif

} // namespace

qsizetype findNameCandidate(const char* data, qsizetype end, qsizetype from, const char* name, qsizetype size) {
    if (size <= 0 || from < 0)
        return -1;
    const qsizetype last = end - size + 1; // one past the last possible start
    if (from >= last)
        return -1;
    const Probe first(name[0]), final(name[size - 1]);
#ifdef LW_SCAN_X86
    return hasAvx2() ? scanAvx2(data, from, last, size - 1, first, final)
                  : scanSse2(data, from, last, size - 1, first, final);
#else
    return scanPlain(data, from, last, size - 1, first, final);
#endif
}

} // namespace lw
