// A report handler for tests: keeps warnings and progress.
#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "encoder/encoder.h"
#include "encoder/setup/encoder_state.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel::test {

// Installed in a state from construction to destruction (then the standard handlers are back);
// what the encoder reports through it meanwhile collects here.
struct RecordingReporter {
    explicit RecordingReporter(EncoderState& state) : state_(state) {
        state.report.warning = [this](const std::string& text) { warnings += text; };
        state.report.progress = [this](const std::string& text) { progress += text; };
    }
    ~RecordingReporter() { state_.report = Reporter{}; }
    RecordingReporter(const RecordingReporter&) = delete;
    RecordingReporter& operator=(const RecordingReporter&) = delete;

    std::string warnings;  // every warning's text, one after another, as standard error would show them
    std::string progress;

private:
    EncoderState& state_;
};

// The text of the fatal error that `work` ends on (the fault it returns, or the error a coding
// stage throws), or "(no fatal error)" when it finishes.
template <class Work>
std::string fatal_text_of(Work&& work) {
    try {
        if constexpr (std::is_same_v<std::invoke_result_t<Work>, EncoderFault>) {
            const EncoderFault fault = std::forward<Work>(work)();
            if (fault.failed()) return fault.detail;
        } else {
            std::forward<Work>(work)();
        }
    } catch (const EncoderError& error) {
        return error.what();
    }
    return "(no fatal error)";
}

}  // namespace vintrel::test
