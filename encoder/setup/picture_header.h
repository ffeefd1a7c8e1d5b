// The header values of the picture being coded, decided before they are written.
#pragma once

namespace vintrel {

struct PictureHeader {
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
};

}  // namespace vintrel
