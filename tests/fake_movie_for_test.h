// A movie made of bitmaps built by hand, and a host that records what a conversion shows.
#pragma once

#include <string>
#include <vector>

#include "convert/conversion_host.h"
#include "convert/movie/movie.h"

namespace vintrel::test {

// One bitmap per fifth of a second at a time scale of 600.
class FakeMovie : public Movie {
public:
    explicit FakeMovie(std::vector<Bitmap> frames) : frames_(std::move(frames)) {}
    std::int32_t time_scale() const override { return 600; }
    std::int32_t duration() const override { return static_cast<std::int32_t>(frames_.size()) * 120; }
    MovieBounds natural_bounds() const override {
        MovieBounds b;
        b.right = static_cast<std::int16_t>(frames_[0].width);
        b.bottom = static_cast<std::int16_t>(frames_[0].height);
        return b;
    }
    const Bitmap& picture_at(std::int32_t t) override {
        std::size_t k = static_cast<std::size_t>(t < 0 ? 0 : t / 120);
        return frames_[k < frames_.size() ? k : frames_.size() - 1];
    }
    const std::string& warning() const override { return warning_; }

private:
    std::vector<Bitmap> frames_;
    std::string warning_;
};

// A 24-bit bitmap whose pixels all have the same colour.
inline Bitmap solid_bitmap(int width, int height, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    Bitmap b;
    b.width = width;
    b.height = height;
    b.bits.assign(static_cast<std::size_t>(b.row_bytes() * height), 0);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            std::uint8_t* p = &b.bits[static_cast<std::size_t>(y * b.row_bytes() + 3 * x)];
            p[0] = blue;
            p[1] = green;
            p[2] = red;
        }
    return b;
}

class RecordingHost : public ConversionHost {
public:
    void show_received_frame(const Bitmap&) override { received++; }
    void show_dithered_frame(const Bitmap&) override { dithered++; }
    int received = 0, dithered = 0;
};

}  // namespace vintrel::test
