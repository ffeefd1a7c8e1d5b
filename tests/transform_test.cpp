// Forward and inverse DCT, the picture-wide transform passes and the frame/field DCT decision.
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

Block dc_block(int dc) {
    Block b{};
    b[0] = static_cast<std::int16_t>(dc);
    return b;
}

class Transform : public testing::Test {
protected:
    void SetUp() override {
        init_forward_dct(state);
        init_inverse_dct(state);
    }
    // Every kernel level this processor runs: plain, SSE2, AVX2.
    std::vector<int> levels() const {
        std::vector<int> all;
        for (int level = 0; level <= state.transform.simd_level; level++) all.push_back(level);
        return all;
    }
    Block forward(Block b, int level) {
        state.transform.simd_level = level;
        forward_dct(state.transform, b.data());
        return b;
    }
    Block inverse(Block b, int level) {
        state.transform.simd_level = level;
        inverse_dct(state.transform, b.data());
        return b;
    }
    EncoderState state;
};

// ---- Forward and inverse DCT ----

TEST_F(Transform, ForwardWorkedBlocks) {
    // Left half 10, right half -10: only odd horizontal frequencies of row 0 survive,
    // 8 sqrt(1/8) * 10 * sum over x < 4 of cos(u (2x + 1) pi / 16), then floor(+ 0.499999).
    Block step;
    for (int i = 0; i < 64; i++) step[i] = static_cast<std::int16_t>(i % 8 < 4 ? 10 : -10);
    for (int level : levels()) {
        for (const auto& [v, dc] : {std::pair{1, 8}, {-1, -8}, {255, 2040}, {-255, -2040}}) {
            Block flat;
            flat.fill(static_cast<std::int16_t>(v));
            EXPECT_EQ(forward(flat, level), dc_block(dc)) << "value " << v << " level " << level;
        }
        EXPECT_EQ(forward(step, level), (Block{0, 72, 0, -25, 0, 17, 0, -14})) << "level " << level;
    }
}

TEST_F(Transform, ForwardKernelsMatchTheReferenceBitForBit) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> difference(-255, 255), any(-32768, 32767);
    std::vector<Block> blocks = extreme_blocks(-255, 255);
    for (const Block& b : extreme_blocks(-32768, 32767)) blocks.push_back(b);
    for (int n = 0; n < 100000; n++) {
        Block b;
        for (auto& v : b) v = static_cast<std::int16_t>(n % 50 == 0 ? any(rng) : difference(rng));
        blocks.push_back(b);
    }
    for (const Block& b : blocks) {
        const Block expected = reference_forward_dct(b);
        for (int level : levels()) ASSERT_EQ(forward(b, level), expected) << "level " << level;
    }
}

TEST_F(Transform, FlatBlocksOfEverySixteenBitValueKeepTheirDcAlone) {
    for (int v = -32768; v <= 32767; v++) {
        Block flat;
        flat.fill(static_cast<std::int16_t>(v));
        ASSERT_EQ(forward(flat, 0), reference_forward_dct(flat)) << "value " << v;
    }
}

TEST_F(Transform, InverseWorkedBlocks) {
    // DC only: rows give 8 dc, columns (8 dc + 32) >> 6, clipped to -256..255.
    for (const auto& [dc, value] : {std::pair{8, 1}, {-8, -1}, {100, 13}, {2047, 255}, {-2048, -256}}) {
        Block flat;
        flat.fill(static_cast<std::int16_t>(value));
        for (int level : levels()) EXPECT_EQ(inverse(dc_block(dc), level), flat) << "dc " << dc << " level " << level;
    }
    // Worked through the integer steps: coefficient (0, 1) takes the full row path, (1, 0) the
    // full column path, and a mixed block both.
    const int ramp[8] = {17, 15, 10, 3, -3, -10, -15, -17};
    Block mixed{};
    mixed[0] = -40, mixed[1] = 25, mixed[8] = -13, mixed[9] = 7, mixed[18] = -5, mixed[63] = 3;
    const Block mixed_result = {-2, -3, -3, -5, -7, -10, -13, -14, -2, -2, -4, -5, -8, -10, -12, -13,
                                0,  -2, -3, -6, -7, -10, -10, -11, 0,  -1, -4, -5, -8, -8,  -9,  -9,
                                1,  -1, -2, -6, -6, -8,  -7,  -8,  0,  0,  -3, -3, -5, -5,  -7,  -7,
                                -1, -1, -1, -2, -3, -5,  -6,  -7,  -1, -1, -1, -1, -2, -4,  -6,  -6};
    for (int level : levels()) {
        const Block horizontal = inverse(Block{0, 100}, level),
                    vertical = inverse(Block{0, 0, 0, 0, 0, 0, 0, 0, 100}, level);
        for (int i = 0; i < 64; i++) {
            EXPECT_EQ(horizontal[i], ramp[i % 8]) << i << " level " << level;
            EXPECT_EQ(vertical[i], ramp[i / 8]) << i << " level " << level;
        }
        EXPECT_EQ(inverse(mixed, level), mixed_result) << "level " << level;
    }
}

TEST_F(Transform, InverseKernelsMatchTheReferenceAndStayInRange) {
    std::mt19937 rng(777);
    std::uniform_int_distribution<int> coefficient(-2048, 2047), any(-32768, 32767);
    std::vector<Block> blocks = extreme_blocks(-2048, 2047);
    for (const Block& b : extreme_blocks(-32768, 32767)) blocks.push_back(b);
    for (int n = 0; n < 100000; n++) {
        // Sparse blocks as dequantisation leaves them (the all-zero shortcuts), dense ones, and
        // full 16-bit noise whose sums wrap and whose results need the clip.
        Block b{};
        const int kind = n % 10, count = kind < 6 ? static_cast<int>(rng() % 6) : 64;
        for (int k = 0; k < count; k++)
            b[kind < 6 ? rng() % 64 : k] = static_cast<std::int16_t>(kind == 9  ? any(rng)
                                                                     : kind < 3 ? coefficient(rng) / 32
                                                                                : coefficient(rng));
        blocks.push_back(b);
    }
    for (const Block& b : blocks) {
        const Block expected = reference_inverse_dct(b);
        for (int level : levels()) {
            const Block result = inverse(b, level);
            ASSERT_EQ(result, expected) << "level " << level;
            for (std::int16_t v : result) ASSERT_TRUE(v >= -256 && v <= 255) << v;
        }
    }
}

// ---- Picture passes ----

// The sizes, buffers and clip table the encoder derives for a width x height picture; field
// pictures start as the top field.
void set_picture(EncoderState& s, int width, int height, int chroma_format, bool field_pictures) {
    s.chroma_format = chroma_format;
    s.coded_width = width;
    s.coded_height = height;
    s.chroma_width = chroma_format == 3 ? width : width / 2;
    s.chroma_height = chroma_format == 1 ? height / 2 : height;
    s.picture_height = field_pictures ? height / 2 : height;
    s.line_stride = field_pictures ? 2 * width : width;
    s.chroma_line_stride = field_pictures ? 2 * s.chroma_width : s.chroma_width;
    s.blocks_per_macroblock = chroma_format == 1 ? 6 : chroma_format == 2 ? 8 : 12;
    s.picture_structure = field_pictures ? 1 : 3;
    const int macroblocks = width / 16 * (s.picture_height / 16);
    s.macroblock_info.assign(static_cast<std::size_t>(macroblocks), MacroblockInfo{});
    s.blocks.assign(static_cast<std::size_t>(macroblocks * s.blocks_per_macroblock), Block{});
    for (int i = -384; i < 640; i++)
        s.clip_table[static_cast<std::size_t>(i + 384)] = static_cast<std::uint8_t>(std::clamp(i, 0, 255));
}

// A picture whose sample at column x, line y of plane c is value(c, x, y).
template <typename Value>
Picture make_picture(const EncoderState& s, Value value) {
    Picture p;
    for (int c = 0; c < 3; c++) {
        const int width = c ? s.chroma_width : s.coded_width, height = c ? s.chroma_height : s.coded_height;
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) p.plane[c].push_back(static_cast<std::uint8_t>(value(c, x, y)));
    }
    return p;
}

Picture flat_picture(const EncoderState& s, int value) {
    return make_picture(s, [value](int, int, int) { return value; });
}

using TransformPicture = Transform;

TEST_F(TransformPicture, ConstantIntraMacroblocksGiveZeroBlocksAndComeBackUnchanged) {
    set_picture(state, 32, 32, 1, false);
    const Picture mid_grey = flat_picture(state, 128);
    transform_picture(state, mid_grey, mid_grey);
    for (const Block& b : state.blocks) EXPECT_EQ(b, Block{});
    Picture reconstruction = flat_picture(state, 0);
    inverse_transform_picture(state, mid_grey, reconstruction);
    EXPECT_EQ(reconstruction.plane, mid_grey.plane);
}

// Each 8x8 area of each plane holds its own constant, so a block's DC names its area. The order
// lists, per block, the component and the area's row and column within the macroblock.
struct Area {
    int component, row, column;
};

int area_value(int component, int row, int column) { return 40 * component + 4 * row + column + 1; }

void expect_block_order(EncoderState& state, int chroma_format, const std::vector<Area>& order) {
    set_picture(state, 32, 32, chroma_format, false);
    const Picture current = make_picture(state, [](int c, int x, int y) { return area_value(c, y / 8, x / 8); });
    transform_picture(state, flat_picture(state, 0), current);
    const int chroma_columns = chroma_format == 3 ? 2 : 1, chroma_rows = chroma_format == 1 ? 1 : 2;
    ASSERT_EQ(static_cast<int>(order.size()), state.blocks_per_macroblock);
    for (int k = 0; k < 4; k++) {
        for (int n = 0; n < state.blocks_per_macroblock; n++) {
            const Area& a = order[static_cast<std::size_t>(n)];
            const int row = a.row + k / 2 * (a.component ? chroma_rows : 2);
            const int column = a.column + k % 2 * (a.component ? chroma_columns : 2);
            EXPECT_EQ(state.blocks[static_cast<std::size_t>(k * state.blocks_per_macroblock + n)],
                      dc_block(8 * area_value(a.component, row, column)))
                << "format " << chroma_format << " macroblock " << k << " block " << n;
        }
    }
}

TEST_F(TransformPicture, BlockOrderOfEachChromaFormat) {
    const std::vector<Area> luma = {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {0, 1, 1}};
    auto with = [&](std::vector<Area> chroma) {
        chroma.insert(chroma.begin(), luma.begin(), luma.end());
        return chroma;
    };
    expect_block_order(state, 1, with({{1, 0, 0}, {2, 0, 0}}));
    expect_block_order(state, 2, with({{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 1, 0}}));
    expect_block_order(state, 3,
                       with({{1, 0, 0}, {2, 0, 0}, {1, 1, 0}, {2, 1, 0}, {1, 0, 1}, {2, 0, 1}, {1, 1, 1}, {2, 1, 1}}));
}

TEST_F(TransformPicture, FieldDctTakesEachFieldsLines) {
    for (int chroma_format : {1, 2}) {
        set_picture(state, 16, 16, chroma_format, false);
        // Luminance 10 on top-field lines, 30 on bottom-field lines, 100 more in the right half;
        // Cb 50 and 70, Cr 60 and 90.
        const Picture current = make_picture(state, [](int c, int x, int y) {
            const int top[] = {10, 50, 60}, bottom[] = {30, 70, 90};
            return (y % 2 ? bottom[c] : top[c]) + (c == 0 && x >= 8 ? 100 : 0);
        });
        const Picture zero = flat_picture(state, 0);
        state.macroblock_info[0].dct_type = 1;
        transform_picture(state, zero, current);
        const std::vector<int> field_dc = chroma_format == 2 ? std::vector<int>{80, 880, 240, 1040, 400, 480, 560, 720}
                                                             : std::vector<int>{80, 880, 240, 1040};
        for (std::size_t n = 0; n < field_dc.size(); n++) EXPECT_EQ(state.blocks[n], dc_block(field_dc[n])) << n;
        if (chroma_format == 1) {  // 4:2:0 chroma stays in frame lines: means 60 and 75, alternating rows
            EXPECT_EQ(state.blocks[4][0], 480);
            EXPECT_EQ(state.blocks[5][0], 600);
            EXPECT_NE(state.blocks[4][56], 0);
        }
        state.macroblock_info[0].dct_type = 0;  // frame DCT mixes the fields
        transform_picture(state, zero, current);
        EXPECT_EQ(state.blocks[0][0], 160);
        EXPECT_NE(state.blocks[0][56], 0);
    }
}

TEST_F(TransformPicture, FieldPicturesTakeAndRebuildOnlyTheirOwnLines) {
    set_picture(state, 16, 32, 1, true);
    const Picture current = make_picture(state, [](int c, int x, int y) {
        if (c) return (y % 2 ? 70 : 40) + 5 * (c - 1);
        return (y % 2 ? 60 : 20) + (y < 16 ? 0 : 5) + (x < 8 ? 0 : 100);
    });
    const Picture zero = flat_picture(state, 0);
    const struct {
        int structure, dc[6];
    } fields[] = {{1, {160, 960, 200, 1000, 320, 360}}, {2, {480, 1280, 520, 1320, 560, 600}}};
    for (const auto& field : fields) {
        state.picture_structure = field.structure;
        state.macroblock_info[0].dct_type = 1;  // a field picture has no field DCT
        transform_picture(state, zero, current);
        for (std::size_t n = 0; n < 6; n++)
            EXPECT_EQ(state.blocks[n], dc_block(field.dc[n])) << "structure " << field.structure << " block " << n;
        Picture reconstruction = flat_picture(state, 0);
        inverse_transform_picture(state, zero, reconstruction);
        for (std::size_t at = 0; at < 16 * 32; at++)
            EXPECT_EQ(reconstruction.plane[0][at],
                      at / 16 % 2 == std::size_t(field.structure - 1) ? current.plane[0][at] : 0)
                << at;
    }
}

TEST_F(TransformPicture, RoundTripRebuildsEveryPlaneWithinOne) {
    std::mt19937 rng(2718);
    const struct { int chroma_format, structure; } layouts[] = {{1, 3}, {2, 3}, {3, 3}, {2, 1}, {3, 2}};
    for (const auto& layout : layouts) {
        set_picture(state, 48, 64, layout.chroma_format, layout.structure != 3);
        state.picture_structure = layout.structure;
        for (auto& info : state.macroblock_info) info.dct_type = static_cast<int>(rng() % 2);
        // Smooth content with noise, against an unrelated prediction.
        const Picture current = make_picture(
            state, [&](int, int x, int y) { return std::min(3 * x + 2 * y + static_cast<int>(rng() % 9), 255); });
        const Picture prediction = make_picture(state, [&](int, int, int) { return static_cast<int>(rng() % 256); });
        Picture reconstruction = flat_picture(state, 0);
        transform_picture(state, prediction, current);
        inverse_transform_picture(state, prediction, reconstruction);
        for (int c = 0; c < 3; c++) {
            const int width = c ? state.chroma_width : state.coded_width,
                      height = c ? state.chroma_height : state.coded_height;
            for (int y = layout.structure == 2 ? 1 : 0; y < height; y += layout.structure == 3 ? 1 : 2)
                for (int x = 0; x < width; x++) {
                    const std::size_t at = static_cast<std::size_t>(y * width + x);
                    ASSERT_LE(std::abs(reconstruction.plane[c][at] - current.plane[c][at]), 1)
                        << "format " << layout.chroma_format << " structure " << layout.structure << " plane " << c
                        << " at " << x << "," << y;
                }
        }
    }
}

TEST_F(TransformPicture, ReconstructionIsClippedToEightBits) {
    set_picture(state, 16, 16, 1, false);
    for (const auto& [dc, prediction, sample] :
         {std::array{2047, 200, 255}, {-2048, 100, 0}, {80, 100, 110}, {-80, 5, 0}}) {
        std::fill(state.blocks.begin(), state.blocks.end(), dc_block(dc));
        Picture reconstruction = flat_picture(state, 77);
        inverse_transform_picture(state, flat_picture(state, prediction), reconstruction);
        EXPECT_EQ(reconstruction.plane, flat_picture(state, sample).plane) << "dc " << dc;
    }
}

// ---- Frame or field DCT ----

class DctTypeDecision : public Transform {
protected:
    void SetUp() override {
        Transform::SetUp();
        set_picture(state, 48, 32, 1, false);
        state.frame_pred_frame_dct = 0;
        prediction = flat_picture(state, 100);
        current = flat_picture(state, 100);
    }
    // Macroblock k's differences: top(row, col) on its top-field lines, bottom(row, col) on its
    // bottom-field lines, row counting field lines 0..7.
    template <typename Top, typename Bottom>
    void set_differences(int k, Top top, Bottom bottom) {
        for (int row = 0; row < 8; row++)
            for (int col = 0; col < 16; col++) {
                const int at = (16 * (k / 3) + 2 * row) * 48 + 16 * (k % 3) + col;
                current.plane[0][static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(100 + top(row, col));
                current.plane[0][static_cast<std::size_t>(at + 48)] = static_cast<std::uint8_t>(100 + bottom(row, col));
            }
    }
    std::vector<int> decide() {
        choose_dct_type(state, prediction[0], current[0]);
        std::vector<int> types;
        for (const auto& info : state.macroblock_info) types.push_back(info.dct_type);
        return types;
    }
    Picture prediction, current;
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
    for (auto& info : state.macroblock_info) info.dct_type = 7;
    EXPECT_EQ(decide(), (std::vector<int>{0, 1, 0, 1, 1, 1}));
}

TEST_F(DctTypeDecision, FramePredictionAndFieldPicturesKeepFrameDct) {
    set_differences(3, sign_pattern, opposite_pattern);
    state.frame_pred_frame_dct = 1;
    for (auto& info : state.macroblock_info) info.dct_type = 1;
    EXPECT_EQ(decide(), std::vector<int>(6, 0));
    for (int structure : {1, 2}) {
        state.frame_pred_frame_dct = 0;
        state.picture_structure = structure;
        for (auto& info : state.macroblock_info) info.dct_type = 1;
        EXPECT_EQ(decide(), std::vector<int>(6, 0)) << "structure " << structure;
    }
}

}  // namespace
}  // namespace vintrel
