// Movie pictures to YCbCr source pictures.
#include "convert/movie_picture_colour.h"

#include <algorithm>
#include <new>

#include "encoder/setup/chroma_subsampling.h"
#include "encoder/setup/colour_coefficients.h"
#include "encoder/setup/kernels.h"

namespace vintrel {
namespace {

// Truncates toward zero into a sample. Inputs of 0..255 always land in 0..255; the bounds only
// keep other inputs from wrapping.
std::uint8_t to_sample(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<std::uint8_t>(static_cast<int>(value));
}

std::size_t plane_size(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

void grow(std::vector<std::uint8_t>& plane, std::size_t size) {
    if (plane.size() < size) plane.resize(size);
}

constexpr ClipTable clip;

// What the subsampling filters make of a plane whose samples all have the value v: every tap
// reads v, so each output is clip((sum of weights * v + 256) >> 9).
std::uint8_t filtered_constant(int v, int weight_sum) { return clip((weight_sum * v + 256) >> 9); }

}  // namespace

// Full-range RGB to video-range YCbCr: luminance 16..235 (219/256), colour differences
// 16..240 around 128 (224/256).
MoviePictureColour::Sample MoviePictureColour::convert(int red, int green, int blue) const {
    const double y = kr_ * red + kg_ * green + kb_ * blue;
    const double u = (blue - y) * cu_;
    const double v = (red - y) * cv_;
    return {to_sample(y * 0.85546875 + 16.5), to_sample(u * 0.875 + 128.5), to_sample(v * 0.875 + 128.5)};
}

std::uint8_t* MoviePictureColour::full_cb(Picture& picture) {
    return parameters_->chroma_format == ChromaFormat::yuv444 ? picture[1] : work_.cb_full.data();
}

std::uint8_t* MoviePictureColour::full_cr(Picture& picture) {
    return parameters_->chroma_format == ChromaFormat::yuv444 ? picture[2] : work_.cr_full.data();
}

bool MoviePictureColour::begin(const Parameters& parameters, const Geometry& geometry) {
    parameters_ = &parameters;
    geometry_ = &geometry;
    const ColourCoefficients& k = colour_coefficients_for(parameters.matrix_coefficients);
    kr_ = k.kr;
    kg_ = k.kg;
    kb_ = k.kb;
    cu_ = 0.5 / (1.0 - kb_);
    cv_ = 0.5 / (1.0 - kr_);
    for (int g = 0; g < 256; g++) {
        const Sample s = convert(g, g, g);
        grey_luminance_[static_cast<std::size_t>(g)] = s.luminance;
        grey_cb_[static_cast<std::size_t>(g)] = s.cb;
        grey_cr_[static_cast<std::size_t>(g)] = s.cr;
    }
    grey_chroma_constant_ = std::all_of(grey_cb_.begin(), grey_cb_.end(), [&](auto v) { return v == grey_cb_[0]; }) &&
                            std::all_of(grey_cr_.begin(), grey_cr_.end(), [&](auto v) { return v == grey_cr_[0]; });
    chroma_samples_ = 0;
    chroma_uniform_ = true;

    // A later movie with a larger coded size, or another chroma format, gets the work planes
    // grown here before they are written; 4:4:4 uses the picture's own Cb and Cr planes.
    if (parameters.chroma_format == ChromaFormat::yuv444) return true;
    try {
        const std::size_t full = plane_size(geometry.coded_width, geometry.coded_height);
        grow(work_.cb_full, full);
        grow(work_.cr_full, full);
        if (parameters.chroma_format == ChromaFormat::yuv420) {
            const std::size_t half = plane_size(geometry.coded_width / 2, geometry.coded_height);
            grow(work_.cb_half, half);
            grow(work_.cr_half, half);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void MoviePictureColour::pixel(Picture& picture, int x, int y, int red, int green, int blue) {
    // Pixels outside the coded area have no place in the planes.
    if (x < 0 || y < 0 || x >= geometry_->coded_width || y >= geometry_->coded_height) return;
    Sample s;
    if (red == green && green == blue && red >= 0 && red <= 255) {
        const auto g = static_cast<std::size_t>(red);
        s = {grey_luminance_[g], grey_cb_[g], grey_cr_[g]};
    } else {
        s = convert(red, green, blue);
    }
    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(geometry_->coded_width) +
                           static_cast<std::size_t>(x);
    picture[0][at] = s.luminance;
    full_cb(picture)[at] = s.cb;
    full_cr(picture)[at] = s.cr;

    if (chroma_samples_++ == 0) {
        uniform_cb_ = s.cb;
        uniform_cr_ = s.cr;
    } else if (s.cb != uniform_cb_ || s.cr != uniform_cr_) {
        chroma_uniform_ = false;
    }
}

void MoviePictureColour::grey_row(Picture& picture, int y, const std::uint8_t* greys, int count) {
    if (y < 0 || y >= geometry_->coded_height || count <= 0) return;
    if (count > geometry_->coded_width) count = geometry_->coded_width;
    const std::size_t start = static_cast<std::size_t>(y) * static_cast<std::size_t>(geometry_->coded_width);
    std::uint8_t* luminance = picture[0] + start;
    std::uint8_t* cb = full_cb(picture) + start;
    std::uint8_t* cr = full_cr(picture) + start;
    if (chroma_samples_ == 0) {
        uniform_cb_ = grey_cb_[greys[0]];
        uniform_cr_ = grey_cr_[greys[0]];
    }
    if (grey_chroma_constant_) {
        // Every grey has the same colour differences: the picture's are uniform, and the
        // full-resolution planes are never read.
        for (int x = 0; x < count; x++) luminance[x] = grey_luminance_[greys[x]];
        chroma_samples_ += static_cast<std::size_t>(count);
        return;
    }
    unsigned differs = 0;
    for (int x = 0; x < count; x++) {
        const std::uint8_t g = greys[x];
        luminance[x] = grey_luminance_[g];
        cb[x] = grey_cb_[g];
        cr[x] = grey_cr_[g];
        differs |= static_cast<unsigned>(cb[x] ^ uniform_cb_) | static_cast<unsigned>(cr[x] ^ uniform_cr_);
    }
    if (differs) chroma_uniform_ = false;
    chroma_samples_ += static_cast<std::size_t>(count);
}

// The subsampled Cb or Cr plane of a picture whose full-resolution plane is the constant v.
void MoviePictureColour::fill_uniform_chroma(std::uint8_t* plane, int v) const {
    // The horizontal filter's weights sum to 512, except the co-sited one of MPEG-2 streams (514);
    // the vertical filters' weights sum to 512.
    int value = v;
    if (parameters_->chroma_format != ChromaFormat::yuv444)
        value = filtered_constant(value, parameters_->is_mpeg1 ? 512 : 514);
    if (parameters_->chroma_format == ChromaFormat::yuv420) value = filtered_constant(value, 512);
    std::fill_n(plane, plane_size(geometry_->chroma_width, geometry_->chroma_height), static_cast<std::uint8_t>(value));
}

void MoviePictureColour::finish(Picture& picture) {
    const Parameters& p = *parameters_;
    const Geometry& g = *geometry_;
    if (chroma_uniform_ && p.horizontal_size > 0 && p.vertical_size > 0 &&
        chroma_samples_ == plane_size(p.horizontal_size, p.vertical_size)) {
        // A grey picture: the filters would only turn one constant into another.
        extend_borders(picture[0], p.horizontal_size, p.vertical_size, g.coded_width, g.coded_height);
        fill_uniform_chroma(picture[1], uniform_cb_);
        fill_uniform_chroma(picture[2], uniform_cr_);
        return;
    }
    std::uint8_t* cb = full_cb(picture);
    std::uint8_t* cr = full_cr(picture);
    const int w = p.horizontal_size, h = p.vertical_size;
    extend_borders(picture[0], w, h, g.coded_width, g.coded_height);
    extend_borders(cb, w, h, g.coded_width, g.coded_height);
    extend_borders(cr, w, h, g.coded_width, g.coded_height);

    if (p.chroma_format == ChromaFormat::yuv422) {
        subsample_444_to_422(p, g, cb, picture[1]);
        subsample_444_to_422(p, g, cr, picture[2]);
    } else if (p.chroma_format == ChromaFormat::yuv420) {
        subsample_444_to_422(p, g, cb, work_.cb_half.data());
        subsample_422_to_420(p, g, work_.cb_half.data(), picture[1]);
        subsample_444_to_422(p, g, cr, work_.cr_half.data());
        subsample_422_to_420(p, g, work_.cr_half.data(), picture[2]);
    }
}

}  // namespace vintrel
