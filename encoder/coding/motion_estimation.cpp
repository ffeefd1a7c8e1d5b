// Motion estimation.
#include "encoder/coding/motion_estimation.h"

#include <cstdio>

#include "encoder/setup/fatal_error.h"

namespace vintrel {

unsigned macroblock_variance(const std::uint8_t* p, int step) {
    unsigned sum = 0, sum_of_squares = 0;
    for (int row = 0; row < 16; row++, p += step)
        for (int col = 0; col < 16; col++) {
            const unsigned v = p[col];
            sum += v;
            sum_of_squares += v * v;
        }
    return sum_of_squares - ((sum * sum) >> 8);
}

void estimate_motion(EncoderState& s, const MotionPlanes& planes, const SearchRanges&, int, int) {
    if (s.picture_type != 1)
        fatal_error(s, "P and B pictures are not supported by this encoder yet (use N = M = 1)");
    const bool field = s.picture_structure != 3;
    const int step = field ? 2 * s.coded_width : s.coded_width;
    int k = 0;
    for (int j = 0; j < s.picture_height; j += 16) {
        for (int i = 0; i < s.coded_width; i += 16, k++) {
            const std::uint8_t* mb = planes.current_source + i + static_cast<std::ptrdiff_t>(j) * step;
            if (s.picture_structure == 2) mb += s.coded_width;
            MacroblockInfo& info = s.macroblock_info[static_cast<std::size_t>(k)];
            info.macroblock_type = intra_flag;
            info.variance = macroblock_variance(mb, step);
        }
        std::fputc('.', stderr);
        std::fflush(stderr);
    }
    std::fputc('\n', stderr);
}

}  // namespace vintrel
