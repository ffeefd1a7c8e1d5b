// Reads the parameter lines into the encoder state, checks them and applies the stream-type fix-ups.
#pragma once

#include <span>
#include <string_view>

#include "encoder/encoder.h"
#include "encoder/setup/encoder_state.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/parameter_lines.h"

namespace vintrel {

// The frame rate that frame_rate_code 1..8 stands for.
double frame_rate_of_code(int frame_rate_code);

// Scans the lines (the built-in table unless the caller supplies one) into `params`, validates
// the set, derives frame_rate and time_code_offset, runs the conformance checks and corrects what
// the chosen stream type does not allow, with a warning to `report` for each correction. An
// unusable set is a fatal fault (the first check that fails says why).
EncoderFault read_parameters(Parameters& params, const Reporter& report,
                     std::span<const std::string_view> lines = builtin_parameter_lines);

// Loads the intra and non-intra quantiser matrices: the defaults for a file name starting with
// "-", otherwise 64 values from the named file. A file that cannot be read is a fatal fault.
EncoderFault read_quant_matrices(Parameters& params);

// The same for a whole encoder state, as the tests hold it: its parameters and its reporter.
inline EncoderFault read_parameters(EncoderState& state,
                                    std::span<const std::string_view> lines = builtin_parameter_lines) {
    return read_parameters(state.params, state.report, lines);
}
inline EncoderFault read_quant_matrices(EncoderState& state) { return read_quant_matrices(state.params); }

}  // namespace vintrel
