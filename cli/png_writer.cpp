// Writing 8-bit greyscale PNG files.
#include "cli/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vintrel {

std::optional<std::string> write_grey_png(const std::string& path, std::uint32_t width, std::uint32_t height,
                                          std::span<const std::uint8_t> pixels) {
    if (width == 0 || height == 0 || width > std::numeric_limits<png_int_32>::max() ||
        pixels.size() / width < height)
        return "the picture's size does not match its pixels";

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return std::string(std::strerror(errno));

    // The simplified interface reports errors through image.message rather than a long jump.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_GRAY;
    errno = 0;
    const bool written = png_image_write_to_stdio(&image, file, 0, pixels.data(), static_cast<png_int_32>(width),
                                                  nullptr) != 0;
    const int write_errno = errno;
    std::string failure;
    if (!written)
        failure = write_errno != 0 ? std::string(std::strerror(write_errno)) : std::string(image.message);
    png_image_free(&image);
    errno = 0;
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const int flush_errno = errno;
    const bool closed = std::fclose(file) == 0;
    const int close_errno = errno;
    if (!failure.empty()) return failure;
    if (!flushed) return std::string(std::strerror(flush_errno != 0 ? flush_errno : EIO));
    if (!closed) return std::string(std::strerror(close_errno != 0 ? close_errno : EIO));
    return std::nullopt;
}

}  // namespace vintrel
