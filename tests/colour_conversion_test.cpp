// Source pictures: the movie path's colour conversion, the chroma subsampling filters, plane files and
// frame dispatch.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/movie_picture_colour.h"
#include "encoder/setup/chroma_subsampling.h"
#include "cli/picture_files.h"
#include "encoder/setup/init_encoder.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using Plane = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

// Sizes, clip table and picture buffers through the encoder's own initialisation.
void prepare(EncoderState& s, int width, int height, ChromaFormat chroma_format, int is_mpeg1 = 1) {
    s.params.horizontal_size = width;
    s.params.vertical_size = height;
    s.params.chroma_format = chroma_format;
    s.params.is_mpeg1 = is_mpeg1;
    s.params.progressive_sequence = 1;
    s.params.progressive_frame = 1;
    s.params.matrix_coefficients = 4;
    s.params.statistics_file_name = std::string("-");
    init_encoder(s);
}

// Feeds one movie frame through the movie path, pixel by pixel as the frame grabber does.
template <class ColourAt>
void convert_frame(EncoderState& s, MoviePictureColour& colour, Picture& picture, ColourAt colour_at) {
    ASSERT_TRUE(colour.begin(s.params, s.geometry));
    for (int y = 0; y < s.params.vertical_size; y++)
        for (int x = 0; x < s.params.horizontal_size; x++) {
            const Rgb c = colour_at(x, y);
            colour.pixel(picture, x, y, c[0], c[1], c[2]);
        }
    colour.finish(picture);
}

Rgb grey(int g) { return {g, g, g}; }

std::uint8_t at(const Plane& plane, int stride, int x, int y) {
    return plane[static_cast<std::size_t>(y * stride + x)];
}

// Columns w..stride-1 repeat column w-1 and rows h..rows-1 repeat row h-1.
void expect_extended(const Plane& plane, int w, int h, int stride, int rows, const char* what) {
    for (int y = 0; y < rows; y++)
        for (int x = 0; x < stride; x++)
            ASSERT_EQ(at(plane, stride, x, y), at(plane, stride, std::min(x, w - 1), std::min(y, h - 1)))
                << what << " x=" << x << " y=" << y;
}

class ColourConversion : public testing::Test {
protected:
    Picture& picture() { return s.buffers.new_org_frame; }
    const MoviePictureColour::WorkPlanes& work() const { return colour.work_planes(); }
    EncoderState s;
    MoviePictureColour colour;
    test::RecordingReporter report{s};
};

// Greys, every matrix: Y * 219/256 + 16.5 truncated, neutral chroma.
// Primaries, matrix 4: kr 0.30, kg 0.59, kb 0.11; cu = 0.5/0.89, cv = 0.5/0.70.
// Red: Y 76.5 -> 81.94; Cb -42.98 * 0.875 + 128.5 = 90.89; Cr 127.5 * 0.875 + 128.5 = 240.06.
// Green: Y 150.45 -> 145.21; Cb 54.54; Cr 34.47. Blue: Y 28.05 -> 40.50; Cb 240.06; Cr 110.97.
TEST_F(ColourConversion, GreysAndPrimariesTakeTheWeightedFormula) {
    const struct { Rgb rgb, ycbcr; int matrix; } cases[] = {  // matrix 0: every matrix
        {grey(0), {16, 128, 128}, 0}, {grey(85), {89, 128, 128}, 0}, {grey(170), {161, 128, 128}, 0},
        {grey(255), {234, 128, 128}, 0}, {{255, 0, 0}, {81, 90, 240}, 4}, {{0, 255, 0}, {145, 54, 34}, 4},
        {{0, 0, 255}, {40, 240, 110}, 4}};
    for (int matrix : {1, 2, 4, 5, 6, 7}) {
        prepare(s, 16, 16, ChromaFormat::yuv444);
        s.params.matrix_coefficients = matrix;
        colour.begin(s.params, s.geometry);
        for (int x = 0; x < 7; x++) {
            if (cases[x].matrix != 0 && cases[x].matrix != matrix) continue;
            colour.pixel(picture(), x, 0, cases[x].rgb[0], cases[x].rgb[1], cases[x].rgb[2]);
            EXPECT_EQ((Rgb{picture()[0][x], picture()[1][x], picture()[2][x]}), cases[x].ycbcr) << matrix << " " << x;
        }
        // A pixel beyond the coded width has no place in the planes; it must not land on row 1.
        colour.pixel(picture(), 16, 0, 255, 255, 255);
        EXPECT_EQ(picture()[0][16], 0);
    }
}

// Greys in a diagonal pattern, with coloured pixels in the last column and row so that the
// colour-difference planes are not flat at the picture's edges.
Rgb edge_pattern(int x, int y) {
    if (x == 149) return {255, 0, 0};
    if (y == 99) return {0, 0, 255};
    return grey(85 * ((x + y) % 4));
}

TEST_F(ColourConversion, BordersRepeatTheLastColumnAndRowInAllFullSizePlanes) {
    for (ChromaFormat chroma_format : {ChromaFormat::yuv420, ChromaFormat::yuv444}) {
        prepare(s, 150, 100, chroma_format);
        convert_frame(s, colour, picture(), edge_pattern);
        // 4:4:4 has no work planes: the picture's own Cb and Cr planes are extended.
        const auto& p = picture().plane;
        const bool own = chroma_format == ChromaFormat::yuv444;
        const Plane* planes[] = {&p[0], own ? &p[1] : &work().cb_full, own ? &p[2] : &work().cr_full};
        for (const Plane* plane : planes) expect_extended(*plane, 150, 100, 160, 112, own ? "4:4:4" : "4:2:0");
        EXPECT_EQ(at(*planes[0], 160, 159, 111), 81);   // the red corner pixel
        EXPECT_EQ(at(*planes[2], 160, 155, 50), 240);   // red column carried right
        EXPECT_EQ(at(*planes[1], 160, 20, 105), 240);   // blue row carried down
    }
}

// Two shortcuts must give what the general path gives: a picture of one colour skips the filters, and the
// grabber hands over whole rows of greys instead of single pixels.
TEST_F(ColourConversion, ShortcutsMatchPixelByPixelConversionAndTheFilters) {
    auto pattern = [](int x, int y) { return grey(85 * ((x * 3 + y) % 4)); };
    int width = 32;  // each movie larger than the last, so the work planes must grow
    for (ChromaFormat chroma_format : {ChromaFormat::yuv420, ChromaFormat::yuv422, ChromaFormat::yuv444}) {
        for (int is_mpeg1 : {1, 0}) {
            prepare(s, width += 16, 32, chroma_format, is_mpeg1);
            convert_frame(s, colour, picture(), [](int, int) { return Rgb{200, 30, 90}; });
            SCOPED_TRACE(testing::Message() << "chroma_format " << syntax_value(chroma_format) << ", MPEG-1 " << is_mpeg1);
            for (int c = 1; c <= 2 && chroma_format != ChromaFormat::yuv444; c++) {
                const Plane& full = c == 1 ? work().cb_full : work().cr_full;
                Plane half(full.size() / 2), filtered(picture().plane[c].size());
                const bool yuv420 = chroma_format == ChromaFormat::yuv420;
                subsample_444_to_422(s.params, s.geometry, full.data(), (yuv420 ? half : filtered).data());
                if (yuv420) subsample_422_to_420(s.params, s.geometry, half.data(), filtered.data());
                EXPECT_EQ(picture().plane[c], filtered);
            }

            // Rows first, while the work planes still hold the colour of the last picture.
            prepare(s, width - 2, 30, chroma_format, is_mpeg1);  // not a whole number of macroblocks
            ASSERT_TRUE(colour.begin(s.params, s.geometry));
            std::vector<std::uint8_t> row(static_cast<std::size_t>(width - 2));
            for (int y = 0; y < 30; y++) {
                for (std::size_t x = 0; x < row.size(); x++)
                    row[x] = static_cast<std::uint8_t>(pattern(static_cast<int>(x), y)[0]);
                colour.grey_row(picture(), y, row.data(), width - 2);
            }
            colour.finish(picture());
            const auto by_row = picture().plane;
            convert_frame(s, colour, picture(), pattern);
            EXPECT_EQ(by_row, picture().plane);
        }
    }
}

// Plane files: a distinct sample pattern per plane, so that a wrong stride or order shows.
std::uint8_t sample(int c, int x, int y) {
    return static_cast<std::uint8_t>(x * (7 - 2 * c) + y * (13 - 5 * c) + 45 * c);
}

// vintrel-encode's plane files: read into the coded planes (borders extended) and written back
// as they were; "-" writes none; a file that cannot be opened, made or written ends the run with
// the encoder's text, whose line feed is kept (standard error shows a blank line after it).
TEST_F(ColourConversion, PlaneFilesReadIntoTheCodedPlanesAndWriteBackAsTheyWere) {
    prepare(s, 150, 100, ChromaFormat::yuv420);  // coded 160 x 112; chroma 75 x 50 in planes of 80 x 56
    const std::string stem = test::scratch_path("planar_150x100"), copy = test::scratch_path("copy_150x100");
    for (int c = 0; c < 3; c++) {
        std::ofstream out(stem + '.' + "YUV"[c], std::ios::binary);
        for (int y = 0; y < (c ? 50 : 100); y++)
            for (int x = 0; x < (c ? 75 : 150); x++) out.put(static_cast<char>(sample(c, x, y)));
    }
    ASSERT_FALSE(read_source_picture(s.params, s.geometry, stem, picture()).failed());
    for (int c = 0; c < 3; c++) {
        const int w = c ? 75 : 150, h = c ? 50 : 100, stride = c ? 80 : 160;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) ASSERT_EQ(at(picture().plane[c], stride, x, y), sample(c, x, y)) << c;
        expect_extended(picture().plane[c], w, h, stride, c ? 56 : 112, "plane file");
    }
    ASSERT_FALSE(write_reconstruction(s.params, s.geometry, copy, picture()).failed());
    for (const char* plane : {".Y", ".U", ".V"}) EXPECT_EQ(test::read_file(copy + plane), test::read_file(stem + plane));
    EXPECT_FALSE(write_reconstruction(s.params, s.geometry, "-", picture()).failed());
    EXPECT_FALSE(std::filesystem::exists("-.Y"));

    std::remove((stem + ".V").c_str());
    if (std::filesystem::exists("/dev/full")) {  // a device that takes the open but not the data
        std::filesystem::remove(copy + ".Y");
        std::filesystem::create_symlink("/dev/full", copy + ".Y");
    }
    const struct { int format; std::string name; bool write; std::string text; } cases[] = {
        {0, stem, false, "Couldn't open " + stem + ".V\n"},
        {1, stem, false, "Couldn't open " + stem + ".yuv\n"},
        {0, "/nonexistent/dir/q", true, "Couldn't create /nonexistent/dir/q.Y\n"},
        {0, copy, true, std::filesystem::exists("/dev/full") ? "Couldn't write " + copy + ".Y\n" : "(no fatal error)"},
    };
    for (const auto& c : cases) {
        s.params.input_picture_format = static_cast<InputPictureFormat>(c.format);
        EXPECT_EQ(test::fatal_text_of([&] {
                      return c.write ? write_reconstruction(s.params, s.geometry, c.name, picture())
                                     : read_source_picture(s.params, s.geometry, c.name, picture());
                  }),
                  c.text);
    }
    std::filesystem::remove(copy + ".Y");
}

// Rows of 16 samples through the horizontal filters of both stream types, whose taps are clamped at the edges.
TEST_F(ColourConversion, HorizontalFiltersClampTapsAtBothEdgesAndClip) {
    Plane src(16 * 16, 100), dst(8 * 16);
    src[15] = 200;     // row 0: a raised last sample
    src[16] = 200;     // row 1: a raised first sample
    for (int k = 0; k < 16; k++) {
        src[32 + k] = (k >= 3 && k <= 6) ? 255 : 0;  // row 2: a pulse that overshoots
        src[48 + k] = (k >= 3 && k <= 6) ? 0 : 255;  // row 3: a dip
        src[64 + k] = 128;                           // row 4: flat
    }
    // MPEG-1, i = 14: taps i+1 .. i+6 all read s[15]; weights 228+70-37-21+11+5 = 256 at 200, 256 at 100:
    // (100*256 + 200*256 + 256) >> 9 = 150. i = 12: taps i+3 .. i+6 read s[15]; weights -37-21+11+5 = -42 at
    // 200, 554 at 100: (55400 - 8400 + 256) >> 9 = 92. The mirror image on the left edge. i = 4 on the pulse:
    // 228*510 + 70*510 = 151980 -> 297, clipped to 255; the dip: 255*(512 - 596) = -21420 -> -42, clipped to 0.
    // Away from the edges and the pulse a flat stretch passes unchanged.
    const std::vector<std::pair<int, int>> interstitial = {{7, 150},  {6, 92},  {8, 150},  {9, 92},  {18, 255},
                                                           {26, 0},   {23, 0},  {31, 255}, {32, 128}, {39, 128}};
    // MPEG-2, i = 14: s[15], s[17]->s[15], s[19]->s[15] weigh 159-52+22 = 129 at 200; 385 at 100:
    // (38500 + 25800 + 256) >> 9 = 126. i = 0: s[0] and the left taps clamped to it weigh 256+159-52+22 = 385
    // at 200; 129 at 100: (77000 + 12900 + 256) >> 9 = 176. Flat rows gain 514/512: 128 -> 129, 255 -> 255.
    const std::vector<std::pair<int, int>> co_sited = {{7, 126}, {8, 176}, {32, 129}, {39, 129}, {31, 255}};
    for (int is_mpeg1 : {1, 0}) {
        prepare(s, 16, 16, ChromaFormat::yuv420, is_mpeg1);
        subsample_444_to_422(s.params, s.geometry, src.data(), dst.data());
        for (const auto& [at, value] : is_mpeg1 ? interstitial : co_sited)
            EXPECT_EQ(dst[static_cast<std::size_t>(at)], value) << "MPEG-1 " << is_mpeg1 << " at " << at;
    }
}

// A ramp down each column (8 x row, 8 half-width columns, 32 rows) through the vertical filter, whose taps
// are clamped at the top and bottom; interlaced frames filter each field on its own.
TEST_F(ColourConversion, VerticalFilterClampsAtTopAndBottomAndKeepsFieldsApart) {
    Plane ramp(8 * 32), dst(8 * 16);
    for (std::size_t k = 0; k < ramp.size(); k++) ramp[k] = static_cast<std::uint8_t>(8 * (k / 8));
    prepare(s, 16, 32, ChromaFormat::yuv420);
    // j = 0: 228*8 + 70*16 - 37*24 - 21*32 + 11*40 + 5*48 = 2064 (rows above read row 0).
    // j = 12: a straight ramp centred on row 12.5 gives 100.
    // j = 30: 228*488 + 70*480 - 37*472 - 21*464 + 11*456 + 5*448 = 124912 (rows below read row 31).
    const int progressive[16] = {4, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 244};
    // Top field, weights 8 5 -30 -18 113 242 192 35 -38 -10 11 2 on rows j-10 .. j+12 (step 2).
    // j = 0: rows above clamp to row 0 (value 0); 192*16 + 35*32 - 38*48 - 10*64 + 11*80 + 2*96 = 2800.
    // j = 12: rows 2 .. 24; the weighted sum is 51200.
    // j = 28: rows beyond clamp to row 30 (240); the weighted sum is 117008.
    // Bottom field, the same weights on rows j+13 .. j-9 (step -2).
    // j = 0: rows above clamp to row 1 (8); the weighted sum is 9968.
    // j = 12: rows 25 .. 3; the weighted sum is 59392.
    // j = 28: rows beyond clamp to row 31 (248); the weighted sum is 124176.
    const int interlaced[16] = {5, 19, 0, 0, 0, 0, 100, 116, 0, 0, 0, 0, 0, 0, 229, 243};
    for (int progressive_frame : {1, 0}) {
        s.params.progressive_frame = progressive_frame;
        subsample_422_to_420(s.params, s.geometry, ramp.data(), dst.data());
        const int* expected = progressive_frame ? progressive : interlaced;
        for (int row : progressive_frame ? std::vector<int>{0, 6, 15} : std::vector<int>{0, 1, 6, 7, 14, 15})
            for (int c = 0; c < 8; c++)
                EXPECT_EQ(dst[static_cast<std::size_t>(row * 8 + c)], expected[row])
                    << "progressive " << progressive_frame << " row " << row;
    }
}

}  // namespace
}  // namespace vintrel
