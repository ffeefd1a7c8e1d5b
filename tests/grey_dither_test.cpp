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
    for (int brightness : {-1000, -256, -255, -100, -1, 0, 1, 7, 100, 255, 256, 1000}) {
        const RowDither plain(brightness, RowDither::Kernel::plain), vector(brightness, RowDither::Kernel::ssse3);
        for (int columns = 1; columns <= 70; columns++)
            for (int pass = 0; pass < 6; pass++) {
                // Random pixels, then every grey sum in turn, then the ends of the range; each at both
                // row parities.
                std::vector<std::uint8_t> bgr(3 * static_cast<std::size_t>(columns));
                for (std::size_t i = 0; i < bgr.size(); i++)
                    bgr[i] = static_cast<std::uint8_t>(pass < 2 ? rng() : pass < 4 ? i * 7 + columns : 255 * (i % 2));
                const auto row = [&](const RowDither& dither) {
                    std::vector<std::uint8_t> packed((columns + 3) / 4), greys(columns);
                    dither.row(bgr.data(), columns, pass % 2, packed.data(), greys.data());
                    return std::pair(packed, greys);
                };
                ASSERT_EQ(row(plain), row(vector)) << "brightness " << brightness << ", " << columns << " columns";
            }
    }
}

}  // namespace
}  // namespace vintrel
