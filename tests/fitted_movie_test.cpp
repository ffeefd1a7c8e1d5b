// Frames fitted inside a handheld's screen: the size and the area filter (vintrel-convert --fit is
// the command-line test's).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "convert/fitted_movie.h"
#include "tests/fake_movie_for_test.h"

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
        {1000, 3, {160, 160}, {160, 1}},      // 0.48 of a pixel still leaves one row
        {700, 300, {160, 160}, {160, 69}},    // 68.57 rounds up
        {160, 120, {320, 320}, {160, 120}},   // already fits: never enlarged
        {320, 320, {320, 320}, {320, 320}},
        {1280, 720, {}, {1280, 720}},         // no screen: the movie's own size
    };
    for (const Row& r : rows)
        EXPECT_EQ(fitted_size(r.width, r.height, r.screen), r.expected) << r.width << "x" << r.height;
}

// Refused texts ({} below) leave the size as it was. The sign between the sides is x, X or × (UTF-8
// C3 97), with blanks around it and at the ends allowed, never inside a number.
TEST(ParseScreenSize, TakesWholeSidesFrom1To4095) {
    const std::pair<const char*, ScreenSize> cases[] = {
        {"160x160", {160, 160}}, {"320X480", {320, 480}}, {"1x4095", {1, 4095}}, {"0x160", {}}, {"160x4096", {}},
        {"160", {}}, {"x", {}}, {"160x", {}}, {"x160", {}}, {"160x160x2", {}}, {" 16x16", {16, 16}},
        {"16x16 ", {16, 16}}, {"320 x 240", {320, 240}}, {" \t320 X 240\t ", {320, 240}},
        {"320\xC3\x97" "240", {320, 240}}, {"64 \xC3\x97 48", {64, 48}}, {"320\xC3" "240", {}},
        {"3 20x240", {}}, {"320 240", {}}, {"abc", {}}, {"0x0", {}}, {"99999x99999", {}}, {"320x", {}},
        {"-1x5", {}}, {"16.5x16", {}}, {"", {}}, {"  x  ", {}}};
    const ScreenSize before{7, 7};
    for (const auto& [text, size] : cases) {
        ScreenSize read = before;
        EXPECT_EQ(parse_screen_size(text, read), !size.none()) << text;
        EXPECT_EQ(read, size.none() ? before : size) << text;
    }
}

// A square 24-bit picture whose blue follows the column (`ramp` from the left) and green the row
// (from the top); red is 255.
Bitmap gradient(const std::vector<std::uint8_t>& ramp) {
    const int n = static_cast<int>(ramp.size());
    Bitmap b = test::solid_bitmap(n, n, 0, 0, 255);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            std::uint8_t* p = b.bits.data() + static_cast<std::size_t>((n - 1 - y) * b.row_bytes() + 3 * x);
            p[0] = ramp[static_cast<std::size_t>(x)];
            p[1] = ramp[static_cast<std::size_t>(y)];
        }
    return b;
}

// Three old pixels share two new ones by thirds: (0·1 + 90·½) / 1½ = 30 and (90·½ + 181·1) / 1½
// = 150.67, rounded to 151.
TEST(ScaleByArea, AveragesTheAreaEachNewPixelCovers) {
    Bitmap scaled;
    scale_by_area(gradient({0, 90, 181}), 2, 2, scaled);
    EXPECT_EQ(std::tuple(scaled.width, scaled.height, scaled.bits), std::tuple(2, 2, gradient({30, 151}).bits));
}

}  // namespace
}  // namespace vintrel
