// Parameter reader, MPEG-1 fix-ups and quantiser matrix loading.
#include "encoder/setup/read_parameters.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "encoder/setup/conformance_checks.h"
#include "encoder/coding/bit_writer.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/quant_matrix_defaults.h"

namespace vintrel {
namespace {

constexpr double frame_rates[8] = {24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0,
                                   30.0, 50.0, 60000.0 / 1001.0, 60.0};

// Scans up to four whole numbers from `text` with `format` (its conversions written as %ld) into
// `values`. Fails unless every one is found and fits an int: a number too large for an int must
// be refused, not silently cut to its low bits.
bool scan_whole_numbers(const char* text, const char* format, std::initializer_list<int*> values) {
    long scanned[4] = {};
    const int found = std::sscanf(text, format, &scanned[0], &scanned[1], &scanned[2], &scanned[3]);
    if (found != static_cast<int>(values.size())) return false;
    const long* number = scanned;
    for (int* value : values) {
        if (*number < std::numeric_limits<int>::min() || *number > std::numeric_limits<int>::max()) return false;
        *value = static_cast<int>(*number++);
    }
    return true;
}

// Hands out the parameter lines one at a time, each copied into a 256-byte line buffer.
class LineReader {
public:
    explicit LineReader(std::span<const std::string_view> lines) : lines_(lines) {}

    const char* line(int k) {
        if (k >= static_cast<int>(lines_.size()))
            throw EncoderError(error_text("Parameter line %d is missing (the table has only %d lines)", k,
                                            static_cast<int>(lines_.size())));
        std::string_view text = lines_[static_cast<std::size_t>(k)];
        std::size_t n = text.size() < sizeof buffer_ - 1 ? text.size() : sizeof buffer_ - 1;
        std::memcpy(buffer_, text.data(), n);
        buffer_[n] = '\0';
        return buffer_;
    }

    // Reports a line whose value field does not hold what its format asks for.
    [[noreturn]] void unreadable(int k, const char* what) {
        throw EncoderError(error_text("Parameter line %d: cannot read %s from \"%s\"", k, what, buffer_));
    }

    void scan_int(int k, int& value, const char* what) {
        if (!scan_whole_numbers(line(k), "%ld", {&value})) unreadable(k, what);
    }

    // A value kept as an enum of the stream's numbers: any whole number is taken as it is, for the
    // checks to judge.
    template <typename Enum>
    void scan_enum(int k, Enum& value, const char* what) {
        int number = 0;
        scan_int(k, number, what);
        value = static_cast<Enum>(number);
    }

    void scan_double(int k, double& value, const char* what) {
        if (std::sscanf(line(k), "%lf", &value) != 1) unreadable(k, what);
    }

    void scan_string(int k, std::string& value, const char* what) {
        char field[256];
        if (std::sscanf(line(k), "%255s", field) != 1) unreadable(k, what);
        value = field;
    }

    void scan_time_code(int k, int& hours, int& minutes, int& seconds, int& pictures, const char* what) {
        if (!scan_whole_numbers(line(k), "%ld:%ld:%ld:%ld", {&hours, &minutes, &seconds, &pictures}))
            unreadable(k, what);
    }

    // A flag is set by any value but 0.
    void scan_flag(int k, bool& flag, const char* what) {
        int value = 0;
        scan_int(k, value, what);
        flag = value != 0;
    }

    // One flag for each picture type, I P B.
    void scan_flags(int k, bool (&flags)[3], const char* what) {
        int value[3] = {};
        if (!scan_whole_numbers(line(k), "%ld %ld %ld", {&value[0], &value[1], &value[2]})) unreadable(k, what);
        for (int i = 0; i < 3; i++) flags[i] = value[i] != 0;
    }

    void scan_motion(int k, int& f_hor, int& f_vert, int& width, int& height, const char* what) {
        if (!scan_whole_numbers(line(k), "%ld %ld %ld %ld", {&f_hor, &f_vert, &width, &height}))
            unreadable(k, what);
    }

private:
    std::span<const std::string_view> lines_;
    char buffer_[256] = {};
};

void warn(const Reporter& report, const std::string& text) { report.warning(text); }

void apply_mpeg1_fixups(Parameters& params, const Reporter& report) {
    if (!params.progressive_sequence) {
        params.progressive_sequence = true;
        warn(report, "Warning: setting progressive_sequence = 1\n");
    }
    if (params.chroma_format != ChromaFormat::yuv420) {
        params.chroma_format = ChromaFormat::yuv420;
        warn(report, "Warning: setting chroma_format = 1 (4:2:0)\n");
    }
    if (params.intra_dc_precision != 0) {
        params.intra_dc_precision = 0;
        warn(report, "Warning: setting intra_dc_precision = 0\n");
    }
    for (int i = 0; i < 3; i++)
        if (params.q_scale_type_tab[i]) {
            params.q_scale_type_tab[i] = false;
            warn(report, formatted("Warning: setting qscale_tab[%d] = 0\n", i));
        }
    for (int i = 0; i < 3; i++)
        if (params.intra_vlc_format_tab[i]) {
            params.intra_vlc_format_tab[i] = false;
            warn(report, formatted("Warning: setting intravlc_tab[%d] = 0\n", i));
        }
    for (int i = 0; i < 3; i++)
        if (params.alternate_scan_tab[i]) {
            params.alternate_scan_tab[i] = false;
            warn(report, formatted("Warning: setting altscan_tab[%d] = 0\n", i));
        }
}

// ISO/IEC 11172-2 constrained parameters: clears the flag when the set exceeds them.
void check_constrained_parameters(Parameters& params, const Reporter& report) {
    const int mb = ((params.horizontal_size + 15) / 16) * ((params.vertical_size + 15) / 16);
    if (params.horizontal_size > 768 || params.vertical_size > 576 || mb > 396 || mb * params.frame_rate > 9900.0 ||
        params.frame_rate > 30.0) {
        warn(report, "Warning: setting constrained_parameters_flag = 0\n");
        params.constrained_parameters_flag = false;
    }
    if (!params.constrained_parameters_flag) return;
    for (std::size_t k = 0; k < params.motion_data.size(); k++) {
        const MotionData& m = params.motion_data[k];
        if (m.forw_hor_f_code > 4 || m.forw_vert_f_code > 4 ||
            (k > 0 && (m.back_hor_f_code > 4 || m.back_vert_f_code > 4))) {
            warn(report, "Warning: setting constrained_parameters_flag = 0\n");
            params.constrained_parameters_flag = false;
            break;
        }
    }
}

// Lowers a search range to what the f code can reach.
void limit_search(const Reporter& report, int& range, int f_code, const char* format) {
    const int limit = (4 << f_code) - 1;
    if (range > limit) {
        range = limit;
        warn(report, formatted(format, range));
    }
}

}  // namespace

double frame_rate_of_code(int frame_rate_code) {
    if (frame_rate_code < 1 || frame_rate_code > 8) return 0.0;
    return frame_rates[frame_rate_code - 1];
}

namespace {

void read_checked(Parameters& params, const Reporter& report, std::span<const std::string_view> lines) {
    LineReader in(lines);

    params.id_string = in.line(0);
    in.scan_string(1, params.source_file_name_template, "the source file name");
    in.scan_string(2, params.reconstructed_file_name_template, "the reconstructed file name");
    in.scan_string(3, params.intra_quant_matrix_file_name, "the intra matrix file name");
    in.scan_string(4, params.non_intra_quant_matrix_file_name, "the non-intra matrix file name");
    in.scan_string(5, params.statistics_file_name, "the statistics file name");
    int input_picture_format = 0, is_mpeg1 = 0, field_pictures = 0;
    in.scan_int(6, input_picture_format, "input_picture_format");
    params.input_picture_format = static_cast<InputPictureFormat>(input_picture_format);
    in.scan_int(7, params.frame_count, "the number of frames");
    in.scan_int(8, params.first_frame, "the number of the first frame");
    in.scan_time_code(9, params.time_code_hours, params.time_code_minutes, params.time_code_seconds,
                      params.time_code_pictures, "the time code (hh:mm:ss:pp)");
    in.scan_int(10, params.N, "N");
    in.scan_int(11, params.M, "M");
    in.scan_int(12, is_mpeg1, "the stream type");
    in.scan_int(13, field_pictures, "field_pictures");
    params.is_mpeg1 = is_mpeg1 != 0;
    params.field_pictures = field_pictures != 0;
    in.scan_int(14, params.horizontal_size, "horizontal_size");
    in.scan_int(15, params.vertical_size, "vertical_size");
    in.scan_int(16, params.aspect_ratio_information, "aspect_ratio_information");
    in.scan_int(17, params.frame_rate_code, "frame_rate_code");
    in.scan_double(18, params.bit_rate, "bit_rate");
    in.scan_int(19, params.vbv_buffer_size, "vbv_buffer_size");
    in.scan_flag(20, params.low_delay, "low_delay");
    in.scan_flag(21, params.constrained_parameters_flag, "constrained_parameters_flag");
    in.scan_enum(22, params.profile, "the profile");
    in.scan_enum(23, params.level, "the level");
    in.scan_flag(24, params.progressive_sequence, "progressive_sequence");
    in.scan_enum(25, params.chroma_format, "chroma_format");
    in.scan_int(26, params.video_format, "video_format");
    in.scan_int(27, params.color_primaries, "color_primaries");
    in.scan_int(28, params.transfer_characteristics, "transfer_characteristics");
    in.scan_int(29, params.matrix_coefficients, "matrix_coefficients");
    in.scan_int(30, params.display_horizontal_size, "display_horizontal_size");
    in.scan_int(31, params.display_vertical_size, "display_vertical_size");
    in.scan_int(32, params.intra_dc_precision, "intra_dc_precision");
    in.scan_flag(33, params.top_field_first, "top_field_first");
    in.scan_flags(34, params.frame_pred_frame_dct_tab, "frame_pred_frame_dct (I P B)");
    in.scan_flags(35, params.concealment_motion_vectors_tab, "concealment_motion_vectors (I P B)");
    in.scan_flags(36, params.q_scale_type_tab, "q_scale_type (I P B)");
    in.scan_flags(37, params.intra_vlc_format_tab, "intra_vlc_format (I P B)");
    in.scan_flags(38, params.alternate_scan_tab, "alternate_scan (I P B)");
    in.scan_flag(39, params.repeat_first_field, "repeat_first_field");
    in.scan_flag(40, params.progressive_frame, "progressive_frame");
    in.scan_int(41, params.P, "P");
    in.scan_int(42, params.r, "r");
    in.scan_double(43, params.avg_act, "avg_act");
    in.scan_int(44, params.Xi, "Xi");
    in.scan_int(45, params.Xp, "Xp");
    in.scan_int(46, params.Xb, "Xb");
    in.scan_int(47, params.d0i, "d0i");
    in.scan_int(48, params.d0p, "d0p");
    in.scan_int(49, params.d0b, "d0b");

    if (params.N < 1) throw EncoderError("N must be positive");
    if (params.M < 1) throw EncoderError("M must be positive");
    if (params.N % params.M != 0) throw EncoderError("N must be an integer multiple of M");

    // Motion lines: a forward line for P pictures, then a forward and a backward line for each
    // B picture between two reference pictures.
    params.motion_data.assign(static_cast<std::size_t>(params.M), MotionData{});
    int k = 50;
    for (int i = 0; i < params.M; i++) {
        MotionData& m = params.motion_data[static_cast<std::size_t>(i)];
        in.scan_motion(k++, m.forw_hor_f_code, m.forw_vert_f_code, m.forw_search_width,
                       m.forw_search_height, "the forward motion data");
        if (i > 0)
            in.scan_motion(k++, m.back_hor_f_code, m.back_vert_f_code, m.back_search_width,
                           m.back_search_height, "the backward motion data");
    }

    // The checks are the encoder's own: they report through a channel, here one without a stream.
    BitWriter no_stream;
    const ErrorChannel errors{no_stream, report};
    check_ranges(params, errors);

    params.frame_rate = frame_rate_of_code(params.frame_rate_code);
    // Kept in 64 bits while it is formed: a hand-written time code can be arbitrarily large.
    const std::int64_t seconds =
        (static_cast<std::int64_t>(params.time_code_hours) * 60 + params.time_code_minutes) * 60 +
        params.time_code_seconds;
    params.time_code_offset =
        static_cast<int>(seconds * static_cast<int>(params.frame_rate + 0.5) + params.time_code_pictures);

    if (!params.is_mpeg1)
        check_profile_and_level(params, errors);
    else if (params.constrained_parameters_flag)
        check_constrained_parameters(params, report);

    if (params.is_mpeg1) apply_mpeg1_fixups(params, report);

    if (!params.is_mpeg1 && params.constrained_parameters_flag) {
        warn(report, "Warning: setting constrained_parameters_flag = 0\n");
        params.constrained_parameters_flag = false;
    }
    if (params.progressive_sequence && !params.progressive_frame) {
        params.progressive_frame = true;
        warn(report, "Warning: setting progressive_frame = 1\n");
    }
    if (params.progressive_frame && params.field_pictures) {
        params.field_pictures = false;
        warn(report, "Warning: setting field_pictures = 0\n");
    }
    if (!params.progressive_frame && params.repeat_first_field) {
        params.repeat_first_field = false;
        warn(report, "Warning: setting repeat_first_field = 0\n");
    }
    if (params.progressive_frame)
        for (int i = 0; i < 3; i++)
            if (!params.frame_pred_frame_dct_tab[i]) {
                params.frame_pred_frame_dct_tab[i] = true;
                warn(report, formatted("Warning: setting frame_pred_frame_dct[%d] = 1\n", i));
            }
    if (params.progressive_sequence && !params.repeat_first_field && params.top_field_first) {
        params.top_field_first = false;
        warn(report, "Warning: setting top_field_first = 0\n");
    }
    for (std::size_t i = 0; i < params.motion_data.size(); i++) {
        MotionData& m = params.motion_data[i];
        limit_search(report, m.forw_search_width, m.forw_hor_f_code,
                     "Warning: reducing forward horizontal search width to %d\n");
        limit_search(report, m.forw_search_height, m.forw_vert_f_code,
                     "Warning: reducing forward vertical search width to %d\n");
        if (i > 0) {
            limit_search(report, m.back_search_width, m.back_hor_f_code,
                         "Warning: reducing backward horizontal search width to %d\n");
            limit_search(report, m.back_search_height, m.back_vert_f_code,
                         "Warning: reducing backward vertical search width to %d\n");
        }
    }
}

void load_quant_matrices(Parameters& params) {
    auto load = [](const std::string& name, std::array<std::uint8_t, 64>& matrix, bool& loaded,
                          const std::array<std::uint8_t, 64>& defaults) {
        if (name.empty() || name[0] == '-') {
            loaded = false;
            matrix = defaults;
            return;
        }
        loaded = true;
        std::FILE* f = std::fopen(name.c_str(), "r");
        if (!f) throw EncoderError(error_text("Couldn't open quant matrix file %s", name.c_str()));
        for (std::size_t i = 0; i < 64; i++) {
            // Read as a long: past the range of an int, %d would keep only the low bits.
            long v = 0;
            if (std::fscanf(f, "%ld", &v) != 1 || v < 1 || v > 255) {
                std::fclose(f);
                throw EncoderError("invalid value in quant matrix");
            }
            matrix[i] = static_cast<std::uint8_t>(v);
        }
        std::fclose(f);
    };
    std::array<std::uint8_t, 64> flat;
    flat.fill(default_non_intra_weight);
    load(params.intra_quant_matrix_file_name, params.intra_quant_matrix, params.load_intra_quant_matrix,
         default_intra_quant_matrix);
    load(params.non_intra_quant_matrix_file_name, params.non_intra_quant_matrix, params.load_non_intra_quant_matrix,
         flat);
}

}  // namespace

// The checks end on the first fault by throwing EncoderError, from however deep they found it; it
// stops here and becomes the fault.
EncoderFault read_parameters(Parameters& params, const Reporter& report, std::span<const std::string_view> lines) {
    try {
        read_checked(params, report, lines);
    } catch (const EncoderError& error) {
        return {EncoderFailure::fatal, {}, 0, error.what()};
    }
    return {};
}

EncoderFault read_quant_matrices(Parameters& params) {
    try {
        load_quant_matrices(params);
    } catch (const EncoderError& error) {
        return {EncoderFailure::fatal, {}, 0, error.what()};
    }
    return {};
}

}  // namespace vintrel
