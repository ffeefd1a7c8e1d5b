// Block distances, the full-pel/half-pel search, dual-prime vectors and the motion-compensated
// prediction of single macroblocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "encoder/coding/dual_prime.h"
#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"
#include "encoder/coding/prediction.h"
#include "tests/recording_reporter_for_test.h"

namespace vintrel {
namespace {

std::vector<std::uint8_t> random_plane(std::size_t size, unsigned seed, int low = 0, int high = 255) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(low, high);
    std::vector<std::uint8_t> plane(size);
    for (auto& v : plane) v = static_cast<std::uint8_t>(sample(random));
    return plane;
}

// ---- Distances ----

TEST(MotionDistances, VectorKernelsAgreeWithThePlainOnesInEveryHalfPelCase) {
    const int lx = 48;
    for (unsigned seed = 1; seed <= 20; seed++) {
        // Near-equal planes give small distances, far ones large: both ends of the sums.
        const int spread = seed % 2 ? 255 : 6;
        const auto reference = random_plane(static_cast<std::size_t>(lx) * 20, seed, 0, spread);
        const auto current = random_plane(static_cast<std::size_t>(lx) * 20, seed + 100, 0, spread);
        const std::uint8_t* blk = current.data() + 5;
        for (int h = 1; h <= 16; h++)
            for (int hy = 0; hy < 2; hy++)
                for (int hx = 0; hx < 2; hx++) {
                    const std::uint8_t* p = reference.data() + lx + 3;
                    SCOPED_TRACE(testing::Message() << "seed " << seed << " h " << h << " hx " << hx << " hy " << hy);
                    for (int limit : {0, 1, 500, 2000, 65536})
                        EXPECT_EQ(sad_distance(p, blk, lx, hx, hy, h, limit),
                                  plain::sad_distance(p, blk, lx, hx, hy, h, limit));
                    EXPECT_EQ(sse_distance(p, blk, lx, hx, hy, h), plain::sse_distance(p, blk, lx, hx, hy, h));
                    for (int bhy = 0; bhy < 2; bhy++)
                        for (int bhx = 0; bhx < 2; bhx++) {
                            const HalfPel f{p, hx, hy}, b{reference.data() + 2 * lx + 17, bhx, bhy};
                            EXPECT_EQ(bidir_sad_distance(f, b, blk, lx, h), plain::bidir_sad_distance(f, b, blk, lx, h));
                            EXPECT_EQ(bidir_sse_distance(f, b, blk, lx, h), plain::bidir_sse_distance(f, b, blk, lx, h));
                        }
                }
    }
}

TEST(MotionDistances, FourSampleAverageRoundsOnceAndOnlyFullPelDistancesStopEarly) {
    const int lx = 32;
    std::vector<std::uint8_t> p(static_cast<std::size_t>(lx) * 18, 0), blk(static_cast<std::size_t>(lx) * 16, 0);
    // Row 1 alternates 0, 1: at (1, 1) each sample is (0 + 0 + 0 + 1 + 2) >> 2 = 0 (two
    // rounded averages in a row would give 1).
    for (int c = 0; c < 17; c++) p[static_cast<std::size_t>(lx + c)] = static_cast<std::uint8_t>(c & 1);
    EXPECT_EQ(sad_distance(p.data(), blk.data(), lx, 1, 1, 1, 65536), 0);
    // At (1, 0) the same row gives (0 + 1 + 1) >> 1 = 1 in all 16 columns.
    EXPECT_EQ(sad_distance(p.data() + lx, blk.data(), lx, 1, 0, 1, 65536), 16);

    // Every sample 10 against 0: each row adds 160. Limit 300 stops after the second row.
    std::vector<std::uint8_t> tens(static_cast<std::size_t>(lx) * 17, 10);
    EXPECT_EQ(sad_distance(tens.data(), blk.data(), lx, 0, 0, 16, 300), 320);
    EXPECT_EQ(sad_distance(tens.data(), blk.data(), lx, 0, 0, 16, 320), 320);
    EXPECT_EQ(sad_distance(tens.data(), blk.data(), lx, 1, 0, 16, 300), 2560);  // half-pel: no early stop
    EXPECT_EQ(sse_distance(tens.data(), blk.data(), lx, 0, 1, 3), 3 * 16 * 100);
    // (10 + 0 + 1) >> 1 = 5 per sample.
    EXPECT_EQ(bidir_sad_distance({tens.data(), 0, 0}, {blk.data(), 1, 1}, blk.data(), lx, 2), 2 * 16 * 5);
}

// ---- Full search ----

// A picture whose rows are random but repeat every 4 columns.
std::vector<std::uint8_t> periodic_rows(int width, int height, unsigned seed) {
    const auto row_values = random_plane(static_cast<std::size_t>(height) * 4, seed);
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            plane[static_cast<std::size_t>(y * width + x)] = row_values[static_cast<std::size_t>(y * 4 + x % 4)];
    return plane;
}

TEST(FullSearch, EqualDistancesKeepThePositionVisitedFirst) {
    const int w = 96, h = 64;
    const auto plane = periodic_rows(w, h, 7);
    // The block taken at (40, 24) matches at (40 +- 4k, 24): the start position wins.
    SearchResult r = full_search(plane.data(), plane.data(), plane.data() + 24 * w + 40, w, 40, 24, 8, 8, 16, w, h);
    EXPECT_EQ(r.x, 80);
    EXPECT_EQ(r.y, 48);
    EXPECT_EQ(r.distance, 0);
    // Taken at (42, 24) but searched from (40, 24): (42, 24) and (38, 24) match exactly. The ring
    // of radius 2 reaches its right side (going down) before its left side (going up).
    r = full_search(plane.data(), plane.data(), plane.data() + 24 * w + 42, w, 40, 24, 8, 8, 16, w, h);
    EXPECT_EQ(r.x, 84);
    EXPECT_EQ(r.y, 48);
    EXPECT_EQ(r.distance, 0);
}

TEST(FullSearch, FindsAShiftedBlockToTheHalfSampleAndStaysInsideThePicture) {
    const int w = 64, h = 48;
    const auto reference = random_plane(static_cast<std::size_t>(w) * h, 3);
    // The current block is the reference half a sample right and one and a half samples down
    // of (21, 14): the (1, 1) interpolation of the samples at (21, 15).
    std::vector<std::uint8_t> block(static_cast<std::size_t>(w) * 16);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            const std::uint8_t* p = reference.data() + (15 + y) * w + 21 + x;
            block[static_cast<std::size_t>(y * w + x)] = static_cast<std::uint8_t>((p[0] + p[1] + p[w] + p[w + 1] + 2) >> 2);
        }
    const SearchResult r = full_search(reference.data(), reference.data(), block.data(), w, 20, 16, 4, 4, 16, w, h);
    EXPECT_EQ(r.x, 43);
    EXPECT_EQ(r.y, 31);
    EXPECT_EQ(r.distance, 0);

    // From every corner with a range wider than the picture the result stays in it; the plane is
    // exactly the picture's size, so the sanitizer build catches any read beyond it.
    const auto current = random_plane(static_cast<std::size_t>(w) * h, 4);
    for (int height : {16, 8})
        for (int j0 : {0, h - height})
            for (int i0 : {0, w - 16}) {
                const std::uint8_t* blk = current.data() + j0 * w + i0;
                const SearchResult c = full_search(reference.data(), reference.data(), blk, w, i0, j0, 40, 40, height, w, h);
                EXPECT_GE(c.x, 0);
                EXPECT_GE(c.y, 0);
                EXPECT_LE(c.x, 2 * (w - 16));
                EXPECT_LE(c.y, 2 * (h - height));
            }
}

// ---- Dual prime ----

TEST(DualPrime, DerivedVectorsScaleTheFieldVectorAndAddTheDifferential) {
    EncoderState s;
    const int dmv[2] = {1, 0};
    auto derived = [&s, &dmv](int structure, int top_field_first) {
        s.picture_structure = structure;
        s.top_field_first = top_field_first;
        int first[2], second[2];
        dual_prime_vectors(s, first, second, dmv, 5, -3);
        return std::vector<int>{first[0], first[1], second[0], second[1]};
    };
    // (5, -3): halves 3 and -2 (rounded away from zero), three halves 8 and -5.
    EXPECT_EQ(derived(3, 1), (std::vector<int>{4, -3, 9, -4}));
    EXPECT_EQ(derived(3, 0), (std::vector<int>{9, -6, 4, -1}));
    // Field pictures: one vector, shifted half a field line towards the other field.
    EXPECT_EQ(derived(1, 0)[0], 4);
    EXPECT_EQ(derived(1, 0)[1], -3);
    EXPECT_EQ(derived(2, 0)[1], -1);
}

// ---- Prediction ----

// A 32 x 32 4:2:0 frame picture with two macroblocks per row; planes hold x + 4y + 7c (mod 256)
// in the references so every sample is distinct and easy to compute.
class MacroblockPrediction : public testing::Test {
protected:
    void SetUp() override {
        s.coded_width = 32;
        s.coded_height = s.picture_height = 32;
        s.chroma_width = 16;
        s.chroma_height = 16;
        s.line_stride = 32;
        s.chroma_line_stride = 16;
        s.chroma_format = 1;
        s.picture_structure = 3;
        s.picture_type = 2;
        s.macroblock_info.assign(4, MacroblockInfo{});
        for (Picture* p : {&old_reference, &new_reference, &destination})
            for (int c = 0; c < 3; c++) p->plane[static_cast<std::size_t>(c)].assign(c ? 256 : 1024, 0);
        for (int c = 0; c < 3; c++) {
            const int w = c ? 16 : 32;
            for (int i = 0; i < w * w; i++) {
                old_reference[c][i] = static_cast<std::uint8_t>(i % w + 4 * (i / w) + 7 * c);
                new_reference[c][i] = static_cast<std::uint8_t>(255 - old_reference[c][i]);
            }
        }
        for (auto& mb : s.macroblock_info) mb.macroblock_type = intra_flag;
    }

    MacroblockInfo& second_macroblock() { return s.macroblock_info[1]; }
    int old_sample(int c, int x, int y) const { return old_reference[c][y * (c ? 16 : 32) + x]; }
    int new_sample(int c, int x, int y) const { return new_reference[c][y * (c ? 16 : 32) + x]; }
    int predicted(int c, int x, int y) { return destination[c][y * (c ? 16 : 32) + x]; }

    EncoderState s;
    Picture old_reference, new_reference, destination;
};

TEST_F(MacroblockPrediction, NegativeOddVectorsInterpolateTowardsTheLeftAndChromaTruncates) {
    MacroblockInfo& mb = second_macroblock();  // at (16, 0)
    mb.macroblock_type = forward_flag;
    mb.motion_type = 2;
    mb.motion_vectors[0][0][0] = -3;  // luminance: sample -2 with the half step, average of -2 and -1
    mb.motion_vectors[0][0][1] = 0;
    predict_picture(s, old_reference, new_reference, destination, 0);
    for (int y = 0; y < 16; y++)
        for (int x = 16; x < 32; x++)
            ASSERT_EQ(predicted(0, x, y), (old_sample(0, x - 2, y) + old_sample(0, x - 1, y) + 1) >> 1) << x << "," << y;
    // Chroma vector -3 / 2 = -1 (toward zero): average of columns x - 1 and x.
    for (int c = 1; c < 3; c++)
        for (int y = 0; y < 8; y++)
            for (int x = 8; x < 16; x++)
                ASSERT_EQ(predicted(c, x, y), (old_sample(c, x - 1, y) + old_sample(c, x, y) + 1) >> 1);
    // The intra macroblock beside it is mid-grey in all three components.
    EXPECT_EQ(predicted(0, 0, 0), 128);
    EXPECT_EQ(predicted(0, 15, 15), 128);
    EXPECT_EQ(predicted(1, 7, 7), 128);
    EXPECT_EQ(predicted(2, 0, 7), 128);
}

TEST_F(MacroblockPrediction, InterpolatedMacroblocksAverageTheTwoHalfPelPredictions) {
    s.picture_type = 3;
    MacroblockInfo& mb = s.macroblock_info[2];  // at (0, 16)
    mb.macroblock_type = forward_flag | backward_flag;
    mb.motion_type = 2;
    mb.motion_vectors[0][0][0] = 1;   // forward: half a sample right
    mb.motion_vectors[0][0][1] = -2;  // and one line up
    mb.motion_vectors[0][1][0] = 2;   // backward: one sample right
    mb.motion_vectors[0][1][1] = -1;  // half a line up
    predict_picture(s, old_reference, new_reference, destination, 0);
    for (int y = 16; y < 32; y++)
        for (int x = 0; x < 16; x++) {
            const int f = (old_sample(0, x, y - 1) + old_sample(0, x + 1, y - 1) + 1) >> 1;
            const int b = (new_sample(0, x + 1, y - 1) + new_sample(0, x + 1, y) + 1) >> 1;
            ASSERT_EQ(predicted(0, x, y), (f + b + 1) >> 1) << x << "," << y;
        }
}

TEST_F(MacroblockPrediction, PMacroblockWithoutMotionUsesTheZeroVectorAndUnknownMotionTypesAreReported) {
    MacroblockInfo& mb = second_macroblock();
    mb.macroblock_type = 0;
    mb.motion_type = 2;
    s.macroblock_info[3].macroblock_type = forward_flag;
    s.macroblock_info[3].motion_type = 0;
    for (auto& plane : destination.plane) std::fill(plane.begin(), plane.end(), 200);
    test::RecordingReporter report(s);
    predict_picture(s, old_reference, new_reference, destination, 0);
    EXPECT_EQ(report.warnings, "invalid motion_type\n");
    EXPECT_EQ(predicted(0, 16, 0), old_sample(0, 16, 0));
    EXPECT_EQ(predicted(0, 31, 15), old_sample(0, 31, 15));
    EXPECT_EQ(predicted(2, 15, 7), old_sample(2, 15, 7));
    EXPECT_EQ(predicted(0, 20, 20), 200);  // the macroblock with the unknown type keeps what was there
}

}  // namespace
}  // namespace vintrel
