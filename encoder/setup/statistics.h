// The per-picture statistics report and the reconstructed-picture files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Appends the statistics of the picture just coded (counts, type map, quantiser map) to `out`;
// nothing without a file.
void print_statistics(std::FILE* out, const Geometry& geometry, const std::vector<MacroblockInfo>& macroblocks);

// Writes the picture to NAME.Y, NAME.U and NAME.V row by row; nothing when the name starts with "-".
// A file that cannot be made or written is a fatal error.
void write_frame(const Parameters& params, const Geometry& geometry, const ErrorChannel& errors,
                 const std::string& name, const Picture& picture);

}  // namespace vintrel
