// Start codes and header fields of the video elementary stream.
#pragma once

#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// bit_rate in units of 400 bit/s, rounded up.
int bit_rate_value(const EncoderState& state);

void write_sequence_header(EncoderState& state);
void write_sequence_extension(EncoderState& state);
void write_display_extension(EncoderState& state);
void write_user_data(EncoderState& state, const std::string& text);

// Group-of-pictures header for the group whose first picture is display frame `frame`.
void write_gop_header(EncoderState& state, int frame, int closed_gop);

// The 25-bit time code of frame n at the encoder's frame rate (rounded to whole frames per second).
int frame_to_time_code(const EncoderState& state, int n);

void write_picture_header(EncoderState& state);
void write_picture_coding_extension(EncoderState& state);
void write_sequence_end(EncoderState& state);

}  // namespace vintrel
