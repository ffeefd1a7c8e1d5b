// Encoding speed of 640x480 pictures with the built-in parameters at 5 frames per second, as a
// conversion runs them: the whole picture pipeline and its main stages.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "convert/sample_rate.h"
#include "encoder/coding/bit_writer.h"
#include "encoder/coding/encode_picture.h"
#include "encoder/coding/quantise.h"
#include "encoder/coding/transform.h"
#include "encoder/encoder.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"

namespace {

using namespace vintrel;

// A conversion's source picture: a gradient dithered to the four greys (luminance 16, 89, 161, 234).
void fill_dithered(Picture& picture, int width, int height, int frame) {
    static const int levels[4] = {16, 89, 161, 234};
    static const int dither[2][2] = {{0, 2}, {3, 1}};
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const int grey = ((x + 3 * frame) * 255 / width + y * 255 / height) / 2;
            const int level = (grey * 3 + dither[y & 1][x & 1] * 64) / 256;
            picture[0][y * width + x] = static_cast<std::uint8_t>(levels[level > 3 ? 3 : level]);
        }
    std::memset(picture[1], 128, picture.plane[1].size());
    std::memset(picture[2], 128, picture.plane[2].size());
}

struct EncoderFixture {
    EncoderState s;
    std::FILE* sink = std::fopen("/dev/null", "wb");

    EncoderFixture() {
        std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
        (void)quiet;
        read_parameters(s);
        read_quant_matrices(s);
        s.params.horizontal_size = 640;
        s.params.vertical_size = 480;
        s.params.frame_rate = frames_per_second;
        s.params.statistics_file_name = "/dev/null";
        s.bits.out = sink;
        init_encoder(s);
        // The source picture is made once; the movie path's own cost belongs to the conversion.
        for (int c = 0; c < 3; c++) source.plane[static_cast<std::size_t>(c)] = s.buffers.new_org_frame.plane[static_cast<std::size_t>(c)];
        fill_dithered(source, 640, 480, 0);
    }
    Picture source;
    ~EncoderFixture() {
        close_statistics_file(s);
        flush_bit_writer(s.bits);
        std::fclose(sink);
    }
};

void BM_WholePicture(benchmark::State& state) {
    EncoderFixture e;
    Parameters params = e.s.params;
    params.frame_count = 1 << 30;
    auto encoder = vintrel::Encoder::open(params, e.sink).value;
    for (auto _ : state) {
        for (int c = 0; c < 3; c++) encoder->next_picture().plane[static_cast<std::size_t>(c)] = e.source.plane[static_cast<std::size_t>(c)];
        encoder->encode_next();
    }
    encoder->finish();
}
BENCHMARK(BM_WholePicture)->Unit(benchmark::kMillisecond);

// Stages on one prepared intra picture.
struct PreparedPicture : EncoderFixture {
    std::vector<std::array<std::int16_t, 64>> coefficients;
    PreparedPicture() {
        fill_dithered(s.buffers.new_org_frame, 640, 480, 0);
        s.header.picture_type = PictureType::I;
        s.header.picture_structure = PictureStructure::frame;
        s.header.frame_pred_frame_dct = 1;
        for (auto& mb : s.buffers.macroblock_info) {
            mb.macroblock_type = MacroblockFlag::intra;
            mb.mquant = 8;
        }
        for (auto& plane : s.buffers.pred_frame.plane) std::fill(plane.begin(), plane.end(), 128);
        transform_picture({s.params, s.geometry, s.header}, s.kernels, s.buffers.macroblock_info, s.buffers.blocks,
                          s.buffers.pred_frame, s.buffers.new_org_frame);
        coefficients = s.buffers.blocks;
    }
    // The picture's blocks quantised as an intra picture at scale 8.
    std::vector<std::array<std::int16_t, 64>> quantised() {
        std::vector<std::array<std::int16_t, 64>> levels(coefficients.size());
        for (std::size_t b = 0; b < levels.size(); b++)
            quantise_intra(s.kernels.simd, s.params.is_mpeg1, coefficients[b].data(), levels[b].data(), 0, s.params.intra_quant_matrix.data(), 8);
        return levels;
    }
};

void BM_ForwardTransform(benchmark::State& state) {
    PreparedPicture p;
    for (auto _ : state)
        transform_picture({p.s.params, p.s.geometry, p.s.header}, p.s.kernels, p.s.buffers.macroblock_info,
                          p.s.buffers.blocks, p.s.buffers.pred_frame, p.s.buffers.new_org_frame);
}
BENCHMARK(BM_ForwardTransform)->Unit(benchmark::kMillisecond);

void BM_Quantisation(benchmark::State& state) {
    PreparedPicture p;
    std::vector<std::array<std::int16_t, 64>> out(p.coefficients.size());
    for (auto _ : state)
        for (std::size_t b = 0; b < out.size(); b++)
            quantise_intra(p.s.kernels.simd, p.s.params.is_mpeg1, p.coefficients[b].data(), out[b].data(), 0, p.s.params.intra_quant_matrix.data(), 8);
}
BENCHMARK(BM_Quantisation)->Unit(benchmark::kMillisecond);

void BM_InversePath(benchmark::State& state) {
    PreparedPicture p;
    const auto levels = p.quantised();
    for (auto _ : state) {
        for (std::size_t b = 0; b < levels.size(); b++)
            dequantise_intra(p.s.kernels.simd, p.s.params.is_mpeg1, levels[b].data(), p.s.buffers.blocks[b].data(), 0, p.s.params.intra_quant_matrix.data(), 8);
        inverse_transform_picture({p.s.params, p.s.geometry, p.s.header}, p.s.kernels, p.s.buffers.macroblock_info,
                                  p.s.buffers.blocks, p.s.buffers.pred_frame, p.s.buffers.new_ref_frame);
    }
}
BENCHMARK(BM_InversePath)->Unit(benchmark::kMillisecond);

void BM_CodeWriting(benchmark::State& state) {
    PreparedPicture p;
    const auto levels = p.quantised();
    for (auto _ : state) {
        for (std::size_t b = 0; b < levels.size(); b++)
            write_intra_block({p.s.bits, p.s.params.is_mpeg1, p.s.report}, p.s.header, p.s.dc_predictor,
                              levels[b].data(), b % 6 < 4 ? 0 : 1 + (b % 6 & 1));
        align_to_byte(p.s.bits);
        flush_bit_writer(p.s.bits);
    }
}
BENCHMARK(BM_CodeWriting)->Unit(benchmark::kMillisecond);

}  // namespace
