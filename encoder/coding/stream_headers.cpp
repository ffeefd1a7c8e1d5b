// Sequence, group, picture headers and their extensions.
#include "encoder/coding/stream_headers.h"

#include <cmath>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/scan_tables.h"

namespace vintrel {
namespace {

constexpr std::uint32_t picture_start_code = 0x100;
constexpr std::uint32_t user_data_start_code = 0x1B2;
constexpr std::uint32_t sequence_header_code = 0x1B3;
constexpr std::uint32_t extension_start_code = 0x1B5;
constexpr std::uint32_t sequence_end_code = 0x1B7;
constexpr std::uint32_t group_start_code = 0x1B8;

constexpr int sequence_extension_id = 1;
constexpr int sequence_display_extension_id = 2;
constexpr int picture_coding_extension_id = 8;

void start_code(BitWriter& w, std::uint32_t code) {
    align_to_byte(w);
    write_bits(w, code, 32);
}

void put(BitWriter& w, int value, int n) { write_bits(w, static_cast<std::uint32_t>(value), n); }

// A loaded matrix goes out in zig-zag order.
void write_matrix(BitWriter& w, bool loaded, const std::array<std::uint8_t, 64>& matrix) {
    put(w, syntax_value(loaded), 1);
    if (loaded)
        for (int n = 0; n < 64; n++) put(w, matrix[zigzag_scan[static_cast<std::size_t>(n)]], 8);
}

}  // namespace

int bit_rate_value(const Parameters& p) { return static_cast<int>(std::ceil(p.bit_rate * 0.0025)); }

void write_sequence_header(const Parameters& p, BitWriter& w) {
    start_code(w, sequence_header_code);
    put(w, p.horizontal_size & 0xFFF, 12);
    put(w, p.vertical_size & 0xFFF, 12);
    put(w, p.aspect_ratio_information, 4);
    put(w, p.frame_rate_code, 4);
    put(w, bit_rate_value(p) & 0x3FFFF, 18);
    put(w, 1, 1);  // marker_bit
    put(w, p.vbv_buffer_size & 0x3FF, 10);
    put(w, syntax_value(p.constrained_parameters_flag), 1);
    write_matrix(w, p.load_intra_quant_matrix, p.intra_quant_matrix);
    write_matrix(w, p.load_non_intra_quant_matrix, p.non_intra_quant_matrix);
}

void write_sequence_extension(const Parameters& p, BitWriter& w) {
    start_code(w, extension_start_code);
    put(w, sequence_extension_id, 4);
    put(w, (syntax_value(p.profile) << 4) | syntax_value(p.level), 8);
    put(w, syntax_value(p.progressive_sequence), 1);
    put(w, syntax_value(p.chroma_format), 2);
    put(w, p.horizontal_size >> 12, 2);
    put(w, p.vertical_size >> 12, 2);
    put(w, bit_rate_value(p) >> 18, 12);
    put(w, 1, 1);  // marker_bit
    put(w, p.vbv_buffer_size >> 10, 8);
    put(w, 0, 1);  // low_delay
    put(w, 0, 2);  // frame_rate_extension_n
    put(w, 0, 5);  // frame_rate_extension_d
}

void write_display_extension(const Parameters& p, BitWriter& w) {
    start_code(w, extension_start_code);
    put(w, sequence_display_extension_id, 4);
    put(w, p.video_format, 3);
    put(w, 1, 1);  // colour_description
    put(w, p.color_primaries, 8);
    put(w, p.transfer_characteristics, 8);
    put(w, p.matrix_coefficients, 8);
    put(w, p.display_horizontal_size, 14);
    put(w, 1, 1);  // marker_bit
    put(w, p.display_vertical_size, 14);
}

void write_user_data(BitWriter& w, const std::string& text) {
    start_code(w, user_data_start_code);
    for (char c : text) {
        if (c == '\0') break;
        put(w, static_cast<unsigned char>(c), 8);
    }
}

void write_gop_header(const Parameters& p, BitWriter& w, int frame, bool closed_gop) {
    start_code(w, group_start_code);
    put(w, frame_to_time_code(p, p.time_code_offset + frame), 25);
    put(w, syntax_value(closed_gop), 1);
    put(w, 0, 1);  // broken_link
}

int frame_to_time_code(const Parameters& p, int n) {
    const int fps = static_cast<int>(p.frame_rate + 0.5);
    const int pictures = n % fps;
    n = (n - pictures) / fps;
    const int seconds = n % 60;
    n = (n - seconds) / 60;
    const int minutes = n % 60;
    n = (n - minutes) / 60;
    const int hours = n % 24;
    // drop_frame_flag 0, hours (5 bits), minutes (6), marker bit, seconds (6), pictures (6).
    return static_cast<int>((static_cast<unsigned>(hours) & 31) << 19 | (static_cast<unsigned>(minutes) & 63) << 13 |
                            1u << 12 | (static_cast<unsigned>(seconds) & 63) << 6 |
                            (static_cast<unsigned>(pictures) & 63));
}

void write_picture_header(const PictureHeader& h, const Parameters& p, BitWriter& w) {
    start_code(w, picture_start_code);
    put(w, h.temporal_reference, 10);
    put(w, syntax_value(h.picture_type), 3);
    put(w, h.vbv_delay, 16);
    if (h.picture_type == PictureType::P || h.picture_type == PictureType::B) {
        put(w, 0, 1);  // full_pel_forward_vector
        put(w, p.is_mpeg1 ? h.forw_hor_f_code : 7, 3);
    }
    if (h.picture_type == PictureType::B) {
        put(w, 0, 1);  // full_pel_backward_vector
        put(w, p.is_mpeg1 ? h.back_hor_f_code : 7, 3);
    }
    put(w, 0, 1);  // extra_bit_picture
}

void write_picture_coding_extension(const PictureHeader& h, const Parameters& p, BitWriter& w) {
    start_code(w, extension_start_code);
    put(w, picture_coding_extension_id, 4);
    put(w, h.forw_hor_f_code, 4);
    put(w, h.forw_vert_f_code, 4);
    put(w, h.back_hor_f_code, 4);
    put(w, h.back_vert_f_code, 4);
    put(w, p.intra_dc_precision, 2);
    put(w, syntax_value(h.picture_structure), 2);
    put(w, h.picture_structure == PictureStructure::frame ? syntax_value(p.top_field_first) : 0, 1);
    // Only frame pictures can restrict themselves to frame prediction and frame DCT.
    put(w, h.picture_structure == PictureStructure::frame ? syntax_value(h.frame_pred_frame_dct) : 0, 1);
    put(w, 0, 1);  // concealment_motion_vectors
    put(w, syntax_value(h.q_scale_type), 1);
    put(w, syntax_value(h.intra_vlc_format), 1);
    put(w, syntax_value(h.alternate_scan), 1);
    put(w, syntax_value(p.repeat_first_field), 1);
    put(w, syntax_value(p.progressive_frame), 1);  // chroma_420_type
    put(w, syntax_value(p.progressive_frame), 1);
    put(w, 0, 1);  // composite_display_flag
}

void write_sequence_end(BitWriter& w) { start_code(w, sequence_end_code); }

}  // namespace vintrel
