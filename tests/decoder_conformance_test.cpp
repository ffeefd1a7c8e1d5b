// All-intra streams for a matrix of parameter sets, decoded by an independent decoder (ffmpeg):
// the decoder must accept them silently, and its pictures must match our reconstruction.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/parameter_table_for_test.h"
#include "tests/run_program_for_test.h"

namespace vintrel {
namespace {

using test::ParameterTable;
using test::read_file;
using test::run_program;

struct StreamCase {
    const char* name;
    int width, height;
    int chroma_format;  // 1 4:2:0, 2 4:2:2, 3 4:4:4
    std::vector<std::pair<int, std::string>> lines;
    bool loaded_matrices = false;
    int frames = 3;
};

// Parameter lines of an MPEG-2 Main Profile @ Main Level stream.
const std::vector<std::pair<int, std::string>> mpeg2 = {{12, "0"}, {25, "1"}, {24, "1"}, {40, "1"}, {33, "0"}};
const std::vector<std::pair<int, std::string>> interlaced = {
    {12, "0"}, {25, "1"}, {24, "0"}, {40, "0"}, {33, "1"}, {34, "0 0 0"}};

// Test names instead of byte dumps in the output.
void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

std::vector<std::pair<int, std::string>> with(std::vector<std::pair<int, std::string>> base,
                                             std::vector<std::pair<int, std::string>> more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

class DecoderConformance : public testing::TestWithParam<StreamCase> {
protected:
    void SetUp() override {
        dir = testing::TempDir() + "conformance_" + GetParam().name + "_" + std::to_string(::getpid());
        ::mkdir(dir.c_str(), 0755);
    }

    int chroma_width() const { return GetParam().chroma_format == 3 ? GetParam().width : GetParam().width / 2; }
    int chroma_height() const { return GetParam().chroma_format == 1 ? GetParam().height / 2 : GetParam().height; }

    // Textured, moving content with sharp edges and noise, so that every code table is exercised.
    void write_sources() {
        const StreamCase& c = GetParam();
        std::mt19937 random(77);
        for (int f = 0; f < c.frames; f++) {
            std::vector<std::uint8_t> y(static_cast<std::size_t>(c.width * c.height));
            for (int row = 0; row < c.height; row++)
                for (int col = 0; col < c.width; col++) {
                    double v = 128 + 70 * std::sin(col * 0.31 + f) + 40 * std::cos(row * 0.17 - f * 0.5);
                    if ((col - 8 * f) % 40 < 12 && row % 30 < 14) v = (row + col) % 2 ? 250 : 5;
                    v += static_cast<int>(random() % 31) - 15;
                    y[static_cast<std::size_t>(row * c.width + col)] =
                        static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            const int cw = chroma_width(), ch = chroma_height();
            std::vector<std::uint8_t> u(static_cast<std::size_t>(cw * ch)), v(u.size());
            for (int row = 0; row < ch; row++)
                for (int col = 0; col < cw; col++) {
                    u[static_cast<std::size_t>(row * cw + col)] = static_cast<std::uint8_t>((col * 5 + f * 20) & 255);
                    v[static_cast<std::size_t>(row * cw + col)] = static_cast<std::uint8_t>(255 - ((row * 3 + col) & 255));
                }
            std::ofstream out(dir + "/src" + std::to_string(f) + ".yuv", std::ios::binary);
            out.write(reinterpret_cast<const char*>(y.data()), static_cast<std::streamsize>(y.size()));
            out.write(reinterpret_cast<const char*>(u.data()), static_cast<std::streamsize>(u.size()));
            out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
        }
    }

    std::string write_parameters() {
        const StreamCase& c = GetParam();
        ParameterTable table;
        table.set(1, dir + "/src%d").set(2, dir + "/rec%d").set(5, dir + "/stat.out").set(6, "1");
        table.set(7, std::to_string(c.frames)).set(14, std::to_string(c.width)).set(15, std::to_string(c.height));
        table.set(30, std::to_string(c.width)).set(31, std::to_string(c.height));
        if (c.loaded_matrices) {
            std::ofstream intra(dir + "/intra.mat"), non_intra(dir + "/non_intra.mat");
            for (int i = 0; i < 64; i++) {
                intra << 8 + (i * 7) % 60 << (i % 8 == 7 ? "\n" : " ");
                non_intra << 12 + i % 20 << " ";
            }
            table.set(3, dir + "/intra.mat").set(4, dir + "/non_intra.mat");
        }
        for (const auto& [k, text] : c.lines) table.set(k, text);
        std::string path = dir + "/lines.par";
        std::ofstream out(path);
        for (const std::string& line : table.lines()) out << line << "\n";
        return path;
    }

    std::string dir;
};

double psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); i++) {
        const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

TEST_P(DecoderConformance, DecodesSilentlyToOurReconstruction) {
    const StreamCase& c = GetParam();
    write_sources();
    const std::string lines = write_parameters();
    const std::string stream = dir + "/out.mpg";

    auto encoded = run_program(std::string(VINTREL_ENCODE_PATH) + " --lines " + lines + " " + stream);
    ASSERT_EQ(encoded.exit_code, 0) << encoded.err;

    const char* pixel_format = c.chroma_format == 1 ? "yuv420p" : c.chroma_format == 2 ? "yuv422p" : "yuv444p";
    const std::string decoded_path = dir + "/decoded.yuv";
    auto decoded = run_program("ffmpeg -nostdin -v error -i " + stream + " -vsync passthrough -f rawvideo -pix_fmt " + pixel_format +
                               " -y " + decoded_path);
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "") << "the decoder complained";

    const std::size_t luma = static_cast<std::size_t>(c.width * c.height);
    const std::size_t chroma = static_cast<std::size_t>(chroma_width() * chroma_height());
    const std::size_t frame_size = luma + 2 * chroma;
    const std::string pictures = read_file(decoded_path);
    ASSERT_EQ(pictures.size(), frame_size * static_cast<std::size_t>(c.frames)) << "wrong number or size of pictures";

    double lowest = 99.0;
    for (int f = 0; f < c.frames; f++) {
        const std::string base = dir + "/rec" + std::to_string(f);
        const std::string ours = read_file(base + ".Y") + read_file(base + ".U") + read_file(base + ".V");
        ASSERT_EQ(ours.size(), frame_size) << "reconstruction " << base;
        const double p = psnr(pictures.substr(static_cast<std::size_t>(f) * frame_size, frame_size), ours);
        EXPECT_GE(p, 45.0) << "picture " << f;
        lowest = std::min(lowest, p);
    }
    std::printf("[ PSNR     ] %-34s %2d pictures, lowest %.2f dB, %zu bytes\n", c.name, c.frames, lowest,
                read_file(stream).size());
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
