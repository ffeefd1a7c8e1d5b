// vintrel-convert: converts movies from the command line exactly as the desktop program's Ok does.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/program_version.h"
#include "convert/conversion.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/read_parameters.h"

namespace {

using namespace vintrel;

volatile std::sig_atomic_t interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

const char usage[] =
    "usage: vintrel-convert [--brightness B] [--fit WxH] [--stat FILE] MOVIE...\n"
    "       vintrel-convert --version\n"
    "  B: brightness offset added to every grey, -255..255 (default 0)\n"
    "  WxH: frames are fitted inside a W x H screen, keeping their aspect ratio (default: the movie's size)\n"
    "  FILE: statistics report (default stat.out in the current directory, - for standard output)\n";

// The command line's stand-in for the windows: messages go to the terminal, Ctrl-C is Stop.
class TerminalHost : public ConversionHost {
public:
    TerminalHost() : on_terminal_(::isatty(STDERR_FILENO) != 0) {}

    void start(Conversion& conversion) {
        conversion_ = &conversion;
        title_ = document_title(conversion.movie_path());
    }

    bool draws_frames() const override { return false; }

    bool pump_waiting_messages() override {
        if (interrupted && conversion_) conversion_->request_stop();
        return false;
    }

    void progress(int frame, int count) override {
        if (on_terminal_) std::fprintf(stderr, "\n%s: frame %d of %d\n", title_.c_str(), frame + 1, count);
    }

    void show_message(Notice kind, const std::string& text, const std::string&) override {
        if (kind == Notice::fatal) {
            // The encoder's own text as it always stood, then what became of this movie: the run ends.
            write_fatal_text(text);
            ended_by_error();
            ended_by_error_ = true;
            return;
        }
        if (kind == Notice::finished) {
            std::printf("%s: %s\n", conversion_->movie_path().c_str(), text.c_str());
            std::printf("  %s\n  %s\n", conversion_->pdb_name().c_str(), conversion_->mpeg_name().c_str());
            std::fflush(stdout);
            return;
        }
        // The line names the movie already: a text that starts with its name does not name it again.
        const std::string named = title_ + ": ";
        const std::size_t skip = text.starts_with(named) ? named.size() : 0;
        std::fprintf(stderr, "vintrel-convert: %s: %s", conversion_->movie_path().c_str(), text.c_str() + skip);
        if (about_opening(kind)) std::fprintf(stderr, " (%s)", conversion_->open_detail().c_str());
        std::fputc('\n', stderr);
    }

    // Whether a fatal encoder error ended a conversion: the program then ends with exit code 1.
    bool ended_by_error_seen() const { return ended_by_error_; }

private:
    // Told after a fatal encoder error has been written to standard error: says which movie it
    // ended and in what state it leaves the outputs.
    void ended_by_error() const {
        if (!conversion_ || !conversion_->running()) return;
        const std::string& mpg = conversion_->mpeg_name();
        std::fprintf(stderr, "vintrel-convert: %s: the conversion ended on the error above; %s was left empty",
                     conversion_->movie_path().c_str(), conversion_->pdb_name().c_str());
        if (conversion_->outcome().stream != StreamState::untouched)
            std::fprintf(stderr, " and %s is incomplete", mpg.c_str());
        std::fputc('\n', stderr);
    }

    bool on_terminal_;
    bool ended_by_error_ = false;
    Conversion* conversion_ = nullptr;
    std::string title_;
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

    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    // Past a file-size limit a write must fail with an error we can report, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    EncoderState encoder;
    try {
        read_parameters(encoder);
    } catch (const EncoderError& error) {
        write_fatal_text(error.what());
        return 1;
    }
    encoder.params.statistics_file_name = statistics;

    TerminalHost host;
    bool all_converted = true;
    for (const std::string& path : movies) {
        if (interrupted) break;
        Conversion conversion(encoder, host, path, Movie::open);
        conversion.fit_within(screen);
        host.start(conversion);
        if (!conversion.open_movie() || !conversion.setup()) {
            all_converted = false;
            continue;
        }
        const ConversionOutcome outcome = conversion.run(brightness);
        if (host.ended_by_error_seen()) return 1;  // the encoder's error ends the whole run
        if (outcome.result != ConversionResult::finished) all_converted = false;
        if (outcome.result == ConversionResult::stopped && outcome.database == DatabaseState::emptied) {
            // Stopped while encoding (a stop while the database is written is told by the conversion).
            std::fprintf(stderr, "vintrel-convert: %s: stopped; %s holds the pictures coded so far and %s was left empty\n",
                         path.c_str(), conversion.mpeg_name().c_str(), conversion.pdb_name().c_str());
        }
    }
    if (interrupted) return 130;
    return all_converted ? 0 : 2;
}
