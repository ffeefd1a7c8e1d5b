// Rows of 24-bit pixels dithered to the four greys: a table look-up a pixel, or sixteen pixels at
// a time with SSSE3. Both give the same bytes.
#include "convert/grey_dither.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "convert/dither_tables.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vintrel {
namespace {

int clamp_grey(int grey) { return grey < 0 ? 0 : grey > 255 ? 255 : grey; }

#if defined(__SSE2__)

// Shuffle masks gathering one colour of sixteen 3-byte pixels from the three 16-byte loads that
// hold them: mask [load][channel], byte i picks byte 3i + channel of the 48 when it lies in that
// load, else nothing (0x80).
constexpr auto channel_masks = [] {
    std::array<std::array<std::array<std::uint8_t, 16>, 3>, 3> masks{};
    for (int load = 0; load < 3; load++)
        for (int channel = 0; channel < 3; channel++)
            for (int i = 0; i < 16; i++) {
                const int at = 3 * i + channel - 16 * load;
                masks[load][channel][i] = at >= 0 && at < 16 ? static_cast<std::uint8_t>(at) : 0x80;
            }
    return masks;
}();

__attribute__((target("ssse3"))) __m128i gather_channel(__m128i a, __m128i b, __m128i c, int channel) {
    const auto mask = [channel](int load) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(channel_masks[load][channel].data()));
    };
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, mask(0)), _mm_shuffle_epi8(b, mask(1))),
                        _mm_shuffle_epi8(c, mask(2)));
}

// Sixteen pixels from x (a multiple of 16) at a time; returns where it stopped.
__attribute__((target("ssse3"))) int ssse3_rows(const std::uint8_t* pixels, int columns, int row_parity,
                                                int brightness, std::uint8_t* packed, std::uint8_t* greys) {
    // The level's palette index at even and at odd columns of this row.
    alignas(16) std::uint8_t even_table[16], odd_table[16];
    for (int level = 0; level < 16; level++) {
        even_table[level] = dither_table[level][2 * row_parity];
        odd_table[level] = dither_table[level][2 * row_parity + 1];
    }
    const __m128i even = _mm_load_si128(reinterpret_cast<const __m128i*>(even_table));
    const __m128i odd = _mm_load_si128(reinterpret_cast<const __m128i*>(odd_table));
    const __m128i even_lanes = _mm_set1_epi16(0x00FF);
    alignas(16) std::uint8_t grey_table[16] = {};
    std::copy(palette_greys.begin(), palette_greys.end(), grey_table);
    const __m128i grey_of = _mm_load_si128(reinterpret_cast<const __m128i*>(grey_table));
    const __m128i three = _mm_set1_epi8(3);
    const __m128i code_weights = _mm_set1_epi32(0x01041040);  // bytes 64, 16, 4, 1
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i zero = _mm_setzero_si128();
    // Beyond +-256 the clamp decides alone; within it every sum stays inside 16 bits.
    const __m128i offset = _mm_set1_epi16(static_cast<std::int16_t>(std::clamp(brightness, -256, 256)));
    const __m128i third = _mm_set1_epi16(21846);  // (sum * 21846) >> 16 is sum / 3 for sums up to 765

    int x = 0;
    for (; x + 16 <= columns; x += 16) {
        const std::uint8_t* p = pixels + 3 * x;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i blue = gather_channel(a, b, c, 0), green = gather_channel(a, b, c, 1),
                      red = gather_channel(a, b, c, 2);
        const __m128i sum_low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(blue, zero), _mm_unpacklo_epi8(green, zero)),
                                              _mm_unpacklo_epi8(red, zero));
        const __m128i sum_high = _mm_add_epi16(
            _mm_add_epi16(_mm_unpackhi_epi8(blue, zero), _mm_unpackhi_epi8(green, zero)), _mm_unpackhi_epi8(red, zero));
        const __m128i grey_low = _mm_add_epi16(_mm_mulhi_epu16(sum_low, third), offset);
        const __m128i grey_high = _mm_add_epi16(_mm_mulhi_epu16(sum_high, third), offset);
        const __m128i grey = _mm_packus_epi16(grey_low, grey_high);  // clamped to 0..255
        const __m128i level = _mm_and_si128(_mm_srli_epi16(grey, 4), _mm_set1_epi8(0x0F));
        const __m128i index = _mm_or_si128(_mm_and_si128(even_lanes, _mm_shuffle_epi8(even, level)),
                                           _mm_andnot_si128(even_lanes, _mm_shuffle_epi8(odd, level)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(greys + x), _mm_shuffle_epi8(grey_of, index));
        // Codes 3 - index (code_of_index), four to a byte, the first pixel in the high bits.
        const __m128i pairs = _mm_maddubs_epi16(_mm_sub_epi8(three, index), code_weights);
        const __m128i quads = _mm_madd_epi16(pairs, ones);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(quads, zero), zero);
        const auto word = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
        std::memcpy(packed + x / 4, &word, 4);
    }
    return x;
}

#endif  // __SSE2__

}  // namespace

RowDither::Kernel RowDither::best_kernel() {
#if defined(__SSE2__)
    return __builtin_cpu_supports("ssse3") ? Kernel::ssse3 : Kernel::plain;
#else
    return Kernel::plain;
#endif
}

RowDither::RowDither(int brightness, Kernel kernel) : kernel_(kernel), brightness_(brightness) {
    for (int sum = 0; sum < sums; sum++) {
        const int grey = clamp_grey(sum / 3 + brightness);
        for (int parity = 0; parity < 4; parity++) index_[parity / 2][parity % 2][sum] = dither_table[grey / 16][parity];
    }
}

void RowDither::row(const std::uint8_t* pixels, int columns, int row_parity, std::uint8_t* packed,
                    std::uint8_t* greys) const {
    int done = 0;
#if defined(__SSE2__)
    if (kernel_ == Kernel::ssse3) done = ssse3_rows(pixels, columns, row_parity, brightness_, packed, greys);
#endif
    plain_row(pixels, done, columns, row_parity, packed, greys);
}

// From column `from` (a multiple of 4) on.
void RowDither::plain_row(const std::uint8_t* pixels, int from, int columns, int row_parity, std::uint8_t* packed,
                          std::uint8_t* greys) const {
    const std::uint8_t* even = index_[row_parity][0];
    const std::uint8_t* odd = index_[row_parity][1];
    const auto index_at = [&](int x) {
        const std::uint8_t* p = pixels + 3 * x;
        return (x & 1 ? odd : even)[p[0] + p[1] + p[2]];
    };
    // Four pixels a packed byte, the first in the high bits.
    const int whole = columns & ~3;
    for (int x = from; x < whole; x += 4) {
        const unsigned a = index_at(x), b = index_at(x + 1), c = index_at(x + 2), d = index_at(x + 3);
        packed[x / 4] = static_cast<std::uint8_t>(code_of_index(a) << 6 | code_of_index(b) << 4 |
                                                  code_of_index(c) << 2 | code_of_index(d));
        greys[x] = palette_greys[a];
        greys[x + 1] = palette_greys[b];
        greys[x + 2] = palette_greys[c];
        greys[x + 3] = palette_greys[d];
    }
    if (whole < columns) {
        unsigned byte = 0;
        for (int x = whole; x < whole + 4; x++) {
            const unsigned index = x < columns ? index_at(x) : 3;  // unused pairs are 00
            if (x < columns) greys[x] = palette_greys[index];
            byte = byte << 2 | code_of_index(index);
        }
        packed[whole / 4] = static_cast<std::uint8_t>(byte);
    }
}

}  // namespace vintrel
