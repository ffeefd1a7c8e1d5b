// Encoder initialisation for one conversion.
#include "encoder/setup/init_encoder.h"

#include <algorithm>
#include <new>
#include <vector>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/transform.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

void allocate_buffers(Buffers& buffers, const Geometry& geometry, int b_frames_between_references) {
    const std::size_t luma =
        static_cast<std::size_t>(geometry.coded_width) * static_cast<std::size_t>(geometry.coded_height);
    const std::size_t chroma =
        static_cast<std::size_t>(geometry.chroma_width) * static_cast<std::size_t>(geometry.chroma_height);
    buffers.b_org_frames.resize(static_cast<std::size_t>(std::max(b_frames_between_references, 0)));
    std::vector<Picture*> pictures = {&buffers.new_ref_frame, &buffers.old_ref_frame, &buffers.aux_frame,
                                      &buffers.new_org_frame, &buffers.old_org_frame, &buffers.pred_frame};
    for (Picture& p : buffers.b_org_frames) pictures.push_back(&p);
    for (int c = 0; c < 3; c++)
        for (Picture* p : pictures) p->plane[static_cast<std::size_t>(c)].assign(c == 0 ? luma : chroma, 0);
    const std::size_t macroblocks = static_cast<std::size_t>(geometry.macroblock_columns) *
                                    static_cast<std::size_t>(geometry.field_macroblock_rows);
    buffers.macroblock_info.assign(macroblocks, MacroblockInfo{});
    buffers.blocks.assign(macroblocks * static_cast<std::size_t>(geometry.blocks_per_macroblock), {});
}

}  // namespace

void init_encoder(EncoderState& s) {
    init_bit_writer(s.bits, s.bits.out);  // the stream file stays the one the caller opened
    init_kernels(s.kernels);
    s.geometry = compute_geometry(s.params);
    try {
        allocate_buffers(s.buffers, s.geometry, s.params.M - 1);
    } catch (const std::bad_alloc&) {
        fatal_error(s, "malloc failed\n");
    }

    close_statistics_file(s);
    if (!s.params.statistics_file_name.empty() && s.params.statistics_file_name[0] == '-') {
        s.statistics.file = stdout;
        s.statistics.owned = false;
    } else {
        s.statistics.file = std::fopen(s.params.statistics_file_name.c_str(), "w");
        if (!s.statistics.file)
            fatal_error(s, error_text("Couldn't create statistics output file %s", s.params.statistics_file_name.c_str()));
        s.statistics.owned = true;
    }
}

bool close_statistics_file(EncoderState& s) {
    if (!s.statistics.file) return true;
    bool ok;
    if (s.statistics.owned) {
        const bool had_error = std::ferror(s.statistics.file) != 0;
        ok = std::fclose(s.statistics.file) == 0 && !had_error;
    } else {
        ok = std::fflush(s.statistics.file) == 0 && std::ferror(s.statistics.file) == 0;
    }
    s.statistics.file = nullptr;
    s.statistics.owned = false;
    return ok;
}

EncoderState::~EncoderState() { close_statistics_file(*this); }

}  // namespace vintrel
