// Tone mapping of HDR pictures with the FFmpeg libraries' filters.
#include "convert/movie/tone_mapping.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/mastering_display_metadata.h>
}

namespace vintrel::movie_detail {

namespace {

// HDR reference white in cd/m² (ITU-R BT.2408): diffuse white of PQ and HLG programmes alike, and
// 75 % of the HLG signal on the 1000 cd/m² display the HLG conversion assumes.
constexpr int reference_white = 203;
// The peak of an HLG picture (its nominal display), and of a PQ picture that does not say its own.
constexpr int assumed_peak = 1000;
constexpr int highest_peak = 10000;  // what PQ can carry
// Light up to this fraction of reference white keeps its level; above it the Möbius curve rolls
// off to the peak. The handheld shows everything above 0.53 of white (grey 192 of 255) as white,
// so every grey it can tell apart keeps the level a standard-range picture gives it.
constexpr double mobius_transition = 0.7;

// The brightest light in the picture, in cd/m²: PQ pictures may say it in their metadata (the
// brightest pixel of the programme, or the mastering display's peak).
int peak_luminance(const AVFrame& frame) {
    double peak = 0;
    if (frame.color_trc == AVCOL_TRC_SMPTE2084) {
        if (const AVFrameSideData* light = av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL))
            peak = reinterpret_cast<const AVContentLightMetadata*>(light->data)->MaxCLL;
        const AVFrameSideData* mastering = av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
        if (peak <= 0 && mastering != nullptr) {
            const auto& display = *reinterpret_cast<const AVMasteringDisplayMetadata*>(mastering->data);
            if (display.has_luminance && display.max_luminance.den > 0) peak = av_q2d(display.max_luminance);
        }
    }
    if (!(peak > 0)) peak = assumed_peak;
    return static_cast<int>(std::clamp(peak, double{reference_white}, double{highest_peak}));
}

}  // namespace

bool is_high_dynamic_range(const AVFrame& frame) {
    return frame.color_trc == AVCOL_TRC_SMPTE2084 || frame.color_trc == AVCOL_TRC_ARIB_STD_B67;
}

ToneMapper::~ToneMapper() { free_graph(); }

void ToneMapper::free_graph() {
    avfilter_graph_free(&graph_);
    source_ = sink_ = nullptr;
    input_ = {};
}

MovieFault ToneMapper::configure(const Input& input) {
    free_graph();
    graph_ = avfilter_graph_alloc();
    if (graph_ == nullptr) return {MovieFailure::failed, {}, 0, "out of memory"};
    // The conversion has threads of its own for the decoding and the coding.
    graph_->nb_threads = 1;
    char arguments[128];
    std::snprintf(arguments, sizeof arguments, "video_size=%dx%d:pix_fmt=%d:time_base=1/1:pixel_aspect=1/1",
                  input.width, input.height, input.format);
    // Linear light with reference white at 1.0 in BT.709 primaries, the curve, BT.709's transfer.
    char filters[384];
    std::snprintf(filters, sizeof filters,
                  "zscale=t=linear:npl=%d:p=bt709,format=gbrpf32le,tonemap=mobius:param=%.1f:desat=0:peak=%.4f,"
                  "zscale=t=bt709:m=bt709:r=full,format=gbrp",
                  reference_white, mobius_transition, static_cast<double>(input.peak) / reference_white);
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    int error = outputs != nullptr && inputs != nullptr ? 0 : AVERROR(ENOMEM);
    const auto add_filter = [this](AVFilterContext** filter, const char* kind, const char* name, const char* options) {
        return avfilter_graph_create_filter(filter, avfilter_get_by_name(kind), name, options, nullptr, graph_);
    };
    if (error >= 0) error = add_filter(&source_, "buffer", "in", arguments);
    if (error >= 0) error = add_filter(&sink_, "buffersink", "out", nullptr);
    if (error >= 0) {
        outputs->name = av_strdup("in");
        outputs->filter_ctx = source_;
        inputs->name = av_strdup("out");
        inputs->filter_ctx = sink_;
        error = avfilter_graph_parse_ptr(graph_, filters, &inputs, &outputs, nullptr);
    }
    if (error >= 0) error = avfilter_graph_config(graph_, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (error < 0) {
        free_graph();
        return {MovieFailure::failed, {}, 0, "the HDR picture cannot be tone-mapped: " + error_text(error)};
    }
    input_ = input;
    return {};
}

Result<const AVFrame*, MovieFailure> ToneMapper::map(const AVFrame& frame) {
    if (!given_) given_.reset(av_frame_alloc());
    if (!mapped_) mapped_.reset(av_frame_alloc());
    if (!given_ || !mapped_ || av_frame_ref(given_.get(), &frame) < 0)
        return {nullptr, {MovieFailure::failed, {}, 0, "out of memory"}};
    // HDR pictures that leave their colours unsaid are taken as BT.2020 in the studio range, as
    // every HDR programme is made.
    AVFrame& given = *given_;
    if (given.color_primaries == AVCOL_PRI_UNSPECIFIED) given.color_primaries = AVCOL_PRI_BT2020;
    if (given.colorspace == AVCOL_SPC_UNSPECIFIED) given.colorspace = AVCOL_SPC_BT2020_NCL;
    if (given.color_range == AVCOL_RANGE_UNSPECIFIED) given.color_range = AVCOL_RANGE_MPEG;
    const Input input{given.width,           given.height,     given.format,           given.color_trc,
                      given.color_primaries, given.colorspace, given.color_range, peak_luminance(given)};
    if (graph_ == nullptr || !(input == input_)) {
        if (MovieFault fault = configure(input); fault.failed()) {
            av_frame_unref(given_.get());
            return {nullptr, std::move(fault)};
        }
    }
    av_frame_unref(mapped_.get());
    int error = av_buffersrc_add_frame(source_, given_.get());  // takes the reference
    if (error >= 0) error = av_buffersink_get_frame(sink_, mapped_.get());
    if (error < 0) {
        av_frame_unref(given_.get());
        free_graph();  // made anew for the next picture
        return {nullptr, {MovieFailure::failed, {}, 0, "the HDR picture cannot be tone-mapped: " + error_text(error)}};
    }
    return {mapped_.get(), {}};
}

}  // namespace vintrel::movie_detail
