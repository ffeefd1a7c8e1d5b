// Source pictures: reading them from plane files or through the movie hook.
#pragma once

#include <string>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Fills the picture with frame n by input_picture_format: planar files NAME.Y/.U/.V, one file
// NAME.yuv, or the movie (through state.hooks.read_movie_frame). Other formats read nothing.
void read_frame(EncoderState& state, const std::string& name, Picture& picture, int n);

void read_planar_files(EncoderState& state, const std::string& name, Picture& picture);
void read_yuv_file(EncoderState& state, const std::string& name, Picture& picture);

}  // namespace vintrel
