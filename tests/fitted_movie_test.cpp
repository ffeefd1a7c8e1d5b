// Frames fitted inside a handheld's screen: the size and the area filter (vintrel-convert --fit is
// the command-line test's).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "convert/fitted_movie.h"

namespace vintrel {
namespace {

TEST(FittedSize, KeepsTheAspectRatioInsideTheScreen) {
    struct Row {
        int width, height;
        ScreenSize screen, expected;
    };
    const Row rows[] = {
        {1280, 720, {160, 160}, {160, 90}},   // wide: the width reaches the edge
        {1920, 1080, {320, 480}, {320, 180}},
        {480, 640, {320, 320}, {240, 320}},   // tall: the height does
        {640, 480, {320, 480}, {320, 240}},
        {1000, 3, {160, 160}, {160, 1}},      // 0.48 of a pixel still leaves one row
        {700, 300, {160, 160}, {160, 69}},    // 68.57 rounds up
        {160, 120, {320, 320}, {160, 120}},   // already fits: never enlarged
        {320, 320, {320, 320}, {320, 320}},
        {1280, 720, {}, {1280, 720}},         // no screen: the movie's own size
    };
    for (const Row& r : rows)
        EXPECT_EQ(fitted_size(r.width, r.height, r.screen), r.expected) << r.width << "x" << r.height;
}

TEST(ParseScreenSize, TakesWholeSidesFrom1To4095) {
    const std::pair<const char*, ScreenSize> good[] = {
        {"160x160", {160, 160}}, {"320X480", {320, 480}}, {"1x4095", {1, 4095}}};
    for (auto [text, size] : good) {
        ScreenSize read;
        EXPECT_TRUE(parse_screen_size(text, read)) << text;
        EXPECT_EQ(read, size) << text;
    }
    for (const char* text : {"0x160", "160x4096", "160", "x", "160x", "x160", "160x160x2", " 16x16", "16x16 ", "-1x5",
                             "16.5x16", ""}) {
        ScreenSize read{7, 7};
        EXPECT_FALSE(parse_screen_size(text, read)) << text;
        EXPECT_EQ(read, (ScreenSize{7, 7})) << text;
    }
}

// Blue follows the column (0, 90, 180 from the left), green the row (0, 90, 180 from the top),
// red is 255. Three old pixels share two new ones by thirds: (0·1 + 90·½) / 1½ = 30 and
// (90·½ + 180·1) / 1½ = 150.
TEST(ScaleByArea, AveragesTheAreaEachNewPixelCovers) {
    Bitmap source;
    source.width = source.height = 3;
    source.bits.assign(static_cast<std::size_t>(source.row_bytes()) * 3, 0);
    const std::uint8_t ramp[] = {0, 90, 180};
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 3; x++) {
            std::uint8_t* p = source.bits.data() + static_cast<std::size_t>(2 - y) * source.row_bytes() + 3 * x;
            p[0] = ramp[x];
            p[1] = ramp[y];
            p[2] = 255;
        }
    Bitmap scaled;
    scale_by_area(source, 2, 2, scaled);
    ASSERT_EQ(scaled.width, 2);
    ASSERT_EQ(scaled.height, 2);
    const int expected[2] = {30, 150};
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++) {
            const std::uint8_t* p = scaled.bits.data() + static_cast<std::size_t>(1 - y) * scaled.row_bytes() + 3 * x;
            EXPECT_EQ(p[0], expected[x]) << x << "," << y;
            EXPECT_EQ(p[1], expected[y]) << x << "," << y;
            EXPECT_EQ(p[2], 255) << x << "," << y;
        }

    // A black and white checkerboard of any even size becomes an even grey: 255 / 2 rounds to 128.
    Bitmap board;
    board.width = 640;
    board.height = 480;
    board.bits.assign(static_cast<std::size_t>(board.row_bytes()) * 480, 0);
    for (int y = 0; y < 480; y++)
        for (int x = y % 2; x < 640; x += 2)
            std::fill_n(board.bits.data() + static_cast<std::size_t>(y) * board.row_bytes() + 3 * x, 3, 255);
    scale_by_area(board, 160, 120, scaled);
    for (std::uint8_t value : scaled.bits) ASSERT_EQ(value, 128);
}

}  // namespace
}  // namespace vintrel
