// vintrel-convert as a user runs it, on ordinary movies and on hostile inputs and a hostile machine:
// every case ends with the message and exit status a user can act on, and never leaves a .pdb that
// looks complete when it is not.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"

namespace vintrel {
namespace {

using test::convert_program;
using test::read_file;
using test::run_program;

const std::string created = ".PDB file has been created !";

// What a case leaves on disk.
enum class Output {
    absent,   // never created
    empty,    // created, 0 bytes
    sound,    // .pdb: vintrel-pdb checks every record; .mpg: ends properly and ffmpeg decodes it without a complaint
    partial,  // .mpg only: some bytes, the pictures that could be written before the failure
    kept,     // what was there before the run (the movie itself, a folder), left alone
};

// How the program is run: options, what happens around it, and what is done to the movie first.
struct Invocation {
    std::string options = "--stat -";
    std::string before = "";     // shell commands run first in the same shell (limits, a user switch)
    std::string meanwhile = "";  // runs once the stream has begun to reach the disk, with $pid set
    // Damages the copy, or changes what is around it.
    std::function<void(const std::string& dir, Invocation& run)> prepare = nullptr;
    std::string program = convert_program;
};

// One case as a user would meet it: the fixture's movie `fixture` copied into the case's folder
// as `movie`, converted from that folder by its full path.
struct Case {
    const char* name;
    std::string fixture, movie;
    // Must appear in what the program printed, or not at all after a "!"; %DIR% is the case's folder.
    std::vector<std::string> messages;
    int exit_code;
    Output pdb, mpg;
    int records = -1;  // frames in a sound .pdb and .mpg, when known
    Invocation invocation = {};
    int width = 0, height = 0;  // of every record and the stream, when checked
    std::string outputs = "";   // the folder in the case's folder the outputs go to, when not beside the movie
};

void write_file(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Runs the converter as a user who may not write into a read-only directory. Root may write
// anywhere, so root runs a copy of it (which any user can reach) as nobody.
void as_ordinary_user(const std::string& dir, Invocation& run) {
    if (::geteuid() != 0) return;
    // nobody passes through the folders to the program and the movie.
    ::chmod(test::scratch_directory().c_str(), 0711);
    ::chmod(dir.c_str(), 0711);
    run.program = dir + "/vintrel-convert";
    std::filesystem::copy_file(convert_program, run.program, std::filesystem::copy_options::overwrite_existing);
    ::chmod(run.program.c_str(), 0755);
    run.before = "exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
}

const Case cases[] = {
    // H.264 with B-frames, a name with a space.
    {"MovieWithBFrames", "clip.mp4", "clip one.mp4",
     {created, "\n  %DIR%/clip one.pdb\n  %DIR%/clip one.mpg\n", "Encoding frame 9 "}, 0, Output::sound,
     Output::sound, 10, {.options = "--stat - --verbose"}, 96, 64},
    // 0.5 s; sizes that are no multiple of 16 or even of 2.
    {"OddSizes", "odd.avi", "odd.avi", {created}, 0, Output::sound, Output::sound, 3, {}, 95, 63},
    // 640x360 fitted inside the screen.
    {"FittedToTheScreen", "wide.mp4", "wide.mp4", {created}, 0, Output::sound, Output::sound, 5,
     {.options = "--fit 320x480"}, 320, 180},
    // 10 frames of 32x32x3 bytes at 5 a second, cut after five whole frames and 1000 bytes of the
    // sixth: the five frames that decode, and a warning that the rest of the 2 s is missing.
    {"TruncatedInsideAFrame", "raw32x32.avi", "cut.avi",
     {"%DIR%/cut.avi: the pictures stop at 1.0 s of the 2.0 s its header gives; the rest could not be read.",
      "!could not be decoded"},
     0, Output::sound, Output::sound, 5, {.prepare = [](const std::string& dir, Invocation&) {
         const std::string whole = read_file(dir + "/cut.avi");
         write_file(dir + "/cut.avi", whole.substr(0, whole.find("movi") + 4 + 8 + 5 * (3072 + 8) + 1000));
     }}},
    {"SingleFrame", "raw48x32_single.avi", "one.avi", {created}, 0, Output::sound, Output::sound, 1},
    // Frames of 16x16 in a file whose headers declare 16000x16000 pictures.
    {"HugeDeclaredPictureSize", "raw16x16.avi", "huge.avi", {"huge.avi: " + test::not_a_movie_message}, 2,
     Output::absent, Output::absent, -1, {.prepare = [](const std::string& dir, Invocation&) {
         std::string bytes = read_file(dir + "/huge.avi");
         // The main header's width and height, and the stream format's, as 16000 (0x3E80) each.
         for (const auto& [tag, skip] : {std::pair<std::string, int>{"avih", 32}, {"strf", 4}})
             bytes.replace(bytes.find(tag) + 8 + skip, 8, std::string("\x80\x3E\0\0\x80\x3E\0\0", 8));
         write_file(dir + "/huge.avi", bytes);
     }}},
    {"PictureSizeTheStreamCannotCarry", "raw4096x16.avi", "wide.avi",
     {"wide.avi: the picture size 4096x16 cannot be carried by an MPEG-1 stream", "!wide.avi: wide.avi"}, 2,
     Output::absent, Output::absent},
    // The open movie stays readable to us: nothing is lost.
    {"MovieDeletedDuringTheConversion", "mjpeg320x240.avi", "going.avi", {created}, 0, Output::sound, Output::sound,
     600, {.meanwhile = "rm going.avi"}},
    // The frames no longer there are the last picture that could be read, each with a warning.
    {"MovieEmptiedDuringTheConversion", "mjpeg320x240.avi", "gone.avi",
     {"%DIR%/gone.avi: Warning: some pictures could not be decoded (", "!Warning: %DIR%/gone.avi: the picture at"},
     0, Output::sound, Output::sound, 600, {.meanwhile = ": > gone.avi"}},
    // Ctrl-C stops after the current picture, long before the 600th, without finishing.
    {"InterruptDuringTheConversion", "mjpeg320x240.avi", "long.avi",
     {"%DIR%/long.avi: stopped; %DIR%/long.mpg holds the pictures coded so far and %DIR%/long.pdb was left empty",
      "!Encoding frame 599 "},
     130, Output::empty, Output::sound, -1, {.options = "--stat - --verbose", .meanwhile = "kill -INT $pid"}},
    // Converting it must not overwrite it.
    {"MovieNamedLikeItsDatabase", "holiday.pdb", "holiday.pdb",
     {"holiday.pdb: the output file %DIR%/holiday.pdb would replace the movie itself. Nothing was converted."}, 2,
     Output::kept, Output::absent},
    {"StatisticsFileNamedAsTheMovie", "raw32x32_short.avi", "walk.avi",
     {"walk.avi: the output file walk.avi would replace the movie itself. Nothing was converted."}, 2, Output::absent,
     Output::absent, -1, {.options = "--stat walk.avi"}},
    // Two frames 13201 s apart, each shown for 1 s: 13202 s at 5 frames a second.
    {"MoreRecordsThanHandheldsList", "long.mkv", "long.mkv",
     {"%DIR%/long.pdb holds 66010 frames. Handheld readers count at most 65535 records, so they may list only part "
      "of it."},
     0, Output::sound, Output::sound, 66010, {.options = "--stat /dev/null"}},
    {"ReadOnlyOutputDirectory", "raw32x32_short.avi", "locked/walk.avi",
     {"Couldn't create output file %DIR%/locked/walk.pdb (Permission denied)"}, 2, Output::absent, Output::absent, -1,
     {.prepare = [](const std::string& dir, Invocation& run) {
         ::chmod((dir + "/locked").c_str(), 0555);
         as_ordinary_user(dir, run);
     }}},
    // The same card, its outputs written into another folder.
    {"OutputFolderForAReadOnlyCard", "raw32x32_short.avi", "locked/walk.avi",
     {"%DIR%/locked/walk.avi: .PDB file has been created !\n  out/walk.pdb\n  out/walk.mpg"}, 0, Output::sound,
     Output::sound, -1,
     {.options = "--stat - -o out", .prepare = [](const std::string& dir, Invocation& run) {
          std::filesystem::create_directory(dir + "/out");
          ::chmod((dir + "/out").c_str(), 0777);
          ::chmod((dir + "/locked").c_str(), 0555);
          as_ordinary_user(dir, run);
      }}, 0, 0, "out"},
    // 50 KiB a file (the shell counts 512-byte blocks): far too little.
    {"DiskFullDuringTheStream", "big.mov", "big.mov",
     {"Couldn't write output file %DIR%/big.mpg (File too large). The conversion was stopped; %DIR%/big.pdb was left "
      "empty."},
     2, Output::empty, Output::partial, -1, {.before = "ulimit -f 100 && "}},
    // Stripes of four black and four white pixels: no packed byte equals its neighbour, so each
    // 320-pixel row is one literal packet of 81 bytes, 19452 bytes a frame and 190 KiB for ten
    // frames, while the stream codes the same pattern in every block far more cheaply (140 KiB).
    // A limit of 170 KiB a file stops the database, not the stream.
    {"DiskFullDuringTheDatabase", "stripes.avi", "stripes.avi",
     {"Couldn't write output file %DIR%/stripes.pdb (File too large). The movie was not converted completely; the "
      "database was left empty."},
     2, Output::empty, Output::sound, 10, {.before = "ulimit -f 340 && "}},
    // The encoder's fatal error ends the run; what is in the stream's place is not this run's and
    // is not called incomplete.
    {"StreamCannotBeCreated", "raw32x32_short.avi", "blocked.avi",
     {"Couldn't create output file %DIR%/blocked.mpg",
      "%DIR%/blocked.avi: the conversion ended on the error above; %DIR%/blocked.pdb was left empty\n"},
     1, Output::empty, Output::kept, -1,
     {.prepare = [](const std::string& dir, Invocation&) { ::mkdir((dir + "/blocked.mpg").c_str(), 0755); }}},
    {"StatisticsFileCannotBeCreated", "raw32x32_short.avi", "stats.avi",
     {"Couldn't create statistics output file no such folder/stat.out",
      "%DIR%/stats.avi: the conversion ended on the error above; %DIR%/stats.pdb was left empty and %DIR%/stats.mpg "
      "is incomplete"},
     1, Output::empty, Output::empty, -1, {.options = "--stat 'no such folder/stat.out'"}},
    {"StatisticsFileCannotBeWritten", "raw32x32_short.avi", "stats.avi",
     {"Couldn't write the statistics file /dev/full"}, 0, Output::sound, Output::sound, 5,
     {.options = "--stat /dev/full"}},
};

void PrintTo(const Case& input, std::ostream* out) { *out << input.name; }

// `path` is as case `c` leaves it.
void expect_output(const std::string& path, Output state, const Case& c) {
    struct stat info;
    const bool exists = ::stat(path.c_str(), &info) == 0;
    ASSERT_EQ(exists, state != Output::absent) << path;
    EXPECT_TRUE(state != Output::empty || info.st_size == 0) << path;
    EXPECT_TRUE(state != Output::partial || info.st_size > 0) << path;
    if (state != Output::sound) return;
    const std::string records = c.records < 0 ? "" : std::to_string(c.records);
    if (path.ends_with("pdb")) {
        auto r = run_program(test::pdb_program + " info '" + path + "'");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find("records:   " + records), std::string::npos) << r.out;
        const std::string shape = "width " + std::to_string(c.width) + ", height " + std::to_string(c.height);
        int sized = 0;
        for (std::size_t at = r.out.find(shape); at != std::string::npos; at = r.out.find(shape, at + 1)) ++sized;
        EXPECT_TRUE(c.width == 0 || sized == c.records) << r.out;
        return;
    }
    EXPECT_TRUE(read_file(path).ends_with(std::string("\x00\x00\x01\xB7", 4))) << path;
    auto r = run_program("ffprobe -v error -count_frames -show_entries stream=width,height,nb_read_frames "
                         "-of csv=p=0 '" + path + "'");
    EXPECT_EQ(r.err, "") << path;
    EXPECT_TRUE(c.records < 0 || r.out.ends_with("," + records + "\n")) << path << ": " << r.out;
    EXPECT_TRUE(c.width == 0 || r.out.starts_with(std::to_string(c.width) + "," + std::to_string(c.height) + ","))
        << path << ": " << r.out;
}

class ConvertCliCases : public testing::TestWithParam<Case> {};

TEST_P(ConvertCliCases, EndWithTheirMessageExitStatusAndOutputs) {
    const Case& c = GetParam();
    Invocation run = c.invocation;
    const std::string dir = test::fresh_scratch_folder(c.name);
    const std::string movie = dir + "/" + c.movie;
    const std::string beside = movie.substr(0, movie.size() - 3);
    const std::string base = c.outputs.empty() ? beside : dir + "/" + c.outputs + beside.substr(beside.find_last_of('/'));
    std::filesystem::create_directories(std::filesystem::path(movie).parent_path());
    std::filesystem::copy_file(test::test_movie(c.fixture), movie);
    if (run.prepare) run.prepare(dir, run);
    const std::string movie_bytes = read_file(movie);
    std::string command = run.before + "'" + run.program + "' " + run.options + " '" + movie + "'";
    if (!run.meanwhile.empty()) {
        // Once the stream has begun to reach the disk, while most of the movie is still to come.
        command = "{ " + command + " & pid=$!; for i in $(seq 1000); do [ -s '" + base + "mpg' ] && break; sleep 0.01; "
                  "done; " + run.meanwhile + "; wait $pid; }";
    }
    auto r = run_program("cd '" + dir + "' && " + command);

    for (std::string message : c.messages) {
        for (std::size_t at; (at = message.find("%DIR%")) != std::string::npos;) message.replace(at, 5, dir);
        const bool absent = message.starts_with('!');
        EXPECT_EQ((r.out + r.err).find(message.substr(absent)) == std::string::npos, absent)
            << "expected: " << message << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
    }
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_TRUE(c.exit_code == 0 || r.out.find(created) == std::string::npos) << r.out;
    // The movie is never changed, unless the case itself changes it while it is converted.
    EXPECT_TRUE(!run.meanwhile.empty() || read_file(movie) == movie_bytes);
    expect_output(base + "pdb", c.pdb, c);
    expect_output(base + "mpg", c.mpg, c);
    EXPECT_TRUE(c.outputs.empty() || !std::filesystem::exists(beside + "pdb"));
}

INSTANTIATE_TEST_SUITE_P(Movies, ConvertCliCases, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

class ConvertCli : public testing::Test {
protected:
    void SetUp() override { dir = test::fresh_scratch_folder("convert_cli"); }

    test::ProgramResult run(const std::string& arguments) {
        return run_program("cd '" + dir + "' && " + convert_program + " " + arguments);
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(dir + "/" + name); }

    std::string dir;
};

TEST_F(ConvertCli, EveryBadMovieIsReportedAndTheRestStillConverted) {
    std::ofstream(dir + "/empty.mov");
    std::ofstream(dir + "/notes.avi") << "Shopping list: milk, eggs.\n";
    const std::string whole = read_file(test::test_movie("full.mp4"));
    std::ofstream(dir + "/truncated.mp4", std::ios::binary) << whole.substr(0, whole.size() / 2);
    std::filesystem::copy_file(test::test_movie("aac.mov"), dir + "/audio.mov");
    std::filesystem::copy_file(test::test_movie("clip.mp4"), dir + "/walk.mov");
    ASSERT_EQ(::mkdir((dir + "/walk.pdb").c_str(), 0755), 0);
    std::filesystem::copy_file(test::test_movie("clip.mp4"), dir + "/good.mov");

    auto r = run("empty.mov notes.avi truncated.mp4 audio.mov missing.mov walk.mov good.mov");
    EXPECT_EQ(r.exit_code, 2);
    for (const std::string bad : {"empty.mov", "notes.avi", "truncated.mp4", "audio.mov"}) {
        EXPECT_NE(r.err.find(bad + ": " + test::not_a_movie_message), std::string::npos) << bad << "\n" << r.err;
        EXPECT_FALSE(exists(bad.substr(0, bad.size() - 3) + "pdb")) << bad;
    }
    EXPECT_NE(r.err.find("missing.mov: OpenMovieFile failure (No such file or directory)"), std::string::npos) << r.err;
    // A database that cannot be created skips its movie.
    EXPECT_NE(r.err.find("Couldn't create output file walk.pdb (Is a directory)"), std::string::npos) << r.err;
    EXPECT_FALSE(exists("walk.mpg"));
    EXPECT_NE(r.out.find("good.mov: .PDB file has been created !"), std::string::npos);
    EXPECT_GT(read_file(dir + "/good.pdb").size(), 78u);
    EXPECT_TRUE(exists("stat.out"));  // the statistics file's usual name
    // The run ends with the movies not converted, each with its reason, and a count.
    EXPECT_NE(r.out.find("not converted:\n  empty.mov: " + test::not_a_movie_message + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  walk.mov: Couldn't create output file walk.pdb"), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("\nconverted 1 of 7 movies\n")) << r.out;
}

// What a user sees of three movies, one not a movie: on a terminal and not, quiet, or verbose.
TEST_F(ConvertCli, OutputSuitsTheTerminalAndTheVerbosity) {
    std::filesystem::copy_file(test::test_movie("clip.mp4"), dir + "/one.mp4");
    std::ofstream(dir + "/notes.avi") << "Shopping list: milk, eggs.\n";
    std::filesystem::copy_file(test::test_movie("clip.mp4"), dir + "/two.mp4");
    const std::string refused = "vintrel-convert: notes.avi: " + test::not_a_movie_message;
    const std::string converted = "one.mp4: " + created + "\n  one.pdb\n  one.mpg\n";
    struct Mode {
        const char* options;
        bool terminal;  // run on a pseudo-terminal, whose output mixes standard output and error
        std::vector<std::string> shown, not_shown;
    };
    const Mode modes[] = {
        // Not on a terminal: results, the warnings grouped, errors and the count; no progress line.
        {"", false, {converted, refused, ": Warning: ", " pictures)\n", "converted 2 of 3 movies\n"},
         {"\r", "frame 1 of 10", "Encoding frame", "Warning: setting", "vbv_delay overflow!"}},
        // On a terminal: one line drawn over and over, cleared before the result.
        {"", true, {"\rone.mp4: frame 1 of 10, 0%\x1b[K", "\rtwo.mp4: frame 10 of 10, 90%, ", "\r\x1b[Kone.mp4: " + created},
         {"Encoding frame", "Warning: setting", "\none.mp4: frame"}},
        // The encoder's own text, as it comes.
        {"--verbose", false, {converted, "Warning: setting progressive_sequence = 1\n", "Encoding frame 9 "}, {"\r"}},
        {"--verbose", true, {"\none.mp4: frame 1 of 10\n", "Encoding frame 9 "}, {"\x1b[K"}},
        {"-q", true, {refused}, {created, "converted", "Warning", "frame 1"}},
    };
    for (const Mode& mode : modes) {
        const std::string command = convert_program + " --stat /dev/null " + mode.options + " one.mp4 notes.avi two.mp4";
        auto r = run_program("cd '" + dir + "' && " + (mode.terminal ? "script -qec '" + command + "' /dev/null" : command));
        const std::string all = r.out + r.err;
        std::string text;  // a terminal ends its lines with CR LF
        for (std::size_t k = 0; k < all.size(); k++)
            if (!(all[k] == '\r' && k + 1 < all.size() && all[k + 1] == '\n')) text += all[k];
        const std::string name = std::string(mode.options) + (mode.terminal ? " on a terminal" : "");
        EXPECT_EQ(r.exit_code, 2) << name;
        for (const std::string& shown : mode.shown)
            EXPECT_NE(text.find(shown), std::string::npos) << name << ": " << shown << "\n" << text;
        for (const std::string& hidden : mode.not_shown)
            EXPECT_EQ(text.find(hidden), std::string::npos) << name << ": " << hidden << "\n" << text;
    }
}

// The pictures of a stream as the ffmpeg program decodes them, one grey byte a pixel.
std::string decoded_greys(const std::string& stream) {
    return run_program("ffmpeg -nostdin -v error -i '" + stream + "' -fps_mode passthrough -f rawvideo -pix_fmt gray -").out;
}

// Only the part asked for is converted: record 0 is the frame at its start. Frame n of the movie
// has a white bar in columns 2n and 2n + 1, so the first picture tells which frame it is.
TEST_F(ConvertCli, APartOfTheMovie) {
    std::filesystem::copy_file(test::test_movie("bars.avi"), dir + "/bars.avi");
    const struct {
        const char* options;
        int records, first_frame;
    } parts[] = {
        {"--start 2 --duration 3", 15, 10}, {"--start 0:01.2 --end 2", 4, 6}, {"--end 1", 5, 0},
        {"--start 4.9", 1, 24},              {"", 25, 0},
    };
    for (const auto& part : parts) {
        auto r = run(std::string("--stat /dev/null ") + part.options + " bars.avi");
        ASSERT_EQ(r.exit_code, 0) << part.options << "\n" << r.err;
        EXPECT_NE(run_program(test::pdb_program + " info '" + dir + "/bars.pdb'").out.find(
                      "records:   " + std::to_string(part.records) + "\n"),
                  std::string::npos)
            << part.options;
        const std::string greys = decoded_greys(dir + "/bars.mpg");
        ASSERT_EQ(greys.size(), 64u * 48 * part.records) << part.options;
        std::string bright_columns;
        for (int x = 0; x < 64; x++) bright_columns += static_cast<unsigned char>(greys[24 * 64 + x]) > 128 ? '#' : '.';
        EXPECT_EQ(bright_columns.find('#'), 2u * part.first_frame) << part.options << ": " << bright_columns;
        EXPECT_EQ(bright_columns.rfind('#'), 2u * part.first_frame + 1) << part.options << ": " << bright_columns;
    }
    for (const auto& [options, message] :
         {std::pair{"--start 6", "the part from 00:06.0 holds no frame: the movie is 00:05.0 long"},
          {"--start 1:x", "--start needs a time"}, {"--end 2 --duration 1", "--end or --duration, not both"},
          {"--start 3 --end 2", "the part must end after it starts"}}) {
        auto r = run(std::string(options) + " bars.avi");
        EXPECT_EQ(r.exit_code, 2) << options;
        EXPECT_NE(r.err.find(message), std::string::npos) << options << "\n" << r.err;
    }
}

// --brightness auto makes a dark movie lighter and a bright one darker, enough that its pictures
// are no longer nearly black or white: their mean grey, as ffmpeg decodes them, lies in the middle half.
TEST_F(ConvertCli, AutomaticBrightness) {
    for (const auto& [movie, lighter] : {std::pair{"dark", true}, {"bright", false}}) {
        std::filesystem::copy_file(test::test_movie(std::string(movie) + ".avi"), dir + "/" + movie + ".avi");
        auto r = run(std::string("--stat /dev/null --brightness auto ") + movie + ".avi");
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const std::size_t at = r.err.find(": brightness ");
        ASSERT_NE(at, std::string::npos) << r.err;
        const int chosen = std::stoi(r.err.substr(at + 13));
        EXPECT_EQ(chosen > 0, lighter) << movie << ": " << chosen;
        EXPECT_NE(chosen, 0) << movie;
        const std::string greys = decoded_greys(dir + "/" + movie + ".mpg");
        ASSERT_FALSE(greys.empty());
        double sum = 0;
        for (const char g : greys) sum += static_cast<unsigned char>(g);
        const double mean = sum / greys.size();
        EXPECT_GT(mean, 64) << movie;
        EXPECT_LT(mean, 192) << movie;
    }
}

TEST_F(ConvertCli, ArgumentsAreChecked) {
    EXPECT_EQ(run("").exit_code, 2);
    for (const auto& [arguments, message] : {std::pair{"--brightness 300 x.mov", "-255 to 255"},
                                             {"--frobnicate x.mov", "unknown option --frobnicate"},
                                             {"--fit 320 x.mov", "the screen size must be WxH"}}) {
        auto r = run(arguments);
        EXPECT_EQ(r.exit_code, 2) << arguments;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace vintrel
