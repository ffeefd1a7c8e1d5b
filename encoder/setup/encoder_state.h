// The encoder's whole state: parameters, derived sizes, buffers, files and the picture being coded.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "encoder/setup/reporter.h"

namespace vintrel {

// One record of motion search parameters: record 0 serves P pictures (forward only),
// record k > 0 the k-th B picture after a reference picture.
struct MotionData {
    int forw_hor_f_code = 0;
    int forw_vert_f_code = 0;
    int forw_search_width = 0;
    int forw_search_height = 0;
    int back_hor_f_code = 0;
    int back_vert_f_code = 0;
    int back_search_width = 0;
    int back_search_height = 0;
};

// The flags of MacroblockInfo::macroblock_type.
inline constexpr int intra_flag = 1;
inline constexpr int pattern_flag = 2;       // coded block pattern present
inline constexpr int backward_flag = 4;      // backward motion compensation
inline constexpr int forward_flag = 8;       // forward motion compensation
inline constexpr int quantiser_flag = 16;    // quantiser scale present

// Per-macroblock decisions of one coded picture, in raster order.
struct MacroblockInfo {
    int macroblock_type = 0;  // the flags above
    int motion_type = 0;
    int dct_type = 0;
    int mquant = 0;
    int coded_block_pattern = 0;
    int skipped = 0;
    int motion_vectors[2][2][2] = {};  // [first/second][forward/backward][horizontal/vertical]
    int field_select[2][2] = {};
    int dual_prime_vector[2] = {};
    double activity = 0.0;
    unsigned variance = 0;
};

// Three 8-bit planes: luminance, Cb, Cr.
struct Picture {
    std::array<std::vector<std::uint8_t>, 3> plane;
    std::uint8_t* operator[](int c) { return plane[c].data(); }
    const std::uint8_t* operator[](int c) const { return plane[c].data(); }
};

// Packs bits most significant first and counts them. Bits wait in `pending` until they make
// whole bytes; the bytes collect in `buffer` and go to `out` when it fills or on flush_bit_writer.
struct BitWriter {
    std::uint64_t pending = 0;   // bits not yet in the buffer, in the low `pending_bits`
    int pending_bits = 0;        // 0..31
    std::int64_t bytes_written = 0;  // bytes moved into the buffer so far
    std::vector<std::uint8_t> buffer;
    std::FILE* out = nullptr;
    bool write_failed = false;   // a write to `out` came back short
};

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

// Constant tables of the transforms, filled once by init_forward_dct and init_inverse_dct.
// The best vector instruction level this processor offers: 0 none, 1 SSE2, 2 AVX2.
inline int processor_simd_level() {
#if defined(__SSE2__)
    return __builtin_cpu_supports("avx2") ? 2 : 1;
#else
    return 0;
#endif
}

struct TransformTables {
    double dct_basis[8][8] = {};             // [frequency u][sample x]
    std::int16_t idct_clip_table[1024] = {};  // entry i + 512 for i in -512..511
    // dct_basis transposed, [sample x][frequency u]: the row pass reads eight frequencies at once.
    double dct_basis_by_sample[8][8] = {};
    // Instruction set of the transform kernels: 0 plain C++, 1 SSE2, 2 AVX2. Every level gives
    // the same results; init_forward_dct picks the best one the processor runs.
    int simd_level = 0;
};

// Full-resolution colour-difference work planes of the movie path (kept between frames).
struct ColourWorkPlanes {
    std::vector<std::uint8_t> cb_full, cr_full;  // coded_width x coded_height
    std::vector<std::uint8_t> cb_half, cr_half;  // (coded_width / 2) x coded_height, 4:2:0 only
    double kr = 0.0, kg = 0.0, kb = 0.0, cu = 0.0, cv = 0.0;
    // Samples of every grey R = G = B under the coefficients above, refilled for each picture,
    // so the per-pixel conversion of the dithered greys is a table look-up.
    std::array<std::uint8_t, 256> grey_luminance{}, grey_cb{}, grey_cr{};
    bool grey_chroma_constant = false;  // grey_cb and grey_cr each hold one value throughout
    // Whether every colour-difference sample of the picture so far had the same value (as for
    // any grey picture); then the subsampled planes are that value passed through the filters.
    std::size_t chroma_samples = 0;
    bool chroma_uniform = true;
    std::uint8_t uniform_cb = 0, uniform_cr = 0;
};

// Fills a source picture with movie frame n (input_picture_format 2); set by the conversion.
using MovieFrameReader = std::function<void(Picture& picture, int n)>;

// Runs the window messages that are waiting during long work; returns true while there were any.
using MessagePump = std::function<bool()>;

struct EncoderState {
    // Parameters, as read from the parameter lines.
    std::string id_string;
    std::string source_file_name_template;
    std::string reconstructed_file_name_template;
    std::string intra_quant_matrix_file_name;
    std::string non_intra_quant_matrix_file_name;
    std::string statistics_file_name;
    int input_picture_format = 0;
    int frame_count = 0;
    int first_frame = 0;
    int time_code_hours = 0;
    int time_code_minutes = 0;
    int time_code_seconds = 0;
    int time_code_pictures = 0;
    int N = 0;
    int M = 0;
    int is_mpeg1 = 0;
    int field_pictures = 0;
    int horizontal_size = 0;
    int vertical_size = 0;
    int aspect_ratio_information = 0;
    int frame_rate_code = 0;
    double bit_rate = 0.0;
    int vbv_buffer_size = 0;
    int low_delay = 0;
    int constrained_parameters_flag = 0;
    int profile = 0;
    int level = 0;
    int progressive_sequence = 0;
    int chroma_format = 0;
    int video_format = 0;
    int color_primaries = 0;
    int transfer_characteristics = 0;
    int matrix_coefficients = 0;
    int display_horizontal_size = 0;
    int display_vertical_size = 0;
    int intra_dc_precision = 0;
    int top_field_first = 0;
    int frame_pred_frame_dct_tab[3] = {};
    int concealment_motion_vectors_tab[3] = {};
    int q_scale_type_tab[3] = {};
    int intra_vlc_format_tab[3] = {};
    int alternate_scan_tab[3] = {};
    int repeat_first_field = 0;
    int progressive_frame = 0;
    int P = 0;
    int r = 0;
    double avg_act = 0.0;
    int Xi = 0;
    int Xp = 0;
    int Xb = 0;
    int d0i = 0;
    int d0p = 0;
    int d0b = 0;
    std::vector<MotionData> motion_data;

    // Derived by read_parameters.
    double frame_rate = 0.0;
    int time_code_offset = 0;

    // Quantiser matrices, raster order.
    std::array<std::uint8_t, 64> intra_quant_matrix{};
    std::array<std::uint8_t, 64> non_intra_quant_matrix{};
    int load_intra_quant_matrix = 0;
    int load_non_intra_quant_matrix = 0;

    // Sizes derived by init_encoder.
    int macroblock_columns = 0;
    int macroblock_rows = 0;
    int field_macroblock_rows = 0;
    int coded_width = 0;
    int coded_height = 0;
    int chroma_width = 0;
    int chroma_height = 0;
    int picture_height = 0;
    int line_stride = 0;
    int chroma_line_stride = 0;
    int blocks_per_macroblock = 0;

    // Maps -384..639 to 0..255; clip(i) reads entry i + 384.
    std::array<std::uint8_t, 1024> clip_table{};
    std::uint8_t clip(int i) const { return clip_table[static_cast<std::size_t>(i + 384)]; }

    // Picture buffers.
    Picture new_ref_frame, old_ref_frame, aux_frame;
    Picture new_org_frame, old_org_frame, aux_org_frame;
    Picture pred_frame;

    std::vector<MacroblockInfo> macroblock_info;
    std::vector<std::array<std::int16_t, 64>> blocks;

    // Files: the statistics file is owned here unless it is the standard output.
    std::FILE* statistics_file = nullptr;
    bool statistics_file_owned = false;

    // State of the picture being coded.
    int picture_type = 0;  // 1 I, 2 P, 3 B
    int temporal_reference = 0;
    int picture_structure = 0;  // 1 top field, 2 bottom field, 3 frame
    int forw_hor_f_code = 0;
    int forw_vert_f_code = 0;
    int back_hor_f_code = 0;
    int back_vert_f_code = 0;
    int frame_pred_frame_dct = 0;
    int q_scale_type = 0;
    int intra_vlc_format = 0;
    int alternate_scan = 0;
    int vbv_delay = 0;
    int dc_predictor[3] = {};

    BitWriter bits;
    RateControl rc;
    TransformTables transform;
    ColourWorkPlanes colour;

    Reporter report;
    MovieFrameReader read_movie_frame;
    MessagePump pump_waiting_messages;

    EncoderState() = default;
    EncoderState(const EncoderState&) = delete;
    EncoderState& operator=(const EncoderState&) = delete;
    ~EncoderState();
};

}  // namespace vintrel
