// The statistics report of a coded picture (its layout is read by people and scripts: kept as it is).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/setup/init_encoder.h"
#include "encoder/setup/statistics.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using enum MacroblockFlag;

// The report of a picture of `columns` x `rows` macroblocks of six blocks each.
std::string report_of(int columns, int rows, const std::vector<MacroblockInfo>& macroblocks) {
    Geometry geometry;
    geometry.macroblock_columns = columns;
    geometry.field_macroblock_rows = rows;
    geometry.blocks_per_macroblock = 6;
    const std::string path = test::scratch_path("statistics.out");
    std::FILE* file = std::fopen(path.c_str(), "w");
    print_statistics(file, geometry, macroblocks);
    std::fclose(file);
    return test::read_file(path);
}

MacroblockInfo macroblock(MacroblockType type, MotionType motion_type, int mquant, int coded_block_pattern,
                          int skipped = 0) {
    MacroblockInfo mb;
    mb.macroblock_type = type;
    mb.motion_type = motion_type;
    mb.mquant = mquant;
    mb.coded_block_pattern = coded_block_pattern;
    mb.skipped = skipped;
    return mb;
}

TEST(Statistics, PredictedPictureLettersCountsAndQuantiserRepeats) {
    using enum MotionType;
    EXPECT_EQ(report_of(5, 2, {macroblock(forward, frame, 4, 0x10, 1),  // skipped, yet counted as forward with 1 block
                               macroblock(intra, {}, 4, 0xFF),          // I: bits 6 and 7 are not blocks
                               macroblock(forward | pattern, frame, 4, 0x01),
                               macroblock(forward | pattern | quantiser, field, 6, 0x03),
                               macroblock(forward, dual_prime, 6, 0),
                               macroblock(backward | pattern, dual_prime, 6, 0x20),  // no letter of its own here
                               macroblock(backward, field, 6, 0),
                               macroblock(forward | backward | pattern, dual_prime, 8, 0x3F),
                               macroblock(forward | backward | pattern | quantiser, field, 8, 0x0C),
                               macroblock({}, {}, 31, 0)}),  // no prediction, not coded
              "\npicture statistics:\n"
              " # of intra coded macroblocks:     1 (10.0%)\n"
              " # of coded blocks:               19 (31.7%)\n"
              " # of not coded macroblocks:       3 (30.0%)\n"
              " # of skipped macroblocks:         1 (10.0%)\n"
              " # of forw. pred. macroblocks:     4 (40.0%)\n"
              " # of backw. pred. macroblocks:    2 (20.0%)\n"
              " # of interpolated macroblocks:    2 (20.0%)\n"
              "\nmacroblock_type map:\n"
              "SN I  F  fQ pN \n"
              "B  bN D  dQ 0N \n"
              "\nmquant map:\n"
              "  4        6   \n"   // repeats within the row are blank
              "  6     8    31\n");  // the first of a row is always printed
    // A picture without macroblocks shows shares of zero, not the result of a division by zero.
    EXPECT_NE(report_of(0, 0, {}).find(" # of intra coded macroblocks:     0 (0.0%)\n"), std::string::npos);
}

}  // namespace
}  // namespace vintrel
