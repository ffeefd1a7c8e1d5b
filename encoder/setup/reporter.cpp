// The standard-error report handlers.
#include "encoder/setup/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vintrel {

void write_fatal_text(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void write_to_standard_error(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::string formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
    return text;
}

}  // namespace vintrel
