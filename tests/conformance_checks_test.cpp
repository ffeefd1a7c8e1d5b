// Range, profile and level checks at their boundaries.
#include <gtest/gtest.h>

#include <string>

#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"

namespace vintrel {
namespace {

using test::fatal_text_of;
using test::ParameterTable;
using test::RecordingReporter;

// Reads the table and expects it to pass every check.
void expect_accepted(const ParameterTable& table) {
    EncoderState s;
    RecordingReporter report(s);
    EXPECT_EQ(fatal_text_of([&] { table.read_into(s); }), "(no fatal error)") << report.warnings;
}

void expect_rejected(const ParameterTable& table, const std::string& message) {
    EncoderState s;
    RecordingReporter report(s);
    EXPECT_EQ(fatal_text_of([&] { table.read_into(s); }), message);
}

TEST(RangeChecks, BuiltInLinesPass) { expect_accepted(ParameterTable()); }

TEST(RangeChecks, PictureSizesAtTheLimitsOfTheSyntax) {
    expect_rejected(ParameterTable().set(14, "4096"), "horizontal_size must be less than 4096 (MPEG-1)");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "9").set(14, "4096"),
                    "horizontal_size must not be a multiple of 4096");
    expect_rejected(ParameterTable().set(14, "0"), "horizontal_size must be between 1 and 16383");
    expect_rejected(ParameterTable().set(14, "16384"), "horizontal_size must be between 1 and 16383");
    expect_rejected(ParameterTable().set(15, "4096"), "vertical size must be less than 4096 (MPEG-1)");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "9").set(15, "8192"),
                    "vertical_size must not be a multiple of 4096");
    expect_accepted(ParameterTable().set(14, "4094").set(15, "4094"));
    // The checks see the parameter lines before the MPEG-1 fix-ups: the built-in 4:4:4 allows odd widths.
    expect_accepted(ParameterTable().set(14, "705"));
    expect_rejected(ParameterTable().set(25, "1").set(14, "705"), "horizontal_size must be a even (4:2:0 / 4:2:2)");
    expect_rejected(ParameterTable().set(25, "1").set(15, "481"), "vertical_size must be a even (4:2:0)");
    expect_rejected(ParameterTable::mpeg2_main().set(13, "1").set(15, "574"),
                    "vertical_size must be a multiple of 4 (4:2:0 field pictures)");
}

TEST(RangeChecks, RatesAndBuffers) {
    expect_accepted(ParameterTable().set(18, "104857200.0"));
    expect_rejected(ParameterTable().set(18, "104857201.0"), "bit_rate must be less than 104 Mbit/s (MPEG-1)");
    expect_rejected(ParameterTable().set(18, "0"), "bit_rate must be positive");
    expect_rejected(ParameterTable().set(17, "9"), "frame_rate code must be between 1 and 8");
    expect_rejected(ParameterTable().set(19, "1024"), "vbv_buffer_size must be less than 1024 (MPEG-1)");
    expect_accepted(ParameterTable().set(19, "1023"));
    expect_rejected(ParameterTable().set(16, "15"), "pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    expect_rejected(ParameterTable::mpeg2_main().set(16, "5"), "aspect_ratio_information must be 1, 2, 3 or 4");
}

TEST(RangeChecks, ColourAndMotionValues) {
    expect_rejected(ParameterTable().set(29, "3"), "matrix_coefficients must be in range 1...2 or 4...7");
    expect_rejected(ParameterTable().set(27, "8"), "color_primaries must be in range 1...2 or 4...7");
    expect_rejected(ParameterTable().set(32, "4"), "intra_dc_precision must be in range 0...3");
    expect_rejected(ParameterTable().set(50, "8 2 11 11"), "f_code must be le less than 8");
    expect_rejected(ParameterTable().set(50, "0 2 11 11"), "f_code must be between 1 and 9");
    expect_rejected(ParameterTable().set(50, "2 2 0 11"), "search window must be positive");
    expect_rejected(ParameterTable().set(10, "2").set(11, "2").set(52, "1 1 7 0"), "search window must be positive");
}

TEST(ProfileAndLevel, SampleRateLimitIsInclusive) {
    // 720 x 576 x 25 is exactly the Main Level limit of 10368000 samples per second.
    expect_accepted(ParameterTable::mpeg2_main());
    expect_rejected(ParameterTable::mpeg2_main().set(17, "4"), "Sample rate is greater than permitted in specified Level");
}

TEST(ProfileAndLevel, SizeAndRateLimitsOfTheLevel) {
    expect_rejected(ParameterTable::mpeg2_main().set(14, "722"),
                    "Horizontal size is greater than permitted in specified Level");
    expect_rejected(ParameterTable::mpeg2_main().set(15, "578"),
                    "Vertical size is greater than permitted in specified Level");
    expect_rejected(ParameterTable::mpeg2_main().set(18, "15000001.0"),
                    "Bit rate is greater than permitted in specified Level");
    expect_rejected(ParameterTable::mpeg2_main().set(19, "113"), "vbv_buffer_size exceeds High Level limit");
    expect_rejected(ParameterTable::mpeg2_main().set(17, "6"), "Picture rate greater than permitted in specified Level");
    expect_rejected(ParameterTable::mpeg2_main().set(50, "9 2 11 11"),
                    "forward horizontal f_code greater than permitted in specified Level");
    expect_rejected(ParameterTable::mpeg2_main().set(23, "10").set(14, "352").set(15, "288").set(18, "4000000")
                        .set(19, "29").set(50, "2 5 11 11"),
                    "forward vertical f_code greater than permitted in specified Level");
}

TEST(ProfileAndLevel, UndefinedAndUnsupportedCombinations) {
    expect_rejected(ParameterTable::mpeg2_main().set(22, "16"), "profile must be between 0 and 15");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "6"), "undefined Profile");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "3"), "This encoder currently generates no scalable bitstreams");
    expect_rejected(ParameterTable::mpeg2_main().set(23, "7"), "undefined Level");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "5").set(23, "4"), "undefined profile@level combination");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "5").set(10, "3").set(11, "3"),
                    "Simple Profile does not allow B pictures");
    expect_rejected(ParameterTable::mpeg2_main().set(25, "2"), "chroma format must be 4:2:0 in specified Profile");
    expect_rejected(ParameterTable::mpeg2_main().set(22, "1").set(25, "3"),
                    "chroma format must be 4:2:0 or 4:2:2 in High Profile");
    expect_rejected(ParameterTable::mpeg2_main().set(32, "3"), "11 bit DC precision only allowed in High Profile");
    expect_rejected(ParameterTable::mpeg2_main().set(24, "1").set(39, "1"), "repeat_first_first must be zero");
}

TEST(ProfileAndLevel, ReservedProfileSkipsEveryCheckWithAWarning) {
    EncoderState s;
    RecordingReporter report(s);
    // 4:4:4 at 1920 x 1152 would break both the Main Profile and the Main Level.
    ParameterTable::mpeg2_main().set(22, "9").set(25, "3").set(14, "1920").set(15, "1152").read_into(s);
    EXPECT_EQ(report.warnings, "Warning: profile uses a reserved value, conformance checks skipped\n");
    EXPECT_EQ(s.chroma_format, 3);
}

}  // namespace
}  // namespace vintrel
