// The frame grabber's inner loop: rows of 24-bit pixels dithered to the four greys and packed.
#pragma once

#include <cstdint>

namespace vintrel {

class RowDither {
public:
    enum class Kernel { plain, ssse3 };

    // The best kernel this processor runs.
    static Kernel best_kernel();

    RowDither(int brightness, Kernel kernel = best_kernel());

    // Dithers the first `columns` pixels of a row of 24-bit pixels (blue, green, red): grey =
    // (blue + green + red) / 3 plus the brightness, clamped to 0..255, then the 2x2 ordered
    // dither at the row's parity. Packs their codes four to a byte into the first bytes of
    // `packed` (unused bit pairs of the last byte 00) and puts their greys into `greys`.
    void row(const std::uint8_t* pixels, int columns, int row_parity, std::uint8_t* packed,
             std::uint8_t* greys) const;

private:
    void plain_row(const std::uint8_t* pixels, int from, int columns, int row_parity, std::uint8_t* packed,
                   std::uint8_t* greys) const;

    static constexpr int sums = 3 * 255 + 1;
    Kernel kernel_;
    int brightness_;
    // Palette indices by the sum of a pixel's three bytes, one table a column parity for each
    // row parity: [row parity][column parity][sum]. The sum's third, the brightness offset and
    // the clamp are folded in, so a pixel costs one look-up.
    std::uint8_t index_[2][2][sums];
};

}  // namespace vintrel
