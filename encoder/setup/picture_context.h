// What the per-picture stages read about the picture being coded, constant while a stage runs.
#pragma once

#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/picture_header.h"

namespace vintrel {

// The parameters, the sizes and the header of the picture being coded. The stages that take it
// read these and nothing else of the state; what they write is passed beside it.
struct PictureContext {
    const Parameters& params;
    const Geometry& geometry;
    const PictureHeader& header;
};

}  // namespace vintrel
