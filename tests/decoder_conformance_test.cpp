// All-intra streams for a matrix of parameter sets, decoded by an independent decoder (ffmpeg):
// the decoder must accept them silently, and its pictures must match our reconstruction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/encoded_stream_for_test.h"

namespace vintrel {
namespace {

using test::EncodedStream;
using test::ParameterLines;
using test::with;

struct StreamCase {
    const char* name;
    int width, height;
    int chroma_format;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    ParameterLines lines;
    bool loaded_matrices = false;
    int frames = 3;
};

// Parameter lines of an MPEG-2 Main Profile @ Main Level stream.
const ParameterLines mpeg2 = {{12, "0"}, {25, "1"}, {24, "1"}, {40, "1"}, {33, "0"}};
const ParameterLines interlaced = {{12, "0"}, {25, "1"}, {24, "0"}, {40, "0"}, {33, "1"}, {34, "0 0 0"}};

// Test names instead of byte dumps in the output.
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class DecoderConformance : public testing::TestWithParam<StreamCase> {
protected:
    DecoderConformance()
        : stream("conformance_" + std::string(GetParam().name), GetParam().width, GetParam().height,
                 GetParam().chroma_format, GetParam().frames) {}

    // Textured, moving content with sharp edges and noise, so that every code table is exercised.
    void write_sources() {
        const StreamCase& c = GetParam();
        std::mt19937 random(77);
        for (int f = 0; f < c.frames; f++) {
            std::vector<std::uint8_t> y(stream.luma_size());
            for (int row = 0; row < c.height; row++)
                for (int col = 0; col < c.width; col++) {
                    double v = 128 + 70 * std::sin(col * 0.31 + f) + 40 * std::cos(row * 0.17 - f * 0.5);
                    if ((col - 8 * f) % 40 < 12 && row % 30 < 14) v = (row + col) % 2 ? 250 : 5;
                    v += static_cast<int>(random() % 31) - 15;
                    y[static_cast<std::size_t>(row * c.width + col)] =
                        static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            const int cw = stream.chroma_width(), ch = stream.chroma_height();
            std::vector<std::uint8_t> u(static_cast<std::size_t>(cw * ch)), v(u.size());
            for (int row = 0; row < ch; row++)
                for (int col = 0; col < cw; col++) {
                    u[static_cast<std::size_t>(row * cw + col)] = static_cast<std::uint8_t>((col * 5 + f * 20) & 255);
                    v[static_cast<std::size_t>(row * cw + col)] = static_cast<std::uint8_t>(255 - ((row * 3 + col) & 255));
                }
            stream.write_source(f, y, u, v);
        }
    }

    EncodedStream stream;
};

TEST_P(DecoderConformance, DecodesSilentlyToOurReconstruction) {
    const StreamCase& c = GetParam();
    write_sources();
    auto encoded = stream.encode(stream.write_parameters(c.lines, c.loaded_matrices));
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;

    std::string pictures;
    auto decoded = stream.decode(pictures);
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "") << "the decoder complained";

    const std::size_t frame_size = stream.frame_size();
    ASSERT_EQ(pictures.size(), frame_size * static_cast<std::size_t>(c.frames)) << "wrong number or size of pictures";

    double lowest = 99.0;
    for (int f = 0; f < c.frames; f++) {
        const std::string ours = stream.reconstruction(f);
        ASSERT_EQ(ours.size(), frame_size) << "reconstruction of frame " << f;
        const double p = test::psnr(std::string_view(pictures).substr(static_cast<std::size_t>(f) * frame_size, frame_size), ours);
        EXPECT_GE(p, 45.0) << "picture " << f;
        lowest = std::min(lowest, p);
    }
    std::printf("[ PSNR     ] %-34s %2d pictures, lowest %.2f dB, %zu bytes\n", c.name, c.frames, lowest,
                test::read_file(stream.stream_path()).size());
    RecordProperty("lowest_psnr_db", std::to_string(lowest));
}

INSTANTIATE_TEST_SUITE_P(
    IntraStreams, DecoderConformance,
    testing::Values(
        StreamCase{"mpeg1_420_160x120", 160, 120, 1, {}},
        StreamCase{"mpeg1_150x100", 150, 100, 1, {}},
        StreamCase{"mpeg1_loaded_matrices", 160, 120, 1, {}, true},
        StreamCase{"mpeg2_progressive_dc8_linear", 160, 120, 1, mpeg2},
        StreamCase{"mpeg2_q1_vlc1_alt1_dc9", 160, 120, 1,
                   with(mpeg2, {{36, "1 1 1"}, {37, "1 1 1"}, {38, "1 1 1"}, {32, "1"}})},
        StreamCase{"mpeg2_q1_vlc0_alt1_dc10", 160, 120, 1, with(mpeg2, {{36, "1 1 1"}, {38, "1 1 1"}, {32, "2"}})},
        StreamCase{"mpeg2_high_dc11_vlc1", 160, 120, 1, with(mpeg2, {{22, "1"}, {32, "3"}, {37, "1 1 1"}})},
        StreamCase{"mpeg2_interlaced_field_dct", 160, 128, 1, interlaced},
        StreamCase{"mpeg2_interlaced_q1_vlc1_alt1", 160, 128, 1,
                   with(interlaced, {{36, "1 1 1"}, {37, "1 1 1"}, {38, "1 1 1"}})},
        StreamCase{"mpeg2_422_high_interlaced", 160, 128, 2, with(interlaced, {{22, "1"}, {25, "2"}})},
        StreamCase{"mpeg2_444_reserved_profile", 160, 128, 3, with(interlaced, {{22, "9"}, {25, "3"}})},
        StreamCase{"mpeg2_150x100_loaded_matrices_q1", 150, 100, 1, with(mpeg2, {{36, "1 1 1"}}), true},
        StreamCase{"mpeg2_tall_2816_lines", 64, 2816, 1, with(mpeg2, {{22, "9"}}), false, 2}),
    [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vintrel
