// vintrel-convert: converts movies from the command line exactly as the desktop program's Ok does.
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <stop_token>
#include <string_view>
#include <thread>
#include <vector>

#include "app/program_version.h"
#include "cli/terminal_report.h"
#include "convert/conversion.h"
#include "convert/frame_sample.h"
#include "convert/movie_part.h"
#include "convert/sample_rate.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/reporter.h"

namespace {

using namespace vintrel;

const char usage[] =
    "usage: vintrel-convert [-q | --verbose] [--brightness B|auto] [--fit WxH] [--start TIME] [--end TIME | --duration TIME]\n"
    "                       [-o DIR] [--stat FILE] MOVIE...\n"
    "       vintrel-convert --version\n"
    "  B: brightness offset added to every grey, -255..255 (default 0), or auto: chosen for each movie\n"
    "  TIME: seconds, or [[h:]m:]s (1:30, 12.5); only that part of each movie is converted\n"
    "  WxH: frames are fitted inside a W x H screen, keeping their aspect ratio (default: the movie's size);\n"
    "       320x240, 320X240, \"320 x 240\" and 320\xC3\x97" "240 are the same size\n"
    "  DIR (-o, --output-dir): the folder the .pdb and .mpg go to (default: beside each movie)\n"
    "  FILE: statistics report (default stat.out in the current directory, - for standard output)\n"
    "  -q (--quiet): errors only; --verbose: the encoder's own text for every picture as well\n";

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

// A time option's value, or an error message and exit status 2.
bool parse_time_option(std::string_view option, const char* text, std::optional<double>& time) {
    time = parse_time(text);
    if (!time)
        std::fprintf(stderr, "vintrel-convert: %.*s needs a time in seconds or as [[h:]m:]s, such as 90, 12.5 or 1:30, "
                     "not \"%s\"\n", static_cast<int>(option.size()), option.data(), text);
    return time.has_value();
}

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
    bool automatic = false;
    std::optional<double> start, end, duration;
    ScreenSize screen;
    std::string statistics = "stat.out";
    std::string output_folder;
    std::vector<std::string> movies;
    Verbosity verbosity = Verbosity::normal;
    for (int i = 1; i < argc; i++) {
        const std::string_view arg = argv[i];
        if (arg == "-q" || arg == "--quiet") {
            verbosity = Verbosity::quiet;
        } else if (arg == "--verbose") {
            verbosity = Verbosity::verbose;
        } else if (arg == "--brightness" && i + 1 < argc && std::string_view(argv[i + 1]) == "auto") {
            automatic = true;
            i++;
        } else if ((arg == "--start" || arg == "--end" || arg == "--duration") && i + 1 < argc) {
            if (!parse_time_option(arg, argv[++i], arg == "--start" ? start : arg == "--end" ? end : duration)) return 2;
        } else if (arg == "--brightness" && i + 1 < argc) {
            automatic = false;
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
    if (end && duration) {
        std::fprintf(stderr, "vintrel-convert: give --end or --duration, not both\n");
        return 2;
    }
    if (duration) end = start.value_or(0) + *duration;
    if (start && end && *end <= *start) {
        std::fprintf(stderr, "vintrel-convert: the part must end after it starts (%s to %s)\n", time_text(*start).c_str(),
                     time_text(*end).c_str());
        return 2;
    }

    // Blocked before any thread starts, so that every thread inherits the mask.
    static InterruptWatch interrupt;
    // Past a file-size limit a write must fail with an error we can report, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    // The built-in lines' start-up fix-ups are the same on every run: worth showing only to
    // someone who asks for the encoder's own text.
    const auto builtin = builtin_configuration(verbosity == Verbosity::verbose ? write_to_standard_error : nullptr);
    if (!builtin.ok()) {
        write_fatal_text(builtin.fault.detail);
        return 1;
    }
    const auto configuration = std::make_shared<Parameters>(*builtin.value);
    configuration->statistics_file_name = statistics;

    TerminalReport report(verbosity);
    // The movies not converted, each with the reason in a few words.
    std::vector<std::pair<std::string, std::string>> not_converted;
    const auto give_up_on_the_rest = [&](std::size_t from, const std::string& reason) {
        for (std::size_t k = from; k < movies.size(); k++) not_converted.emplace_back(movies[k], reason);
    };
    for (std::size_t k = 0; k < movies.size(); k++) {
        const std::string& path = movies[k];
        if (interrupt.interrupted()) {
            give_up_on_the_rest(k, "not started: interrupted");
            break;
        }
        Conversion conversion(configuration, report, path, Movie::open);
        conversion.fit_within(screen);
        conversion.write_into(output_folder);
        report.start(conversion);
        if (!conversion.open_movie() || !conversion.setup()) {
            const Message refusal = fault_message(conversion.fault(), conversion.pdb_name());
            report.tell(refusal);
            not_converted.emplace_back(path, refusal.text);
            continue;
        }
        if (start || end) {
            const FramePart part = frames_between(start.value_or(0), end, conversion.frame_count());
            if (part.count == 0) {
                const Message empty{Notice::refused,
                                    "the part from " + time_text(start.value_or(0)) + " holds no frame: the movie is " +
                                        time_text(conversion.frame_count() / frames_per_second) +
                                        " long. Nothing was converted.",
                                    "Vintrel", true};
                report.tell(empty);
                not_converted.emplace_back(path, empty.text);
                conversion.abandon();
                continue;
            }
            conversion.choose_part(part);
        }
        int movie_brightness = brightness;
        if (automatic) {
            movie_brightness = FrameSample(*conversion.movie(), conversion.part()).automatic_brightness();
            report.tell_brightness(movie_brightness);
        }
        const ConversionOutcome outcome = conversion.run(movie_brightness, interrupt.token());
        report.end_progress();
        for (const Message& note : outcome.notes) report.tell(note);
        if (outcome.fault.kind == ConversionFailure::encoder) {
            report.tell_encoder_error(outcome);
            not_converted.emplace_back(path, "the encoder's error above");
            give_up_on_the_rest(k + 1, "not started: the encoder's error ended the run");
            report.summary(static_cast<int>(movies.size()), not_converted);
            return 1;  // the encoder's error ends the whole run
        }
        const Message failure = fault_message(outcome.fault, conversion.pdb_name());
        if (outcome.fault.kind != ConversionFailure::none) report.tell(failure);
        if (outcome.result == ConversionResult::finished) report.tell(finished_message());
        report.tell_warnings(outcome.warnings);
        if (outcome.result == ConversionResult::stopped && outcome.database == DatabaseState::emptied)
            report.tell_stopped();
        if (outcome.result != ConversionResult::finished)
            not_converted.emplace_back(path, outcome.result == ConversionResult::stopped ? "stopped" : failure.text);
    }
    report.summary(static_cast<int>(movies.size()), not_converted);
    if (interrupt.interrupted()) return 130;
    return not_converted.empty() ? 0 : 2;
}
