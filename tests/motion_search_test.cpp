// Block distances and the full-pel search's order. Its bounds, the true vectors, dual prime and the
// motion-compensated prediction are checked through the independent decoder (motion_decoder_test).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "encoder/coding/motion_distances.h"
#include "encoder/coding/motion_search.h"

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

}  // namespace
}  // namespace vintrel
