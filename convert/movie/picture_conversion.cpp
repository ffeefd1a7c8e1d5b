#include "convert/movie/picture_conversion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace vintrel::movie_detail {

namespace {

// The scaler takes full-range ("J") YUV formats as their plain counterparts plus a range flag.
AVPixelFormat plain_format(AVPixelFormat format, bool& full_range) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: full_range = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: full_range = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: full_range = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: full_range = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: full_range = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

// -1, 0 or 1 for a matrix entry `value` of a quarter-turn matrix whose non-zero entries have
// size `unit`; 2 when the entry is neither close to 0 nor close to ±unit.
int quarter_turn_entry(double value, double unit) {
    const double ratio = value / unit;
    if (std::fabs(ratio) < 0.01) return 0;
    if (std::fabs(ratio - 1.0) < 0.01) return 1;
    if (std::fabs(ratio + 1.0) < 0.01) return -1;
    return 2;
}

}  // namespace

Orientation orientation_from_display_matrix(const std::int32_t matrix[9]) {
    const double a = matrix[0], b = matrix[1], c = matrix[3], d = matrix[4];
    const double unit = std::max({std::fabs(a), std::fabs(b), std::fabs(c), std::fabs(d)});
    if (unit <= 0.0) return {};
    Orientation o;
    o.a = quarter_turn_entry(a, unit);
    o.b = quarter_turn_entry(b, unit);
    o.c = quarter_turn_entry(c, unit);
    o.d = quarter_turn_entry(d, unit);
    const bool straight = o.a != 0 && o.d != 0 && o.b == 0 && o.c == 0;
    const bool sideways = o.a == 0 && o.d == 0 && o.b != 0 && o.c != 0;
    const bool valid = std::abs(o.a) <= 1 && std::abs(o.b) <= 1 && std::abs(o.c) <= 1 && std::abs(o.d) <= 1;
    if (!valid || !(straight || sideways)) return {};
    return o;
}

Orientation orientation_from_clockwise_degrees(double degrees) {
    if (!std::isfinite(degrees)) return {};
    double turned = std::fmod(degrees, 360.0);
    if (turned < 0) turned += 360.0;
    const long quarters = std::lround(turned / 90.0);
    if (std::fabs(turned - 90.0 * static_cast<double>(quarters)) > 1.0) return {};
    switch (quarters % 4) {
    case 1: return {0, 1, -1, 0};
    case 2: return {-1, 0, 0, -1};
    case 3: return {0, -1, 1, 0};
    default: return {};
    }
}

PictureConverter::PictureConverter(int width, int height, Orientation orientation)
    : width_(width), height_(height), orientation_(orientation) {}

PictureConverter::~PictureConverter() {
    sws_freeContext(scaler_);
    av_free(scaled_);
}

MovieFault PictureConverter::convert(const AVFrame& decoded, Bitmap& bitmap) {
    const auto cannot = [](const char* reason) { return MovieFault{MovieFailure::failed, {}, 0, reason}; };
    if (decoded.width <= 0 || decoded.height <= 0 || decoded.data[0] == nullptr || decoded.format < 0) {
        return cannot("the decoder gave an empty picture");
    }
    const AVFrame* mapped = &decoded;
    if (is_high_dynamic_range(decoded)) {
        auto tone_mapped = tone_mapper_.map(decoded);
        if (!tone_mapped.ok()) return tone_mapped.fault;
        mapped = tone_mapped.value;
    }
    const AVFrame& frame = *mapped;
    bool full_range = frame.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat source_format = plain_format(static_cast<AVPixelFormat>(frame.format), full_range);
    if (!sws_isSupportedInput(source_format)) {
        return cannot("unsupported pixel format");
    }

    if (scaler_ == nullptr || frame.width != scaler_source_width_ || frame.height != scaler_source_height_ ||
        source_format != scaler_source_format_) {
        // Made here rather than through the library's context cache: the cache may free a context
        // and hand out a new one at the same address, which would silently drop the colour
        // settings below (and which of the two happened would depend on the heap).
        sws_freeContext(scaler_);
        scaler_ = sws_getContext(frame.width, frame.height, source_format, width_, height_, AV_PIX_FMT_BGR24,
                                 // Exact rounding would take the scaler off its fast paths, at twenty
                                 // times the cost.
                                 SWS_BICUBIC, nullptr, nullptr, nullptr);
        scaler_colorspace_ = -1;
        scaler_full_range_ = -1;
        if (scaler_ == nullptr) {
            return cannot("the picture could not be converted to 24-bit colour");
        }
        scaler_source_width_ = frame.width;
        scaler_source_height_ = frame.height;
        scaler_source_format_ = source_format;
    }
    if (scaler_colorspace_ != frame.colorspace || scaler_full_range_ != static_cast<int>(full_range)) {
        // Unknown colour spaces take the scaler's default coefficients (ITU-R BT.601).
        const int* coefficients = sws_getCoefficients(frame.colorspace);
        sws_setColorspaceDetails(scaler_, coefficients, full_range ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
        scaler_colorspace_ = frame.colorspace;
        scaler_full_range_ = full_range ? 1 : 0;
    }

    if (scaled_ == nullptr) {
        scaled_stride_ = (width_ * 3 + 63) / 64 * 64;
        // A spare row after the picture for scaler code that writes whole vectors.
        scaled_ = static_cast<std::uint8_t*>(
            av_malloc(static_cast<std::size_t>(scaled_stride_) * (static_cast<std::size_t>(height_) + 1)));
        if (scaled_ == nullptr) {
            return cannot("out of memory");
        }
    }
    std::uint8_t* const destination[4] = {scaled_, nullptr, nullptr, nullptr};
    const int destination_stride[4] = {scaled_stride_, 0, 0, 0};
    if (sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, destination, destination_stride) != height_) {
        return cannot("the picture could not be converted to 24-bit colour");
    }

    const int out_width = bitmap_width();
    const int out_height = bitmap_height();
    const std::size_t row_bytes = static_cast<std::size_t>(((out_width * 24 + 31) / 32) * 4);
    const std::size_t size = row_bytes * static_cast<std::size_t>(out_height);
    if (bitmap.bits.size() != size) {
        try {
            bitmap.bits.assign(size, 0);  // leaves the bitmap as it was if it throws
        } catch (const std::bad_alloc&) {
            return cannot("out of memory");
        }
    }
    bitmap.width = out_width;
    bitmap.height = out_height;
    bitmap.bits_per_pixel = 24;
    bitmap.colour_table.clear();

    const Orientation& o = orientation_;
    if (o.identity()) {
        for (int y = 0; y < out_height; ++y) {
            std::memcpy(bitmap.bits.data() + static_cast<std::size_t>(out_height - 1 - y) * row_bytes,
                        scaled_ + static_cast<std::size_t>(y) * scaled_stride_, static_cast<std::size_t>(out_width) * 3);
        }
    } else {
        // Display pixel (X + ox, Y + oy) shows picture pixel (a·X + b·Y, c·X + d·Y).
        const int ox = -(std::min(0, o.a * (width_ - 1)) + std::min(0, o.c * (height_ - 1)));
        const int oy = -(std::min(0, o.b * (width_ - 1)) + std::min(0, o.d * (height_ - 1)));
        const std::ptrdiff_t step = static_cast<std::ptrdiff_t>(o.a) * 3 + static_cast<std::ptrdiff_t>(o.c) * scaled_stride_;
        for (int y = 0; y < out_height; ++y) {
            const int source_x = o.a * (-ox) + o.b * (y - oy);
            const int source_y = o.c * (-ox) + o.d * (y - oy);
            const std::uint8_t* source =
                scaled_ + static_cast<std::ptrdiff_t>(source_y) * scaled_stride_ + static_cast<std::ptrdiff_t>(source_x) * 3;
            std::uint8_t* target = bitmap.bits.data() + static_cast<std::size_t>(out_height - 1 - y) * row_bytes;
            for (int x = 0; x < out_width; ++x, source += step, target += 3) {
                target[0] = source[0];
                target[1] = source[1];
                target[2] = source[2];
            }
        }
    }
    return {};
}

}  // namespace vintrel::movie_detail
