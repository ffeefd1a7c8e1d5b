// What vintrel-convert shows while and after it converts: one progress line that updates in place
// on a terminal, the movie's messages and warnings, and the result lines.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "convert/conversion.h"

namespace vintrel {

enum class Verbosity {
    quiet,    // errors only
    normal,   // a progress line on a terminal, the movie's warnings grouped, errors and results
    verbose,  // besides: the encoder's start-up fix-ups and its text for every picture, as it comes
};

// "under 1 s", "45 s", "3 min 20 s", "2 h 05 min": a time left, rounded up to the second, in the
// largest units that read well.
std::string duration_text(double seconds);

// The command line's stand-in for the windows: what the conversion says goes to the terminal.
class TerminalReport : public ConversionHost {
public:
    explicit TerminalReport(Verbosity verbosity);

    // The conversion whose messages follow.
    void start(const Conversion& conversion);

    bool draws_frames() const override { return false; }
    void progress(int frame, int count) override;
    void writing_database() override;
    void warning_text(const std::string& text) override;
    void encoder_progress(const std::string& text) override;

    // Clears the progress line, so that what follows starts on a clean line.
    void end_progress();

    // A message about this movie, on a line that names it: results on standard output, the rest
    // on standard error.
    void tell(const Message& message);
    // Each kind of warning of the outcome once, with the number of pictures it came for.
    void tell_warnings(const std::vector<WarningGroup>& warnings);
    // The encoder's own text as it always stood, then what became of this movie.
    void tell_encoder_error(const ConversionOutcome& outcome);
    // The brightness chosen for the movie by --brightness auto.
    void tell_brightness(int brightness) const;
    // A stop while the movie was being encoded (a stop while the database is written is a note).
    void tell_stopped();

    // For several movies: those not converted, each with its reason, then "converted N of M movies".
    void summary(int movies, const std::vector<std::pair<std::string, std::string>>& not_converted) const;

private:
    void show_line(const std::string& line);

    Verbosity verbosity_;
    bool on_terminal_;
    const Conversion* conversion_ = nullptr;
    std::string title_;
    std::chrono::steady_clock::time_point started_, drawn_;
    bool line_shown_ = false;
};

}  // namespace vintrel
