// How the encoder ends on an error: the message on standard error, a message box hook, exit code 1.
#pragma once

#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Formats a message the way the encoder's 256-byte error buffer does: at most 255 characters.
std::string error_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the text and a line feed to standard error, shows it through the state's message box
// hook (when set), and ends the process with exit code 1. Bits already produced reach the
// stream file first, so it keeps everything written before the error.
[[noreturn]] void fatal_error(EncoderState& state, const std::string& text);

}  // namespace vintrel
