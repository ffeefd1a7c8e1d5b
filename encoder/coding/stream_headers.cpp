// Sequence, group, picture headers and their extensions.
#include "encoder/coding/stream_headers.h"

#include <cmath>

#include "encoder/coding/bit_writer.h"
#include "encoder/coding/rate_control.h"
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

void start_code(EncoderState& s, std::uint32_t code) {
    align_to_byte(s.bits);
    write_bits(s.bits, code, 32);
}

void put(EncoderState& s, int value, int n) { write_bits(s.bits, static_cast<std::uint32_t>(value), n); }

// A loaded matrix goes out in zig-zag order.
void write_matrix(EncoderState& s, int loaded, const std::array<std::uint8_t, 64>& matrix) {
    put(s, loaded, 1);
    if (loaded)
        for (int n = 0; n < 64; n++) put(s, matrix[zigzag_scan[static_cast<std::size_t>(n)]], 8);
}

}  // namespace

int bit_rate_value(const EncoderState& s) { return static_cast<int>(std::ceil(s.params.bit_rate * 0.0025)); }

void write_sequence_header(EncoderState& s) {
    start_code(s, sequence_header_code);
    put(s, s.params.horizontal_size & 0xFFF, 12);
    put(s, s.params.vertical_size & 0xFFF, 12);
    put(s, s.params.aspect_ratio_information, 4);
    put(s, s.params.frame_rate_code, 4);
    put(s, bit_rate_value(s) & 0x3FFFF, 18);
    put(s, 1, 1);  // marker_bit
    put(s, s.params.vbv_buffer_size & 0x3FF, 10);
    put(s, s.params.constrained_parameters_flag, 1);
    write_matrix(s, s.params.load_intra_quant_matrix, s.params.intra_quant_matrix);
    write_matrix(s, s.params.load_non_intra_quant_matrix, s.params.non_intra_quant_matrix);
}

void write_sequence_extension(EncoderState& s) {
    start_code(s, extension_start_code);
    put(s, sequence_extension_id, 4);
    put(s, (s.params.profile << 4) | s.params.level, 8);
    put(s, s.params.progressive_sequence, 1);
    put(s, s.params.chroma_format, 2);
    put(s, s.params.horizontal_size >> 12, 2);
    put(s, s.params.vertical_size >> 12, 2);
    put(s, bit_rate_value(s) >> 18, 12);
    put(s, 1, 1);  // marker_bit
    put(s, s.params.vbv_buffer_size >> 10, 8);
    put(s, 0, 1);  // low_delay
    put(s, 0, 2);  // frame_rate_extension_n
    put(s, 0, 5);  // frame_rate_extension_d
}

void write_display_extension(EncoderState& s) {
    start_code(s, extension_start_code);
    put(s, sequence_display_extension_id, 4);
    put(s, s.params.video_format, 3);
    put(s, 1, 1);  // colour_description
    put(s, s.params.color_primaries, 8);
    put(s, s.params.transfer_characteristics, 8);
    put(s, s.params.matrix_coefficients, 8);
    put(s, s.params.display_horizontal_size, 14);
    put(s, 1, 1);  // marker_bit
    put(s, s.params.display_vertical_size, 14);
}

void write_user_data(EncoderState& s, const std::string& text) {
    start_code(s, user_data_start_code);
    for (char c : text) {
        if (c == '\0') break;
        put(s, static_cast<unsigned char>(c), 8);
    }
}

void write_gop_header(EncoderState& s, int frame, int closed_gop) {
    start_code(s, group_start_code);
    put(s, frame_to_time_code(s, s.params.time_code_offset + frame), 25);
    put(s, closed_gop, 1);
    put(s, 0, 1);  // broken_link
}

int frame_to_time_code(const EncoderState& s, int n) {
    const int fps = static_cast<int>(s.params.frame_rate + 0.5);
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

void write_picture_header(EncoderState& s) {
    start_code(s, picture_start_code);
    compute_vbv_delay(s);
    put(s, s.header.temporal_reference, 10);
    put(s, syntax_value(s.header.picture_type), 3);
    put(s, s.header.vbv_delay, 16);
    if (s.header.picture_type == PictureType::P || s.header.picture_type == PictureType::B) {
        put(s, 0, 1);  // full_pel_forward_vector
        put(s, s.params.is_mpeg1 ? s.header.forw_hor_f_code : 7, 3);
    }
    if (s.header.picture_type == PictureType::B) {
        put(s, 0, 1);  // full_pel_backward_vector
        put(s, s.params.is_mpeg1 ? s.header.back_hor_f_code : 7, 3);
    }
    put(s, 0, 1);  // extra_bit_picture
}

void write_picture_coding_extension(EncoderState& s) {
    start_code(s, extension_start_code);
    put(s, picture_coding_extension_id, 4);
    put(s, s.header.forw_hor_f_code, 4);
    put(s, s.header.forw_vert_f_code, 4);
    put(s, s.header.back_hor_f_code, 4);
    put(s, s.header.back_vert_f_code, 4);
    put(s, s.params.intra_dc_precision, 2);
    put(s, syntax_value(s.header.picture_structure), 2);
    put(s, s.header.picture_structure == PictureStructure::frame ? s.params.top_field_first : 0, 1);
    // Only frame pictures can restrict themselves to frame prediction and frame DCT.
    put(s, s.header.picture_structure == PictureStructure::frame ? s.header.frame_pred_frame_dct : 0, 1);
    put(s, 0, 1);  // concealment_motion_vectors
    put(s, s.header.q_scale_type, 1);
    put(s, s.header.intra_vlc_format, 1);
    put(s, s.header.alternate_scan, 1);
    put(s, s.params.repeat_first_field, 1);
    put(s, s.params.progressive_frame, 1);  // chroma_420_type
    put(s, s.params.progressive_frame, 1);
    put(s, 0, 1);  // composite_display_flag
}

void write_sequence_end(EncoderState& s) { start_code(s, sequence_end_code); }

}  // namespace vintrel
