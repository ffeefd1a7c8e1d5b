// The four-grey palette, the 2x2 ordered dither and the 2-bit pixel codes of the handheld frames.
#pragma once

#include <array>
#include <cstdint>

namespace vintrel {

// Grey palette entry i is 85 * i in red, green and blue: black, dark grey, light grey, white.
inline constexpr int grey_of_index(int index) { return 85 * index; }

// Each byte repeats the 2-bit code of a palette index in all four pixel positions, so a pixel's
// code is picked out with its position mask. Black is 11, white 00.
inline constexpr std::array<std::uint8_t, 4> pixel_code_table = {0xFF, 0xAA, 0x55, 0x00};

// Palette index by [grey / 16][2 * row parity + column parity].
inline constexpr std::uint8_t dither_table[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 1, 1, 2}, {2, 1, 2, 2},
    {2, 2, 2, 2}, {3, 2, 2, 2}, {2, 2, 2, 3}, {3, 2, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3},
};

}  // namespace vintrel
