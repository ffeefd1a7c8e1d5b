// The arithmetic kernels of every SIMD level against plain references: forward and inverse DCT, quantisers and
// inverse quantisers; and the frame/field DCT decision. The picture passes are checked end to end by the
// decoder tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "encoder/coding/quantise.h"
#include "encoder/coding/transform.h"
#include "encoder/setup/encoder_state.h"

namespace vintrel {
namespace {

using Block = std::array<std::int16_t, 64>;
using Matrix = std::array<std::uint8_t, 64>;

// The forward DCT as the formula reads: rows then columns, each sum from zero in index order.
Block reference_forward_dct(const Block& in) {
    auto basis = [](int u, int x) {
        return (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos(std::numbers::pi / 8.0 * u * (x + 0.5));
    };
    double rows[64] = {};  // [8 * r + u]
    for (int i = 0; i < 64; i++)
        for (int x = 0; x < 8; x++) rows[i] += in[i / 8 * 8 + x] * basis(i % 8, x);
    Block out{};  // [8 * v + u]
    for (int i = 0; i < 64; i++) {
        double sum = 0.0;
        for (int r = 0; r < 8; r++) sum += basis(i / 8, r) * rows[8 * r + i % 8];
        out[i] = static_cast<std::int16_t>(static_cast<int>(std::floor(sum + 0.499999)));
    }
    return out;
}

// The low 32 bits, as a 32-bit register keeps them.
std::int64_t w32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// One pass of the integer inverse DCT over x[0..7], step by step; returns the eight sums that
// the row pass shifts by 8 and the column pass by 14.
void reference_inverse_pass(std::int64_t b[8], bool column) {
    constexpr std::int64_t W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;
    const std::int64_t r = column ? 4 : 0;  // rotation rounding of the column pass
    const int s = column ? 3 : 0;
    std::int64_t x0 = w32((b[0] << (column ? 8 : 11)) + (column ? 8192 : 128)), x1 = w32(b[4] << (column ? 8 : 11));
    std::int64_t x2 = b[6], x3 = b[2], x4 = b[1], x5 = b[7], x6 = b[5], x7 = b[3];
    std::int64_t x8 = w32(W7 * (x4 + x5) + r);
    x4 = w32(x8 + (W1 - W7) * x4) >> s, x5 = w32(x8 - (W1 + W7) * x5) >> s;
    x8 = w32(W3 * (x6 + x7) + r);
    x6 = w32(x8 - (W3 - W5) * x6) >> s, x7 = w32(x8 - (W3 + W5) * x7) >> s;
    x8 = w32(x0 + x1), x0 = w32(x0 - x1);
    x1 = w32(W6 * (x3 + x2) + r);
    x2 = w32(x1 - (W2 + W6) * x2) >> s, x3 = w32(x1 + (W2 - W6) * x3) >> s;
    x1 = w32(x4 + x6), x4 = w32(x4 - x6), x6 = w32(x5 + x7), x5 = w32(x5 - x7);
    x7 = w32(x8 + x3), x8 = w32(x8 - x3), x3 = w32(x0 + x2), x0 = w32(x0 - x2);
    x2 = w32(181 * (x4 + x5) + 128) >> 8, x4 = w32(181 * (x4 - x5) + 128) >> 8;
    const std::int64_t sums[8] = {x7 + x1, x3 + x2, x0 + x4, x8 + x6, x8 - x6, x0 - x4, x3 - x2, x7 - x1};
    for (int k = 0; k < 8; k++) b[k] = w32(sums[k]);
}

// Rows keep the low 16 bits of sum >> 8; columns clip sum >> 14 through the -256..255 table.
Block reference_inverse_dct(Block b) {
    for (int r = 0; r < 8; r++) {
        std::int64_t x[8];
        for (int k = 0; k < 8; k++) x[k] = b[8 * r + k];
        reference_inverse_pass(x, false);
        for (int k = 0; k < 8; k++) b[8 * r + k] = static_cast<std::int16_t>(x[k] >> 8);
    }
    for (int c = 0; c < 8; c++) {
        std::int64_t x[8];
        for (int k = 0; k < 8; k++) x[k] = b[8 * k + c];
        reference_inverse_pass(x, true);
        for (int k = 0; k < 8; k++)
            b[8 * k + c] = static_cast<std::int16_t>(std::clamp<std::int64_t>(x[k] >> 14, -256, 255));
    }
    return b;
}

int reference_quantise(int x, int w, int mquant, bool intra, bool mpeg1) {
    int y = (32 * std::abs(x) + w / 2) / w;
    y = intra ? (y + ((3 * mquant + 2) >> 2)) / (2 * mquant) : y / (2 * mquant);
    y = std::min(y, mpeg1 ? 255 : 2047);
    return x >= 0 ? y : -y;
}

Block reference_dequantise(const Block& src, const Matrix& m, int mquant, int dc_precision, bool intra, bool mpeg1) {
    Block out{};
    int sum = 0;
    for (int i = 0; i < 64; i++) {
        const long long q = src[i], sign = q > 0 ? 1 : q < 0 ? -1 : 0;
        int v = static_cast<int>(intra ? q * m[i] * mquant / 16 : (2 * q + sign) * m[i] * mquant / 32);
        if (mpeg1 && v != 0 && v % 2 == 0) v += v > 0 ? -1 : 1;
        out[i] = static_cast<std::int16_t>(std::clamp(v, -2048, 2047));
        if (intra && i == 0) out[0] = static_cast<std::int16_t>(src[0] << (3 - dc_precision));
        sum += out[i];
    }
    if (!mpeg1 && sum % 2 == 0) out[63] = static_cast<std::int16_t>(out[63] ^ 1);
    return out;
}

// Every kernel level this processor runs (plain, SSE2, AVX2) must give the reference's result, out of place
// and in place. `kernel(level, in, out)` runs one kernel at one level.
template <class Kernel>
void expect_every_level(const Block& src, const Block& expected, Kernel kernel, const char* what) {
    for (int level = 0; level <= static_cast<int>(processor_simd_level()); level++) {
        Block out, in_place = src;
        kernel(static_cast<SimdLevel>(level), src.data(), out.data());
        kernel(static_cast<SimdLevel>(level), in_place.data(), in_place.data());
        ASSERT_TRUE(out == expected && in_place == expected) << what << " from " << src[0] << " level " << level;
    }
}

// Constants, checkerboards and stripes of two extreme values.
std::vector<Block> extreme_blocks(int low, int high) {
    std::vector<Block> blocks(6);
    for (int i = 0; i < 64; i++) {
        const int r = i / 8, c = i % 8;
        const bool on[] = {true, false, (r + c) % 2 == 0, c < 4, r % 2 == 0, (r * 3 + c * 5) % 7 < 3};
        for (int k = 0; k < 6; k++) blocks[k][i] = static_cast<std::int16_t>(on[k] ? high : low);
    }
    return blocks;
}

// Both kernels on the extreme patterns and on random blocks: differences of 8-bit samples for the forward DCT;
// for the inverse, sparse blocks as dequantisation leaves them (the all-zero shortcuts), dense ones, and full
// 16-bit noise whose sums wrap and whose results need the clip.
TEST(Transform, KernelsMatchTheReferencesBitForBit) {
    Kernels kernels;
    init_kernels(kernels);
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> difference(-255, 255), coefficient(-2048, 2047), any(-32768, 32767);
    for (const bool forward : {true, false}) {
        std::vector<Block> blocks = extreme_blocks(forward ? -255 : -2048, forward ? 255 : 2047);
        for (const Block& b : extreme_blocks(-32768, 32767)) blocks.push_back(b);
        for (int n = 0; n < 30000; n++) {
            Block b{};
            const int kind = n % 10, count = forward || kind >= 6 ? 64 : static_cast<int>(rng() % 6);
            for (int k = 0; k < count; k++)
                b[forward || kind >= 6 ? k : rng() % 64] = static_cast<std::int16_t>(
                    forward ? (n % 50 == 0 ? any(rng) : difference(rng))
                            : kind == 9 ? any(rng) : kind < 3 ? coefficient(rng) / 32 : coefficient(rng));
            blocks.push_back(b);
        }
        for (const Block& b : blocks) {
            expect_every_level(b, forward ? reference_forward_dct(b) : reference_inverse_dct(b),
                               [&](SimdLevel level, const std::int16_t* in, std::int16_t* out) {
                                   std::copy_n(in, 64, out);  // the transforms work in place
                                   kernels.simd = level;
                                   (forward ? forward_dct : inverse_dct)(kernels, out);
                               }, forward ? "forward DCT" : "inverse DCT");
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

// The quantiser scales coding uses: the even linear ones and the non-linear table's odd and large values.
const std::vector<int> coded_scales = {1, 3, 5, 7, 72, 80, 88, 96, 104, 112, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22,
                                       24, 26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62, 64};

class Quantisation : public testing::Test {
protected:
    void expect_forward(const Block& src, const Matrix& m, int mquant, int precision) {
        Block intra, non_intra;
        for (int i = 0; i < 64; i++) {
            intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, true, mpeg1));
            non_intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, false, mpeg1));
        }
        // Intra DC: rounded half away from zero by the step 8 >> precision, not clipped.
        const int step = 8 >> precision;
        intra[0] = static_cast<std::int16_t>(src[0] >= 0 ? (src[0] + step / 2) / step : -((-src[0] + step / 2) / step));
        expect_every_level(src, intra, [&](SimdLevel simd, const std::int16_t* in, std::int16_t* out) {
            quantise_intra(simd, mpeg1, in, out, precision, m.data(), mquant);
        }, mpeg1 ? "MPEG-1 intra" : "intra");
        const bool coded = std::any_of(non_intra.begin(), non_intra.end(), [](int v) { return v != 0; });
        expect_every_level(src, non_intra, [&](SimdLevel simd, const std::int16_t* in, std::int16_t* out) {
            EXPECT_EQ(quantise_non_intra(simd, mpeg1, in, out, m.data(), mquant) != 0, coded);
        }, mpeg1 ? "MPEG-1 non-intra" : "non-intra");
    }

    void expect_inverse(const Block& src, const Matrix& m, int mquant, int precision) {
        const Block intra = reference_dequantise(src, m, mquant, precision, true, mpeg1);
        const Block non_intra = reference_dequantise(src, m, mquant, precision, false, mpeg1);
        expect_every_level(src, intra, [&](SimdLevel simd, const std::int16_t* in, std::int16_t* out) {
            dequantise_intra(simd, mpeg1, in, out, precision, m.data(), mquant);
        }, mpeg1 ? "MPEG-1 inverse intra" : "inverse intra");
        expect_every_level(src, non_intra, [&](SimdLevel simd, const std::int16_t* in, std::int16_t* out) {
            dequantise_non_intra(simd, mpeg1, in, out, m.data(), mquant);
        }, mpeg1 ? "MPEG-1 inverse non-intra" : "inverse non-intra");
    }

    // Every value from `first` to `last` in runs of 64 (the last run padded with `last`), with every
    // constant weight and each of the scales.
    void sweep(bool forward, int first, int last, const std::vector<int>& scales) {
        Matrix m;
        for (int w = 1; w <= 255; w++) {
            m.fill(static_cast<std::uint8_t>(w));
            for (int mquant : scales)
                for (int start = first; start <= last && !HasFatalFailure(); start += 64) {
                    Block src;
                    for (int i = 0; i < 64; i++) src[i] = static_cast<std::int16_t>(std::min(start + i, last));
                    if (forward) expect_forward(src, m, mquant, 0);
                    else expect_inverse(src, m, mquant, 0);
                }
        }
    }

    bool mpeg1 = false;
};

// Every transform coefficient of 8-bit differences (+-2040 and beyond) with every weight and coded scale, and
// the whole 16-bit range at the extreme scales: every dividend and divisor the kernels' reciprocal arithmetic
// meets.
TEST_F(Quantisation, ForwardMatchesTheReferenceForEveryCoefficientWeightAndScale) {
    sweep(true, -4096, 4095, coded_scales);
    sweep(true, -32768, 32767, {1, 112});
    mpeg1 = true;
    sweep(true, -32768, 32767, {2});
}

// 128 is the largest scale of the vector kernels; 129 takes the plain path.
TEST_F(Quantisation, InverseMatchesTheReferenceForEveryLevelWeightAndScale) {
    for (const bool standard_is_mpeg1 : {false, true}) {
        mpeg1 = standard_is_mpeg1;
        sweep(false, -32768, 32767, {2, 112, 128, 129});
    }
}

// Random blocks and matrices at every DC precision: mostly sparse, as quantisation leaves them; every fourth
// dense.
TEST_F(Quantisation, RandomBlocksAndMatricesMatchTheReference) {
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> coefficient(-2048, 2047), weight(1, 255);
    for (int trial = 0; trial < 20000 && !HasFatalFailure(); trial++) {
        Block src{};
        const int count = trial % 4 == 0 ? 64 : static_cast<int>(rng() % 8);
        for (int k = 0; k < count; k++)
            src[count == 64 ? k : rng() % 64] =
                static_cast<std::int16_t>(trial % 3 ? coefficient(rng) : coefficient(rng) / 16);
        Matrix m;
        for (auto& w : m) w = static_cast<std::uint8_t>(trial % 5 == 0 ? 16 : weight(rng));
        const int mquant = coded_scales[rng() % coded_scales.size()], precision = static_cast<int>(rng() % 4);
        mpeg1 = trial % 2;
        expect_forward(src, m, mquant, precision);
        expect_inverse(src, m, mquant, precision);
    }
}

// Field DCT unless the correlation r of the two fields' prediction errors is above one half. A 48 x 32 frame
// picture of three by two macroblocks, each with differences of its own, so that one read at the wrong place
// shows. Top fields: +1 in the left half, -1 in the right (s0 = 0, sq0 = 128); the bottom fields agree except
// where the first `flips` values of each half (counted along field rows) are negated.
TEST(DctTypeDecision, FrameDctOnlyWhenTheFieldsCorrelateAboveOneHalf) {
    const int flips[4][2] = {
        {16, 15},  // s1 = -2, s01 = 97 - 31 = 66, r = 66 / sqrt(128 * (128 - 4 / 128)) = 0.516
        {16, 16},  // s1 = 0, s01 = 96 - 32 = 64, r = 64 / 128 = 0.5 exactly, not above
        {0, 0},    // r = 1
        {64, 64}}; // r = -1
    auto difference = [&](int k, int line, int col) {
        if (k == 4) return line % 2 ? -9 : 5;  // flat fields: no variance
        if (k == 5) return 0;                  // no difference at all
        const int sign = col < 8 ? 1 : -1;
        const bool flipped = line % 2 == 1 && line / 2 * 8 + col % 8 < flips[k][col < 8 ? 0 : 1];
        return flipped ? -sign : sign;
    };
    std::vector<std::uint8_t> prediction(48 * 32, 100), current(48 * 32);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 48; x++)
            current[static_cast<std::size_t>(y * 48 + x)] =
                static_cast<std::uint8_t>(100 + difference(y / 16 * 3 + x / 16, y % 16, x % 16));
    EncoderState state;
    state.params.horizontal_size = 48;
    state.params.vertical_size = 32;
    state.geometry = compute_geometry(state.params);
    state.header.picture_structure = PictureStructure::frame;
    state.header.frame_pred_frame_dct = 0;
    state.buffers.macroblock_info.assign(6, MacroblockInfo{});
    for (auto& info : state.buffers.macroblock_info) info.dct_type = 7;
    choose_dct_type(state.geometry, state.header, state.buffers.macroblock_info, prediction.data(), current.data());
    std::vector<int> types;
    for (const auto& info : state.buffers.macroblock_info) types.push_back(info.dct_type);
    EXPECT_EQ(types, (std::vector<int>{0, 1, 0, 1, 1, 1}));
}

}  // namespace
}  // namespace vintrel
