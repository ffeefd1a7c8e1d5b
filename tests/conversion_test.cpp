// Whole conversions of the test movies greys30.avi and greys10.avi, whose right answer is known:
// frame n is a solid grey of level (37·n + 20) mod 256, 10 frames a second.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "encoder/setup/read_parameters.h"
#include "tests/fake_movie_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"

namespace vintrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::read_file;
using test::run_program;

constexpr int width = 64, height = 48, movie_rate = 10;

int grey_of_movie_frame(int n) { return (n * 37 + 20) % 256; }

// The documented 2x2 dither: palette index by grey / 16 and position, written out independently.
int dithered_index(int grey, int row, int column) {
    static const int table[16][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 1},
                                     {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 1, 1, 2}, {2, 1, 2, 2},
                                     {2, 2, 2, 2}, {3, 2, 2, 2}, {2, 2, 2, 3}, {3, 2, 3, 3},
                                     {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}};
    return table[grey / 16][2 * (row % 2) + column % 2];
}

// Packed 2-bit rows of a solid grey frame (white 00 ... black 11).
std::vector<Bytes> expected_rows(int grey) {
    std::vector<Bytes> rows;
    for (int y = 0; y < height; y++) {
        Bytes row(width / 4 % 2 ? width / 4 + 1 : width / 4, 0);
        for (int x = 0; x < width; x++)
            row[static_cast<std::size_t>(x / 4)] |=
                static_cast<std::uint8_t>((3 - dithered_index(grey, y, x)) << (6 - 2 * (x % 4)));
        rows.push_back(row);
    }
    return rows;
}

// Expands one record's packets into rows of `row_length` bytes.
std::vector<Bytes> expand_record(const Bytes& data, std::size_t row_length) {
    std::vector<Bytes> rows(1);
    for (std::size_t i = 0; i < data.size();) {
        const int control = data[i++];
        if (control < 0x80) {
            rows.back().insert(rows.back().end(), data.begin() + static_cast<std::ptrdiff_t>(i),
                               data.begin() + static_cast<std::ptrdiff_t>(i + static_cast<std::size_t>(control)));
            i += static_cast<std::size_t>(control);
        } else {
            rows.back().insert(rows.back().end(), static_cast<std::size_t>(control - 0x80), data[i++]);
        }
        if (rows.back().size() >= row_length) rows.emplace_back();
    }
    rows.pop_back();
    return rows;
}

class MovieConversion : public testing::Test {
protected:
    void SetUp() override {
        dir = test::fresh_scratch_folder("conversion");
        read_parameters(encoder);
        encoder.params.statistics_file_name = dir + "/stat.out";
    }

    // A copy of the test movie of `frames` (30 or 10) frames, named `name` in the test's folder.
    std::string make_movie(const std::string& name, int frames) {
        const std::string path = dir + "/" + name;
        std::filesystem::copy_file(test::test_movie("greys" + std::to_string(frames) + ".avi"), path);
        return path;
    }

    // Converts `movie`; a host with a `conversion` member is given the conversion it may stop.
    template <typename Host = test::RecordingHost>
    ConversionResult convert(const std::string& movie, int brightness = 0, Host* stopping = nullptr) {
        ConversionHost& used = stopping ? static_cast<ConversionHost&>(*stopping) : host;
        Conversion conversion(encoder, used, movie, open);
        if constexpr (requires { stopping->conversion; })
            if (stopping) stopping->conversion = &conversion;
        if (!conversion.open_movie() || !conversion.setup()) return ConversionResult::failed;
        frame_count = conversion.frame_count();
        outcome = conversion.run(brightness);
        return outcome.result;
    }

    std::string dir;
    MovieOpener open = Movie::open;
    ConversionOutcome outcome;
    EncoderState encoder;
    test::RecordingReporter report{encoder};
    test::RecordingHost host;
    int frame_count = 0;
};

const std::string sequence_end("\x00\x00\x01\xB7", 4);

TEST_F(MovieConversion, EveryRecordHoldsTheDitheredFrameOnScreenAtItsTime) {
    const std::string movie = make_movie("greys.avi", 30);  // 3 seconds
    ASSERT_EQ(convert(movie), ConversionResult::finished);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Finished: .PDB file has been created !"});
    ASSERT_EQ(frame_count, 15);

    const std::string pdb = read_file(dir + "/greys.pdb");
    const Bytes b(pdb.begin(), pdb.end());
    ASSERT_GE(b.size(), 78u + 8u * 15u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 9), "greys.avi");
    EXPECT_EQ(b[9], 0);
    EXPECT_EQ(b[77], 15);
    for (int k = 0; k < 15; k++) {
        const std::size_t entry = 78 + 8 * static_cast<std::size_t>(k);
        const std::size_t offset = static_cast<std::size_t>(b[entry]) << 24 | static_cast<std::size_t>(b[entry + 1]) << 16 |
                                   static_cast<std::size_t>(b[entry + 2]) << 8 | b[entry + 3];
        ASSERT_LT(offset + 12, b.size());
        EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset), b.begin() + static_cast<std::ptrdiff_t>(offset + 8)),
                  (Bytes{0, 0, 0, width, 0, 0, 0, height}));
        const std::size_t length = static_cast<std::size_t>(b[offset + 10]) << 8 | b[offset + 11];
        const Bytes data(b.begin() + static_cast<std::ptrdiff_t>(offset + 12),
                         b.begin() + static_cast<std::ptrdiff_t>(offset + 12 + length));
        // Frame k is taken at k/5 s, when movie frame 2k is on screen.
        EXPECT_EQ(expand_record(data, width / 4), expected_rows(grey_of_movie_frame(2 * k))) << "record " << k;
    }

    // The stream, decoded by ffmpeg, shows the same four-level pictures.
    auto decoded = run_program("ffmpeg -nostdin -v error -i " + dir + "/greys.mpg -vsync passthrough -f rawvideo "
                               "-pix_fmt yuv420p -y " + dir + "/decoded.yuv");
    ASSERT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.err, "");
    const std::string pictures = read_file(dir + "/decoded.yuv");
    const std::size_t picture_size = static_cast<std::size_t>(width * height * 3 / 2);
    ASSERT_EQ(pictures.size(), picture_size * 15);
    const int luminance[4] = {16, 89, 161, 234};
    for (int k = 0; k < 15; k++) {
        double sum = 0;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                const double d = static_cast<unsigned char>(pictures[k * picture_size + static_cast<std::size_t>(y * width + x)]) -
                                 luminance[dithered_index(grey_of_movie_frame(2 * k), y, x)];
                sum += d * d;
            }
        const double psnr = sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * width * height / sum);
        EXPECT_GE(psnr, 40.0) << "picture " << k;
    }

    // A second conversion gives the same bytes.
    const std::string mpg = read_file(dir + "/greys.mpg");
    ASSERT_EQ(convert(movie), ConversionResult::finished);
    EXPECT_EQ(read_file(dir + "/greys.pdb"), pdb);
    EXPECT_EQ(read_file(dir + "/greys.mpg"), mpg);
}

TEST_F(MovieConversion, NamesAndFrameCounts) {
    EXPECT_EQ(output_name("/clips/walk.mov", "pdb"), "/clips/walk.pdb");
    EXPECT_EQ(output_name("/clips/clip.qt", "mpg"), "/clips/clipmpg");
    // The stream never replaces the movie: not an MPEG movie, nor a movie its usual name links to.
    EXPECT_EQ(stream_name("/clips/walk.mov"), "/clips/walk.mpg");
    EXPECT_EQ(stream_name("/clips/walk.mpg"), "/clips/walk.dithered.mpg");
    const std::string movie = make_movie("linked.avi", 10);
    ASSERT_EQ(::symlink("linked.avi", (dir + "/linked.mpg").c_str()), 0);
    EXPECT_EQ(stream_name(movie), dir + "/linked.dithered.mpg");
    EXPECT_EQ(document_title("/clips/a long name.mov"), "a long name.mov");
    // Whole or partial fifths of a second.
    for (auto [duration, scale, frames] : {std::tuple{600, 600, 5}, {601, 600, 6}, {0, 600, 0}, {1001, 1000, 6},
                                           {2000000000, 600, 16666667}})
        EXPECT_EQ(count_frames(duration, scale), frames) << duration << "/" << scale;
}

TEST_F(MovieConversion, CancelledDialogLeavesAnEmptyDatabaseAndNoStream) {
    const std::string movie = make_movie("cancel.avi", 10);
    {
        Conversion conversion(encoder, host, movie, Movie::open);
        ASSERT_TRUE(conversion.open_movie());
        ASSERT_TRUE(conversion.setup());
        conversion.abandon();
    }
    struct stat info;
    ASSERT_EQ(::stat((dir + "/cancel.pdb").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_NE(::stat((dir + "/cancel.mpg").c_str(), &info), 0);
}

// A fake movie, handed to the conversion by its opener, drives it until it is stopped while the
// stream is coded: the stream ends there, the database stays empty, and the outcome says so.
TEST_F(MovieConversion, StopDuringEncodingKeepsAPartialStreamAndAnEmptyDatabase) {
    std::vector<Bitmap> frames;
    for (int n = 0; n < 15; n++) frames.push_back(test::solid_bitmap(64, 48, 90, 90, 90));
    open = [&frames](const std::string&, MovieOpenResult& result, std::string&) {
        result = MovieOpenResult::ok;
        return std::make_unique<test::FakeMovie>(frames);
    };
    const std::string movie = dir + "/stop.avi";
    // Stops once the third picture has been dithered.
    struct StoppingHost : test::RecordingHost {
        Conversion* conversion = nullptr;
        bool pump_waiting_messages() override {
            if (dithered >= 3) conversion->request_stop();
            return false;
        }
    } stopping;
    EXPECT_EQ(convert(movie, 0, &stopping), ConversionResult::stopped);
    EXPECT_EQ(outcome.database, DatabaseState::emptied);
    EXPECT_EQ(outcome.stream, StreamState::ended_early);
    EXPECT_TRUE(stopping.messages.empty());
    EXPECT_LT(stopping.dithered, 15);
    EXPECT_EQ(read_file(dir + "/stop.pdb").size(), 0u);
    const std::string mpg = read_file(dir + "/stop.mpg");
    ASSERT_GT(mpg.size(), 4u);
    EXPECT_EQ(mpg.substr(mpg.size() - 4), sequence_end);
}

TEST_F(MovieConversion, StopWhileTheDatabaseIsWrittenKeepsWhatWasWrittenAndSaysSo) {
    const std::string movie = make_movie("late.avi", 10);  // five frames
    // Stops at the first message check after the stream was closed (ending in its sequence end
    // code), that is while the database is written.
    struct LateStopHost : test::RecordingHost {
        Conversion* conversion = nullptr;
        std::string stream;
        bool pump_waiting_messages() override {
            const std::string bytes = read_file(stream);
            if (bytes.size() >= 4 && bytes.substr(bytes.size() - 4) == sequence_end) conversion->request_stop();
            return false;
        }
    } stopping;
    stopping.stream = dir + "/late.mpg";
    EXPECT_EQ(convert(movie, 0, &stopping), ConversionResult::stopped);
    EXPECT_EQ(stopping.messages, std::vector<std::string>{"Vintrel: The conversion was stopped while " + dir +
                                                          "/late.pdb was being written; it lists every frame but "
                                                          "holds only some of them."});
    // The header describes five records; the file ends after a whole list entry or, past the
    // list, where one of the records starts.
    const std::string pdb = read_file(dir + "/late.pdb");
    ASSERT_GE(pdb.size(), 78u);
    EXPECT_EQ(pdb[77], 5);
    std::size_t end = 78;
    int whole = 0;
    while (end < pdb.size() && end < 78 + 5 * 8) end += 8;
    while (end + 12 <= pdb.size() && whole < 5) {
        end += 12 + (static_cast<unsigned char>(pdb[end + 10]) << 8 | static_cast<unsigned char>(pdb[end + 11]));
        ++whole;
    }
    EXPECT_EQ(pdb.size(), end);
    EXPECT_LT(whole, 5);
}

TEST_F(MovieConversion, RecordsPassingTheDatabaseLimitStopTheConversionThere) {
    const std::string movie = make_movie("huge.avi", 30);  // 15 frames
    Conversion conversion(encoder, host, movie, Movie::open);
    ASSERT_TRUE(conversion.open_movie());
    ASSERT_TRUE(conversion.setup());
    // Room for the header, the list and the record headers of 15 records, and 1 byte of rows:
    // the first record passes it.
    conversion.limit_database_for_test(78 + 15 * (8 + 12) + 1);
    EXPECT_EQ(conversion.run(0).result, ConversionResult::failed);
    EXPECT_EQ(host.messages, std::vector<std::string>{"Vintrel: Couldn't write output file " + dir +
                                                      "/huge.pdb: its 15 frames need more than the 4 GB a handheld "
                                                      "database can address. The movie was not converted "
                                                      "completely; the database was left empty."});
    EXPECT_EQ(read_file(dir + "/huge.pdb").size(), 0u);
    // The stream ends properly; the picture whose record passed the limit is not coded.
    const std::string mpg = read_file(dir + "/huge.mpg");
    ASSERT_GT(mpg.size(), 4u);
    EXPECT_EQ(mpg.substr(mpg.size() - 4), sequence_end);
    EXPECT_EQ(mpg.find(std::string("\x00\x00\x01\x00", 4)), std::string::npos);
}

TEST_F(MovieConversion, FailuresToOpenOrCreateAreReportedAndNothingIsConverted) {
    // A directory where the database should go: creating it fails even for root.
    const std::string movie = make_movie("blocked.avi", 10);
    ASSERT_EQ(::mkdir((dir + "/blocked.pdb").c_str(), 0755), 0);
    std::ofstream(dir + "/notes.mov") << "This is not a movie.\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {movie, "Vintrel: Couldn't create output file " + dir + "/blocked.pdb (Is a directory)"},
        {dir + "/nowhere.mov", "QT DLL: OpenMovieFile failure"},
        {dir + "/notes.mov",
         "QuickTime Error: The movie file could not be opened. It may be in use or in an invalid format."},
    };
    for (const auto& [file, message] : cases) {
        test::RecordingHost failing;
        Conversion conversion(encoder, failing, file, Movie::open);
        EXPECT_FALSE(conversion.open_movie() && conversion.setup()) << file;
        EXPECT_EQ(failing.messages, std::vector<std::string>{message});
    }
    struct stat info;
    EXPECT_NE(::stat((dir + "/blocked.mpg").c_str(), &info), 0);
}

}  // namespace
}  // namespace vintrel
