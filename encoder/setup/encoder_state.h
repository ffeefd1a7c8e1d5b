// The encoder's state for one conversion, in named parts that the stages are handed explicitly.
#pragma once

#include <cstdio>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/rate_control.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/hooks.h"
#include "encoder/setup/kernels.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/picture_header.h"

namespace vintrel {

// Full-resolution colour-difference work planes of the movie path (kept between frames).
struct ColourWorkPlanes {
    std::vector<std::uint8_t> cb_full, cr_full;  // coded_width x coded_height
    std::vector<std::uint8_t> cb_half, cr_half;  // (coded_width / 2) x coded_height, 4:2:0 only
    double kr = 0.0, kg = 0.0, kb = 0.0, cu = 0.0, cv = 0.0;
    // Samples of every grey R = G = B under the coefficients above, refilled for each picture,
    // so the per-pixel conversion of the dithered greys is a table look-up.
    std::array<std::uint8_t, 256> grey_luminance{}, grey_cb{}, grey_cr{};
    bool grey_chroma_constant = false;  // grey_cb and grey_cr each hold one value throughout
    // Whether every colour-difference sample of the picture so far had the same value (as for
    // any grey picture); then the subsampled planes are that value passed through the filters.
    std::size_t chroma_samples = 0;
    bool chroma_uniform = true;
    std::uint8_t uniform_cb = 0, uniform_cr = 0;
};

// The statistics report: owned here unless it is the standard output.
struct StatisticsFile {
    std::FILE* file = nullptr;
    bool owned = false;
};

// One conversion's encoder. Every part belongs to this one object (nothing is global), so two
// conversions in one process behave alike.
struct EncoderState {
    Parameters params;        // read from the parameter lines, constant while coding
    Geometry geometry;        // compute_geometry(params), set by init_encoder
    PictureHeader header;     // of the picture being coded
    Buffers buffers;
    BitWriter bits;
    RateControl rc;
    Kernels kernels;
    StatisticsFile statistics;
    Hooks hooks;
    ColourWorkPlanes colour;

    // The intra DC predictors of the slice being written, one per component.
    int dc_predictor[3] = {};

    EncoderState() = default;
    EncoderState(const EncoderState&) = delete;
    EncoderState& operator=(const EncoderState&) = delete;
    ~EncoderState();
};

}  // namespace vintrel
