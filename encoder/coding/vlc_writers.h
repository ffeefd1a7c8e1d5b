// Writers of the MPEG variable-length codes; values without a code are fatal errors.
#pragma once

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/picture_header.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

// What the code writers use: the bits, the stream type (MPEG-1 has narrower ranges and its own
// escape) and where a value without a code is reported.
struct CodeWriter {
    BitWriter& bits;
    bool mpeg1;
    const Reporter& report;
};

// DC size code and additional bits of an intra DC difference.
void write_dc_luminance(const CodeWriter& out, int difference);
void write_dc_chrominance(const CodeWriter& out, int difference);

// One run/level pair with Table B-14 (table 0) or Table B-15 (table 1), escaping pairs they lack.
void write_ac(const CodeWriter& out, int run, int level, int table);

// The first coefficient of a non-intra block (run 0, level ±1 has its own short code).
void write_first_ac(const CodeWriter& out, int run, int level);

void write_address_increment(const CodeWriter& out, int increment);
void write_macroblock_type(const CodeWriter& out, PictureType picture_type, MacroblockType type);
void write_motion_code(const CodeWriter& out, int motion_code);
void write_dual_prime(const CodeWriter& out, int differential);
void write_coded_block_pattern(const CodeWriter& out, int pattern);

}  // namespace vintrel
