// What the arithmetic kernels work with: the instruction level chosen once and constant tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vintrel {

// Instruction set of the vector kernels. Every level gives the same results.
enum class SimdLevel { plain = 0, sse2 = 1, avx2 = 2 };

// The best level this processor runs.
inline SimdLevel processor_simd_level() {
#if defined(__SSE2__)
    return __builtin_cpu_supports("avx2") ? SimdLevel::avx2 : SimdLevel::sse2;
#else
    return SimdLevel::plain;
#endif
}

// Constant tables of the transforms, filled once by init_kernels.
struct TransformTables {
    double dct_basis[8][8] = {};             // [frequency u][sample x]
    std::int16_t idct_clip_table[1024] = {};  // entry i + 512 for i in -512..511
    // dct_basis transposed, [sample x][frequency u]: the row pass reads eight frequencies at once.
    double dct_basis_by_sample[8][8] = {};
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

// The one choice of instruction level, made by init_kernels, and the tables, handed to every kernel.
struct Kernels {
    SimdLevel simd = SimdLevel::plain;
    TransformTables transform;
    ClipTable clip;
};

// Chooses the best instruction level of this processor and fills the transform tables.
void init_kernels(Kernels& kernels);

}  // namespace vintrel
