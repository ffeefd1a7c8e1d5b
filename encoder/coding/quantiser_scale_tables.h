// Quantiser scale tables of the non-linear quantiser (ISO/IEC 13818-2, Table 7-6).
#pragma once

#include <array>
#include <cstdint>

namespace vintrel {

// quantiser_scale for q_scale_type 1, indexed by quantiser_scale_code (entry 0 unused).
inline constexpr std::array<std::uint8_t, 32> non_linear_mquant_table = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18,  20,  22,
    24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112,
};

// quantiser_scale_code for a linear scale value 0..112: each code covers a fixed range of values
// (for example 91..100 all map to code 29, scale 96).
inline constexpr std::array<std::uint8_t, 113> linear_to_code_map = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  8,  9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15,
    15, 16, 16, 16, 17, 17, 17, 18, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 21, 21, 21, 21,
    22, 22, 22, 22, 23, 23, 23, 23, 24, 24, 24, 24, 24, 24, 24, 25, 25, 25, 25, 25, 25, 25, 26,
    26, 26, 26, 26, 26, 26, 26, 27, 27, 27, 27, 27, 27, 27, 27, 28, 28, 28, 28, 28, 28, 28, 29,
    29, 29, 29, 29, 29, 29, 29, 29, 29, 30, 30, 30, 30, 30, 30, 30, 31, 31, 31, 31, 31,
};

}  // namespace vintrel
