// Forward and inverse DCT, the picture-wide transform passes and the DCT-type decision.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/kernels.h"
#include "encoder/setup/picture_context.h"

namespace vintrel {

// Fill the DCT basis and the inverse transform's clipping table.
void init_forward_dct(TransformTables& tables);
void init_inverse_dct(TransformTables& tables);

// In place on one block of 64 values (raster order), at the kernels' instruction level.
void forward_dct(const Kernels& kernels, std::int16_t* block);
void inverse_dct(const Kernels& kernels, std::int16_t* block);

// Sets dct_type of every macroblock of the picture being coded.
void choose_dct_type(const Geometry& geometry, const PictureHeader& header, std::vector<MacroblockInfo>& macroblocks,
                     const std::uint8_t* prediction_luma, const std::uint8_t* current_luma);

// Prediction error of every block of the picture (framed by each macroblock's dct_type),
// transformed, into `blocks`.
void transform_picture(const PictureContext& picture, const Kernels& kernels,
                       const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                       const Picture& prediction, const Picture& current);

// Inverse DCT of every block of `blocks` (in place) plus the prediction, into the reconstruction.
void inverse_transform_picture(const PictureContext& picture, const Kernels& kernels,
                               const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks,
                               const Picture& prediction, Picture& reconstruction);

}  // namespace vintrel
