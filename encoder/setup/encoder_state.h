// The encoder's state, in named parts that the stages are handed explicitly. Private to encoder/:
// programs use the Encoder (encoder/encoder.h).
#pragma once

#include <cstdio>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/rate_control.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/kernels.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/picture_header.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

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
    Reporter report;  // where warnings and progress go

    // The intra DC predictors of the slice being written, one per component.
    int dc_predictor[3] = {};

    EncoderState() = default;
    EncoderState(const EncoderState&) = delete;
    EncoderState& operator=(const EncoderState&) = delete;
    ~EncoderState();
};

}  // namespace vintrel
