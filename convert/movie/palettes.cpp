// The colour palettes of a palettised video stream, kept by the packet they arrive with.
#include "convert/movie/palettes.h"

#include <algorithm>

namespace vintrel::movie_detail {

void PaletteTimeline::add(std::int64_t position, const std::uint8_t* palette, std::size_t size) {
    Palette bytes(palette, palette + size);
    // Positions normally ascend; a demuxer that delivers one out of turn still gets its palette
    // placed where it belongs, and a second palette at one position replaces the first.
    const auto place = std::lower_bound(changes_.begin(), changes_.end(), position,
                                        [](const Change& change, std::int64_t p) { return change.position < p; });
    if (place != changes_.end() && place->position == position)
        place->palette = std::move(bytes);
    else
        changes_.insert(place, Change{position, std::move(bytes)});
}

const PaletteTimeline::Palette& PaletteTimeline::at(std::int64_t position) const {
    const auto after = std::upper_bound(changes_.begin(), changes_.end(), position,
                                        [](std::int64_t p, const Change& change) { return p < change.position; });
    return after == changes_.begin() ? changes_.front().palette : std::prev(after)->palette;
}

}  // namespace vintrel::movie_detail
