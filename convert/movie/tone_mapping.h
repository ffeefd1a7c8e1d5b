// Tone mapping of high-dynamic-range pictures (PQ or HLG) to the standard range the greys are taken from.
#pragma once

#include <string>

#include "convert/movie/ffmpeg_handles.h"
#include "convert/movie/movie.h"

struct AVFilterGraph;
struct AVFilterContext;

namespace vintrel::movie_detail {

// Whether the frame's transfer characteristic is PQ (SMPTE ST 2084) or HLG (ARIB STD-B67): code
// values of such a picture are not the greys of a standard-range one.
bool is_high_dynamic_range(const AVFrame& frame);

// Maps HDR frames to standard-range BT.709 pictures with the tone-mapping filters of the FFmpeg
// libraries: reference white (203 cd/m², as both PQ and HLG programmes are made) is the standard
// range's white, light up to 0.7 of it keeps its level and the highlights above are rolled off
// towards the picture's peak (a Möbius curve), so that shadows and mid-tones, which the handheld's
// greys tell apart, keep the contrast of a standard-range picture. A filter graph is made for the
// first frame and made anew when a frame differs from it in size, format, colour or peak.
class ToneMapper {
public:
    ToneMapper() = default;
    ~ToneMapper();
    ToneMapper(const ToneMapper&) = delete;
    ToneMapper& operator=(const ToneMapper&) = delete;

    // The frame in planar 8-bit RGB (full range, BT.709), valid until the next call, or why it
    // cannot be mapped.
    Result<const AVFrame*, MovieFailure> map(const AVFrame& frame);

private:
    // What the graph was made for.
    struct Input {
        int width = 0, height = 0, format = -1, transfer = -1, primaries = -1, matrix = -1, range = -1;
        int peak = 0;  // cd/m²
        bool operator==(const Input&) const = default;
    };
    MovieFault configure(const Input& input);
    void free_graph();

    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    Input input_;
    FramePtr given_;   // the frame handed to the graph, with its colour completed
    FramePtr mapped_;  // what came out
};

}  // namespace vintrel::movie_detail
