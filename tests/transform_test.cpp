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

class Transform : public testing::Test {
protected:
    void SetUp() override {
        init_kernels(state.kernels);
    }
    EncoderState state;
};

// ---- Forward and inverse DCT ----

// Both kernels at every level this processor runs (plain, SSE2, AVX2) on the extreme patterns and on random
// blocks: differences of 8-bit samples for the forward DCT; for the inverse, sparse blocks as dequantisation
// leaves them (the all-zero shortcuts), dense ones, and full 16-bit noise whose sums wrap and whose results
// need the clip.
TEST_F(Transform, KernelsMatchTheReferencesBitForBit) {
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
        const int top = static_cast<int>(state.kernels.simd);
        for (const Block& b : blocks) {
            const Block expected = forward ? reference_forward_dct(b) : reference_inverse_dct(b);
            for (int level = 0; level <= top; level++) {
                state.kernels.simd = static_cast<SimdLevel>(level);
                Block result = b;
                (forward ? forward_dct : inverse_dct)(state.kernels, result.data());
                ASSERT_EQ(result, expected) << (forward ? "forward" : "inverse") << " level " << level;
                for (std::int16_t v : result) ASSERT_TRUE(forward || (v >= -256 && v <= 255)) << v;
            }
        }
        state.kernels.simd = static_cast<SimdLevel>(top);
    }
}

// ---- Frame or field DCT ----

class DctTypeDecision : public Transform {
protected:
    void SetUp() override {
        Transform::SetUp();
        // A 48 x 32 frame picture: three by two macroblocks, luminance 100.
        state.params.horizontal_size = 48;
        state.params.vertical_size = 32;
        state.params.progressive_sequence = 1;
        state.geometry = compute_geometry(state.params);
        state.header.picture_structure = PictureStructure::frame;
        state.header.frame_pred_frame_dct = 0;
        state.buffers.macroblock_info.assign(6, MacroblockInfo{});
        prediction = current = std::vector<std::uint8_t>(48 * 32, 100);
    }
    // Macroblock k's differences: top(row, col) on its top-field lines, bottom(row, col) on its
    // bottom-field lines, row counting field lines 0..7.
    template <typename Top, typename Bottom>
    void set_differences(int k, Top top, Bottom bottom) {
        for (int row = 0; row < 8; row++)
            for (int col = 0; col < 16; col++) {
                const int at = (16 * (k / 3) + 2 * row) * 48 + 16 * (k % 3) + col;
                current[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(100 + top(row, col));
                current[static_cast<std::size_t>(at + 48)] = static_cast<std::uint8_t>(100 + bottom(row, col));
            }
    }
    std::vector<int> decide() {
        choose_dct_type(state, prediction.data(), current.data());
        std::vector<int> types;
        for (const auto& info : state.buffers.macroblock_info) types.push_back(info.dct_type);
        return types;
    }
    std::vector<std::uint8_t> prediction, current;
};

// +1 in the left half, -1 in the right half of a field.
int sign_pattern(int, int col) { return col < 8 ? 1 : -1; }
int opposite_pattern(int row, int col) { return -sign_pattern(row, col); }

// The sign pattern with the first `left` positions of the left half and the first `right` of the
// right half (counted along field rows) negated.
auto flipped_pattern(int left, int right) {
    return [left, right](int row, int col) {
        const int index = row * 8 + col % 8;
        return (index < (col < 8 ? left : right) ? -1 : 1) * sign_pattern(row, col);
    };
}

TEST_F(DctTypeDecision, FrameDctOnlyWhenTheFieldsCorrelateAboveOneHalf) {
    // Top field: 64 values +1, 64 values -1 (s0 = 0, sq0 = 128); the bottom one agrees except in
    // the flipped places.
    // 16 + 15 flips: s1 = -2, s01 = 97 - 31 = 66, r = 66 / sqrt(128 * (128 - 4 / 128)) = 0.516.
    set_differences(0, sign_pattern, flipped_pattern(16, 15));
    // 16 + 16 flips: s1 = 0, s01 = 96 - 32 = 64, r = 64 / 128 = 0.5 exactly, not above.
    set_differences(1, sign_pattern, flipped_pattern(16, 16));
    set_differences(2, sign_pattern, sign_pattern);      // r = 1
    set_differences(3, sign_pattern, opposite_pattern);  // r = -1
    set_differences(
        4, [](int, int) { return 5; }, [](int, int) { return -9; });  // flat fields: dd = 0
    // Macroblock 5 keeps current == prediction: dd = 0 as well.
    for (auto& info : state.buffers.macroblock_info) info.dct_type = 7;
    EXPECT_EQ(decide(), (std::vector<int>{0, 1, 0, 1, 1, 1}));
}

}  // namespace
}  // namespace vintrel
