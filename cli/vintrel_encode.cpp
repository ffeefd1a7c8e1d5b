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
#include "cli/picture_files.h"
#include "encoder/encoder.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/frame_names.h"
#include "encoder/setup/read_parameters.h"

namespace {

using vintrel::Parameters;

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

void dump_parameters(const Parameters& p) {
    std::printf("id_string=%s\n", p.id_string.c_str());
    std::printf("source_file_name_template=%s\n", p.source_file_name_template.c_str());
    std::printf("reconstructed_file_name_template=%s\n", p.reconstructed_file_name_template.c_str());
    std::printf("intra_quant_matrix_file_name=%s\n", p.intra_quant_matrix_file_name.c_str());
    std::printf("non_intra_quant_matrix_file_name=%s\n", p.non_intra_quant_matrix_file_name.c_str());
    std::printf("statistics_file_name=%s\n", p.statistics_file_name.c_str());
    std::printf("input_picture_format=%d\n", static_cast<int>(p.input_picture_format));
    std::printf("frame_count=%d\n", p.frame_count);
    std::printf("first_frame=%d\n", p.first_frame);
    std::printf("hours=%d\nminutes=%d\nseconds=%d\npictures=%d\n", p.time_code_hours, p.time_code_minutes,
                p.time_code_seconds, p.time_code_pictures);
    std::printf("N=%d\nM=%d\nis_mpeg1=%d\nfield_pictures=%d\n", p.N, p.M, p.is_mpeg1, p.field_pictures);
    std::printf("horizontal_size=%d\nvertical_size=%d\n", p.horizontal_size, p.vertical_size);
    std::printf("aspect_ratio_information=%d\nframe_rate_code=%d\n", p.aspect_ratio_information, p.frame_rate_code);
    std::printf("bit_rate=%s\n", number(p.bit_rate).c_str());
    std::printf("vbv_buffer_size=%d\nlow_delay=%d\n", p.vbv_buffer_size, p.low_delay);
    std::printf("constrained_parameters_flag=%d\n", p.constrained_parameters_flag);
    std::printf("profile=%d\nlevel=%d\n", vintrel::syntax_value(p.profile), vintrel::syntax_value(p.level));
    std::printf("progressive_sequence=%d\nchroma_format=%d\n", p.progressive_sequence,
                vintrel::syntax_value(p.chroma_format));
    std::printf("video_format=%d\ncolor_primaries=%d\n", p.video_format, p.color_primaries);
    std::printf("transfer_characteristics=%d\nmatrix_coefficients=%d\n", p.transfer_characteristics,
                p.matrix_coefficients);
    std::printf("display_horizontal_size=%d\ndisplay_vertical_size=%d\n", p.display_horizontal_size,
                p.display_vertical_size);
    std::printf("intra_dc_precision=%d\ntop_field_first=%d\n", p.intra_dc_precision, p.top_field_first);
    print_triple("frame_pred_frame_dct", p.frame_pred_frame_dct_tab);
    print_triple("concealment_motion_vectors", p.concealment_motion_vectors_tab);
    print_triple("q_scale_type", p.q_scale_type_tab);
    print_triple("intra_vlc_format", p.intra_vlc_format_tab);
    print_triple("alternate_scan", p.alternate_scan_tab);
    std::printf("repeat_first_field=%d\nprogressive_frame=%d\n", p.repeat_first_field, p.progressive_frame);
    std::printf("P=%d\nr=%d\navg_act=%s\n", p.P, p.r, number(p.avg_act).c_str());
    std::printf("Xi=%d\nXp=%d\nXb=%d\n", p.Xi, p.Xp, p.Xb);
    std::printf("d0i=%d\nd0p=%d\nd0b=%d\n", p.d0i, p.d0p, p.d0b);
    for (std::size_t k = 0; k < p.motion_data.size(); k++) {
        const vintrel::MotionData& m = p.motion_data[k];
        std::printf("motion_data[%zu]=%d %d %d %d", k, m.forw_hor_f_code, m.forw_vert_f_code,
                    m.forw_search_width, m.forw_search_height);
        if (k > 0)
            std::printf(" %d %d %d %d", m.back_hor_f_code, m.back_vert_f_code, m.back_search_width,
                        m.back_search_height);
        std::printf("\n");
    }
    std::printf("frame_rate=%s\n", number(p.frame_rate).c_str());
    std::printf("time_code_offset=%d\n", p.time_code_offset);
}

// Ends the run on the encoder's error: its text, as it always stood, and exit code 1.
int fatal(const vintrel::EncoderFault& fault) {
    vintrel::write_fatal_text(fault.detail);
    return 1;
}

// Encodes the pictures the parameter lines name into `output`. Returns the exit status.
int encode(Parameters params, const std::string& output) {
    if (params.input_picture_format == vintrel::InputPictureFormat::movie) {
        std::fprintf(stderr,
                     "vintrel-encode: these parameter lines take their pictures from a movie "
                     "(input_picture_format 2); convert movies with vintrel-convert, or give --lines "
                     "with input_picture_format 0 (NAME.Y/.U/.V) or 1 (NAME.yuv)\n");
        return 2;
    }
    if (const vintrel::EncoderFault fault = vintrel::read_quant_matrices(params); fault.failed()) return fatal(fault);
    std::FILE* out = std::fopen(output.c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "vintrel-encode: cannot create %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    // Pictures are numbered in their file names from first_frame on.
    const auto name = [&params](const std::string& name_template, int display_number) {
        return vintrel::format_frame_name(name_template, display_number + params.first_frame);
    };
    const vintrel::Geometry geometry = vintrel::compute_geometry(params);
    vintrel::ReconstructionSink keep_reconstruction;
    if (!params.reconstructed_file_name_template.starts_with('-'))
        keep_reconstruction = [&](const vintrel::Picture& picture, int display_number) {
            return vintrel::write_reconstruction(params, geometry,
                                                 name(params.reconstructed_file_name_template, display_number), picture);
        };
    auto [encoder, opening] = vintrel::Encoder::open(params, out, vintrel::Reporter{}, keep_reconstruction);
    if (opening.failed()) return fatal(opening);
    for (int d = 0; d < params.frame_count; d++) {
        vintrel::EncoderFault fault = vintrel::read_source_picture(
            params, geometry, name(params.source_file_name_template, d), encoder->next_picture());
        if (!fault.failed()) fault = encoder->encode_next();
        if (fault.failed()) {
            encoder->flush();  // the stream keeps every picture coded before the error
            std::fflush(out);
            return fatal(fault);
        }
    }
    const bool flushed = !encoder->finish().failed();
    const bool closed = std::fclose(out) == 0;
    if (!flushed || !closed) {
        std::fprintf(stderr, "vintrel-encode: could not write all of %s: %s\n", output.c_str(), std::strerror(errno));
        return 1;
    }
    if (!encoder->close_statistics()) {
        std::fprintf(stderr, "vintrel-encode: could not write all of the statistics file %s\n",
                     params.statistics_file_name.c_str());
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

    Parameters params;
    vintrel::EncoderFault fault;
    if (lines_file.empty()) {
        fault = vintrel::read_parameters(params, vintrel::Reporter{});
    } else {
        std::string error;
        auto file_lines = vintrel::read_parameter_file(lines_file, error);
        if (!file_lines) {
            std::fprintf(stderr, "vintrel-encode: %s\n", error.c_str());
            return 1;
        }
        std::vector<std::string_view> lines(file_lines->begin(), file_lines->end());
        fault = vintrel::read_parameters(params, vintrel::Reporter{}, lines);
    }
    if (fault.failed()) return fatal(fault);

    if (dump) {
        dump_parameters(params);
        if (std::fflush(stdout) != 0) {
            std::fprintf(stderr, "vintrel-encode: cannot write the parameters: %s\n", std::strerror(errno));
            return 1;
        }
        if (output.empty()) return 0;
    }
    return encode(params, output);
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
