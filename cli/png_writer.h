// Writing 8-bit greyscale PNG files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vintrel {

// Writes `pixels` (height rows of width bytes, top row first, 0 black to 255 white) to `path` as
// an 8-bit greyscale PNG. Returns the reason on failure (the file may then be left partly written).
std::optional<std::string> write_grey_png(const std::string& path, std::uint32_t width, std::uint32_t height,
                                          std::span<const std::uint8_t> pixels);

}  // namespace vintrel
