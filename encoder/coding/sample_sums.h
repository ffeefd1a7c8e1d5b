// Sums and sums of squares of blocks of 8-bit samples, for their variances.
#pragma once

#include <cstdint>

namespace vintrel {

struct SampleSums {
    unsigned sum = 0;
    unsigned squares = 0;
};

// The samples of `rows` rows of 8 (`wide` false) or 16 (`wide` true) samples, `stride` apart.
// Exact for up to 16 rows.
SampleSums sample_sums(const std::uint8_t* p, int stride, int rows, bool wide);

}  // namespace vintrel
