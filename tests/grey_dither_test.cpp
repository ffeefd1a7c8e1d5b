// The sixteen-pixel dither kernel against the plain one, which the frame grabber tests pin down.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "convert/grey_dither.h"

namespace vintrel {
namespace {

TEST(RowDither, TheVectorKernelGivesThePlainKernelsBytes) {
    if (RowDither::best_kernel() == RowDither::Kernel::plain) GTEST_SKIP() << "no SSSE3 on this processor";
    std::mt19937 rng(2026);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int brightness : {-1000, -256, -255, -100, -1, 0, 1, 7, 100, 255, 256, 1000}) {
        const RowDither plain(brightness, RowDither::Kernel::plain), vector(brightness, RowDither::Kernel::ssse3);
        for (int columns = 1; columns <= 70; columns++) {
            // Random pixels, then every grey sum in turn, and the ends of the range.
            std::vector<std::uint8_t> pixels(3 * static_cast<std::size_t>(columns));
            for (int round = 0; round < 3; round++) {
                for (std::size_t i = 0; i < pixels.size(); i++)
                    pixels[i] = static_cast<std::uint8_t>(round == 0 ? byte(rng) : round == 1 ? (i * 7 + columns) % 256 : 255 * (i % 2));
                for (int parity = 0; parity < 2; parity++) {
                    std::vector<std::uint8_t> packed_a((columns + 3) / 4), packed_b(packed_a.size()), greys_a(columns),
                        greys_b(columns);
                    plain.row(pixels.data(), columns, parity, packed_a.data(), greys_a.data());
                    vector.row(pixels.data(), columns, parity, packed_b.data(), greys_b.data());
                    ASSERT_EQ(packed_a, packed_b) << "brightness " << brightness << ", " << columns << " columns";
                    ASSERT_EQ(greys_a, greys_b) << "brightness " << brightness << ", " << columns << " columns";
                }
            }
        }
    }
}

}  // namespace
}  // namespace vintrel
