// How the encoder ends on an error: an EncoderError thrown once the stream written so far is flushed.
#pragma once

#include <stdexcept>
#include <string>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

struct EncoderState;

// Formats a message the way the encoder's 256-byte error buffer does: at most 255 characters.
std::string error_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A fatal encoder error: the work cannot go on. what() is the encoder's own text, kept exactly as
// users know it ("Couldn't create output file walk.mpg"). The library never ends the process: the
// conversion, or a command-line program's main, catches it and decides what becomes of the run.
class EncoderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where a fatal error goes: the stream written so far, which is flushed first, and the reporter.
struct ErrorChannel {
    BitWriter& bits;
    const Reporter& report;
};

// The state's stream and reporter.
ErrorChannel error_channel(EncoderState& state);

// Moves the bits already produced into the stream file, so it keeps everything written before
// the error, then throws EncoderError with the text.
[[noreturn]] void fatal_error(const ErrorChannel& channel, const std::string& text);
[[noreturn]] void fatal_error(EncoderState& state, const std::string& text);

}  // namespace vintrel
