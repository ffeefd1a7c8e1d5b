// Motion-compensated prediction of the picture about to be coded.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/picture_context.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

// Builds the prediction of every macroblock into `destination` from the reference reconstructions,
// as motion estimation decided in `macroblocks`; an unknown motion type is reported as a warning.
void predict_picture(const PictureContext& picture, const std::vector<MacroblockInfo>& macroblocks,
                     const Reporter& report, const Picture& old_reference, const Picture& new_reference,
                     Picture& destination, bool second_field);

// Mid-grey 128 over the macroblock at (bx, by) in all three components (intra prediction).
void clear_prediction(const PictureContext& picture, Picture& destination, int bx, int by);

// One rectangle of one plane: w x h samples at (x, y) of dst from src displaced by the half-pel
// vector (dx, dy); with `average` the result is averaged into what dst holds, rounding up.
void predict_component(const std::uint8_t* src, std::uint8_t* dst, int lx, int w, int h, int x, int y, int dx, int dy,
                       bool average);

}  // namespace vintrel
