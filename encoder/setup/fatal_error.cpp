// Fatal encoder errors.
#include "encoder/setup/fatal_error.h"

#include <cstdarg>
#include <cstdio>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/encoder_state.h"

namespace vintrel {

std::string error_text(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return std::string(format);
    return std::string(buffer);
}

ErrorChannel error_channel(EncoderState& state) { return {state.bits, state.report}; }

void fatal_error(const ErrorChannel& channel, const std::string& text) {
    flush_bit_writer(channel.bits);
    throw EncoderError(text);
}

void fatal_error(EncoderState& state, const std::string& text) { fatal_error(error_channel(state), text); }

}  // namespace vintrel
