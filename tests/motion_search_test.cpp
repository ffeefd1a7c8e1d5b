// Block distances and the full-pel search's order. Its bounds, the true vectors, dual prime and the
// motion-compensated prediction are checked through the independent decoder (motion_decoder_test).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"

namespace vintrel {
namespace {

std::vector<std::uint8_t> random_plane(std::size_t size, unsigned seed, int high = 255) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(0, high);
    std::vector<std::uint8_t> plane(size);
    for (auto& v : plane) v = static_cast<std::uint8_t>(sample(random));
    return plane;
}

TEST(MotionDistances, VectorKernelsAgreeWithThePlainOnesInEveryHalfPelCase) {
    const int lx = 48;
    for (unsigned seed = 1; seed <= 20; seed++) {
        // Near-equal planes give small distances, far ones large: both ends of the sums.
        const int spread = seed % 2 ? 255 : 6;
        const auto reference = random_plane(lx * 20, seed, spread), current = random_plane(lx * 20, seed + 100, spread);
        const std::uint8_t *p = reference.data() + lx + 3, *blk = current.data() + 5;
        for (int h = 1; h <= 16; h++)
            for (int halves = 0; halves < 16; halves++) {
                // The half-sample flags of the forward (or only) prediction and of the backward one.
                const HalfPel f{p, halves & 1, halves >> 1 & 1};
                const HalfPel b{reference.data() + 2 * lx + 17, halves >> 2 & 1, halves >> 3};
                SCOPED_TRACE(testing::Message() << "seed " << seed << " h " << h << " halves " << halves);
                for (int limit : {0, 1, 500, 2000, 65536})
                    EXPECT_EQ(sad_distance(p, blk, lx, f.hx, f.hy, h, limit),
                              plain::sad_distance(p, blk, lx, f.hx, f.hy, h, limit));
                EXPECT_EQ(sse_distance(p, blk, lx, f.hx, f.hy, h), plain::sse_distance(p, blk, lx, f.hx, f.hy, h));
                EXPECT_EQ(bidir_sad_distance(f, b, blk, lx, h), plain::bidir_sad_distance(f, b, blk, lx, h));
                EXPECT_EQ(bidir_sse_distance(f, b, blk, lx, h), plain::bidir_sse_distance(f, b, blk, lx, h));
            }
    }
}

TEST(FullSearch, EqualDistancesKeepThePositionVisitedFirst) {
    // A picture whose rows are random but repeat every 4 columns.
    const int w = 96, h = 64;
    const auto row_values = random_plane(h * 4, 7);
    std::vector<std::uint8_t> plane(w * h);
    for (std::size_t k = 0; k < plane.size(); k++) plane[k] = row_values[k / w * 4 + k % 4];
    // The block taken at (40, 24) matches at (40 +- 4k, 24): the start position wins. Taken at (42, 24)
    // but searched from (40, 24): (42, 24) and (38, 24) match exactly. The ring of radius 2 reaches its
    // right side (going down) before its left side (going up).
    for (const auto& [taken_x, found_x] : {std::pair{40, 80}, std::pair{42, 84}}) {
        const std::uint8_t* block = plane.data() + 24 * w + taken_x;
        const SearchResult r = full_search(plane.data(), plane.data(), block, w, 40, 24, 8, 8, 16, w, h);
        EXPECT_EQ(r.x, found_x);
        EXPECT_EQ(r.y, 48);
        EXPECT_EQ(r.distance, 0);
    }
}

}  // namespace
}  // namespace vintrel
