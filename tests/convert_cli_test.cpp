// vintrel-convert as a user runs it: conversions, bad movies, Ctrl-C, exit statuses (more hostile
// inputs and machines in hostile_inputs_test.cpp).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <random>
#include <string>

#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

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

    std::string ffmpeg_movie(const std::string& name, const std::string& arguments) {
        const std::string path = dir + "/" + name;
        auto r = run_program("ffmpeg -nostdin -v error " + arguments + " -y '" + path + "'");
        EXPECT_EQ(r.exit_code, 0) << r.err;
        return path;
    }

    std::string small_movie(const std::string& name) {
        return ffmpeg_movie(name, "-f lavfi -i testsrc2=size=96x64:rate=15 -t 2 -c:v libx264 -bf 2 -pix_fmt yuv420p");
    }

    test::ProgramResult run(const std::string& arguments) {
        return run_program("cd '" + dir + "' && " + convert + " " + arguments);
    }

    std::string dir;
};

TEST_F(ConvertCli, ConvertsAMovieAndNamesTheOutputs) {
    const std::string movie = small_movie("clip one.mp4");
    auto r = run("'" + movie + "'");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(".PDB file has been created !"), std::string::npos);
    EXPECT_NE(r.out.find(dir + "/clip one.pdb"), std::string::npos);
    EXPECT_NE(r.out.find(dir + "/clip one.mpg"), std::string::npos);
    EXPECT_NE(r.err.find("Encoding frame 9 "), std::string::npos);
    EXPECT_TRUE(exists(dir + "/stat.out"));
    auto info = run_program(pdb_tool + " info '" + dir + "/clip one.pdb'");
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("records:   10"), std::string::npos) << info.out;
    auto decoded = run_program("ffmpeg -nostdin -v error -i '" + dir + "/clip one.mpg' -f null -");
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.err, "");
}

TEST_F(ConvertCli, EveryBadMovieIsReportedAndTheRestStillConverted) {
    std::ofstream(dir + "/empty.mov");
    std::ofstream(dir + "/notes.avi") << "Shopping list: milk, eggs.\n";
    {
        std::mt19937 random(5);
        std::ofstream noise(dir + "/noise.mov", std::ios::binary);
        for (int i = 0; i < 20000; i++) noise.put(static_cast<char>(random()));
    }
    const std::string full = ffmpeg_movie("full.mp4", "-f lavfi -i testsrc2=size=96x64:rate=15 -t 2 -c:v libx264");
    const std::string whole = read_file(full);
    std::ofstream(dir + "/truncated.mp4", std::ios::binary) << whole.substr(0, whole.size() / 2);
    ffmpeg_movie("audio.mov", "-f lavfi -i sine=frequency=300 -t 1 -c:a aac");
    const std::string good = small_movie("good.mov");

    auto r = run("empty.mov notes.avi noise.mov truncated.mp4 audio.mov missing.mov good.mov");
    EXPECT_EQ(r.exit_code, 2);
    for (const char* bad : {"empty.mov", "notes.avi", "noise.mov", "truncated.mp4", "audio.mov"}) {
        EXPECT_NE(r.err.find(std::string(bad) + ": " + not_a_movie), std::string::npos) << bad << "\n" << r.err;
        EXPECT_FALSE(exists(dir + "/" + std::string(bad).substr(0, std::string(bad).size() - 3) + "pdb")) << bad;
    }
    EXPECT_NE(r.err.find("missing.mov: OpenMovieFile failure (No such file or directory)"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("good.mov: .PDB file has been created !"), std::string::npos);
    EXPECT_GT(read_file(dir + "/good.pdb").size(), 78u);
}

TEST_F(ConvertCli, DatabaseThatCannotBeCreatedSkipsTheMovie) {
    small_movie("walk.mov");
    ASSERT_EQ(::mkdir((dir + "/walk.pdb").c_str(), 0755), 0);
    auto r = run("walk.mov");
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("Couldn't create output file walk.pdb (Is a directory)"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir + "/walk.mpg"));
}

TEST_F(ConvertCli, OddPictureSizesConvert) {
    {
        std::ofstream raw(dir + "/odd.bgr", std::ios::binary);
        for (int f = 0; f < 5; f++)
            for (int i = 0; i < 95 * 63 * 3; i++) raw.put(static_cast<char>((i / 3 * 7 + f * 40) % 256));
    }
    ffmpeg_movie("odd.avi", "-f rawvideo -pix_fmt bgr24 -s 95x63 -r 10 -i '" + dir + "/odd.bgr' -c:v rawvideo");
    auto r = run("odd.avi");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    auto info = run_program(pdb_tool + " info '" + dir + "/odd.pdb'");
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("width 95, height 63"), std::string::npos) << info.out;
    auto probe = run_program("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" + dir + "/odd.mpg'");
    EXPECT_EQ(probe.out, "95,63\n");
    auto decoded = run_program("ffmpeg -nostdin -v error -i '" + dir + "/odd.mpg' -f null -");
    EXPECT_EQ(decoded.exit_code, 0);
    EXPECT_EQ(decoded.err, "");
}

TEST_F(ConvertCli, InterruptStopsAfterTheCurrentPictureWithoutFinishing) {
    ffmpeg_movie("long.mp4", "-f lavfi -i testsrc2=size=320x240:rate=30 -t 60 -c:v libx264 -preset ultrafast");
    // Ctrl-C once the stream has started to reach the disk.
    auto r = run_program("cd '" + dir + "' && { " + convert +
                         " long.mp4 & pid=$!; for i in $(seq 1000); do [ -s long.mpg ] && break; sleep 0.02; done; "
                         "kill -INT $pid; wait $pid; }");
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_EQ(r.out.find("Finished"), std::string::npos);
    EXPECT_EQ(r.out.find(".PDB file has been created !"), std::string::npos);
    EXPECT_NE(r.err.find("long.mp4: stopped; long.mpg holds the pictures coded so far and long.pdb was left empty"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir + "/long.pdb").size(), 0u);
    const std::string mpg = read_file(dir + "/long.mpg");
    ASSERT_GE(mpg.size(), 4u);
    EXPECT_EQ(mpg.substr(mpg.size() - 4), std::string("\x00\x00\x01\xB7", 4));
}

TEST_F(ConvertCli, ArgumentsAreChecked) {
    EXPECT_EQ(run("").exit_code, 2);
    auto bright = run("--brightness 300 x.mov");
    EXPECT_EQ(bright.exit_code, 2);
    EXPECT_NE(bright.err.find("-255 to 255"), std::string::npos);
    EXPECT_EQ(run("--frobnicate x.mov").exit_code, 2);
}

}  // namespace
}  // namespace vintrel
