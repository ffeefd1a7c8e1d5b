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

// The encoder's texts for the files of its pictures; the line feed inside them is kept.
EncoderFault file_fault(const char* format, const std::string& path) {
    return {EncoderFailure::fatal, path, 0, error_text(format, path.c_str())};
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

// Reads the planes in turn from the file at `path`.
EncoderFault read_planes(const std::string& path, std::initializer_list<std::pair<std::uint8_t*, PlaneLayout>> planes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return file_fault("Couldn't open %s\n", path);
    for (const auto& [plane, layout] : planes) read_plane(file, plane, layout);
    std::fclose(file);  // an input stream: closing it cannot lose data
    return {};
}

EncoderFault write_plane_file(const std::string& path, const std::uint8_t* plane, const PlaneLayout& layout) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return file_fault("Couldn't create %s\n", path);
    const auto row_bytes = static_cast<std::size_t>(layout.width > 0 ? layout.width : 0);
    bool written = true;
    for (int y = 0; y < layout.height && written; y++)
        written = std::fwrite(plane + static_cast<std::ptrdiff_t>(y) * layout.stride, 1, row_bytes, file) == row_bytes;
    if (std::fclose(file) != 0) written = false;
    if (!written) return file_fault("Couldn't write %s\n", path);
    return {};
}

}  // namespace

EncoderFault read_source_picture(const Parameters& params, const Geometry& geometry, const std::string& name,
                                 Picture& picture) {
    const PlaneLayout luminance = luminance_layout(params, geometry), chroma = chroma_layout(params, geometry);
    switch (params.input_picture_format) {
    case InputPictureFormat::planar_files:
        for (const auto& [extension, plane, layout] : {std::tuple{".Y", picture[0], luminance},
                                                       {".U", picture[1], chroma}, {".V", picture[2], chroma}})
            if (EncoderFault fault = read_planes(name + extension, {{plane, layout}}); fault.failed()) return fault;
        return {};
    case InputPictureFormat::yuv_file:
        return read_planes(name + ".yuv", {{picture[0], luminance}, {picture[1], chroma}, {picture[2], chroma}});
    default:
        // No other source is read from files; the picture keeps what it held.
        return {};
    }
}

EncoderFault write_reconstruction(const Parameters& params, const Geometry& geometry, const std::string& name,
                                  const Picture& picture) {
    if (!name.empty() && name[0] == '-') return {};
    const PlaneLayout luminance = luminance_layout(params, geometry), chroma = chroma_layout(params, geometry);
    for (const auto& [extension, plane, layout] : {std::tuple{".Y", picture[0], luminance},
                                                   {".U", picture[1], chroma}, {".V", picture[2], chroma}})
        if (EncoderFault fault = write_plane_file(name + extension, plane, layout); fault.failed()) return fault;
    return {};
}

}  // namespace vintrel
