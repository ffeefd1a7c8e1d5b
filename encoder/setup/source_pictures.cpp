// Source pictures: raw plane files (NAME.Y/.U/.V, or all three planes in one NAME.yuv) and the movie hook.
#include "encoder/setup/source_pictures.h"

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

std::FILE* open_for_reading(const ErrorChannel& errors, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) fatal_error(errors, error_text("Couldn't open %s\n", path.c_str()));
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

void read_plane_file(const ErrorChannel& errors, const std::string& path, std::uint8_t* plane,
                     const PlaneLayout& layout) {
    std::FILE* file = open_for_reading(errors, path);
    read_plane(file, plane, layout);
    std::fclose(file);  // an input stream: closing it cannot lose data
}

}  // namespace

void read_planar_files(const Parameters& params, const Geometry& geometry, const ErrorChannel& errors,
                       const std::string& name, Picture& picture) {
    read_plane_file(errors, name + ".Y", picture[0], luminance_layout(params, geometry));
    read_plane_file(errors, name + ".U", picture[1], chroma_layout(params, geometry));
    read_plane_file(errors, name + ".V", picture[2], chroma_layout(params, geometry));
}

void read_yuv_file(const Parameters& params, const Geometry& geometry, const ErrorChannel& errors,
                   const std::string& name, Picture& picture) {
    std::FILE* file = open_for_reading(errors, name + ".yuv");
    read_plane(file, picture[0], luminance_layout(params, geometry));
    read_plane(file, picture[1], chroma_layout(params, geometry));
    read_plane(file, picture[2], chroma_layout(params, geometry));
    std::fclose(file);  // an input stream: closing it cannot lose data
}

void read_frame(const Parameters& params, const Geometry& geometry, const MovieFrameReader& read_movie_frame,
                const ErrorChannel& errors, const std::string& name, Picture& picture, int n) {
    switch (params.input_picture_format) {
    case InputPictureFormat::planar_files:
        read_planar_files(params, geometry, errors, name, picture);
        break;
    case InputPictureFormat::yuv_file:
        read_yuv_file(params, geometry, errors, name, picture);
        break;
    case InputPictureFormat::movie:
        if (!read_movie_frame) fatal_error(errors, "No movie to read frames from");
        read_movie_frame(picture, n);
        break;
    default:
        // No other source exists; the picture keeps what it held.
        break;
    }
}

}  // namespace vintrel
