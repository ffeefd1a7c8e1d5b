// The parameters of one conversion, as read from the parameter lines; constant while coding.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

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

// Where the source pictures come from (the values of the parameter line); other values read nothing.
enum class InputPictureFormat { planar_files = 0, yuv_file = 1, movie = 2 };

// The values of the stream's chroma_format: how the chrominance planes are subsampled.
enum class ChromaFormat : int { yuv420 = 1, yuv422 = 2, yuv444 = 3 };

// The two halves of the stream's profile_and_level_indication. The reader keeps whatever number
// the parameter line holds: the checks refuse what the encoder cannot make, and a reserved
// profile (8 to 15) with any level of 0 to 15 goes into the stream as it was given.
enum class Profile : int { high = 1, spatially_scalable = 2, snr_scalable = 3, main = 4, simple = 5 };
enum class Level : int { high = 4, high_1440 = 6, main = 8, low = 10 };

// Where a ChromaFormat, Profile or Level goes into the stream, or is printed.
constexpr int syntax_value(ChromaFormat c) { return static_cast<int>(c); }
constexpr int syntax_value(Profile p) { return static_cast<int>(p); }
constexpr int syntax_value(Level l) { return static_cast<int>(l); }

struct Parameters {
    std::string id_string;
    std::string source_file_name_template;
    std::string reconstructed_file_name_template;
    std::string intra_quant_matrix_file_name;
    std::string non_intra_quant_matrix_file_name;
    std::string statistics_file_name;
    InputPictureFormat input_picture_format = InputPictureFormat::planar_files;
    int frame_count = 0;
    int first_frame = 0;
    int time_code_hours = 0;
    int time_code_minutes = 0;
    int time_code_seconds = 0;
    int time_code_pictures = 0;
    int N = 0;
    int M = 0;
    bool is_mpeg1 = false;        // an ISO/IEC 11172-2 stream rather than a 13818-2 one
    bool field_pictures = false;  // frames coded as two field pictures
    int horizontal_size = 0;
    int vertical_size = 0;
    int aspect_ratio_information = 0;
    int frame_rate_code = 0;
    double bit_rate = 0.0;
    int vbv_buffer_size = 0;
    bool low_delay = false;
    bool constrained_parameters_flag = false;
    Profile profile{};
    Level level{};
    bool progressive_sequence = false;
    ChromaFormat chroma_format{};
    int video_format = 0;
    int color_primaries = 0;
    int transfer_characteristics = 0;
    int matrix_coefficients = 0;
    int display_horizontal_size = 0;
    int display_vertical_size = 0;
    int intra_dc_precision = 0;
    bool top_field_first = false;
    // Per picture type: I, P, B.
    bool frame_pred_frame_dct_tab[3] = {};
    bool concealment_motion_vectors_tab[3] = {};
    bool q_scale_type_tab[3] = {};
    bool intra_vlc_format_tab[3] = {};
    bool alternate_scan_tab[3] = {};
    bool repeat_first_field = false;
    bool progressive_frame = false;
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

    // Derived from the lines above when they are read.
    double frame_rate = 0.0;
    int time_code_offset = 0;

    // Quantiser matrices, raster order.
    std::array<std::uint8_t, 64> intra_quant_matrix{};
    std::array<std::uint8_t, 64> non_intra_quant_matrix{};
    bool load_intra_quant_matrix = false;  // from a file rather than the default
    bool load_non_intra_quant_matrix = false;
};

}  // namespace vintrel
