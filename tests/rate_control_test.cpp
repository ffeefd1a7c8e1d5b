// Rate control fed with made-up bit counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/rate_control.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

class RateControlFigures : public testing::Test {
protected:
    void SetUp() override {
        read_parameters(s);
        s.horizontal_size = 32;
        s.vertical_size = 32;
        s.frame_rate = 5.0;
        s.statistics_file_name = test::scratch_path("rate_control.out");
        init_encoder(s);
        luma.assign(32 * 32, 100);
        s.picture_type = 1;
        s.picture_structure = 3;
    }
    void TearDown() override { close_statistics_file(s); }

    // One intra picture whose macroblocks use `bits_per_macroblock` each; returns the scales.
    std::vector<int> picture(std::int64_t bits_per_macroblock) {
        start_gop_rate_control(s, 0, 0);
        start_picture_rate_control(s, luma.data());
        std::vector<int> scales{initial_quantiser_scale(s)};
        for (int k = 0; k < 4; k++) {
            scales.push_back(macroblock_quantiser_scale(s, k));
            s.bits.bytes_written += bits_per_macroblock / 8;
        }
        end_picture_rate_control(s);
        update_vbv_at_picture_end(s);
        return scales;
    }

    EncoderState s;
    test::RecordingReporter report{s};
    std::vector<std::uint8_t> luma;
};

TEST_F(RateControlFigures, LongRunsNeverWrapTheBitCounts) {
    init_rate_control(s);
    // Each group adds 1000000 bits and each picture uses 8000: R and T grow past 2^31 and the
    // buffer fullness falls far below -2^31. From the second picture on, when the buffer has
    // emptied, the scale must stay at its minimum.
    picture(2000);
    for (int n = 1; n < 3000; n++) {
        for (int q : picture(2000)) ASSERT_EQ(q, 2) << "picture " << n;
    }
    EXPECT_GT(s.rc.R, std::int64_t{1} << 31);
    EXPECT_LT(s.rc.d0i, -(std::int64_t{1} << 31));
    close_statistics_file(s);
    const std::string stats = test::read_file(s.statistics_file_name);
    EXPECT_NE(stats.find(" remaining number of bits in GOP: R=2976000000\n"), std::string::npos);
}

// The scale from the buffer fullness d and the reaction parameter r: linear scales are even,
// non-linear ones come from the table.
TEST_F(RateControlFigures, QuantiserScalesFromTheBufferFullness) {
    init_rate_control(s);
    const struct { int q_scale_type, r, d, scale; } cases[] = {
        {0, 31, 3, 6},  // nint(3 * 31 / 31) * 2
        {0, 31, 100, 62}, {0, 31, -5, 2},
        {1, 62, 91, 96},  // m = nint(2 * d * 31 / 62) = d
        {1, 62, 0, 1}, {1, 62, -7, 1}, {1, 62, 113, 112}, {1, 62, 9, 8}};
    for (const auto& c : cases) {
        s.q_scale_type = c.q_scale_type;
        s.rc.r = c.r;
        s.rc.d = c.d;
        EXPECT_EQ(initial_quantiser_scale(s), c.scale) << "type " << c.q_scale_type << " d " << c.d;
    }
}

TEST_F(RateControlFigures, VbvDelayIsClampedWithAWarning) {
    init_rate_control(s);
    s.rc.decoding_time = 1.0;  // not the first picture
    s.bits.bytes_written = 1000000;  // far behind the decoding time
    compute_vbv_delay(s);
    EXPECT_EQ(s.vbv_delay, 0);
    EXPECT_NE(report.warnings.find("vbv_delay underflow: -"), std::string::npos);

    s.bits.bytes_written = 0;
    s.rc.decoding_time = 100000.0;  // plus the 18000 ticks of one picture
    report.warnings.clear();
    compute_vbv_delay(s);
    EXPECT_EQ(s.vbv_delay, 65535);
    EXPECT_NE(report.warnings.find("vbv_delay overflow: 118000\n"), std::string::npos);
}

TEST(BlockVariance, IsTheVarianceOfTheSixtyFourSamples) {
    std::vector<std::uint8_t> block(8 * 10, 0);
    for (int row = 0; row < 8; row++)
        for (int col = 0; col < 8; col++) block[static_cast<std::size_t>(row * 10 + col)] = (row + col) % 2 ? 10 : 0;
    EXPECT_DOUBLE_EQ(block_variance(block.data(), 10), 25.0);  // half 0, half 10
}

}  // namespace
}  // namespace vintrel
