// The sequence coder: coding order, groups of pictures, the per-picture pipeline.
#include "encoder/encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/encode_picture.h"
#include "encoder/coding/motion_estimation.h"
#include "encoder/coding/prediction.h"
#include "encoder/coding/quantise.h"
#include "encoder/coding/rate_control.h"
#include "encoder/coding/stream_headers.h"
#include "encoder/coding/transform.h"
#include "encoder/setup/encoder_state.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/statistics.h"

namespace vintrel {
namespace {

void swap_pictures(Picture& a, Picture& b) {
    for (int c = 0; c < 3; c++) std::swap(a.plane[static_cast<std::size_t>(c)], b.plane[static_cast<std::size_t>(c)]);
}

// Inverse quantisation of the picture's blocks in place.
void dequantise_picture(const Parameters& params, const Geometry& geometry, SimdLevel simd,
                        const std::vector<MacroblockInfo>& macroblocks, std::vector<Block>& blocks) {
    const int bpm = geometry.blocks_per_macroblock;
    const int count = geometry.macroblock_columns * geometry.field_macroblock_rows;
    for (int k = 0; k < count; k++) {
        const MacroblockInfo& mb = macroblocks[static_cast<std::size_t>(k)];
        for (int b = 0; b < bpm; b++) {
            std::int16_t* block = blocks[static_cast<std::size_t>(k * bpm + b)].data();
            if (mb.macroblock_type.has(MacroblockFlag::intra))
                dequantise_intra(simd, params.is_mpeg1, block, block, params.intra_dc_precision,
                                 params.intra_quant_matrix.data(), mb.mquant);
            else
                dequantise_non_intra(simd, params.is_mpeg1, block, block, params.non_intra_quant_matrix.data(),
                                     mb.mquant);
        }
    }
}

void print_picture_lines(std::FILE* out, const PictureHeader& header, int i, int f, const SearchRanges& r) {
    std::fprintf(out, "\nFrame %d (#%d in display order):\n", i, f);
    std::fprintf(out, " picture_type=%c\n", " IPBD"[syntax_value(header.picture_type)]);
    std::fprintf(out, " temporal_reference=%d\n", header.temporal_reference);
    std::fprintf(out, " frame_pred_frame_dct=%d\n", syntax_value(header.frame_pred_frame_dct));
    std::fprintf(out, " q_scale_type=%d\n", syntax_value(header.q_scale_type));
    std::fprintf(out, " intra_vlc_format=%d\n", syntax_value(header.intra_vlc_format));
    std::fprintf(out, " alternate_scan=%d\n", syntax_value(header.alternate_scan));
    auto range = [out](const char* direction, int width, int height, int hor_f_code, int vert_f_code) {
        std::fprintf(out, " %s search window: %d...%d / %d...%d\n", direction, -width, width, -height, height);
        std::fprintf(out, " %s vector range: %d...%d.5 / %d...%d.5\n", direction, -(4 << hor_f_code),
                     (4 << hor_f_code) - 1, -(4 << vert_f_code), (4 << vert_f_code) - 1);
    };
    if (header.picture_type != PictureType::I)
        range("forward", r.sxf, r.syf, header.forw_hor_f_code, header.forw_vert_f_code);
    if (header.picture_type == PictureType::B)
        range("backward", r.sxb, r.syb, header.back_hor_f_code, header.back_vert_f_code);
}

// An MPEG-1 picture header carries one f code per direction, which the decoder applies to both
// vector components; the larger of the two codes reaches every vector the searches can find.
void use_one_f_code_per_direction(PictureHeader& header) {
    header.forw_hor_f_code = header.forw_vert_f_code = std::max(header.forw_hor_f_code, header.forw_vert_f_code);
    header.back_hor_f_code = header.back_vert_f_code = std::max(header.back_hor_f_code, header.back_vert_f_code);
}

// The source and reconstruction buffers and the search ranges of the picture being coded.
struct PictureJob {
    Picture* source;
    Picture* reconstruction;
    SearchRanges ranges;
};

MotionPlanes planes_of(const Buffers& buffers, const PictureJob& job) {
    return {buffers.old_org_frame[0], buffers.new_org_frame[0], buffers.old_ref_frame[0],
            buffers.new_ref_frame[0], (*job.source)[0],         (*job.reconstruction)[0]};
}

void estimate(EncoderState& s, const PictureJob& job, bool second_field, bool i_to_p) {
    estimate_motion({s.params, s.geometry, s.header}, s.buffers.macroblock_info, s.report,
                    planes_of(s.buffers, job), job.ranges, second_field, i_to_p);
}

// Prediction, DCT-type decision and forward transform of the picture being coded.
void predict_and_transform(EncoderState& s, const PictureJob& job, bool second_field) {
    predict_picture({s.params, s.geometry, s.header}, s.buffers.macroblock_info, s.report,
                    s.buffers.old_ref_frame, s.buffers.new_ref_frame, s.buffers.pred_frame, second_field);
    choose_dct_type(s.geometry, s.header, s.buffers.macroblock_info, s.buffers.pred_frame[0], (*job.source)[0]);
    transform_picture({s.params, s.geometry, s.header}, s.kernels, s.buffers.macroblock_info, s.buffers.blocks,
                      s.buffers.pred_frame, *job.source);
}

// A picture's reconstruction is the reference of the predicted pictures after it and what a
// reconstruction sink receives. A sequence of intra frame pictures alone, without a sink, never
// reads it.
bool reconstruction_read(const Parameters& params, bool sink) { return params.N != 1 || params.field_pictures || sink; }

// Codes the picture, then rebuilds it from what was coded and reports its statistics.
void code_and_reconstruct(EncoderState& s, const PictureJob& job, bool sink) {
    encode_picture(s, (*job.source)[0]);
    if (reconstruction_read(s.params, sink)) {
        dequantise_picture(s.params, s.geometry, s.kernels.simd, s.buffers.macroblock_info, s.buffers.blocks);
        inverse_transform_picture({s.params, s.geometry, s.header}, s.kernels, s.buffers.macroblock_info,
                                  s.buffers.blocks, s.buffers.pred_frame, *job.reconstruction);
    }
    print_statistics(s.statistics.file, s.geometry, s.buffers.macroblock_info);
}

// Codes a frame as two fields.
void encode_field_pictures(EncoderState& s, PictureJob& job, bool sink) {
    s.report.progress(s.params.top_field_first ? "\nfirst field  (top) " : "\nfirst field  (bot) ");
    s.header.picture_structure = s.params.top_field_first ? PictureStructure::top_field : PictureStructure::bottom_field;
    estimate(s, job, false, false);
    predict_and_transform(s, job, false);
    code_and_reconstruct(s, job, sink);

    s.report.progress(s.params.top_field_first ? "second field (bot) " : "second field (top) ");
    s.header.picture_structure = s.params.top_field_first ? PictureStructure::bottom_field : PictureStructure::top_field;
    bool i_to_p = false;
    if (s.header.picture_type == PictureType::I) {
        // The second field of an I frame is predicted from the first.
        const MotionData& m = s.params.motion_data[0];
        s.header.picture_type = PictureType::P;
        s.header.forw_hor_f_code = m.forw_hor_f_code;
        s.header.forw_vert_f_code = m.forw_vert_f_code;
        s.header.back_hor_f_code = s.header.back_vert_f_code = 15;
        job.ranges.sxf = m.forw_search_width;
        job.ranges.syf = m.forw_search_height;
        i_to_p = true;
    }
    estimate(s, job, true, i_to_p);
    predict_and_transform(s, job, true);
    code_and_reconstruct(s, job, sink);
}

// Coding order: picture i of the sequence shows frame coded_display(i). A reference picture (I
// or P) comes M - 1 frames ahead of the B pictures shown before it; the last one of the sequence
// is its last frame.
bool is_reference(int i, int M) { return i == 0 || (i - 1) % M == 0; }

int coded_display(int i, int M, int frame_count) {
    if (i == 0) return 0;
    if (is_reference(i, M)) return std::min(i + M - 1, frame_count - 1);
    return i - 1;
}

// Whether frame d is coded as a B picture: then as picture d + 1.
bool shown_as_b(int d, int M, int frame_count) { return d + 1 < frame_count && d % M != 0; }

}  // namespace

Encoder::Encoder(ReconstructionSink sink) : state_(std::make_unique<EncoderState>()), sink_(std::move(sink)) {}

Result<std::unique_ptr<Encoder>, EncoderFailure> Encoder::open(const Parameters& params, std::FILE* stream,
                                                               Reporter report, ReconstructionSink sink) {
    std::unique_ptr<Encoder> encoder(new Encoder(std::move(sink)));
    EncoderState& s = *encoder->state_;
    s.params = params;
    s.report = std::move(report);
    s.bits.out = stream;
    try {
        init_encoder(s);
    } catch (const EncoderError& error) {
        return {nullptr, {EncoderFailure::fatal, {}, 0, error.what()}};
    }
    init_rate_control(s.rc, s.params, s.statistics.file);
    write_sequence_header(s.params, s.bits);
    if (!s.params.is_mpeg1) {
        write_sequence_extension(s.params, s.bits);
        write_display_extension(s.params, s.bits);
    }
    if (s.params.id_string.size() > 1) write_user_data(s.bits, s.params.id_string);
    return {std::move(encoder), {}};
}

Encoder::~Encoder() = default;

const Parameters& Encoder::parameters() const { return state_->params; }
const Geometry& Encoder::geometry() const { return state_->geometry; }
bool Encoder::write_failed() const { return state_->bits.write_failed; }
void Encoder::flush() { flush_bit_writer(state_->bits); }
bool Encoder::close_statistics() { return close_statistics_file(*state_); }

// A reference frame goes into the older reference's source picture, which the B pictures before
// the new one no longer need: coding the new reference swaps it in.
Picture& Encoder::next_picture() {
    Buffers& b = state_->buffers;
    const int M = state_->params.M;
    if (shown_as_b(given_, M, state_->params.frame_count))
        return b.b_org_frames[static_cast<std::size_t>((given_ - 1) % M)];
    return b.old_org_frame;
}

// The coding stages end on a fatal error by throwing EncoderError (fatal_error.h), which unwinds
// from however deep it was found; it stops here, the encoder's interface, and becomes its fault.
EncoderFault Encoder::encode_next() {
    const int frame_count = state_->params.frame_count;
    if (fault_.failed() || given_ >= frame_count) return fault_;
    given_++;
    try {
        while (coded_ < frame_count && coded_display(coded_, state_->params.M, frame_count) < given_)
            code_picture(coded_++);
    } catch (const EncoderError& error) {
        flush();
        fault_ = {EncoderFailure::fatal, {}, 0, error.what()};
    }
    return fault_;
}

EncoderFault Encoder::finish() {
    write_sequence_end(state_->bits);
    errno = 0;
    if (flush_bit_writer(state_->bits) && !state_->bits.write_failed) return {};
    return {EncoderFailure::stream_unwritable, {}, errno ? errno : EIO, {}};
}

void Encoder::code_picture(int i) {
    EncoderState& s = *state_;
    const int N = s.params.N, M = s.params.M;
    s.report.progress("Encoding frame " + std::to_string(i) + " ");

    int f0 = N * ((i + M - 1) / N) - (M - 1);
    if (f0 < 0) f0 = 0;
    const int f = coded_display(i, M, s.params.frame_count);
    PictureJob job{};
    if (is_reference(i, M)) {
        swap_pictures(s.buffers.old_org_frame, s.buffers.new_org_frame);
        swap_pictures(s.buffers.old_ref_frame, s.buffers.new_ref_frame);
        job.source = &s.buffers.new_org_frame;
        job.reconstruction = &s.buffers.new_ref_frame;
        if (f0 == i) {
            s.header.picture_type = PictureType::I;
            s.header.forw_hor_f_code = s.header.forw_vert_f_code = s.header.back_hor_f_code = s.header.back_vert_f_code = 15;
            int n = i == 0 ? N - (M - 1) : N;
            if (n > s.params.frame_count - f0) n = s.params.frame_count - f0;
            const int np = i == 0 ? (n + 2 * (M - 1)) / M - 1 : (n + M - 1) / M - 1;
            const int nb = n - np - 1;
            start_gop_rate_control(s.rc, s.params, s.statistics.file, np, nb);
            write_gop_header(s.params, s.bits, f0, i == 0);
        } else {
            const MotionData& m = s.params.motion_data[0];
            s.header.picture_type = PictureType::P;
            s.header.forw_hor_f_code = m.forw_hor_f_code;
            s.header.forw_vert_f_code = m.forw_vert_f_code;
            job.ranges.sxf = m.forw_search_width;
            job.ranges.syf = m.forw_search_height;
            s.header.back_hor_f_code = s.header.back_vert_f_code = 15;
        }
    } else {
        job.source = &s.buffers.b_org_frames[static_cast<std::size_t>((i - 2) % M)];
        job.reconstruction = &s.buffers.aux_frame;
        s.header.picture_type = PictureType::B;
        const MotionData& m = s.params.motion_data[static_cast<std::size_t>((i - 2) % M + 1)];
        s.header.forw_hor_f_code = m.forw_hor_f_code;
        s.header.forw_vert_f_code = m.forw_vert_f_code;
        s.header.back_hor_f_code = m.back_hor_f_code;
        s.header.back_vert_f_code = m.back_vert_f_code;
        job.ranges = {m.forw_search_width, m.forw_search_height, m.back_search_width, m.back_search_height};
    }
    if (s.params.is_mpeg1) use_one_f_code_per_direction(s.header);
    s.header.temporal_reference = f - f0;
    const int t = syntax_value(s.header.picture_type) - 1;
    s.header.frame_pred_frame_dct = s.params.frame_pred_frame_dct_tab[t];
    s.header.q_scale_type = s.params.q_scale_type_tab[t];
    s.header.intra_vlc_format = s.params.intra_vlc_format_tab[t];
    s.header.alternate_scan = s.params.alternate_scan_tab[t];
    print_picture_lines(s.statistics.file, s.header, i, f, job.ranges);

    const bool sink = static_cast<bool>(sink_);
    if (!s.params.field_pictures) {
        s.header.picture_structure = PictureStructure::frame;
        estimate(s, job, false, false);
        predict_and_transform(s, job, false);
        code_and_reconstruct(s, job, sink);
    } else {
        encode_field_pictures(s, job, sink);
    }
    if (sink)
        if (const EncoderFault fault = sink_(*job.reconstruction, f); fault.failed()) fatal_error(s, fault.detail);
}

}  // namespace vintrel
