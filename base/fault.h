// How every part of the library says that something failed: a value handed back to the caller.
// Nothing in the library prints, shows a box, ends the process or throws past its interface; the
// program around it decides what a fault means for the user.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vintrel {

// Why a call failed. `Kind` is the part's own list of what can go wrong, whose value 0 is `none`
// (it did not fail).
template <typename Kind>
struct Fault {
    Kind kind{};
    std::string file;      // the file concerned, empty when none
    int system_error = 0;  // the errno of the system call that failed, 0 when none
    std::string detail;    // what more there is to say: the library's own text, a size, a reason
    std::uint64_t offset = 0;  // the byte of the file at which the fault was found, where that matters

    bool failed() const { return kind != Kind{}; }
};

// What a call that makes something returns: what it made, and why it failed when it did (then
// `value` is empty or partial, as the call says).
template <typename T, typename Kind>
struct Result {
    T value{};
    Fault<Kind> fault;

    bool ok() const { return !fault.failed(); }
};

}  // namespace vintrel
