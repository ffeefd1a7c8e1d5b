// Source pictures: reading them from plane files or through the movie hook.
#pragma once

#include <string>

#include "encoder/setup/buffers.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/hooks.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Fills the picture with frame n by input_picture_format: planar files NAME.Y/.U/.V, one file
// NAME.yuv, or the movie (through read_movie_frame). Other formats read nothing. A file that
// cannot be opened, or a movie without a reader, is a fatal error.
void read_frame(const Parameters& params, const Geometry& geometry, const MovieFrameReader& read_movie_frame,
                const ErrorChannel& errors, const std::string& name, Picture& picture, int n);

void read_planar_files(const Parameters& params, const Geometry& geometry, const ErrorChannel& errors,
                       const std::string& name, Picture& picture);
void read_yuv_file(const Parameters& params, const Geometry& geometry, const ErrorChannel& errors,
                   const std::string& name, Picture& picture);

}  // namespace vintrel
