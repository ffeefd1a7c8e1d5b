// The colour palettes of a palettised video stream, kept by the packet they arrive with.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vintrel::movie_detail {

// Demuxers hand a palette to the decoder only once, attached to one packet (usually the first,
// and again where the movie changes it). Reading the packets without decoding them, or seeking,
// loses that packet, and the decoder then draws with an all-zero palette: black pictures. The
// timeline keeps every palette together with the decode position of the packet that brought it,
// so that each packet can be sent to the decoder with the palette in force at its place.
class PaletteTimeline {
public:
    using Palette = std::vector<std::uint8_t>;

    // A packet at decode position `position` (its decode stamp, else its presentation stamp)
    // brought `palette`. Positions are given in the order the demuxer delivers the packets.
    void add(std::int64_t position, const std::uint8_t* palette, std::size_t size);

    bool empty() const { return changes_.empty(); }

    // The palette in force for a packet at `position`: the last one brought at or before it; the
    // first palette for a packet before every change (a palette always stands for the frames
    // before it rather than none at all).
    const Palette& at(std::int64_t position) const;

private:
    struct Change {
        std::int64_t position;
        Palette palette;
    };
    std::vector<Change> changes_;  // by ascending position
};

}  // namespace vintrel::movie_detail
