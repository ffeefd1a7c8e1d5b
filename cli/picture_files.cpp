// Raw plane files: NAME.Y/.U/.V, or all three planes in one NAME.yuv.
#include "cli/picture_files.h"

#include <cstddef>
#include <cstdio>

#include "encoder/setup/chroma_subsampling.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

// Where one plane's picture lies in its buffer: width x height samples in rows of `stride`,
// the buffer being stride x full_height.
struct PlaneLayout {
    int width;
    int height;
    int stride;
    int full_height;
};

PlaneLayout luminance_layout(const Parameters& params, const Geometry& geometry) {
    return {params.horizontal_size, params.vertical_size, geometry.coded_width, geometry.coded_height};
}

PlaneLayout chroma_layout(const Parameters& params, const Geometry& geometry) {
    const int width = params.chroma_format == ChromaFormat::yuv444 ? params.horizontal_size : params.horizontal_size / 2;
    const int height = params.chroma_format == ChromaFormat::yuv420 ? params.vertical_size / 2 : params.vertical_size;
    return {width, height, geometry.chroma_width, geometry.chroma_height};
}

std::FILE* open_for_reading(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) throw EncoderError(error_text("Couldn't open %s\n", path.c_str()));
    return file;
}

// Reads the picture rows of one plane and extends them to the plane's full size. A file that
// ends early leaves the rows it did not fill as they were.
void read_plane(std::FILE* file, std::uint8_t* plane, const PlaneLayout& layout) {
    const auto width = static_cast<std::size_t>(layout.width > 0 ? layout.width : 0);
    for (int y = 0; y < layout.height; y++) {
        std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * layout.stride;
        if (std::fread(row, 1, width, file) != width) break;
    }
    extend_borders(plane, layout.width, layout.height, layout.stride, layout.full_height);
}

void read_plane_file(const std::string& path, std::uint8_t* plane, const PlaneLayout& layout) {
    std::FILE* file = open_for_reading(path);
    read_plane(file, plane, layout);
    std::fclose(file);  // an input stream: closing it cannot lose data
}

void write_plane_file(const std::string& path, const std::uint8_t* plane, const PlaneLayout& layout) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) throw EncoderError(error_text("Couldn't create %s\n", path.c_str()));
    const auto row_bytes = static_cast<std::size_t>(layout.width > 0 ? layout.width : 0);
    bool written = true;
    for (int y = 0; y < layout.height && written; y++)
        written = std::fwrite(plane + static_cast<std::ptrdiff_t>(y) * layout.stride, 1, row_bytes, file) == row_bytes;
    if (std::fclose(file) != 0) written = false;
    if (!written) throw EncoderError(error_text("Couldn't write %s\n", path.c_str()));
}

}  // namespace

void read_source_picture(const Parameters& params, const Geometry& geometry, const std::string& name,
                         Picture& picture) {
    const PlaneLayout luminance = luminance_layout(params, geometry), chroma = chroma_layout(params, geometry);
    switch (params.input_picture_format) {
    case InputPictureFormat::planar_files:
        read_plane_file(name + ".Y", picture[0], luminance);
        read_plane_file(name + ".U", picture[1], chroma);
        read_plane_file(name + ".V", picture[2], chroma);
        break;
    case InputPictureFormat::yuv_file: {
        std::FILE* file = open_for_reading(name + ".yuv");
        read_plane(file, picture[0], luminance);
        read_plane(file, picture[1], chroma);
        read_plane(file, picture[2], chroma);
        std::fclose(file);  // an input stream: closing it cannot lose data
        break;
    }
    default:
        // No other source is read from files; the picture keeps what it held.
        break;
    }
}

void write_reconstruction(const Parameters& params, const Geometry& geometry, const std::string& name,
                          const Picture& picture) {
    if (!name.empty() && name[0] == '-') return;
    const PlaneLayout luminance = luminance_layout(params, geometry), chroma = chroma_layout(params, geometry);
    write_plane_file(name + ".Y", picture[0], luminance);
    write_plane_file(name + ".U", picture[1], chroma);
    write_plane_file(name + ".V", picture[2], chroma);
}

}  // namespace vintrel
