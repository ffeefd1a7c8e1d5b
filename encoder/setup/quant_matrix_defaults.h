// Default quantiser matrices (ISO/IEC 13818-2, 6.3.11), raster order.
#pragma once

#include <array>
#include <cstdint>

namespace vintrel {

inline constexpr std::array<std::uint8_t, 64> default_intra_quant_matrix = {
    8,  16, 19, 22, 26, 27, 29, 34,
    16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38,
    22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48,
    26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69,
    27, 29, 35, 38, 46, 56, 69, 83,
};

inline constexpr std::uint8_t default_non_intra_weight = 16;

}  // namespace vintrel
