// The header values of the picture being coded, decided before they are written.
#pragma once

namespace vintrel {

// The values are those of the stream syntax.
enum class PictureType { I = 1, P = 2, B = 3 };
enum class PictureStructure { top_field = 1, bottom_field = 2, frame = 3 };

// Where a PictureType or PictureStructure goes into the stream, or indexes a per-type table.
constexpr int syntax_value(PictureType t) { return static_cast<int>(t); }
constexpr int syntax_value(PictureStructure s) { return static_cast<int>(s); }

struct PictureHeader {
    PictureType picture_type{};  // 0 until the first picture is decided
    int temporal_reference = 0;
    PictureStructure picture_structure{};
    int forw_hor_f_code = 0;
    int forw_vert_f_code = 0;
    int back_hor_f_code = 0;
    int back_vert_f_code = 0;
    bool frame_pred_frame_dct = false;
    bool q_scale_type = false;
    bool intra_vlc_format = false;
    bool alternate_scan = false;
    int vbv_delay = 0;
};

}  // namespace vintrel
