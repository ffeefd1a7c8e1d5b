// Border extension of source planes and the filters that halve the colour-difference planes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <vector>

#include "encoder/setup/chroma_subsampling.h"
#include "encoder/setup/kernels.h"

namespace vintrel {
namespace {

// A filter: the rows or samples it reads, as offsets from the output position, and their
// weights in 512ths.
struct FilterTaps {
    int count;
    std::array<int, 12> offset;
    std::array<int, 12> weight;
};

// 12-tap half-sample filter: the output lies between samples i and i + 1.
constexpr FilterTaps interstitial_taps = {
    12, {0, 1, -1, 2, -2, 3, -3, 4, -4, 5, -5, 6}, {228, 228, 70, 70, -37, -37, -21, -21, 11, 11, 5, 5}};

// 7-tap filter whose output lies on sample i (MPEG-2 chroma siting). Its weights add up to 514,
// so it raises a flat plane slightly: 128 comes out as 129.
constexpr FilterTaps co_sited_taps = {7, {-5, 5, -3, 3, -1, 1, 0}, {22, 22, -52, -52, 159, 159, 256}};

// Interlaced frames: each field is halved on its own rows. Output row j / 2 of the top field
// and j / 2 + 1 of the bottom field are centred between the rows of their own field.
constexpr FilterTaps top_field_taps = {
    12, {-10, -8, -6, -4, -2, 0, 2, 4, 6, 8, 10, 12}, {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2}};
constexpr FilterTaps bottom_field_taps = {
    12, {13, 11, 9, 7, 5, 3, 1, -1, -3, -5, -7, -9}, {8, 5, -30, -18, 113, 242, 192, 35, -38, -10, 11, 2}};

// The horizontal filters reach at most 5 samples to the left and 6 to the right.
constexpr int horizontal_reach = 6;

// Rounds the weighted sum (in 512ths) to a sample. The filters' sums stay well inside the clip
// table's range for any 8-bit input.
constexpr ClipTable clip;

std::uint8_t filter_output(int sum) { return clip((sum + 256) >> 9); }

std::ptrdiff_t offset_of(int row, int stride) { return static_cast<std::ptrdiff_t>(row) * stride; }

// Filters one output row from the rows that clamp_row picks for each tap around row j.
template <class ClampRow>
void filter_row(const std::uint8_t* src, int width, const FilterTaps& taps, int j,
                ClampRow clamp_row, std::uint8_t* out) {
    std::array<const std::uint8_t*, 12> rows{};
    for (int t = 0; t < taps.count; t++) rows[t] = src + offset_of(clamp_row(j + taps.offset[t]), width);
    for (int x = 0; x < width; x++) {
        int sum = 0;
        for (int t = 0; t < taps.count; t++) sum += taps.weight[t] * rows[t][x];
        out[x] = filter_output(sum);
    }
}

}  // namespace

void extend_borders(std::uint8_t* plane, int w, int h, int w2, int h2) {
    // Without a picture sample there is nothing to repeat.
    if (w <= 0 || h <= 0) return;
    if (w < w2) {
        for (int y = 0; y < h; y++) {
            std::uint8_t* row = plane + offset_of(y, w2);
            std::memset(row + w, row[w - 1], static_cast<std::size_t>(w2 - w));
        }
    }
    for (int y = h; y < h2; y++)
        std::memcpy(plane + offset_of(y, w2), plane + offset_of(y - 1, w2), static_cast<std::size_t>(w2));
}

void subsample_444_to_422(const Parameters& params, const Geometry& geometry, const std::uint8_t* src, std::uint8_t* dst) {
    const int w = geometry.coded_width;
    const int h = geometry.coded_height;
    if (w <= 0 || h <= 0) return;
    const FilterTaps& taps = params.is_mpeg1 ? interstitial_taps : co_sited_taps;

    // One source row with its first and last samples repeated beyond the ends, so that taps
    // outside the row read the nearest edge sample.
    std::vector<int> padded(static_cast<std::size_t>(w + 2 * horizontal_reach));
    int* const s = padded.data() + horizontal_reach;
    const int half = w / 2;
    for (int y = 0; y < h; y++) {
        const std::uint8_t* row = src + offset_of(y, w);
        for (int k = -horizontal_reach; k < w + horizontal_reach; k++) s[k] = row[std::clamp(k, 0, w - 1)];
        std::uint8_t* out = dst + offset_of(y, half);
        for (int i = 0; i + 1 < w; i += 2) {
            int sum = 0;
            for (int t = 0; t < taps.count; t++) sum += taps.weight[t] * s[i + taps.offset[t]];
            out[i / 2] = filter_output(sum);
        }
    }
}

void subsample_422_to_420(const Parameters& params, const Geometry& geometry, const std::uint8_t* src, std::uint8_t* dst) {
    const int w = geometry.coded_width / 2;
    const int h = geometry.coded_height;
    if (w <= 0 || h < 2) return;

    if (params.progressive_frame) {
        auto clamp_frame = [h](int r) { return std::clamp(r, 0, h - 1); };
        for (int j = 0; j + 1 < h; j += 2)
            filter_row(src, w, interstitial_taps, j, clamp_frame, dst + offset_of(j / 2, w));
        return;
    }

    // Taps outside the plane read the nearest row of their own field: rows 0 and h - 2 for the
    // top field, rows 1 and h - 1 for the bottom field.
    auto clamp_top = [h](int r) { return r < 0 ? 0 : r >= h ? h - 2 : r; };
    auto clamp_bottom = [h](int r) { return r < 0 ? 1 : r >= h ? h - 1 : r; };
    for (int j = 0; j < h; j += 4) {
        filter_row(src, w, top_field_taps, j, clamp_top, dst + offset_of(j / 2, w));
        if (j / 2 + 1 < h / 2)
            filter_row(src, w, bottom_field_taps, j, clamp_bottom, dst + offset_of(j / 2 + 1, w));
    }
}

}  // namespace vintrel
