// Range, profile and level checks at their boundaries.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/parameter_table_for_test.h"
#include "tests/recording_reporter_for_test.h"

namespace vintrel {
namespace {

using test::fatal_text_of;
using test::ParameterTable;
using test::RecordingReporter;

// Each set either passes every check or ends on the fatal error naming what is wrong, at the
// boundaries of the syntax, the profiles and the levels.
TEST(ConformanceChecks, AcceptOrNameTheFirstBrokenLimit) {
    const std::pair<ParameterTable, std::string> sets[] = {
        {ParameterTable(), "(no fatal error)"},
        {ParameterTable().set(14, "4096"), "horizontal_size must be less than 4096 (MPEG-1)"},
        {ParameterTable::mpeg2_main().set(22, "9").set(14, "4096"), "horizontal_size must not be a multiple of 4096"},
        {ParameterTable().set(14, "0"), "horizontal_size must be between 1 and 16383"},
        {ParameterTable().set(14, "16384"), "horizontal_size must be between 1 and 16383"},
        {ParameterTable().set(15, "4096"), "vertical size must be less than 4096 (MPEG-1)"},
        {ParameterTable::mpeg2_main().set(22, "9").set(15, "8192"), "vertical_size must not be a multiple of 4096"},
        {ParameterTable().set(14, "4094").set(15, "4094"), "(no fatal error)"},
        // The checks see the lines before the MPEG-1 fix-ups: the built-in 4:4:4 allows odd widths.
        {ParameterTable().set(14, "705"), "(no fatal error)"},
        {ParameterTable().set(25, "1").set(14, "705"), "horizontal_size must be a even (4:2:0 / 4:2:2)"},
        {ParameterTable().set(25, "1").set(15, "481"), "vertical_size must be a even (4:2:0)"},
        {ParameterTable::mpeg2_main().set(13, "1").set(15, "574"), "vertical_size must be a multiple of 4 (4:2:0 field pictures)"},
        {ParameterTable().set(18, "104857200.0"), "(no fatal error)"},
        {ParameterTable().set(18, "104857201.0"), "bit_rate must be less than 104 Mbit/s (MPEG-1)"},
        {ParameterTable().set(18, "0"), "bit_rate must be positive"},
        {ParameterTable().set(17, "9"), "frame_rate code must be between 1 and 8"},
        {ParameterTable().set(19, "1024"), "vbv_buffer_size must be less than 1024 (MPEG-1)"},
        {ParameterTable().set(19, "1023"), "(no fatal error)"},
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
        {ParameterTable::mpeg2_main().set(50, "9 2 11 11"), "forward horizontal f_code greater than permitted in specified Level"},
        {ParameterTable::mpeg2_main().set(23, "10").set(14, "352").set(15, "288").set(18, "4000000") .set(19, "29").set(50, "2 5 11 11"), "forward vertical f_code greater than permitted in specified Level"},
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
        EXPECT_EQ(fatal_text_of([&] { table.read_into(s); }), message) << report.warnings;
    }
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
