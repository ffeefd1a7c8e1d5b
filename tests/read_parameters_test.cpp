// Reading the parameter lines: warnings, fix-ups, range, profile and level checks, derived values, matrices;
// and vintrel-encode as a user runs it with them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <functional>
#include <utility>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/parameter_lines.h"
#include "encoder/setup/read_parameters.h"
#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::fatal_text_of;
using test::ParameterTable;
using test::RecordingReporter;
using test::run_program;

std::string warnings_of(const ParameterTable& table, EncoderState& state) {
    RecordingReporter report(state);
    table.read_into(state);
    return report.warnings;
}

// Each set either passes every check or ends on the fatal error naming what is wrong: unreadable lines, the
// limits of the syntax, of the profiles and of the levels, each at its boundary.
TEST(ParameterChecks, AcceptOrNameTheFirstBrokenLimit) {
    const std::pair<ParameterTable, std::string> sets[] = {
        {ParameterTable().set(10, "0"), "N must be positive"},
        {ParameterTable().set(11, "0"), "M must be positive"},
        {ParameterTable().set(10, "10").set(11, "3"), "N must be an integer multiple of M"},
        // Four pictures between references need motion lines 50 to 56; the table has 55 lines.
        {ParameterTable().set(10, "4").set(11, "4"), "Parameter line 55 is missing (the table has only 55 lines)"},
        {ParameterTable().set(14, "wide /* horizontal_size */"),
         "Parameter line 14: cannot read horizontal_size from \"wide /* horizontal_size */\""},
        // Numbers beyond an int are refused, not cut to their low bits: 4294967297 is 2^32 + 1,
        // which cut to 32 bits would read as a valid N of 1.
        {ParameterTable().set(10, "4294967297 /* N */"),
         "Parameter line 10: cannot read N from \"4294967297 /* N */\""},
        {ParameterTable().set(36, "1 4294967296 1"),
         "Parameter line 36: cannot read q_scale_type (I P B) from \"1 4294967296 1\""},
        {ParameterTable().set(9, "00:00:99999999999:00"),
         "Parameter line 9: cannot read the time code (hh:mm:ss:pp) from \"00:00:99999999999:00\""},
        {ParameterTable().set(50, "2 2 -9999999999 11"),
         "Parameter line 50: cannot read the forward motion data from \"2 2 -9999999999 11\""},
        {ParameterTable().set(14, "4096"), "horizontal_size must be less than 4096 (MPEG-1)"},
        {ParameterTable::mpeg2_main().set(22, "9").set(14, "4096"), "horizontal_size must not be a multiple of 4096"},
        {ParameterTable().set(14, "0"), "horizontal_size must be between 1 and 16383"},
        {ParameterTable().set(14, "16384"), "horizontal_size must be between 1 and 16383"},
        {ParameterTable().set(15, "4096"), "vertical size must be less than 4096 (MPEG-1)"},
        {ParameterTable::mpeg2_main().set(22, "9").set(15, "8192"), "vertical_size must not be a multiple of 4096"},
        // The checks see the lines before the MPEG-1 fix-ups: the built-in 4:4:4 allows odd widths.
        {ParameterTable().set(14, "4095").set(15, "4094").set(18, "104857200.0").set(19, "1023"), "(no fatal error)"},
        {ParameterTable().set(25, "1").set(14, "705"), "horizontal_size must be a even (4:2:0 / 4:2:2)"},
        {ParameterTable().set(25, "1").set(15, "481"), "vertical_size must be a even (4:2:0)"},
        {ParameterTable::mpeg2_main().set(13, "1").set(15, "574"),
         "vertical_size must be a multiple of 4 (4:2:0 field pictures)"},
        {ParameterTable().set(18, "104857201.0"), "bit_rate must be less than 104 Mbit/s (MPEG-1)"},
        {ParameterTable().set(18, "0"), "bit_rate must be positive"},
        {ParameterTable().set(17, "9"), "frame_rate code must be between 1 and 8"},
        {ParameterTable().set(19, "1024"), "vbv_buffer_size must be less than 1024 (MPEG-1)"},
        {ParameterTable().set(16, "15"), "pel_aspect_ratio must be between 1 and 14 (MPEG-1)"},
        {ParameterTable::mpeg2_main().set(16, "5"), "aspect_ratio_information must be 1, 2, 3 or 4"},
        {ParameterTable().set(29, "3"), "matrix_coefficients must be in range 1...2 or 4...7"},
        {ParameterTable().set(27, "8"), "color_primaries must be in range 1...2 or 4...7"},
        {ParameterTable().set(32, "4"), "intra_dc_precision must be in range 0...3"},
        {ParameterTable().set(50, "8 2 11 11"), "f_code must be le less than 8"},
        {ParameterTable().set(50, "0 2 11 11"), "f_code must be between 1 and 9"},
        {ParameterTable().set(50, "2 2 0 11"), "search window must be positive"},
        {ParameterTable().set(10, "2").set(11, "2").set(52, "1 1 7 0"), "search window must be positive"},
        // 720 x 576 x 25 is exactly the Main Level limit of 10368000 samples per second.
        {ParameterTable::mpeg2_main(), "(no fatal error)"},
        {ParameterTable::mpeg2_main().set(17, "4"), "Sample rate is greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(14, "722"), "Horizontal size is greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(15, "578"), "Vertical size is greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(18, "15000001.0"), "Bit rate is greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(19, "113"), "vbv_buffer_size exceeds High Level limit"},
        {ParameterTable::mpeg2_main().set(17, "6"), "Picture rate greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(50, "9 2 11 11"),
         "forward horizontal f_code greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(23, "10").set(14, "352").set(15, "288").set(18, "4000000").set(19, "29")
             .set(50, "2 5 11 11"),
         "forward vertical f_code greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(22, "16"), "profile must be between 0 and 15"},
        {ParameterTable::mpeg2_main().set(22, "6"), "undefined Profile"},
        {ParameterTable::mpeg2_main().set(22, "3"), "This encoder currently generates no scalable bitstreams"},
        {ParameterTable::mpeg2_main().set(23, "7"), "undefined Level"},
        {ParameterTable::mpeg2_main().set(22, "5").set(23, "4"), "undefined profile@level combination"},
        {ParameterTable::mpeg2_main().set(22, "5").set(10, "3").set(11, "3"), "Simple Profile does not allow B pictures"},
        {ParameterTable::mpeg2_main().set(25, "2"), "chroma format must be 4:2:0 in specified Profile"},
        {ParameterTable::mpeg2_main().set(22, "1").set(25, "3"), "chroma format must be 4:2:0 or 4:2:2 in High Profile"},
        {ParameterTable::mpeg2_main().set(32, "3"), "11 bit DC precision only allowed in High Profile"},
        {ParameterTable::mpeg2_main().set(24, "1").set(39, "1"), "repeat_first_first must be zero"},
    };
    for (const auto& [table, message] : sets) {
        EncoderState s;
        RecordingReporter report(s);
        EXPECT_EQ(fatal_text_of([&] { return table.read_into(s); }), message) << report.warnings;
    }
}

// Values the encoder cannot keep are changed with a warning; values it can keep are kept silently; derived
// values follow from the lines.
TEST(ParameterReading, WarnAndChangeOnlyWhatCannotBeKept) {
    const struct {
        ParameterTable table;
        const char* warning;  // a warning among those printed, or "" for none about the value
        const char* absent;   // a text no warning may contain
        std::function<bool(const EncoderState&)> kept;
    } cases[] = {
        {ParameterTable().set(50, "1 1 11 11"), "Warning: reducing forward vertical search width to 7\n", "",
         [](const EncoderState& s) { return s.params.motion_data[0].forw_search_width == 7; }},
        {ParameterTable().set(10, "2").set(11, "2").set(52, "2 2 9 20"),
         "Warning: reducing backward vertical search width to 15\n", "backward horizontal",
         [](const EncoderState& s) { return s.params.motion_data[1].back_search_width == 9; }},
        {ParameterTable::mpeg2_main().set(21, "1"), "Warning: setting constrained_parameters_flag = 0\n", "qscale",
         [](const EncoderState& s) {
             const Parameters& p = s.params;
             return p.constrained_parameters_flag == 0 && p.q_scale_type_tab[0] == 1 && p.intra_vlc_format_tab[0] == 1 &&
                    p.top_field_first == 1 && p.progressive_frame == 0;
         }},
        {ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3"), "", "constrained",
         [](const EncoderState& s) { return s.params.constrained_parameters_flag == 1; }},
        // 704 x 480 is 1320 macroblocks, more than 396; f_code 5 exceeds the constrained limit of 4.
        {ParameterTable().set(21, "1"), "Warning: setting constrained_parameters_flag = 0\n", "",
         [](const EncoderState& s) { return s.params.constrained_parameters_flag == 0; }},
        {ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3").set(50, "5 5 11 11"),
         "Warning: setting constrained_parameters_flag = 0\n", "", [](const EncoderState&) { return true; }},
        // 4:4:4 at 1920 x 1152 would break both the Main Profile and the Main Level.
        {ParameterTable::mpeg2_main().set(22, "9").set(25, "3").set(14, "1920").set(15, "1152"),
         "Warning: profile uses a reserved value, conformance checks skipped\n", "",
         [](const EncoderState& s) { return s.params.chroma_format == ChromaFormat::yuv444; }},
        {ParameterTable().set(9, "01:02:03:04").set(17, "3"), "", "",  // ((1 * 60 + 2) * 60 + 3) * 25 + 4
         [](const EncoderState& s) { return s.params.time_code_offset == 93079; }},
        // The time code offset counts frames at the rounded rate: 29.97 frames per second count as 30.
        {ParameterTable().set(9, "00:01:00:00").set(17, "4"), "", "",
         [](const EncoderState& s) { return s.params.time_code_offset == 1800; }},
    };
    int k = 0;
    for (const auto& c : cases) {
        EncoderState s;
        const std::string warnings = warnings_of(c.table, s);
        EXPECT_NE(warnings.find(c.warning), std::string::npos) << "case " << k << ": " << warnings;
        EXPECT_TRUE(!*c.absent || warnings.find(c.absent) == std::string::npos) << "case " << k << ": " << warnings;
        EXPECT_TRUE(c.kept(s)) << "case " << k;
        k++;
    }
}

// A matrix file of the values first, first + 1, ... with `last` as the `count`th.
std::string matrix_file(int first, long long last, int count = 64) {
    static int files = 0;
    const std::string path = test::scratch_path("matrix_" + std::to_string(files++) + ".txt");
    std::ofstream out(path);
    for (int i = 0; i < count - 1; i++) out << first + i << (i % 8 == 7 ? "\n" : " ");
    out << last << "\n";
    return path;
}

// The defaults are the standard matrices in raster order (a wrong default weight of a high frequency hardly
// shows in decoded pictures); loaded values are kept in reading order; values outside 1..255, short files and
// missing ones are fatal.
TEST(QuantMatrixFiles, DefaultsLoadedValuesAndRefusedFiles) {
    EncoderState s;
    warnings_of(ParameterTable(), s);
    read_quant_matrices(s);
    EXPECT_EQ(s.params.load_intra_quant_matrix + s.params.load_non_intra_quant_matrix, 0);
    const std::pair<int, int> intra[] = {{0, 8}, {1, 16}, {8, 16}, {7, 34}, {56, 27}, {63, 83}};
    for (const auto& [at, weight] : intra) EXPECT_EQ(s.params.intra_quant_matrix[static_cast<std::size_t>(at)], weight);
    for (int v : s.params.non_intra_quant_matrix) EXPECT_EQ(v, 16);

    warnings_of(ParameterTable().set(3, matrix_file(1, 64)).set(4, matrix_file(100, 255)), s);
    read_quant_matrices(s);
    EXPECT_EQ(s.params.load_intra_quant_matrix + s.params.load_non_intra_quant_matrix, 2);
    for (int i = 0; i < 64; i++) EXPECT_EQ(s.params.intra_quant_matrix[static_cast<std::size_t>(i)], i + 1);
    EXPECT_EQ(s.params.non_intra_quant_matrix[63], 255);

    // 4294967297 is 2^32 + 1, which would be 1 if cut to an int's 32 bits.
    const std::pair<ParameterTable, std::string> files[] = {
        {ParameterTable().set(3, matrix_file(1, 0)), "invalid value in quant matrix"},
        {ParameterTable().set(3, matrix_file(1, 256)), "invalid value in quant matrix"},
        {ParameterTable().set(3, matrix_file(1, 4294967297LL)), "invalid value in quant matrix"},
        {ParameterTable().set(4, matrix_file(16, 16, 3)), "invalid value in quant matrix"},
        {ParameterTable().set(3, "/nonexistent/matrix.txt"), "Couldn't open quant matrix file /nonexistent/matrix.txt"},
    };
    for (const auto& [table, message] : files) {
        EncoderState refused;
        RecordingReporter report(refused);
        table.read_into(refused);
        EXPECT_EQ(fatal_text_of([&] { return read_quant_matrices(refused); }), message);
    }
}

TEST(FatalError, MovesTheBitsAlreadyProducedIntoTheStreamBeforeReporting) {
    EncoderState s;
    RecordingReporter report(s);
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    init_bit_writer(s.bits, stream);
    write_bits(s.bits, 0xABCDEF, 24);
    EXPECT_EQ(fatal_text_of([&] { fatal_error(s, "M must be positive"); }), "M must be positive");
    EXPECT_EQ(std::ftell(stream), 3);
    std::fclose(stream);
}

const std::string encode = VINTREL_ENCODE_PATH;

// Writes the first `count` built-in lines, one per text line with blank lines between some.
std::string write_lines(const std::string& name, std::size_t count) {
    std::string path = test::scratch_path(name);
    std::ofstream out(path);
    for (std::size_t k = 0; k < count; k++) out << builtin_parameter_lines[k] << (k % 10 == 3 ? "\n\n   \n" : "\n");
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
    for (const char* lines : {"statistics_file_name=stat.out\n", "N=1\nM=1\nis_mpeg1=1\n", "bit_rate=5000000\n",
                              "vbv_buffer_size=112\n", "progressive_sequence=1\nchroma_format=1\n",
                              "top_field_first=0\nframe_pred_frame_dct=1 1 1\n", "progressive_frame=1\n",
                              "q_scale_type=0 0 0\nintra_vlc_format=0 0 0\nalternate_scan=0 0 0\n",
                              "motion_data[0]=2 2 11 11\nframe_rate=30\ntime_code_offset=0\n"})
        EXPECT_NE(r.out.find(lines), std::string::npos) << lines << r.out;
    EXPECT_EQ(r.out.rfind("id_string=MPEG-2 Test Sequence, 30 frames/sec\n", 0), 0u);
}

// Refused parameter files and arguments: a message and exit code 1 (2 for a wrong argument), nothing dumped.
TEST(EncodeCli, RefusalsNameTheirReasonAndExitNonZero) {
    const struct { std::string arguments, message; int exit_code; } cases[] = {
        {"--lines " + write_lines("short.par", 30), "Parameter line 30 is missing", 1},
        {"--lines /nonexistent/ntsc.par", "/nonexistent/ntsc.par: No such file or directory", 1},
        {"--frobnicate", "usage: vintrel-encode", 2},
    };
    for (const auto& c : cases) {
        auto r = run_program(encode + " " + c.arguments + (c.exit_code == 1 ? " --dump-parameters" : ""));
        EXPECT_EQ(r.exit_code, c.exit_code) << c.arguments;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.arguments;
    }
}

}  // namespace
}  // namespace vintrel
