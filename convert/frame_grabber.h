// Turns sampled movie frames into four-grey frames: frame records, encoder pictures, previews.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_host.h"
#include "convert/frame_preview.h"
#include "convert/movie/decode_ahead.h"
#include "convert/movie/movie.h"
#include "convert/movie_picture_colour.h"
#include "convert/pdb/frame_record.h"
#include "encoder/encoder.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Movie time of sampled frame n: trunc(n * time scale / frame rate).
std::int32_t sample_time(int n, std::int32_t time_scale, double frame_rate);

// One sampled frame taken from the movie and dithered: all a conversion needs of it, which can be
// made on another thread while the encoder codes the frame before.
struct GrabbedFrame {
    std::unique_ptr<FrameRecord> record;
    int rows = 0, columns = 0;
    std::vector<std::uint8_t> greys;  // the dithered grey of each pixel, rows x columns, top row first
    Bitmap received, dithered;        // the pictures to draw, made only when asked for
    std::string warning;              // why the movie could not give the frame asked for
};

// Takes the movie's picture at time t and dithers at most `rows` x `columns` of its pixels (the
// picture size of the stream) into `frame`, reusing its storage; `drawn` asks for the pictures.
void grab_frame(Movie& movie, std::int32_t t, int brightness, int rows, int columns, bool drawn, GrabbedFrame& frame);
// The picture's grey before any brightness offset, as an 8-bit bitmap whose colour table holds
// the 256 greys: dithered, it gives the frame the picture itself gives.
Bitmap grey_picture(const Bitmap& picture);

// The same for a picture already taken (its warning is left as it was).
void dither_frame(const Bitmap& received, int brightness, int rows, int columns, bool drawn, GrabbedFrame& frame);

// Everything read_movie_frame works with.
struct FrameSource {
    Movie& movie;
    ConversionHost& host;
    RecordArray& records;
    int brightness;
    // Frames grabbed ahead for the sample times in order, if any; frames asked for otherwise are
    // grabbed on demand, once the thread that works ahead has been stopped.
    Prefetcher<GrabbedFrame>* ahead = nullptr;
    GrabbedFrame frame = {};  // the last frame taken, its storage reused for the next
    MoviePictureColour colour = {};  // turns the dithered greys into the encoder's source picture
};

// Takes movie frame n: draws it, dithers it, appends its frame record, draws the dithered frame
// and fills the encoder's source picture with the colour-converted dithered grey. Why the movie
// could not give the frame, if it could not, is left in source.frame.warning. Memory that runs out
// is a fatal fault ("malloc failed"), as in the encoder.
EncoderFault read_movie_frame(const Parameters& params, const Geometry& geometry, FrameSource& source,
                              Picture& picture, int n);

}  // namespace vintrel
