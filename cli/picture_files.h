// vintrel-encode's pictures on disk: the source frames it reads and the reconstructions it writes,
// as raw 8-bit planes.
#pragma once

#include <string>

#include "encoder/encoder.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Fills the picture with a source frame by input_picture_format: planar files NAME.Y/.U/.V, or one
// file NAME.yuv holding the three planes in turn; other formats read nothing. The rows a file does
// not hold keep what they held; the borders are extended to the coded size. A file that cannot be
// opened is a fatal fault ("Couldn't open NAME.Y\n").
EncoderFault read_source_picture(const Parameters& params, const Geometry& geometry, const std::string& name,
                                 Picture& picture);

// Writes a reconstructed picture to NAME.Y, NAME.U and NAME.V row by row; nothing when the name
// starts with "-". A file that cannot be made or written is a fatal fault.
EncoderFault write_reconstruction(const Parameters& params, const Geometry& geometry, const std::string& name,
                                  const Picture& picture);

}  // namespace vintrel
