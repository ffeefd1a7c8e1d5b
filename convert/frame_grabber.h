// Turns sampled movie frames into four-grey frames: frame records, encoder pictures, previews.
#pragma once

#include <cstdint>
#include <string>

#include "convert/conversion_host.h"
#include "convert/frame_record.h"
#include "convert/movie.h"
#include "encoder/setup/encoder_state.h"

namespace vintrel {

// Movie time of sampled frame n: trunc(n * time scale / frame rate).
std::int32_t sample_time(int n, std::int32_t time_scale, double frame_rate);

// Everything read_movie_frame works with.
struct FrameSource {
    Movie& movie;
    ConversionHost& host;
    RecordArray& records;
    int brightness;
    // Names the movie in the warnings about pictures that could not be decoded.
    std::string movie_name = {};
};

// Takes movie frame n: draws it, dithers it, appends its frame record, draws the dithered frame
// and fills the encoder's source picture with the colour-converted dithered grey.
void read_movie_frame(EncoderState& state, FrameSource& source, Picture& picture, int n);

// The preview of frame n: the movie's picture at the sample time, dithered in place for display.
Bitmap preview_frame(Movie& movie, int n, int brightness);

// Dithers a bitmap in place (no record, no colour conversion); 8- and 4-bit bitmaps get the
// four greys as their first colour-table entries.
void dither_preview_bitmap(Bitmap& bitmap, int brightness);

}  // namespace vintrel
