// Parameter files for the encoder harness.
#include "cli/parameter_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace vintrel {

std::optional<std::vector<std::string>> read_parameter_file(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open parameter file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t\f\v") == std::string::npos) continue;
        lines.push_back(line);
    }
    if (in.bad()) {
        error = "cannot read parameter file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    return lines;
}

}  // namespace vintrel
