// A few frames spread over a part of a movie, taken once, for what the Picture Control tells
// before anything is converted: a brightness that suits them, and the size the database will have.
#pragma once

#include <array>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "convert/movie/movie.h"
#include "convert/movie_part.h"

namespace vintrel {

class FrameSample {
public:
    static constexpr int default_count = 10;

    FrameSample() = default;
    // Takes up to `count` frames spread evenly over the part, its first and last among them.
    // A stop requested ends the taking early, with the frames taken so far.
    FrameSample(Movie& movie, FramePart part, int count = default_count, std::stop_token stop = {});

    bool empty() const { return pictures_.empty(); }

    // The brightness offset that moves the frames' median grey to the middle of the greys the
    // dither spreads over the four greys. Below 32 every pixel dithers to black and from 192 to
    // white; between them each step of 16 adds a quarter of the next grey. A movie whose greys
    // bunch at one end (dark, or overexposed) comes into that range, centred on its middle, so
    // that its darker half dithers darker than its lighter half; a movie already there moves little.
    int automatic_brightness() const;

    // The middle of the greys 32 to 191 that the dither spreads over the four greys.
    static constexpr int dither_middle_grey = 112;

    // The size of the database of the whole part at this brightness: the frames' records made
    // and compressed as the conversion makes them, their mean size taken for every frame of the part.
    std::uint64_t estimated_database_size(int brightness) const;

private:
    std::vector<Bitmap> pictures_;            // each frame's greys before the brightness offset
    std::array<std::uint64_t, 256> greys_{};  // how many pixels of the frames have each grey
    int part_count_ = 0;
};

}  // namespace vintrel
