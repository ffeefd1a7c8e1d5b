// Reads a parameter file for the encoder harness: one parameter line per non-blank text line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vintrel {

// The file's lines without their line ends, blank lines left out. On failure returns nothing
// and sets `error` to a message naming the file and the reason.
std::optional<std::vector<std::string>> read_parameter_file(const std::string& path, std::string& error);

}  // namespace vintrel
