// Writes the stream most significant bit first and counts the bits produced.
#pragma once

#include <cstdint>
#include <cstdio>

#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Empties the writer and directs whole bytes to `out` (with no file they stay in the buffer).
void init_bit_writer(BitWriter& writer, std::FILE* out = nullptr);

// Appends the low n bits of value, most significant first; n of 0 or less appends nothing.
void write_bits(BitWriter& writer, std::uint32_t value, int n);

// Pads the byte being assembled with 0 bits.
void align_to_byte(BitWriter& writer);

// Bits produced so far, the partly assembled byte included.
std::int64_t bits_written(const BitWriter& writer);

// Hands the collected whole bytes to the stream file. Returns false when the file took fewer
// bytes than it was given (also remembered in write_failed). Without a file it does nothing.
bool flush_bit_writer(BitWriter& writer);

}  // namespace vintrel
