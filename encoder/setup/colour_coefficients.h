// Luminance weights (kr, kg, kb) of the RGB to YCbCr conversion for each matrix_coefficients value.
#pragma once

#include <array>
#include <cstddef>

namespace vintrel {

struct ColourCoefficients {
    double kr;
    double kg;
    double kb;
};

// Indexed by matrix_coefficients. Value 0 is forbidden and value 3 reserved in the stream syntax;
// both positions hold the weights of value 2 (unspecified, taken as ITU-R BT.601).
inline constexpr std::array<ColourCoefficients, 8> colour_coefficients = {{
    {0.299, 0.587, 0.114},     // 0 forbidden
    {0.2125, 0.7154, 0.0721},  // 1 ITU-R BT.709
    {0.299, 0.587, 0.114},     // 2 unspecified
    {0.299, 0.587, 0.114},     // 3 reserved
    {0.30, 0.59, 0.11},        // 4 FCC
    {0.299, 0.587, 0.114},     // 5 ITU-R BT.470-2 System B, G
    {0.299, 0.587, 0.114},     // 6 SMPTE 170M
    {0.212, 0.701, 0.087},     // 7 SMPTE 240M
}};

// The row for a matrix_coefficients value; values outside the table get the row of 2, so a bad
// value can never index past it (the range checks reject such values at start-up anyway).
constexpr const ColourCoefficients& colour_coefficients_for(int matrix_coefficients) {
    const bool in_table = matrix_coefficients >= 0 && matrix_coefficients < static_cast<int>(colour_coefficients.size());
    return colour_coefficients[static_cast<std::size_t>(in_table ? matrix_coefficients : 2)];
}

}  // namespace vintrel
