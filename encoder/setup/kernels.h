// What the arithmetic kernels work with: the instruction level chosen once and constant tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vintrel {

// The best vector instruction level this processor offers: 0 none, 1 SSE2, 2 AVX2.
inline int processor_simd_level() {
#if defined(__SSE2__)
    return __builtin_cpu_supports("avx2") ? 2 : 1;
#else
    return 0;
#endif
}

// Constant tables of the transforms, filled once by init_forward_dct and init_inverse_dct.
struct TransformTables {
    double dct_basis[8][8] = {};             // [frequency u][sample x]
    std::int16_t idct_clip_table[1024] = {};  // entry i + 512 for i in -512..511
    // dct_basis transposed, [sample x][frequency u]: the row pass reads eight frequencies at once.
    double dct_basis_by_sample[8][8] = {};
    // Instruction set of the transform kernels: 0 plain C++, 1 SSE2, 2 AVX2. Every level gives
    // the same results; init_forward_dct picks the best one the processor runs.
    int simd_level = 0;
};

// Maps -384..639 to 0..255 (saturating); clip(i) reads entry i + 384.
struct ClipTable {
    std::array<std::uint8_t, 1024> table{};
    constexpr ClipTable() {
        for (int i = -384; i < 640; i++)
            table[static_cast<std::size_t>(i + 384)] = static_cast<std::uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
    }
    std::uint8_t operator()(int i) const { return table[static_cast<std::size_t>(i + 384)]; }
};

struct Kernels {
    TransformTables transform;
    ClipTable clip;
};

}  // namespace vintrel
