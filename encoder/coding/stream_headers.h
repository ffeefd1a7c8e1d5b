// Start codes and header fields of the video elementary stream.
#pragma once

#include <string>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/picture_header.h"

namespace vintrel {

// bit_rate in units of 400 bit/s, rounded up.
int bit_rate_value(const Parameters& parameters);

void write_sequence_header(const Parameters& parameters, BitWriter& writer);
void write_sequence_extension(const Parameters& parameters, BitWriter& writer);
void write_display_extension(const Parameters& parameters, BitWriter& writer);
void write_user_data(BitWriter& writer, const std::string& text);

// Group-of-pictures header for the group whose first picture is display frame `frame`.
void write_gop_header(const Parameters& parameters, BitWriter& writer, int frame, bool closed_gop);

// The 25-bit time code of frame n at the encoder's frame rate (rounded to whole frames per second).
int frame_to_time_code(const Parameters& parameters, int n);

// The picture's header values, vbv_delay included, are decided before these write them.
void write_picture_header(const PictureHeader& header, const Parameters& parameters, BitWriter& writer);
void write_picture_coding_extension(const PictureHeader& header, const Parameters& parameters, BitWriter& writer);
void write_sequence_end(BitWriter& writer);

}  // namespace vintrel
