// Border extension of source planes and the filters that halve the colour-difference planes.
#pragma once

#include <cstdint>

#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Repeats the last sample of each of the h rows up to w2, then the last row down to h2 (stride w2).
void extend_borders(std::uint8_t* plane, int w, int h, int w2, int h2);

// Halve the width (full-width source to half-width destination) and then the height, over the
// coded size: MPEG-1 streams with the half-sample filter, MPEG-2 ones co-sited; interlaced
// frames field by field.
void subsample_444_to_422(const Parameters& params, const Geometry& geometry, const std::uint8_t* src,
                          std::uint8_t* dst);
void subsample_422_to_420(const Parameters& params, const Geometry& geometry, const std::uint8_t* src,
                          std::uint8_t* dst);

}  // namespace vintrel
