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

void check_f_code(const ErrorChannel& errors, int f_code) {
    if (outside(f_code, 1, 9)) fatal_error(errors, "f_code must be between 1 and 9");
}

void check_mpeg1_f_code(const ErrorChannel& errors, bool is_mpeg1, int f_code) {
    if (is_mpeg1 && f_code > 7) fatal_error(errors, "f_code must be le less than 8");
}

void check_search(const ErrorChannel& errors, int range) {
    if (range < 1) fatal_error(errors, "search window must be positive");
}

void check_direction(const ErrorChannel& errors, bool is_mpeg1, int hor_f_code, int vert_f_code, int width,
                     int height) {
    check_f_code(errors, hor_f_code);
    check_f_code(errors, vert_f_code);
    check_mpeg1_f_code(errors, is_mpeg1, hor_f_code);
    check_mpeg1_f_code(errors, is_mpeg1, vert_f_code);
    check_search(errors, width);
    check_search(errors, height);
}

}  // namespace

void check_ranges(const Parameters& params, const ErrorChannel& errors) {
    if (outside(params.horizontal_size, 1, 16383)) fatal_error(errors, "horizontal_size must be between 1 and 16383");
    if (params.is_mpeg1 && params.horizontal_size >= 4096)
        fatal_error(errors, "horizontal_size must be less than 4096 (MPEG-1)");
    if ((params.horizontal_size & 4095) == 0) fatal_error(errors, "horizontal_size must not be a multiple of 4096");
    if (params.chroma_format != ChromaFormat::yuv444 && params.horizontal_size % 2 != 0)
        fatal_error(errors, "horizontal_size must be a even (4:2:0 / 4:2:2)");
    if (outside(params.vertical_size, 1, 16383)) fatal_error(errors, "vertical_size must be between 1 and 16383");
    if (params.is_mpeg1 && params.vertical_size >= 4096)
        fatal_error(errors, "vertical size must be less than 4096 (MPEG-1)");
    if ((params.vertical_size & 4095) == 0) fatal_error(errors, "vertical_size must not be a multiple of 4096");
    if (params.chroma_format == ChromaFormat::yuv420 && params.vertical_size % 2 != 0)
        fatal_error(errors, "vertical_size must be a even (4:2:0)");
    if (params.field_pictures) {
        if (params.vertical_size % 2 != 0) fatal_error(errors, "vertical_size must be a even (field pictures)");
        if (params.chroma_format == ChromaFormat::yuv420 && params.vertical_size % 4 != 0)
            fatal_error(errors, "vertical_size must be a multiple of 4 (4:2:0 field pictures)");
    }
    if (params.is_mpeg1) {
        if (outside(params.aspect_ratio_information, 1, 14))
            fatal_error(errors, "pel_aspect_ratio must be between 1 and 14 (MPEG-1)");
    } else if (outside(params.aspect_ratio_information, 1, 4)) {
        fatal_error(errors, "aspect_ratio_information must be 1, 2, 3 or 4");
    }
    if (outside(params.frame_rate_code, 1, 8)) fatal_error(errors, "frame_rate code must be between 1 and 8");
    if (params.bit_rate <= 0.0) fatal_error(errors, "bit_rate must be positive");
    if (params.bit_rate > 429496729200.0) fatal_error(errors, "bit_rate must be less than 429 Gbit/s");
    if (params.is_mpeg1 && params.bit_rate > 104857200.0)
        fatal_error(errors, "bit_rate must be less than 104 Mbit/s (MPEG-1)");
    if (outside(params.vbv_buffer_size, 1, 262143)) fatal_error(errors, "vbv_buffer_size must be in range 1..(2^18-1)");
    if (params.is_mpeg1 && params.vbv_buffer_size >= 1024)
        fatal_error(errors, "vbv_buffer_size must be less than 1024 (MPEG-1)");
    if (outside(syntax_value(params.chroma_format), 1, 3)) fatal_error(errors, "chroma_format must be in range 1...3");
    if (bad_colour_value(params.color_primaries))
        fatal_error(errors, "color_primaries must be in range 1...2 or 4...7");
    if (bad_colour_value(params.transfer_characteristics))
        fatal_error(errors, "transfer_characteristics must be in range 1...2 or 4...7");
    if (bad_colour_value(params.matrix_coefficients))
        fatal_error(errors, "matrix_coefficients must be in range 1...2 or 4...7");
    if (outside(params.display_horizontal_size, 0, 16383))
        fatal_error(errors, "display_horizontal_size must be in range 0...16383");
    if (outside(params.display_vertical_size, 0, 16383))
        fatal_error(errors, "display_vertical_size must be in range 0...16383");
    if (outside(params.intra_dc_precision, 0, 3)) fatal_error(errors, "intra_dc_precision must be in range 0...3");
    for (std::size_t k = 0; k < params.motion_data.size(); k++) {
        const MotionData& m = params.motion_data[k];
        check_direction(errors, params.is_mpeg1, m.forw_hor_f_code, m.forw_vert_f_code, m.forw_search_width,
                        m.forw_search_height);
        if (k > 0)
            check_direction(errors, params.is_mpeg1, m.back_hor_f_code, m.back_vert_f_code, m.back_search_width,
                            m.back_search_height);
    }
}

void check_profile_and_level(const Parameters& params, const ErrorChannel& errors) {
    // The numbers first: the ranges and the profiles and levels the encoder has no name for.
    const int profile = syntax_value(params.profile);
    const int level = syntax_value(params.level);
    if (outside(profile, 0, 15)) fatal_error(errors, "profile must be between 0 and 15");
    if (outside(level, 0, 15)) fatal_error(errors, "level must be between 0 and 15");
    if (profile >= 8) {
        errors.report.warning("Warning: profile uses a reserved value, conformance checks skipped\n");
        return;
    }
    if (outside(profile, 1, 5)) fatal_error(errors, "undefined Profile");
    if (params.profile == Profile::spatially_scalable || params.profile == Profile::snr_scalable)
        fatal_error(errors, "This encoder currently generates no scalable bitstreams");
    if (outside(level, 4, 10) || level % 2 != 0) fatal_error(errors, "undefined Level");
    // From here on the profile is High, Main or Simple, the level one of the four.
    const int level_index = (level - 4) / 2;
    if (!profile_level_defined[profile - 1][level_index])
        fatal_error(errors, "undefined profile@level combination");
    if (params.profile == Profile::simple && params.M != 1)
        fatal_error(errors, "Simple Profile does not allow B pictures");
    if (params.profile != Profile::high && params.chroma_format != ChromaFormat::yuv420)
        fatal_error(errors, "chroma format must be 4:2:0 in specified Profile");
    if (params.profile == Profile::high && params.chroma_format == ChromaFormat::yuv444)
        fatal_error(errors, "chroma format must be 4:2:0 or 4:2:2 in High Profile");
    if (params.profile == Profile::main || params.profile == Profile::simple) {
        if (params.frame_rate_code <= 2 && params.repeat_first_field)
            fatal_error(errors, "repeat_first_first must be zero");
        if (params.frame_rate_code <= 6 && params.progressive_sequence && params.repeat_first_field)
            fatal_error(errors, "repeat_first_first must be zero");
    }
    if (params.profile != Profile::high && params.intra_dc_precision == 3)
        fatal_error(errors, "11 bit DC precision only allowed in High Profile");

    const LevelLimits& limits = level_limits[level_index];
    if (params.frame_rate_code >= 6 && (params.level == Level::main || params.level == Level::low))
        fatal_error(errors, "Picture rate greater than permitted in specified Level");
    for (std::size_t k = 0; k < params.motion_data.size(); k++) {
        const MotionData& m = params.motion_data[k];
        if (m.forw_hor_f_code > limits.max_horizontal_f_code)
            fatal_error(errors, "forward horizontal f_code greater than permitted in specified Level");
        if (m.forw_vert_f_code > limits.max_vertical_f_code)
            fatal_error(errors, "forward vertical f_code greater than permitted in specified Level");
        if (k > 0) {
            if (m.back_hor_f_code > limits.max_horizontal_f_code)
                fatal_error(errors, "backward horizontal f_code greater than permitted in specified Level");
            if (m.back_vert_f_code > limits.max_vertical_f_code)
                fatal_error(errors, "backward vertical f_code greater than permitted in specified Level");
        }
    }
    if (params.horizontal_size > limits.max_horizontal_size)
        fatal_error(errors, "Horizontal size is greater than permitted in specified Level");
    if (params.vertical_size > limits.max_vertical_size)
        fatal_error(errors, "Vertical size is greater than permitted in specified Level");
    const int samples_per_picture = params.horizontal_size * params.vertical_size;
    if (samples_per_picture * params.frame_rate > limits.max_sample_rate)
        fatal_error(errors, "Sample rate is greater than permitted in specified Level");
    if (params.bit_rate > limits.max_bit_rate * 1000000.0)
        fatal_error(errors, "Bit rate is greater than permitted in specified Level");
    if (params.vbv_buffer_size > limits.max_vbv_buffer_size)
        fatal_error(errors, "vbv_buffer_size exceeds High Level limit");
}

}  // namespace vintrel
