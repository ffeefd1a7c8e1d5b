// Inverse quantisation: MPEG-2 reconstruction with mismatch control, MPEG-1 with oddification.
//
// The vector kernels hold w * mquant in 16 bits (w <= 255, mquant <= 128), form the exact 32-bit
// products, divide by 16 or 32 truncating toward zero, and narrow to 16 bits with saturation.
// Saturation cannot change a result: every value is clipped to -2048..2047 afterwards, and the
// MPEG-1 step toward zero keeps a saturated value (32767, -32768) beyond that range.
#include <algorithm>
#include <cstdint>

#include "encoder/coding/quantise.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

enum class Standard { mpeg1, mpeg2 };

std::int16_t intra_dc(int level, int intra_dc_precision) {
    return static_cast<std::int16_t>(level << (3 - intra_dc_precision));
}

// MPEG-1 keeps reconstructed values odd: an even non-zero value moves one step toward zero.
int make_odd(int v) { return (v & 1) == 0 && v != 0 ? v - (v > 0 ? 1 : -1) : v; }

int sign_of(int q) { return (q > 0) - (q < 0); }

// MPEG-2 mismatch control: an even sum of the 64 coefficients toggles the lowest bit of the last.
void control_mismatch(std::int16_t* dst) {
    int sum = 0;
    for (int i = 0; i < 64; i++) sum += dst[i];
    if ((sum & 1) == 0) dst[63] = static_cast<std::int16_t>(dst[63] ^ 1);
}

void dequantise_intra_plain(Standard standard, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                            const std::uint8_t* matrix, int mquant) {
    const std::int16_t dc = intra_dc(src[0], intra_dc_precision);
    for (int i = 1; i < 64; i++) {
        int v = static_cast<int>(std::int64_t{src[i]} * matrix[i] * mquant / 16);
        if (standard == Standard::mpeg1) v = make_odd(v);
        dst[i] = static_cast<std::int16_t>(std::clamp(v, -2048, 2047));
    }
    dst[0] = dc;
    if (standard == Standard::mpeg2) control_mismatch(dst);
}

void dequantise_non_intra_plain(Standard standard, const std::int16_t* src, std::int16_t* dst,
                                const std::uint8_t* matrix, int mquant) {
    for (int i = 0; i < 64; i++) {
        const int q = src[i];
        int v = static_cast<int>((2 * std::int64_t{q} + sign_of(q)) * matrix[i] * mquant / 32);
        if (standard == Standard::mpeg1) v = make_odd(v);
        dst[i] = static_cast<std::int16_t>(std::clamp(v, -2048, 2047));
    }
    if (standard == Standard::mpeg2) control_mismatch(dst);
}

#if defined(__SSE2__)

constexpr int largest_vector_mquant = 128;  // 255 * 128 still fits a signed 16-bit factor

// w * mquant of the eight coefficients from index i.
__m128i scaled_weights(const std::uint8_t* matrix, int i, __m128i mquant) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(matrix + i));
    return _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), mquant);
}

// Exact signed 32-bit products of eight 16-bit pairs: lanes 0..3 into low, 4..7 into high.
void multiply(__m128i a, __m128i b, __m128i& low, __m128i& high) {
    const __m128i low_bits = _mm_mullo_epi16(a, b);
    const __m128i high_bits = _mm_mulhi_epi16(a, b);
    low = _mm_unpacklo_epi16(low_bits, high_bits);
    high = _mm_unpackhi_epi16(low_bits, high_bits);
}

// Division by 2^bits truncating toward zero: negative values get 2^bits - 1 added first.
template <int bits>
__m128i divide_by_power_of_two(__m128i v) {
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(v, 31), _mm_set1_epi32((1 << bits) - 1));
    return _mm_srai_epi32(_mm_add_epi32(v, bias), bits);
}

__m128i make_odd(__m128i v) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    const __m128i even_non_zero =
        _mm_andnot_si128(_mm_cmpeq_epi16(v, zero), _mm_cmpeq_epi16(_mm_and_si128(v, one), zero));
    // -1 for positive values, +1 for negative ones.
    const __m128i toward_zero = _mm_or_si128(_mm_xor_si128(_mm_srai_epi16(v, 15), _mm_set1_epi16(-1)), one);
    return _mm_add_epi16(v, _mm_and_si128(toward_zero, even_non_zero));
}

__m128i clip_coefficients(__m128i v) {
    return _mm_min_epi16(_mm_max_epi16(v, _mm_set1_epi16(-2048)), _mm_set1_epi16(2047));
}

// Lowest bit of the sum of all 16-bit lanes of the eight blocks' parities folded together.
bool sum_is_even(__m128i parity) {
    parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 8));
    parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 4));
    parity = _mm_xor_si128(parity, _mm_srli_si128(parity, 2));
    return (_mm_cvtsi128_si32(parity) & 1) == 0;
}

void dequantise_intra_sse2(Standard standard, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                           const std::uint8_t* matrix, int mquant) {
    const std::int16_t dc = intra_dc(src[0], intra_dc_precision);
    const __m128i scale = _mm_set1_epi16(static_cast<std::int16_t>(mquant));
    __m128i parity = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        __m128i low, high;
        multiply(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)), scaled_weights(matrix, i, scale), low,
                 high);
        __m128i v = _mm_packs_epi32(divide_by_power_of_two<4>(low), divide_by_power_of_two<4>(high));
        if (standard == Standard::mpeg1) v = make_odd(v);
        v = clip_coefficients(v);
        if (i == 0) v = _mm_insert_epi16(v, dc, 0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
        parity = _mm_xor_si128(parity, v);
    }
    if (standard == Standard::mpeg2 && sum_is_even(parity)) dst[63] = static_cast<std::int16_t>(dst[63] ^ 1);
}

void dequantise_non_intra_sse2(Standard standard, const std::int16_t* src, std::int16_t* dst,
                               const std::uint8_t* matrix, int mquant) {
    const __m128i scale = _mm_set1_epi16(static_cast<std::int16_t>(mquant));
    const __m128i zero = _mm_setzero_si128();
    __m128i parity = zero;
    for (int i = 0; i < 64; i += 8) {
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i factor = scaled_weights(matrix, i, scale);
        __m128i low, high;
        multiply(q, factor, low, high);
        // (2q + sign(q)) * factor = 2 * q * factor + sign(q) * factor.
        const __m128i sign = _mm_srai_epi16(q, 15);
        __m128i odd_term = _mm_andnot_si128(_mm_cmpeq_epi16(q, zero), factor);
        odd_term = _mm_sub_epi16(_mm_xor_si128(odd_term, sign), sign);
        low = _mm_add_epi32(_mm_slli_epi32(low, 1), _mm_srai_epi32(_mm_unpacklo_epi16(odd_term, odd_term), 16));
        high = _mm_add_epi32(_mm_slli_epi32(high, 1), _mm_srai_epi32(_mm_unpackhi_epi16(odd_term, odd_term), 16));
        __m128i v = _mm_packs_epi32(divide_by_power_of_two<5>(low), divide_by_power_of_two<5>(high));
        if (standard == Standard::mpeg1) v = make_odd(v);
        v = clip_coefficients(v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
        parity = _mm_xor_si128(parity, v);
    }
    if (standard == Standard::mpeg2 && sum_is_even(parity)) dst[63] = static_cast<std::int16_t>(dst[63] ^ 1);
}

// The intra kernel, which every picture runs, with sixteen coefficients per step. Its 16-bit to
// 32-bit widening and the narrowing back both work within 128-bit halves, so lane order holds.
#define VINTREL_AVX2 __attribute__((target("avx2")))

template <int bits>
VINTREL_AVX2 __m256i divide_by_power_of_two_avx2(__m256i v) {
    const __m256i bias = _mm256_and_si256(_mm256_srai_epi32(v, 31), _mm256_set1_epi32((1 << bits) - 1));
    return _mm256_srai_epi32(_mm256_add_epi32(v, bias), bits);
}

VINTREL_AVX2 __m256i make_odd_avx2(__m256i v) {
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i even_non_zero =
        _mm256_andnot_si256(_mm256_cmpeq_epi16(v, zero), _mm256_cmpeq_epi16(_mm256_and_si256(v, one), zero));
    const __m256i toward_zero = _mm256_or_si256(_mm256_xor_si256(_mm256_srai_epi16(v, 15), _mm256_set1_epi16(-1)), one);
    return _mm256_add_epi16(v, _mm256_and_si256(toward_zero, even_non_zero));
}

VINTREL_AVX2 void dequantise_intra_avx2(Standard standard, const std::int16_t* src, std::int16_t* dst,
                                        int intra_dc_precision, const std::uint8_t* matrix, int mquant) {
    const std::int16_t dc = intra_dc(src[0], intra_dc_precision);
    const __m256i scale = _mm256_set1_epi16(static_cast<std::int16_t>(mquant));
    const __m256i first_lane = _mm256_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    __m256i parity = _mm256_setzero_si256();
    for (int i = 0; i < 64; i += 16) {
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i factor = _mm256_mullo_epi16(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(matrix + i))), scale);
        const __m256i low_bits = _mm256_mullo_epi16(q, factor);
        const __m256i high_bits = _mm256_mulhi_epi16(q, factor);
        const __m256i low = divide_by_power_of_two_avx2<4>(_mm256_unpacklo_epi16(low_bits, high_bits));
        const __m256i high = divide_by_power_of_two_avx2<4>(_mm256_unpackhi_epi16(low_bits, high_bits));
        __m256i v = _mm256_packs_epi32(low, high);
        if (standard == Standard::mpeg1) v = make_odd_avx2(v);
        v = _mm256_min_epi16(_mm256_max_epi16(v, _mm256_set1_epi16(-2048)), _mm256_set1_epi16(2047));
        if (i == 0) v = _mm256_blendv_epi8(v, _mm256_set1_epi16(dc), first_lane);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), v);
        parity = _mm256_xor_si256(parity, v);
    }
    const __m128i folded = _mm_xor_si128(_mm256_castsi256_si128(parity), _mm256_extracti128_si256(parity, 1));
    if (standard == Standard::mpeg2 && sum_is_even(folded)) dst[63] = static_cast<std::int16_t>(dst[63] ^ 1);
}

#undef VINTREL_AVX2

#endif  // __SSE2__

void dequantise_intra_any([[maybe_unused]] SimdLevel level, Standard standard, const std::int16_t* src, std::int16_t* dst,
                          int intra_dc_precision, const std::uint8_t* matrix, int mquant) {
#if defined(__SSE2__)
    if (level != SimdLevel::plain && mquant >= 0 && mquant <= largest_vector_mquant) {
        if (level == SimdLevel::avx2) return dequantise_intra_avx2(standard, src, dst, intra_dc_precision, matrix, mquant);
        return dequantise_intra_sse2(standard, src, dst, intra_dc_precision, matrix, mquant);
    }
#endif
    dequantise_intra_plain(standard, src, dst, intra_dc_precision, matrix, mquant);
}

void dequantise_non_intra_any([[maybe_unused]] SimdLevel level, Standard standard, const std::int16_t* src, std::int16_t* dst,
                              const std::uint8_t* matrix, int mquant) {
#if defined(__SSE2__)
    if (level != SimdLevel::plain && mquant >= 0 && mquant <= largest_vector_mquant)
        return dequantise_non_intra_sse2(standard, src, dst, matrix, mquant);
#endif
    dequantise_non_intra_plain(standard, src, dst, matrix, mquant);
}

}  // namespace

void dequantise_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                      const std::uint8_t* matrix, int mquant) {
    dequantise_intra_any(simd, mpeg1 ? Standard::mpeg1 : Standard::mpeg2, src, dst,
                         intra_dc_precision, matrix, mquant);
}

void dequantise_non_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst,
                          const std::uint8_t* matrix, int mquant) {
    dequantise_non_intra_any(simd, mpeg1 ? Standard::mpeg1 : Standard::mpeg2, src, dst,
                             matrix, mquant);
}

}  // namespace vintrel
