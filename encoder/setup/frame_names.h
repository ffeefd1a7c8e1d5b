// File names of numbered pictures, made from a printf-like template such as "test%d".
#pragma once

#include <string>

namespace vintrel {

// Puts the number in place of the template's first integer conversion (%d or %i, with optional
// flags, width and precision, e.g. %03d) and turns "%%" into "%". Any other '%' sequence is kept
// as it stands, so a template can never make the formatting read arguments that do not exist.
std::string format_frame_name(const std::string& name_template, int number);

}  // namespace vintrel
