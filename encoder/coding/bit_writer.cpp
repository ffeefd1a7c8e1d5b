// Bit writer over a buffered stream file.
#include "encoder/coding/bit_writer.h"

namespace vintrel {
namespace {

constexpr std::size_t flush_threshold = 1 << 16;

void emit_byte(BitWriter& w) {
    w.pending_bits -= 8;
    w.buffer.push_back(static_cast<std::uint8_t>(w.pending >> w.pending_bits));
    w.bytes_written++;
    w.pending &= (std::uint64_t{1} << w.pending_bits) - 1;
}

// Moves every whole byte of the pending bits into the buffer.
void drain_whole_bytes(BitWriter& w) {
    while (w.pending_bits >= 8) emit_byte(w);
}

}  // namespace

void init_bit_writer(BitWriter& w, std::FILE* out) {
    w.pending = 0;
    w.pending_bits = 0;
    w.bytes_written = 0;
    w.buffer.clear();
    w.buffer.reserve(flush_threshold + 8);
    w.out = out;
    w.write_failed = false;
}

void emit_pending_word(BitWriter& w) {
    w.pending_bits -= 32;
    const std::uint32_t word = static_cast<std::uint32_t>(w.pending >> w.pending_bits);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
                                   static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
    w.buffer.insert(w.buffer.end(), bytes, bytes + 4);
    w.bytes_written += 4;
    w.pending &= (std::uint64_t{1} << w.pending_bits) - 1;
    if (w.out && w.buffer.size() >= flush_threshold) flush_bit_writer(w);
}

void align_to_byte(BitWriter& w) {
    if (w.pending_bits % 8 != 0) write_bits(w, 0, 8 - w.pending_bits % 8);
    drain_whole_bytes(w);
}

bool flush_bit_writer(BitWriter& w) {
    drain_whole_bytes(w);
    if (!w.out || w.buffer.empty()) return !w.write_failed;
    if (std::fwrite(w.buffer.data(), 1, w.buffer.size(), w.out) != w.buffer.size()) w.write_failed = true;
    w.buffer.clear();
    return !w.write_failed;
}

}  // namespace vintrel
