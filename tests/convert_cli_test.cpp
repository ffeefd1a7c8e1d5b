// vintrel-convert as a user runs it: conversions, bad movies, arguments (Ctrl-C and more hostile
// inputs and machines in hostile_inputs_test.cpp).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"
#include "tests/test_movies_for_test.h"

namespace vintrel {
namespace {

using test::read_file;
using test::run_program;

const std::string& convert = test::convert_program;
const std::string& pdb_tool = test::pdb_program;
const std::string& not_a_movie = test::not_a_movie_message;

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

class ConvertCli : public testing::Test {
protected:
    void SetUp() override { dir = test::fresh_scratch_folder("convert_cli"); }

    // A copy of the fixture's movie `name` in the test's folder, called `as`.
    std::string movie(const std::string& name, const std::string& as) {
        std::filesystem::copy_file(test::test_movie(name), dir + "/" + as);
        return dir + "/" + as;
    }

    test::ProgramResult run(const std::string& arguments) {
        return run_program("cd '" + dir + "' && " + convert + " " + arguments);
    }

    std::string dir;
};

TEST_F(ConvertCli, ConvertsAMovieAndNamesTheOutputs) {
    struct Case {
        const char* movie;
        const char* as;
        std::string options;
        int records, width, height;
    };
    const Case cases[] = {
        {"clip.mp4", "clip one.mp4", "", 10, 96, 64},  // H.264 with B-frames, a name with a space
        {"odd.avi", "odd.avi", "", 3, 95, 63},         // 0.5 s; sizes that are no multiple of 16 or even of 2
        {"wide.mp4", "wide.mp4", "--fit 320x480 ", 5, 320, 180},  // 640x360 fitted inside the screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.as);
        const std::string base = dir + "/" + std::string(c.as).substr(0, std::string(c.as).size() - 4);
        auto r = run(c.options + "'" + movie(c.movie, c.as) + "'");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find(".PDB file has been created !"), std::string::npos);
        EXPECT_NE(r.out.find(base + ".pdb"), std::string::npos);
        EXPECT_NE(r.out.find(base + ".mpg"), std::string::npos);
        EXPECT_NE(r.err.find("Encoding frame " + std::to_string(c.records - 1) + " "), std::string::npos);
        EXPECT_TRUE(exists(dir + "/stat.out"));
        // Every record and the stream take the size shown.
        auto info = run_program(pdb_tool + " info '" + base + ".pdb'");
        EXPECT_EQ(info.exit_code, 0) << info.err;
        EXPECT_NE(info.out.find("records:   " + std::to_string(c.records) + "\n"), std::string::npos) << info.out;
        const std::string size = "width " + std::to_string(c.width) + ", height " + std::to_string(c.height);
        int sized = 0;
        for (std::size_t at = 0; (at = info.out.find(size, at)) != std::string::npos; ++at) ++sized;
        EXPECT_EQ(sized, c.records) << info.out;
        auto probe = run_program("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + base + ".mpg'");
        EXPECT_EQ(probe.out, std::to_string(c.width) + "," + std::to_string(c.height) + "\n");
        auto decoded = run_program("ffmpeg -nostdin -v error -i '" + base + ".mpg' -f null -");
        EXPECT_EQ(decoded.exit_code, 0);
        EXPECT_EQ(decoded.err, "");
    }
}

TEST_F(ConvertCli, EveryBadMovieIsReportedAndTheRestStillConverted) {
    std::ofstream(dir + "/empty.mov");
    std::ofstream(dir + "/notes.avi") << "Shopping list: milk, eggs.\n";
    const std::string whole = read_file(test::test_movie("full.mp4"));
    std::ofstream(dir + "/truncated.mp4", std::ios::binary) << whole.substr(0, whole.size() / 2);
    movie("aac.mov", "audio.mov");
    movie("clip.mp4", "walk.mov");
    ASSERT_EQ(::mkdir((dir + "/walk.pdb").c_str(), 0755), 0);
    movie("clip.mp4", "good.mov");

    auto r = run("empty.mov notes.avi truncated.mp4 audio.mov missing.mov walk.mov good.mov");
    EXPECT_EQ(r.exit_code, 2);
    for (const char* bad : {"empty.mov", "notes.avi", "truncated.mp4", "audio.mov"}) {
        EXPECT_NE(r.err.find(std::string(bad) + ": " + not_a_movie), std::string::npos) << bad << "\n" << r.err;
        EXPECT_FALSE(exists(dir + "/" + std::string(bad).substr(0, std::string(bad).size() - 3) + "pdb")) << bad;
    }
    EXPECT_NE(r.err.find("missing.mov: OpenMovieFile failure (No such file or directory)"), std::string::npos) << r.err;
    // A database that cannot be created skips its movie.
    EXPECT_NE(r.err.find("Couldn't create output file walk.pdb (Is a directory)"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir + "/walk.mpg"));
    EXPECT_NE(r.out.find("good.mov: .PDB file has been created !"), std::string::npos);
    EXPECT_GT(read_file(dir + "/good.pdb").size(), 78u);
}

TEST_F(ConvertCli, ArgumentsAreChecked) {
    EXPECT_EQ(run("").exit_code, 2);
    auto bright = run("--brightness 300 x.mov");
    EXPECT_EQ(bright.exit_code, 2);
    EXPECT_NE(bright.err.find("-255 to 255"), std::string::npos);
    EXPECT_EQ(run("--frobnicate x.mov").exit_code, 2);
    auto fit = run("--fit 320 x.mov");
    EXPECT_EQ(fit.exit_code, 2);
    EXPECT_NE(fit.err.find("the screen size must be WxH"), std::string::npos) << fit.err;
}

}  // namespace
}  // namespace vintrel
