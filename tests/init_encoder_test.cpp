// Sizes and buffers prepared for a conversion.
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

// Interlaced frames round the height up to whole field macroblocks (32 lines); field pictures code half
// the rows at twice the line stride; the chroma format sets the chroma planes and blocks.
TEST_F(InitEncoder, SizesOfEachPictureLayout) {
    const struct {
        ParameterTable table;
        int width, height;
        int rows, coded_height, picture_height, line_stride, chroma_width, chroma_height, blocks, macroblocks;
    } layouts[] = {
        {ParameterTable(), 160, 120, 8, 128, 128, 160, 80, 64, 6, 80},
        {ParameterTable(), 160, 130, 9, 144, 144, 160, 80, 72, 6, 90},
        {ParameterTable::mpeg2_main(), 160, 130, 10, 160, 160, 160, 80, 80, 6, 100},
        {ParameterTable::mpeg2_main().set(13, "1"), 720, 576, 36, 576, 288, 1440, 360, 288, 6, 45 * 18},
        {ParameterTable::mpeg2_main().set(22, "9").set(25, "2"), 64, 32, 2, 32, 32, 64, 32, 32, 8, 8},
        {ParameterTable::mpeg2_main().set(22, "9").set(25, "3"), 64, 32, 2, 32, 32, 64, 64, 32, 12, 8},
    };
    for (const auto& l : layouts) {
        init(l.table, l.width, l.height);
        SCOPED_TRACE(testing::Message() << l.width << "x" << l.height << " format " << s.chroma_format);
        EXPECT_EQ(s.macroblock_rows, l.rows);
        EXPECT_EQ(s.coded_height, l.coded_height);
        EXPECT_EQ(s.picture_height, l.picture_height);
        EXPECT_EQ(s.line_stride, l.line_stride);
        EXPECT_EQ(s.chroma_width, l.chroma_width);
        EXPECT_EQ(s.chroma_height, l.chroma_height);
        EXPECT_EQ(s.blocks_per_macroblock, l.blocks);
        EXPECT_EQ(s.macroblock_info.size(), static_cast<std::size_t>(l.macroblocks));
        EXPECT_EQ(s.blocks.size(), static_cast<std::size_t>(l.macroblocks * l.blocks));
        EXPECT_EQ(s.new_ref_frame.plane[0].size(), static_cast<std::size_t>(s.coded_width * l.coded_height));
        EXPECT_EQ(s.pred_frame.plane[2].size(), static_cast<std::size_t>(l.chroma_width * l.chroma_height));
    }
}

TEST_F(InitEncoder, SecondConversionReplacesTheStatisticsFileAndAnUncreatableOneIsFatal) {
    init(ParameterTable(), 320, 240);
    s.statistics_file_name = test::scratch_path("first_stat.out");
    init_encoder(s);
    EXPECT_TRUE(s.statistics_file_owned);
    s.statistics_file_name = test::scratch_path("second_stat.out");
    init_encoder(s);
    EXPECT_TRUE(close_statistics_file(s));

    s.statistics_file_name = "/nonexistent/dir/stat.out";
    EXPECT_EQ(test::fatal_text_of([&] { init_encoder(s); }),
              "Couldn't create statistics output file /nonexistent/dir/stat.out");
}

}  // namespace
}  // namespace vintrel
