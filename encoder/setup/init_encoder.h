// Prepares the encoder for one conversion: sizes, buffers, statistics file.
#pragma once

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Call with the stream file already set in state.bits.out (it is kept). Derives the geometry from the parameters, allocates the picture buffers,
// macroblock records and coefficient blocks (replacing those of an earlier conversion), and opens
// the statistics file. Failures are thrown (EncoderError) by fatal_error.
void init_encoder(EncoderState& state);

// Closes the statistics file unless it is the standard output; reports whether everything
// written to it reached the file.
bool close_statistics_file(EncoderState& state);

}  // namespace vintrel
