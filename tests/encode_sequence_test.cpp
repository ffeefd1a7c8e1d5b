// The first pictures of a conversion, checked byte by byte and figure by figure against values
// worked out by hand from the built-in parameters; the rate control fed with made-up bit counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/sample_rate.h"
#include "encoder/coding/bit_writer.h"
#include "encoder/coding/rate_control.h"
#include "encoder/coding/stream_headers.h"
#include "encoder/encoder.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"
#include "tests/recording_reporter_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel {
namespace {

// An encoder set up as a conversion sets it: built-in lines, movie size, 5 frames per second.
class ConversionLikeSequence : public testing::Test {
protected:
    void SetUp() override {
        read_parameters(s);
        read_quant_matrices(s);
        s.params.horizontal_size = 160;
        s.params.vertical_size = 120;
        s.params.frame_rate = frames_per_second;
        stat_path = test::scratch_path("sequence_stat.out");
        s.params.statistics_file_name = stat_path;
    }

    // Codes a sequence of flat grey frames into a stream in memory.
    void encode(int frames) {
        Parameters params = s.params;
        params.frame_count = frames;
        char* data = nullptr;
        std::size_t size = 0;
        std::FILE* file = open_memstream(&data, &size);
        ASSERT_NE(file, nullptr);
        {
            auto [encoder, fault] = Encoder::open(params, file, s.report);
            ASSERT_TRUE(encoder) << fault.detail;
            for (int n = 0; n < frames; n++) {
                for (auto& plane : encoder->next_picture().plane) std::fill(plane.begin(), plane.end(), 128);
                EXPECT_FALSE(encoder->encode_next().failed());
            }
            EXPECT_FALSE(encoder->finish().failed());
            EXPECT_TRUE(encoder->close_statistics());
        }
        std::fclose(file);
        stream.assign(reinterpret_cast<const std::uint8_t*>(data), reinterpret_cast<const std::uint8_t*>(data) + size);
        std::free(data);
        stats = test::read_file(stat_path);
    }

    std::vector<std::uint8_t> bytes(std::size_t from, std::size_t count) const {
        return {stream.begin() + static_cast<std::ptrdiff_t>(from), stream.begin() + static_cast<std::ptrdiff_t>(from + count)};
    }

    // Where the start codes 00 00 01 `code` begin.
    std::vector<std::size_t> start_codes(std::uint8_t code) const {
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i + 3 < stream.size(); i++)
            if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == code) at.push_back(i);
        return at;
    }

    EncoderState s;
    test::RecordingReporter report{s};
    std::string stat_path, stats;
    std::vector<std::uint8_t> stream;
};

using Bytes = std::vector<std::uint8_t>;

TEST_F(ConversionLikeSequence, FirstPicturesCarryTheHandWorkedHeadersAndFigures) {
    encode(3);
    // Sequence header: 160 x 120, square pels, code 5, bit_rate_value 12500, marker, vbv 112,
    // no constrained parameters, no matrices.
    EXPECT_EQ(bytes(0, 12), (Bytes{0x00, 0x00, 0x01, 0xB3, 0x0A, 0x00, 0x78, 0x15, 0x0C, 0x35, 0x23, 0x80}));
    // User data: the id string, 35 characters.
    EXPECT_EQ(bytes(12, 4), (Bytes{0x00, 0x00, 0x01, 0xB2}));
    const std::string id(stream.begin() + 16, stream.begin() + 51);
    EXPECT_EQ(id, "MPEG-2 Test Sequence, 30 frames/sec");
    // Picture: temporal_reference 0, I, vbv_delay 28892, extra bit 0, padding.
    // 28901.376 ticks fill 7/8 of the buffer; 504 bits are in the stream at the start code.
    EXPECT_EQ(bytes(59, 8), (Bytes{0x00, 0x00, 0x01, 0x00, 0x00, 0x0B, 0x86, 0xE0}));
    // First slice: quantiser_scale_code 10 (scale 20), extra_bit_slice 0.
    EXPECT_EQ(bytes(67, 4), (Bytes{0x00, 0x00, 0x01, 0x01}));
    EXPECT_EQ(stream[71] >> 2, 0b010100);
    // The stream ends with the sequence end code.
    EXPECT_EQ(bytes(stream.size() - 4, 4), (Bytes{0x00, 0x00, 0x01, 0xB7}));

    // Every picture opens its own group: time codes of 0, 1 and 2 pictures with their marker bit, closed
    // only in the first, never broken; time codes count pictures at five per second.
    const std::vector<std::size_t> groups = start_codes(0xB8);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0], 51u);
    EXPECT_EQ(bytes(groups[0] + 4, 4), (Bytes{0x00, 0x08, 0x00, 0x40}));
    EXPECT_EQ(bytes(groups[1] + 4, 4), (Bytes{0x00, 0x08, 0x00, 0x80}));
    EXPECT_EQ(bytes(groups[2] + 4, 4), (Bytes{0x00, 0x08, 0x01, 0x00}));
    EXPECT_EQ(frame_to_time_code(s.params, 7), 0x1042);    // 1 second, 2 pictures
    EXPECT_EQ(frame_to_time_code(s.params, 300), 0x3000);  // 1 minute
    EXPECT_EQ(frame_to_time_code(s.params, 5 * 3600 * 24), 0x1000);  // hours wrap after 24

    // The rate control starts from the default figures.
    EXPECT_EQ(stats.rfind("\nrate control: sequence initialization\n"
                          " initial global complexity measures (I,P,B): Xi=6956522, Xp=2608696, Xb=1826087\n"
                          " reaction parameter: r=2000000\n"
                          " initial virtual buffer fullness (I,P,B): d0i=645161, d0p=645161, d0b=903226\n"
                          " initial average activity: avg_act=400.0\n"
                          "\nrate control: new group of pictures (GOP)\n"
                          " target number of bits for GOP: R=1000000\n"
                          " number of P pictures in GOP: Np=0\n"
                          " number of B pictures in GOP: Nb=0\n"
                          "\nFrame 0 (#0 in display order):\n"
                          " picture_type=I\n"
                          " temporal_reference=0\n"
                          " frame_pred_frame_dct=1\n"
                          " q_scale_type=0\n"
                          " intra_vlc_format=0\n"
                          " alternate_scan=0\n"
                          "\nrate control: start of picture\n"
                          " target number of bits: T=1000000\n"
                          "\nvbv_delay=28892 (bitcount=504, decoding_time=28901.38, bitcnt_EOP=0)\n",
                          0),
              0u)
        << stats;
    // A flat macroblock has activity 1: N_act = (2 + 400) / (1 + 800) = 402 / 801 halves the first scale, 20,
    // to 10. The second picture is decoded 18000 ticks (one picture at 5 per second) after the first.
    for (const char* figure : {" average activity: avg_act=1.0\n", "\nmquant map:\n 10 ", "decoding_time=46901.38",
                               "\nFrame 1 (#1 in display order):\n picture_type=I\n temporal_reference=0\n"})
        EXPECT_NE(stats.find(figure), std::string::npos) << figure;
    EXPECT_EQ(report.progress.rfind("Encoding frame 0 ", 0), 0u);
    EXPECT_NE(report.progress.find("Encoding frame 1 "), std::string::npos);
}

class RateControlFigures : public ConversionLikeSequence {
protected:
    void SetUp() override {
        ConversionLikeSequence::SetUp();
        s.params.horizontal_size = s.params.vertical_size = 32;
        init_encoder(s);
        s.header.picture_type = PictureType::I;
        s.header.picture_structure = PictureStructure::frame;
        init_rate_control(s.rc, s.params, s.statistics.file);
    }
};

// Intra pictures of four flat macroblocks that use 2000 bits each, one group each: each group adds 1000000 bits,
// so R and T grow past 2^31 and the buffer fullness falls far below -2^31. From the second picture on, when the
// buffer has emptied, the scale must stay at its minimum.
TEST_F(RateControlFigures, LongRunsNeverWrapTheBitCounts) {
    const std::vector<std::uint8_t> luma(32 * 32, 100);
    std::int64_t bits = 0;  // the made-up length of the stream so far
    for (int n = 0; n < 3000; n++) {
        start_gop_rate_control(s.rc, s.params, s.statistics.file, 0, 0);
        start_picture_rate_control(s.rc, {s.params, s.geometry, s.header}, s.buffers.macroblock_info, s.statistics.file,
                                   luma.data(), bits);
        std::vector<int> scales{initial_quantiser_scale(s.rc, s.header)};
        for (int k = 0; k < 4; k++, bits += 2000)
            scales.push_back(macroblock_quantiser_scale(s.rc, s.geometry, s.header, s.buffers.macroblock_info, k, bits));
        end_picture_rate_control(s.rc, s.geometry, s.header, s.statistics.file, bits);
        update_vbv_at_picture_end(s.rc, bits);
        if (n > 0) {
            ASSERT_EQ(scales, std::vector<int>(5, 2)) << "picture " << n;
        }
    }
    EXPECT_GT(s.rc.R, std::int64_t{1} << 31);
    EXPECT_LT(s.rc.d0i, -(std::int64_t{1} << 31));
    close_statistics_file(s);
    EXPECT_NE(test::read_file(stat_path).find(" remaining number of bits in GOP: R=2976000000\n"), std::string::npos);
}

// The scale from the buffer fullness d and the reaction parameter r: linear scales are even,
// non-linear ones come from the table.
TEST_F(RateControlFigures, QuantiserScalesFromTheBufferFullness) {
    const struct { int q_scale_type, r, d, scale; } cases[] = {
        {0, 31, 3, 6},  // nint(3 * 31 / 31) * 2
        {0, 31, 100, 62}, {0, 31, -5, 2},
        {1, 62, 91, 96},  // m = nint(2 * d * 31 / 62) = d
        {1, 62, 0, 1}, {1, 62, -7, 1}, {1, 62, 113, 112}, {1, 62, 9, 8}};
    for (const auto& c : cases) {
        s.header.q_scale_type = c.q_scale_type;
        s.rc.r = c.r;
        s.rc.d = c.d;
        EXPECT_EQ(initial_quantiser_scale(s.rc, s.header), c.scale) << "type " << c.q_scale_type << " d " << c.d;
    }
}

TEST_F(RateControlFigures, VbvDelayIsClampedWithAWarning) {
    s.rc.decoding_time = 1.0;  // not the first picture
    // far behind the decoding time
    EXPECT_EQ(compute_vbv_delay(s.rc, {s.params, s.geometry, s.header}, s.report, s.statistics.file, 8000000), 0);
    EXPECT_NE(report.warnings.find("vbv_delay underflow: -"), std::string::npos);

    s.rc.decoding_time = 100000.0;  // plus the 18000 ticks of one picture
    EXPECT_EQ(compute_vbv_delay(s.rc, {s.params, s.geometry, s.header}, s.report, s.statistics.file, 0), 65535);
    EXPECT_NE(report.warnings.find("vbv_delay overflow: 118000\n"), std::string::npos);
}

}  // namespace
}  // namespace vintrel
