// Range, profile and level checks of a parameter set; each failure ends the program.
#pragma once

#include "encoder/setup/fatal_error.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Checks every parameter against the ranges the stream syntax can carry.
void check_ranges(const Parameters& params, const ErrorChannel& errors);

// Checks an MPEG-2 parameter set against the limits of its profile and level. A reserved
// profile (8 and above) only reports a warning and skips the checks.
void check_profile_and_level(const Parameters& params, const ErrorChannel& errors);

}  // namespace vintrel
