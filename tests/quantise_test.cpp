// Quantisers and inverse quantisers of every SIMD level against plain reference arithmetic.
#include "encoder/coding/quantise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "encoder/coding/transform.h"
#include "encoder/setup/quant_matrix_defaults.h"

namespace vintrel {
namespace {

using Block = std::array<std::int16_t, 64>;
using Matrix = std::array<std::uint8_t, 64>;

// ---- Reference arithmetic, one coefficient at a time, as the rules read ----

int reference_intra_dc(int x, int intra_dc_precision) {
    const int s = 8 >> intra_dc_precision;
    return x >= 0 ? (x + s / 2) / s : -((-x + s / 2) / s);
}

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

class Quantisation : public testing::Test {
protected:
    void SetUp() override { init_kernels(state.kernels); }
    // Every kernel level this processor runs: plain, SSE2, AVX2.
    std::vector<int> levels() const {
        std::vector<int> all;
        for (int level = 0; level <= static_cast<int>(state.kernels.simd); level++) all.push_back(level);
        return all;
    }
    EncoderState state;
};

Matrix constant_matrix(int w) {
    Matrix m;
    m.fill(static_cast<std::uint8_t>(w));
    return m;
}

// The quantiser scales coding uses: the even linear ones and the non-linear table's values.
std::vector<int> coded_quantiser_scales() {
    std::vector<int> scales = {1, 3, 5, 7, 72, 80, 88, 96, 104, 112};
    for (int q = 2; q <= 64; q += 2) scales.push_back(q);
    return scales;
}

// ---- Forward quantisation ----

// Every coefficient x in [first, last] with every weight 1..255 and each scale, through every
// kernel: covers every dividend and divisor their reciprocal arithmetic meets in that range.
void expect_every_coefficient_exact(EncoderState& state, const std::vector<int>& levels, int first, int last,
                                    const std::vector<int>& scales) {
    const bool mpeg1 = state.params.is_mpeg1 != 0;
    for (int w = 1; w <= 255; w++) {
        const Matrix m = constant_matrix(w);
        for (int mquant : scales) {
            for (int start = first; start <= last; start += 64) {
                Block src, intra, non_intra;
                for (int i = 0; i < 64; i++) {
                    src[i] = static_cast<std::int16_t>(std::min(start + i, last));
                    intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], w, mquant, true, mpeg1));
                    non_intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], w, mquant, false, mpeg1));
                }
                intra[0] = static_cast<std::int16_t>(reference_intra_dc(src[0], 0));
                for (int level : levels) {
                    state.kernels.simd = static_cast<SimdLevel>(level);
                    Block out;
                    quantise_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), 0, m.data(), mquant);
                    if (out != intra) FAIL() << "intra from " << start << " w " << w << " mquant " << mquant;
                    quantise_non_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), m.data(), mquant);
                    if (out != non_intra) FAIL() << "non-intra from " << start << " w " << w << " mquant " << mquant;
                }
            }
        }
    }
}

TEST_F(Quantisation, ExactForEveryCoefficientWeightAndScale) {
    // Transform coefficients of 8-bit differences lie within +-2040: all of them, every coded scale.
    expect_every_coefficient_exact(state, levels(), -4096, 4095, coded_quantiser_scales());
    // The whole 16-bit range, where the dividends are largest.
    expect_every_coefficient_exact(state, levels(), -32768, 32767, {1, 112});
    state.params.is_mpeg1 = 1;
    expect_every_coefficient_exact(state, levels(), -32768, 32767, {2});
}

TEST_F(Quantisation, RandomBlocksMatchTheReferenceInPlaceAndOutOfPlace) {
    std::mt19937 rng(20240607);
    std::uniform_int_distribution<int> coefficient(-2048, 2047), weight(1, 255);
    const std::vector<int> scales = coded_quantiser_scales();
    for (int trial = 0; trial < 20000; trial++) {
        Block src, intra, non_intra;
        Matrix m;
        for (auto& v : src) v = static_cast<std::int16_t>(trial % 5 == 0 ? coefficient(rng) / 64 : coefficient(rng));
        for (auto& w : m) w = static_cast<std::uint8_t>(trial % 3 == 0 ? 16 : weight(rng));
        const int mquant = scales[rng() % scales.size()], precision = static_cast<int>(rng() % 4);
        state.params.is_mpeg1 = trial % 2;
        for (int i = 0; i < 64; i++) {
            intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, true, state.params.is_mpeg1));
            non_intra[i] = static_cast<std::int16_t>(reference_quantise(src[i], m[i], mquant, false, state.params.is_mpeg1));
        }
        intra[0] = static_cast<std::int16_t>(reference_intra_dc(src[0], precision));
        const int coded = std::any_of(non_intra.begin(), non_intra.end(), [](int v) { return v != 0; });
        for (int level : levels()) {
            state.kernels.simd = static_cast<SimdLevel>(level);
            Block out, in_place = src;
            quantise_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), precision, m.data(), mquant);
            quantise_intra(state.kernels.simd, state.params.is_mpeg1, in_place.data(), in_place.data(), precision, m.data(), mquant);
            ASSERT_EQ(out, intra) << "trial " << trial << " level " << level;
            ASSERT_EQ(in_place, intra) << "trial " << trial << " level " << level;
            in_place = src;
            ASSERT_EQ(quantise_non_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), m.data(), mquant), coded);
            quantise_non_intra(state.kernels.simd, state.params.is_mpeg1, in_place.data(), in_place.data(), m.data(), mquant);
            ASSERT_EQ(out, non_intra) << "trial " << trial << " level " << level;
            ASSERT_EQ(in_place, non_intra) << "trial " << trial << " level " << level;
        }
    }
}

// ---- Inverse quantisation ----

// Both standards, every kernel, in place and out of place, plus the stateless MPEG-1 entry points.
void expect_inverse_matches(EncoderState& state, const std::vector<int>& levels, const Block& src, const Matrix& m,
                            int mquant, int dc_precision) {
    for (int mpeg1 = 0; mpeg1 <= 1; mpeg1++) {
        state.params.is_mpeg1 = mpeg1;
        const Block intra = reference_dequantise(src, m, mquant, dc_precision, true, mpeg1);
        const Block non_intra = reference_dequantise(src, m, mquant, dc_precision, false, mpeg1);
        for (int level : levels) {
            state.kernels.simd = static_cast<SimdLevel>(level);
            Block out, in_place = src;
            dequantise_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), dc_precision, m.data(), mquant);
            dequantise_intra(state.kernels.simd, state.params.is_mpeg1, in_place.data(), in_place.data(), dc_precision, m.data(), mquant);
            ASSERT_TRUE(out == intra && in_place == intra) << "intra mquant " << mquant << " level " << level;
            in_place = src;
            dequantise_non_intra(state.kernels.simd, state.params.is_mpeg1, src.data(), out.data(), m.data(), mquant);
            dequantise_non_intra(state.kernels.simd, state.params.is_mpeg1, in_place.data(), in_place.data(), m.data(), mquant);
            ASSERT_TRUE(out == non_intra && in_place == non_intra)
                << "non-intra mquant " << mquant << " level " << level;
        }
        if (mpeg1) {
            Block out;
            dequantise_intra_mpeg1(src.data(), out.data(), dc_precision, m.data(), mquant);
            ASSERT_EQ(out, intra);
            dequantise_non_intra_mpeg1(src.data(), out.data(), m.data(), mquant);
            ASSERT_EQ(out, non_intra);
        }
    }
}

TEST_F(Quantisation, InverseExactForEveryLevelAndWeight) {
    // 128 is the largest scale of the vector kernels; 129 takes the plain path.
    for (int mquant : {2, 112, 128, 129}) {
        for (int w = 1; w <= 255; w++) {
            for (int start = -32768; start < 32768; start += 64) {
                Block src;
                for (int i = 0; i < 64; i++) src[i] = static_cast<std::int16_t>(start + i);
                expect_inverse_matches(state, levels(), src, constant_matrix(w), mquant, 0);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST_F(Quantisation, InverseRandomBlocksOfCodedLevels) {
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> level(-2047, 2047), weight(1, 255);
    const std::vector<int> scales = coded_quantiser_scales();
    for (int trial = 0; trial < 20000; trial++) {
        Block src{};  // mostly sparse, as quantisation leaves blocks; every fourth dense
        const int count = trial % 4 == 0 ? 64 : static_cast<int>(rng() % 8);
        for (int k = 0; k < count; k++)
            src[rng() % 64] = static_cast<std::int16_t>(trial % 2 ? level(rng) : level(rng) / 16);
        Matrix m;
        for (auto& w : m) w = static_cast<std::uint8_t>(weight(rng));
        expect_inverse_matches(state, levels(), src, m, scales[rng() % scales.size()], static_cast<int>(rng() % 4));
        if (HasFatalFailure()) return;
    }
}

}  // namespace
}  // namespace vintrel
