// A movie whose pictures are fitted inside a handheld's screen: scaled down, keeping their shape.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "convert/movie/movie.h"

namespace vintrel {

// A handheld screen's size; none (0 x 0) keeps the movie's natural size.
struct ScreenSize {
    int width = 0, height = 0;
    bool none() const { return width <= 0 || height <= 0; }
    bool operator==(const ScreenSize&) const = default;
};

// Reads "WxH" (for example "160x160"), each a whole number from 1 to 4095. The sign between them
// may also be X or × (in UTF-8), and spaces may stand around it and at the ends: "320 × 240".
bool parse_screen_size(std::string_view text, ScreenSize& size);

// The size a width x height picture takes on the screen: its own when it fits, else the largest of
// the same aspect ratio that fits (each side rounded to the nearest pixel, at least 1).
ScreenSize fitted_size(int width, int height, ScreenSize screen);

// Scales a 24-bit bitmap to width x height: each new pixel is the average of the area of the old
// picture that it covers, each old pixel weighed by how much of it lies in that area.
void scale_by_area(const Bitmap& source, int width, int height, Bitmap& scaled);

class FittedMovie : public Movie {
public:
    FittedMovie(std::unique_ptr<Movie> movie, ScreenSize screen);

    std::int32_t time_scale() const override { return movie_->time_scale(); }
    std::int32_t duration() const override { return movie_->duration(); }
    // The fitted size.
    MovieBounds natural_bounds() const override { return bounds_; }
    const Bitmap& picture_at(std::int32_t t) override;
    const std::string& warning() const override { return movie_->warning(); }
    MovieExtent extent() const override { return movie_->extent(); }

private:
    std::unique_ptr<Movie> movie_;
    MovieBounds bounds_;
    Bitmap scaled_;
};

}  // namespace vintrel
