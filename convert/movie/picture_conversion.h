// Turns a decoded video frame into a bitmap at the movie's natural size and orientation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/movie/movie.h"
#include "convert/movie/tone_mapping.h"

struct AVFrame;
struct SwsContext;

namespace vintrel::movie_detail {

// How the picture is turned for display: a display pixel (x', y') shows the picture pixel (x, y)
// with x' = a·x + c·y + offset and y' = b·x + d·y + offset, y counted downwards. Every entry is
// -1, 0 or 1, one non-zero entry per row and column.
struct Orientation {
    int a = 1, b = 0, c = 0, d = 1;

    bool turns_sideways() const { return a == 0; }
    bool identity() const { return a == 1 && d == 1; }
};

// The orientation described by a 3×3 display matrix (16.16 fixed point, as stored in movie
// files); identity when it is not a multiple of a quarter turn, possibly mirrored.
Orientation orientation_from_display_matrix(const std::int32_t matrix[9]);
// The orientation of a clockwise rotation by `degrees`, which must be near a multiple of 90.
Orientation orientation_from_clockwise_degrees(double degrees);

class PictureConverter {
public:
    // Pictures are scaled to `width` × `height` (the sample aspect ratio applied) and then turned.
    PictureConverter(int width, int height, Orientation orientation);
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The size of the bitmaps made: the scaled size, turned.
    int bitmap_width() const { return orientation_.turns_sideways() ? height_ : width_; }
    int bitmap_height() const { return orientation_.turns_sideways() ? width_ : height_; }

    // Fills `bitmap` with `frame` as a 24-bit bitmap, an HDR frame tone-mapped to the standard
    // range first. On failure leaves `bitmap` as it was; the fault's detail says why.
    MovieFault convert(const AVFrame& frame, Bitmap& bitmap);

private:
    int width_;
    int height_;
    Orientation orientation_;
    ToneMapper tone_mapper_;
    SwsContext* scaler_ = nullptr;
    // The source the scaler was made for; a picture of another size or format gets a new one.
    int scaler_source_width_ = 0;
    int scaler_source_height_ = 0;
    int scaler_source_format_ = -1;
    // The colour settings the scaler was last given, to set them again only when they change.
    int scaler_colorspace_ = -1;
    int scaler_full_range_ = -1;
    int scaled_stride_ = 0;
    std::uint8_t* scaled_ = nullptr;  // the scaled picture, top row first, blue-green-red
};

}  // namespace vintrel::movie_detail
