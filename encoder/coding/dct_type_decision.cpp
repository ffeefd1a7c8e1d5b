// Frame or field DCT per macroblock: field DCT unless the two fields' prediction errors correlate.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "encoder/coding/transform.h"

namespace vintrel {
namespace {

// Whether the macroblock at column i, line j of a frame picture whose lines are width apart is
// coded with field DCT (dct_type 1).
// The 16x16 difference current - prediction splits into its top field (even lines) and bottom
// field (odd lines); frame DCT is kept when their correlation coefficient exceeds 0.5.
bool field_dct_wanted(const std::uint8_t* prediction, const std::uint8_t* current, int width, int i, int j) {
    int s0 = 0, s1 = 0, sq0 = 0, sq1 = 0, s01 = 0;
    const std::ptrdiff_t stride = width;
    for (int row = 0; row < 16; row += 2) {
        const std::ptrdiff_t top = (j + row) * stride + i;
        const std::ptrdiff_t bottom = top + stride;
        for (int col = 0; col < 16; col++) {
            const int v0 = current[top + col] - prediction[top + col];
            const int v1 = current[bottom + col] - prediction[bottom + col];
            s0 += v0;
            s1 += v1;
            sq0 += v0 * v0;
            sq1 += v1 * v1;
            s01 += v0 * v1;
        }
    }
    // |s0|, |s1| <= 128 * 255, so the integer squares and product fit in 32 bits.
    const double dd = (sq0 - (s0 * s0) / 128.0) * (sq1 - (s1 * s1) / 128.0);
    if (dd <= 0.0) return true;  // a field without variance: field DCT
    const double r = (s01 - (s0 * s1) / 128.0) / std::sqrt(dd);
    return !(r > 0.5);
}

}  // namespace

void choose_dct_type(const Geometry& geometry, const PictureHeader& header, std::vector<MacroblockInfo>& macroblocks,
                     const std::uint8_t* prediction_luma, const std::uint8_t* current_luma) {
    const bool decide = !header.frame_pred_frame_dct && header.picture_structure == PictureStructure::frame;
    std::size_t k = 0;
    for (int j = 0; j < geometry.picture_height; j += 16) {
        for (int i = 0; i < geometry.coded_width; i += 16, k++) {
            macroblocks[k].dct_type =
                decide && field_dct_wanted(prediction_luma, current_luma, geometry.coded_width, i, j);
        }
    }
}

}  // namespace vintrel
