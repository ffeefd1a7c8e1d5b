// Source pictures: the movie path's colour conversion and finishing, plane files, frame dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "encoder/setup/colour_conversion.h"
#include "encoder/setup/init_encoder.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using Plane = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

// Sizes, clip table and picture buffers through the encoder's own initialisation.
void prepare(EncoderState& s, int width, int height, int chroma_format, int is_mpeg1 = 1) {
    s.horizontal_size = width;
    s.vertical_size = height;
    s.chroma_format = chroma_format;
    s.is_mpeg1 = is_mpeg1;
    s.progressive_sequence = 1;
    s.progressive_frame = 1;
    s.field_pictures = 0;
    s.matrix_coefficients = 4;
    s.statistics_file_name = std::string("-");
    init_encoder(s);
}

// Feeds one movie frame through the movie path, pixel by pixel as the frame grabber does.
template <class ColourAt>
void convert_frame(EncoderState& s, Picture& picture, ColourAt colour_at) {
    begin_movie_picture(s, picture);
    for (int y = 0; y < s.vertical_size; y++)
        for (int x = 0; x < s.horizontal_size; x++) {
            const Rgb c = colour_at(x, y);
            convert_movie_pixel(s, picture, x, y, c[0], c[1], c[2]);
        }
    finish_movie_picture(s, picture);
}

Rgb grey(int g) { return {g, g, g}; }

std::uint8_t at(const Plane& plane, int stride, int x, int y) {
    return plane[static_cast<std::size_t>(y * stride + x)];
}

// Columns w..stride-1 repeat column w-1 and rows h..rows-1 repeat row h-1.
void expect_extended(const Plane& plane, int w, int h, int stride, int rows, const char* what) {
    for (int y = 0; y < h; y++)
        for (int x = w; x < stride; x++)
            ASSERT_EQ(at(plane, stride, x, y), at(plane, stride, w - 1, y)) << what << " x=" << x << " y=" << y;
    for (int y = h; y < rows; y++)
        for (int x = 0; x < stride; x++)
            ASSERT_EQ(at(plane, stride, x, y), at(plane, stride, x, h - 1)) << what << " x=" << x << " y=" << y;
}

class ColourConversion : public testing::Test {
protected:
    Picture& picture() { return s.new_org_frame; }
    EncoderState s;
    test::RecordingReporter report{s};
};

TEST_F(ColourConversion, DitheredGreysGiveVideoRangeLuminanceAndNeutralChroma) {
    for (int matrix : {1, 2, 4, 5, 6, 7}) {
        prepare(s, 16, 16, 3);
        s.matrix_coefficients = matrix;
        begin_movie_picture(s, picture());
        const int greys[4] = {0, 85, 170, 255};
        for (int x = 0; x < 4; x++) convert_movie_pixel(s, picture(), x, 0, greys[x], greys[x], greys[x]);
        // Y * 219/256 + 16.5 truncated: 16, 72.71 + 16.5, 145.43 + 16.5, 218.14 + 16.5.
        const int luminance[4] = {16, 89, 161, 234};
        for (int x = 0; x < 4; x++) {
            EXPECT_EQ(picture()[0][x], luminance[x]) << "matrix " << matrix << " grey " << greys[x];
            EXPECT_EQ(picture()[1][x], 128) << "matrix " << matrix << " grey " << greys[x];
            EXPECT_EQ(picture()[2][x], 128) << "matrix " << matrix << " grey " << greys[x];
        }
        // A pixel beyond the coded width has no place in the planes; it must not land on row 1.
        convert_movie_pixel(s, picture(), 16, 0, 255, 255, 255);
        EXPECT_EQ(picture()[0][16], 0);
    }
}

TEST_F(ColourConversion, OtherColoursTakeTheWeightedFormula) {
    prepare(s, 16, 16, 3);  // matrix 4: kr 0.30, kg 0.59, kb 0.11; cu = 0.5/0.89, cv = 0.5/0.70
    begin_movie_picture(s, picture());
    convert_movie_pixel(s, picture(), 0, 0, 255, 0, 0);
    convert_movie_pixel(s, picture(), 1, 0, 0, 255, 0);
    convert_movie_pixel(s, picture(), 2, 0, 0, 0, 255);
    // Red: Y 76.5 -> 81.94; Cb -42.98 * 0.875 + 128.5 = 90.89; Cr 127.5 * 0.875 + 128.5 = 240.06.
    // Green: Y 150.45 -> 145.21; Cb 54.54; Cr 34.47.
    // Blue: Y 28.05 -> 40.50; Cb 240.06; Cr 110.97.
    const int expected[3][3] = {{81, 90, 240}, {145, 54, 34}, {40, 240, 110}};
    for (int x = 0; x < 3; x++)
        for (int c = 0; c < 3; c++) EXPECT_EQ(picture()[c][x], expected[x][c]) << "pixel " << x << " plane " << c;
}

// Greys in a diagonal pattern, with coloured pixels in the last column and row so that the
// colour-difference planes are not flat at the picture's edges.
Rgb edge_pattern(int x, int y) {
    if (x == 149) return {255, 0, 0};
    if (y == 99) return {0, 0, 255};
    return grey(85 * ((x + y) % 4));
}

TEST_F(ColourConversion, BordersRepeatTheLastColumnAndRowInAllFullSizePlanes) {
    prepare(s, 150, 100, 1);
    convert_frame(s, picture(), edge_pattern);
    expect_extended(picture().plane[0], 150, 100, 160, 112, "luminance");
    expect_extended(s.colour.cb_full, 150, 100, 160, 112, "Cb work plane");
    expect_extended(s.colour.cr_full, 150, 100, 160, 112, "Cr work plane");
    EXPECT_EQ(at(picture().plane[0], 160, 159, 111), 81);   // the red corner pixel
    EXPECT_EQ(at(s.colour.cr_full, 160, 155, 50), 240);      // red column carried right
    EXPECT_EQ(at(s.colour.cb_full, 160, 20, 105), 240);      // blue row carried down

    // 4:4:4 has no work planes: the picture's own Cb and Cr planes are extended.
    prepare(s, 150, 100, 3);
    convert_frame(s, picture(), edge_pattern);
    expect_extended(picture().plane[0], 150, 100, 160, 112, "luminance 4:4:4");
    expect_extended(picture().plane[1], 150, 100, 160, 112, "Cb 4:4:4");
    expect_extended(picture().plane[2], 150, 100, 160, 112, "Cr 4:4:4");
}

TEST_F(ColourConversion, ChromaFormatsAndStreamTypesChooseTheFilters) {
    // 4:2:2: only the horizontal filter; the picture's chroma plane is 8 x 16.
    prepare(s, 16, 16, 2);
    convert_frame(s, picture(), [](int, int) { return grey(170); });
    EXPECT_EQ(picture().plane[1], Plane(8 * 16, 128));
    EXPECT_EQ(picture().plane[2], Plane(8 * 16, 128));

    // MPEG-2 4:2:0 uses the co-sited horizontal filter, whose gain turns a flat 128 into 129.
    prepare(s, 16, 16, 1, 0);
    convert_frame(s, picture(), [](int, int) { return grey(0); });
    EXPECT_EQ(picture().plane[0], Plane(16 * 16, 16));
    EXPECT_EQ(picture().plane[1], Plane(8 * 8, 129));
    EXPECT_EQ(picture().plane[2], Plane(8 * 8, 129));
}

// A picture of one colour skips the filters; the result must be what the filters give.
TEST_F(ColourConversion, UniformPicturesMatchTheFilteredPlanes) {
    for (int chroma_format : {1, 2}) {
        for (int is_mpeg1 : {1, 0}) {
            prepare(s, 48, 32, chroma_format, is_mpeg1);
            convert_frame(s, picture(), [](int, int) { return Rgb{200, 30, 90}; });
            const Plane fast_cb = picture().plane[1], fast_cr = picture().plane[2];
            Plane cb(picture().plane[1].size()), cr(cb.size());
            if (chroma_format == 2) {
                subsample_444_to_422(s, s.colour.cb_full.data(), cb.data());
                subsample_444_to_422(s, s.colour.cr_full.data(), cr.data());
            } else {
                subsample_444_to_422(s, s.colour.cb_full.data(), s.colour.cb_half.data());
                subsample_422_to_420(s, s.colour.cb_half.data(), cb.data());
                subsample_444_to_422(s, s.colour.cr_full.data(), s.colour.cr_half.data());
                subsample_422_to_420(s, s.colour.cr_half.data(), cr.data());
            }
            EXPECT_EQ(fast_cb, cb) << "chroma_format " << chroma_format << ", MPEG-1 " << is_mpeg1;
            EXPECT_EQ(fast_cr, cr) << "chroma_format " << chroma_format << ", MPEG-1 " << is_mpeg1;
        }
    }
}

// The grabber hands over whole rows of greys; they must give what pixel-by-pixel conversion gives.
TEST_F(ColourConversion, GreyRowsConvertLikeSinglePixels) {
    auto pattern = [](int x, int y) { return grey(85 * ((x * 3 + y) % 4)); };
    for (int chroma_format : {1, 2, 3}) {
        prepare(s, 150, 100, chroma_format);
        convert_frame(s, picture(), pattern);
        const Picture by_pixel = [&] {
            Picture copy;
            copy.plane = picture().plane;
            return copy;
        }();
        begin_movie_picture(s, picture());
        std::vector<std::uint8_t> row(150);
        for (int y = 0; y < 100; y++) {
            for (int x = 0; x < 150; x++) row[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(pattern(x, y)[0]);
            convert_movie_grey_row(s, picture(), y, row.data(), 150);
        }
        finish_movie_picture(s, picture());
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(picture().plane[static_cast<std::size_t>(c)], by_pixel.plane[static_cast<std::size_t>(c)])
                << "chroma_format " << chroma_format << ", plane " << c;
    }
}

TEST_F(ColourConversion, WorkPlanesGrowForALargerMovie) {
    prepare(s, 32, 32, 3);  // no work planes needed
    convert_frame(s, picture(), [](int, int) { return grey(85); });
    EXPECT_TRUE(s.colour.cb_full.empty());

    prepare(s, 32, 32, 1);
    convert_frame(s, picture(), [](int, int) { return grey(85); });
    EXPECT_GE(s.colour.cb_full.size(), 32u * 32u);
    EXPECT_GE(s.colour.cr_half.size(), 16u * 32u);

    // A white frame fills the whole coded area of the larger picture.
    prepare(s, 150, 100, 1);
    convert_frame(s, picture(), [](int, int) { return grey(255); });
    EXPECT_GE(s.colour.cb_full.size(), 160u * 112u);
    EXPECT_GE(s.colour.cr_half.size(), 80u * 112u);
    EXPECT_EQ(picture().plane[0], Plane(160 * 112, 234));
    EXPECT_EQ(picture().plane[1], Plane(80 * 56, 128));
    EXPECT_EQ(picture().plane[2], Plane(80 * 56, 128));
}

TEST_F(ColourConversion, ReadFrameDispatchesByInputFormat) {
    prepare(s, 16, 16, 1);
    int asked = -1;
    Picture* filled = nullptr;
    s.read_movie_frame = [&](Picture& p, int n) {
        asked = n;
        filled = &p;
    };
    s.input_picture_format = 2;
    read_frame(s, "unused", picture(), 7);
    EXPECT_EQ(asked, 7);
    EXPECT_EQ(filled, &picture());

    // An unknown format reads nothing.
    s.input_picture_format = 5;
    const Picture before = picture();
    read_frame(s, test::scratch_path("no_such_frame"), picture(), 8);
    EXPECT_EQ(asked, 7);
    EXPECT_EQ(picture().plane, before.plane);

    const std::string missing = test::scratch_path("no_such_frame");
    s.input_picture_format = 0;
    // The line feed inside the open errors is kept verbatim: standard error shows a blank line after them.
    EXPECT_EQ(test::fatal_text_of([&] { read_frame(s, missing, picture(), 0); }), "Couldn't open " + missing + ".Y\n");
    s.input_picture_format = 1;
    EXPECT_EQ(test::fatal_text_of([&] { read_frame(s, missing, picture(), 0); }), "Couldn't open " + missing + ".yuv\n");
    s.input_picture_format = 2;
    s.read_movie_frame = nullptr;
    EXPECT_EQ(test::fatal_text_of([&] { read_frame(s, "unused", picture(), 0); }), "No movie to read frames from");
}

// Plane files: distinct sample patterns per plane, so a wrong stride or order shows.
std::uint8_t luminance_pattern(int x, int y) { return static_cast<std::uint8_t>(x * 7 + y * 13); }
std::uint8_t cb_pattern(int x, int y) { return static_cast<std::uint8_t>(x * 5 + y * 3 + 40); }
std::uint8_t cr_pattern(int x, int y) { return static_cast<std::uint8_t>(x + y * 11 + 90); }

std::vector<std::uint8_t> pattern_bytes(int w, int h, std::uint8_t (*pattern)(int, int)) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) bytes.push_back(pattern(x, y));
    return bytes;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes, const char* mode = "wb") {
    std::FILE* f = std::fopen(path.c_str(), mode);
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    ASSERT_EQ(std::fclose(f), 0);
}

void expect_plane(const Plane& plane, int w, int h, int stride, int rows, std::uint8_t (*pattern)(int, int),
                  const char* what) {
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) ASSERT_EQ(at(plane, stride, x, y), pattern(x, y)) << what << " x=" << x << " y=" << y;
    expect_extended(plane, w, h, stride, rows, what);
}

class PictureFiles : public ColourConversion {};

TEST_F(PictureFiles, PlanarFilesFillRowsAtThePlaneStride) {
    prepare(s, 150, 100, 1);  // coded 160 x 112; chroma 75 x 50 in planes of 80 x 56
    const std::string stem = test::scratch_path("planar_150x100");
    write_bytes(stem + ".Y", pattern_bytes(150, 100, luminance_pattern));
    write_bytes(stem + ".U", pattern_bytes(75, 50, cb_pattern));
    write_bytes(stem + ".V", pattern_bytes(75, 50, cr_pattern));
    read_planar_files(s, stem, picture());
    expect_plane(picture().plane[0], 150, 100, 160, 112, luminance_pattern, "Y");
    expect_plane(picture().plane[1], 75, 50, 80, 56, cb_pattern, "U");
    expect_plane(picture().plane[2], 75, 50, 80, 56, cr_pattern, "V");

    std::remove((stem + ".V").c_str());
    EXPECT_EQ(test::fatal_text_of([&] { read_planar_files(s, stem, picture()); }), "Couldn't open " + stem + ".V\n");
}

TEST_F(PictureFiles, YuvFileHoldsThePlanesOneAfterAnother) {
    prepare(s, 150, 100, 2);  // 4:2:2: chroma 75 x 100 in planes of 80 x 112
    const std::string stem = test::scratch_path("single_150x100");
    std::vector<std::uint8_t> all = pattern_bytes(150, 100, luminance_pattern);
    for (auto plane : {cb_pattern, cr_pattern}) {
        const std::vector<std::uint8_t> bytes = pattern_bytes(75, 100, plane);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    write_bytes(stem + ".yuv", all);
    read_yuv_file(s, stem, picture());
    expect_plane(picture().plane[0], 150, 100, 160, 112, luminance_pattern, "Y");
    expect_plane(picture().plane[1], 75, 100, 80, 112, cb_pattern, "U");
    expect_plane(picture().plane[2], 75, 100, 80, 112, cr_pattern, "V");
}

TEST_F(PictureFiles, ShortFileLeavesTheUnreadRowsAsTheyWere) {
    prepare(s, 150, 100, 3);
    const std::string stem = test::scratch_path("short_150x100");
    std::vector<std::uint8_t> ten_rows = pattern_bytes(150, 10, luminance_pattern);
    ten_rows.resize(ten_rows.size() + 20, 1);  // and 20 samples of row 10
    write_bytes(stem + ".yuv", ten_rows);
    for (auto& plane : picture().plane) std::fill(plane.begin(), plane.end(), 9);
    read_yuv_file(s, stem, picture());
    const Plane& y = picture().plane[0];
    EXPECT_EQ(at(y, 160, 149, 9), luminance_pattern(149, 9));
    EXPECT_EQ(at(y, 160, 19, 10), 1);
    EXPECT_EQ(at(y, 160, 20, 10), 9);
    EXPECT_EQ(at(y, 160, 5, 99), 9);
    EXPECT_EQ(at(y, 160, 155, 9), luminance_pattern(149, 9));  // borders still extended
    EXPECT_EQ(picture().plane[1], Plane(160 * 112, 9));
}

}  // namespace
}  // namespace vintrel
