// The sizes of the coded pictures, derived from the parameters.
#pragma once

#include "encoder/setup/parameters.h"

namespace vintrel {

struct Geometry {
    int macroblock_columns = 0;
    int macroblock_rows = 0;        // of a frame
    int field_macroblock_rows = 0;  // of a coded picture: half the frame's in field pictures
    int coded_width = 0;
    int coded_height = 0;
    int chroma_width = 0;
    int chroma_height = 0;
    int picture_height = 0;       // of a coded picture, in lines
    int line_stride = 0;          // between the lines of a coded picture
    int chroma_line_stride = 0;
    int blocks_per_macroblock = 0;
};

// The sizes for a parameter set: whole macroblocks covering the picture (pairs of macroblock
// rows in interlaced sequences), chroma planes by the chroma format, field pictures as every
// other line of the frame.
Geometry compute_geometry(const Parameters& parameters);

}  // namespace vintrel
