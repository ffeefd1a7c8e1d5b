// Run-length compression of one packed 2-bit pixel row into literal and repeat packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vintrel {

// Longest run one packet can carry: its count shares the control byte with the repeat flag.
inline constexpr int max_packet_length = 127;

// Appends the packets of one row to `out`. Two equal neighbouring bytes start a repeat packet
// (0x80 + n, the byte); other bytes go into literal packets (n, then the n bytes). Rows longer
// than 127 bytes split their packets at 127 bytes. Nothing carries over from one row to the next.
void compress_row(const std::uint8_t* row, std::size_t length, std::vector<std::uint8_t>& out);

}  // namespace vintrel
