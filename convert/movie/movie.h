// The movie library layer: opens a movie and hands out its pictures as device-independent bitmaps.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/fault.h"

namespace vintrel {

// A packed device-independent bitmap: rows stored bottom-up (the first stored row is the bottom
// row of the picture), each padded to a multiple of 4 bytes. 24-bit pixels are blue, green, red;
// 8-bit and 4-bit pixels index the colour table (4-bit: two to a byte, the left pixel in the high
// nibble).
struct Bitmap {
    int width = 0;
    int height = 0;
    int bits_per_pixel = 24;
    std::vector<std::array<std::uint8_t, 4>> colour_table;  // blue, green, red, reserved
    std::vector<std::uint8_t> bits;

    int row_bytes() const { return ((width * bits_per_pixel + 31) / 32) * 4; }
};

// The movie's rectangle at its natural size, as 16-bit values.
struct MovieBounds {
    std::int16_t top = 0, left = 0, bottom = 0, right = 0;
};

// Where a movie's file and its pictures disagree, found when it was opened. Lengths are in
// time-scale units from the first frame.
struct MovieExtent {
    // The length the file's header gives, when the pictures stop well before it (a file cut
    // short): duration() is where they stop.
    std::optional<std::int32_t> claimed_length;
    // How far the time stamps run, when that is beyond what the movie can hold (a stamp far in
    // the future): duration() ends at that bound.
    std::optional<std::int32_t> stamped_length;
};

// Why a movie could not be opened; the fault's detail names the technical reason.
enum class MovieFailure {
    none,
    invalid_format,  // the file exists but holds no decodable video
    failed,          // any other failure: missing file, no permission, ...
};
using MovieFault = Fault<MovieFailure>;

class Movie {
public:
    // Starts the library (once per program) and opens the file for reading. Without a movie, the
    // fault says why.
    static Result<std::unique_ptr<Movie>, MovieFailure> open(const std::string& path);

    virtual ~Movie() = default;

    // 600 units per second.
    virtual std::int32_t time_scale() const = 0;
    // The video's presentation span, first frame's start to last frame's end, rounded up to
    // whole time-scale units.
    virtual std::int32_t duration() const = 0;
    // The size the movie is meant to be shown at: the decoded size with the sample aspect ratio
    // applied to the width and a 90/270 degree rotation applied; top = left = 0.
    virtual MovieBounds natural_bounds() const = 0;

    // The frame on screen at movie time t (time-scale units from the first frame): the last frame
    // whose presentation time is at or before t, the first frame for earlier t, the last frame for
    // later t. A 24-bit bitmap at the natural size. The reference stays valid until the next call
    // of picture_at. If the movie cannot be decoded at t (a damaged or vanished
    // file), returns the last picture that could be decoded and records the reason in warning().
    virtual const Bitmap& picture_at(std::int32_t t) = 0;

    // Why the last picture_at could not give the frame asked for; empty when it could.
    virtual const std::string& warning() const = 0;

    // Where the file claims more than its pictures hold; nothing for a movie that is whole.
    virtual MovieExtent extent() const { return {}; }
};

}  // namespace vintrel
