// Reading the parameter lines: warnings, fix-ups, fatal errors, derived values, matrices.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
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

TEST(BuiltInParameters, PrintExactlyTheElevenFixUpWarningsInOrder) {
    EncoderState s;
    RecordingReporter report(s);
    read_parameters(s);
    EXPECT_EQ(report.warnings,
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
}

TEST(BuiltInParameters, GiveAnIntraOnlyProgressiveMpeg1Set) {
    EncoderState s;
    RecordingReporter report(s);
    read_parameters(s);
    EXPECT_EQ(s.id_string, "MPEG-2 Test Sequence, 30 frames/sec");
    EXPECT_EQ(s.source_file_name_template, "test%d");
    EXPECT_EQ(s.reconstructed_file_name_template, "-");
    EXPECT_EQ(s.statistics_file_name, "stat.out");
    EXPECT_EQ(s.input_picture_format, 2);
    EXPECT_EQ(s.is_mpeg1, 1);
    EXPECT_EQ(s.chroma_format, 1);
    EXPECT_EQ(s.progressive_sequence, 1);
    EXPECT_EQ(s.progressive_frame, 1);
    EXPECT_EQ(s.field_pictures, 0);
    EXPECT_EQ(s.N, 1);
    EXPECT_EQ(s.M, 1);
    EXPECT_EQ(s.top_field_first, 0);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(s.frame_pred_frame_dct_tab[i], 1);
        EXPECT_EQ(s.q_scale_type_tab[i], 0);
        EXPECT_EQ(s.intra_vlc_format_tab[i], 0);
        EXPECT_EQ(s.alternate_scan_tab[i], 0);
    }
    EXPECT_EQ(s.bit_rate, 5000000.0);
    EXPECT_EQ(s.vbv_buffer_size, 112);
    EXPECT_EQ(s.frame_rate_code, 5);
    EXPECT_EQ(s.frame_rate, 30.0);
    EXPECT_EQ(s.matrix_coefficients, 4);
    EXPECT_EQ(s.time_code_offset, 0);
    ASSERT_EQ(s.motion_data.size(), 1u);
    EXPECT_EQ(s.motion_data[0].forw_hor_f_code, 2);
    EXPECT_EQ(s.motion_data[0].forw_search_width, 11);
    EXPECT_EQ(s.motion_data[0].forw_search_height, 11);
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

TEST(ParameterChecks, FifteenPicturesWithThreeBetweenReferencesReadsAllMotionLines) {
    EncoderState s;
    warnings_of(ParameterTable().set(10, "15").set(11, "3"), s);
    ASSERT_EQ(s.motion_data.size(), 3u);
    EXPECT_EQ(s.motion_data[1].forw_search_width, 3);
    EXPECT_EQ(s.motion_data[1].back_search_width, 7);
    EXPECT_EQ(s.motion_data[2].forw_search_width, 7);
    EXPECT_EQ(s.motion_data[2].back_search_height, 3);
}

TEST(ParameterFixUps, SearchRangesAreReducedToWhatTheFCodeReaches) {
    EncoderState s;
    std::string warnings = warnings_of(ParameterTable().set(50, "1 1 11 11"), s);
    EXPECT_NE(warnings.find("Warning: reducing forward horizontal search width to 7\n"), std::string::npos);
    EXPECT_NE(warnings.find("Warning: reducing forward vertical search width to 7\n"), std::string::npos);
    EXPECT_EQ(s.motion_data[0].forw_search_width, 7);

    EncoderState kept;
    warnings = warnings_of(ParameterTable(), kept);
    EXPECT_EQ(warnings.find("reducing"), std::string::npos);
    EXPECT_EQ(kept.motion_data[0].forw_search_width, 11);

    EncoderState backward;
    warnings = warnings_of(ParameterTable().set(10, "2").set(11, "2").set(52, "2 2 9 20"), backward);
    EXPECT_EQ(warnings.find("backward horizontal"), std::string::npos);
    EXPECT_NE(warnings.find("Warning: reducing backward vertical search width to 15\n"), std::string::npos);
    EXPECT_EQ(backward.motion_data[1].back_search_width, 9);
}

TEST(ParameterFixUps, Mpeg2SetKeepsItsValuesAndClearsConstrainedParameters) {
    EncoderState s;
    std::string warnings = warnings_of(ParameterTable::mpeg2_main().set(21, "1"), s);
    EXPECT_EQ(warnings, "Warning: setting constrained_parameters_flag = 0\n");
    EXPECT_EQ(s.constrained_parameters_flag, 0);
    EXPECT_EQ(s.q_scale_type_tab[0], 1);
    EXPECT_EQ(s.intra_vlc_format_tab[0], 1);
    EXPECT_EQ(s.top_field_first, 1);
    EXPECT_EQ(s.progressive_frame, 0);
}

TEST(ParameterFixUps, ConstrainedParametersHoldOnlyForSmallPictures) {
    EncoderState small;
    std::string warnings =
        warnings_of(ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3"), small);
    EXPECT_EQ(warnings.find("constrained"), std::string::npos);
    EXPECT_EQ(small.constrained_parameters_flag, 1);

    EncoderState large;  // 704 x 480 is 1320 macroblocks, more than 396
    warnings = warnings_of(ParameterTable().set(21, "1"), large);
    EXPECT_NE(warnings.find("Warning: setting constrained_parameters_flag = 0\n"), std::string::npos);
    EXPECT_EQ(large.constrained_parameters_flag, 0);

    EncoderState wide_vectors;  // f_code 5 exceeds the constrained limit of 4
    warnings = warnings_of(ParameterTable().set(21, "1").set(14, "352").set(15, "240").set(17, "3").set(50, "5 5 11 11"),
                           wide_vectors);
    EXPECT_NE(warnings.find("Warning: setting constrained_parameters_flag = 0\n"), std::string::npos);
}

TEST(DerivedValues, TimeCodeOffsetCountsFramesAtTheRoundedRate) {
    EncoderState one_second;
    warnings_of(ParameterTable().set(9, "00:00:01:00 /* timecode */"), one_second);
    EXPECT_EQ(one_second.time_code_offset, 30);

    EncoderState pal;  // ((1 * 60 + 2) * 60 + 3) * 25 + 4
    warnings_of(ParameterTable().set(9, "01:02:03:04").set(17, "3"), pal);
    EXPECT_EQ(pal.time_code_offset, 93079);

    EncoderState ntsc;  // 29.97 rounds to 30 frames per second
    warnings_of(ParameterTable().set(9, "00:01:00:00").set(17, "4"), ntsc);
    EXPECT_DOUBLE_EQ(ntsc.frame_rate, 30000.0 / 1001.0);
    EXPECT_EQ(ntsc.time_code_offset, 1800);
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

TEST_F(QuantMatrixFile, DefaultsAreTheStandardMatricesInRasterOrder) {
    EncoderState s;
    warnings_of(ParameterTable(), s);
    read_quant_matrices(s);
    EXPECT_EQ(s.load_intra_quant_matrix, 0);
    EXPECT_EQ(s.load_non_intra_quant_matrix, 0);
    EXPECT_EQ(s.intra_quant_matrix[0], 8);
    EXPECT_EQ(s.intra_quant_matrix[1], 16);
    EXPECT_EQ(s.intra_quant_matrix[8], 16);
    EXPECT_EQ(s.intra_quant_matrix[7], 34);
    EXPECT_EQ(s.intra_quant_matrix[63], 83);
    for (int v : s.non_intra_quant_matrix) EXPECT_EQ(v, 16);
}

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
