// Motion-compensated prediction of the picture about to be coded.
#pragma once

#include <cstdint>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Builds the prediction of every macroblock into `destination` from the reference reconstructions.
void predict_picture(EncoderState& state, const Picture& old_reference, const Picture& new_reference,
                     Picture& destination, int second_field);

// Mid-grey 128 over the macroblock at (bx, by) in all three components (intra prediction).
void clear_prediction(const EncoderState& state, Picture& destination, int bx, int by);

// One rectangle of one plane: w x h samples at (x, y) of dst from src displaced by the half-pel
// vector (dx, dy); with `average` the result is averaged into what dst holds, rounding up.
void predict_component(const std::uint8_t* src, std::uint8_t* dst, int lx, int w, int h, int x, int y, int dx, int dy,
                       bool average);

}  // namespace vintrel
