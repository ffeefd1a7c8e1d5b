// Motion-compensated prediction of the picture about to be coded.
#pragma once

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Builds the prediction of every macroblock into `destination` from the reference reconstructions.
void predict_picture(EncoderState& state, const Picture& old_reference, const Picture& new_reference,
                     Picture& destination, int second_field);

// Mid-grey 128 over the macroblock at (bx, by) in all three components (intra prediction).
void clear_prediction(const EncoderState& state, Picture& destination, int bx, int by);

}  // namespace vintrel
