// Sequences with P and B pictures coded by vintrel-encode: the coding order, the group counts the
// rate control is given, and the macroblock decisions the statistics file reports.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "encoder/coding/encode_picture.h"
#include "encoder/coding/rate_control.h"
#include "encoder/setup/init_encoder.h"
#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::ParameterTable;
using test::run_program;

const int width = 64, height = 48;  // 4 x 3 macroblocks

// Luminance value at (x, y) of frame n; chroma is 128.
using Scene = std::function<int(int n, int x, int y)>;

// Encodes `frames` pictures of the scene with the built-in lines changed as given (the frames go
// in as NAME.yuv files); returns the statistics file.
std::string encode(const std::string& name, int frames, const Scene& scene,
                   std::initializer_list<std::pair<int, std::string>> changes) {
    const std::string dir = test::scratch_path(name);
    for (int n = 0; n < frames; n++) {
        std::ofstream out(dir + "_frame" + std::to_string(n) + ".yuv", std::ios::binary);
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) out.put(static_cast<char>(scene(n, x, y)));
        out << std::string(width * height / 2, static_cast<char>(128));
    }
    ParameterTable table;
    table.set(1, dir + "_frame%d").set(5, dir + "_stat.out").set(6, "1").set(7, std::to_string(frames));
    table.set(14, std::to_string(width)).set(15, std::to_string(height));
    for (const auto& [line, text] : changes) table.set(line, text);
    std::ofstream parameters(dir + ".par");
    for (const std::string& line : table.lines()) parameters << line << "\n";
    parameters.close();
    const auto result = run_program(std::string(VINTREL_ENCODE_PATH) + " --lines " + dir + ".par " + dir + ".mpg");
    EXPECT_EQ(result.exit_code, 0) << result.err;
    return test::read_file(dir + "_stat.out");
}

// Every match of `pattern` in the statistics, as `format` makes it of the groups.
std::vector<std::string> all_matches(const std::string& stats, const std::string& pattern, const char* format = "$1") {
    const std::regex re(pattern);
    std::vector<std::string> found;
    for (std::sregex_iterator m(stats.begin(), stats.end(), re), end; m != end; ++m) found.push_back(m->format(format));
    return found;
}

// The type letters of every macroblock of picture k (coding order), a line per macroblock row.
std::string type_letters(const std::string& stats, std::size_t k) {
    const auto maps = all_matches(stats, R"(macroblock_type map:\n((?:.+\n)+))");
    return k < maps.size() ? std::regex_replace(maps[k], std::regex("(.). "), "$1") : "";
}

TEST(PredictedSequence, ReferencePicturesAreCodedFirstAndUnchangedMacroblocksSkipped) {
    // A flat picture is reconstructed exactly, so nothing is left to code after it.
    const std::string stats = encode("order20", 20, [](int, int, int) { return 100; }, {{10, "15"}, {11, "3"}});
    // "i f type temporal_reference" for every picture, in coding order.
    const std::vector<std::string> expected = {
        "0 0 I 0",   "1 3 P 3",   "2 1 B 1",   "3 2 B 2",   "4 6 P 6",   "5 4 B 4",   "6 5 B 5",
        "7 9 P 9",   "8 7 B 7",   "9 8 B 8",   "10 12 P 12", "11 10 B 10", "12 11 B 11",
        // The second group opens with display frame 15; the B pictures before it belong to it.
        "13 15 I 2", "14 13 B 0", "15 14 B 1", "16 18 P 5", "17 16 B 3", "18 17 B 4",
        // The last reference picture would show frame 21: it shows the last frame instead.
        "19 19 P 6"};
    EXPECT_EQ(all_matches(stats, R"(Frame (\d+) \(#(\d+) in display order\):\n picture_type=(.)\n)"
                                 R"( temporal_reference=(\d+)\n)", "$1 $2 $3 $4"),
              expected);
    // First group: display frames 0..12, four P and eight B pictures; second: 13..19, two and four.
    EXPECT_EQ(all_matches(stats, R"(\n number of P pictures in GOP: Np=(\d+))"), (std::vector<std::string>{"4", "2"}));
    EXPECT_EQ(all_matches(stats, R"(\n number of B pictures in GOP: Nb=(\d+))"), (std::vector<std::string>{"8", "4"}));
    // Those counts are exactly the pictures that follow: none is left when the sequence ends.
    EXPECT_EQ(all_matches(stats, R"(remaining number of P pictures in GOP: Np=(\d+))").back(), "0");
    EXPECT_EQ(all_matches(stats, R"(remaining number of B pictures in GOP: Nb=(\d+))").back(), "0");
    // The search lines of the built-in motion data: P +-11; first B +-3 / +-7, second +-7 / +-3.
    EXPECT_EQ(all_matches(stats, R"(forward search window: (.*)\n)")[0], "-11...11 / -11...11");
    EXPECT_EQ(all_matches(stats, R"(backward search window: (.*)\n)")[0], "-7...7 / -7...7");
    EXPECT_EQ(all_matches(stats, R"(backward search window: (.*)\n)")[1], "-3...3 / -3...3");

    // Every macroblock of the first P picture is skipped but for the first and last of each row.
    EXPECT_EQ(type_letters(stats, 1), "FSSF\nFSSF\nFSSF\n");
    EXPECT_NE(stats.find(" # of skipped macroblocks:         6 (50.0%)\n"), std::string::npos);
    // In a B picture every position of the flat references is as good as any other, so the
    // half-sample refinement keeps its first candidate: half a sample up and left, or only left
    // in the top row, only up in the left column. A skipped B macroblock must repeat its left
    // neighbour's vector, so the second macroblock of every row is coded.
    EXPECT_EQ(type_letters(stats, 2), "FFSF\nFFSF\nFFSF\n");
    EXPECT_EQ(type_letters(stats, 3), "FFSF\nFFSF\nFFSF\n");
}

TEST(PredictedSequence, MacroblocksThatPredictionCannotReachAreCodedIntra) {
    // Frame 1 differs from the flat frame 0 in two macroblocks of the middle row: the second is
    // 3 brighter everywhere (squared error 256 x 9 = 2304 against any prediction, variance 0),
    // the third 3 brighter except one sample 4 and one 1 brighter (squared error 2303).
    const Scene scene = [](int n, int x, int y) {
        if (n == 0 || y < 16 || y >= 32 || x < 16 || x >= 48) return 100;
        if (x < 32) return 103;
        if (x == 32 && y == 16) return 104;
        if (x == 33 && y == 16) return 101;
        return 103;
    };
    // 2304 reaches the threshold: intra. 2303 does not, and the zero vector predicts as well as
    // any other, so that macroblock is coded without motion compensation.
    EXPECT_EQ(type_letters(encode("intra", 2, scene, {{10, "15"}, {11, "1"}}), 1), "FSSF\nFI0F\nFSSF\n");
}

// A B frame picture of an interlaced MPEG-2 sequence whose first macroblock row holds, left to
// right: a field-predicted macroblock, then three frame-predicted ones whose first vector is the
// field macroblock's first vector. No macroblock has a coefficient left to code.
TEST(SkippedMacroblocks, BMacroblockRepeatsOnlyALeftNeighbourPredictedTheSameWay) {
    EncoderState s;
    test::RecordingReporter report(s);
    ParameterTable::mpeg2_main()
        .set(5, test::scratch_path("skip_stat.out"))
        .set(10, "15").set(11, "3").set(14, "64").set(15, "32").set(24, "0").set(40, "0")
        .read_into(s);
    read_quant_matrices(s);
    init_encoder(s);
    init_rate_control(s.rc, s.params, s.statistics.file);
    start_gop_rate_control(s.rc, s.params, s.statistics.file, 4, 10);
    s.header.picture_type = PictureType::B;
    s.header.picture_structure = PictureStructure::frame;
    s.header.forw_hor_f_code = s.header.forw_vert_f_code = s.header.back_hor_f_code = s.header.back_vert_f_code = 2;
    for (std::size_t k = 0; k < s.buffers.macroblock_info.size(); k++) {
        MacroblockInfo& mb = s.buffers.macroblock_info[k];
        mb.macroblock_type = MacroblockFlag::forward;
        mb.motion_type = k == 0 ? MotionType::field : MotionType::frame;
        mb.motion_vectors[0][0][0] = 6;
        mb.motion_vectors[0][0][1] = -4;
        mb.field_select[1][0] = 1;
    }
    encode_picture(s, s.buffers.new_org_frame[0]);
    // A decoder would repeat the field prediction for a skipped second macroblock.
    EXPECT_EQ(s.buffers.macroblock_info[1].skipped, 0);
    EXPECT_EQ(s.buffers.macroblock_info[2].skipped, 1);
    EXPECT_EQ(s.buffers.macroblock_info[3].skipped, 0);  // the last of its row
    EXPECT_TRUE(close_statistics_file(s));
}

}  // namespace
}  // namespace vintrel
