// Motion estimation and prediction of 720x480 P and B pictures with the search ranges of the
// built-in motion lines (P +-11, first B picture +-3 forward and +-7 backward, second B picture
// the other way round). Each iteration is one picture, so the reported time is per picture.
// Building with -DCMAKE_CXX_FLAGS=-DVINTREL_PLAIN_DISTANCES measures the plain distance kernels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "encoder/coding/motion_estimation.h"
#include "encoder/coding/prediction.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/parameter_lines.h"
#include "encoder/setup/read_parameters.h"

namespace {

using namespace vintrel;

// A textured scene seen through a camera that pans by (3, 2) samples per frame.
void fill_scene(Picture& picture, int width, int height, int frame) {
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const double u = x + 3.0 * frame, v = y + 2.0 * frame;
            const unsigned hash = (static_cast<unsigned>(u) * 73856093u) ^ (static_cast<unsigned>(v) * 19349663u);
            const double value = 128.0 + 60.0 * std::sin(u * 0.07 + v * 0.03) + 30.0 * std::sin(v * 0.11 - u * 0.05) +
                                 static_cast<double>(hash % 17) - 8.0;
            picture[0][y * width + x] = static_cast<std::uint8_t>(value);
        }
    for (int c = 1; c < 3; c++)
        for (auto& sample : picture.plane[static_cast<std::size_t>(c)]) sample = 128;
}

// An encoder state for 720x480 pictures, N = 15, M = 3, with the references and the current
// picture filled: old reference frame 0, new reference frame 3, current picture frame 1.
struct MotionScene {
    EncoderState s;

    explicit MotionScene(bool frame_prediction_only) {
        std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
        (void)quiet;
        std::vector<std::string> lines(builtin_parameter_lines.begin(), builtin_parameter_lines.end());
        lines[5] = "/dev/null";
        lines[10] = "15";
        lines[11] = "3";
        lines[14] = "720";
        lines[15] = "480";
        if (!frame_prediction_only) {  // an interlaced MPEG-2 sequence: frame and field searches
            lines[12] = "0";
            lines[24] = "0";
            lines[25] = "1";
            lines[40] = "0";
        }
        std::vector<std::string_view> view(lines.begin(), lines.end());
        read_parameters(s, view);
        init_encoder(s);
        fill_scene(s.buffers.old_org_frame, 720, 480, 0);
        fill_scene(s.buffers.new_org_frame, 720, 480, 3);
        fill_scene(s.buffers.aux_org_frame, 720, 480, 1);
        s.buffers.old_ref_frame.plane = s.buffers.old_org_frame.plane;
        s.buffers.new_ref_frame.plane = s.buffers.new_org_frame.plane;
        s.header.picture_structure = PictureStructure::frame;
        s.header.frame_pred_frame_dct = frame_prediction_only ? 1 : 0;
    }

    void estimate(int picture_type, int record) {
        const MotionData& m = s.params.motion_data[static_cast<std::size_t>(record)];
        s.header.picture_type = static_cast<PictureType>(picture_type);
        const bool p = picture_type == 2;
        const MotionPlanes planes{s.buffers.old_org_frame[0], s.buffers.new_org_frame[0], s.buffers.old_ref_frame[0], s.buffers.new_ref_frame[0],
                                  p ? s.buffers.new_org_frame[0] : s.buffers.aux_org_frame[0],
                                  p ? s.buffers.new_ref_frame[0] : s.buffers.aux_frame[0]};
        const SearchRanges ranges{m.forw_search_width, m.forw_search_height, m.back_search_width,
                                  m.back_search_height};
        estimate_motion({s.params, s.geometry, s.header}, s.buffers.macroblock_info, s.report, planes, ranges, 0, 0);
    }

    // Shares of the macroblock decisions, shown beside the times to tell what was measured.
    void report(benchmark::State& state) const {
        double intra = 0, forward = 0, backward = 0;
        for (const MacroblockInfo& mb : s.buffers.macroblock_info) {
            intra += mb.macroblock_type.has(MacroblockFlag::intra);
            forward += mb.macroblock_type.has(MacroblockFlag::forward);
            backward += mb.macroblock_type.has(MacroblockFlag::backward);
        }
        const double n = static_cast<double>(s.buffers.macroblock_info.size());
        state.counters["intra"] = intra / n;
        state.counters["forward"] = forward / n;
        state.counters["backward"] = backward / n;
    }
};

void BM_MotionEstimationP(benchmark::State& state) {
    MotionScene scene(state.range(0) != 0);
    for (auto _ : state) scene.estimate(2, 0);
    scene.report(state);
}
BENCHMARK(BM_MotionEstimationP)->Arg(1)->Arg(0)->ArgName("frame_pred_frame_dct")->Unit(benchmark::kMillisecond);

void BM_MotionEstimationB(benchmark::State& state) {
    MotionScene scene(state.range(0) != 0);
    int record = 1;
    for (auto _ : state) {
        scene.estimate(3, record);
        record = 3 - record;  // the first and the second B picture in turn
    }
    scene.estimate(3, 1);
    scene.report(state);
}
BENCHMARK(BM_MotionEstimationB)->Arg(1)->Arg(0)->ArgName("frame_pred_frame_dct")->Unit(benchmark::kMillisecond);

void BM_PredictionB(benchmark::State& state) {
    MotionScene scene(true);
    scene.estimate(3, 1);
    for (auto _ : state)
        predict_picture({scene.s.params, scene.s.geometry, scene.s.header}, scene.s.buffers.macroblock_info,
                        scene.s.report, scene.s.buffers.old_ref_frame, scene.s.buffers.new_ref_frame,
                        scene.s.buffers.pred_frame, 0);
}
BENCHMARK(BM_PredictionB)->Unit(benchmark::kMillisecond);

}  // namespace
