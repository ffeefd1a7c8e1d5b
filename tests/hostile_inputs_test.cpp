// vintrel-convert against hostile inputs and a hostile machine: every case ends with the message and
// exit status a user can act on, and never leaves a .pdb that looks complete when it is not.
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
using test::not_a_movie_message;
using test::pdb_program;
using test::read_file;
using test::run_program;

const std::string created = ".PDB file has been created !";

// What a case leaves on disk.
enum class Output {
    absent,  // never created
    empty,   // created, 0 bytes
    sound,   // .pdb: vintrel-pdb checks every record; .mpg: ffmpeg decodes it without a complaint
    partial,  // .mpg only: some bytes, the pictures that could be written before the failure
    movie,    // the movie itself, unchanged
};

// One case as a user would meet it.
struct Invocation {
    std::string movie;        // the movie's path, as given on the command line
    std::string before = "";  // shell commands run first in the same shell (limits, a user switch)
    std::string options = "--stat -";
    std::string program = convert_program;
    // Runs while the conversion is under way (with $pid set), e.g. to take the movie away.
    std::string meanwhile = "";
};

struct HostileInput {
    const char* name;
    std::function<Invocation(const std::string& dir)> make;
    std::string message;  // must appear in what the program printed
    int exit_code;
    Output pdb, mpg;
    int records = -1;  // frames in a sound .pdb, when known
    std::string also_message = "";  // a second message that must appear too
};

// A copy of the fixture's movie `name` at `path`.
std::string copied(const std::string& name, const std::string& path) {
    std::filesystem::copy_file(test::test_movie(name), path);
    return path;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Sets the two 32-bit little-endian numbers found `skip` bytes after the first `tag` in `bytes`.
void patch_pair(std::string& bytes, const std::string& tag, std::size_t skip, std::uint32_t a, std::uint32_t b) {
    const std::size_t at = bytes.find(tag);
    ASSERT_NE(at, std::string::npos) << tag;
    for (int i = 0; i < 4; i++) {
        bytes[at + 8 + skip + static_cast<std::size_t>(i)] = static_cast<char>(a >> (8 * i));
        bytes[at + 8 + skip + 4 + static_cast<std::size_t>(i)] = static_cast<char>(b >> (8 * i));
    }
}

// Runs the converter as a user who may not write into a read-only directory. Root may write
// anywhere, so root runs a copy of it (which any user can reach) as nobody.
void as_ordinary_user(Invocation& run, const std::string& dir) {
    if (::geteuid() != 0) return;
    // nobody passes through the folders to the program and the movie.
    ::chmod(test::scratch_directory().c_str(), 0711);
    ::chmod(dir.c_str(), 0711);
    run.program = dir + "/vintrel-convert";
    std::filesystem::copy_file(convert_program, run.program, std::filesystem::copy_options::overwrite_existing);
    ::chmod(run.program.c_str(), 0755);
    run.before = "exec setpriv --reuid=nobody --regid=nogroup --clear-groups -- ";
}

const std::vector<HostileInput> cases = {
    {"TruncatedInsideAFrame",
     [](const std::string& dir) {
         // 10 frames of 32x32x3 bytes at 5 a second, cut after five whole frames and 1000 bytes of
         // the sixth: six fifths of a second, the sixth showing the fifth frame with a warning.
         const std::string whole = read_file(test::test_movie("raw32x32.avi"));
         const std::size_t first_frame = whole.find("movi") + 4 + 8;
         write_file(dir + "/cut.avi", whole.substr(0, first_frame + 5 * (3072 + 8) + 1000));
         return Invocation{dir + "/cut.avi"};
     },
     "Warning: %DIR%/cut.avi: the picture at 1.000 s could not be decoded; showing the one at 0.800 s", 0,
     Output::sound, Output::sound, 6},
    {"SingleFrame",
     [](const std::string& dir) { return Invocation{copied("raw48x32_single.avi", dir + "/one.avi")}; },
     created, 0, Output::sound, Output::sound, 1},
    {"HugeDeclaredPictureSize",
     [](const std::string& dir) {
         // Frames of 16x16 in a file whose headers declare 16000x16000 pictures.
         std::string bytes = read_file(test::test_movie("raw16x16.avi"));
         patch_pair(bytes, "avih", 32, 16000, 16000);
         patch_pair(bytes, "strf", 4, 16000, 16000);
         write_file(dir + "/huge.avi", bytes);
         return Invocation{dir + "/huge.avi"};
     },
     "huge.avi: " + not_a_movie_message, 2, Output::absent, Output::absent},
    {"PictureSizeTheStreamCannotCarry",
     [](const std::string& dir) { return Invocation{copied("raw4096x16.avi", dir + "/wide.avi")}; },
     "wide.avi: the picture size 4096x16 cannot be carried by an MPEG-1 stream", 2, Output::absent, Output::absent},
    {"MovieDeletedDuringTheConversion",
     [](const std::string& dir) {
         // The open movie stays readable to us: nothing is lost.
         Invocation run{copied("mjpeg320x240.avi", dir + "/going.avi")};
         run.meanwhile = "rm '" + run.movie + "'";
         return run;
     },
     created, 0, Output::sound, Output::sound, 600},
    {"MovieEmptiedDuringTheConversion",
     [](const std::string& dir) {
         // The frames no longer there are the last picture that could be read, each with a warning.
         Invocation run{copied("mjpeg320x240.avi", dir + "/gone.avi")};
         run.meanwhile = ": > '" + run.movie + "'";
         return run;
     },
     "Warning: %DIR%/gone.avi: the picture at", 0, Output::sound, Output::sound, 600},
    {"MovieNamedLikeItsDatabase",
     [](const std::string& dir) {
         // Converting it must not overwrite it.
         return Invocation{copied("holiday.pdb", dir + "/holiday.pdb")};
     },
     "holiday.pdb: the output file %DIR%/holiday.pdb would replace the movie itself. Nothing was converted.", 2,
     Output::movie, Output::absent},
    {"MoreRecordsThanHandheldsList",
     [](const std::string& dir) {
         // Two frames 13201 s apart, each shown for 1 s: 13202 s at 5 frames a second.
         Invocation run{copied("long.mkv", dir + "/long.mkv")};
         run.options = "--stat /dev/null";
         return run;
     },
     "%DIR%/long.pdb holds 66010 frames. Handheld readers count at most 65535 records, so they may list only part of it.",
     0, Output::sound, Output::sound, 66010},
    {"StatisticsFileNamedAsTheMovie",
     [](const std::string& dir) {
         Invocation run{copied("raw32x32_short.avi", dir + "/walk.avi")};
         run.options = "--stat '" + run.movie + "'";
         return run;
     },
     "walk.avi: the output file %DIR%/walk.avi would replace the movie itself. Nothing was converted.", 2,
     Output::absent, Output::absent},
    {"ReadOnlyOutputDirectory",
     [](const std::string& dir) {
         ::mkdir((dir + "/locked").c_str(), 0755);
         Invocation run{copied("raw32x32_short.avi", dir + "/locked/walk.avi")};
         ::chmod((dir + "/locked").c_str(), 0555);
         as_ordinary_user(run, dir);
         return run;
     },
     "Couldn't create output file %DIR%/locked/walk.pdb (Permission denied)", 2, Output::absent, Output::absent},
    {"DiskFullDuringTheStream",
     [](const std::string& dir) {
         Invocation run{copied("big.mov", dir + "/big.mov")};
         run.before = "ulimit -f 100 && ";  // 50 KiB a file (the shell counts 512-byte blocks): far too little
         return run;
     },
     "Couldn't write output file %DIR%/big.mpg (File too large). The conversion was stopped; %DIR%/big.pdb was left "
     "empty.",
     2, Output::empty, Output::partial},
    {"DiskFullDuringTheDatabase",
     [](const std::string& dir) {
         // Stripes of four black and four white pixels: no packed byte equals its neighbour, so
         // each 320-pixel row is one literal packet of 81 bytes, 19452 bytes a frame and 190 KiB
         // for ten frames, while the stream codes the same pattern in every block far more
         // cheaply (140 KiB). A limit of 170 KiB a file stops the database, not the stream.
         Invocation run{copied("stripes.avi", dir + "/stripes.avi")};
         run.before = "ulimit -f 340 && ";  // in 512-byte blocks
         return run;
     },
     "Couldn't write output file %DIR%/stripes.pdb (File too large). The movie was not converted completely; the "
     "database was left empty.",
     2, Output::empty, Output::sound, 10},
    {"StatisticsFileCannotBeCreated",
     [](const std::string& dir) {
         Invocation run{copied("raw32x32_short.avi", dir + "/stats.avi")};
         run.options = "--stat '" + dir + "/no such folder/stat.out'";
         return run;
     },
     "Couldn't create statistics output file %DIR%/no such folder/stat.out", 1, Output::empty, Output::empty, -1,
     "%DIR%/stats.avi: the conversion ended on the error above; %DIR%/stats.pdb was left empty and %DIR%/stats.mpg "
     "is incomplete"},
    {"StatisticsFileCannotBeWritten",
     [](const std::string& dir) {
         Invocation run{copied("raw32x32_short.avi", dir + "/stats.avi")};
         run.options = "--stat /dev/full";
         return run;
     },
     "Couldn't write the statistics file /dev/full", 0, Output::sound, Output::sound, 5},
};

class HostileInputs : public testing::TestWithParam<HostileInput> {
protected:
    void SetUp() override { dir = test::fresh_scratch_folder(GetParam().name); }

    // The path with its last three characters replaced, as the outputs are named.
    static std::string output(const std::string& movie, const char* extension) {
        return movie.substr(0, movie.size() - 3) + extension;
    }

    void expect_output(const std::string& path, Output state, int records) {
        struct stat info;
        const bool exists = ::stat(path.c_str(), &info) == 0;
        if (state == Output::movie) {
            EXPECT_EQ(read_file(path), movie_bytes) << path;
        }
        if (state == Output::absent || state == Output::movie) {
            EXPECT_EQ(exists, state == Output::movie) << path;
            return;
        }
        ASSERT_TRUE(exists) << path;
        if (state != Output::sound) {
            EXPECT_EQ(info.st_size > 0, state == Output::partial) << path;
            return;
        }
        const std::string count = records < 0 ? "" : std::to_string(records) + "\n";
        if (path.ends_with("pdb")) {
            auto r = run_program(pdb_program + " info '" + path + "'");
            EXPECT_EQ(r.exit_code, 0) << r.err;
            EXPECT_NE(r.out.find("records:   " + count), std::string::npos) << r.out;
            return;
        }
        const std::string stream = read_file(path);
        EXPECT_TRUE(stream.ends_with(std::string("\x00\x00\x01\xB7", 4))) << path;
        auto r = run_program("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" + path + "'");
        EXPECT_EQ(r.err, "") << path;
        if (records >= 0) {
            EXPECT_EQ(r.out, count) << path;
        }
    }

    std::string dir;
    std::string movie_bytes;  // the movie as it was made
};

TEST_P(HostileInputs, EndWithTheirMessageExitStatusAndOutputs) {
    const HostileInput& c = GetParam();
    const Invocation run = c.make(dir);
    ASSERT_FALSE(HasFatalFailure());
    movie_bytes = read_file(run.movie);
    std::string command = run.before + "'" + run.program + "' " + run.options + " '" + run.movie + "'";
    if (!run.meanwhile.empty()) {
        // Once the stream has begun to reach the disk, while most of the movie is still to come.
        const std::string stream = output(run.movie, "mpg");
        command = "{ " + command + " & pid=$!; for i in $(seq 1000); do [ -s '" + stream +
                  "' ] && break; sleep 0.01; done; " + run.meanwhile + "; wait $pid; }";
    }
    auto r = run_program("cd '" + dir + "' && " + command);

    for (std::string message : {c.message, c.also_message}) {
        for (std::size_t at; (at = message.find("%DIR%")) != std::string::npos;) message.replace(at, 5, dir);
        EXPECT_NE((r.out + r.err).find(message), std::string::npos) << "expected: " << message << "\nstdout:\n"
                                                                    << r.out << "stderr:\n" << r.err;
    }
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    if (c.exit_code != 0) {
        EXPECT_EQ(r.out.find(created), std::string::npos);
    }
    expect_output(output(run.movie, "pdb"), c.pdb, c.records);
    expect_output(output(run.movie, "mpg"), c.mpg, c.records);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInputs, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<HostileInput>& info) { return info.param.name; });

}  // namespace
}  // namespace vintrel
