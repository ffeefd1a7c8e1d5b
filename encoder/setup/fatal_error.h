// How the encoder ends on an error: through the reporter's fatal handler.
#pragma once

#include <string>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

struct EncoderState;

// Formats a message the way the encoder's 256-byte error buffer does: at most 255 characters.
std::string error_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where a fatal error goes: the stream written so far, which is flushed first, and the handler.
struct ErrorChannel {
    BitWriter& bits;
    const Reporter& report;
};

// The state's stream and reporter.
ErrorChannel error_channel(EncoderState& state);

// Moves the bits already produced into the stream file, so it keeps everything written before
// the error, then hands the text to the fatal handler, which ends the process (by default: the
// text and a line feed on standard error, exit code 1) or throws.
[[noreturn]] void fatal_error(const ErrorChannel& channel, const std::string& text);
[[noreturn]] void fatal_error(EncoderState& state, const std::string& text);

}  // namespace vintrel
