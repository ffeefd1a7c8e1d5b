// The Picture Control's preview: a sampled frame of the movie dithered to the four greys, as the
// conversion will dither it. (Made by the frame grabber, frame_grabber.cpp.)
#pragma once

#include "convert/movie/movie.h"

namespace vintrel {

// The preview of frame n: the movie's picture at the sample time, dithered in place for display.
Bitmap preview_frame(Movie& movie, int n, int brightness);

// Dithers a bitmap in place (no record, no colour conversion); 8- and 4-bit bitmaps get the
// four greys as their first colour-table entries.
void dither_preview_bitmap(Bitmap& bitmap, int brightness);

}  // namespace vintrel
