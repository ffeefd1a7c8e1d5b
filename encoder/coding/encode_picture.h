// Codes one picture (a frame or a field): picture headers, slices, macroblocks and blocks.
#pragma once

#include <cstdint>

#include "encoder/coding/vlc_writers.h"
#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Codes the picture described by the state's picture fields, macroblock_info and blocks.
// Quantises the blocks in place and leaves each macroblock's final type, mquant, coded block
// pattern and skip flag for the reconstruction and the statistics.
void encode_picture(EncoderState& state, const std::uint8_t* source_luma);

// Block writers, in the header's scan order and (intra) coefficient table; an intra block's DC is
// coded as the difference to its component's predictor, which it replaces.
void write_intra_block(const CodeWriter& out, const PictureHeader& header, int (&dc_predictor)[3],
                       const std::int16_t* block, int component);
void write_non_intra_block(const CodeWriter& out, const PictureHeader& header, const std::int16_t* block);

// One motion vector difference with its f code; a difference outside the range is reported.
void write_motion_vector(const CodeWriter& out, int difference, int f_code);

}  // namespace vintrel
