// Quantisers and inverse quantisers of every SIMD level against plain reference arithmetic.
#include "encoder/coding/quantise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "encoder/setup/kernels.h"

namespace vintrel {
namespace {

using Block = std::array<std::int16_t, 64>;
using Matrix = std::array<std::uint8_t, 64>;

// ---- Reference arithmetic, one coefficient at a time, as the rules read ----

int reference_quantise(int x, int w, int mquant, bool intra, bool mpeg1) {
    int y = (32 * std::abs(x) + w / 2) / w;
    y = intra ? (y + ((3 * mquant + 2) >> 2)) / (2 * mquant) : y / (2 * mquant);
    y = std::min(y, mpeg1 ? 255 : 2047);
    return x >= 0 ? y : -y;
}

Block reference_dequantise(const Block& src, const Matrix& m, int mquant, int dc_precision, bool intra, bool mpeg1) {
    Block out{};
    int sum = 0;
    for (int i = 0; i < 64; i++) {
        const long long q = src[i], sign = q > 0 ? 1 : q < 0 ? -1 : 0;
        int v = static_cast<int>(intra ? q * m[i] * mquant / 16 : (2 * q + sign) * m[i] * mquant / 32);
        if (mpeg1 && v != 0 && v % 2 == 0) v += v > 0 ? -1 : 1;
        out[i] = static_cast<std::int16_t>(std::clamp(v, -2048, 2047));
        if (intra && i == 0) out[0] = static_cast<std::int16_t>(src[0] << (3 - dc_precision));
        sum += out[i];
    }
    if (!mpeg1 && sum % 2 == 0) out[63] = static_cast<std::int16_t>(out[63] ^ 1);
    return out;
}

// The quantiser scales coding uses: the even linear ones and the non-linear table's odd and large values.
const std::vector<int> coded_scales = {1, 3, 5, 7, 72, 80, 88, 96, 104, 112, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22,
                                       24, 26, 28, 30, 32, 34, 36, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 60, 62, 64};

class Quantisation : public testing::Test {
protected:
    // Every kernel level this processor runs (plain, SSE2, AVX2), out of place and in place.
    template <class Kernel>
    void expect_every_level(const Block& src, const Block& expected, Kernel kernel, const char* what) {
        for (int level = 0; level <= static_cast<int>(processor_simd_level()); level++) {
            simd = static_cast<SimdLevel>(level);
            Block out, in_place = src;
            kernel(src.data(), out.data());
            kernel(in_place.data(), in_place.data());
            ASSERT_TRUE(out == expected && in_place == expected)
                << what << " from " << src[0] << " level " << level << " MPEG-1 " << mpeg1;
        }
    }

    void expect_forward(const Block& src, const Matrix& m, int mquant, int precision) {
        Block intra, non_intra;
        for (int i = 0; i < 64; i++) {
            intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, true, mpeg1));
            non_intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, false, mpeg1));
        }
        // Intra DC: rounded half away from zero by the step 8 >> precision, not clipped.
        const int step = 8 >> precision;
        intra[0] = static_cast<std::int16_t>(src[0] >= 0 ? (src[0] + step / 2) / step : -((-src[0] + step / 2) / step));
        expect_every_level(src, intra, [&](const std::int16_t* in, std::int16_t* out) {
            quantise_intra(simd, mpeg1, in, out, precision, m.data(), mquant);
        }, "intra");
        const bool coded = std::any_of(non_intra.begin(), non_intra.end(), [](int v) { return v != 0; });
        expect_every_level(src, non_intra, [&](const std::int16_t* in, std::int16_t* out) {
            EXPECT_EQ(quantise_non_intra(simd, mpeg1, in, out, m.data(), mquant) != 0, coded);
        }, "non-intra");
    }

    // Both standards.
    void expect_inverse(const Block& src, const Matrix& m, int mquant, int precision) {
        for (const bool standard_is_mpeg1 : {false, true}) {
            mpeg1 = standard_is_mpeg1;
            const Block intra = reference_dequantise(src, m, mquant, precision, true, mpeg1);
            const Block non_intra = reference_dequantise(src, m, mquant, precision, false, mpeg1);
            expect_every_level(src, intra, [&](const std::int16_t* in, std::int16_t* out) {
                dequantise_intra(simd, mpeg1, in, out, precision, m.data(), mquant);
            }, "inverse intra");
            expect_every_level(src, non_intra, [&](const std::int16_t* in, std::int16_t* out) {
                dequantise_non_intra(simd, mpeg1, in, out, m.data(), mquant);
            }, "inverse non-intra");
        }
    }

    // Every value from `first` to `last` in runs of 64 (the last run padded with `last`), with every
    // constant weight and each of the scales.
    void sweep(bool forward, int first, int last, const std::vector<int>& scales) {
        Matrix m;
        for (int w = 1; w <= 255; w++) {
            m.fill(static_cast<std::uint8_t>(w));
            for (int mquant : scales)
                for (int start = first; start <= last && !HasFatalFailure(); start += 64) {
                    Block src;
                    for (int i = 0; i < 64; i++) src[i] = static_cast<std::int16_t>(std::min(start + i, last));
                    if (forward) expect_forward(src, m, mquant, 0);
                    else expect_inverse(src, m, mquant, 0);
                }
        }
    }

    SimdLevel simd = SimdLevel::plain;
    bool mpeg1 = false;
};

// Every transform coefficient of 8-bit differences (+-2040 and beyond) with every weight and coded scale, and
// the whole 16-bit range at the extreme scales: every dividend and divisor the kernels' reciprocal arithmetic
// meets.
TEST_F(Quantisation, ForwardMatchesTheReferenceForEveryCoefficientWeightAndScale) {
    sweep(true, -4096, 4095, coded_scales);
    sweep(true, -32768, 32767, {1, 112});
    mpeg1 = true;
    sweep(true, -32768, 32767, {2});
}

// 128 is the largest scale of the vector kernels; 129 takes the plain path.
TEST_F(Quantisation, InverseMatchesTheReferenceForEveryLevelWeightAndScale) {
    sweep(false, -32768, 32767, {2, 112, 128, 129});
}

// Random blocks and matrices at every DC precision: mostly sparse, as quantisation leaves them; every fourth
// dense.
TEST_F(Quantisation, RandomBlocksAndMatricesMatchTheReference) {
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> coefficient(-2048, 2047), weight(1, 255);
    for (int trial = 0; trial < 20000 && !HasFatalFailure(); trial++) {
        Block src{};
        const int count = trial % 4 == 0 ? 64 : static_cast<int>(rng() % 8);
        for (int k = 0; k < count; k++)
            src[count == 64 ? k : rng() % 64] =
                static_cast<std::int16_t>(trial % 3 ? coefficient(rng) : coefficient(rng) / 16);
        Matrix m;
        for (auto& w : m) w = static_cast<std::uint8_t>(trial % 5 == 0 ? 16 : weight(rng));
        const int mquant = coded_scales[rng() % coded_scales.size()], precision = static_cast<int>(rng() % 4);
        mpeg1 = trial % 2;
        expect_forward(src, m, mquant, precision);
        expect_inverse(src, m, mquant, precision);
    }
}

}  // namespace
}  // namespace vintrel
