// The per-picture statistics report and the reconstructed-picture files.
#pragma once

#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Appends the statistics of the picture just coded (counts, type map, quantiser map).
void print_statistics(EncoderState& state);

// Writes the picture to NAME.Y, NAME.U and NAME.V row by row; nothing when the name starts with "-".
void write_frame(EncoderState& state, const std::string& name, const Picture& picture);

}  // namespace vintrel
