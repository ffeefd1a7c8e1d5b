// Writers of the MPEG variable-length codes; values without a code end the program.
#pragma once

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// DC size code and additional bits of an intra DC difference.
void write_dc_luminance(EncoderState& state, int difference);
void write_dc_chrominance(EncoderState& state, int difference);

// One run/level pair with Table B-14 (table 0) or Table B-15 (table 1), escaping pairs they lack.
void write_ac(EncoderState& state, int run, int level, int table);

// The first coefficient of a non-intra block (run 0, level ±1 has its own short code).
void write_first_ac(EncoderState& state, int run, int level);

void write_address_increment(EncoderState& state, int increment);
void write_macroblock_type(EncoderState& state, PictureType picture_type, int flags);
void write_motion_code(EncoderState& state, int motion_code);
void write_dual_prime(EncoderState& state, int differential);
void write_coded_block_pattern(EncoderState& state, int pattern);

}  // namespace vintrel
