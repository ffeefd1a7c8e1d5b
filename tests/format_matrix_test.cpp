// Movies of every kind users have, made by the test-movie fixture with the ffmpeg program, convert
// to the frames that the ffmpeg program itself shows at every fifth of a second. The reference
// frames are decoded by ffmpeg and dithered by this test's own copy of the handheld's dither. (The
// preview's pictures in any order are the movie layer test's.)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "convert/movie/picture_conversion.h"
#include "convert/pdb/reader.h"
#include "convert/sample_rate.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"
#include "tests/track_matrix_for_test.h"

namespace vintrel {
namespace {

using test::read_file;
using test::run_program;

// The movies of the fixture's formats/ folder: moving boxes over a background, every area a grey
// that lies in the middle of its band of 16 levels (72, 136, 200, later 40), so that colour
// conversions a few levels apart dither alike and only box edges can differ. At 1 s the first box
// changes its grey: palettised movies get a new palette there.
struct Format {
    const char* name;
    const char* movie;  // the movie's file name
    int records;        // whole or partial fifths of a second from the first frame to the end of the last
    int width = 64, height = 48;  // of every record: the size the movie is shown at
    // A display matrix [a b; c d] with its translation, written into the track header, turns
    // the picture: clockwise x' = -y + 48, y' = x; anticlockwise x' = y, y' = -x + 64.
    std::array<int, 6> turn = {1, 0, 0, 1, 0, 0};
    // Filters through which the ffmpeg program shows the movie as it is meant to be seen.
    std::string shown_through = "";
    // What the conversion must say of a movie that holds less than it claims; without it, nothing.
    std::string says = "";
    // The name the user's copy of the movie has, when not the fixture's; the name the database
    // then carries in the handheld's character set (Windows-1252).
    std::string saved_as = "", database_name = "";
};

// HDR pictures shown on a standard-range screen: reference white (203 cd/m²) becomes white and the
// highlights above 0.7 of it, up to 1000 cd/m², are rolled off.
const std::string tone_mapped = "zscale=t=linear:npl=203,format=gbrpf32le,zscale=p=bt709,"
                                "tonemap=mobius:param=0.7:desat=0:peak=4.9261,zscale=t=bt709:m=bt709:r=full,";

const Format formats[] = {
    {"PalettisedAviWithAPaletteChange", "pal.avi", 10},
    {"PalettisedMov", "pal.mov", 10},
    {"QuickTimeGraphics", "smc.mov", 10},
    {"TenBitH264", "h10.mp4", 10},
    {"FourFourFourH264", "h444.mkv", 10},
    {"Grey", "grey.mp4", 10},
    {"Rgb555", "rgb555.avi", 10},
    {"Alpha", "alpha.mov", 10},
    // PAL DV: interlaced, bottom field first, pixels 16:15 wide; 1 s at 25 frames a second.
    {"InterlacedDvWithWidePixels", "dv.avi", 5, 768, 576},
    {"DisplayMatrixClockwise", "turn.mp4", 10, 48, 64, {0, 1, -1, 0, 48, 0}},
    {"DisplayMatrixAnticlockwise", "turn.mp4", 10, 48, 64, {0, -1, 1, 0, 0, 64}},
    {"DisplayMatrixUpsideDown", "turn.mp4", 10, 64, 48, {-1, 0, 0, -1, 64, 48}},
    {"AudioStreamFirst", "audio.mp4", 10},
    {"TwoVideoTracks", "two.mov", 10},
    // Frames 0.1 s apart, then nothing for 3 s: frames at 0.0 ... 0.9 and 4.0 ... 4.9 s.
    {"GapInTheFrameTimes", "gap.mkv", 25},
    // Our own MPEG-1 stream of 60 pictures at 30 per second, in an MPEG-2 program stream: 2 s.
    {"MpegProgramStreamNamedMpg", "prog.mpg", 10},
    // Two transport streams of 2 s joined, the clock of the second 60 s ahead of the first, or
    // 100 s behind it: the parts follow each other with no gap.
    {"ClockJumpsAheadBetweenJoinedRecordings", "jump_ahead.mts", 20},
    {"ClockGoesBackBetweenJoinedRecordings", "jump_back.mts", 20},
    {"ClockWrapsAt33Bits", "wrap.mts", 10},
    // 24 of the 40 frames its header lists: 2.4 s of 4.0 s.
    {.name = "Mp4CutShort", .movie = "cut_short.mp4", .records = 12,
     .says = "cut_short.mp4: the pictures stop at 2.4 s of the 4.0 s its header gives; the rest could not be read."},
    // Ü, é, the en dash and Ä are DC, E9, 96 and C4 in Windows-1252.
    {.name = "NonAsciiName", .movie = "pal.avi", .records = 10, .saved_as = "\u00DCbung \u00E9 \u2013 \u00C4rger.avi",
     .database_name = "\xDC" "bung \xE9 \x96 \xC4rger.avi"},
    {.name = "HybridLogGammaPhoneVideo", .movie = "arib-std-b67.mp4", .records = 10, .shown_through = tone_mapped},
    {.name = "PerceptualQuantizerPhoneVideo", .movie = "smpte2084.mp4", .records = 10, .shown_through = tone_mapped},
    // 19 frames 0.1 s apart and one ten hours on, in a file that gives no length: ten seconds a frame.
    {.name = "StampFarInTheFuture", .movie = "far.mkv", .records = 1000,
     .says = "far.mkv: its time stamps run to 36000.1 s, beyond the 200.0 s it can hold; only the first 200.0 s were "
             "converted."},
};

// The handheld's 2x2 ordered dither: the grey palette index by [grey / 16][2 * row parity +
// column parity].
constexpr int dither[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 1, 1, 2}, {2, 1, 2, 2},
    {2, 2, 2, 2}, {3, 2, 2, 2}, {2, 2, 2, 3}, {3, 2, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3},
};

// A picture of grey palette indices 0 (black) .. 3 (white), top row first.
struct Levels {
    int width = 0, height = 0;
    std::vector<int> index;
    int at(int x, int y) const { return index[static_cast<std::size_t>(y) * width + x]; }
};

// The largest difference of the mean grey (index × 85) of any 4×4 block; -1 for pictures of
// different sizes.
double worst_block_difference(const Levels& a, const Levels& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    double worst = 0;
    for (int by = 0; by < a.height; by += 4) {
        for (int bx = 0; bx < a.width; bx += 4) {
            const int bottom = std::min(by + 4, a.height), right = std::min(bx + 4, a.width);
            int sum = 0;
            for (int y = by; y < bottom; ++y)
                for (int x = bx; x < right; ++x) sum += a.at(x, y) - b.at(x, y);
            worst = std::max(worst, std::abs(85.0 * sum / ((bottom - by) * (right - bx))));
        }
    }
    return worst;
}

// Frames in display order as the ffmpeg program decodes and shows them, with their times (which
// begin at 0).
struct Reference {
    std::vector<double> times;
    std::vector<Levels> frames;

    // The frame on screen k fifths of a second after the first frame.
    const Levels& at_sample(int k) const {
        const double t = times.front() + k / frames_per_second + 1e-6;
        const std::size_t shown = std::upper_bound(times.begin(), times.end(), t) - times.begin();
        return frames[shown == 0 ? 0 : shown - 1];
    }
};

// The frames ffmpeg shows, dithered as the handheld does.
Reference decode_reference(const std::string& movie, const Format& format) {
    Reference reference;
    // Scaled to the size shown, where pixels are not square; the times as the ffmpeg program has
    // them, after joining the parts of a recording whose clock jumps.
    const int width = format.width, height = format.height;
    const std::string filters = " -vf '" + format.shown_through + "showinfo,scale=" + std::to_string(width) + ":" +
                                std::to_string(height) + "'";
    const auto pixels = run_program("ffmpeg -nostdin -hide_banner -nostats -i '" + movie +
                                    "' -map 0:v:0 -vsync passthrough" + filters + " -f rawvideo -pix_fmt rgb24 -");
    // A line from showinfo for every frame in display order, with "pts_time:0.1".
    const std::string key = " pts_time:";
    for (std::size_t at = 0; (at = pixels.err.find(key, at)) != std::string::npos; at += key.size())
        reference.times.push_back(std::strtod(pixels.err.c_str() + at + key.size(), nullptr));
    const std::size_t frame_bytes = static_cast<std::size_t>(width) * height * 3;
    EXPECT_EQ(pixels.out.size(), reference.times.size() * frame_bytes) << pixels.err;
    for (std::size_t at = 0; at + frame_bytes <= pixels.out.size(); at += frame_bytes) {
        Levels levels{width, height, {}};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const auto* p = reinterpret_cast<const std::uint8_t*>(&pixels.out[at + (y * width + x) * 3]);
                levels.index.push_back(dither[(p[0] + p[1] + p[2]) / 3 / 16][2 * (y % 2) + x % 2]);
            }
        }
        reference.frames.push_back(std::move(levels));
    }
    return reference;
}

// The records of a .pdb as grey palette indices (packed code 0 is white, 3 black).
std::vector<Levels> records_of(const std::string& pdb_path) {
    const std::string bytes = read_file(pdb_path);
    const std::span<const std::uint8_t> file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const pdb::ReadResult read = pdb::read_database(file);
    EXPECT_TRUE(read.ok()) << pdb_path << ": " << read.fault.detail;
    std::vector<Levels> records;
    for (const pdb::StoredRecord& record : read.database.records) {
        std::vector<std::uint8_t> rows;
        EXPECT_FALSE(pdb::expand_record(file, record, rows).failed());
        const int width = static_cast<int>(record.width), height = static_cast<int>(record.height);
        const std::size_t row_bytes = pdb::row_bytes_for_width(record.width);
        Levels levels{width, height, {}};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                levels.index.push_back(3 - ((rows[y * row_bytes + x / 4] >> (6 - 2 * (x % 4))) & 3));
        records.push_back(std::move(levels));
    }
    return records;
}

// How far a block may stray. Away from box edges every pixel's grey lies at least 8 levels from
// a band border, so the colour conversions of two decoders (a level or two apart) dither it
// alike. Only pixels on a box edge that a scaler or chroma filter blends differ, each by at most
// one grey step (85); a 4×4 block holds at most 8 of them (a corner of a box crossing it, or a
// two-pixel blend), so its mean differs by at most 8 × 85 / 16 = 42.5. A wrong or black frame
// differs by 85 to 255 in whole blocks.
constexpr double block_tolerance = 42.5;

void PrintTo(const Format& format, std::ostream* out) { *out << format.name; }

class FormatMatrix : public testing::TestWithParam<Format> {};

TEST_P(FormatMatrix, ConvertsToTheFramesShownAtEveryFifthOfASecond) {
    const Format& format = GetParam();
    const std::string name = format.saved_as.empty() ? format.movie : format.saved_as;
    const std::string movie = test::fresh_scratch_folder("formats") + "/" + name;
    std::filesystem::copy_file(test::test_movie(std::string("formats/") + format.movie), movie);
    if (const auto [a, b, c, d, x, y] = format.turn; b != 0 || a != 1)
        test::set_track_matrix(movie, a, b, c, d, x, y, format.width, format.height);
    const std::string movie_bytes = read_file(movie);

    const auto converted = run_program(test::convert_program + " --stat - '" + movie + "'");
    ASSERT_EQ(converted.exit_code, 0) << converted.err;
    for (const char* shortfall : {" s its header gives", " s it can hold"})
        EXPECT_EQ(converted.err.find(shortfall) != std::string::npos, format.says.find(shortfall) != std::string::npos)
            << converted.err;
    EXPECT_NE(converted.err.find(format.says), std::string::npos) << converted.err;
    // The stream never replaces an MPEG movie.
    const std::string stream = movie.substr(0, movie.size() - 4) +
                               (std::string(format.movie).ends_with(".mpg") ? ".dithered.mpg" : ".mpg");
    EXPECT_NE(converted.out.find("\n  " + stream + "\n"), std::string::npos) << converted.out;
    EXPECT_EQ(read_file(movie), movie_bytes) << "the movie was changed";

    const Reference reference = decode_reference(movie, format);
    ASSERT_FALSE(reference.frames.empty());
    const std::string database = movie.substr(0, movie.size() - 3) + "pdb";
    const std::string name_field = read_file(database).substr(0, 32);
    EXPECT_EQ(name_field.substr(0, name_field.find('\0')), format.database_name.empty() ? name : format.database_name);
    const std::vector<Levels> records = records_of(database);
    ASSERT_EQ(static_cast<int>(records.size()), format.records);
    for (int k = 0; k < format.records; ++k) {
        ASSERT_EQ(std::pair(records[k].width, records[k].height), std::pair(format.width, format.height));
        EXPECT_LE(worst_block_difference(records[k], reference.at_sample(k)), block_tolerance) << "record " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatMatrix, testing::ValuesIn(formats),
                         [](const testing::TestParamInfo<Format>& info) { return info.param.name; });

// Movies that give their turn as a "rotate" tag of clockwise degrees, rather than as a display
// matrix, are turned as the movies above with the matrix of the same turn.
TEST(RotateTag, TurnsAsTheDisplayMatrixOfTheSameTurn) {
    const std::pair<const char*, double> turns[] = {
        {"DisplayMatrixClockwise", 90}, {"DisplayMatrixAnticlockwise", -90}, {"DisplayMatrixUpsideDown", 180}};
    for (const auto& [name, degrees] : turns) {
        const auto& t =
            std::ranges::find_if(formats, [&](const Format& f) { return f.name == std::string(name); })->turn;
        const std::int32_t matrix[9] = {t[0] << 16, t[1] << 16, 0,           t[2] << 16, t[3] << 16,
                                        0,          t[4] << 16, t[5] << 16, 1 << 30};
        const movie_detail::Orientation tag = movie_detail::orientation_from_clockwise_degrees(degrees + 360);
        const movie_detail::Orientation turn = movie_detail::orientation_from_display_matrix(matrix);
        EXPECT_EQ((std::array{tag.a, tag.b, tag.c, tag.d}), (std::array{turn.a, turn.b, turn.c, turn.d})) << name;
    }
}

}  // namespace
}  // namespace vintrel
