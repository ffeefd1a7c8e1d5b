// Inverse 8x8 DCT: the fast integer transform (rows, then columns) and its output clipping table.
//
// The constants W1..W7 are 2048 * sqrt(2) * cos(k * pi / 16) rounded. Intermediate values are
// 32-bit words whose sums and products wrap modulo 2^32 as 32-bit registers do; right shifts are
// arithmetic; row results keep the low 16 bits in the block between the two passes. Blocks that
// reconstruct near the -256..255 range never wrap. Blocks that reconstruct far outside it, which
// coefficients within -2048..2047 can already do, may wrap, and their results stay defined.
#include <algorithm>
#include <cstdint>

#include "encoder/coding/transform.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

using Word = std::uint32_t;

constexpr Word W1 = 2841;
constexpr Word W2 = 2676;
constexpr Word W3 = 2408;
constexpr Word W5 = 1609;
constexpr Word W6 = 1108;
constexpr Word W7 = 565;

Word word(int value) { return static_cast<Word>(value); }
Word shift_right(Word value, int bits) { return static_cast<Word>(static_cast<std::int32_t>(value) >> bits); }
std::int16_t low16(Word value) { return static_cast<std::int16_t>(value); }

// The clipping table covers -512..511. Blocks that reconstruct far outside -256..255 produce
// larger column results; those are held at the table's ends, whose entries saturate as well.
std::int16_t clip_column_result(const TransformTables& t, Word value) {
    const int index = std::clamp(static_cast<int>(static_cast<std::int32_t>(value)), -512, 511);
    return t.idct_clip_table[index + 512];
}

void inverse_dct_row(std::int16_t* b) {
    if ((b[1] | b[2] | b[3] | b[4] | b[5] | b[6] | b[7]) == 0) {
        // Only the DC term: the full path below gives the same eight values.
        const std::int16_t dc = low16(word(b[0]) << 3);
        for (int k = 0; k < 8; k++) b[k] = dc;
        return;
    }
    Word x0 = (word(b[0]) << 11) + 128;
    Word x1 = word(b[4]) << 11;
    Word x2 = word(b[6]);
    Word x3 = word(b[2]);
    Word x4 = word(b[1]);
    Word x5 = word(b[7]);
    Word x6 = word(b[5]);
    Word x7 = word(b[3]);

    Word x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;

    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = shift_right(181 * (x4 + x5) + 128, 8);
    x4 = shift_right(181 * (x4 - x5) + 128, 8);

    b[0] = low16(shift_right(x7 + x1, 8));
    b[1] = low16(shift_right(x3 + x2, 8));
    b[2] = low16(shift_right(x0 + x4, 8));
    b[3] = low16(shift_right(x8 + x6, 8));
    b[4] = low16(shift_right(x8 - x6, 8));
    b[5] = low16(shift_right(x0 - x4, 8));
    b[6] = low16(shift_right(x3 - x2, 8));
    b[7] = low16(shift_right(x7 - x1, 8));
}

// b points at the column's first value; the others follow eight apart.
void inverse_dct_column(const TransformTables& t, std::int16_t* b) {
    if ((b[8] | b[16] | b[24] | b[32] | b[40] | b[48] | b[56]) == 0) {
        // Only the DC term: the full path below gives the same eight values.
        const std::int16_t dc = clip_column_result(t, word((b[0] + 32) >> 6));
        for (int k = 0; k < 8; k++) b[8 * k] = dc;
        return;
    }
    Word x0 = (word(b[0]) << 8) + 8192;
    Word x1 = word(b[32]) << 8;
    Word x2 = word(b[48]);
    Word x3 = word(b[16]);
    Word x4 = word(b[8]);
    Word x5 = word(b[56]);
    Word x6 = word(b[40]);
    Word x7 = word(b[24]);

    Word x8 = W7 * (x4 + x5) + 4;
    x4 = shift_right(x8 + (W1 - W7) * x4, 3);
    x5 = shift_right(x8 - (W1 + W7) * x5, 3);
    x8 = W3 * (x6 + x7) + 4;
    x6 = shift_right(x8 - (W3 - W5) * x6, 3);
    x7 = shift_right(x8 - (W3 + W5) * x7, 3);

    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = shift_right(x1 - (W2 + W6) * x2, 3);
    x3 = shift_right(x1 + (W2 - W6) * x3, 3);
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;

    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = shift_right(181 * (x4 + x5) + 128, 8);
    x4 = shift_right(181 * (x4 - x5) + 128, 8);

    b[0] = clip_column_result(t, shift_right(x7 + x1, 14));
    b[8] = clip_column_result(t, shift_right(x3 + x2, 14));
    b[16] = clip_column_result(t, shift_right(x0 + x4, 14));
    b[24] = clip_column_result(t, shift_right(x8 + x6, 14));
    b[32] = clip_column_result(t, shift_right(x8 - x6, 14));
    b[40] = clip_column_result(t, shift_right(x0 - x4, 14));
    b[48] = clip_column_result(t, shift_right(x3 - x2, 14));
    b[56] = clip_column_result(t, shift_right(x7 - x1, 14));
}

#if defined(__SSE2__)

// Vector form of the same transform, eight rows (or columns) at once, one per 16-bit lane.
//
// Each rotation of two inputs, e.g. x4 = W7 * (b1 + b7) + (W1 - W7) * b1, expands to
// W1 * b1 + W7 * b7: the same integer modulo 2^32, since sums and products are exact in that
// ring, and one pmaddwd forms it from interleaved pairs. The rounding terms and shifts stay where
// the scalar form has them. The all-zero shortcuts of the scalar form give what the full path
// gives, so the vector form does not need them. Its final clip holds results to -256..255, the
// contents of the clipping table.

// Pairs of 16-bit constants (a, b) for pmaddwd: lane result a * first + b * second.
__m128i pair(int a, int b) {
    return _mm_set1_epi32(
        static_cast<std::int32_t>((static_cast<std::uint32_t>(b) << 16) | (static_cast<std::uint32_t>(a) & 0xffffu)));
}

// 181 * v modulo 2^32 (SSE2 has no 32-bit multiply): 181 = 128 + 32 + 16 + 4 + 1.
__m128i times181(__m128i v) {
    const __m128i a = _mm_add_epi32(_mm_slli_epi32(v, 7), _mm_slli_epi32(v, 5));
    const __m128i b = _mm_add_epi32(_mm_slli_epi32(v, 4), _mm_slli_epi32(v, 2));
    return _mm_add_epi32(_mm_add_epi32(a, b), v);
}

void transpose(__m128i v[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
    const __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
    const __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
    const __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    v[0] = _mm_unpacklo_epi64(b0, b4);
    v[1] = _mm_unpackhi_epi64(b0, b4);
    v[2] = _mm_unpacklo_epi64(b1, b5);
    v[3] = _mm_unpackhi_epi64(b1, b5);
    v[4] = _mm_unpacklo_epi64(b2, b6);
    v[5] = _mm_unpackhi_epi64(b2, b6);
    v[6] = _mm_unpacklo_epi64(b3, b7);
    v[7] = _mm_unpackhi_epi64(b3, b7);
}

// The eight 32-bit results of one pass over four lanes, before the final shift.
struct PassSums {
    __m128i s[8];
};

// One pass over four lanes from their inputs interleaved in pairs: p04 holds inputs 0 and 4 of
// each lane, p26 inputs 2 and 6, p17 inputs 1 and 7, p53 inputs 5 and 3. Inputs 0 and 4 are
// scaled by 2048 (rows) or 256 (columns) and biased; column passes round the rotations with + 4
// and >> 3, row passes keep them whole.
template <bool column>
PassSums pass_sums(__m128i p04, __m128i p26, __m128i p17, __m128i p53) {
    const int dc_scale = column ? 256 : 2048;
    const __m128i dc_bias = _mm_set1_epi32(column ? 8192 : 128);
    auto rotate = [](__m128i pairs, int a, int b) {
        __m128i v = _mm_madd_epi16(pairs, pair(a, b));
        if constexpr (column) v = _mm_srai_epi32(_mm_add_epi32(v, _mm_set1_epi32(4)), 3);
        return v;
    };
    __m128i x8 = _mm_add_epi32(_mm_madd_epi16(p04, pair(dc_scale, dc_scale)), dc_bias);
    __m128i x0 = _mm_add_epi32(_mm_madd_epi16(p04, pair(dc_scale, -dc_scale)), dc_bias);
    __m128i x3 = rotate(p26, W2, W6);
    __m128i x2 = rotate(p26, W6, -static_cast<int>(W2));
    __m128i x4 = rotate(p17, W1, W7);
    __m128i x5 = rotate(p17, W7, -static_cast<int>(W1));
    __m128i x6 = rotate(p53, W5, W3);
    __m128i x7 = rotate(p53, W3, -static_cast<int>(W5));

    __m128i x1 = _mm_add_epi32(x4, x6);
    x4 = _mm_sub_epi32(x4, x6);
    x6 = _mm_add_epi32(x5, x7);
    x5 = _mm_sub_epi32(x5, x7);

    x7 = _mm_add_epi32(x8, x3);
    x8 = _mm_sub_epi32(x8, x3);
    x3 = _mm_add_epi32(x0, x2);
    x0 = _mm_sub_epi32(x0, x2);
    const __m128i round = _mm_set1_epi32(128);
    x2 = _mm_srai_epi32(_mm_add_epi32(times181(_mm_add_epi32(x4, x5)), round), 8);
    x4 = _mm_srai_epi32(_mm_add_epi32(times181(_mm_sub_epi32(x4, x5)), round), 8);

    return PassSums{{_mm_add_epi32(x7, x1), _mm_add_epi32(x3, x2), _mm_add_epi32(x0, x4), _mm_add_epi32(x8, x6),
                     _mm_sub_epi32(x8, x6), _mm_sub_epi32(x0, x4), _mm_sub_epi32(x3, x2), _mm_sub_epi32(x7, x1)}};
}

// One pass over the eight lanes of v[0..7]; returns the 32-bit sums of lanes 0..3 and 4..7.
template <bool column>
void pass(const __m128i v[8], PassSums& low, PassSums& high) {
    low = pass_sums<column>(_mm_unpacklo_epi16(v[0], v[4]), _mm_unpacklo_epi16(v[2], v[6]),
                            _mm_unpacklo_epi16(v[1], v[7]), _mm_unpacklo_epi16(v[5], v[3]));
    high = pass_sums<column>(_mm_unpackhi_epi16(v[0], v[4]), _mm_unpackhi_epi16(v[2], v[6]),
                             _mm_unpackhi_epi16(v[1], v[7]), _mm_unpackhi_epi16(v[5], v[3]));
}

// Low 16 bits of (v >> 8), the row pass keeps its results in the block's 16 bits.
__m128i row_result(__m128i low, __m128i high) {
    low = _mm_srai_epi32(_mm_slli_epi32(low, 8), 16);  // (v << 8) >> 16 == low 16 bits of v >> 8
    high = _mm_srai_epi32(_mm_slli_epi32(high, 8), 16);
    return _mm_packs_epi32(low, high);
}

// (v >> 14) clipped to -256..255; saturating to 16 bits first does not change the clip.
__m128i column_result(__m128i low, __m128i high) {
    const __m128i v = _mm_packs_epi32(_mm_srai_epi32(low, 14), _mm_srai_epi32(high, 14));
    return _mm_min_epi16(_mm_max_epi16(v, _mm_set1_epi16(-256)), _mm_set1_epi16(255));
}

void inverse_dct_sse2(std::int16_t* block) {
    __m128i v[8];
    for (int r = 0; r < 8; r++) v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    transpose(v);  // v[k]: input k of every row
    PassSums low, high;
    pass<false>(v, low, high);
    for (int k = 0; k < 8; k++) v[k] = row_result(low.s[k], high.s[k]);  // v[k]: column k
    transpose(v);  // v[r]: row r, input r of every column
    pass<true>(v, low, high);
    for (int r = 0; r < 8; r++)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), column_result(low.s[r], high.s[r]));
}

// The AVX2 form: the same steps with all eight lanes' 32-bit sums in one register.
#define VINTREL_AVX2 __attribute__((target("avx2")))

VINTREL_AVX2 __m256i pair256(int a, int b) { return _mm256_broadcastsi128_si256(pair(a, b)); }

// Interleaves the 16-bit lanes of a and b into eight (a, b) pairs in lane order.
VINTREL_AVX2 __m256i interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
}

// a * first + b * second of each pair; column passes round with + 4 and >> 3.
template <bool column>
VINTREL_AVX2 __m256i rotate_avx2(__m256i pairs, int a, int b) {
    __m256i r = _mm256_madd_epi16(pairs, pair256(a, b));
    if constexpr (column) r = _mm256_srai_epi32(_mm256_add_epi32(r, _mm256_set1_epi32(4)), 3);
    return r;
}

template <bool column>
VINTREL_AVX2 void pass_avx2(const __m128i v[8], __m256i out[8]) {
    const int dc_scale = column ? 256 : 2048;
    const __m256i dc_bias = _mm256_set1_epi32(column ? 8192 : 128);
    const __m256i p04 = interleave(v[0], v[4]), p26 = interleave(v[2], v[6]);
    const __m256i p17 = interleave(v[1], v[7]), p53 = interleave(v[5], v[3]);
    __m256i x8 = _mm256_add_epi32(_mm256_madd_epi16(p04, pair256(dc_scale, dc_scale)), dc_bias);
    __m256i x0 = _mm256_add_epi32(_mm256_madd_epi16(p04, pair256(dc_scale, -dc_scale)), dc_bias);
    __m256i x3 = rotate_avx2<column>(p26, W2, W6);
    __m256i x2 = rotate_avx2<column>(p26, W6, -static_cast<int>(W2));
    __m256i x4 = rotate_avx2<column>(p17, W1, W7);
    __m256i x5 = rotate_avx2<column>(p17, W7, -static_cast<int>(W1));
    __m256i x6 = rotate_avx2<column>(p53, W5, W3);
    __m256i x7 = rotate_avx2<column>(p53, W3, -static_cast<int>(W5));

    __m256i x1 = _mm256_add_epi32(x4, x6);
    x4 = _mm256_sub_epi32(x4, x6);
    x6 = _mm256_add_epi32(x5, x7);
    x5 = _mm256_sub_epi32(x5, x7);

    x7 = _mm256_add_epi32(x8, x3);
    x8 = _mm256_sub_epi32(x8, x3);
    x3 = _mm256_add_epi32(x0, x2);
    x0 = _mm256_sub_epi32(x0, x2);
    const __m256i k181 = _mm256_set1_epi32(181), round = _mm256_set1_epi32(128);
    x2 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(_mm256_add_epi32(x4, x5), k181), round), 8);
    x4 = _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(x4, x5), k181), round), 8);

    out[0] = _mm256_add_epi32(x7, x1);
    out[1] = _mm256_add_epi32(x3, x2);
    out[2] = _mm256_add_epi32(x0, x4);
    out[3] = _mm256_add_epi32(x8, x6);
    out[4] = _mm256_sub_epi32(x8, x6);
    out[5] = _mm256_sub_epi32(x0, x4);
    out[6] = _mm256_sub_epi32(x3, x2);
    out[7] = _mm256_sub_epi32(x7, x1);
}

VINTREL_AVX2 void inverse_dct_avx2(std::int16_t* block) {
    __m128i v[8];
    for (int r = 0; r < 8; r++) v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    transpose(v);
    __m256i sums[8];
    pass_avx2<false>(v, sums);
    for (int k = 0; k < 8; k++) {
        const __m256i low16 = _mm256_srai_epi32(_mm256_slli_epi32(sums[k], 8), 16);  // low 16 bits of v >> 8
        v[k] = _mm_packs_epi32(_mm256_castsi256_si128(low16), _mm256_extracti128_si256(low16, 1));
    }
    transpose(v);
    pass_avx2<true>(v, sums);
    for (int r = 0; r < 8; r++) {
        const __m256i shifted = _mm256_srai_epi32(sums[r], 14);
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(shifted), _mm256_extracti128_si256(shifted, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r),
                         _mm_min_epi16(_mm_max_epi16(packed, _mm_set1_epi16(-256)), _mm_set1_epi16(255)));
    }
}

#undef VINTREL_AVX2

#endif  // __SSE2__

}  // namespace

void init_inverse_dct(TransformTables& tables) {
    for (int i = -512; i < 512; i++)
        tables.idct_clip_table[i + 512] = static_cast<std::int16_t>(std::clamp(i, -256, 255));
}

void inverse_dct(const Kernels& kernels, std::int16_t* block) {
#if defined(__SSE2__)
    if (kernels.simd == SimdLevel::avx2) return inverse_dct_avx2(block);
    if (kernels.simd == SimdLevel::sse2) return inverse_dct_sse2(block);
#endif
    for (int r = 0; r < 8; r++) inverse_dct_row(block + 8 * r);
    for (int c = 0; c < 8; c++) inverse_dct_column(kernels.transform, block + c);
}

}  // namespace vintrel
