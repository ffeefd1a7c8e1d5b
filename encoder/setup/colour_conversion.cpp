// The movie path of the source pictures (dithered grey to YCbCr) and the frame input dispatch.
#include "encoder/setup/colour_conversion.h"

#include <algorithm>
#include <cstddef>
#include <new>

#include "encoder/setup/colour_coefficients.h"
#include "encoder/setup/fatal_error.h"

namespace vintrel {
namespace {

struct Sample {
    std::uint8_t luminance;
    std::uint8_t cb;
    std::uint8_t cr;
};

// Truncates toward zero into a sample. Inputs of 0..255 always land in 0..255; the bounds only
// keep other inputs from wrapping.
std::uint8_t to_sample(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<std::uint8_t>(static_cast<int>(value));
}

// Full-range RGB to video-range YCbCr: luminance 16..235 (219/256), colour differences
// 16..240 around 128 (224/256).
Sample convert(const ColourWorkPlanes& c, int red, int green, int blue) {
    const double y = c.kr * red + c.kg * green + c.kb * blue;
    const double u = (blue - y) * c.cu;
    const double v = (red - y) * c.cv;
    return {to_sample(y * 0.85546875 + 16.5), to_sample(u * 0.875 + 128.5), to_sample(v * 0.875 + 128.5)};
}

std::size_t plane_size(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

void grow(std::vector<std::uint8_t>& plane, std::size_t size) {
    if (plane.size() < size) plane.resize(size);
}

// The work planes outlive a conversion; a later movie with a larger coded size, or another
// chroma format, gets them grown here before they are written.
void ensure_work_planes(EncoderState& state) {
    if (state.params.chroma_format == 3) return;  // the picture's own Cb and Cr planes serve
    ColourWorkPlanes& c = state.colour;
    try {
        const std::size_t full = plane_size(state.geometry.coded_width, state.geometry.coded_height);
        grow(c.cb_full, full);
        grow(c.cr_full, full);
        if (state.params.chroma_format == 1) {
            const std::size_t half = plane_size(state.geometry.coded_width / 2, state.geometry.coded_height);
            grow(c.cb_half, half);
            grow(c.cr_half, half);
        }
    } catch (const std::bad_alloc&) {
        fatal_error(state, "malloc failed");
    }
}

std::uint8_t* full_cb(EncoderState& state, Picture& picture) {
    return state.params.chroma_format == 3 ? picture[1] : state.colour.cb_full.data();
}

std::uint8_t* full_cr(EncoderState& state, Picture& picture) {
    return state.params.chroma_format == 3 ? picture[2] : state.colour.cr_full.data();
}

}  // namespace

void begin_movie_picture(EncoderState& state, Picture& /*picture*/) {
    ColourWorkPlanes& c = state.colour;
    const ColourCoefficients& k = colour_coefficients_for(state.params.matrix_coefficients);
    c.kr = k.kr;
    c.kg = k.kg;
    c.kb = k.kb;
    c.cu = 0.5 / (1.0 - c.kb);
    c.cv = 0.5 / (1.0 - c.kr);
    for (int g = 0; g < 256; g++) {
        const Sample s = convert(c, g, g, g);
        c.grey_luminance[static_cast<std::size_t>(g)] = s.luminance;
        c.grey_cb[static_cast<std::size_t>(g)] = s.cb;
        c.grey_cr[static_cast<std::size_t>(g)] = s.cr;
    }
    c.grey_chroma_constant = std::all_of(c.grey_cb.begin(), c.grey_cb.end(), [&](auto v) { return v == c.grey_cb[0]; }) &&
                             std::all_of(c.grey_cr.begin(), c.grey_cr.end(), [&](auto v) { return v == c.grey_cr[0]; });
    c.chroma_samples = 0;
    c.chroma_uniform = true;
    ensure_work_planes(state);
}

void convert_movie_pixel(EncoderState& state, Picture& picture, int x, int y, int red, int green, int blue) {
    // Pixels outside the coded area have no place in the planes.
    if (x < 0 || y < 0 || x >= state.geometry.coded_width || y >= state.geometry.coded_height) return;
    const ColourWorkPlanes& c = state.colour;
    Sample s;
    if (red == green && green == blue && red >= 0 && red <= 255) {
        const auto g = static_cast<std::size_t>(red);
        s = {c.grey_luminance[g], c.grey_cb[g], c.grey_cr[g]};
    } else {
        s = convert(c, red, green, blue);
    }
    const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(state.geometry.coded_width) +
                           static_cast<std::size_t>(x);
    picture[0][at] = s.luminance;
    full_cb(state, picture)[at] = s.cb;
    full_cr(state, picture)[at] = s.cr;

    ColourWorkPlanes& work = state.colour;
    if (work.chroma_samples++ == 0) {
        work.uniform_cb = s.cb;
        work.uniform_cr = s.cr;
    } else if (s.cb != work.uniform_cb || s.cr != work.uniform_cr) {
        work.chroma_uniform = false;
    }
}

void convert_movie_grey_row(EncoderState& state, Picture& picture, int y, const std::uint8_t* greys, int count) {
    if (y < 0 || y >= state.geometry.coded_height || count <= 0) return;
    if (count > state.geometry.coded_width) count = state.geometry.coded_width;
    ColourWorkPlanes& work = state.colour;
    const std::size_t start = static_cast<std::size_t>(y) * static_cast<std::size_t>(state.geometry.coded_width);
    std::uint8_t* luminance = picture[0] + start;
    std::uint8_t* cb = full_cb(state, picture) + start;
    std::uint8_t* cr = full_cr(state, picture) + start;
    if (work.chroma_samples == 0) {
        work.uniform_cb = work.grey_cb[greys[0]];
        work.uniform_cr = work.grey_cr[greys[0]];
    }
    if (work.grey_chroma_constant) {
        // Every grey has the same colour differences: the picture's are uniform, and the
        // full-resolution planes are never read.
        for (int x = 0; x < count; x++) luminance[x] = work.grey_luminance[greys[x]];
        work.chroma_samples += static_cast<std::size_t>(count);
        return;
    }
    unsigned differs = 0;
    for (int x = 0; x < count; x++) {
        const std::uint8_t g = greys[x];
        luminance[x] = work.grey_luminance[g];
        cb[x] = work.grey_cb[g];
        cr[x] = work.grey_cr[g];
        differs |= static_cast<unsigned>(cb[x] ^ work.uniform_cb) | static_cast<unsigned>(cr[x] ^ work.uniform_cr);
    }
    if (differs) work.chroma_uniform = false;
    work.chroma_samples += static_cast<std::size_t>(count);
}

namespace {

// What the subsampling filters make of a plane whose samples all have the value v: every tap
// reads v, so each output is clip((sum of weights * v + 256) >> 9).
std::uint8_t filtered_constant(const EncoderState& state, int v, int weight_sum) {
    return state.kernels.clip((weight_sum * v + 256) >> 9);
}

// The subsampled Cb or Cr plane of a picture whose full-resolution plane is the constant v.
void fill_uniform_chroma(const EncoderState& state, std::uint8_t* plane, int v) {
    // The horizontal filter's weights sum to 512, except the co-sited one of MPEG-2 streams (514);
    // the vertical filters' weights sum to 512.
    int value = v;
    if (state.params.chroma_format != 3) value = filtered_constant(state, value, state.params.is_mpeg1 ? 512 : 514);
    if (state.params.chroma_format == 1) value = filtered_constant(state, value, 512);
    std::fill_n(plane, plane_size(state.geometry.chroma_width, state.geometry.chroma_height), static_cast<std::uint8_t>(value));
}

}  // namespace

void finish_movie_picture(EncoderState& state, Picture& picture) {
    ensure_work_planes(state);
    const ColourWorkPlanes& work = state.colour;
    if (work.chroma_uniform && state.params.horizontal_size > 0 && state.params.vertical_size > 0 &&
        work.chroma_samples == plane_size(state.params.horizontal_size, state.params.vertical_size)) {
        // A grey picture: the filters would only turn one constant into another.
        extend_borders(picture[0], state.params.horizontal_size, state.params.vertical_size, state.geometry.coded_width, state.geometry.coded_height);
        fill_uniform_chroma(state, picture[1], work.uniform_cb);
        fill_uniform_chroma(state, picture[2], work.uniform_cr);
        return;
    }
    std::uint8_t* cb = full_cb(state, picture);
    std::uint8_t* cr = full_cr(state, picture);
    const int w = state.params.horizontal_size, h = state.params.vertical_size;
    extend_borders(picture[0], w, h, state.geometry.coded_width, state.geometry.coded_height);
    extend_borders(cb, w, h, state.geometry.coded_width, state.geometry.coded_height);
    extend_borders(cr, w, h, state.geometry.coded_width, state.geometry.coded_height);

    if (state.params.chroma_format == 2) {
        subsample_444_to_422(state, cb, picture[1]);
        subsample_444_to_422(state, cr, picture[2]);
    } else if (state.params.chroma_format == 1) {
        ColourWorkPlanes& c = state.colour;
        subsample_444_to_422(state, cb, c.cb_half.data());
        subsample_422_to_420(state, c.cb_half.data(), picture[1]);
        subsample_444_to_422(state, cr, c.cr_half.data());
        subsample_422_to_420(state, c.cr_half.data(), picture[2]);
    }
}

void read_frame(EncoderState& state, const std::string& name, Picture& picture, int n) {
    switch (state.params.input_picture_format) {
    case InputPictureFormat::planar_files:
        read_planar_files(state, name, picture);
        break;
    case InputPictureFormat::yuv_file:
        read_yuv_file(state, name, picture);
        break;
    case InputPictureFormat::movie:
        if (!state.hooks.read_movie_frame) fatal_error(state, "No movie to read frames from");
        state.hooks.read_movie_frame(picture, n);
        break;
    default:
        // No other source exists; the picture keeps what it held.
        break;
    }
}

}  // namespace vintrel
