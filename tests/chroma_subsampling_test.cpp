// Border extension and the chroma subsampling filters: edge clamping, rounding, clipping, fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/setup/colour_conversion.h"
#include "encoder/setup/init_encoder.h"

namespace vintrel {
namespace {

using Plane = std::vector<std::uint8_t>;

class ChromaSubsampling : public testing::Test {
protected:
    // Sizes and clip table of a progressive picture, through the encoder's own initialisation.
    void prepare(int width, int height, int is_mpeg1) {
        s.horizontal_size = width;
        s.vertical_size = height;
        s.chroma_format = 1;
        s.is_mpeg1 = is_mpeg1;
        s.progressive_sequence = 1;
        s.progressive_frame = 1;
        s.field_pictures = 0;
        s.statistics_file_name = std::string("-");
        init_encoder(s);
    }

    // A full-width plane of the coded size and the half-width plane it filters into.
    Plane full_plane(std::uint8_t value) const { return Plane(static_cast<std::size_t>(w() * h()), value); }
    Plane half_plane() const { return Plane(static_cast<std::size_t>(w() / 2 * h()), 0); }
    Plane quarter_plane() const { return Plane(static_cast<std::size_t>(w() / 2 * (h() / 2)), 0); }
    int w() const { return s.coded_width; }
    int h() const { return s.coded_height; }

    EncoderState s;
};

TEST_F(ChromaSubsampling, BordersRepeatTheLastColumnThenTheLastRow) {
    const std::uint8_t x = 0xEE;  // outside the picture before extension
    Plane plane = {1, 2, 3, x, x,  //
                   4, 5, 6, x, x,  //
                   x, x, x, x, x,  //
                   x, x, x, x, x};
    extend_borders(plane.data(), 3, 2, 5, 4);
    EXPECT_EQ(plane, (Plane{1, 2, 3, 3, 3, 4, 5, 6, 6, 6, 4, 5, 6, 6, 6, 4, 5, 6, 6, 6}));

    // A picture as wide as the plane only gains rows.
    Plane wide = {7, 8, 9, 0, 0, 0};
    extend_borders(wide.data(), 3, 1, 3, 2);
    EXPECT_EQ(wide, (Plane{7, 8, 9, 7, 8, 9}));

    // Without a picture sample there is nothing to repeat: the plane stays as it was.
    Plane untouched = {1, 2, 3, 4};
    extend_borders(untouched.data(), 0, 2, 2, 2);
    extend_borders(untouched.data(), 2, 0, 2, 2);
    EXPECT_EQ(untouched, (Plane{1, 2, 3, 4}));
}

TEST_F(ChromaSubsampling, InterstitialHorizontalFilterClampsTapsAtBothEdges) {
    prepare(16, 16, 1);
    Plane src = full_plane(100);
    src[15] = 200;                                   // row 0: a raised last sample
    src[16 + 0] = 200;                               // row 1: a raised first sample
    for (int k = 0; k < 16; k++) src[32 + k] = (k >= 3 && k <= 6) ? 255 : 0;  // row 2: a pulse that overshoots
    for (int k = 0; k < 16; k++) src[48 + k] = (k >= 3 && k <= 6) ? 0 : 255;  // row 3: a dip
    Plane dst = half_plane();
    subsample_444_to_422(s, src.data(), dst.data());

    // i = 14: taps i+1 .. i+6 all read s[15]; weights 228+70-37-21+11+5 = 256 at 200, 256 at 100.
    EXPECT_EQ(dst[7], 150);  // (100*256 + 200*256 + 256) >> 9 = 150
    // i = 12: taps i+3 .. i+6 read s[15]; weights -37-21+11+5 = -42 at 200, 554 at 100.
    EXPECT_EQ(dst[6], 92);  // (55400 - 8400 + 256) >> 9 = 92
    // Mirror image on the left edge.
    EXPECT_EQ(dst[8 + 0], 150);
    EXPECT_EQ(dst[8 + 1], 92);
    // i = 4 on the pulse: 228*510 + 70*510 = 151980 -> 297, clipped to 255.
    EXPECT_EQ(dst[16 + 2], 255);
    // The dip: 255*(512 - 596) = -21420 -> -42, clipped to 0.
    EXPECT_EQ(dst[24 + 2], 0);
    // Away from the edges and the pulse a flat stretch passes unchanged.
    EXPECT_EQ(dst[16 + 7], 0);
    EXPECT_EQ(dst[24 + 7], 255);
}

TEST_F(ChromaSubsampling, CoSitedHorizontalFilterClampsTapsAndHasGain514) {
    prepare(16, 16, 0);
    Plane src = full_plane(100);
    src[15] = 200;
    src[16] = 200;
    for (int k = 0; k < 16; k++) src[32 + k] = 128;
    for (int k = 0; k < 16; k++) src[48 + k] = 255;
    Plane dst = half_plane();
    subsample_444_to_422(s, src.data(), dst.data());

    // i = 14: s[15], s[17]->s[15], s[19]->s[15] weigh 159-52+22 = 129 at 200; 385 at 100.
    EXPECT_EQ(dst[7], 126);  // (38500 + 25800 + 256) >> 9 = 126
    // i = 0: s[0] and the left taps clamped to it weigh 256+159-52+22 = 385 at 200; 129 at 100.
    EXPECT_EQ(dst[8], 176);  // (77000 + 12900 + 256) >> 9 = 176
    // Flat rows gain 514/512: 128 -> 129, and 255 -> 256 is clipped back to 255.
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(dst[16 + i], 129) << i;
        EXPECT_EQ(dst[24 + i], 255) << i;
    }
}

// A ramp down each column, value 8 x row, in a plane of 8 half-width columns and 32 rows.
Plane column_ramp(int columns, int rows) {
    Plane p(static_cast<std::size_t>(columns * rows));
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) p[static_cast<std::size_t>(r * columns + c)] = static_cast<std::uint8_t>(8 * r);
    return p;
}

TEST_F(ChromaSubsampling, ProgressiveVerticalFilterClampsAtTopAndBottom) {
    prepare(16, 32, 1);
    const Plane src = column_ramp(8, 32);
    Plane dst = quarter_plane();
    subsample_422_to_420(s, src.data(), dst.data());
    for (int c = 0; c < 8; c++) {
        // j = 0: 228*8 + 70*16 - 37*24 - 21*32 + 11*40 + 5*48 = 2064 (rows above read row 0).
        EXPECT_EQ(dst[0 * 8 + c], 4);
        // j = 12: a straight ramp centred on row 12.5 gives 100.
        EXPECT_EQ(dst[6 * 8 + c], 100);
        // j = 30: 228*488 + 70*480 - 37*472 - 21*464 + 11*456 + 5*448 = 124912 (rows below read row 31).
        EXPECT_EQ(dst[15 * 8 + c], 244);
    }
}

TEST_F(ChromaSubsampling, InterlacedVerticalFilterKeepsEachFieldToItself) {
    prepare(16, 32, 1);
    s.progressive_frame = 0;
    const Plane src = column_ramp(8, 32);
    Plane dst = quarter_plane();
    subsample_422_to_420(s, src.data(), dst.data());

    // Top field, weights 8 5 -30 -18 113 242 192 35 -38 -10 11 2 on rows j-10 .. j+12 (step 2).
    // j = 0: rows above clamp to row 0 (value 0); 192*16 + 35*32 - 38*48 - 10*64 + 11*80 + 2*96 = 2800.
    // j = 12: rows 2 .. 24; the weighted sum is 51200.
    // j = 28: rows beyond clamp to row 30 (240); the weighted sum is 117008.
    // Bottom field, the same weights on rows j+13 .. j-9 (step -2).
    // j = 0: rows above clamp to row 1 (8); the weighted sum is 9968.
    // j = 12: rows 25 .. 3; the weighted sum is 59392.
    // j = 28: rows beyond clamp to row 31 (248); the weighted sum is 124176.
    const int expected[16] = {5, 19, 0, 0, 0, 0, 100, 116, 0, 0, 0, 0, 0, 0, 229, 243};
    for (int row : {0, 1, 6, 7, 14, 15})
        for (int c = 0; c < 8; c++) EXPECT_EQ(dst[static_cast<std::size_t>(row * 8 + c)], expected[row]) << row;

    // Fields of different levels stay apart, even where taps are clamped at the edges.
    Plane fields(8 * 32);
    for (int r = 0; r < 32; r++)
        for (int c = 0; c < 8; c++) fields[static_cast<std::size_t>(r * 8 + c)] = r % 2 ? 200 : 50;
    subsample_422_to_420(s, fields.data(), dst.data());
    for (int row = 0; row < 16; row++)
        for (int c = 0; c < 8; c++) EXPECT_EQ(dst[static_cast<std::size_t>(row * 8 + c)], row % 2 ? 200 : 50) << row;
}

TEST_F(ChromaSubsampling, FlatPlaneStaysFlatThroughFourTwoZero) {
    prepare(32, 32, 1);
    const Plane src = full_plane(77);
    Plane half = half_plane();
    Plane quarter = quarter_plane();
    subsample_444_to_422(s, src.data(), half.data());
    subsample_422_to_420(s, half.data(), quarter.data());
    EXPECT_EQ(quarter, Plane(quarter.size(), 77));

    // Interlaced frames keep it flat as well.
    s.progressive_frame = 0;
    subsample_422_to_420(s, half.data(), quarter.data());
    EXPECT_EQ(quarter, Plane(quarter.size(), 77));

    // The co-sited horizontal filter of MPEG-2 lifts a flat 128 to 129; the vertical filter keeps it.
    s.is_mpeg1 = 0;
    s.progressive_frame = 1;
    const Plane grey = full_plane(128);
    subsample_444_to_422(s, grey.data(), half.data());
    subsample_422_to_420(s, half.data(), quarter.data());
    EXPECT_EQ(quarter, Plane(quarter.size(), 129));
}

}  // namespace
}  // namespace vintrel
