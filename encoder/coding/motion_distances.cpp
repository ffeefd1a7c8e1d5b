// Block distances of the motion search. The search calls them millions of times per picture, so
// with SSE2 (always present on x86-64) each 16-sample row is one or two vector operations; the
// plain versions define the results and serve other processors.
#include "encoder/coding/motion_distances.h"

#include <cstdlib>

#if defined(__SSE2__) && !defined(VINTREL_PLAIN_DISTANCES)
#include <immintrin.h>
#endif

namespace vintrel {

namespace plain {
namespace {

inline int bidir_predicted(const HalfPel& f, const HalfPel& b, int c, int lx) {
    return (half_pel_sample(f.p, c, lx, f.hx, f.hy) + half_pel_sample(b.p, c, lx, b.hx, b.hy) + 1) >> 1;
}

}  // namespace

int sad_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h, int limit) {
    int sum = 0;
    for (int row = 0; row < h; row++, p += lx, blk += lx) {
        for (int c = 0; c < 16; c++) sum += std::abs(half_pel_sample(p, c, lx, hx, hy) - blk[c]);
        if (!hx && !hy && sum >= limit) break;
    }
    return sum;
}

int sse_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h) {
    int sum = 0;
    for (int row = 0; row < h; row++, p += lx, blk += lx)
        for (int c = 0; c < 16; c++) {
            const int d = half_pel_sample(p, c, lx, hx, hy) - blk[c];
            sum += d * d;
        }
    return sum;
}

int bidir_sad_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    int sum = 0;
    for (int row = 0; row < h; row++, f.p += lx, b.p += lx, blk += lx)
        for (int c = 0; c < 16; c++) sum += std::abs(bidir_predicted(f, b, c, lx) - blk[c]);
    return sum;
}

int bidir_sse_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    int sum = 0;
    for (int row = 0; row < h; row++, f.p += lx, b.p += lx, blk += lx)
        for (int c = 0; c < 16; c++) {
            const int d = bidir_predicted(f, b, c, lx) - blk[c];
            sum += d * d;
        }
    return sum;
}

}  // namespace plain

#if defined(__SSE2__) && !defined(VINTREL_PLAIN_DISTANCES)
namespace {

inline __m128i load(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// The 16 prediction samples of one row. _mm_avg_epu8 is exactly (a + b + 1) >> 1; the
// four-sample average needs 16-bit sums to round as (a + b + c + d + 2) >> 2.
inline __m128i predicted_row(const std::uint8_t* p, int lx, int hx, int hy) {
    if (!hy) return hx ? _mm_avg_epu8(load(p), load(p + 1)) : load(p);
    if (!hx) return _mm_avg_epu8(load(p), load(p + lx));
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = load(p), b = load(p + 1), c = load(p + lx), d = load(p + lx + 1);
    const __m128i two = _mm_set1_epi16(2);
    const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                      _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
    const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                       _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
    return _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(low, two), 2), _mm_srli_epi16(_mm_add_epi16(high, two), 2));
}

// The two 64-bit halves of a _mm_sad_epu8 result added.
inline int sad_total(__m128i sad) { return _mm_cvtsi128_si32(_mm_add_epi32(sad, _mm_srli_si128(sad, 8))); }

// Squared differences of 16 byte pairs, summed into four 32-bit lanes of `sum`.
inline __m128i add_squares(__m128i sum, __m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    return _mm_add_epi32(sum, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
}

inline int lanes_total(__m128i v) {
    v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
    return _mm_cvtsi128_si32(v);
}

}  // namespace

int sad_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h, int limit) {
    if (!hx && !hy) {
        // The full-pel search's hot loop: one instruction per row, then the early exit.
        int sum = 0;
        for (int row = 0; row < h; row++, p += lx, blk += lx) {
            sum += sad_total(_mm_sad_epu8(load(p), load(blk)));
            if (sum >= limit) break;
        }
        return sum;
    }
    __m128i sum = _mm_setzero_si128();
    for (int row = 0; row < h; row++, p += lx, blk += lx)
        sum = _mm_add_epi64(sum, _mm_sad_epu8(predicted_row(p, lx, hx, hy), load(blk)));
    return sad_total(sum);
}

int sse_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h) {
    __m128i sum = _mm_setzero_si128();
    for (int row = 0; row < h; row++, p += lx, blk += lx) sum = add_squares(sum, predicted_row(p, lx, hx, hy), load(blk));
    return lanes_total(sum);
}

int bidir_sad_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    __m128i sum = _mm_setzero_si128();
    for (int row = 0; row < h; row++, f.p += lx, b.p += lx, blk += lx) {
        const __m128i average = _mm_avg_epu8(predicted_row(f.p, lx, f.hx, f.hy), predicted_row(b.p, lx, b.hx, b.hy));
        sum = _mm_add_epi64(sum, _mm_sad_epu8(average, load(blk)));
    }
    return sad_total(sum);
}

int bidir_sse_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    __m128i sum = _mm_setzero_si128();
    for (int row = 0; row < h; row++, f.p += lx, b.p += lx, blk += lx) {
        const __m128i average = _mm_avg_epu8(predicted_row(f.p, lx, f.hx, f.hy), predicted_row(b.p, lx, b.hx, b.hy));
        sum = add_squares(sum, average, load(blk));
    }
    return lanes_total(sum);
}

#else

int sad_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h, int limit) {
    return plain::sad_distance(p, blk, lx, hx, hy, h, limit);
}
int sse_distance(const std::uint8_t* p, const std::uint8_t* blk, int lx, int hx, int hy, int h) {
    return plain::sse_distance(p, blk, lx, hx, hy, h);
}
int bidir_sad_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    return plain::bidir_sad_distance(f, b, blk, lx, h);
}
int bidir_sse_distance(HalfPel f, HalfPel b, const std::uint8_t* blk, int lx, int h) {
    return plain::bidir_sse_distance(f, b, blk, lx, h);
}

#endif

}  // namespace vintrel
