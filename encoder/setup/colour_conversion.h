// Source pictures: reading them from files or from the movie, border extension, chroma subsampling.
#pragma once

#include <cstdint>
#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Fills the picture with frame n by input_picture_format: 0 planar files NAME.Y/.U/.V, 1 one file
// NAME.yuv, 2 the movie (through state.hooks.read_movie_frame). Other formats read nothing.
void read_frame(EncoderState& state, const std::string& name, Picture& picture, int n);

void read_planar_files(EncoderState& state, const std::string& name, Picture& picture);
void read_yuv_file(EncoderState& state, const std::string& name, Picture& picture);

// Repeats the last sample of each of the h rows up to w2, then the last row down to h2 (stride w2).
void extend_borders(std::uint8_t* plane, int w, int h, int w2, int h2);

// Halve the width (full-width source to half-width destination) and then the height, over the
// coded size, through the clip table.
void subsample_444_to_422(const EncoderState& state, const std::uint8_t* src, std::uint8_t* dst);
void subsample_422_to_420(const EncoderState& state, const std::uint8_t* src, std::uint8_t* dst);

// The movie path, called by the frame grabber for each movie frame:
// prepare once before the first pixel, convert each pixel of the dithered grey, finish after the
// last row.
void begin_movie_picture(EncoderState& state, Picture& picture);
void convert_movie_pixel(EncoderState& state, Picture& picture, int x, int y, int red, int green, int blue);
void finish_movie_picture(EncoderState& state, Picture& picture);

// The same conversion for a whole row of greys (R = G = B = grey) at x = 0 .. count - 1 of row y:
// what the frame grabber has after dithering. A picture is converted either row by row or pixel
// by pixel: when every grey has the same colour differences, the rows leave the full-resolution
// colour-difference planes unwritten, as the uniform picture they make never reads them.
void convert_movie_grey_row(EncoderState& state, Picture& picture, int y, const std::uint8_t* greys, int count);

}  // namespace vintrel
