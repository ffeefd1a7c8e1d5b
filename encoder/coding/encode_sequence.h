// Codes the whole sequence: coding order, groups of pictures, the per-picture pipeline.
#pragma once

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Codes frame_count frames into the stream and ends it with the sequence end code. Between stages
// it lets state.hooks.pump_waiting_messages run the waiting window messages, then stops at once (still
// ending the stream properly) when *cancel_flag has become non-zero.
void encode_sequence(EncoderState& state, const int* cancel_flag);

}  // namespace vintrel
