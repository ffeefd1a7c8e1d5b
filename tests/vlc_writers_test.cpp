// The bit writer, the code tables and the code writers, checked against a bit-by-bit writer and against
// the codes printed in the standard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/vlc_tables.h"
#include "encoder/coding/vlc_writers.h"
#include "tests/recording_reporter_for_test.h"

namespace vintrel {
namespace {

// The `length` low bits of `code` as '0' and '1', the most significant first.
std::string bits_of(std::uint64_t code, int length) {
    std::string bits;
    for (int b = length - 1; b >= 0; b--) bits += ((code >> b) & 1) ? '1' : '0';
    return bits;
}

// Every bit produced so far, the partly assembled byte included.
std::string bit_string(const BitWriter& w) {
    std::string bits;
    for (std::uint8_t byte : w.buffer) bits += bits_of(byte, 8);
    return bits + bits_of(w.pending, w.pending_bits);
}

// A code as printed, with the spaces that group its digits removed.
std::string printed(std::string code) {
    std::erase(code, ' ');
    return code;
}

// Random codes of 0 to 32 bits (and a few of negative length), with byte alignment now and then,
// against a writer that appends one bit at a time.
TEST(BitWriter, RandomCodesMatchABitByBitReference) {
    std::mt19937 random(12345);
    BitWriter w;
    init_bit_writer(w);
    std::string expected;
    for (int i = 0; i < 100000; i++) {
        const int n = static_cast<int>(random() % 34) - 1;
        const auto value = static_cast<std::uint32_t>(random());
        write_bits(w, value, n);
        expected += bits_of(value, n);
        if (random() % 97 == 0) {
            align_to_byte(w);
            while (expected.size() % 8 != 0) expected += '0';
        }
    }
    ASSERT_EQ(bits_written(w), static_cast<std::int64_t>(expected.size()));
    EXPECT_EQ(bit_string(w), expected);
}

std::string text_of(VlcCode c) { return bits_of(c.code, c.length); }

// With `sign`, each code twice, followed by either sign bit.
template <class Table>
void append_codes(std::vector<std::string>& codes, const Table& table, bool sign = false) {
    for (const VlcCode& c : table)
        for (const char* tail : sign ? std::vector<const char*>{"0", "1"} : std::vector<const char*>{""})
            if (c.length) codes.push_back(text_of(c) + tail);
}

// Most codes are too rare for the decoder tests to meet, and a wrong entry almost always breaks one of these
// properties: no code is a prefix of another, and the sum of 2^-length (in units of 2^-20) is the expected one
// (0: not checked). A few entries are spelled out as printed.
TEST(CodeTables, ArePrefixCodesWithTheExpectedGaps) {
    constexpr std::int64_t whole = std::int64_t{1} << 20;
    // Besides the tables' codes: the macroblock escape and stuffing; the coefficient escape and end of block.
    const std::string escape = text_of(dct_escape_code);
    std::vector<std::string> luma, chroma, pattern, motion{text_of(motion_codes[0])},
        increments{text_of(macroblock_escape_code), printed("0000 0001 111")},
        b14{escape, text_of(end_of_block_b14)}, b15{escape, text_of(end_of_block_b15)};
    append_codes(luma, dc_size_luminance_codes);
    append_codes(chroma, dc_size_chrominance_codes);
    append_codes(pattern, coded_block_pattern_codes);
    append_codes(increments, address_increment_codes);
    for (int m = 1; m <= 16; m++) append_codes(motion, std::vector<VlcCode>{motion_codes[m]}, true);
    for (const auto& row : dct_table_b14_run01) append_codes(b14, row, true);
    for (const auto& row : dct_table_b14_run2to31) append_codes(b14, row, true);
    for (const auto& row : dct_table_b15_run01) append_codes(b15, row, true);
    for (const auto& row : dct_table_b15_run2to31) append_codes(b15, row, true);
    EXPECT_EQ(b15.size(), 2u * 111u + 2u);
    std::vector<std::pair<std::vector<std::string>, std::int64_t>> sets = {
        {luma, whole}, {chroma, whole},
        {pattern, whole - (whole >> 9)},          // 0000 0000 0 is forbidden
        {increments, 0},
        {motion, whole - 3 * (whole >> 8)},       // unused: the prefixes 0000 0010 and 0000 000
        {b14, whole - (whole >> 12)},             // only the start code prefix is unused
        {b15, 0}};
    for (const auto& row : macroblock_type_codes) append_codes(sets.emplace_back().first, row);
    for (auto& [codes, kraft] : sets) {
        std::int64_t sum = 0;
        for (const std::string& code : codes) sum += std::int64_t{1} << (20 - code.size());
        EXPECT_TRUE(kraft == 0 || sum == kraft) << codes[0] << "...: " << sum;
        // In sorted order a code that is the prefix of another is the prefix of the next one.
        std::sort(codes.begin(), codes.end());
        for (std::size_t i = 0; i + 1 < codes.size(); i++)
            EXPECT_NE(codes[i + 1].rfind(codes[i], 0), 0u) << codes[i] << " starts " << codes[i + 1];
    }

    const std::pair<VlcCode, const char*> spelled[] = {
        {dc_size_luminance_codes[4], "110"},
        {dc_size_chrominance_codes[11], "1111 1111 11"},
        {coded_block_pattern_codes[60], "111"},
        {coded_block_pattern_codes[27], "0000 0001 1"},
        {address_increment_codes[32], "0000 0011 000"},
        {motion_codes[8], "0000 0101 1"},
        {macroblock_type_codes[2][30], "00010"},
        {dct_table_b14_run01[0][39], "0000 0000 0010 000"},
        {dct_table_b14_run2to31[29][0], "0000 0000 0001 1011"},
        {dct_table_b15_run01[0][14], "1111 1111"},
        {dct_table_b15_run2to31[7][0], "1111 000"},
    };
    for (const auto& [code, text] : spelled) EXPECT_EQ(text_of(code), printed(text));
}

using Writer = const CodeWriter&;

// Codes as printed (spaces group the digits); values beyond the stream's range end on a fatal error whose text
// ends in a line feed of its own, kept verbatim.
TEST(CodeWriters, WriteTheCodesAndEscapesAndRefuseValuesBeyondTheRange) {
    const struct {
        int mpeg1;
        std::function<void(Writer)> write;
        const char* bits;
        const char* fatal = "(no fatal error)";
    } cases[] = {
        // DC differences: size code, then the additional bits (negative values one less, in ones' complement).
        {1, [](Writer w) { write_dc_luminance(w, -1); }, "00 0"},
        {1, [](Writer w) { write_dc_chrominance(w, -5); }, "110 010"},
        {1, [](Writer w) { write_dc_luminance(w, 255); }, "1111110 11111111"},
        {0, [](Writer w) { write_dc_chrominance(w, -2047); }, "1111111111 00000000000"},
        {1, [](Writer w) { write_dc_luminance(w, 256); }, "", "DC value out of range (256)\n"},
        {0, [](Writer w) { write_dc_chrominance(w, -2048); }, "", "DC value out of range (-2048)\n"},
        // The first coefficient of a non-intra block has its own code for level 1. Codes the decoder tests
        // meet in every stream are left to them.
        {1, [](Writer w) { write_first_ac(w, 0, -1); }, "11"},
        {1, [](Writer w) { write_first_ac(w, 1, -1); }, "011 1"},
        {1, [](Writer w) { write_ac(w, 1, 18, 0); }, "0000 0000 0001 0000 0"},
        // Escapes: run in 6 bits, then the level in 8 or 16 bits (MPEG-1) or in 12 bits (MPEG-2).
        {1, [](Writer w) { write_ac(w, 1, 19, 0); }, "000001 000001 00010011"},
        {1, [](Writer w) { write_ac(w, 2, 6, 1); }, "000001 000010 00000110"},
        {1, [](Writer w) { write_ac(w, 40, 127, 0); }, "000001 101000 01111111"},
        {1, [](Writer w) { write_ac(w, 40, 128, 0); }, "000001 101000 00000000 10000000"},
        {1, [](Writer w) { write_ac(w, 40, -128, 0); }, "000001 101000 10000000 10000000"},
        {1, [](Writer w) { write_ac(w, 40, -127, 0); }, "000001 101000 10000001"},
        {0, [](Writer w) { write_ac(w, 63, -1, 0); }, "000001 111111 111111111111"},
        {0, [](Writer w) { write_ac(w, 0, 2047, 1); }, "000001 000000 011111111111"},
        {1, [](Writer w) { write_ac(w, 0, 256, 0); }, "", "AC value out of range (run=0, signed_level=256)\n"},
        {1, [](Writer w) { write_ac(w, 64, 1, 0); }, "", "AC value out of range (run=64, signed_level=1)\n"},
        {1, [](Writer w) { write_ac(w, 3, 0, 0); }, "", "AC value out of range (run=3, signed_level=0)\n"},
        {0, [](Writer w) { write_ac(w, 0, -2048, 0); }, "", "AC value out of range (run=0, signed_level=-2048)\n"},
        // Address increments beyond 33 are preceded by escapes of 33 each.
        {1, [](Writer w) { write_address_increment(w, 34); }, "0000 0001 000 1"},
        {1, [](Writer w) { write_address_increment(w, 67); }, "0000 0001 000 0000 0001 000 1"},
        {1, [](Writer w) { write_macroblock_type(w, PictureType::I, MacroblockFlag::pattern); }, ""},  // no such type: nothing
        {1, [](Writer w) { write_motion_code(w, 16); }, "0000 0011 00 0"},
        {1, [](Writer w) { for (int v : {0, 1, -1}) write_dual_prime(w, v); }, "0 10 11"},
    };
    for (const auto& c : cases) {
        EncoderState s;
        test::RecordingReporter report(s);
        init_bit_writer(s.bits);
        EXPECT_EQ(test::fatal_text_of([&] { c.write({s.bits, c.mpeg1 != 0, s.report}); }), c.fatal) << c.bits;
        EXPECT_EQ(bit_string(s.bits), printed(c.bits)) << c.fatal;
    }
}

}  // namespace
}  // namespace vintrel
