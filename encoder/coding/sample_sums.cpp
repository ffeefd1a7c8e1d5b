// Sums and sums of squares of blocks of 8-bit samples.
#include "encoder/coding/sample_sums.h"

#include <emmintrin.h>

#include <cstddef>

namespace vintrel {

SampleSums sample_sums(const std::uint8_t* p, int stride, int rows, bool wide) {
    // Sixteen samples a step (two rows of 8, or one of 16): the byte sums by psadbw, the squares
    // by pmaddwd; a 32-bit lane collects at most 4 squares a step, 64 in all.
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero, squares = zero;
    const int rows_a_step = wide ? 1 : 2;
    for (int row = 0; row < rows; row += rows_a_step, p += rows_a_step * static_cast<std::ptrdiff_t>(stride)) {
        const __m128i samples =
            wide ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))
                 : _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + stride)));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(samples, zero));
        const __m128i low = _mm_unpacklo_epi8(samples, zero), high = _mm_unpackhi_epi8(samples, zero);
        squares = _mm_add_epi32(squares, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
    }
    squares = _mm_add_epi32(squares, _mm_shuffle_epi32(squares, _MM_SHUFFLE(1, 0, 3, 2)));
    squares = _mm_add_epi32(squares, _mm_shuffle_epi32(squares, _MM_SHUFFLE(2, 3, 0, 1)));
    return {static_cast<unsigned>(_mm_cvtsi128_si32(_mm_add_epi64(sums, _mm_unpackhi_epi64(sums, sums)))),
            static_cast<unsigned>(_mm_cvtsi128_si32(squares))};
}

}  // namespace vintrel
