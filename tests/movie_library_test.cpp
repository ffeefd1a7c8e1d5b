// The movie layer against movies made here with the ffmpeg program, whose right pictures are known:
// frame n of most movies is a solid grey of level 10·n.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert/movie.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/track_matrix_for_test.h"

namespace vintrel {
namespace {

namespace fs = std::filesystem;
using test::run_program;
using test::set_track_matrix;

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

// Frames of solid grey 10·n, 64×48 unless told otherwise.
std::string grey_frames(const std::string& rate, int frames, const std::string& size = "64x48") {
    return "-f lavfi -i \"color=c=black:s=" + size + ":r=" + rate +
           ",format=rgb24,geq=r='10*N':g='10*N':b='10*N'\" -frames:v " + std::to_string(frames);
}

// H.264 that always uses B-frames (three between references) and key frames every `gop` frames,
// nearly lossless (lossless coding would leave out the B-frames).
std::string h264_with_b_frames(int gop) {
    return "-c:v libx264 -crf 10 -pix_fmt yuv420p -g " + std::to_string(gop) +
           " -bf 3 -x264-params b-adapt=0:scenecut=0:open-gop=0";
}

// How far greys of nearly lossless YUV movies may come back from their level.
constexpr int lossy = 3;

struct Pixel {
    int blue, green, red;
};

// The pixel at (x, y), y counted from the top of the picture.
Pixel pixel_at(const Bitmap& bitmap, int x, int y) {
    const std::size_t offset = static_cast<std::size_t>(bitmap.height - 1 - y) * bitmap.row_bytes() + x * 3;
    return {bitmap.bits.at(offset), bitmap.bits.at(offset + 1), bitmap.bits.at(offset + 2)};
}

::testing::AssertionResult is_24_bit(const Bitmap& bitmap, int width, int height) {
    if (bitmap.width != width || bitmap.height != height || bitmap.bits_per_pixel != 24)
        return ::testing::AssertionFailure() << "bitmap is " << bitmap.width << "x" << bitmap.height << " at "
                                             << bitmap.bits_per_pixel << " bits, expected " << width << "x" << height;
    const std::size_t row_bytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (bitmap.bits.size() != row_bytes * height)
        return ::testing::AssertionFailure() << "bitmap holds " << bitmap.bits.size() << " bytes, expected "
                                             << row_bytes * height;
    return ::testing::AssertionSuccess();
}

// Every pixel of `bitmap` is grey `level`, give or take `tolerance`.
::testing::AssertionResult is_solid_grey(const Bitmap& bitmap, int level, int tolerance = 0) {
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            const Pixel p = pixel_at(bitmap, x, y);
            for (int value : {p.blue, p.green, p.red}) {
                if (std::abs(value - level) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") is " << p.red << "/"
                                                         << p.green << "/" << p.blue << ", expected grey " << level;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

bool near(const Pixel& p, int red, int green, int blue, int tolerance) {
    return std::abs(p.red - red) <= tolerance && std::abs(p.green - green) <= tolerance &&
           std::abs(p.blue - blue) <= tolerance;
}

class MovieLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { directory_ = test::fresh_scratch_folder("movie_library") + "/"; }

    std::string path(const std::string& name) const { return directory_ + name; }

    // Runs ffmpeg with `arguments` to write `name` in the test's directory; returns its path.
    std::string make(const std::string& name, const std::string& arguments) const {
        const std::string file = path(name);
        const auto result = run_program("ffmpeg -nostdin -v error -y " + arguments + " " + quoted(file));
        EXPECT_EQ(result.exit_code, 0) << result.err;
        return file;
    }

    static std::unique_ptr<Movie> open_ok(const std::string& file) {
        MovieOpenResult result = MovieOpenResult::failed;
        std::string detail;
        auto movie = Movie::open(file, result, detail);
        EXPECT_EQ(result, MovieOpenResult::ok) << file << ": " << detail;
        EXPECT_TRUE(detail.empty()) << detail;
        EXPECT_EQ(movie != nullptr, result == MovieOpenResult::ok);
        return movie;
    }

    static std::string frame_types(const std::string& file) {
        return run_program("ffprobe -v error -select_streams v -show_entries frame=pict_type -of csv=p=0 " + quoted(file))
            .out;
    }

    std::string directory_;
};

TEST_F(MovieLibraryTest, LosslessAviGivesTheFrameOnScreenAtEveryTime) {
    // 62 pixels of 3 bytes make rows of 186 bytes, padded to 188.
    const std::string file = make("grey.avi", grey_frames("10", 20, "62x46") + " -c:v rawvideo -pix_fmt bgr24");
    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->time_scale(), 600);
    EXPECT_EQ(movie->duration(), 1200);
    const MovieBounds bounds = movie->natural_bounds();
    EXPECT_EQ(bounds.top, 0);
    EXPECT_EQ(bounds.left, 0);
    EXPECT_EQ(bounds.right, 62);
    EXPECT_EQ(bounds.bottom, 46);

    // Frame n is on screen from 60·n up to, not including, 60·(n + 1); before the first frame
    // the first is shown, after the last the last.
    const std::vector<std::pair<int, int>> time_and_frame = {
        {-100, 0}, {0, 0}, {59, 0}, {60, 1}, {61, 1}, {119, 1}, {120, 2}, {599, 9}, {600, 10},
        {1139, 18}, {1140, 19}, {1199, 19}, {1200, 19}, {100000, 19}};
    for (const auto& [t, frame] : time_and_frame) {
        const Bitmap& picture = movie->picture_at(t);
        ASSERT_TRUE(is_24_bit(picture, 62, 46)) << "t=" << t;
        EXPECT_TRUE(is_solid_grey(picture, 10 * frame)) << "t=" << t;
        EXPECT_EQ(movie->warning(), "") << "t=" << t;
    }
}

TEST_F(MovieLibraryTest, LosslessMovieFollowsAConversionsSamplingAndThePreviewSteps) {
    // 25 frames per second in matroska with its millisecond stamps; samples at 5 per second.
    const std::string file = make("grey.mkv", grey_frames("25", 25) + " -c:v ffv1 -pix_fmt bgr0");
    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->duration(), 600);
    for (int k = 0; k < 5; ++k) EXPECT_TRUE(is_solid_grey(movie->picture_at(k * 120), 50 * k)) << "k=" << k;
    for (int k = 4; k >= 0; --k) EXPECT_TRUE(is_solid_grey(movie->picture_at(k * 120), 50 * k)) << "back to k=" << k;
    EXPECT_TRUE(is_solid_grey(movie->picture_at(3 * 120), 150));
    EXPECT_TRUE(is_solid_grey(movie->picture_at(3 * 120), 150));
}

TEST_F(MovieLibraryTest, DurationIsThePresentationSpanRoundedUpToWholeUnits) {
    // 10 frames at 10 per second: exactly one second.
    auto one_second = open_ok(make("one.avi", grey_frames("10", 10) + " -c:v rawvideo -pix_fmt bgr24"));
    ASSERT_TRUE(one_second);
    EXPECT_EQ(one_second->duration(), 600);
    // 30 frames at 30000/1001 per second: 1.001 s, 600.6 units.
    auto ntsc = open_ok(make("ntsc.avi", grey_frames("30000/1001", 30) + " -c:v rawvideo -pix_fmt bgr24"));
    ASSERT_TRUE(ntsc);
    EXPECT_EQ(ntsc->duration(), 601);
    // One second of H.264 with B-frames in an MP4.
    auto h264 = open_ok(make("one.mp4", grey_frames("25", 25) + " " + h264_with_b_frames(12)));
    ASSERT_TRUE(h264);
    EXPECT_EQ(h264->duration(), 600);
    // A single frame lasts one frame period.
    auto still = open_ok(make("still.avi", grey_frames("4", 1) + " -c:v rawvideo -pix_fmt bgr24"));
    ASSERT_TRUE(still);
    EXPECT_EQ(still->duration(), 150);
    EXPECT_TRUE(is_solid_grey(still->picture_at(0), 0));
    EXPECT_TRUE(is_solid_grey(still->picture_at(1000), 0));
}

TEST_F(MovieLibraryTest, BFramesComeInDisplayOrderInEveryContainer) {
    // AVI keeps no presentation stamps, a raw H.264 stream no stamps at all; MP4 and Matroska keep
    // them. HEVC marks the pictures that others do not refer to in its own way.
    struct Case {
        std::string name;
        std::string codec;
    };
    const std::vector<Case> cases = {
        {"b.mp4", h264_with_b_frames(8)},
        {"b.avi", h264_with_b_frames(8)},
        {"b.mkv", h264_with_b_frames(8)},
        {"b.h264", h264_with_b_frames(8)},
        {"hevc.mkv", "-c:v libx265 -pix_fmt yuv420p -x265-params log-level=none:lossless=1:bframes=3:b-adapt=0:keyint=8:"
                     "min-keyint=8:scenecut=0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = make(c.name, grey_frames("10", 25) + " " + c.codec);
        ASSERT_NE(frame_types(file).find('B'), std::string::npos) << "the test movie has no B-frames";
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->duration(), 1500);
        // Every frame in turn, as the preview's forward steps and a conversion at 10 per second.
        for (int n = 0; n < 25; ++n) {
            EXPECT_TRUE(is_solid_grey(movie->picture_at(n * 60 + 30), 10 * n, lossy)) << "frame " << n;
            EXPECT_EQ(movie->warning(), "");
        }
        // A conversion's samples from a fresh start, 5 per second.
        auto sampled = open_ok(file);
        ASSERT_TRUE(sampled);
        for (int k = 0; k * 120 < 1500; ++k)
            EXPECT_TRUE(is_solid_grey(sampled->picture_at(k * 120), 20 * k, lossy)) << "sample " << k;
    }
}

TEST_F(MovieLibraryTest, SteppingBackGivesTheEarlierFrames) {
    // In an open group of pictures, B-frames that follow a key frame in the file are shown before it.
    const std::string open_gop = h264_with_b_frames(6) + ":open-gop=1";
    for (const auto& [name, codec] : std::vector<std::pair<std::string, std::string>>{
             {"back.mp4", h264_with_b_frames(6)},
             {"back.avi", h264_with_b_frames(6)},
             {"back.h264", h264_with_b_frames(6)},
             {"open.mp4", open_gop}}) {
        SCOPED_TRACE(name);
        const std::string file = make(name, grey_frames("10", 25) + " " + codec);
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        EXPECT_TRUE(is_solid_grey(movie->picture_at(1440), 240, lossy));
        for (int n = 24; n >= 0; --n) {
            EXPECT_TRUE(is_solid_grey(movie->picture_at(n * 60), 10 * n, lossy)) << "back to frame " << n;
            EXPECT_EQ(movie->warning(), "");
        }
        // Jumps both ways, as a preview going back and forth.
        for (int n : {13, 7, 19, 6, 5, 12, 11, 0, 24, 1}) {
            EXPECT_TRUE(is_solid_grey(movie->picture_at(n * 60), 10 * n, lossy)) << "jump to frame " << n;
        }
    }
}

TEST_F(MovieLibraryTest, StartOffsetsAndEditListsCountFromTheFirstShownFrame) {
    const std::string plain = make("plain.mp4", grey_frames("10", 20) + " " + h264_with_b_frames(25));
    // The same frames stamped from 3 s on.
    for (const std::string name : {"offset.mkv", "offset.mp4"}) {
        SCOPED_TRACE(name);
        auto movie = open_ok(make(name, "-i " + quoted(plain) + " -c copy -output_ts_offset 3"));
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->duration(), 1200);
        EXPECT_TRUE(is_solid_grey(movie->picture_at(0), 0, lossy));
        EXPECT_TRUE(is_solid_grey(movie->picture_at(600), 100, lossy));
        EXPECT_TRUE(is_solid_grey(movie->picture_at(1199), 190, lossy));
    }
    // Cut at 0.5 s without re-encoding: the file keeps frames 0 to 4 for decoding, and its edit
    // list shows frames 5 to 19 only.
    auto cut = open_ok(make("cut.mp4", "-ss 0.5 -i " + quoted(plain) + " -c copy"));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->duration(), 900);
    for (int n = 0; n < 15; ++n) EXPECT_TRUE(is_solid_grey(cut->picture_at(n * 60), 10 * (n + 5), lossy)) << n;
    EXPECT_TRUE(is_solid_grey(cut->picture_at(0), 50, lossy));
}

TEST_F(MovieLibraryTest, VariableFrameRateShowsEachFrameForItsOwnSpan) {
    // Frame n at n² / 20 s: 0, 0.05, 0.2, 0.45, 0.8, 1.25, 1.8.
    const std::string file = make("vfr.mkv", grey_frames("10", 7) + " -vf \"settb=1/1000,setpts='N*N*50'\"" +
                                                 " -fps_mode passthrough -enc_time_base 1/1000 -c:v ffv1 -pix_fmt bgr0");
    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    EXPECT_GT(movie->duration(), 1080);
    const std::vector<std::pair<int, int>> time_and_frame = {{0, 0},   {29, 0},   {30, 1},   {119, 1},  {120, 2},
                                                             {269, 2}, {270, 3},  {479, 3},  {480, 4},  {749, 4},
                                                             {750, 5}, {1079, 5}, {1080, 6}, {5000, 6}, {200, 2}};
    for (const auto& [t, frame] : time_and_frame) EXPECT_TRUE(is_solid_grey(movie->picture_at(t), 10 * frame)) << t;
}

TEST_F(MovieLibraryTest, SampleAspectRatioWidensThePicture) {
    // Left half black, right half white, pixels twice as wide as high.
    const std::string file =
        make("wide.mkv", "-f lavfi -i \"color=c=white:s=64x48:r=10:d=0.5,format=rgb24,drawbox=x=0:y=0:w=32:h=48:"
                         "color=black:t=fill,setsar=2\" -c:v ffv1 -pix_fmt bgr0");
    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    const MovieBounds bounds = movie->natural_bounds();
    EXPECT_EQ(bounds.right, 128);
    EXPECT_EQ(bounds.bottom, 48);
    const Bitmap& picture = movie->picture_at(0);
    ASSERT_TRUE(is_24_bit(picture, 128, 48));
    for (int y : {0, 24, 47}) {
        for (int x : {0, 30, 58}) EXPECT_TRUE(near(pixel_at(picture, x, y), 0, 0, 0, 2)) << x << "," << y;
        for (int x : {70, 100, 127}) EXPECT_TRUE(near(pixel_at(picture, x, y), 255, 255, 255, 2)) << x << "," << y;
    }
}

TEST_F(MovieLibraryTest, PicturesTooLargeForSixteenBitsAreRefused) {
    const std::string grey = "-f lavfi -i \"color=c=0x505050:r=1:s=";
    auto widest = open_ok(
        make("widest.avi", grey + "32768x2,format=rgb24,crop=32767:2:0:0\" -frames:v 1 -c:v rawvideo -pix_fmt bgr24"));
    ASSERT_TRUE(widest);
    EXPECT_EQ(widest->natural_bounds().right, 32767);
    EXPECT_TRUE(is_solid_grey(widest->picture_at(0), 0x50));

    make("too_wide.avi", grey + "32768x2\" -frames:v 1 -c:v rawvideo -pix_fmt bgr24");
    make("too_tall.avi", grey + "2x32768\" -frames:v 1 -c:v rawvideo -pix_fmt bgr24");
    make("too_wide_pixels.mkv", grey + "16384x2,setsar=2\" -frames:v 1 -c:v ffv1");
    for (const std::string name : {"too_wide.avi", "too_tall.avi", "too_wide_pixels.mkv"}) {
        MovieOpenResult result = MovieOpenResult::ok;
        std::string detail;
        EXPECT_EQ(Movie::open(path(name), result, detail), nullptr) << name;
        EXPECT_EQ(result, MovieOpenResult::invalid_format) << name;
        EXPECT_NE(detail.find("16 bits"), std::string::npos) << name << ": " << detail;
    }
}

TEST_F(MovieLibraryTest, PicturesOfMoreThan32MebipixelsAreRefused) {
    // 6000x6000 is 36 million pixels: the decoder must refuse to make such a picture at all. A
    // 4096x4096 picture shown four times as wide is 67 million pixels once widened.
    const std::string grey = "-f lavfi -i \"color=c=0x505050:r=1:s=";
    make("huge.mkv", grey + "6000x6000\" -frames:v 1 -c:v mjpeg -pix_fmt yuvj420p");
    make("huge_widened.mkv", grey + "4096x4096,setsar=4\" -frames:v 1 -c:v mjpeg -pix_fmt yuvj420p");
    for (const std::string name : {"huge.mkv", "huge_widened.mkv"}) {
        MovieOpenResult result = MovieOpenResult::ok;
        std::string detail;
        EXPECT_EQ(Movie::open(path(name), result, detail), nullptr) << name;
        EXPECT_EQ(result, MovieOpenResult::invalid_format) << name << ": " << detail;
    }
    MovieOpenResult result = MovieOpenResult::ok;
    std::string detail;
    Movie::open(path("huge_widened.mkv"), result, detail);
    EXPECT_NE(detail.find("the picture size 16384x4096 is too large"), std::string::npos) << detail;
}

TEST_F(MovieLibraryTest, RotationTurnsTheBoundsAndThePixels) {
    // Blue, with a red 16×8 block in the top left corner.
    const std::string source = "-f lavfi -i \"color=c=blue:s=64x48:r=10:d=0.3,format=rgb24,"
                               "drawbox=x=0:y=0:w=16:h=8:color=red:t=fill\" -c:v png";
    auto red_at = [](const Bitmap& picture, int x, int y) { return near(pixel_at(picture, x, y), 255, 0, 0, 2); };
    auto blue_at = [](const Bitmap& picture, int x, int y) { return near(pixel_at(picture, x, y), 0, 0, 255, 2); };

    {
        auto movie = open_ok(make("upright.mov", source));
        ASSERT_TRUE(movie);
        const Bitmap& picture = movie->picture_at(0);
        ASSERT_TRUE(is_24_bit(picture, 64, 48));
        EXPECT_TRUE(red_at(picture, 0, 0));
        EXPECT_TRUE(red_at(picture, 15, 7));
        EXPECT_TRUE(blue_at(picture, 16, 0));
        EXPECT_TRUE(blue_at(picture, 0, 8));
        EXPECT_TRUE(blue_at(picture, 63, 47));
    }
    {
        // A quarter turn clockwise: x' = -y + 48, y' = x. The top left corner goes to the top right.
        const std::string file = make("clockwise.mov", source);
        set_track_matrix(file, 0, 1, -1, 0, 48, 0, 48, 64);
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        EXPECT_EQ(movie->natural_bounds().right, 48);
        EXPECT_EQ(movie->natural_bounds().bottom, 64);
        const Bitmap& picture = movie->picture_at(0);
        ASSERT_TRUE(is_24_bit(picture, 48, 64));
        EXPECT_TRUE(red_at(picture, 47, 0));
        EXPECT_TRUE(red_at(picture, 40, 15));
        EXPECT_TRUE(blue_at(picture, 39, 0));
        EXPECT_TRUE(blue_at(picture, 47, 16));
        EXPECT_TRUE(blue_at(picture, 0, 0));
        EXPECT_TRUE(blue_at(picture, 0, 63));

        // The ffmpeg program, which turns pictures for display, must agree pixel for pixel.
        const auto shown = run_program("ffmpeg -nostdin -v error -i " + quoted(file) +
                                       " -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
        ASSERT_EQ(shown.out.size(), 48u * 64u * 3u);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 48; ++x) {
                const Pixel p = pixel_at(picture, x, y);
                const std::size_t at = (static_cast<std::size_t>(y) * 48 + x) * 3;
                ASSERT_TRUE(near(p, static_cast<unsigned char>(shown.out[at + 2]),
                                 static_cast<unsigned char>(shown.out[at + 1]),
                                 static_cast<unsigned char>(shown.out[at]), 2))
                    << x << "," << y;
            }
        }
    }
    {
        // A quarter turn anticlockwise: x' = y, y' = -x + 64. The top left corner goes to the bottom left.
        const std::string file = make("anticlockwise.mov", source);
        set_track_matrix(file, 0, -1, 1, 0, 0, 64, 48, 64);
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        const Bitmap& picture = movie->picture_at(0);
        ASSERT_TRUE(is_24_bit(picture, 48, 64));
        EXPECT_TRUE(red_at(picture, 0, 63));
        EXPECT_TRUE(red_at(picture, 7, 48));
        EXPECT_TRUE(blue_at(picture, 8, 63));
        EXPECT_TRUE(blue_at(picture, 0, 47));
    }
    {
        // Half a turn: the top left corner goes to the bottom right; the size stays.
        const std::string file = make("upside_down.mov", source);
        set_track_matrix(file, -1, 0, 0, -1, 64, 48, 64, 48);
        auto movie = open_ok(file);
        ASSERT_TRUE(movie);
        const Bitmap& picture = movie->picture_at(0);
        ASSERT_TRUE(is_24_bit(picture, 64, 48));
        EXPECT_TRUE(red_at(picture, 63, 47));
        EXPECT_TRUE(red_at(picture, 48, 40));
        EXPECT_TRUE(blue_at(picture, 0, 0));
        EXPECT_TRUE(blue_at(picture, 47, 47));
    }
}

// The file's bytes, and putting them back.
std::string read_bytes(const std::string& file) { return test::read_file(file); }
void write_bytes(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A copy of `clean` with bytes from `from` on overwritten at intervals, differently for each seed.
std::string damaged_copy(const std::string& clean, std::size_t from, unsigned seed) {
    std::string bytes = clean;
    unsigned state = seed;
    for (std::size_t i = from; i < bytes.size(); i += 37 + seed * 11) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
    }
    return bytes;
}

TEST_F(MovieLibraryTest, ADamagedFrameGivesTheLastGoodPictureAndAWarning) {
    // PNG frames; the signature of frame 5 is destroyed.
    const std::string file = make("damaged.mov", grey_frames("10", 10) + " -c:v png -pix_fmt rgb24");
    std::string bytes = read_bytes(file);
    const std::string signature = "\x89PNG\r\n\x1a\n";
    std::size_t at = std::string::npos;
    for (int n = 0; n <= 5; ++n) {
        at = bytes.find(signature, at == std::string::npos ? 0 : at + 1);
        ASSERT_NE(at, std::string::npos);
    }
    bytes.replace(at, signature.size(), std::string(signature.size(), 'x'));
    write_bytes(file, bytes);

    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    for (int n = 0; n < 5; ++n) {
        EXPECT_TRUE(is_solid_grey(movie->picture_at(n * 60), 10 * n));
        EXPECT_EQ(movie->warning(), "");
    }
    EXPECT_TRUE(is_solid_grey(movie->picture_at(300), 40));
    EXPECT_NE(movie->warning().find("0.500"), std::string::npos) << movie->warning();
    EXPECT_NE(movie->warning().find("Invalid data"), std::string::npos) << movie->warning();
    EXPECT_TRUE(is_solid_grey(movie->picture_at(360), 60));
    EXPECT_EQ(movie->warning(), "");
    // Coming back to the damaged frame later gives the same answer.
    EXPECT_TRUE(is_solid_grey(movie->picture_at(0), 0));
    EXPECT_TRUE(is_solid_grey(movie->picture_at(240), 40));
    EXPECT_TRUE(is_solid_grey(movie->picture_at(300), 40));
    EXPECT_NE(movie->warning(), "");

    // Straight to the damaged frame, past frames not decoded on the way: the one before it stands in.
    auto jumping = open_ok(file);
    ASSERT_TRUE(jumping);
    EXPECT_TRUE(is_solid_grey(jumping->picture_at(330), 40));
    EXPECT_NE(jumping->warning().find("0.550"), std::string::npos) << jumping->warning();
    EXPECT_TRUE(is_solid_grey(jumping->picture_at(540), 90));
    EXPECT_EQ(jumping->warning(), "");
}

TEST_F(MovieLibraryTest, GarbageInsideAMovieNeverBreaksThePictures) {
    const std::string file = make("noisy.mp4", grey_frames("10", 30) + " " + h264_with_b_frames(10));
    const std::string clean = read_bytes(file);
    const std::size_t mdat = clean.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    // Several differently damaged copies: bytes overwritten all through the coded pictures.
    for (unsigned seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(seed);
        const std::string bytes = damaged_copy(clean, mdat + 64, seed);
        write_bytes(file, bytes);
        MovieOpenResult result;
        std::string detail;
        auto movie = Movie::open(file, result, detail);
        if (!movie) {
            EXPECT_EQ(result, MovieOpenResult::invalid_format) << detail;
            continue;
        }
        for (int t : {0, 120, 240, 360, 1700, 1000, 60, 1799, 5000, 0}) {
            ASSERT_TRUE(is_24_bit(movie->picture_at(t), 64, 48)) << t;
        }
    }
}

TEST_F(MovieLibraryTest, AMovieCutShortAfterOpeningWarnsAndKeepsItsLastPicture) {
    const std::string file = make("shrinking.avi", grey_frames("10", 20) + " -c:v rawvideo -pix_fmt bgr24");
    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    EXPECT_TRUE(is_solid_grey(movie->picture_at(120), 20));
    ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(fs::file_size(file) / 3)), 0);
    const Bitmap& late = movie->picture_at(1000);
    ASSERT_TRUE(is_24_bit(late, 64, 48));
    EXPECT_NE(movie->warning().find("1.667"), std::string::npos) << movie->warning();
    // Whatever is shown is one of the movie's frames from before the time asked for.
    const int level = pixel_at(late, 0, 0).red;
    EXPECT_EQ(level % 10, 0);
    EXPECT_LT(level, 160);
    EXPECT_TRUE(is_solid_grey(late, level));
}

TEST_F(MovieLibraryTest, AMovieTruncatedOnDiskShowsTheFramesItHolds) {
    const std::string file = make("part.avi", grey_frames("10", 20) + " -c:v rawvideo -pix_fmt bgr24");
    // Cut the file 100 bytes into the data of frame 12 (chunk "00db" or "00dc" in the movie list).
    const std::string bytes = read_bytes(file);
    std::size_t at = bytes.find("movi");
    ASSERT_NE(at, std::string::npos);
    for (int n = 0; n <= 12; ++n) {
        do {
            at = bytes.find("00d", at + 1);
            ASSERT_NE(at, std::string::npos);
        } while (bytes[at + 3] != 'b' && bytes[at + 3] != 'c');
    }
    write_bytes(file, bytes.substr(0, at + 8 + 100));

    auto movie = open_ok(file);
    ASSERT_TRUE(movie);
    // Twelve whole frames; the part of frame 12 may count, but cannot be shown.
    EXPECT_GE(movie->duration(), 720);
    EXPECT_LE(movie->duration(), 780);
    for (int n = 0; n < 12; ++n) EXPECT_TRUE(is_solid_grey(movie->picture_at(n * 60), 10 * n)) << n;
    EXPECT_TRUE(is_solid_grey(movie->picture_at(100000), 110));
    EXPECT_EQ(movie->warning().empty(), movie->duration() == 720) << movie->warning();
    // Straight to the end from a fresh start, skipping the frames before.
    auto fresh = open_ok(file);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(is_solid_grey(fresh->picture_at(100000), 110));
}

TEST_F(MovieLibraryTest, FilesWithoutDecodableVideoAreAnInvalidFormat) {
    const std::string movie = make("movie.mp4", grey_frames("10", 10) + " -c:v libx264 -movflags -faststart");
    const std::string bytes = read_bytes(movie);
    std::string noise(4096, '\0');
    unsigned state = 7;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);

    write_bytes(path("empty.mov"), "");
    write_bytes(path("noise.mov"), noise);
    write_bytes(path("text.avi"), "This is a letter, not a movie.\nKind regards\n");
    write_bytes(path("head.mp4"), bytes.substr(0, bytes.size() / 2));  // the index sits at the end
    write_bytes(path("start.avi"), read_bytes(make("full.avi", grey_frames("10", 10) + " -c:v rawvideo")).substr(0, 200));
    make("sound.wav", "-f lavfi -i sine=d=1");
    make("sound.mov", "-f lavfi -i sine=d=1 -c:a pcm_s16le");
    const std::string with_sound =
        make("with_sound.mov", "-f lavfi -i color=s=64x48:r=10:d=1 -f lavfi -i sine=d=1 -c:v png -c:a pcm_s16le");
    make("no_frames.avi", "-i " + quoted(with_sound) + " -c copy -bsf:v noise=drop=1");
    make("no_frames.mkv", "-i " + quoted(with_sound) + " -c copy -bsf:v noise=drop=1");
    // A song whose cover picture is stored as a video stream.
    const std::string cover = make("cover.png", "-f lavfi -i color=s=32x32 -frames:v 1");
    make("song.mp3", "-f lavfi -i sine=d=1 -i " + quoted(cover) +
                         " -map 0 -map 1 -c:a libmp3lame -c:v copy -disposition:v attached_pic");
    // Text files in the formats the library draws as pictures, and a single picture.
    write_bytes(path("letter.nfo"), "This is a letter, not a movie.\nKind regards\n");
    write_bytes(path("letter.ans"), "\x1b[1;31mThis is a letter, not a movie.\x1b[0m\n");
    write_bytes(path("picture.mov"), read_bytes(cover));

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty.mov", "empty"},       {"noise.mov", ""},         {"text.avi", ""},
        {"head.mp4", ""},             {"start.avi", ""},         {"sound.wav", "no video stream"},
        {"sound.mov", "no video stream"}, {"no_frames.avi", "video"}, {"no_frames.mkv", "video"},
        {"song.mp3", "no video stream"},  {"letter.nfo", "text"},    {"letter.ans", "text"},
        {"picture.mov", "still picture"},
    };
    for (const auto& [name, words] : cases) {
        MovieOpenResult result = MovieOpenResult::ok;
        std::string detail;
        EXPECT_EQ(Movie::open(path(name), result, detail), nullptr) << name;
        EXPECT_EQ(result, MovieOpenResult::invalid_format) << name << ": " << detail;
        EXPECT_FALSE(detail.empty()) << name;
        EXPECT_NE(detail.find(words), std::string::npos) << name << ": " << detail;
    }
}

TEST_F(MovieLibraryTest, OtherFailuresToOpenAreFailures) {
    ASSERT_EQ(::mkfifo(path("pipe.mov").c_str(), 0600), 0);
    fs::create_directories(path("folder.mov"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {path("missing.mov"), "No such file or directory"},
        {path("missing_folder/movie.avi"), "No such file or directory"},
        {path("folder.mov"), "Is a directory"},
        {path("pipe.mov"), "Not a regular file"},
        {"", "No such file or directory"},
    };
    for (const auto& [file, words] : cases) {
        MovieOpenResult result = MovieOpenResult::ok;
        std::string detail;
        EXPECT_EQ(Movie::open(file, result, detail), nullptr) << file;
        EXPECT_EQ(result, MovieOpenResult::failed) << file << ": " << detail;
        EXPECT_EQ(detail, words) << file;
    }
    if (::geteuid() != 0) {  // the superuser reads any file
        const std::string locked = make("locked.avi", grey_frames("10", 2) + " -c:v rawvideo");
        fs::permissions(locked, fs::perms::none);
        MovieOpenResult result = MovieOpenResult::ok;
        std::string detail;
        EXPECT_EQ(Movie::open(locked, result, detail), nullptr);
        EXPECT_EQ(result, MovieOpenResult::failed);
        EXPECT_EQ(detail, "Permission denied");
    }
}

// Changes the working directory for one scope.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& directory) : previous_(fs::current_path()) { fs::current_path(directory); }
    ~WorkingDirectory() { fs::current_path(previous_); }

private:
    fs::path previous_;
};

TEST_F(MovieLibraryTest, AnyFileNameOpens) {
    const std::string movie = make("plain.avi", grey_frames("10", 3) + " -c:v rawvideo -pix_fmt bgr24");
    const std::vector<std::string> names = {
        "my holiday movie.avi", "Ünïcödé 映画 фильм.avi", "-starts-with-dash.avi", "file:looks-like-a-url.avi",
        "http:looks-like-a-url.avi", "concat:a.avi|b.avi", "what?is=this&x.avi", "quote'and\"dollar$.avi",
        "hash#mark.avi", "percent%20.avi", "pipe:0", "-"};
    for (const std::string& name : names) {
        fs::copy_file(movie, path(name));
        auto by_full_path = open_ok(path(name));
        ASSERT_TRUE(by_full_path) << name;
        EXPECT_TRUE(is_solid_grey(by_full_path->picture_at(120), 20)) << name;
        WorkingDirectory here(directory_);
        auto by_name = open_ok(name);
        ASSERT_TRUE(by_name) << name;
        EXPECT_TRUE(is_solid_grey(by_name->picture_at(60), 10)) << name;
    }
}

TEST_F(MovieLibraryTest, VeryLongPathsOpen) {
    const std::string movie = make("plain.avi", grey_frames("10", 3) + " -c:v rawvideo -pix_fmt bgr24");
    // 300 characters: beyond a one-byte length, within the system's path limit.
    const std::string medium_directory = path(std::string(200, 'm') + "/" + std::string(100, 'n'));
    fs::create_directories(medium_directory);
    fs::copy_file(movie, medium_directory + "/movie.avi");
    auto medium = open_ok(medium_directory + "/movie.avi");
    ASSERT_TRUE(medium);
    EXPECT_TRUE(is_solid_grey(medium->picture_at(60), 10));

    // Beyond the system's path limit of 4096 bytes: 30 folders of 200 characters, made one at a time.
    const std::string folder(200, 'd');
    int directory = ::open(directory_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(directory, 0);
    std::string long_path = directory_;
    for (int level = 0; level < 30; ++level) {
        ASSERT_EQ(::mkdirat(directory, folder.c_str(), 0700), 0);
        const int inner = ::openat(directory, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ::close(directory);
        ASSERT_GE(inner, 0);
        directory = inner;
        long_path += folder + "/";
    }
    const int source = ::open(movie.c_str(), O_RDONLY | O_CLOEXEC);
    const int target = ::openat(directory, "movie.avi", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::close(directory);
    ASSERT_GE(source, 0);
    ASSERT_GE(target, 0);
    const std::string bytes = read_bytes(movie);
    ASSERT_EQ(::write(target, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(source);
    ::close(target);
    long_path += "movie.avi";
    ASSERT_GT(long_path.size(), 6000u);
    auto deep = open_ok(long_path);
    ASSERT_TRUE(deep);
    EXPECT_TRUE(is_solid_grey(deep->picture_at(120), 20));
    // A name that is not there, as deep down, is missing rather than too long.
    MovieOpenResult result = MovieOpenResult::ok;
    std::string detail;
    EXPECT_EQ(Movie::open(long_path + ".not", result, detail), nullptr);
    EXPECT_EQ(result, MovieOpenResult::failed);
    EXPECT_EQ(detail, "No such file or directory");

    // Too deep to remove by path: take the folders apart from the bottom up.
    std::vector<int> levels = {::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    for (int level = 0; level < 30; ++level)
        levels.push_back(::openat(levels.back(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ::unlinkat(levels.back(), "movie.avi", 0);
    for (int level = 30; level > 0; --level) {
        ::close(levels[level]);
        ::unlinkat(levels[level - 1], folder.c_str(), AT_REMOVEDIR);
    }
    ::close(levels[0]);
}

// What a movie gives for one time.
struct Shown {
    Bitmap picture;
    std::string warning;
};

// Asks `movie` for each of `times` in turn.
std::vector<Shown> ask_in_turn(Movie& movie, const std::vector<std::int32_t>& times) {
    std::vector<Shown> shown;
    for (const std::int32_t t : times) {
        const Bitmap& picture = movie.picture_at(t);
        shown.push_back({picture, movie.warning()});
    }
    return shown;
}


// Conversion samples at 5 a second up to past `duration`, then steps of 30 units (several to a
// frame), forwards only, and a few steps back and forth.
std::vector<std::vector<std::int32_t>> times_for(std::int32_t duration) {
    std::vector<std::int32_t> samples, fine, wandering;
    for (std::int32_t t = 0; t < duration + 240; t += 120) samples.push_back(t);
    for (std::int32_t t = 0; t < duration + 60; t += 30) fine.push_back(t);
    wandering = {0, 300, 60, 61, 900, 840, 1199, 120, 100000, 0, 450};
    return {samples, fine, wandering};
}

// Frame n of the variable-rate movies starts at 60·n + 30·(n mod 2) units: 0.15 s and 0.05 s by turns.
std::string variable_rate_grey_frames(int frames) {
    return "-f lavfi -i \"color=c=black:s=64x48:r=10,format=rgb24,geq=r='10*N':g='10*N':b='10*N',settb=1/1000,"
           "setpts='(0.1*N+0.05*mod(N,2))/TB'\" -frames:v " +
           std::to_string(frames) + " -fps_mode passthrough";
}
int variable_rate_frame_at(std::int32_t t, int frames) {
    int frame = 0;
    for (int n = 0; n < frames; ++n)
        if (60 * n + 30 * (n % 2) <= t) frame = n;
    return frame;
}

TEST_F(MovieLibraryTest, PicturesAskedInAnyOrderAreTheFramesOnScreen) {
    struct Case {
        std::string name;
        std::string arguments;
        bool variable_rate;
    };
    const std::vector<Case> cases = {
        {"b.mp4", grey_frames("10", 25) + " " + h264_with_b_frames(8), false},
        {"b.avi", grey_frames("10", 25) + " " + h264_with_b_frames(8), false},
        {"b.h264", grey_frames("10", 25) + " " + h264_with_b_frames(8), false},
        {"lossless.mkv", grey_frames("10", 25) + " -c:v ffv1 -pix_fmt bgr0", false},
        {"variable.mkv", variable_rate_grey_frames(25) + " " + h264_with_b_frames(8), true},
        {"variable.mp4", variable_rate_grey_frames(25) + " " + h264_with_b_frames(8), true},
        // Full-range pictures: taken for studio range, the darkest and lightest greys would be clipped.
        {"full_range.avi", grey_frames("10", 25) + " -c:v mjpeg -q:v 1 -pix_fmt yuvj444p", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = make(c.name, c.arguments);
        if (c.arguments.find("libx264") != std::string::npos) {
            ASSERT_NE(frame_types(file).find('B'), std::string::npos) << "the test movie has no B-frames";
        }
        for (const auto& times : times_for(1500)) {
            auto movie = open_ok(file);
            ASSERT_TRUE(movie);
            const std::vector<Shown> shown = ask_in_turn(*movie, times);
            for (std::size_t k = 0; k < times.size(); ++k) {
                const std::int32_t t = times[k];
                const int frame = c.variable_rate ? variable_rate_frame_at(t, 25) : std::min(t / 60, 24);
                EXPECT_TRUE(is_solid_grey(shown[k].picture, 10 * frame, lossy)) << "t=" << t;
                EXPECT_EQ(shown[k].warning, "") << "t=" << t;
            }
        }
    }
}

}  // namespace
}  // namespace vintrel
