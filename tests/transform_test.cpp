// Forward and inverse DCT kernels of every SIMD level against plain references, and the frame/field DCT
// decision. The picture passes are checked end to end by the decoder tests.
#include "encoder/coding/transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace vintrel {
namespace {

using Block = std::array<std::int16_t, 64>;

// ---- References ----

// The forward DCT as the formula reads: rows then columns, each sum from zero in index order.
Block reference_forward_dct(const Block& in) {
    double basis[8][8], tmp[8][8];
    for (int u = 0; u < 8; u++)
        for (int x = 0; x < 8; x++)
            basis[u][x] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos(std::numbers::pi / 8.0 * u * (x + 0.5));
    for (int r = 0; r < 8; r++)
        for (int u = 0; u < 8; u++) {
            tmp[r][u] = 0.0;
            for (int x = 0; x < 8; x++) tmp[r][u] += in[8 * r + x] * basis[u][x];
        }
    Block out{};
    for (int u = 0; u < 8; u++)
        for (int v = 0; v < 8; v++) {
            double sum = 0.0;
            for (int r = 0; r < 8; r++) sum += basis[v][r] * tmp[r][u];
            out[8 * v + u] = static_cast<std::int16_t>(static_cast<int>(std::floor(sum + 0.499999)));
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

// Constants, checkerboards and stripes of two extreme values.
std::vector<Block> extreme_blocks(int low, int high) {
    std::vector<Block> blocks;
    for (int pattern = 0; pattern < 6; pattern++) {
        Block b;
        for (int i = 0; i < 64; i++) {
            const int r = i / 8, c = i % 8;
            const bool on[] = {true, false, (r + c) % 2 == 0, c < 4, r % 2 == 0, (r * 3 + c * 5) % 7 < 3};
            b[i] = static_cast<std::int16_t>(on[pattern] ? high : low);
        }
        blocks.push_back(b);
    }
    return blocks;
}

// ---- Forward and inverse DCT ----

// Both kernels at every level this processor runs (plain, SSE2, AVX2) on the extreme patterns and on random
// blocks: differences of 8-bit samples for the forward DCT; for the inverse, sparse blocks as dequantisation
// leaves them (the all-zero shortcuts), dense ones, and full 16-bit noise whose sums wrap and whose results
// need the clip.
TEST(Transform, KernelsMatchTheReferencesBitForBit) {
    Kernels kernels;
    init_kernels(kernels);
    const int top = static_cast<int>(kernels.simd);
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
            const Block expected = forward ? reference_forward_dct(b) : reference_inverse_dct(b);
            for (int level = 0; level <= top; level++) {
                kernels.simd = static_cast<SimdLevel>(level);
                Block result = b;
                (forward ? forward_dct : inverse_dct)(kernels, result.data());
                ASSERT_EQ(result, expected) << (forward ? "forward" : "inverse") << " level " << level;
            }
        }
    }
}

// ---- Frame or field DCT ----

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
    state.params.progressive_sequence = 1;
    state.geometry = compute_geometry(state.params);
    state.header.picture_structure = PictureStructure::frame;
    state.header.frame_pred_frame_dct = 0;
    state.buffers.macroblock_info.assign(6, MacroblockInfo{});
    for (auto& info : state.buffers.macroblock_info) info.dct_type = 7;
    choose_dct_type(state, prediction.data(), current.data());
    std::vector<int> types;
    for (const auto& info : state.buffers.macroblock_info) types.push_back(info.dct_type);
    EXPECT_EQ(types, (std::vector<int>{0, 1, 0, 1, 1, 1}));
}

}  // namespace
}  // namespace vintrel
