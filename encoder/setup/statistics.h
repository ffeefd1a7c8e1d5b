// The per-picture statistics report.
#pragma once

#include <cstdio>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"

namespace vintrel {

// Appends the statistics of the picture just coded (counts, type map, quantiser map) to `out`;
// nothing without a file.
void print_statistics(std::FILE* out, const Geometry& geometry, const std::vector<MacroblockInfo>& macroblocks);

}  // namespace vintrel
