// The statistics report of a coded picture (its layout is read by people and scripts: kept as it is) and
// the reconstructed-picture files; their contents are checked by the decoder tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "encoder/setup/init_encoder.h"
#include "encoder/setup/statistics.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

class Statistics : public testing::Test {
protected:
    void SetUp() override {
        s.statistics.file = std::tmpfile();
        ASSERT_NE(s.statistics.file, nullptr);
        s.statistics.owned = true;
    }

    void layout(int columns, int rows, int blocks_per_macroblock) {
        s.geometry.macroblock_columns = columns;
        s.geometry.macroblock_rows = rows;
        s.geometry.field_macroblock_rows = rows;
        s.geometry.blocks_per_macroblock = blocks_per_macroblock;
        s.buffers.macroblock_info.assign(static_cast<std::size_t>(columns * rows), MacroblockInfo{});
    }

    void set(int k, int type, int motion_type, int mquant, int pattern, int skipped = 0) {
        MacroblockInfo& mb = s.buffers.macroblock_info[static_cast<std::size_t>(k)];
        mb.macroblock_type = type;
        mb.motion_type = static_cast<MotionType>(motion_type);
        mb.mquant = mquant;
        mb.coded_block_pattern = pattern;
        mb.skipped = skipped;
    }

    // Everything written to the statistics file so far.
    std::string text() {
        std::fflush(s.statistics.file);
        std::rewind(s.statistics.file);
        std::string all;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, s.statistics.file)) > 0) all.append(buffer, n);
        return all;
    }

    EncoderState s;
};

constexpr int intra = 1, pattern = 2, backward = 4, forward = 8, quantiser = 16;

TEST_F(Statistics, PredictedPictureLettersCountsAndQuantiserRepeats) {
    layout(5, 2, 6);
    set(0, forward, 2, 4, 0x10, 1);                       // skipped, yet counted as forward with 1 block
    set(1, intra, 0, 4, 0xFF);                            // I: bits 6 and 7 are not blocks
    set(2, forward | pattern, 2, 4, 0x01);                // F: frame motion
    set(3, forward | pattern | quantiser, 1, 6, 0x03);    // f: field motion
    set(4, forward, 3, 6, 0);                             // p: dual prime, not coded
    set(5, backward | pattern, 3, 6, 0x20);               // B: dual prime has no letter of its own here
    set(6, backward, 1, 6, 0);                            // b, not coded
    set(7, forward | backward | pattern, 3, 8, 0x3F);     // D
    set(8, forward | backward | pattern | quantiser, 1, 8, 0x0C);  // d
    set(9, 0, 0, 31, 0);                                  // 0: no prediction, not coded
    print_statistics(s);
    EXPECT_EQ(text(),
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
}

// A picture without macroblocks (no division by zero).
TEST_F(Statistics, EmptyPictureShowsZeroShares) {
    layout(0, 0, 6);
    print_statistics(s);
    const std::string report = text();
    EXPECT_NE(report.find(" # of intra coded macroblocks:     0 (0.0%)\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("nan"), std::string::npos) << report;
}

// Reconstructed-picture files: "-" writes none; a file that cannot be made or written is fatal.
class PictureOutput : public testing::Test {
protected:
    void SetUp() override {
        s.params.horizontal_size = s.params.vertical_size = 16;
        s.params.statistics_file_name = std::string("-");
        init_encoder(s);
    }
    EncoderState s;
};

TEST_F(PictureOutput, AnotherConversionReplacesTheStatisticsFileAndAnUncreatableOneIsFatal) {
    s.params.statistics_file_name = test::scratch_path("first_stat.out");
    init_encoder(s);
    EXPECT_TRUE(s.statistics.owned);
    s.params.statistics_file_name = test::scratch_path("second_stat.out");
    init_encoder(s);
    EXPECT_TRUE(close_statistics_file(s));
    test::RecordingReporter report(s);
    s.params.statistics_file_name = "/nonexistent/dir/stat.out";
    EXPECT_EQ(test::fatal_text_of([&] { init_encoder(s); }),
              "Couldn't create statistics output file /nonexistent/dir/stat.out");
}

TEST_F(PictureOutput, DashWritesNothingAndFileErrorsAreFatal) {
    ASSERT_FALSE(std::filesystem::exists("-.Y"));
    write_frame(s, "-", s.buffers.new_ref_frame);
    EXPECT_FALSE(std::filesystem::exists("-.Y"));
    EXPECT_FALSE(std::filesystem::exists(".Y"));

    test::RecordingReporter report(s);
    // The line feed inside both texts is kept verbatim: standard error shows a blank line after them.
    EXPECT_EQ(test::fatal_text_of([&] { write_frame(s, "/nonexistent/dir/q", s.buffers.new_ref_frame); }),
              "Couldn't create /nonexistent/dir/q.Y\n");

    // A device that is always full accepts the open but not the data.
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string stem = test::scratch_path("recon_full");
    std::filesystem::remove(stem + ".Y");
    std::filesystem::create_symlink("/dev/full", stem + ".Y");
    EXPECT_EQ(test::fatal_text_of([&] { write_frame(s, stem, s.buffers.new_ref_frame); }), "Couldn't write " + stem + ".Y\n");
    std::filesystem::remove(stem + ".Y");
}

}  // namespace
}  // namespace vintrel
