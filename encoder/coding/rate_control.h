// Rate control: bit allocation per picture, quantiser scale per macroblock, the VBV model.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/picture_context.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

// Rate control's running values. The start values r, avg_act, X and d0 are copied from the
// parameters when a sequence starts, so every conversion starts from the same state. Bit counts
// and buffer fullness are 64-bit: they grow with the length of the stream.
struct RateControl {
    std::int64_t r = 0;
    double avg_act = 0.0;
    std::int64_t Xi = 0, Xp = 0, Xb = 0;
    std::int64_t d0i = 0, d0p = 0, d0b = 0;
    std::int64_t R = 0;
    int Np = 0;
    int Nb = 0;
    std::int64_t T = 0;
    std::int64_t d = 0;
    std::int64_t S = 0;
    int Q = 0;
    double activity_sum = 0.0;
    int previous_mquant = 0;
    std::int64_t bitcnt_EOP = 0;
    double decoding_time = 0.0;
    double next_ip_delay = 0.0;
};

// Each step writes its figures to the statistics report `statistics`.

// Start of a sequence: defaults for the start values that are 0, R = 0, a fresh VBV model.
void init_rate_control(RateControl& rc, const Parameters& params, std::FILE* statistics);

// Start of a group of pictures with np P and nb B frames: adds the group's budget to R.
void start_gop_rate_control(RateControl& rc, const Parameters& params, std::FILE* statistics, int np, int nb);

// The bit counts are those of the stream produced so far at the moment named, so tests can
// feed made-up figures.

// Start of a picture (`bits` before its header): target bits, virtual buffer, macroblock
// activities of the source luminance (into each macroblock's record).
void start_picture_rate_control(RateControl& rc, const PictureContext& picture,
                                std::vector<MacroblockInfo>& macroblocks, std::FILE* statistics,
                                const std::uint8_t* luma, std::int64_t bits);

// The vbv_delay of the picture whose start code ends at `bits`, clamped to 0..65535 with a warning.
int compute_vbv_delay(RateControl& rc, const PictureContext& picture, const Reporter& report, std::FILE* statistics,
                      std::int64_t bits);

// Quantiser scale of the first slice header of a picture.
int initial_quantiser_scale(RateControl& rc, const PictureHeader& header);

// Quantiser scale of macroblock k (in coding order) of the picture, `bits` before it is coded.
int macroblock_quantiser_scale(RateControl& rc, const Geometry& geometry, const PictureHeader& header,
                               const std::vector<MacroblockInfo>& macroblocks, int k, std::int64_t bits);

// After the last macroblock (`bits` at the picture's end): updates the budget, complexity and
// buffer of the picture's type.
void end_picture_rate_control(RateControl& rc, const Geometry& geometry, const PictureHeader& header,
                              std::FILE* statistics, std::int64_t bits);

// Remembers where the picture ended (`bits`), rounded up to whole bytes, for the VBV model.
void update_vbv_at_picture_end(RateControl& rc, std::int64_t bits);

// Spatial activity of one 8x8 block: variance of its samples.
double block_variance(const std::uint8_t* p, int stride);

}  // namespace vintrel
