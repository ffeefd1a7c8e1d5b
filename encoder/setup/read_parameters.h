// Reads the parameter lines into the encoder state, checks them and applies the stream-type fix-ups.
#pragma once

#include <span>
#include <string_view>

#include "encoder/setup/encoder_state.h"
#include "encoder/setup/parameter_lines.h"

namespace vintrel {

// The frame rate that frame_rate_code 1..8 stands for.
double frame_rate_of_code(int frame_rate_code);

// Scans the lines (the built-in table unless the caller supplies one) into the state, validates
// the set, derives frame_rate and time_code_offset, runs the conformance checks and corrects what
// the chosen stream type does not allow, with a warning on standard error for each correction.
// Errors end the program through fatal_error.
void read_parameters(EncoderState& state,
                     std::span<const std::string_view> lines = builtin_parameter_lines);

// Loads the intra and non-intra quantiser matrices: the defaults for a file name starting with
// "-", otherwise 64 values from the named file.
void read_quant_matrices(EncoderState& state);

}  // namespace vintrel
