// How the encoder tells the program around it about warnings and progress (fatal errors are thrown:
// EncoderError, fatal_error.h).
#pragma once

#include <functional>
#include <string>

namespace vintrel {

// Writes a fatal error the standard way: whatever is waiting on standard output first, then the
// text and a line feed on standard error.
void write_fatal_text(const std::string& text);

// Writes the text to standard error as it is (it carries its own line feeds).
void write_to_standard_error(const std::string& text);

// The program around the library installs how each kind of report reaches the user; every
// handler starts as the standard-error one, so a program that installs nothing behaves like a
// command-line tool.
struct Reporter {
    using Handler = std::function<void(const std::string& text)>;

    // Something was adjusted or looks wrong, and the work goes on.
    Handler warning = write_to_standard_error;
    // How far the work has come: frame numbers, a dot per macroblock row.
    Handler progress = write_to_standard_error;
};

// Formats like printf, without a length limit.
std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vintrel
