// The frame grabber on bitmaps built by hand: dither patterns, packed codes, records, pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/frame_grabber.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"
#include "tests/fake_movie_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::solid_bitmap;

class FrameGrabber : public testing::Test {
protected:
    // Grabs frame 0 of a one-frame movie made of `bitmap`.
    FrameRecord& grab(const Bitmap& bitmap, int brightness = 0) {
        read_parameters(s);
        s.params.horizontal_size = bitmap.width;
        s.params.vertical_size = bitmap.height;
        s.params.frame_rate = 5.0;
        s.params.statistics_file_name = test::scratch_path("grabber_stat.out");
        init_encoder(s);
        movie = std::make_unique<test::FakeMovie>(std::vector<Bitmap>{bitmap});
        FrameSource source{*movie, host, records, brightness};
        read_movie_frame(s, source, s.buffers.new_org_frame, 0);
        close_statistics_file(s);
        return *records.back();
    }

    EncoderState s;
    test::RecordingReporter report{s};
    std::unique_ptr<test::FakeMovie> movie;
    test::RecordingHost host;
    RecordArray records;
};

TEST_F(FrameGrabber, WhiteFrameGivesWhiteRecordAndLuminance234) {
    FrameRecord& record = grab(solid_bitmap(160, 120, 255, 255, 255));
    EXPECT_EQ(Bytes(record.header.begin(), record.header.end()),
              (Bytes{0x00, 0x00, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x78, 0x00, 0x00, 0x00, 0xF0}));
    Bytes rows;
    for (int y = 0; y < 120; y++) rows.insert(rows.end(), {0xA8, 0x00});
    EXPECT_EQ(record.data, rows);
    // The whole coded area, borders included, is white; no colour.
    for (std::uint8_t y : s.buffers.new_org_frame.plane[0]) ASSERT_EQ(y, 234);
    for (std::uint8_t c : s.buffers.new_org_frame.plane[1]) ASSERT_EQ(c, 128);
    for (std::uint8_t c : s.buffers.new_org_frame.plane[2]) ASSERT_EQ(c, 128);
    EXPECT_EQ(host.received, 1);
    EXPECT_EQ(host.dithered, 1);
}

TEST_F(FrameGrabber, SolidFramesGiveTheirDitherCodes) {
    struct Case {
        Bitmap bitmap;
        int brightness;
        Bytes data;
    };
    const Case cases[] = {
        // Level 2 of the dither: dark grey (10) at even/even and odd/odd, black (11) elsewhere.
        {solid_bitmap(8, 4, 40, 40, 40), 0, {0x82, 0xBB, 0x82, 0xEE, 0x82, 0xBB, 0x82, 0xEE}},
        // Uniform levels: one code everywhere.
        {solid_bitmap(16, 2, 0, 0, 0), 0, {0x84, 0xFF, 0x84, 0xFF}},
        {solid_bitmap(16, 2, 31, 31, 31), 0, {0x84, 0xFF, 0x84, 0xFF}},
        {solid_bitmap(16, 2, 64, 64, 64), 0, {0x84, 0xAA, 0x84, 0xAA}},
        {solid_bitmap(16, 2, 79, 79, 79), 0, {0x84, 0xAA, 0x84, 0xAA}},
        {solid_bitmap(16, 2, 128, 128, 128), 0, {0x84, 0x55, 0x84, 0x55}},
        {solid_bitmap(16, 2, 143, 143, 143), 0, {0x84, 0x55, 0x84, 0x55}},
        {solid_bitmap(16, 2, 192, 192, 192), 0, {0x84, 0x00, 0x84, 0x00}},
        // The grey is the truncated mean of the three colours: (10 + 20 + 69) / 3 = 33, level 2.
        {solid_bitmap(8, 2, 10, 20, 69), 0, {0x82, 0xBB, 0x82, 0xEE}},
        // Brightness beyond the range saturates.
        {solid_bitmap(8, 2, 128, 128, 128), -300, {0x82, 0xFF, 0x82, 0xFF}},
        {solid_bitmap(8, 2, 128, 128, 128), 300, {0x82, 0x00, 0x82, 0x00}},
        // Rows are rounded to an even number of bytes: 158 pixels make 40 bytes, the last holding
        // two pixels; 20 pixels make 5 bytes and a padding byte.
        {solid_bitmap(158, 2, 0, 0, 0), 0, {0xA7, 0xFF, 0x01, 0xF0, 0xA7, 0xFF, 0x01, 0xF0}},
        {solid_bitmap(20, 1, 0, 0, 0), 0, {0x85, 0xFF, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        records.clear();
        EXPECT_EQ(grab(c.bitmap, c.brightness).data, c.data)
            << c.bitmap.width << "x" << c.bitmap.height << " grey " << int(c.bitmap.bits[0]) << " brightness "
            << c.brightness;
    }
    // Luminance 89 where dark grey, 16 where black.
    records.clear();
    grab(solid_bitmap(8, 4, 40, 40, 40));
    const auto& luminance = s.buffers.new_org_frame.plane[0];
    const auto row = static_cast<std::size_t>(s.geometry.coded_width);
    EXPECT_EQ(std::vector<int>({luminance[0], luminance[1], luminance[row], luminance[row + 1]}),
              std::vector<int>({89, 16, 16, 89}));
}

// Indexed pixels look up the colour table; indices beyond it are black.
TEST_F(FrameGrabber, IndexedPixelsTakeTheirColourFromTheTable) {
    Bitmap b;
    b.width = 4;
    b.height = 2;
    b.bits_per_pixel = 8;
    b.colour_table.assign(256, {0, 0, 0, 0});
    b.colour_table[200] = {255, 255, 255, 0};
    b.bits = {200, 200, 7, 7,  // bottom row: white, white, black, black
              7, 200, 7, 200};  // top row
    EXPECT_EQ(grab(b).data, (Bytes{0x02, 0xCC, 0x00, 0x02, 0x0F, 0x00}));

    b.height = 1;
    b.bits_per_pixel = 4;
    b.colour_table.assign(6, {255, 255, 255, 0});
    b.bits = {0x59, 0x15, 0, 0};  // pixels 5, 9, 1, 5: entry 9 is beyond the 6 entries
    records.clear();
    EXPECT_EQ(grab(b).data, (Bytes{0x02, 0x30, 0x00}));
}

TEST(SampleTimes, FifthsOfASecondInMovieUnits) {
    EXPECT_EQ(sample_time(0, 600, 5.0), 0);
    EXPECT_EQ(sample_time(7, 600, 5.0), 840);
    EXPECT_EQ(sample_time(3, 1001, 5.0), 600);  // 3003 / 5 = 600.6, truncated
    EXPECT_EQ(sample_time(1000000, 600, 5.0), 120000000);
}

TEST(PreviewDither, IndexedBitmapsShowTheFourGreys) {
    Bitmap b;
    b.width = 2;
    b.height = 1;
    b.bits_per_pixel = 8;
    b.colour_table.assign(10, {0, 0, 0, 0});
    b.colour_table[9] = {200, 200, 200, 0};
    b.bits = {9, 9, 0, 0};
    dither_preview_bitmap(b, 0);
    // Level 12: white at both positions of the top row.
    EXPECT_EQ(b.bits[0], 3);
    EXPECT_EQ(b.bits[1], 3);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(b.colour_table[static_cast<std::size_t>(i)][0], 85 * i);
}

}  // namespace
}  // namespace vintrel
