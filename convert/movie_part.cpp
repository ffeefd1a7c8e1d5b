// Parts of a movie and the times that bound them.
#include "convert/movie_part.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "convert/sample_rate.h"

namespace vintrel {
namespace {

// A whole number of digits, or digits with a decimal fraction when `fraction` allows one.
std::optional<double> number(std::string_view text, bool fraction) {
    if (text.empty()) return std::nullopt;
    double value = 0, scale = 0;
    for (const char c : text) {
        if (c == '.' && fraction && scale == 0) {
            scale = 1;
        } else if (c >= '0' && c <= '9') {
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                scale /= 10;
                value += (c - '0') * scale;
            }
        } else {
            return std::nullopt;
        }
    }
    if (text == ".") return std::nullopt;
    return value;
}

// Frame n is on screen from n fifths of a second until the next. The slack keeps a time typed
// as a frame's own (1.2 s for frame 6) on that frame, whatever the rounding of its product.
int frame_on_screen_at(double seconds) { return static_cast<int>(std::floor(seconds * frames_per_second + 1e-6)); }
int frames_begun_before(double seconds) { return static_cast<int>(std::ceil(seconds * frames_per_second - 1e-6)); }

}  // namespace

FramePart FramePart::within(int frame_count) const {
    FramePart part;
    part.first = std::clamp(first, 0, std::max(frame_count, 0));
    part.count = count < 0 ? frame_count - part.first : std::clamp(count, 0, frame_count - part.first);
    return part;
}

std::optional<double> parse_time(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::vector<std::string_view> fields;
    for (std::size_t colon; (colon = text.find(':')) != std::string_view::npos; text.remove_prefix(colon + 1))
        fields.push_back(text.substr(0, colon));
    fields.push_back(text);
    if (fields.size() > 3) return std::nullopt;
    double seconds = 0;
    for (std::size_t k = 0; k < fields.size(); k++) {
        const bool last = k + 1 == fields.size();
        const std::optional<double> value = number(fields[k], last);
        // Every field after the first counts up to 60.
        if (!value || (k > 0 && *value >= 60)) return std::nullopt;
        seconds = seconds * 60 + *value;
    }
    return seconds;
}

std::string time_text(double seconds) {
    const long tenths = std::lround(std::max(seconds, 0.0) * 10);
    char text[32];
    if (tenths < 36000)
        std::snprintf(text, sizeof text, "%02ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld.%ld", tenths / 36000, tenths / 600 % 60, tenths / 10 % 60,
                      tenths % 10);
    return text;
}

FramePart frames_between(double start, std::optional<double> end, int frame_count) {
    FramePart part{frame_on_screen_at(start), -1};
    if (end) part.count = std::max(0, frames_begun_before(*end) - part.first);
    return part.within(frame_count);
}

}  // namespace vintrel
