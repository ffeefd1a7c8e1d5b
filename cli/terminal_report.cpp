// What vintrel-convert shows while and after it converts.
#include "cli/terminal_report.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "encoder/setup/reporter.h"

namespace vintrel {
namespace {

// The progress line is drawn at most this often: a terminal scrolled by a redraw for every frame
// of a small movie slows the conversion down.
constexpr std::chrono::milliseconds redraw_interval(100);

// The width of the terminal, so that the progress line never wraps (a wrapped line cannot be
// redrawn in place).
std::size_t terminal_columns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col - 1u;
    return 79;
}

}  // namespace

std::string duration_text(double seconds) {
    if (seconds < 1) return "under 1 s";
    // Rounded up: "0 s left" would be said while work remains.
    const long total = std::lround(std::ceil(seconds));
    char text[40];
    if (total < 60)
        std::snprintf(text, sizeof text, "%ld s", total);
    else if (total < 3600)
        std::snprintf(text, sizeof text, "%ld min %02ld s", total / 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld h %02ld min", total / 3600, total / 60 % 60);
    return text;
}

TerminalReport::TerminalReport(Verbosity verbosity)
    : verbosity_(verbosity), on_terminal_(::isatty(STDERR_FILENO) != 0) {}

void TerminalReport::start(const Conversion& conversion) {
    conversion_ = &conversion;
    title_ = document_title(conversion.movie_path());
    started_ = std::chrono::steady_clock::now();
    drawn_ = {};
}

void TerminalReport::progress(int frame, int count) {
    if (verbosity_ == Verbosity::verbose) {
        if (on_terminal_) std::fprintf(stderr, "\n%s: frame %d of %d\n", title_.c_str(), frame + 1, count);
        return;
    }
    if (verbosity_ != Verbosity::normal || !on_terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (frame == 0) started_ = now;
    if (frame + 1 < count && now - drawn_ < redraw_interval) return;
    drawn_ = now;
    char line[200];
    const int percent = static_cast<int>(100LL * frame / count);
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    if (frame == 0 || elapsed <= 0) {
        std::snprintf(line, sizeof line, "%s: frame %d of %d, %d%%", title_.c_str(), frame + 1, count, percent);
    } else {
        const double rate = frame / elapsed;
        std::snprintf(line, sizeof line, "%s: frame %d of %d, %d%%, %.1f frames a second, %s left", title_.c_str(),
                      frame + 1, count, percent, rate, duration_text((count - frame) / rate).c_str());
    }
    show_line(line);
}

void TerminalReport::writing_database() {
    if (verbosity_ != Verbosity::normal || !on_terminal_) return;
    const std::string& pdb = conversion_->pdb_name();
    show_line(title_ + ": 100%, writing " + pdb.substr(pdb.find_last_of('/') + 1));
}

void TerminalReport::show_line(const std::string& line) {
    const std::string shown = line.substr(0, terminal_columns());
    std::fprintf(stderr, "\r%s\033[K", shown.c_str());
    std::fflush(stderr);
    line_shown_ = true;
}

void TerminalReport::end_progress() {
    if (!line_shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    line_shown_ = false;
}

void TerminalReport::warning_text(const std::string& text) {
    if (verbosity_ == Verbosity::verbose) write_to_standard_error(text);
}

void TerminalReport::encoder_progress(const std::string& text) {
    if (verbosity_ == Verbosity::verbose) write_to_standard_error(text);
}

void TerminalReport::tell(const Message& message) {
    end_progress();
    const bool error = message.kind != Notice::finished && message.kind != Notice::warning;
    if (verbosity_ == Verbosity::quiet && !error) return;
    if (message.kind == Notice::finished) {
        std::printf("%s: %s\n", conversion_->movie_path().c_str(), message.text.c_str());
        std::printf("  %s\n  %s\n", conversion_->pdb_name().c_str(), conversion_->mpeg_name().c_str());
        std::fflush(stdout);
        return;
    }
    std::fprintf(stderr, "vintrel-convert: %s: %s", conversion_->movie_path().c_str(), message.text.c_str());
    if (about_opening(message.kind)) std::fprintf(stderr, " (%s)", conversion_->open_detail().c_str());
    std::fputc('\n', stderr);
}

void TerminalReport::tell_warnings(const std::vector<WarningGroup>& warnings) {
    // The verbose output had every one of them as it came.
    if (verbosity_ != Verbosity::normal) return;
    for (const WarningGroup& group : warnings) {
        if (group.pictures == 1)
            std::fprintf(stderr, "vintrel-convert: %s: Warning: %s\n", conversion_->movie_path().c_str(),
                         group.first.c_str());
        else
            std::fprintf(stderr, "vintrel-convert: %s: Warning: %s (%d pictures)\n", conversion_->movie_path().c_str(),
                         group.label.c_str(), group.pictures);
    }
}

void TerminalReport::tell_encoder_error(const ConversionOutcome& outcome) {
    end_progress();
    write_fatal_text(outcome.fault.detail);
    std::fprintf(stderr, "vintrel-convert: %s: the conversion ended on the error above; %s was left empty",
                 conversion_->movie_path().c_str(), conversion_->pdb_name().c_str());
    if (outcome.stream != StreamState::untouched)
        std::fprintf(stderr, " and %s is incomplete", conversion_->mpeg_name().c_str());
    std::fputc('\n', stderr);
}

void TerminalReport::tell_brightness(int brightness) const {
    if (verbosity_ == Verbosity::quiet) return;
    std::fprintf(stderr, "vintrel-convert: %s: brightness %+d, chosen for its frames\n", conversion_->movie_path().c_str(),
                 brightness);
}

void TerminalReport::tell_stopped() {
    end_progress();
    if (verbosity_ == Verbosity::quiet) return;
    std::fprintf(stderr, "vintrel-convert: %s: stopped; %s holds the pictures coded so far and %s was left empty\n",
                 conversion_->movie_path().c_str(), conversion_->mpeg_name().c_str(),
                 conversion_->pdb_name().c_str());
}

void TerminalReport::summary(int movies, const std::vector<std::pair<std::string, std::string>>& not_converted) const {
    if (verbosity_ == Verbosity::quiet || movies < 2) return;
    if (!not_converted.empty()) std::printf("not converted:\n");
    for (const auto& [movie, reason] : not_converted) std::printf("  %s: %s\n", movie.c_str(), reason.c_str());
    std::printf("converted %d of %d movies\n", movies - static_cast<int>(not_converted.size()), movies);
    std::fflush(stdout);
}

}  // namespace vintrel
