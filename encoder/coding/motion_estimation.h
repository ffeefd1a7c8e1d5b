// Motion estimation: how each macroblock of the picture about to be coded is predicted.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/picture_context.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

// Luminance planes the search works on (coded_width samples per frame line).
struct MotionPlanes {
    const std::uint8_t* old_source;
    const std::uint8_t* new_source;
    const std::uint8_t* old_reconstruction;
    const std::uint8_t* new_reconstruction;
    const std::uint8_t* current_source;
    const std::uint8_t* current_reconstruction;
};

// Search ranges of the current picture: forward and backward, horizontal and vertical.
struct SearchRanges {
    int sxf, syf, sxb, syb;
};

// Sets macroblock_type, motion fields and variance of every macroblock of the picture; reports
// one "." per macroblock row and a newline at the end as progress.
void estimate_motion(const PictureContext& picture, std::vector<MacroblockInfo>& macroblocks, const Reporter& report,
                     const MotionPlanes& planes, const SearchRanges& ranges, bool second_field,
                     bool second_field_of_i_frame);

// s2 - s*s/256 over a 16x16 block (rows `step` apart).
unsigned macroblock_variance(const std::uint8_t* p, int step);

}  // namespace vintrel
