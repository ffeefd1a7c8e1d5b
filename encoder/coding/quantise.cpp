// Forward quantisation of intra blocks (rounded) and non-intra blocks (dead zone).
//
// Each coefficient needs two truncating divisions of a non-negative n: by its weight w (1..255)
// and by 2 * mquant. The vector kernels do both in single precision:
//
//   n / d truncated == trunc(fl(fl(n + 0.5) / d))            (division by the weight)
//   n / d truncated == trunc(fl(fl(n + 0.5) * fl(1 / d)))    (division by 2 * mquant)
//
// for 0 <= n < 2^21 and 1 <= d < 2^16. Why: (n + 0.5) / d lies at least 0.5 / d away from every
// integer. n + 0.5 is exact in a float (below 2^22); the correctly rounded quotient, or fl(1 / d)
// and the rounded product, add a relative error below 2^-23, so the result is off by less than
// 2^-23 * 2^21 / d = 0.25 / d and truncates to the same integer. Nothing is ever subnormal.
// The dividends stay below 2^21: 32 * |x| + w / 2 <= 32 * 32768 + 127, and the first quotient plus
// the rounding term (3 * mquant + 2) >> 2 is smaller still for any mquant up to 112.
#include "encoder/coding/quantise.h"

#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

// Intra DC: rounded half away from zero by the DC step 8 >> intra_dc_precision, not clipped.
std::int16_t quantise_intra_dc(int x, int intra_dc_precision) {
    const int step = 8 >> intra_dc_precision;
    const int level = x >= 0 ? (x + step / 2) / step : -((-x + step / 2) / step);
    return static_cast<std::int16_t>(level);
}

// One coefficient: y = ((32|x| + w/2) / w + rounding) / (2 mquant), clipped, signed like x.
std::int16_t quantise_plain(int x, int w, int mquant, int rounding, int max_level) {
    int y = (32 * std::abs(x) + w / 2) / w;
    y = (y + rounding) / (2 * mquant);
    if (y > max_level) y = max_level;
    return static_cast<std::int16_t>(x >= 0 ? y : -y);
}

// The kernels quantise all 64 coefficients with the AC rule and return non-zero when any level
// is non-zero; intra blocks overwrite the DC level afterwards.
int quantise_block_plain(const std::int16_t* src, std::int16_t* dst, const std::uint8_t* matrix, int mquant,
                         int rounding, int max_level) {
    int any = 0;
    for (int i = 0; i < 64; i++) {
        dst[i] = quantise_plain(src[i], matrix[i], mquant, rounding, max_level);
        any |= dst[i];
    }
    return any != 0;
}

#if defined(__SSE2__)

int quantise_block_sse2(const std::int16_t* src, std::int16_t* dst, const std::uint8_t* matrix, int mquant,
                        int rounding, int max_level) {
    const __m128i zero = _mm_setzero_si128();
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 inverse_step = _mm_set1_ps(1.0f / static_cast<float>(2 * mquant));
    const __m128i rounding_term = _mm_set1_epi32(rounding);
    const __m128i largest = _mm_set1_epi16(static_cast<std::int16_t>(max_level));
    __m128i any = zero;
    for (int i = 0; i < 64; i += 8) {
        const __m128i weight_words =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(matrix + i)), zero);
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i sign = _mm_srai_epi16(x, 15);
        // |x| as an unsigned 16-bit value (32768 included), widened to 32 bits below.
        const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(x, sign), sign);
        __m128i quotient[2];
        for (int q = 0; q < 2; q++) {
            const __m128i a = q == 0 ? _mm_unpacklo_epi16(magnitude, zero) : _mm_unpackhi_epi16(magnitude, zero);
            const __m128i w = q == 0 ? _mm_unpacklo_epi16(weight_words, zero) : _mm_unpackhi_epi16(weight_words, zero);
            const __m128i n1 = _mm_add_epi32(_mm_slli_epi32(a, 5), _mm_srli_epi32(w, 1));
            const __m128i y1 = _mm_cvttps_epi32(_mm_div_ps(_mm_add_ps(_mm_cvtepi32_ps(n1), half), _mm_cvtepi32_ps(w)));
            const __m128i n2 = _mm_add_epi32(y1, rounding_term);
            quotient[q] = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(n2), half), inverse_step));
        }
        // Quotients are below 2^20: the saturating pack then the clip give the clipped value.
        const __m128i y = _mm_min_epi16(_mm_packs_epi32(quotient[0], quotient[1]), largest);
        const __m128i level = _mm_sub_epi16(_mm_xor_si128(y, sign), sign);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), level);
        any = _mm_or_si128(any, level);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, zero)) != 0xffff;
}

// The same with eight 32-bit lanes per step.
__attribute__((target("avx2"))) int quantise_block_avx2(const std::int16_t* src, std::int16_t* dst,
                                                        const std::uint8_t* matrix, int mquant, int rounding,
                                                        int max_level) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 inverse_step = _mm256_set1_ps(1.0f / static_cast<float>(2 * mquant));
    const __m256i rounding_term = _mm256_set1_epi32(rounding);
    const __m128i largest = _mm_set1_epi16(static_cast<std::int16_t>(max_level));
    __m128i any = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m256i weights = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(matrix + i)));
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i sign = _mm_srai_epi16(x, 15);
        const __m256i a = _mm256_cvtepu16_epi32(_mm_sub_epi16(_mm_xor_si128(x, sign), sign));
        const __m256i n1 = _mm256_add_epi32(_mm256_slli_epi32(a, 5), _mm256_srli_epi32(weights, 1));
        const __m256i y1 = _mm256_cvttps_epi32(
            _mm256_div_ps(_mm256_add_ps(_mm256_cvtepi32_ps(n1), half), _mm256_cvtepi32_ps(weights)));
        const __m256i n2 = _mm256_add_epi32(y1, rounding_term);
        const __m256i y2 =
            _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(n2), half), inverse_step));
        const __m128i y =
            _mm_min_epi16(_mm_packs_epi32(_mm256_castsi256_si128(y2), _mm256_extracti128_si256(y2, 1)), largest);
        const __m128i level = _mm_sub_epi16(_mm_xor_si128(y, sign), sign);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), level);
        any = _mm_or_si128(any, level);
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xffff;
}

#endif  // __SSE2__

int quantise_block([[maybe_unused]] SimdLevel simd, const std::int16_t* src, std::int16_t* dst,
                   const std::uint8_t* matrix, int mquant, int rounding, int max_level) {
#if defined(__SSE2__)
    if (simd == SimdLevel::avx2) return quantise_block_avx2(src, dst, matrix, mquant, rounding, max_level);
    if (simd == SimdLevel::sse2) return quantise_block_sse2(src, dst, matrix, mquant, rounding, max_level);
#endif
    return quantise_block_plain(src, dst, matrix, mquant, rounding, max_level);
}

int largest_level(bool mpeg1) { return mpeg1 ? 255 : 2047; }

}  // namespace

int quantise_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                   const std::uint8_t* matrix, int mquant) {
    const std::int16_t dc = quantise_intra_dc(src[0], intra_dc_precision);
    quantise_block(simd, src, dst, matrix, mquant, (3 * mquant + 2) >> 2, largest_level(mpeg1));
    dst[0] = dc;
    return 1;
}

int quantise_non_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst,
                       const std::uint8_t* matrix, int mquant) {
    return quantise_block(simd, src, dst, matrix, mquant, 0, largest_level(mpeg1));
}

}  // namespace vintrel
