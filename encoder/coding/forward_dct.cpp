// Forward 8x8 DCT in double precision: the basis table and the separable row/column transform.
//
// Every kernel below forms the same products and adds them in the same order (samples 0..7 for
// a row, rows 0..7 for a column), each product and sum rounded once, so all of them give the
// same coefficients to the last bit. The vector kernels only spread the eight frequencies of one
// sum over vector lanes; they never fuse a multiply with an add.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "encoder/coding/transform.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

constexpr double rounding_offset = 0.499999;  // slightly below one half: x.5 rounds down

// Stores a rounded coefficient the way the encoder keeps it: int, then the low 16 bits.
std::int16_t to_coefficient(double value) {
    return static_cast<std::int16_t>(static_cast<int>(std::floor(value + rounding_offset)));
}

void forward_dct_plain(const TransformTables& t, std::int16_t* block) {
    double tmp[8][8];
    for (int r = 0; r < 8; r++) {
        for (int u = 0; u < 8; u++) {
            double sum = block[8 * r] * t.dct_basis[u][0];
            for (int x = 1; x < 8; x++) sum += block[8 * r + x] * t.dct_basis[u][x];
            tmp[r][u] = sum;
        }
    }
    for (int u = 0; u < 8; u++) {
        for (int v = 0; v < 8; v++) {
            double sum = t.dct_basis[v][0] * tmp[0][u];
            for (int r = 1; r < 8; r++) sum += t.dct_basis[v][r] * tmp[r][u];
            block[8 * v + u] = to_coefficient(sum);
        }
    }
}

#if defined(__SSE2__)

// Eight 32-bit lanes (two vectors of four) to eight 16-bit lanes keeping the low 16 bits of each.
__m128i low_halves(__m128i low, __m128i high) {
    low = _mm_srai_epi32(_mm_slli_epi32(low, 16), 16);
    high = _mm_srai_epi32(_mm_slli_epi32(high, 16), 16);
    return _mm_packs_epi32(low, high);
}

// floor(a + offset), floor(b + offset) as the four 32-bit lanes a0 a1 b0 b1. The sums are far
// inside the 32-bit range, so truncation followed by a step down where it rounded up is floor.
__m128i floor_to_int32(__m128d a, __m128d b) {
    const __m128d offset = _mm_set1_pd(rounding_offset);
    a = _mm_add_pd(a, offset);
    b = _mm_add_pd(b, offset);
    const __m128i ta = _mm_cvttpd_epi32(a);
    const __m128i tb = _mm_cvttpd_epi32(b);
    const __m128i above_a = _mm_castpd_si128(_mm_cmpgt_pd(_mm_cvtepi32_pd(ta), a));
    const __m128i above_b = _mm_castpd_si128(_mm_cmpgt_pd(_mm_cvtepi32_pd(tb), b));
    const __m128i truncated = _mm_unpacklo_epi64(ta, tb);
    // The low halves of the four 64-bit masks, in lane order a0 a1 b0 b1.
    const __m128i above =
        _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(above_a), _mm_castsi128_ps(above_b), _MM_SHUFFLE(2, 0, 2, 0)));
    return _mm_add_epi32(truncated, above);  // above is -1 where truncation went up
}

void forward_dct_sse2(const TransformTables& t, std::int16_t* block) {
    // Row pass: tmp[r][k] holds frequencies 2k and 2k + 1 of row r.
    __m128d tmp[8][4];
    for (int r = 0; r < 8; r++) {
        const std::int16_t* row = block + 8 * r;
        __m128d sample = _mm_set1_pd(row[0]);
        __m128d acc[4];
        for (int k = 0; k < 4; k++) acc[k] = _mm_mul_pd(sample, _mm_loadu_pd(&t.dct_basis_by_sample[0][2 * k]));
        for (int x = 1; x < 8; x++) {
            sample = _mm_set1_pd(row[x]);
            for (int k = 0; k < 4; k++)
                acc[k] = _mm_add_pd(acc[k], _mm_mul_pd(sample, _mm_loadu_pd(&t.dct_basis_by_sample[x][2 * k])));
        }
        for (int k = 0; k < 4; k++) tmp[r][k] = acc[k];
    }
    // Column pass: output row v takes the eight columns at once.
    for (int v = 0; v < 8; v++) {
        __m128d weight = _mm_set1_pd(t.dct_basis[v][0]);
        __m128d acc[4];
        for (int k = 0; k < 4; k++) acc[k] = _mm_mul_pd(weight, tmp[0][k]);
        for (int r = 1; r < 8; r++) {
            weight = _mm_set1_pd(t.dct_basis[v][r]);
            for (int k = 0; k < 4; k++) acc[k] = _mm_add_pd(acc[k], _mm_mul_pd(weight, tmp[r][k]));
        }
        const __m128i low = floor_to_int32(acc[0], acc[1]);
        const __m128i high = floor_to_int32(acc[2], acc[3]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * v), low_halves(low, high));
    }
}

__attribute__((target("avx2"))) void forward_dct_avx2(const TransformTables& t, std::int16_t* block) {
    // The samples as doubles, converted eight at a time, so the row pass broadcasts from memory.
    alignas(32) double samples[64];
    for (int i = 0; i < 64; i += 8) {
        const __m256i wide = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i)));
        _mm256_store_pd(samples + i, _mm256_cvtepi32_pd(_mm256_castsi256_si128(wide)));
        _mm256_store_pd(samples + i + 4, _mm256_cvtepi32_pd(_mm256_extracti128_si256(wide, 1)));
    }
    // Row pass: tmp[r][k] holds frequencies 4k .. 4k + 3 of row r.
    __m256d tmp[8][2];
    const __m256d basis_low0 = _mm256_loadu_pd(&t.dct_basis_by_sample[0][0]);
    const __m256d basis_high0 = _mm256_loadu_pd(&t.dct_basis_by_sample[0][4]);
    for (int r = 0; r < 8; r++) {
        const double* row = samples + 8 * r;
        __m256d sample = _mm256_broadcast_sd(&row[0]);
        __m256d low = _mm256_mul_pd(sample, basis_low0);
        __m256d high = _mm256_mul_pd(sample, basis_high0);
        for (int x = 1; x < 8; x++) {
            sample = _mm256_broadcast_sd(&row[x]);
            low = _mm256_add_pd(low, _mm256_mul_pd(sample, _mm256_loadu_pd(&t.dct_basis_by_sample[x][0])));
            high = _mm256_add_pd(high, _mm256_mul_pd(sample, _mm256_loadu_pd(&t.dct_basis_by_sample[x][4])));
        }
        tmp[r][0] = low;
        tmp[r][1] = high;
    }
    // Column pass: output row v takes the eight columns at once.
    const __m256d offset = _mm256_set1_pd(rounding_offset);
    for (int v = 0; v < 8; v++) {
        __m256d weight = _mm256_broadcast_sd(&t.dct_basis[v][0]);
        __m256d low = _mm256_mul_pd(weight, tmp[0][0]);
        __m256d high = _mm256_mul_pd(weight, tmp[0][1]);
        for (int r = 1; r < 8; r++) {
            weight = _mm256_broadcast_sd(&t.dct_basis[v][r]);
            low = _mm256_add_pd(low, _mm256_mul_pd(weight, tmp[r][0]));
            high = _mm256_add_pd(high, _mm256_mul_pd(weight, tmp[r][1]));
        }
        const __m128i low_int = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(low, offset)));
        const __m128i high_int = _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_add_pd(high, offset)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * v), low_halves(low_int, high_int));
    }
}

#endif  // __SSE2__

}  // namespace

void init_forward_dct(TransformTables& t) {
    for (int u = 0; u < 8; u++) {
        const double scale = u == 0 ? std::sqrt(0.125) : 0.5;
        for (int x = 0; x < 8; x++) {
            t.dct_basis[u][x] = scale * std::cos(std::numbers::pi / 8.0 * u * (x + 0.5));
            t.dct_basis_by_sample[x][u] = t.dct_basis[u][x];
        }
    }
}

// Whether all 64 values of the block are the same.
static bool is_flat(const std::int16_t* block) {
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi16(block[0]);
    __m128i same = _mm_set1_epi16(-1);
    for (int i = 0; i < 64; i += 8)
        same = _mm_and_si128(same, _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i)), first));
    return _mm_movemask_epi8(same) == 0xFFFF;
#else
    for (int i = 1; i < 64; i++)
        if (block[i] != block[0]) return false;
    return true;
#endif
}

void forward_dct(const Kernels& kernels, std::int16_t* block) {
    const TransformTables& tables = kernels.transform;
    // A flat block (every chroma block of a grey picture, every luminance block of an even grey)
    // has its DC alone: 8 times its value. The double-precision sums leave rounding errors far
    // below the half that could move a coefficient, so this is what every kernel gives, for every
    // 16-bit value.
    if (is_flat(block)) {
        const auto dc = static_cast<std::int16_t>(8 * block[0]);
        std::fill_n(block, 64, std::int16_t{0});
        block[0] = dc;
        return;
    }
#if defined(__SSE2__)
    if (kernels.simd == SimdLevel::avx2) return forward_dct_avx2(tables, block);
    if (kernels.simd == SimdLevel::sse2) return forward_dct_sse2(tables, block);
#endif
    forward_dct_plain(tables, block);
}

}  // namespace vintrel
