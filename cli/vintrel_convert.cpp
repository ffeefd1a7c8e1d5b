// vintrel-convert: converts movies from the command line exactly as the desktop program's Ok does.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "app/program_version.h"
#include "convert/conversion.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/reporter.h"

namespace {

using namespace vintrel;

const char usage[] =
    "usage: vintrel-convert [--brightness B] [--fit WxH] [-o DIR] [--stat FILE] MOVIE...\n"
    "       vintrel-convert --version\n"
    "  B: brightness offset added to every grey, -255..255 (default 0)\n"
    "  WxH: frames are fitted inside a W x H screen, keeping their aspect ratio (default: the movie's size)\n"
    "  DIR (-o, --output-dir): the folder the .pdb and .mpg go to (default: beside each movie)\n"
    "  FILE: statistics report (default stat.out in the current directory, - for standard output)\n";

// The command line's stand-in for the windows: what the conversion says goes to the terminal.
class TerminalHost : public ConversionHost {
public:
    TerminalHost() : on_terminal_(::isatty(STDERR_FILENO) != 0) {}

    void start(const Conversion& conversion) {
        conversion_ = &conversion;
        title_ = document_title(conversion.movie_path());
    }

    bool draws_frames() const override { return false; }

    void progress(int frame, int count) override {
        if (on_terminal_) std::fprintf(stderr, "\n%s: frame %d of %d\n", title_.c_str(), frame + 1, count);
    }
    void warning_text(const std::string& text) override { write_to_standard_error(text); }
    void encoder_progress(const std::string& text) override { write_to_standard_error(text); }

    // A message about this movie, on a line that names it.
    void tell(const Message& message) const {
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

    // The encoder's own text as it always stood, then what became of this movie.
    void tell_encoder_error(const ConversionOutcome& outcome) const {
        write_fatal_text(outcome.fault.detail);
        std::fprintf(stderr, "vintrel-convert: %s: the conversion ended on the error above; %s was left empty",
                     conversion_->movie_path().c_str(), conversion_->pdb_name().c_str());
        if (outcome.stream != StreamState::untouched)
            std::fprintf(stderr, " and %s is incomplete", conversion_->mpeg_name().c_str());
        std::fputc('\n', stderr);
    }

private:
    const Conversion* conversion_ = nullptr;
    std::string title_;
    bool on_terminal_;
};

// Ctrl-C is Stop: a thread waits for the interrupt (blocked in every other thread) and asks the
// conversion running, and the run, to stop.
class InterruptWatch {
public:
    InterruptWatch() {
        sigemptyset(&interrupt_);
        sigaddset(&interrupt_, SIGINT);
        pthread_sigmask(SIG_BLOCK, &interrupt_, nullptr);
        std::thread([this] {
            int signal = 0;
            while (sigwait(&interrupt_, &signal) != 0) {
            }
            stop_.request_stop();
        }).detach();  // it ends with the program
    }
    std::stop_token token() const { return stop_.get_token(); }
    bool interrupted() const { return stop_.stop_requested(); }

private:
    sigset_t interrupt_;
    std::stop_source stop_;
};

bool parse_brightness(const char* text, int& brightness) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < -255 || value > 255) return false;
    brightness = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int brightness = 0;
    ScreenSize screen;
    std::string statistics = "stat.out";
    std::string output_folder;
    std::vector<std::string> movies;
    for (int i = 1; i < argc; i++) {
        const std::string_view arg = argv[i];
        if (arg == "--brightness" && i + 1 < argc) {
            if (!parse_brightness(argv[++i], brightness)) {
                std::fprintf(stderr, "vintrel-convert: the brightness must be a whole number from -255 to 255\n");
                return 2;
            }
        } else if (arg == "--fit" && i + 1 < argc) {
            if (!parse_screen_size(argv[++i], screen)) {
                std::fprintf(stderr, "vintrel-convert: the screen size must be WxH, each a whole number from 1 to 4095\n");
                return 2;
            }
        } else if (arg == "--stat" && i + 1 < argc) {
            statistics = argv[++i];
        } else if ((arg == "-o" || arg == "--output-dir") && i + 1 < argc) {
            output_folder = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--version") {
            return print_version("vintrel-convert");
        } else if (arg == "--") {
            for (i++; i < argc; i++) movies.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "vintrel-convert: unknown option %s\n%s", argv[i], usage);
            return 2;
        } else {
            movies.emplace_back(argv[i]);
        }
    }
    if (movies.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }

    // Blocked before any thread starts, so that every thread inherits the mask.
    static InterruptWatch interrupt;
    // Past a file-size limit a write must fail with an error we can report, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    const auto builtin = builtin_configuration(write_to_standard_error);
    if (!builtin.ok()) {
        write_fatal_text(builtin.fault.detail);
        return 1;
    }
    const auto configuration = std::make_shared<Parameters>(*builtin.value);
    configuration->statistics_file_name = statistics;

    TerminalHost host;
    bool all_converted = true;
    for (const std::string& path : movies) {
        if (interrupt.interrupted()) break;
        Conversion conversion(configuration, host, path, Movie::open);
        conversion.fit_within(screen);
        conversion.write_into(output_folder);
        host.start(conversion);
        if (!conversion.open_movie() || !conversion.setup()) {
            host.tell(fault_message(conversion.fault(), conversion.pdb_name()));
            all_converted = false;
            continue;
        }
        const ConversionOutcome outcome = conversion.run(brightness, interrupt.token());
        for (const Message& note : outcome.notes) host.tell(note);
        if (outcome.fault.kind == ConversionFailure::encoder) {
            host.tell_encoder_error(outcome);
            return 1;  // the encoder's error ends the whole run
        }
        if (outcome.fault.kind != ConversionFailure::none) host.tell(fault_message(outcome.fault, conversion.pdb_name()));
        if (outcome.result == ConversionResult::finished) host.tell(finished_message());
        if (outcome.result != ConversionResult::finished) all_converted = false;
        if (outcome.result == ConversionResult::stopped && outcome.database == DatabaseState::emptied) {
            // Stopped while encoding (a stop while the database is written is told in the notes).
            std::fprintf(stderr, "vintrel-convert: %s: stopped; %s holds the pictures coded so far and %s was left empty\n",
                         path.c_str(), conversion.mpeg_name().c_str(), conversion.pdb_name().c_str());
        }
    }
    if (interrupt.interrupted()) return 130;
    return all_converted ? 0 : 2;
}
