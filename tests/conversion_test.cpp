// Whole conversions of the test movies greys30.avi and greys10.avi, whose right answer is known:
// frame n is a solid grey of level (37·n + 20) mod 256, 10 frames a second.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "convert/pdb/reader.h"
#include "encoder/setup/parameters.h"
#include "tests/fake_movie_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"

namespace vintrel {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::read_file;

constexpr int width = 64, height = 48;

// The documented 2x2 dither, written out independently: the grey palette index by [grey / 16][2 *
// row parity + column parity].
constexpr int dither[16][4] = {
    {0, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 1}, {1, 1, 1, 1}, {2, 1, 1, 1}, {2, 1, 1, 2}, {2, 1, 2, 2},
    {2, 2, 2, 2}, {3, 2, 2, 2}, {2, 2, 2, 3}, {3, 2, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3}, {3, 3, 3, 3},
};

// Packed 2-bit rows of a solid grey frame (white 00 ... black 11), 16 bytes each.
Bytes expected_rows(int grey) {
    Bytes rows(width / 4 * height, 0);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            rows[static_cast<std::size_t>(y * width + x) / 4] |=
                static_cast<std::uint8_t>((3 - dither[grey / 16][2 * (y % 2) + x % 2]) << (6 - 2 * (x % 4)));
    return rows;
}

class MovieConversion : public testing::Test {
protected:
    void SetUp() override {
        dir = test::fresh_scratch_folder("conversion");
        auto params = std::make_shared<Parameters>(*builtin_configuration().value);
        params->statistics_file_name = dir + "/stat.out";
        configuration = params;
    }

    // A copy of the test movie of `frames` (30 or 10) frames, named `name` in the test's folder.
    std::string make_movie(const std::string& name, int frames) {
        const std::string path = dir + "/" + name;
        std::filesystem::copy_file(test::test_movie("greys" + std::to_string(frames) + ".avi"), path);
        return path;
    }

    // Converts `movie`, showing what happens to `shown`, which may stop the conversion with `stop`.
    ConversionResult convert(const std::string& movie, ConversionHost* shown = nullptr) {
        Conversion conversion(configuration, shown ? *shown : host, movie, Movie::open);
        if (!conversion.open_movie() || !conversion.setup()) return ConversionResult::failed;
        outcome = conversion.run(0, stop.get_token());
        messages = messages_of(outcome, conversion);
        return outcome.result;
    }

    // What a host tells the user of the outcome, "caption: text" each.
    static std::vector<std::string> messages_of(const ConversionOutcome& outcome, const Conversion& conversion) {
        std::vector<std::string> said;
        const auto say = [&](const Message& m) {
            said.push_back(m.caption + ": " + m.sentence(document_title(conversion.movie_path())));
        };
        for (const Message& note : outcome.notes) say(note);
        if (outcome.fault.kind != ConversionFailure::none) say(fault_message(outcome.fault, conversion.pdb_name()));
        if (outcome.result == ConversionResult::finished) say(finished_message());
        return said;
    }

    std::string dir;
    std::shared_ptr<const Parameters> configuration;
    ConversionOutcome outcome;
    std::vector<std::string> messages;
    std::stop_source stop;
    test::RecordingHost host;
};

const std::string sequence_end("\x00\x00\x01\xB7", 4);

TEST_F(MovieConversion, EveryRecordHoldsTheDitheredFrameOnScreenAtItsTime) {
    const std::string movie = make_movie("greys.avi", 30);  // 3 seconds
    ASSERT_EQ(convert(movie), ConversionResult::finished);
    EXPECT_EQ(messages, std::vector<std::string>{"Finished: .PDB file has been created !"});

    const std::string pdb = read_file(dir + "/greys.pdb");
    const std::span file(reinterpret_cast<const std::uint8_t*>(pdb.data()), pdb.size());
    const pdb::ReadResult read = pdb::read_database(file);
    ASSERT_TRUE(read.ok()) << read.fault.detail;
    EXPECT_EQ(std::string(pdb, 0, 10), std::string("greys.avi\0", 10));
    ASSERT_EQ(read.database.records.size(), 15u);
    for (int k = 0; k < 15; k++) {
        const pdb::StoredRecord& record = read.database.records[static_cast<std::size_t>(k)];
        EXPECT_EQ(std::pair(record.width, record.height), std::pair(std::uint32_t{width}, std::uint32_t{height}));
        Bytes rows;
        ASSERT_FALSE(pdb::expand_record(file, record, rows).failed());
        // Frame k is taken at k/5 s, when movie frame 2k, of grey (37·2k + 20) mod 256, is on screen.
        EXPECT_EQ(rows, expected_rows((2 * k * 37 + 20) % 256)) << "record " << k;
    }

    // A second conversion gives the same bytes.
    const std::string mpg = read_file(dir + "/greys.mpg");
    ASSERT_EQ(convert(movie), ConversionResult::finished);
    EXPECT_EQ(read_file(dir + "/greys.pdb"), pdb);
    EXPECT_EQ(read_file(dir + "/greys.mpg"), mpg);
}

// (The usual names of the outputs are the command line's cases, an MPEG movie's the format matrix's.)
TEST_F(MovieConversion, NamesAndFrameCounts) {
    // The extension is replaced whatever its length; a name without one gets one added. A dot in a
    // folder's name, or one that starts the file's name, begins no extension.
    for (auto [movie, pdb] : {std::pair{"/clips/clip.qt", "/clips/clip.pdb"}, {"x.webm", "x.pdb"}, {"c.ts", "c.pdb"},
                              {"/a/y.m2ts", "/a/y.pdb"}, {"notes", "notes.pdb"}, {"/a.b/notes", "/a.b/notes.pdb"},
                              {"/a/.hidden", "/a/.hidden.pdb"}, {"clip.", "clip.pdb"}, {"walk.MOV", "walk.pdb"}})
        EXPECT_EQ(output_name(movie, "pdb"), pdb) << movie;
    // The stream never replaces a movie its usual name links to.
    const std::string movie = make_movie("linked.avi", 10);
    ASSERT_EQ(::symlink("linked.avi", (dir + "/linked.mpg").c_str()), 0);
    EXPECT_EQ(stream_name(movie), dir + "/linked.dithered.mpg");
    // Whole or partial fifths of a second.
    for (auto [duration, scale, frames] : {std::tuple{600, 600, 5}, {601, 600, 6}, {0, 600, 0}, {1001, 1000, 6},
                                           {2000000000, 600, 16666667}})
        EXPECT_EQ(count_frames(duration, scale), frames) << duration << "/" << scale;
}

// Looking at a movie leaves its folder as it was: an earlier conversion's database is kept, and a
// movie without one gets none.
TEST_F(MovieConversion, CancelledDialogLeavesTheFolderAsItWas) {
    const std::string earlier = make_movie("earlier.avi", 10), none = make_movie("none.avi", 10);
    std::ofstream(dir + "/earlier.pdb") << "an earlier database";
    const auto listing = [this] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = listing();
    for (const std::string& movie : {earlier, none}) {
        Conversion conversion(configuration, host, movie, Movie::open);
        ASSERT_TRUE(conversion.open_movie());
        ASSERT_TRUE(conversion.setup());
        conversion.abandon();
    }
    EXPECT_EQ(listing(), before);
    EXPECT_EQ(read_file(dir + "/earlier.pdb"), "an earlier database");
}

// (A stop while the stream is coded is the command line's Ctrl-C case.)
TEST_F(MovieConversion, StopWhileTheDatabaseIsWrittenKeepsWhatWasWrittenAndSaysSo) {
    const std::string movie = make_movie("late.avi", 10);  // five frames
    // Stops once the stream is done, that is while the database is written.
    struct LateStopHost : test::RecordingHost {
        std::stop_source* stop = nullptr;
        void writing_database() override { stop->request_stop(); }
    } stopping;
    stopping.stop = &stop;
    EXPECT_EQ(convert(movie, &stopping), ConversionResult::stopped);
    EXPECT_TRUE(read_file(dir + "/late.mpg").ends_with(sequence_end));
    EXPECT_EQ(messages, std::vector<std::string>{"Vintrel: The conversion was stopped while " + dir +
                                                 "/late.pdb was being written; it lists every frame but "
                                                 "holds only some of them."});
    // The file ends after a whole list entry or where a record starts, which the reader names so.
    const std::string pdb = read_file(dir + "/late.pdb");
    const pdb::ReadResult read =
        pdb::read_database(std::span(reinterpret_cast<const std::uint8_t*>(pdb.data()), pdb.size()));
    ASSERT_FALSE(read.ok());
    EXPECT_TRUE(read.fault.detail.starts_with("incomplete database: the header lists 5 records"))
        << read.fault.detail;
}

TEST_F(MovieConversion, RecordsPassingTheDatabaseLimitStopTheConversionThere) {
    const std::string movie = make_movie("huge.avi", 30);  // 15 frames
    Conversion conversion(configuration, host, movie, Movie::open);
    ASSERT_TRUE(conversion.open_movie());
    ASSERT_TRUE(conversion.setup());
    // Room for the header, the list and the record headers of 15 records, and 1 byte of rows:
    // the first record passes it.
    conversion.limit_database_for_test(pdb::database_header_size +
                                       15 * (pdb::record_list_entry_size + pdb::record_header_size) + 1);
    outcome = conversion.run(0);
    EXPECT_EQ(outcome.result, ConversionResult::failed);
    EXPECT_EQ(messages_of(outcome, conversion), std::vector<std::string>{"Vintrel: Couldn't write output file " + dir +
                                                      "/huge.pdb: its 15 frames need more than the 4 GB a handheld "
                                                      "database can address. The movie was not converted "
                                                      "completely; the database was left empty."});
    EXPECT_EQ(read_file(dir + "/huge.pdb").size(), 0u);
    // The stream ends properly; the picture whose record passed the limit is not coded.
    const std::string mpg = read_file(dir + "/huge.mpg");
    EXPECT_TRUE(mpg.ends_with(sequence_end));
    EXPECT_EQ(mpg.find(std::string("\x00\x00\x01\x00", 4)), std::string::npos);
}

}  // namespace
}  // namespace vintrel
