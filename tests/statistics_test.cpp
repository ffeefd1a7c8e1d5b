// The statistics report of a coded picture and the reconstructed-picture files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/setup/init_encoder.h"
#include "encoder/setup/statistics.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

class Statistics : public testing::Test {
protected:
    void SetUp() override {
        s.statistics_file = std::tmpfile();
        ASSERT_NE(s.statistics_file, nullptr);
        s.statistics_file_owned = true;
    }

    void layout(int columns, int rows, int blocks_per_macroblock) {
        s.macroblock_columns = columns;
        s.macroblock_rows = rows;
        s.field_macroblock_rows = rows;
        s.blocks_per_macroblock = blocks_per_macroblock;
        s.macroblock_info.assign(static_cast<std::size_t>(columns * rows), MacroblockInfo{});
    }

    void set(int k, int type, int motion_type, int mquant, int pattern, int skipped = 0) {
        MacroblockInfo& mb = s.macroblock_info[static_cast<std::size_t>(k)];
        mb.macroblock_type = type;
        mb.motion_type = motion_type;
        mb.mquant = mquant;
        mb.coded_block_pattern = pattern;
        mb.skipped = skipped;
    }

    // Everything written to the statistics file so far.
    std::string text() {
        std::fflush(s.statistics_file);
        std::rewind(s.statistics_file);
        std::string all;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, s.statistics_file)) > 0) all.append(buffer, n);
        return all;
    }

    EncoderState s;
};

constexpr int intra = 1, pattern = 2, backward = 4, forward = 8, quantiser = 16;

TEST_F(Statistics, AllIntraPictureReport) {
    layout(2, 2, 6);
    set(0, intra, 0, 8, 0x3F);
    set(1, intra | quantiser, 0, 8, 0x3F);
    set(2, intra, 0, 6, 0x0F);
    set(3, intra | quantiser, 0, 10, 0x3F);
    print_statistics(s);
    EXPECT_EQ(text(),
              "\npicture statistics:\n"
              " # of intra coded macroblocks:     4 (100.0%)\n"
              " # of coded blocks:               22 (91.7%)\n"
              " # of not coded macroblocks:       0 (0.0%)\n"
              " # of skipped macroblocks:         0 (0.0%)\n"
              " # of forw. pred. macroblocks:     0 (0.0%)\n"
              " # of backw. pred. macroblocks:    0 (0.0%)\n"
              " # of interpolated macroblocks:    0 (0.0%)\n"
              "\nmacroblock_type map:\n"
              "I  IQ \n"
              "I  IQ \n"
              "\nmquant map:\n"
              "  8   \n"
              "  6 10\n");
}

TEST_F(Statistics, PredictedPictureLettersCountsAndQuantiserRepeats) {
    layout(5, 2, 6);
    set(0, forward, 2, 4, 0x10, 1);                       // skipped, yet counted as forward with 1 block
    set(1, intra, 0, 4, 0x3F);                            // I
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

TEST_F(Statistics, CodedBlocksCountOnlyTheBlocksOfAMacroblock) {
    // 160 x 120: 10 x 8 macroblocks of 6 blocks, 480 blocks in all.
    layout(10, 8, 6);
    for (int k = 0; k < 80; k++) set(k, intra, 0, 8, 0xFF);  // bits 6 and 7 are not blocks
    print_statistics(s);
    for (int k = 0; k < 80; k++) set(k, intra, 0, 8, 0x07);
    print_statistics(s);
    const std::string report = text();
    EXPECT_NE(report.find(" # of coded blocks:              480 (100.0%)\n"), std::string::npos) << report;
    EXPECT_NE(report.find(" # of coded blocks:              240 (50.0%)\n"), std::string::npos) << report;
    // A row of equal quantisers prints the first and blanks for the rest.
    EXPECT_NE(report.find("\nmquant map:\n  8" + std::string(27, ' ') + "\n"), std::string::npos);
    // Each call appends a report of its own.
    EXPECT_NE(report.find("\npicture statistics:\n"), report.rfind("\npicture statistics:\n"));

    layout(1, 1, 12);
    set(0, intra, 0, 8, 0xFFF);
    print_statistics(s);
    EXPECT_NE(text().find(" # of coded blocks:               12 (100.0%)\n"), std::string::npos);
}

TEST_F(Statistics, EmptyPictureShowsZeroShares) {
    layout(0, 0, 6);
    print_statistics(s);
    const std::string report = text();
    EXPECT_NE(report.find(" # of intra coded macroblocks:     0 (0.0%)\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("nan"), std::string::npos) << report;
}

// Reconstructed files of a picture whose size is not a multiple of 16.
class PictureOutput : public testing::Test {
protected:
    void prepare(int width, int height, int chroma_format) {
        s.horizontal_size = width;
        s.vertical_size = height;
        s.chroma_format = chroma_format;
        s.is_mpeg1 = 1;
        s.progressive_sequence = 1;
        s.progressive_frame = 1;
        s.field_pictures = 0;
        s.statistics_file_name = std::string("-");
        init_encoder(s);
        // Every sample tells its plane and position; the border areas hold 0xEE.
        for (int c = 0; c < 3; c++) {
            const int stride = c == 0 ? s.coded_width : s.chroma_width;
            auto& plane = s.new_ref_frame.plane[static_cast<std::size_t>(c)];
            for (std::size_t i = 0; i < plane.size(); i++)
                plane[i] = sample(c, static_cast<int>(i) % stride, static_cast<int>(i) / stride);
        }
    }

    std::uint8_t sample(int c, int x, int y) const {
        const int width = c == 0 || s.chroma_format == 3 ? s.horizontal_size : s.horizontal_size / 2;
        const int height = c == 0 || s.chroma_format != 1 ? s.vertical_size : s.vertical_size / 2;
        if (x >= width || y >= height) return 0xEE;
        return static_cast<std::uint8_t>((x * 3 + y * 7 + c * 50) % 200);
    }

    // The file must hold exactly the picture rows of plane c, width x height samples.
    void expect_file(const std::string& path, int c, int width, int height) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr) << path;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width * height) + 16);
        const std::size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        ASSERT_EQ(n, static_cast<std::size_t>(width * height)) << path;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                ASSERT_EQ(bytes[static_cast<std::size_t>(y * width + x)], sample(c, x, y)) << path << " x=" << x << " y=" << y;
    }

    EncoderState s;
};

TEST_F(PictureOutput, WritesWholePictureRowsOfEveryPlane) {
    prepare(150, 100, 1);  // planes 160 x 112 and 80 x 56
    const std::string stem = test::scratch_path("recon_420");
    write_frame(s, stem, s.new_ref_frame);
    expect_file(stem + ".Y", 0, 150, 100);
    expect_file(stem + ".U", 1, 75, 50);
    expect_file(stem + ".V", 2, 75, 50);

    prepare(150, 100, 2);
    write_frame(s, stem, s.new_ref_frame);
    expect_file(stem + ".U", 1, 75, 100);
    expect_file(stem + ".V", 2, 75, 100);

    prepare(150, 100, 3);
    write_frame(s, stem, s.new_ref_frame);
    expect_file(stem + ".U", 1, 150, 100);
    expect_file(stem + ".V", 2, 150, 100);
}

TEST_F(PictureOutput, DashNameWritesNothing) {
    prepare(16, 16, 1);
    ASSERT_FALSE(std::filesystem::exists("-.Y"));
    write_frame(s, "-", s.new_ref_frame);
    EXPECT_FALSE(std::filesystem::exists("-.Y"));
    EXPECT_FALSE(std::filesystem::exists(".Y"));
}

TEST_F(PictureOutput, FileErrorsAreFatal) {
    prepare(16, 16, 1);
    test::RecordingReporter report(s);
    // The line feed inside both texts is kept verbatim: standard error shows a blank line after them.
    EXPECT_EQ(test::fatal_text_of([&] { write_frame(s, "/nonexistent/dir/q", s.new_ref_frame); }),
              "Couldn't create /nonexistent/dir/q.Y\n");

    // A device that is always full accepts the open but not the data.
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string stem = test::scratch_path("recon_full");
    std::filesystem::remove(stem + ".Y");
    std::filesystem::create_symlink("/dev/full", stem + ".Y");
    EXPECT_EQ(test::fatal_text_of([&] { write_frame(s, stem, s.new_ref_frame); }), "Couldn't write " + stem + ".Y\n");
    std::filesystem::remove(stem + ".Y");
}

}  // namespace
}  // namespace vintrel
