// The movie layer against the test movies, whose right pictures are known: frame n of the grey
// movies is a solid grey of level 10·n. (Turned pictures are the format matrix's.)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/movie/movie.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"

namespace vintrel {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::run_program;
using test::test_movie;

// How far greys of nearly lossless YUV movies may come back from their level.
constexpr int lossy = 3;

// A 24-bit bitmap of `width`×`height` with rows padded to 4 bytes, every pixel grey `level` give or
// take `tolerance`.
testing::AssertionResult is_grey(const Bitmap& bitmap, int level, int tolerance = 0, int width = 64, int height = 48) {
    const std::size_t row_bytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (bitmap.width != width || bitmap.height != height || bitmap.bits_per_pixel != 24 ||
        bitmap.bits.size() != row_bytes * height)
        return testing::AssertionFailure() << "bitmap is " << bitmap.width << "x" << bitmap.height << " at "
                                           << bitmap.bits_per_pixel << " bits in " << bitmap.bits.size() << " bytes";
    for (std::size_t row = 0; row < bitmap.bits.size(); row += row_bytes)
        for (std::size_t at = row; at < row + 3 * width; ++at)
            if (std::abs(bitmap.bits[at] - level) > tolerance)
                return testing::AssertionFailure() << "byte " << at << " is " << +bitmap.bits[at] << ", not " << level;
    return testing::AssertionSuccess();
}

std::unique_ptr<Movie> open_ok(const std::string& file) {
    auto [movie, fault] = Movie::open(file);
    EXPECT_FALSE(fault.failed()) << file << ": " << fault.detail;
    return std::move(movie);
}

// Opening `file` fails with `expected`, and the detail holds `words`.
void expect_refused(const std::string& file, MovieFailure expected, const std::string& words) {
    const auto [movie, fault] = Movie::open(file);
    EXPECT_EQ(movie, nullptr) << file;
    EXPECT_EQ(fault.kind, expected) << file << ": " << fault.detail;
    EXPECT_FALSE(fault.detail.empty()) << file;
    EXPECT_NE(fault.detail.find(words), std::string::npos) << file << ": " << fault.detail;
}

void write_bytes(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

class MovieLibraryTest : public testing::Test {
protected:
    void SetUp() override { directory_ = test::fresh_scratch_folder("movie_library") + "/"; }
    std::string path(const std::string& name) const { return directory_ + name; }
    // A copy of test movie `name` in the test's folder, to damage or rename.
    std::string copy(const std::string& name, const std::string& as = "") const {
        const std::string file = path(as.empty() ? name : as);
        fs::copy_file(test_movie(name), file, fs::copy_options::overwrite_existing);
        return file;
    }
    std::string directory_;
};

// Which frame of a test movie is on screen at t.
using FrameAt = std::function<int(std::int32_t t)>;
FrameAt every(int period, int frames, int first = 0) {
    return [=](std::int32_t t) { return first + std::clamp(t / period, 0, frames - 1); };
}
// The last frame that has begun at t, given when each starts.
FrameAt starting_at(std::vector<std::int32_t> starts) {
    return [=](std::int32_t t) {
        return std::max(0, static_cast<int>(std::upper_bound(starts.begin(), starts.end(), t) - starts.begin()) - 1);
    };
}

TEST_F(MovieLibraryTest, DurationAndPicturesAskedInAnyOrderAreThoseOnScreen) {
    struct Case {
        std::string name;
        int duration;           // the presentation span as ffprobe gives it, rounded up to whole 1/600 s
        FrameAt frame_at = {};  // none where the pictures are not solid greys 10·n
        int tolerance = lossy;
        int width = 64, height = 48;
    };
    // AVI keeps no presentation stamps, a raw H.264 stream no stamps at all; MP4 and Matroska keep
    // them. HEVC marks the pictures that others do not refer to in its own way. In the open group
    // of pictures B-frames that follow a key frame in the file are shown before it. Full-range
    // pictures taken for studio range would clip the darkest and lightest greys. Rows of 62 pixels
    // (186 bytes) are padded to 188. Frame n of the variable-rate movies starts at 60·n + 30·(n mod 2)
    // units (0.15 s and 0.05 s by turns), of squares.mkv at 30·n². The fixture gives the H.264 and
    // HEVC movies B-frames.
    std::vector<std::int32_t> variable, squares;
    for (int n = 0; n < 25; ++n) variable.push_back(60 * n + 30 * (n % 2));
    for (int n = 0; n < 7; ++n) squares.push_back(30 * n * n);
    std::vector<Case> cases = {
        {"grey62.avi", 1200, every(60, 20), 0, 62, 46},  // 20 frames at 10 per second
        {"grey25.mkv", 600, every(24, 25), 0},           // millisecond stamps
        {"ntsc.avi", 601},                  // 30 frames at 30000/1001 per second: 600.6 units
        {"one.mp4", 600},                   // H.264 with B-frames
        {"still.avi", 150},                 // a single frame lasts one frame period
        {"wide.mkv", 300, {}, 0, 128, 48},  // pixels twice as wide as high widen the picture
        {"lossless.mkv", 1500, every(60, 25), 0},
        {"full_range.avi", 1500, every(60, 25)},
        {"variable.mkv", 1470, starting_at(variable)},
        {"variable.mp4", 1470, starting_at(variable)},
        {"offset.mkv", 1200, every(60, 20)},  // stamped from 3 s on
        {"offset.mp4", 1200, every(60, 20)},
        {"cut.mp4", 900, every(60, 15, 5)},  // an edit list showing 15 of 20 frames
        {"squares.mkv", 1140, starting_at(squares), 0},
    };
    for (const char* name : {"b.mp4", "b.avi", "b.mkv", "b.h264", "open.mp4", "hevc.mkv"})
        cases.push_back({name, 1500, every(60, 25)});
    // Conversion samples at 5 a second past the end, every frame backwards, and jumps back and
    // forth, within frames and across them, as a preview makes.
    std::vector<std::int32_t> samples, backwards;
    for (std::int32_t t = 0; t < 1740; t += 120) samples.push_back(t);
    for (std::int32_t t = 1440; t >= 0; t -= 60) backwards.push_back(t);
    std::vector<std::int32_t> jumps = {-100, 59, 780, 420, 1140, 360, 300, 720, 660, 0, 1440, 60, 61, 1199, 100000, 0,
                                       450};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = test_movie(c.name);
        for (const auto* times : {&samples, &backwards, &jumps}) {
            auto movie = open_ok(file);
            ASSERT_TRUE(movie);
            EXPECT_EQ(movie->duration(), c.duration);
            const MovieBounds b = movie->natural_bounds();
            EXPECT_EQ((std::pair<int, int>(b.right, b.bottom)), std::pair(c.width, c.height));
            for (const std::int32_t t : c.frame_at ? *times : std::vector<std::int32_t>{}) {
                EXPECT_TRUE(is_grey(movie->picture_at(t), 10 * c.frame_at(t), c.tolerance, c.width, c.height)) << t;
                EXPECT_EQ(movie->warning(), "") << t;
            }
        }
    }
}

TEST_F(MovieLibraryTest, ADamagedFrameGivesTheLastGoodPictureAndAWarning) {
    // PNG frames; the signature of frame 5 is destroyed.
    const std::string file = copy("png.mov");
    std::string bytes = read_file(file);
    const std::string signature = "\x89PNG\r\n\x1a\n";
    std::size_t at = bytes.find(signature);
    for (int n = 1; n <= 5; ++n) ASSERT_NE(at = bytes.find(signature, at + 1), std::string::npos);
    bytes.replace(at, signature.size(), std::string(signature.size(), 'x'));
    write_bytes(file, bytes);

    // In order, then back to the damaged frame later, then straight to it past frames not decoded.
    const std::vector<std::tuple<int, int, std::string>> forwards = {
        {0, 0, ""}, {240, 40, ""}, {300, 40, "0.500"}, {360, 60, ""}, {0, 0, ""}, {300, 40, "0.500"}};
    const std::vector<std::tuple<int, int, std::string>> jumping = {{330, 40, "0.550"}, {540, 90, ""}};
    for (const auto* steps : {&forwards, &jumping}) {
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        for (const auto& [t, level, when] : *steps) {
            EXPECT_TRUE(is_grey(movie->picture_at(t), level)) << t;
            EXPECT_EQ(movie->warning().empty(), when.empty()) << t;
            EXPECT_NE(movie->warning().find(when), std::string::npos) << t << ": " << movie->warning();
            EXPECT_TRUE(when.empty() || movie->warning().find("Invalid data") != std::string::npos) << movie->warning();
        }
    }
}

// (A movie cut short while it is converted is the command line's case.)
TEST_F(MovieLibraryTest, AMovieCutShortOnDiskShowsTheFramesItHolds) {
    // Cut 100 bytes into the data of frame 12 (chunk "00db" or "00dc").
    const std::string part = copy("grey20.avi", "part.avi");
    const std::string bytes = read_file(part);
    std::size_t at = bytes.find("movi");
    for (int n = 0; n <= 12; ++n) {
        do ASSERT_NE(at = bytes.find("00d", at + 1), std::string::npos);
        while (bytes[at + 3] != 'b' && bytes[at + 3] != 'c');
    }
    write_bytes(part, bytes.substr(0, at + 8 + 100));
    auto cut = open_ok(part);
    ASSERT_TRUE(cut);
    // Twelve whole frames; the part of frame 12 may count, but cannot be shown.
    EXPECT_GE(cut->duration(), 720);
    EXPECT_LE(cut->duration(), 780);
    for (int n = 0; n < 12; ++n) EXPECT_TRUE(is_grey(cut->picture_at(n * 60), 10 * n)) << n;
    EXPECT_TRUE(is_grey(cut->picture_at(100000), 110));
    EXPECT_EQ(cut->warning().empty(), cut->duration() == 720) << cut->warning();
    // Straight to the end from a fresh start, skipping the frames before.
    auto fresh = open_ok(part);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(is_grey(fresh->picture_at(100000), 110));
}

// Files that hold no video that decodes, or too large a one, are an invalid format; a file that
// cannot be read is a failure.
TEST_F(MovieLibraryTest, FilesWithoutAReadableMovieAreRefusedWithTheReason) {
    // Empty files, plain text and a movie whose index was cut off are the command line's cases.
    write_bytes(path("start.avi"), read_file(test_movie("one.avi")).substr(0, 200));
    // Text files in the formats the library draws as pictures, and a single picture.
    write_bytes(path("letter.nfo"), "This is a letter, not a movie.\nKind regards\n");
    write_bytes(path("letter.ans"), "\x1b[1;31mThis is a letter, not a movie.\x1b[0m\n");
    copy("cover.png", "picture.mov");
    ASSERT_EQ(::mkfifo(path("pipe.mov").c_str(), 0600), 0);
    fs::create_directories(path("folder.mov"));
    const MovieFailure invalid = MovieFailure::invalid_format, failed = MovieFailure::failed;
    std::vector<std::tuple<std::string, MovieFailure, std::string>> cases = {
        {path("start.avi"), invalid, ""},
        {test_movie("sound.wav"), invalid, "no video stream"},
        {test_movie("sound.mov"), invalid, "no video stream"},
        {test_movie("no_frames.avi"), invalid, "video"},
        {test_movie("no_frames.mkv"), invalid, "video"},
        {test_movie("song.mp3"), invalid, "no video stream"},  // a cover picture stored as a video stream
        {path("letter.nfo"), invalid, "text"},
        {path("letter.ans"), invalid, "text"},
        {path("picture.mov"), invalid, "still picture"},
        {test_movie("animated.webp"), invalid, "an animated WebP picture, which the movie library cannot decode"},
        {test_movie("too_wide.avi"), invalid, "16 bits"},
        {test_movie("too_tall.avi"), invalid, "16 bits"},
        {test_movie("too_wide_pixels.mkv"), invalid, "16 bits"},
        // 36 million pixels: the decoder must refuse to make such a picture at all.
        {test_movie("huge.mkv"), invalid, ""},
        // 4096x4096 shown four times as wide: 67 million pixels once widened.
        {test_movie("huge_widened.mkv"), invalid, "the picture size 16384x4096 is too large"},
        {path("missing.mov"), failed, "No such file or directory"},
        {path("missing_folder/movie.avi"), failed, "No such file or directory"},
        {path("folder.mov"), failed, "Is a directory"},
        {path("pipe.mov"), failed, "Not a regular file"},
        {"", failed, "No such file or directory"},
    };
    if (::geteuid() != 0) {  // the superuser reads any file
        fs::permissions(copy("one.avi", "locked.avi"), fs::perms::none);
        cases.emplace_back(path("locked.avi"), failed, "Permission denied");
    }
    for (const auto& [file, result, words] : cases) expect_refused(file, result, words);
    // The widest picture that fits.
    auto widest = open_ok(test_movie("widest.avi"));
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->natural_bounds().right, 32767);
    EXPECT_TRUE(is_grey(widest->picture_at(0), 0x50, 0, 32767, 2));
}

TEST_F(MovieLibraryTest, AnyFileNameOpens) {
    const std::vector<std::string> names = {
        "my holiday movie.avi", "Ünïcödé 映画 фильм.avi", "-starts-with-dash.avi", "file:looks-like-a-url.avi",
        "http:looks-like-a-url.avi", "concat:a.avi|b.avi", "what?is=this&x.avi", "quote'and\"dollar$.avi",
        "hash#mark.avi", "percent%20.avi", "pipe:0", "-"};
    const fs::path previous = fs::current_path();
    for (const std::string& name : names) {
        copy("one.avi", name);
        auto by_full_path = open_ok(path(name));
        ASSERT_TRUE(by_full_path) << name;
        EXPECT_TRUE(is_grey(by_full_path->picture_at(120), 20)) << name;
        fs::current_path(directory_);
        auto by_name = open_ok(name);
        fs::current_path(previous);
        ASSERT_TRUE(by_name) << name;
        EXPECT_TRUE(is_grey(by_name->picture_at(60), 10)) << name;
    }
}

TEST_F(MovieLibraryTest, PathsBeyondTheSystemLimitOpen) {
    // 30 folders of 200 characters: beyond the path limit of 4096 bytes. The shell makes them, and
    // removes them, one folder at a time by relative names.
    const std::string folder(200, 'd');
    std::string deep = directory_;
    for (int level = 0; level < 30; ++level) deep += folder + "/";
    ASSERT_EQ(run_program("cd '" + directory_ + "' && for i in $(seq 30); do mkdir " + folder + " && cd -P " + folder +
                          " || exit 1; done && cp '" + test_movie("one.avi") + "' movie.avi")
                  .exit_code,
              0);
    auto movie = open_ok(deep + "movie.avi");
    ASSERT_TRUE(movie);
    EXPECT_TRUE(is_grey(movie->picture_at(120), 20));
    // A name that is not there, as deep down, is missing rather than too long.
    expect_refused(deep + "movie.avi.not", MovieFailure::failed, "No such file or directory");
    run_program("rm -rf '" + directory_ + folder + "'");
}

}  // namespace
}  // namespace vintrel
