// The four-grey palette, the 2x2 ordered dither and the 2-bit pixel codes of the handheld frames.
#pragma once

#include <array>
#include <cstdint>

namespace vintrel {

// The grey of each palette index, the same in red, green and blue: black, dark grey, light grey,
// white, evenly spaced.
inline constexpr std::array<std::uint8_t, 4> palette_greys = {0, 85, 170, 255};

// A frame record stores palette index i as the 2-bit code 3 - i: black is 11, white 00.
inline constexpr unsigned code_of_index(unsigned index) { return 3 - index; }

// The grey shown for each 2-bit code, code c being palette index 3 - c: white, light grey, dark
// grey, black.
inline constexpr std::array<std::uint8_t, 4> code_greys = {palette_greys[3], palette_greys[2], palette_greys[1],
                                                           palette_greys[0]};

// Each byte repeats the 2-bit code of a palette index in all four pixel positions, so a pixel's
// code is picked out with its position mask.
inline constexpr std::array<std::uint8_t, 4> pixel_code_table = {
    0x55 * code_of_index(0), 0x55 * code_of_index(1), 0x55 * code_of_index(2), 0x55 * code_of_index(3)};

// Palette index by [grey / 16][2 * row parity + column parity].
inline constexpr std::uint8_t dither_table[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 1, 1, 2}, {2, 1, 2, 2},
    {2, 2, 2, 2}, {3, 2, 2, 2}, {2, 2, 2, 3}, {3, 2, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3},
};

}  // namespace vintrel
