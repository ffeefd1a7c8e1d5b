// Quantisation of coefficient blocks and the inverse quantisers of MPEG-1 and MPEG-2.
#pragma once

#include <cstdint>

#include "encoder/setup/kernels.h"

namespace vintrel {

// Blocks are 64 signed 16-bit values in raster order; source and destination may be the same.
// Weighting matrices are 64 values 1..255 in raster order. mquant is the macroblock's quantiser
// scale (2..62 even for the linear scale, a non-linear table value 1..112 otherwise). `simd` is
// the kernels' instruction level; `mpeg1` selects the MPEG-1 rules (levels up to 255, not 2047,
// and the MPEG-1 inverse quantisers).

// Intra block: DC by the intra DC step, AC with rounding; returns 1.
int quantise_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                   const std::uint8_t* matrix, int mquant);

// Non-intra block with a dead zone; returns 1 when any level is non-zero, else 0.
int quantise_non_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst,
                       const std::uint8_t* matrix, int mquant);

// Inverse quantisers.
void dequantise_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst, int intra_dc_precision,
                      const std::uint8_t* matrix, int mquant);
void dequantise_non_intra(SimdLevel simd, bool mpeg1, const std::int16_t* src, std::int16_t* dst,
                          const std::uint8_t* matrix, int mquant);

}  // namespace vintrel
