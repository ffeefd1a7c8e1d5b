// vintrel-encode: the encoder harness. Reads parameter lines, shows the effective set, encodes.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_version.h"
#include "cli/parameter_file.h"
#include "encoder/setup/encoder_state.h"
#include "encoder/coding/bit_writer.h"
#include "encoder/coding/encode_sequence.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"

namespace {

using vintrel::EncoderState;

const char usage[] =
    "usage: vintrel-encode [--lines FILE] [--dump-parameters] [OUTPUT.mpg]\n"
    "       vintrel-encode --version\n";

// Shortest fixed-point text that reads back as the same double (5000000.0 prints as 5000000).
std::string number(double v) {
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
    return std::string(text, result.ptr);
}

void print_triple(const char* name, const bool (&v)[3]) {
    std::printf("%s=%d %d %d\n", name, vintrel::syntax_value(v[0]), vintrel::syntax_value(v[1]), vintrel::syntax_value(v[2]));
}

void dump_parameters(const EncoderState& s) {
    std::printf("id_string=%s\n", s.params.id_string.c_str());
    std::printf("source_file_name_template=%s\n", s.params.source_file_name_template.c_str());
    std::printf("reconstructed_file_name_template=%s\n", s.params.reconstructed_file_name_template.c_str());
    std::printf("intra_quant_matrix_file_name=%s\n", s.params.intra_quant_matrix_file_name.c_str());
    std::printf("non_intra_quant_matrix_file_name=%s\n", s.params.non_intra_quant_matrix_file_name.c_str());
    std::printf("statistics_file_name=%s\n", s.params.statistics_file_name.c_str());
    std::printf("input_picture_format=%d\n", static_cast<int>(s.params.input_picture_format));
    std::printf("frame_count=%d\n", s.params.frame_count);
    std::printf("first_frame=%d\n", s.params.first_frame);
    std::printf("hours=%d\nminutes=%d\nseconds=%d\npictures=%d\n", s.params.time_code_hours, s.params.time_code_minutes,
                s.params.time_code_seconds, s.params.time_code_pictures);
    std::printf("N=%d\nM=%d\nis_mpeg1=%d\nfield_pictures=%d\n", s.params.N, s.params.M, s.params.is_mpeg1, s.params.field_pictures);
    std::printf("horizontal_size=%d\nvertical_size=%d\n", s.params.horizontal_size, s.params.vertical_size);
    std::printf("aspect_ratio_information=%d\nframe_rate_code=%d\n", s.params.aspect_ratio_information, s.params.frame_rate_code);
    std::printf("bit_rate=%s\n", number(s.params.bit_rate).c_str());
    std::printf("vbv_buffer_size=%d\nlow_delay=%d\n", s.params.vbv_buffer_size, s.params.low_delay);
    std::printf("constrained_parameters_flag=%d\n", s.params.constrained_parameters_flag);
    std::printf("profile=%d\nlevel=%d\n", vintrel::syntax_value(s.params.profile), vintrel::syntax_value(s.params.level));
    std::printf("progressive_sequence=%d\nchroma_format=%d\n", s.params.progressive_sequence,
                vintrel::syntax_value(s.params.chroma_format));
    std::printf("video_format=%d\ncolor_primaries=%d\n", s.params.video_format, s.params.color_primaries);
    std::printf("transfer_characteristics=%d\nmatrix_coefficients=%d\n", s.params.transfer_characteristics,
                s.params.matrix_coefficients);
    std::printf("display_horizontal_size=%d\ndisplay_vertical_size=%d\n", s.params.display_horizontal_size,
                s.params.display_vertical_size);
    std::printf("intra_dc_precision=%d\ntop_field_first=%d\n", s.params.intra_dc_precision, s.params.top_field_first);
    print_triple("frame_pred_frame_dct", s.params.frame_pred_frame_dct_tab);
    print_triple("concealment_motion_vectors", s.params.concealment_motion_vectors_tab);
    print_triple("q_scale_type", s.params.q_scale_type_tab);
    print_triple("intra_vlc_format", s.params.intra_vlc_format_tab);
    print_triple("alternate_scan", s.params.alternate_scan_tab);
    std::printf("repeat_first_field=%d\nprogressive_frame=%d\n", s.params.repeat_first_field, s.params.progressive_frame);
    std::printf("P=%d\nr=%d\navg_act=%s\n", s.params.P, s.params.r, number(s.params.avg_act).c_str());
    std::printf("Xi=%d\nXp=%d\nXb=%d\n", s.params.Xi, s.params.Xp, s.params.Xb);
    std::printf("d0i=%d\nd0p=%d\nd0b=%d\n", s.params.d0i, s.params.d0p, s.params.d0b);
    for (std::size_t k = 0; k < s.params.motion_data.size(); k++) {
        const vintrel::MotionData& m = s.params.motion_data[k];
        std::printf("motion_data[%zu]=%d %d %d %d", k, m.forw_hor_f_code, m.forw_vert_f_code,
                    m.forw_search_width, m.forw_search_height);
        if (k > 0)
            std::printf(" %d %d %d %d", m.back_hor_f_code, m.back_vert_f_code, m.back_search_width,
                        m.back_search_height);
        std::printf("\n");
    }
    std::printf("frame_rate=%s\n", number(s.params.frame_rate).c_str());
    std::printf("time_code_offset=%d\n", s.params.time_code_offset);
}

// Encodes the pictures the parameter lines name into `output`. Returns the exit status.
int encode(EncoderState& state, const std::string& output) {
    if (state.params.input_picture_format == vintrel::InputPictureFormat::movie) {
        std::fprintf(stderr,
                     "vintrel-encode: these parameter lines take their pictures from a movie "
                     "(input_picture_format 2); convert movies with vintrel-convert, or give --lines "
                     "with input_picture_format 0 (NAME.Y/.U/.V) or 1 (NAME.yuv)\n");
        return 2;
    }
    vintrel::read_quant_matrices(state);
    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "vintrel-encode: cannot create %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    state.bits.out = out;
    vintrel::init_encoder(state);
    vintrel::encode_sequence(state, nullptr);
    const bool flushed = vintrel::flush_bit_writer(state.bits);
    const bool closed = std::fclose(out) == 0;
    state.bits.out = nullptr;
    if (!flushed || !closed) {
        std::fprintf(stderr, "vintrel-encode: could not write all of %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    if (!vintrel::close_statistics_file(state)) {
        std::fprintf(stderr, "vintrel-encode: could not write all of the statistics file %s\n",
                     state.params.statistics_file_name.c_str());
        return 1;
    }
    return 0;
}

int run(int argc, char** argv) {
    std::string lines_file;
    std::string output;
    bool dump = false;
    for (int i = 1; i < argc; i++) {
        std::string_view arg = argv[i];
        if (arg == "--lines" && i + 1 < argc) {
            lines_file = argv[++i];
        } else if (arg == "--dump-parameters") {
            dump = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--version") {
            return vintrel::print_version("vintrel-encode");
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "vintrel-encode: unknown option %s\n%s", argv[i], usage);
            return 2;
        } else if (output.empty()) {
            output = argv[i];
        } else {
            std::fprintf(stderr, "vintrel-encode: more than one output file given\n%s", usage);
            return 2;
        }
    }
    if (!dump && output.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }

    EncoderState state;
    if (lines_file.empty()) {
        vintrel::read_parameters(state);
    } else {
        std::string error;
        auto file_lines = vintrel::read_parameter_file(lines_file, error);
        if (!file_lines) {
            std::fprintf(stderr, "vintrel-encode: %s\n", error.c_str());
            return 1;
        }
        std::vector<std::string_view> lines(file_lines->begin(), file_lines->end());
        vintrel::read_parameters(state, lines);
    }

    if (dump) {
        dump_parameters(state);
        if (std::fflush(stdout) != 0) {
            std::fprintf(stderr, "vintrel-encode: cannot write the parameters: %s\n", std::strerror(errno));
            return 1;
        }
        if (output.empty()) return 0;
    }
    return encode(state, output);
}

}  // namespace

// The encoder's fatal errors end the program with their text on standard error and exit code 1.
int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const vintrel::EncoderError& error) {
        vintrel::write_fatal_text(error.what());
        return 1;
    }
}
