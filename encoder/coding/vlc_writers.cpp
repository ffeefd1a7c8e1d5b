// Variable-length code writers.
#include "encoder/coding/vlc_writers.h"

#include <cstdlib>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/vlc_tables.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

void put(const CodeWriter& s, VlcCode c) { write_bits(s.bits, c.code, c.length); }

void write_dc(const CodeWriter& s, int v, const VlcCode (&size_codes)[12]) {
    const int magnitude = std::abs(v);
    if (magnitude > 2047 || (s.mpeg1 && magnitude > 255))
        fatal_error({s.bits, s.report}, error_text("DC value out of range (%d)\n", v));
    int size = 0;
    while ((magnitude >> size) != 0) size++;
    put(s, size_codes[size]);
    if (size > 0) write_bits(s.bits, static_cast<std::uint32_t>(v >= 0 ? v : v + (1 << size) - 1), size);
}

// A coefficient without a code of its own: the escape, the run and the level in 8 or 16 bits
// (MPEG-1) or 12 bits (MPEG-2).
[[gnu::noinline]] void write_escaped_ac(const CodeWriter& s, int run, int level) {
    const int magnitude = std::abs(level);
    if (run < 0 || run > 63 || level == 0 || magnitude > 2047 || (s.mpeg1 && magnitude > 255))
        fatal_error({s.bits, s.report}, error_text("AC value out of range (run=%d, signed_level=%d)\n", run, level));
    put(s, dct_escape_code);
    write_bits(s.bits, static_cast<std::uint32_t>(run), 6);
    const std::uint32_t bits = static_cast<std::uint32_t>(level);
    if (s.mpeg1) {
        if (level > 127) write_bits(s.bits, 0, 8);
        if (level < -127) write_bits(s.bits, 0x80, 8);
        write_bits(s.bits, bits & 0xff, 8);
    } else {
        write_bits(s.bits, bits & 0xfff, 12);
    }
}

}  // namespace

void write_dc_luminance(const CodeWriter& s, int difference) { write_dc(s, difference, dc_size_luminance_codes); }

void write_dc_chrominance(const CodeWriter& s, int difference) { write_dc(s, difference, dc_size_chrominance_codes); }

void write_ac(const CodeWriter& s, int run, int level, int table) {
    // Nearly every coefficient has a code of its own: those are looked up first. A level that
    // fits no code (or none at all) goes the long way, through the range check and the escape.
    const int magnitude = std::abs(level);
    VlcCode code = {0, 0};
    if (level != 0 && run >= 0 && run < 32 && magnitude < 41) {
        if (run < 2)
            code = (table ? dct_table_b15_run01 : dct_table_b14_run01)[run][magnitude - 1];
        else if (magnitude < 6)
            code = (table ? dct_table_b15_run2to31 : dct_table_b14_run2to31)[run - 2][magnitude - 1];
    }
    if (code.length != 0) {
        // The code and its sign bit in one go.
        write_bits(s.bits, (static_cast<std::uint32_t>(code.code) << 1) | (level < 0 ? 1u : 0u), code.length + 1);
        return;
    }
    write_escaped_ac(s, run, level);
}

void write_first_ac(const CodeWriter& s, int run, int level) {
    if (run == 0 && (level == 1 || level == -1))
        write_bits(s.bits, level == 1 ? 0b10 : 0b11, 2);
    else
        write_ac(s, run, level, 0);
}

void write_address_increment(const CodeWriter& s, int increment) {
    while (increment > 33) {
        put(s, macroblock_escape_code);
        increment -= 33;
    }
    put(s, address_increment_codes[increment - 1]);
}

void write_macroblock_type(const CodeWriter& s, PictureType picture_type, MacroblockType type) {
    put(s, macroblock_type_codes[static_cast<std::size_t>(syntax_value(picture_type) - 1)][type.code_index()]);
}

void write_motion_code(const CodeWriter& s, int motion_code) {
    put(s, motion_codes[std::abs(motion_code)]);
    if (motion_code != 0) write_bits(s.bits, motion_code < 0 ? 1 : 0, 1);
}

void write_dual_prime(const CodeWriter& s, int differential) {
    if (differential == 0)
        write_bits(s.bits, 0, 1);
    else
        write_bits(s.bits, differential > 0 ? 0b10 : 0b11, 2);
}

void write_coded_block_pattern(const CodeWriter& s, int pattern) { put(s, coded_block_pattern_codes[pattern]); }

}  // namespace vintrel
