// A part of a movie: the sampled frames between a start and an end time, and the times a user
// types for them ("90", "12.5", "1:30", "1:02:03.5").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vintrel {

// Sampled frames first ... first + count - 1 of a movie. A count of -1 runs to the movie's end.
struct FramePart {
    int first = 0;
    int count = -1;

    bool whole() const { return first == 0 && count < 0; }
    // The part within a movie of `frame_count` frames.
    FramePart within(int frame_count) const;
    int end() const { return first + count; }
};

// Seconds, or [[h:]m:]s with the seconds (and minutes, after hours) under 60; a decimal point in
// the seconds only. Nothing else is a time: not a sign, a comma or an empty text.
std::optional<double> parse_time(std::string_view text);

// A time as the Picture Control shows it: "01:05.4", or "1:02:03.5" from an hour on.
std::string time_text(double seconds);

// The sampled frames from the one on screen at `start` to the last that begins before `end`
// (nullopt: the end of the movie), of a movie of `frame_count` frames taken five a second.
FramePart frames_between(double start, std::optional<double> end, int frame_count);

}  // namespace vintrel
