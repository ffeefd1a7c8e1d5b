// Sizes, clip table and buffers prepared for a conversion.
#include <gtest/gtest.h>

#include <string>

#include "encoder/setup/init_encoder.h"
#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::ParameterTable;

class InitEncoder : public testing::Test {
protected:
    void init(const ParameterTable& table, int width, int height) {
        table.read_into(s);
        s.statistics_file_name = std::string("-");
        s.horizontal_size = width;
        s.vertical_size = height;
        init_encoder(s);
    }
    EncoderState s;
    test::RecordingReporter report{s};
};

TEST_F(InitEncoder, SmallProgressivePictureSizes) {
    init(ParameterTable(), 160, 120);
    EXPECT_EQ(s.macroblock_columns, 10);
    EXPECT_EQ(s.macroblock_rows, 8);
    EXPECT_EQ(s.coded_width, 160);
    EXPECT_EQ(s.coded_height, 128);
    EXPECT_EQ(s.chroma_width, 80);
    EXPECT_EQ(s.chroma_height, 64);
    EXPECT_EQ(s.blocks_per_macroblock, 6);
    EXPECT_EQ(s.macroblock_info.size(), 80u);
    EXPECT_EQ(s.blocks.size(), 480u);
    EXPECT_EQ(s.new_org_frame.plane[0].size(), 160u * 128u);
    EXPECT_EQ(s.pred_frame.plane[2].size(), 80u * 64u);
}

TEST_F(InitEncoder, InterlacedPicturesRoundToWholeFieldMacroblocks) {
    const ParameterTable interlaced = ParameterTable::mpeg2_main();
    init(interlaced, 160, 120);
    EXPECT_EQ(s.macroblock_rows, 8);
    init(interlaced, 160, 130);
    EXPECT_EQ(s.macroblock_rows, 10);
    EXPECT_EQ(s.coded_height, 160);
    init(ParameterTable(), 160, 130);
    EXPECT_EQ(s.macroblock_rows, 9);
}

TEST_F(InitEncoder, FieldPicturesCodeHalfTheRowsAtDoubleStride) {
    init(ParameterTable::mpeg2_main().set(13, "1"), 720, 576);
    EXPECT_EQ(s.macroblock_rows, 36);
    EXPECT_EQ(s.field_macroblock_rows, 18);
    EXPECT_EQ(s.picture_height, 288);
    EXPECT_EQ(s.line_stride, 1440);
    EXPECT_EQ(s.chroma_line_stride, 720);
    EXPECT_EQ(s.macroblock_info.size(), 45u * 18u);
}

TEST_F(InitEncoder, ChromaFormatsSetPlaneSizesAndBlockCounts) {
    init(ParameterTable::mpeg2_main().set(22, "9").set(25, "2"), 64, 32);
    EXPECT_EQ(s.chroma_width, 32);
    EXPECT_EQ(s.chroma_height, 32);
    EXPECT_EQ(s.blocks_per_macroblock, 8);
    init(ParameterTable::mpeg2_main().set(22, "9").set(25, "3"), 64, 32);
    EXPECT_EQ(s.chroma_width, 64);
    EXPECT_EQ(s.chroma_height, 32);
    EXPECT_EQ(s.blocks_per_macroblock, 12);
    EXPECT_EQ(s.blocks.size(), 4u * 2u * 12u);
}

TEST_F(InitEncoder, ClipTableSaturatesToEightBits) {
    init(ParameterTable(), 16, 16);
    EXPECT_EQ(s.clip(-384), 0);
    EXPECT_EQ(s.clip(-1), 0);
    EXPECT_EQ(s.clip(0), 0);
    EXPECT_EQ(s.clip(77), 77);
    EXPECT_EQ(s.clip(255), 255);
    EXPECT_EQ(s.clip(300), 255);
    EXPECT_EQ(s.clip(639), 255);
}

TEST_F(InitEncoder, SecondConversionReplacesTheBuffersAndStatisticsFile) {
    init(ParameterTable(), 320, 240);
    std::string first = test::scratch_path("first_stat.out");
    s.statistics_file_name = first;
    init_encoder(s);
    EXPECT_TRUE(s.statistics_file_owned);
    std::string second = test::scratch_path("second_stat.out");
    s.statistics_file_name = second;
    s.horizontal_size = 160;
    s.vertical_size = 120;
    init_encoder(s);
    EXPECT_EQ(s.macroblock_info.size(), 80u);
    EXPECT_EQ(s.new_ref_frame.plane[0].size(), 160u * 128u);
    EXPECT_TRUE(close_statistics_file(s));
}

TEST_F(InitEncoder, UncreatableStatisticsFileIsFatal) {
    ParameterTable().read_into(s);
    s.statistics_file_name = "/nonexistent/dir/stat.out";
    s.horizontal_size = 160;
    s.vertical_size = 120;
    EXPECT_EQ(test::fatal_text_of([&] { init_encoder(s); }),
              "Couldn't create statistics output file /nonexistent/dir/stat.out");
}

}  // namespace
}  // namespace vintrel
