// The sequence coder's frame loop.
#include "encoder/coding/encode_sequence.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "encoder/coding/encode_picture.h"
#include "encoder/coding/motion_estimation.h"
#include "encoder/coding/prediction.h"
#include "encoder/coding/quantise.h"
#include "encoder/coding/rate_control.h"
#include "encoder/coding/stream_headers.h"
#include "encoder/coding/transform.h"
#include "encoder/setup/colour_conversion.h"
#include "encoder/setup/frame_names.h"
#include "encoder/setup/statistics.h"

namespace vintrel {
namespace {

// Lets the user interface run, then reports whether the user asked to stop.
bool cancelled(EncoderState& s, const int* cancel_flag) {
    if (s.pump_waiting_messages)
        while (s.pump_waiting_messages()) {
        }
    return cancel_flag && *cancel_flag != 0;
}

void swap_pictures(Picture& a, Picture& b) {
    for (int c = 0; c < 3; c++) std::swap(a.plane[static_cast<std::size_t>(c)], b.plane[static_cast<std::size_t>(c)]);
}

// Inverse quantisation of the picture's blocks in place. With a cancel flag, checks it before
// each macroblock and stops early when it is set (the caller ends the loop at its next checkpoint).
void dequantise_picture(EncoderState& s, const int* checkpoint_cancel_flag) {
    const int bpm = s.blocks_per_macroblock;
    const int count = s.macroblock_columns * s.field_macroblock_rows;
    for (int k = 0; k < count; k++) {
        if (checkpoint_cancel_flag && cancelled(s, checkpoint_cancel_flag)) return;
        const MacroblockInfo& mb = s.macroblock_info[static_cast<std::size_t>(k)];
        for (int b = 0; b < bpm; b++) {
            std::int16_t* block = s.blocks[static_cast<std::size_t>(k * bpm + b)].data();
            if (mb.macroblock_type & intra_flag)
                dequantise_intra(s, block, block, s.intra_dc_precision, s.intra_quant_matrix.data(), mb.mquant);
            else
                dequantise_non_intra(s, block, block, s.non_intra_quant_matrix.data(), mb.mquant);
        }
    }
}

void print_picture_lines(EncoderState& s, int i, int f, const SearchRanges& r) {
    std::FILE* out = s.statistics_file;
    std::fprintf(out, "\nFrame %d (#%d in display order):\n", i, f);
    std::fprintf(out, " picture_type=%c\n", " IPBD"[s.picture_type]);
    std::fprintf(out, " temporal_reference=%d\n", s.temporal_reference);
    std::fprintf(out, " frame_pred_frame_dct=%d\n", s.frame_pred_frame_dct);
    std::fprintf(out, " q_scale_type=%d\n", s.q_scale_type);
    std::fprintf(out, " intra_vlc_format=%d\n", s.intra_vlc_format);
    std::fprintf(out, " alternate_scan=%d\n", s.alternate_scan);
    auto range = [out](const char* direction, int width, int height, int hor_f_code, int vert_f_code) {
        std::fprintf(out, " %s search window: %d...%d / %d...%d\n", direction, -width, width, -height, height);
        std::fprintf(out, " %s vector range: %d...%d.5 / %d...%d.5\n", direction, -(4 << hor_f_code),
                     (4 << hor_f_code) - 1, -(4 << vert_f_code), (4 << vert_f_code) - 1);
    };
    if (s.picture_type != 1) range("forward", r.sxf, r.syf, s.forw_hor_f_code, s.forw_vert_f_code);
    if (s.picture_type == 3) range("backward", r.sxb, r.syb, s.back_hor_f_code, s.back_vert_f_code);
}

// An MPEG-1 picture header carries one f code per direction, which the decoder applies to both
// vector components; the larger of the two codes reaches every vector the searches can find.
void use_one_f_code_per_direction(EncoderState& s) {
    s.forw_hor_f_code = s.forw_vert_f_code = std::max(s.forw_hor_f_code, s.forw_vert_f_code);
    s.back_hor_f_code = s.back_vert_f_code = std::max(s.back_hor_f_code, s.back_vert_f_code);
}

// The source and reconstruction buffers and the search ranges of the picture being coded.
struct PictureJob {
    Picture* source;
    Picture* reconstruction;
    SearchRanges ranges;
};

MotionPlanes planes_of(EncoderState& s, const PictureJob& job) {
    return {s.old_org_frame[0], s.new_org_frame[0], s.old_ref_frame[0],
            s.new_ref_frame[0], (*job.source)[0],   (*job.reconstruction)[0]};
}

void estimate(EncoderState& s, const PictureJob& job, int second_field, int i_to_p) {
    estimate_motion(s, planes_of(s, job), job.ranges, second_field, i_to_p);
}

// Prediction, DCT-type decision and forward transform of the picture being coded.
void predict_and_transform(EncoderState& s, const PictureJob& job, int second_field) {
    predict_picture(s, s.old_ref_frame, s.new_ref_frame, s.pred_frame, second_field);
    choose_dct_type(s, s.pred_frame[0], (*job.source)[0]);
    transform_picture(s, s.pred_frame, *job.source);
}

// Codes the picture, then rebuilds it from what was coded and reports its statistics. With a
// cancel flag the inverse quantisation checks it before every macroblock (first fields).
// A picture's reconstruction is the reference of the predicted pictures after it and what the
// reconstructed-picture files hold. A sequence of intra frame pictures alone, written without
// those files, never reads it.
bool reconstruction_read(const EncoderState& s) {
    return s.N != 1 || s.field_pictures || !s.reconstructed_file_name_template.starts_with('-');
}

void code_and_reconstruct(EncoderState& s, const PictureJob& job, const int* checkpoint_cancel_flag) {
    encode_picture(s, (*job.source)[0]);
    if (reconstruction_read(s)) {
        dequantise_picture(s, checkpoint_cancel_flag);
        inverse_transform_picture(s, s.pred_frame, *job.reconstruction);
    }
    print_statistics(s);
}

// Codes a frame as two fields. Returns false when the user stopped in between.
bool encode_field_pictures(EncoderState& s, PictureJob& job, const int* cancel_flag) {
    s.report.progress(s.top_field_first ? "\nfirst field  (top) " : "\nfirst field  (bot) ");
    s.picture_structure = s.top_field_first ? 1 : 2;
    estimate(s, job, 0, 0);
    predict_and_transform(s, job, 0);
    code_and_reconstruct(s, job, cancel_flag);

    s.report.progress(s.top_field_first ? "second field (bot) " : "second field (top) ");
    if (cancelled(s, cancel_flag)) return false;
    s.picture_structure = s.top_field_first ? 2 : 1;
    int i_to_p = 0;
    if (s.picture_type == 1) {
        // The second field of an I frame is predicted from the first.
        const MotionData& m = s.motion_data[0];
        s.picture_type = 2;
        s.forw_hor_f_code = m.forw_hor_f_code;
        s.forw_vert_f_code = m.forw_vert_f_code;
        s.back_hor_f_code = s.back_vert_f_code = 15;
        job.ranges.sxf = m.forw_search_width;
        job.ranges.syf = m.forw_search_height;
        i_to_p = 1;
    }
    if (cancelled(s, cancel_flag)) return false;
    estimate(s, job, 1, i_to_p);
    predict_and_transform(s, job, 1);
    if (cancelled(s, cancel_flag)) return false;
    code_and_reconstruct(s, job, nullptr);
    return true;
}

}  // namespace

void encode_sequence(EncoderState& s, const int* cancel_flag) {
    init_rate_control(s);
    write_sequence_header(s);
    if (!s.is_mpeg1) {
        write_sequence_extension(s);
        write_display_extension(s);
    }
    if (s.id_string.size() > 1) write_user_data(s, s.id_string);

    const int N = s.N, M = s.M;
    for (int i = 0; i < s.frame_count; i++) {
        if (cancelled(s, cancel_flag)) break;
        s.report.progress("Encoding frame " + std::to_string(i) + " ");

        int f0 = N * ((i + M - 1) / N) - (M - 1);
        if (f0 < 0) f0 = 0;
        int f;
        PictureJob job{};
        if (i == 0 || (i - 1) % M == 0) {
            swap_pictures(s.old_org_frame, s.new_org_frame);
            swap_pictures(s.old_ref_frame, s.new_ref_frame);
            job.source = &s.new_org_frame;
            job.reconstruction = &s.new_ref_frame;
            f = i == 0 ? 0 : i + M - 1;
            if (f >= s.frame_count) f = s.frame_count - 1;
            if (f0 == i) {
                s.picture_type = 1;
                s.forw_hor_f_code = s.forw_vert_f_code = s.back_hor_f_code = s.back_vert_f_code = 15;
                int n = i == 0 ? N - (M - 1) : N;
                if (n > s.frame_count - f0) n = s.frame_count - f0;
                const int np = i == 0 ? (n + 2 * (M - 1)) / M - 1 : (n + M - 1) / M - 1;
                const int nb = n - np - 1;
                start_gop_rate_control(s, np, nb);
                write_gop_header(s, f0, i == 0 ? 1 : 0);
            } else {
                const MotionData& m = s.motion_data[0];
                s.picture_type = 2;
                s.forw_hor_f_code = m.forw_hor_f_code;
                s.forw_vert_f_code = m.forw_vert_f_code;
                job.ranges.sxf = m.forw_search_width;
                job.ranges.syf = m.forw_search_height;
                s.back_hor_f_code = s.back_vert_f_code = 15;
            }
        } else {
            job.source = &s.aux_org_frame;
            job.reconstruction = &s.aux_frame;
            f = i - 1;
            s.picture_type = 3;
            const MotionData& m = s.motion_data[static_cast<std::size_t>((i - 2) % M + 1)];
            s.forw_hor_f_code = m.forw_hor_f_code;
            s.forw_vert_f_code = m.forw_vert_f_code;
            s.back_hor_f_code = m.back_hor_f_code;
            s.back_vert_f_code = m.back_vert_f_code;
            job.ranges = {m.forw_search_width, m.forw_search_height, m.back_search_width, m.back_search_height};
        }
        if (s.is_mpeg1) use_one_f_code_per_direction(s);
        s.temporal_reference = f - f0;
        const int t = s.picture_type - 1;
        s.frame_pred_frame_dct = s.frame_pred_frame_dct_tab[t];
        s.q_scale_type = s.q_scale_type_tab[t];
        s.intra_vlc_format = s.intra_vlc_format_tab[t];
        s.alternate_scan = s.alternate_scan_tab[t];
        print_picture_lines(s, i, f, job.ranges);

        if (cancelled(s, cancel_flag)) break;
        read_frame(s, format_frame_name(s.source_file_name_template, f + s.first_frame), *job.source, i);

        if (!s.field_pictures) {
            if (cancelled(s, cancel_flag)) break;
            s.picture_structure = 3;
            estimate(s, job, 0, 0);
            if (cancelled(s, cancel_flag)) break;
            predict_and_transform(s, job, 0);
            if (cancelled(s, cancel_flag)) break;
            code_and_reconstruct(s, job, nullptr);
        } else if (!encode_field_pictures(s, job, cancel_flag)) {
            break;
        }
        if (cancelled(s, cancel_flag)) break;
        write_frame(s, format_frame_name(s.reconstructed_file_name_template, f + s.first_frame), *job.reconstruction);
    }
    write_sequence_end(s);
}

}  // namespace vintrel
