// Range, profile and level checks.
#include "encoder/setup/conformance_checks.h"

#include <cstdio>

#include "encoder/setup/fatal_error.h"
#include "encoder/setup/level_limits.h"

namespace vintrel {
namespace {

bool outside(int v, int low, int high) { return v < low || v > high; }

// Colour description values 1..7 without the reserved 3.
bool bad_colour_value(int v) { return outside(v, 1, 7) || v == 3; }

void check_f_code(EncoderState& s, int f_code) {
    if (outside(f_code, 1, 9)) fatal_error(s, "f_code must be between 1 and 9");
}

void check_mpeg1_f_code(EncoderState& s, int f_code) {
    if (s.params.is_mpeg1 && f_code > 7) fatal_error(s, "f_code must be le less than 8");
}

void check_search(EncoderState& s, int range) {
    if (range < 1) fatal_error(s, "search window must be positive");
}

void check_direction(EncoderState& s, int hor_f_code, int vert_f_code, int width, int height) {
    check_f_code(s, hor_f_code);
    check_f_code(s, vert_f_code);
    check_mpeg1_f_code(s, hor_f_code);
    check_mpeg1_f_code(s, vert_f_code);
    check_search(s, width);
    check_search(s, height);
}

}  // namespace

void check_ranges(EncoderState& s) {
    if (outside(s.params.horizontal_size, 1, 16383)) fatal_error(s, "horizontal_size must be between 1 and 16383");
    if (s.params.is_mpeg1 && s.params.horizontal_size >= 4096)
        fatal_error(s, "horizontal_size must be less than 4096 (MPEG-1)");
    if ((s.params.horizontal_size & 4095) == 0) fatal_error(s, "horizontal_size must not be a multiple of 4096");
    if (s.params.chroma_format != 3 && s.params.horizontal_size % 2 != 0)
        fatal_error(s, "horizontal_size must be a even (4:2:0 / 4:2:2)");
    if (outside(s.params.vertical_size, 1, 16383)) fatal_error(s, "vertical_size must be between 1 and 16383");
    if (s.params.is_mpeg1 && s.params.vertical_size >= 4096) fatal_error(s, "vertical size must be less than 4096 (MPEG-1)");
    if ((s.params.vertical_size & 4095) == 0) fatal_error(s, "vertical_size must not be a multiple of 4096");
    if (s.params.chroma_format == 1 && s.params.vertical_size % 2 != 0) fatal_error(s, "vertical_size must be a even (4:2:0)");
    if (s.params.field_pictures) {
        if (s.params.vertical_size % 2 != 0) fatal_error(s, "vertical_size must be a even (field pictures)");
        if (s.params.chroma_format == 1 && s.params.vertical_size % 4 != 0)
            fatal_error(s, "vertical_size must be a multiple of 4 (4:2:0 field pictures)");
    }
    if (s.params.is_mpeg1) {
        if (outside(s.params.aspect_ratio_information, 1, 14))
            fatal_error(s, "pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    } else if (outside(s.params.aspect_ratio_information, 1, 4)) {
        fatal_error(s, "aspect_ratio_information must be 1, 2, 3 or 4");
    }
    if (outside(s.params.frame_rate_code, 1, 8)) fatal_error(s, "frame_rate code must be between 1 and 8");
    if (s.params.bit_rate <= 0.0) fatal_error(s, "bit_rate must be positive");
    if (s.params.bit_rate > 429496729200.0) fatal_error(s, "bit_rate must be less than 429 Gbit/s");
    if (s.params.is_mpeg1 && s.params.bit_rate > 104857200.0) fatal_error(s, "bit_rate must be less than 104 Mbit/s (MPEG-1)");
    if (outside(s.params.vbv_buffer_size, 1, 262143)) fatal_error(s, "vbv_buffer_size must be in range 1..(2^18-1)");
    if (s.params.is_mpeg1 && s.params.vbv_buffer_size >= 1024) fatal_error(s, "vbv_buffer_size must be less than 1024 (MPEG-1)");
    if (outside(s.params.chroma_format, 1, 3)) fatal_error(s, "chroma_format must be in range 1...3");
    if (bad_colour_value(s.params.color_primaries)) fatal_error(s, "color_primaries must be in range 1...2 or 4...7");
    if (bad_colour_value(s.params.transfer_characteristics))
        fatal_error(s, "transfer_characteristics must be in range 1...2 or 4...7");
    if (bad_colour_value(s.params.matrix_coefficients))
        fatal_error(s, "matrix_coefficients must be in range 1...2 or 4...7");
    if (outside(s.params.display_horizontal_size, 0, 16383))
        fatal_error(s, "display_horizontal_size must be in range 0...16383");
    if (outside(s.params.display_vertical_size, 0, 16383))
        fatal_error(s, "display_vertical_size must be in range 0...16383");
    if (outside(s.params.intra_dc_precision, 0, 3)) fatal_error(s, "intra_dc_precision must be in range 0...3");
    for (std::size_t k = 0; k < s.params.motion_data.size(); k++) {
        const MotionData& m = s.params.motion_data[k];
        check_direction(s, m.forw_hor_f_code, m.forw_vert_f_code, m.forw_search_width, m.forw_search_height);
        if (k > 0)
            check_direction(s, m.back_hor_f_code, m.back_vert_f_code, m.back_search_width,
                            m.back_search_height);
    }
}

void check_profile_and_level(EncoderState& s) {
    if (outside(s.params.profile, 0, 15)) fatal_error(s, "profile must be between 0 and 15");
    if (outside(s.params.level, 0, 15)) fatal_error(s, "level must be between 0 and 15");
    if (s.params.profile >= 8) {
        s.hooks.report.warning("Warning: profile uses a reserved value, conformance checks skipped\n");
        return;
    }
    if (outside(s.params.profile, 1, 5)) fatal_error(s, "undefined Profile");
    if (s.params.profile == 2 || s.params.profile == 3) fatal_error(s, "This encoder currently generates no scalable bitstreams");
    if (outside(s.params.level, 4, 10) || s.params.level % 2 != 0) fatal_error(s, "undefined Level");
    const int level_index = (s.params.level - 4) / 2;
    if (!profile_level_defined[s.params.profile - 1][level_index]) fatal_error(s, "undefined profile@level combination");
    if (s.params.profile == 5 && s.params.M != 1) fatal_error(s, "Simple Profile does not allow B pictures");
    if (s.params.profile != 1 && s.params.chroma_format != 1) fatal_error(s, "chroma format must be 4:2:0 in specified Profile");
    if (s.params.profile == 1 && s.params.chroma_format == 3) fatal_error(s, "chroma format must be 4:2:0 or 4:2:2 in High Profile");
    if (s.params.profile >= 4) {
        if (s.params.frame_rate_code <= 2 && s.params.repeat_first_field) fatal_error(s, "repeat_first_first must be zero");
        if (s.params.frame_rate_code <= 6 && s.params.progressive_sequence && s.params.repeat_first_field)
            fatal_error(s, "repeat_first_first must be zero");
    }
    if (s.params.profile != 1 && s.params.intra_dc_precision == 3)
        fatal_error(s, "11 bit DC precision only allowed in High Profile");

    const LevelLimits& limits = level_limits[level_index];
    if (s.params.frame_rate_code >= 6 && s.params.level >= 8)
        fatal_error(s, "Picture rate greater than permitted in specified Level");
    for (std::size_t k = 0; k < s.params.motion_data.size(); k++) {
        const MotionData& m = s.params.motion_data[k];
        if (m.forw_hor_f_code > limits.max_horizontal_f_code)
            fatal_error(s, "forward horizontal f_code greater than permitted in specified Level");
        if (m.forw_vert_f_code > limits.max_vertical_f_code)
            fatal_error(s, "forward vertical f_code greater than permitted in specified Level");
        if (k > 0) {
            if (m.back_hor_f_code > limits.max_horizontal_f_code)
                fatal_error(s, "backward horizontal f_code greater than permitted in specified Level");
            if (m.back_vert_f_code > limits.max_vertical_f_code)
                fatal_error(s, "backward vertical f_code greater than permitted in specified Level");
        }
    }
    if (s.params.horizontal_size > limits.max_horizontal_size)
        fatal_error(s, "Horizontal size is greater than permitted in specified Level");
    if (s.params.vertical_size > limits.max_vertical_size)
        fatal_error(s, "Vertical size is greater than permitted in specified Level");
    const int samples_per_picture = s.params.horizontal_size * s.params.vertical_size;
    if (samples_per_picture * s.params.frame_rate > limits.max_sample_rate)
        fatal_error(s, "Sample rate is greater than permitted in specified Level");
    if (s.params.bit_rate > limits.max_bit_rate * 1000000.0)
        fatal_error(s, "Bit rate is greater than permitted in specified Level");
    if (s.params.vbv_buffer_size > limits.max_vbv_buffer_size) fatal_error(s, "vbv_buffer_size exceeds High Level limit");
}

}  // namespace vintrel
