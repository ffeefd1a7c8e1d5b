// How often a conversion takes a frame from the movie.
#pragma once

namespace vintrel {

// A conversion samples the movie five times a second, and the handheld shows the frames of a
// database at the same rate: frame n is the picture on screen n fifths of a second from the start.
inline constexpr double frames_per_second = 5.0;

}  // namespace vintrel
