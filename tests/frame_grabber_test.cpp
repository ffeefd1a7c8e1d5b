// The frame grabber on bitmaps built by hand: dither patterns, packed codes, records, pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "convert/frame_grabber.h"
#include "convert/sample_rate.h"
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
        s.params.frame_rate = frames_per_second;
        s.params.statistics_file_name = test::scratch_path("grabber_stat.out");
        init_encoder(s);
        test::FakeMovie movie(std::vector<Bitmap>{bitmap});
        FrameSource source{movie, host, records, brightness};
        read_movie_frame(s.params, s.geometry, source, s.buffers.new_org_frame, 0);
        close_statistics_file(s);
        return *records.back();
    }

    EncoderState s;
    test::RecordingReporter report{s};
    test::RecordingHost host;
    RecordArray records;
};

TEST_F(FrameGrabber, SolidFramesGiveTheirDitherCodes) {
    // Uniform levels, at both ends of their bands, and brightness beyond the range, which saturates:
    // one code everywhere.
    const std::tuple<std::uint8_t, int, std::uint8_t> levels[] = {
        {0, 0, 0xFF},   {31, 0, 0xFF},  {64, 0, 0xAA},  {79, 0, 0xAA},      {128, 0, 0x55},
        {143, 0, 0x55}, {192, 0, 0x00}, {255, 0, 0x00}, {128, -300, 0xFF}, {128, 300, 0x00}};
    for (const auto& [grey, brightness, code] : levels)
        EXPECT_EQ(grab(solid_bitmap(16, 2, grey, grey, grey), brightness).data, (Bytes{0x84, code, 0x84, code}))
            << int(grey) << " brightness " << brightness;

    struct Case {
        Bitmap bitmap;
        Bytes two_rows;  // the packets of the top two rows, which every further pair repeats
    };
    const Case cases[] = {
        // Level 2 of the dither: dark grey (10) at even/even and odd/odd, black (11) elsewhere.
        {solid_bitmap(8, 4, 40, 40, 40), {0x82, 0xBB, 0x82, 0xEE}},
        // The grey is the truncated mean of the three colours: (10 + 20 + 69) / 3 = 33, level 2.
        {solid_bitmap(8, 2, 10, 20, 69), {0x82, 0xBB, 0x82, 0xEE}},
        // Rows are rounded to an even number of bytes: 158 pixels make 40 bytes, the last holding
        // two pixels; 20 pixels make 5 bytes and a padding byte.
        {solid_bitmap(158, 2, 0, 0, 0), {0xA7, 0xFF, 0x01, 0xF0, 0xA7, 0xFF, 0x01, 0xF0}},
        {solid_bitmap(20, 2, 0, 0, 0), {0x85, 0xFF, 0x01, 0x00, 0x85, 0xFF, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        const FrameRecord& record = grab(c.bitmap);
        Bytes rows;
        for (int y = 0; y < c.bitmap.height; y += 2) rows.insert(rows.end(), c.two_rows.begin(), c.two_rows.end());
        EXPECT_EQ(record.data, rows) << c.bitmap.width << "x" << c.bitmap.height;
        EXPECT_EQ(std::pair(record.width(), record.height()), std::pair(c.bitmap.width + 0u, c.bitmap.height + 0u));
    }
    const int grabbed = static_cast<int>(std::size(levels) + std::size(cases));
    EXPECT_EQ(std::pair(host.received, host.dithered), std::pair(grabbed, grabbed));

    // The picture's luminance is 89 where dark grey, 16 where black; its borders repeat the last
    // column and row, and it has no colour.
    grab(solid_bitmap(8, 4, 40, 40, 40));
    const auto& planes = s.buffers.new_org_frame.plane;
    const auto width = static_cast<std::size_t>(s.geometry.coded_width);
    for (std::size_t i = 0; i < planes[0].size(); i++) {
        const std::size_t x = std::min<std::size_t>(i % width, 7), y = std::min<std::size_t>(i / width, 3);
        ASSERT_EQ(planes[0][i], (x + y) % 2 ? 16 : 89) << i % width << "," << i / width;
    }
    for (const auto& colour : {planes[1], planes[2]})
        EXPECT_EQ(colour, std::vector<std::uint8_t>(colour.size(), 128));
}

// Indexed pixels look up the colour table; indices beyond it are black. Previews dither such
// bitmaps in place and show the four greys.
TEST_F(FrameGrabber, IndexedPixelsTakeTheirColourFromTheTable) {
    Bitmap b{.width = 4, .height = 2, .bits_per_pixel = 8,
             .colour_table = std::vector<std::array<std::uint8_t, 4>>(256),
             .bits = {200, 200, 7, 7,    // bottom row: white, white, black, black
                      7, 200, 7, 200}};  // top row
    b.colour_table[200] = {255, 255, 255, 0};
    EXPECT_EQ(grab(b).data, (Bytes{0x02, 0xCC, 0x00, 0x02, 0x0F, 0x00}));
    // Brightness beyond the range saturates: every pixel white, or every pixel black.
    EXPECT_EQ(grab(b, 255).data, (Bytes{0x82, 0x00, 0x82, 0x00}));
    EXPECT_EQ(grab(b, -255).data, (Bytes{0x02, 0xFF, 0x00, 0x02, 0xFF, 0x00}));
    dither_preview_bitmap(b, 0);
    EXPECT_EQ(b.bits, (Bytes{3, 3, 0, 0, 0, 3, 0, 3}));
    const std::vector<std::array<std::uint8_t, 4>> greys = {{0, 0, 0, 0}, {85, 85, 85, 0}, {170, 170, 170, 0},
                                                             {255, 255, 255, 0}};
    EXPECT_EQ(std::vector(b.colour_table.begin(), b.colour_table.begin() + 4), greys);

    b.height = 1;
    b.bits_per_pixel = 4;
    b.colour_table.assign(6, {255, 255, 255, 0});
    b.bits = {0x59, 0x15, 0, 0};  // pixels 5, 9, 1, 5: entry 9 is beyond the 6 entries
    EXPECT_EQ(grab(b).data, (Bytes{0x02, 0x30, 0x00}));
}

TEST(SampleTimes, FifthsOfASecondInMovieUnits) {
    EXPECT_EQ(sample_time(0, 600, 5.0), 0);
    EXPECT_EQ(sample_time(7, 600, 5.0), 840);
    EXPECT_EQ(sample_time(3, 1001, 5.0), 600);  // 3003 / 5 = 600.6, truncated
    EXPECT_EQ(sample_time(1000000, 600, 5.0), 120000000);
}

}  // namespace
}  // namespace vintrel
