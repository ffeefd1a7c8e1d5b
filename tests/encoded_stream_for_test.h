// Streams made by vintrel-encode from raw pictures written at test time, decoded by an independent
// decoder (the ffmpeg program) and compared with the encoder's own reconstruction.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/parameter_table_for_test.h"
#include "tests/run_program_for_test.h"
#include "tests/scratch_directory_for_test.h"

namespace vintrel::test {

// Replacements of numbered parameter lines.
using ParameterLines = std::vector<std::pair<int, std::string>>;

inline ParameterLines with(ParameterLines base, const ParameterLines& more) {
    base.insert(base.end(), more.begin(), more.end());
    return base;
}

// Peak signal-to-noise ratio of two equally long sample strings; 99 dB when they are equal.
inline double psnr(std::string_view a, std::string_view b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); i++) {
        const double d = static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
        sum += d * d;
    }
    if (sum == 0) return 99.0;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

// A stream of `frames` pictures of width x height with chroma_format 1 (4:2:0), 2 (4:2:2) or 3 (4:4:4),
// coded from the files <dir>/src<f>.yuv into <dir>/out.mpg, reconstructed into <dir>/rec<f>.Y/.U/.V.
struct EncodedStream {
    std::string dir;
    int width = 0, height = 0, chroma_format = 1, frames = 0;

    EncodedStream(const std::string& name, int width_, int height_, int chroma_format_, int frames_)
        : dir(fresh_scratch_folder(name)),
          width(width_),
          height(height_),
          chroma_format(chroma_format_),
          frames(frames_) {}
    EncodedStream(const EncodedStream&) = delete;
    EncodedStream& operator=(const EncodedStream&) = delete;

    int chroma_width() const { return chroma_format == 3 ? width : width / 2; }
    int chroma_height() const { return chroma_format == 1 ? height / 2 : height; }
    std::size_t luma_size() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
    std::size_t frame_size() const {
        return luma_size() + 2 * static_cast<std::size_t>(chroma_width()) * static_cast<std::size_t>(chroma_height());
    }
    const char* pixel_format() const {
        return chroma_format == 1 ? "yuv420p" : chroma_format == 2 ? "yuv422p" : "yuv444p";
    }
    std::string stream_path() const { return dir + "/out.mpg"; }
    std::string source_path(int f) const { return dir + "/src" + std::to_string(f) + ".yuv"; }

    // Writes source picture f: the three planes one after the other, as the encoder's .yuv reader takes them.
    void write_source(int f, const std::vector<std::uint8_t>& y, const std::vector<std::uint8_t>& u,
                      const std::vector<std::uint8_t>& v) const {
        std::ofstream out(source_path(f), std::ios::binary);
        for (const auto* plane : {&y, &u, &v})
            out.write(reinterpret_cast<const char*>(plane->data()), static_cast<std::streamsize>(plane->size()));
        ASSERT_TRUE(out.good()) << "cannot write " << source_path(f);
    }

    // Writes the parameter lines: raw .yuv sources, reconstruction and statistics in the directory, the picture
    // size and count, optionally loaded quantiser matrices, then `lines`. Returns the path of the file.
    std::string write_parameters(const ParameterLines& lines, bool loaded_matrices = false) const {
        ParameterTable table;
        table.set(1, dir + "/src%d").set(2, dir + "/rec%d").set(5, dir + "/stat.out").set(6, "1");
        table.set(7, std::to_string(frames)).set(14, std::to_string(width)).set(15, std::to_string(height));
        table.set(30, std::to_string(width)).set(31, std::to_string(height));
        if (loaded_matrices) {
            std::ofstream intra(dir + "/intra.mat"), non_intra(dir + "/non_intra.mat");
            for (int i = 0; i < 64; i++) {
                intra << 8 + (i * 7) % 60 << (i % 8 == 7 ? "\n" : " ");
                non_intra << 12 + i % 20 << " ";
            }
            table.set(3, dir + "/intra.mat").set(4, dir + "/non_intra.mat");
        }
        for (const auto& [k, text] : lines) table.set(k, text);
        const std::string path = dir + "/lines.par";
        std::ofstream out(path);
        for (const std::string& line : table.lines()) out << line << "\n";
        return path;
    }

    ProgramResult encode(const std::string& parameter_path) const {
        return run_program(std::string(VINTREL_ENCODE_PATH) + " --lines " + parameter_path + " " + stream_path());
    }

    // Decodes the stream with the ffmpeg program into raw pictures in display order (every decoded picture,
    // none dropped or repeated); the decoder's messages are in the result's `err`.
    ProgramResult decode(std::string& pictures) const {
        const std::string path = dir + "/decoded.yuv";
        ProgramResult result = run_program("ffmpeg -nostdin -v error -i " + stream_path() +
                                           " -vsync passthrough -f rawvideo -pix_fmt " + pixel_format() + " -y " + path);
        pictures = read_file(path);
        return result;
    }

    // Our reconstruction of display frame f, planes one after the other.
    std::string reconstruction(int f) const {
        const std::string base = dir + "/rec" + std::to_string(f);
        return read_file(base + ".Y") + read_file(base + ".U") + read_file(base + ".V");
    }
};

}  // namespace vintrel::test
