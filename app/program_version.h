// Every program's --version: its name and the product version of the build's version record.
#pragma once

#include <cstdio>
#include <string_view>

#include "app/version_record.h"

namespace vintrel {

inline constexpr std::string_view product_version() {
    for (const VersionItem& item : program_version_items)
        if (item.name == "ProductVersion") return item.value;
    return {};
}

// Prints "PROGRAM VERSION" on standard output. Returns the exit status: 0, or 1 when the line
// could not be written.
inline int print_version(const char* program) {
    const std::string_view version = product_version();
    std::printf("%s %.*s\n", program, static_cast<int>(version.size()), version.data());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace vintrel
