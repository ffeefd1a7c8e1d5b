// vintrel-encode as a user runs it: parameter files, the effective set, errors and exit codes.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "encoder/setup/parameter_lines.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::run_program;

const std::string encode = VINTREL_ENCODE_PATH;

// Writes the built-in lines with some replaced, one per text line with blank lines between some.
std::string write_lines(const std::string& name, std::initializer_list<std::pair<int, std::string>> changes,
                        std::size_t count = builtin_parameter_lines.size()) {
    std::string path = test::scratch_path(name);
    std::ofstream out(path);
    for (std::size_t k = 0; k < count; k++) {
        std::string line(builtin_parameter_lines[k]);
        for (const auto& [index, text] : changes)
            if (static_cast<std::size_t>(index) == k) line = text;
        out << line << (k % 10 == 3 ? "\n\n   \n" : "\n");
    }
    return path;
}

TEST(EncodeCli, DumpShowsTheEffectiveBuiltInSetAfterItsWarnings) {
    auto r = run_program(encode + " --dump-parameters");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err,
              "Warning: setting progressive_sequence = 1\n"
              "Warning: setting chroma_format = 1 (4:2:0)\n"
              "Warning: setting qscale_tab[0] = 0\n"
              "Warning: setting qscale_tab[1] = 0\n"
              "Warning: setting qscale_tab[2] = 0\n"
              "Warning: setting intravlc_tab[0] = 0\n"
              "Warning: setting progressive_frame = 1\n"
              "Warning: setting frame_pred_frame_dct[0] = 1\n"
              "Warning: setting frame_pred_frame_dct[1] = 1\n"
              "Warning: setting frame_pred_frame_dct[2] = 1\n"
              "Warning: setting top_field_first = 0\n");
    for (const char* line : {"id_string=MPEG-2 Test Sequence, 30 frames/sec\n", "statistics_file_name=stat.out\n",
                             "N=1\n", "M=1\n", "is_mpeg1=1\n", "chroma_format=1\n", "progressive_sequence=1\n",
                             "progressive_frame=1\n", "frame_pred_frame_dct=1 1 1\n", "q_scale_type=0 0 0\n",
                             "intra_vlc_format=0 0 0\n", "alternate_scan=0 0 0\n", "top_field_first=0\n",
                             "bit_rate=5000000\n", "vbv_buffer_size=112\n", "motion_data[0]=2 2 11 11\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    EXPECT_NE(r.out.find("motion_data[0]=2 2 11 11\nframe_rate=30\ntime_code_offset=0\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.rfind("id_string=", 0), 0u);
}

TEST(EncodeCli, ParameterFileReplacesTheBuiltInLines) {
    std::string path = write_lines("ntsc_pal.par", {{9, "00:00:01:00 /* timecode */"}, {17, "3"}, {10, "15"}, {11, "3"}});
    auto r = run_program(encode + " --lines " + path + " --dump-parameters");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("N=15\nM=3\n"), std::string::npos);
    EXPECT_NE(r.out.find("motion_data[1]=1 1 3 3 1 1 7 7\nmotion_data[2]=1 1 7 7 1 1 3 3\n"), std::string::npos);
    EXPECT_NE(r.out.find("frame_rate=25\ntime_code_offset=25\n"), std::string::npos) << r.out;
}

TEST(EncodeCli, GroupOfTenWithThreeBetweenReferencesIsRefused) {
    std::string path = write_lines("n10m3.par", {{10, "10"}, {11, "3"}});
    auto r = run_program(encode + " --lines " + path + " --dump-parameters");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "N must be an integer multiple of M\n");
    EXPECT_EQ(r.out, "");
}

TEST(EncodeCli, ShortParameterFileNamesTheMissingLine) {
    std::string path = write_lines("short.par", {}, 30);
    auto r = run_program(encode + " --lines " + path + " --dump-parameters");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("Parameter line 30 is missing"), std::string::npos) << r.err;
}

TEST(EncodeCli, UnreadableParameterFileAndBadArgumentsAreReported) {
    auto missing = run_program(encode + " --lines /nonexistent/ntsc.par --dump-parameters");
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("/nonexistent/ntsc.par"), std::string::npos);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);

    auto unknown = run_program(encode + " --frobnicate");
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_NE(unknown.err.find("usage: vintrel-encode"), std::string::npos);
}

}  // namespace
}  // namespace vintrel
