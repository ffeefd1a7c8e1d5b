// Bit writer over a buffered stream file.
#include "encoder/coding/bit_writer.h"

namespace vintrel {
namespace {

constexpr std::size_t flush_threshold = 1 << 16;

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

void write_bits(BitWriter& w, std::uint32_t value, int n) {
    if (n <= 0) return;
    const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
    w.pending = (w.pending << n) | (value & mask);
    w.pending_bits += n;
    while (w.pending_bits >= 8) {
        w.pending_bits -= 8;
        w.buffer.push_back(static_cast<std::uint8_t>(w.pending >> w.pending_bits));
        w.bytes_written++;
    }
    w.pending &= (std::uint64_t{1} << w.pending_bits) - 1;
    if (w.out && w.buffer.size() >= flush_threshold) flush_bit_writer(w);
}

void align_to_byte(BitWriter& w) {
    if (w.pending_bits > 0) write_bits(w, 0, 8 - w.pending_bits);
}

std::int64_t bits_written(const BitWriter& w) { return 8 * w.bytes_written + w.pending_bits; }

bool flush_bit_writer(BitWriter& w) {
    if (!w.out || w.buffer.empty()) return !w.write_failed;
    if (std::fwrite(w.buffer.data(), 1, w.buffer.size(), w.out) != w.buffer.size()) w.write_failed = true;
    w.buffer.clear();
    return !w.write_failed;
}

}  // namespace vintrel
