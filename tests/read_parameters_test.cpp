// Reading the parameter lines: warnings, fix-ups, fatal errors, derived values, matrices.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <functional>
#include <utility>

#include "encoder/coding/bit_writer.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/read_parameters.h"
#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

using test::fatal_text_of;
using test::ParameterTable;
using test::RecordingReporter;

std::string warnings_of(const ParameterTable& table, EncoderState& state) {
    RecordingReporter report(state);
    table.read_into(state);
    return report.warnings;
}

// A set the encoder cannot code ends on a fatal error that names what is wrong.
TEST(ParameterChecks, RefusedSetsEndOnAFatalErrorNamingTheLine) {
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
        {ParameterTable().set(10, "4294967297 /* N */"), "Parameter line 10: cannot read N from \"4294967297 /* N */\""},
        {ParameterTable().set(36, "1 4294967296 1"),
         "Parameter line 36: cannot read q_scale_type (I P B) from \"1 4294967296 1\""},
        {ParameterTable().set(9, "00:00:99999999999:00"),
         "Parameter line 9: cannot read the time code (hh:mm:ss:pp) from \"00:00:99999999999:00\""},
        {ParameterTable().set(50, "2 2 -9999999999 11"),
         "Parameter line 50: cannot read the forward motion data from \"2 2 -9999999999 11\""},
    };
    for (const auto& [table, message] : sets) {
        EncoderState s;
        RecordingReporter report(s);
        EXPECT_EQ(fatal_text_of([&] { table.read_into(s); }), message);
    }
}

// Values the encoder cannot keep are changed with a warning; values it can keep are kept silently.
TEST(ParameterFixUps, ChangeOnlyWhatCannotBeKept) {
    const struct {
        ParameterTable table;
        const char* warning;  // a warning among those printed, or "" for none about the value
        const char* absent;   // a text no warning may contain
        std::function<bool(const EncoderState&)> kept;
    } cases[] = {
        {ParameterTable().set(50, "1 1 11 11"), "Warning: reducing forward vertical search width to 7\n", "",
         [](const EncoderState& s) { return s.motion_data[0].forw_search_width == 7; }},
        {ParameterTable(), "", "reducing", [](const EncoderState& s) { return s.motion_data[0].forw_search_width == 11; }},
        {ParameterTable().set(10, "2").set(11, "2").set(52, "2 2 9 20"),
         "Warning: reducing backward vertical search width to 15\n", "backward horizontal",
         [](const EncoderState& s) { return s.motion_data[1].back_search_width == 9; }},
        {ParameterTable::mpeg2_main().set(21, "1"), "Warning: setting constrained_parameters_flag = 0\n", "qscale",
         [](const EncoderState& s) {
             return s.constrained_parameters_flag == 0 && s.q_scale_type_tab[0] == 1 && s.intra_vlc_format_tab[0] == 1 &&
                    s.top_field_first == 1 && s.progressive_frame == 0;
         }},
        {ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3"), "", "constrained",
         [](const EncoderState& s) { return s.constrained_parameters_flag == 1; }},
        // 704 x 480 is 1320 macroblocks, more than 396; f_code 5 exceeds the constrained limit of 4.
        {ParameterTable().set(21, "1"), "Warning: setting constrained_parameters_flag = 0\n", "",
         [](const EncoderState& s) { return s.constrained_parameters_flag == 0; }},
        {ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3").set(50, "5 5 11 11"),
         "Warning: setting constrained_parameters_flag = 0\n", "", [](const EncoderState&) { return true; }},
    };
    int k = 0;
    for (const auto& c : cases) {
        EncoderState s;
        const std::string warnings = warnings_of(c.table, s);
        EXPECT_NE(warnings.find(c.warning), std::string::npos) << "case " << k << ": " << warnings;
        if (*c.absent) {
            EXPECT_EQ(warnings.find(c.absent), std::string::npos) << "case " << k << ": " << warnings;
        }
        EXPECT_TRUE(c.kept(s)) << "case " << k;
        k++;
    }
}

TEST(DerivedValues, TimeCodeOffsetCountsFramesAtTheRoundedRate) {
    // ((1 * 60 + 2) * 60 + 3) * 25 + 4; 29.97 frames per second count as 30.
    const struct { const char* time_code; const char* rate_code; int offset; } cases[] = {
        {"00:00:01:00 /* timecode */", "5", 30}, {"01:02:03:04", "3", 93079}, {"00:01:00:00", "4", 1800}};
    for (const auto& c : cases) {
        EncoderState s;
        warnings_of(ParameterTable().set(9, c.time_code).set(17, c.rate_code), s);
        EXPECT_EQ(s.time_code_offset, c.offset) << c.time_code;
    }
}

class QuantMatrixFile : public testing::Test {
protected:
    std::string write(const std::string& text) {
        std::string path = test::scratch_path("matrix_" + std::to_string(counter_++) + ".txt");
        std::ofstream(path) << text;
        return path;
    }
    static std::string values(int first, long long last_value) {
        std::string text;
        for (int i = 0; i < 63; i++) text += std::to_string(first + i) + (i % 8 == 7 ? "\n" : " ");
        return text + std::to_string(last_value) + "\n";
    }
    int counter_ = 0;
};

TEST_F(QuantMatrixFile, LoadedValuesAreKeptInReadingOrder) {
    EncoderState s;
    std::string intra = write(values(1, 64));
    std::string non_intra = write(values(100, 255));
    warnings_of(ParameterTable().set(3, intra).set(4, non_intra), s);
    read_quant_matrices(s);
    EXPECT_EQ(s.load_intra_quant_matrix, 1);
    EXPECT_EQ(s.load_non_intra_quant_matrix, 1);
    for (int i = 0; i < 64; i++) EXPECT_EQ(s.intra_quant_matrix[static_cast<std::size_t>(i)], i + 1);
    EXPECT_EQ(s.non_intra_quant_matrix[62], 162);
    EXPECT_EQ(s.non_intra_quant_matrix[63], 255);
}

TEST_F(QuantMatrixFile, ValuesOutsideOneTo255AndMissingFilesAreFatal) {
    // 4294967297 is 2^32 + 1, which would be 1 if cut to an int's 32 bits.
    const std::pair<ParameterTable, std::string> files[] = {
        {ParameterTable().set(3, write(values(1, 0))), "invalid value in quant matrix"},
        {ParameterTable().set(3, write(values(1, 256))), "invalid value in quant matrix"},
        {ParameterTable().set(3, write(values(1, 4294967297LL))), "invalid value in quant matrix"},
        {ParameterTable().set(4, write("16 16 16\n")), "invalid value in quant matrix"},
        {ParameterTable().set(3, "/nonexistent/matrix.txt"), "Couldn't open quant matrix file /nonexistent/matrix.txt"},
    };
    for (const auto& [table, message] : files) {
        EncoderState s;
        RecordingReporter report(s);
        table.read_into(s);
        EXPECT_EQ(fatal_text_of([&] { read_quant_matrices(s); }), message);
    }
}

TEST(FatalError, MovesTheBitsAlreadyProducedIntoTheStreamBeforeReporting) {
    EncoderState s;
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    init_bit_writer(s.bits, stream);
    write_bits(s.bits, 0xABCDEF, 24);
    long stream_size = -1;
    s.report.fatal = [&](const std::string& text) {
        stream_size = std::ftell(stream);
        throw test::FatalError(text);
    };
    EXPECT_EQ(fatal_text_of([&] { fatal_error(s, "M must be positive"); }), "M must be positive");
    EXPECT_EQ(stream_size, 3);
    std::fclose(stream);
}

}  // namespace
}  // namespace vintrel
