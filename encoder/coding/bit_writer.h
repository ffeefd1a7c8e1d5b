// Writes the stream most significant bit first and counts the bits produced.
#pragma once

#include <cstdint>
#include <cstdio>

#include <vector>

namespace vintrel {

// Packs bits most significant first and counts them. Bits wait in `pending` until they make
// whole bytes; the bytes collect in `buffer` and go to `out` when it fills or on flush_bit_writer.
struct BitWriter {
    std::uint64_t pending = 0;   // bits not yet in the buffer, in the low `pending_bits`
    int pending_bits = 0;        // 0..31
    std::int64_t bytes_written = 0;  // bytes moved into the buffer so far
    std::vector<std::uint8_t> buffer;
    std::FILE* out = nullptr;
    bool write_failed = false;   // a write to `out` came back short
};

// Empties the writer and directs whole bytes to `out` (with no file they stay in the buffer).
void init_bit_writer(BitWriter& writer, std::FILE* out = nullptr);

// Moves the 32 oldest pending bits into the byte buffer (they are all whole bytes).
void emit_pending_word(BitWriter& writer);

// The stream's value of a one-bit flag.
constexpr int syntax_value(bool flag) { return flag ? 1 : 0; }

// Appends the low n bits of value, most significant first; n of 0 or less appends nothing.
// Up to 31 bits wait in `pending` before they are moved out as four whole bytes.
inline void write_bits(BitWriter& w, std::uint32_t value, int n) {
    if (n <= 0) return;
    const std::uint64_t mask = (std::uint64_t{1} << n) - 1;
    w.pending = (w.pending << n) | (value & mask);
    w.pending_bits += n;
    if (w.pending_bits >= 32) emit_pending_word(w);
}

// Pads the byte being assembled with 0 bits; afterwards every bit produced is in the buffer.
void align_to_byte(BitWriter& writer);

// Bits produced so far, the partly assembled byte included.
inline std::int64_t bits_written(const BitWriter& w) { return 8 * w.bytes_written + w.pending_bits; }

// Hands the collected whole bytes to the stream file. Returns false when the file took fewer
// bytes than it was given (also remembered in write_failed). Without a file it does nothing.
bool flush_bit_writer(BitWriter& writer);

}  // namespace vintrel
