// The colour conversion of movie pictures: dithered greys (or any RGB) to the encoder's YCbCr
// source picture, with border extension and chroma subsampling.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"

namespace vintrel {

// Owned by the frame source and kept between pictures, so its work planes are allocated once
// per movie size. A picture goes begin, then pixels or grey rows, then finish.
class MoviePictureColour {
public:
    // Full-resolution colour-difference work planes (kept between pictures).
    struct WorkPlanes {
        std::vector<std::uint8_t> cb_full, cr_full;  // coded_width x coded_height
        std::vector<std::uint8_t> cb_half, cr_half;  // (coded_width / 2) x coded_height, 4:2:0 only
    };

    // Prepares a picture of the stream described by the parameters and geometry (both must
    // outlive the picture). Returns false when the work planes could not be allocated.
    bool begin(const Parameters& parameters, const Geometry& geometry);

    // One pixel at (x, y) of the picture; pixels outside the coded area are ignored.
    void pixel(Picture& picture, int x, int y, int red, int green, int blue);

    // A whole row of greys (R = G = B = grey) at x = 0 .. count - 1 of row y: what the frame
    // grabber has after dithering. A picture is converted either row by row or pixel by pixel:
    // when every grey has the same colour differences, the rows leave the full-resolution
    // colour-difference planes unwritten, as the uniform picture they make never reads them.
    void grey_row(Picture& picture, int y, const std::uint8_t* greys, int count);

    // After the last row: extends the borders and subsamples the colour differences.
    void finish(Picture& picture);

    const WorkPlanes& work_planes() const { return work_; }

private:
    struct Sample {
        std::uint8_t luminance, cb, cr;
    };
    Sample convert(int red, int green, int blue) const;
    std::uint8_t* full_cb(Picture& picture);
    std::uint8_t* full_cr(Picture& picture);
    void fill_uniform_chroma(std::uint8_t* plane, int v) const;

    const Parameters* parameters_ = nullptr;
    const Geometry* geometry_ = nullptr;
    WorkPlanes work_;
    double kr_ = 0.0, kg_ = 0.0, kb_ = 0.0, cu_ = 0.0, cv_ = 0.0;
    // Samples of every grey R = G = B under the coefficients above, refilled for each picture,
    // so the per-pixel conversion of the dithered greys is a table look-up.
    std::array<std::uint8_t, 256> grey_luminance_{}, grey_cb_{}, grey_cr_{};
    bool grey_chroma_constant_ = false;  // grey_cb_ and grey_cr_ each hold one value throughout
    // Whether every colour-difference sample of the picture so far had the same value (as for
    // any grey picture); then the subsampled planes are that value passed through the filters.
    std::size_t chroma_samples_ = 0;
    bool chroma_uniform_ = true;
    std::uint8_t uniform_cb_ = 0, uniform_cr_ = 0;
};

}  // namespace vintrel
