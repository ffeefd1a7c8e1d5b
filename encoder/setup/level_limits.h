// Profile and level limits of ISO/IEC 13818-2 (8.2), for the profiles and levels the encoder knows.
#pragma once

namespace vintrel {

struct LevelLimits {
    int max_horizontal_f_code;
    int max_vertical_f_code;
    int max_horizontal_size;
    int max_vertical_size;
    int max_sample_rate;  // luminance samples per second
    int max_bit_rate;     // Mbit/s
    int max_vbv_buffer_size;
};

// Indexed by (level - 4) / 2: High, High 1440, Main, Low.
inline constexpr LevelLimits level_limits[4] = {
    {9, 5, 1920, 1152, 62668800, 80, 597},
    {9, 5, 1440, 1152, 47001600, 60, 448},
    {8, 5, 720, 576, 10368000, 15, 112},
    {7, 4, 352, 288, 3041280, 4, 29},
};

// Defined profile@level combinations: [profile - 1][(level - 4) / 2].
inline constexpr bool profile_level_defined[5][4] = {
    {true, true, true, false},    // High
    {false, true, false, false},  // Spatially scalable
    {false, false, true, true},   // SNR scalable
    {true, true, true, true},     // Main
    {false, false, true, false},  // Simple
};

}  // namespace vintrel
