// Code tables and code writers, checked against the codes printed in the standard.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/vlc_tables.h"
#include "encoder/coding/vlc_writers.h"
#include "tests/bit_string_for_test.h"
#include "tests/recording_reporter_for_test.h"

namespace vintrel {
namespace {

using test::bit_string;
using test::printed;

std::string text_of(VlcCode c) {
    std::string s;
    for (int b = c.length - 1; b >= 0; b--) s += ((c.code >> b) & 1) ? '1' : '0';
    return s;
}

// Code words with their sign bit spelled out (two words per signed code).
std::vector<std::string> with_sign(const std::vector<std::string>& codes) {
    std::vector<std::string> out;
    for (const std::string& c : codes) {
        out.push_back(c + "0");
        out.push_back(c + "1");
    }
    return out;
}

// Sum of 2^-length in units of 2^-20: 2^20 for a complete code.
std::int64_t kraft_sum(const std::vector<std::string>& codes) {
    std::int64_t sum = 0;
    for (const std::string& c : codes) sum += std::int64_t{1} << (20 - c.size());
    return sum;
}

void expect_prefix_free(const std::vector<std::string>& codes) {
    for (std::size_t i = 0; i < codes.size(); i++)
        for (std::size_t j = 0; j < codes.size(); j++)
            if (i != j) {
                EXPECT_NE(codes[j].rfind(codes[i], 0), 0u) << codes[i] << " is a prefix of " << codes[j];
            }
}

template <std::size_t n>
std::vector<std::string> all_codes(const VlcCode (&table)[n]) {
    std::vector<std::string> codes;
    for (const VlcCode& c : table)
        if (c.length) codes.push_back(text_of(c));
    return codes;
}

std::vector<std::string> dct_codes(const VlcCode (&first)[2][40], const VlcCode (&second)[30][5]) {
    std::vector<std::string> codes;
    auto append = [&codes](const std::vector<std::string>& more) { codes.insert(codes.end(), more.begin(), more.end()); };
    for (const auto& row : first) append(all_codes(row));
    for (const auto& row : second) append(all_codes(row));
    return codes;
}

constexpr std::int64_t whole = std::int64_t{1} << 20;

TEST(CodeTables, DcSizeTablesAreCompletePrefixCodes) {
    for (auto codes : {all_codes(dc_size_luminance_codes), all_codes(dc_size_chrominance_codes)}) {
        EXPECT_EQ(codes.size(), 12u);
        expect_prefix_free(codes);
        EXPECT_EQ(kraft_sum(codes), whole);
    }
    EXPECT_EQ(text_of(dc_size_luminance_codes[0]), "100");
    EXPECT_EQ(text_of(dc_size_luminance_codes[4]), "110");
    EXPECT_EQ(text_of(dc_size_luminance_codes[11]), printed("1111 1111 1"));
    EXPECT_EQ(text_of(dc_size_chrominance_codes[0]), "00");
    EXPECT_EQ(text_of(dc_size_chrominance_codes[3]), "110");
    EXPECT_EQ(text_of(dc_size_chrominance_codes[11]), printed("1111 1111 11"));
}

TEST(CodeTables, CodedBlockPatternLeavesOnlyTheAllZeroPrefixUnused) {
    std::vector<std::string> codes = all_codes(coded_block_pattern_codes);
    EXPECT_EQ(codes.size(), 64u);
    expect_prefix_free(codes);
    EXPECT_EQ(kraft_sum(codes), whole - (whole >> 9));  // 0000 0000 0 is forbidden
    EXPECT_EQ(text_of(coded_block_pattern_codes[60]), "111");
    EXPECT_EQ(text_of(coded_block_pattern_codes[1]), printed("0101 1"));
    EXPECT_EQ(text_of(coded_block_pattern_codes[63]), printed("0011 00"));
    EXPECT_EQ(text_of(coded_block_pattern_codes[27]), printed("0000 0001 1"));
    EXPECT_EQ(text_of(coded_block_pattern_codes[0]), printed("0000 0000 1"));
}

TEST(CodeTables, AddressIncrementAndMotionCodesArePrefixFree) {
    std::vector<std::string> increments = all_codes(address_increment_codes);
    increments.push_back(text_of(macroblock_escape_code));
    increments.push_back(printed("0000 0001 111"));  // macroblock_stuffing
    expect_prefix_free(increments);
    EXPECT_EQ(text_of(address_increment_codes[0]), "1");
    EXPECT_EQ(text_of(address_increment_codes[7]), printed("0000 111"));
    EXPECT_EQ(text_of(address_increment_codes[15]), printed("0000 0101 11"));
    EXPECT_EQ(text_of(address_increment_codes[32]), printed("0000 0011 000"));

    std::vector<std::string> motion = {text_of(motion_codes[0])};
    for (int m = 1; m <= 16; m++) {
        motion.push_back(text_of(motion_codes[m]) + "0");
        motion.push_back(text_of(motion_codes[m]) + "1");
    }
    expect_prefix_free(motion);
    EXPECT_EQ(text_of(motion_codes[3]), "0001");
    EXPECT_EQ(text_of(motion_codes[8]), printed("0000 0101 1"));
    EXPECT_EQ(text_of(motion_codes[16]), printed("0000 0011 00"));
}

TEST(CodeTables, MacroblockTypesOfEachPictureTypeArePrefixFree) {
    for (const auto& row : macroblock_type_codes) {
        std::vector<std::string> codes;
        for (const VlcCode& c : row)
            if (c.length) codes.push_back(text_of(c));
        expect_prefix_free(codes);
    }
    EXPECT_EQ(text_of(macroblock_type_codes[1][10]), "1");
    EXPECT_EQ(text_of(macroblock_type_codes[2][30]), "00010");
    EXPECT_EQ(macroblock_type_codes[0][2].length, 0);
}

TEST(CodeTables, FirstCoefficientTableIsCompleteButForTheStartCodePrefix) {
    std::vector<std::string> codes = with_sign(dct_codes(dct_table_b14_run01, dct_table_b14_run2to31));
    EXPECT_EQ(codes.size(), 2u * 111u);
    codes.push_back(text_of(end_of_block_b14));
    codes.push_back(text_of(dct_escape_code));
    expect_prefix_free(codes);
    // Only words beginning with twelve zeros are unused.
    EXPECT_EQ(kraft_sum(codes), whole - (whole >> 12));
    EXPECT_EQ(text_of(dct_table_b14_run01[0][0]), "11");
    EXPECT_EQ(text_of(dct_table_b14_run01[1][0]), "011");
    EXPECT_EQ(text_of(dct_table_b14_run01[0][4]), printed("0010 0110"));
    EXPECT_EQ(text_of(dct_table_b14_run01[0][39]), printed("0000 0000 0010 000"));
    EXPECT_EQ(text_of(dct_table_b14_run01[1][17]), printed("0000 0000 0001 0000"));
    EXPECT_EQ(text_of(dct_table_b14_run2to31[29][0]), printed("0000 0000 0001 1011"));
    EXPECT_EQ(text_of(dct_table_b14_run2to31[3][2]), printed("0000 0000 1001 0"));
    EXPECT_EQ(dct_table_b14_run01[1][18].length, 0);
    EXPECT_EQ(dct_table_b14_run2to31[2][3].length, 0);
}

TEST(CodeTables, SecondCoefficientTableIsPrefixFree) {
    std::vector<std::string> codes = with_sign(dct_codes(dct_table_b15_run01, dct_table_b15_run2to31));
    EXPECT_EQ(codes.size(), 2u * 111u);
    codes.push_back(text_of(end_of_block_b15));
    codes.push_back(text_of(dct_escape_code));
    expect_prefix_free(codes);
    EXPECT_EQ(text_of(dct_table_b15_run01[0][0]), "10");
    EXPECT_EQ(text_of(dct_table_b15_run01[0][1]), "110");
    EXPECT_EQ(text_of(dct_table_b15_run01[0][14]), printed("1111 1111"));
    EXPECT_EQ(text_of(dct_table_b15_run01[1][1]), printed("0011 0"));
    EXPECT_EQ(text_of(dct_table_b15_run2to31[7][0]), printed("1111 000"));
    EXPECT_EQ(text_of(dct_table_b15_run2to31[2][1]), printed("1111 1101"));
    // Long codes are shared with Table B-14.
    EXPECT_EQ(text_of(dct_table_b15_run01[0][30]), text_of(dct_table_b14_run01[0][30]));
}

class CodeWriters : public testing::Test {
protected:
    CodeWriters() {
        init_bit_writer(s.bits);
        s.is_mpeg1 = 1;
    }
    std::string bits() {
        std::string b = bit_string(s.bits);
        init_bit_writer(s.bits);
        return b;
    }
    EncoderState s;
    test::RecordingReporter report{s};
};

TEST_F(CodeWriters, DcDifferencesWriteSizeThenAdditionalBits) {
    write_dc_luminance(s, 0);
    EXPECT_EQ(bits(), "100");
    write_dc_chrominance(s, 0);
    EXPECT_EQ(bits(), "00");
    write_dc_luminance(s, -1);
    EXPECT_EQ(bits(), "00" "0");
    write_dc_luminance(s, 5);
    EXPECT_EQ(bits(), "101" "101");
    write_dc_chrominance(s, -5);
    EXPECT_EQ(bits(), "110" "010");
    write_dc_luminance(s, 255);
    EXPECT_EQ(bits(), "1111110" "11111111");
    s.is_mpeg1 = 0;
    write_dc_chrominance(s, -2047);
    EXPECT_EQ(bits(), "1111111111" "00000000000");
}

// Both texts end in a line feed of their own, kept verbatim.
TEST_F(CodeWriters, DcDifferencesBeyondTheStreamRangeAreFatal) {
    EXPECT_EQ(test::fatal_text_of([&] { write_dc_luminance(s, 256); }), "DC value out of range (256)\n");
    s.is_mpeg1 = 0;
    EXPECT_EQ(test::fatal_text_of([&] { write_dc_chrominance(s, -2048); }), "DC value out of range (-2048)\n");
}

TEST_F(CodeWriters, CoefficientsUseTheTableWhereItHasACode) {
    write_ac(s, 0, 1, 0);
    EXPECT_EQ(bits(), "11" "0");
    write_first_ac(s, 0, 1);
    EXPECT_EQ(bits(), "10");
    write_first_ac(s, 0, -1);
    EXPECT_EQ(bits(), "11");
    write_first_ac(s, 1, -1);
    EXPECT_EQ(bits(), "011" "1");
    write_ac(s, 31, 1, 0);
    EXPECT_EQ(bits(), printed("0000 0000 0001 1011") + "0");
    write_ac(s, 1, 18, 0);
    EXPECT_EQ(bits(), printed("0000 0000 0001 0000") + "0");
    write_ac(s, 0, -1, 1);
    EXPECT_EQ(bits(), "10" "1");
}

TEST_F(CodeWriters, PairsWithoutACodeEscape) {
    write_ac(s, 1, 19, 0);
    EXPECT_EQ(bits(), "000001" "000001" "00010011");
    write_ac(s, 0, 41, 0);
    EXPECT_EQ(bits(), "000001" "000000" "00101001");
    write_ac(s, 32, 1, 0);
    EXPECT_EQ(bits(), "000001" "100000" "00000001");
    write_ac(s, 2, 6, 1);
    EXPECT_EQ(bits(), "000001" "000010" "00000110");
}

TEST_F(CodeWriters, Mpeg1EscapesUseOneOrTwoLevelBytes) {
    write_ac(s, 40, 127, 0);
    EXPECT_EQ(bits(), "000001" "101000" "01111111");
    write_ac(s, 40, 128, 0);
    EXPECT_EQ(bits(), "000001" "101000" "00000000" "10000000");
    write_ac(s, 40, -128, 0);
    EXPECT_EQ(bits(), "000001" "101000" "10000000" "10000000");
    write_ac(s, 40, -127, 0);
    EXPECT_EQ(bits(), "000001" "101000" "10000001");
    write_ac(s, 40, 255, 0);
    EXPECT_EQ(bits(), "000001" "101000" "00000000" "11111111");
}

TEST_F(CodeWriters, Mpeg2EscapesUseTwelveLevelBits) {
    s.is_mpeg1 = 0;
    write_ac(s, 63, -1, 0);
    EXPECT_EQ(bits(), "000001" "111111" "111111111111");
    write_ac(s, 0, 2047, 1);
    EXPECT_EQ(bits(), "000001" "000000" "011111111111");
}

TEST_F(CodeWriters, CoefficientsBeyondTheStreamRangeAreFatal) {
    EXPECT_EQ(test::fatal_text_of([&] { write_ac(s, 0, 256, 0); }), "AC value out of range (run=0, signed_level=256)\n");
    EXPECT_EQ(test::fatal_text_of([&] { write_ac(s, 64, 1, 0); }), "AC value out of range (run=64, signed_level=1)\n");
    EXPECT_EQ(test::fatal_text_of([&] { write_ac(s, 3, 0, 0); }), "AC value out of range (run=3, signed_level=0)\n");
    s.is_mpeg1 = 0;
    EXPECT_EQ(test::fatal_text_of([&] { write_ac(s, 0, -2048, 0); }), "AC value out of range (run=0, signed_level=-2048)\n");
}

TEST_F(CodeWriters, LongAddressIncrementsUseEscapes) {
    write_address_increment(s, 34);
    EXPECT_EQ(bits(), printed("0000 0001 000") + "1");
    write_address_increment(s, 66);
    EXPECT_EQ(bits(), printed("0000 0001 000") + printed("0000 0011 000"));
    write_address_increment(s, 67);
    EXPECT_EQ(bits(), printed("0000 0001 000 0000 0001 000") + "1");
}

TEST_F(CodeWriters, TypesPatternsAndMotion) {
    write_macroblock_type(s, 1, 17);
    EXPECT_EQ(bits(), "01");
    write_macroblock_type(s, 2, 2);
    EXPECT_EQ(bits(), "01");
    write_macroblock_type(s, 1, 2);  // no such type: nothing is written
    EXPECT_EQ(bits(), "");
    write_coded_block_pattern(s, 4);
    EXPECT_EQ(bits(), "1101");
    write_motion_code(s, 0);
    EXPECT_EQ(bits(), "1");
    write_motion_code(s, -3);
    EXPECT_EQ(bits(), "0001" "1");
    write_motion_code(s, 16);
    EXPECT_EQ(bits(), printed("0000 0011 00") + "0");
    write_dual_prime(s, 0);
    write_dual_prime(s, 1);
    write_dual_prime(s, -1);
    EXPECT_EQ(bits(), "0" "10" "11");
}

}  // namespace
}  // namespace vintrel
