// Fitting movie pictures inside a handheld's screen.
#include "convert/fitted_movie.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace vintrel {
namespace {

// The largest side an MPEG-1 sequence header can describe.
constexpr int largest_side = 4095;

// The sign between width and height: x, X, or the multiplication sign × (U+00D7 in UTF-8).
constexpr std::string_view separators[] = {"x", "X", "\xC3\x97"};

// The text without the spaces and tabs around it.
std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool parse_side(std::string_view text, int& side) {
    text = trimmed(text);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), side);
    return error == std::errc() && end == text.data() + text.size() && side >= 1 && side <= largest_side;
}

// How the old pixels share one new pixel along a line: new pixel i covers old positions
// [i * from, (i + 1) * from) in units of 1/`to` of an old pixel, and old pixel j covers
// [j * to, (j + 1) * to); the weight is their overlap. A new pixel's weights add up to `from`.
struct Share {
    int first = 0;                      // the first old pixel it covers
    std::vector<std::uint32_t> weights;  // the weights of first, first + 1, ...
};

std::vector<Share> shares(int from, int to) {
    std::vector<Share> line(static_cast<std::size_t>(to));
    for (int i = 0; i < to; i++) {
        const std::int64_t start = std::int64_t{i} * from, end = start + from;
        Share& share = line[static_cast<std::size_t>(i)];
        share.first = static_cast<int>(start / to);
        for (std::int64_t j = share.first; j * to < end; j++) {
            const std::int64_t overlap = std::min(end, (j + 1) * to) - std::max(start, j * to);
            share.weights.push_back(static_cast<std::uint32_t>(overlap));
        }
    }
    return line;
}

}  // namespace

bool parse_screen_size(std::string_view text, ScreenSize& size) {
    // The first separator splits the text; one more inside the height makes it no number.
    std::size_t at = std::string_view::npos, length = 0;
    for (const std::string_view separator : separators)
        if (const std::size_t found = text.find(separator); found < at) {
            at = found;
            length = separator.size();
        }
    if (at == std::string_view::npos) return false;
    ScreenSize read;
    if (!parse_side(text.substr(0, at), read.width) || !parse_side(text.substr(at + length), read.height))
        return false;
    size = read;
    return true;
}

ScreenSize fitted_size(int width, int height, ScreenSize screen) {
    if (screen.none() || width < 1 || height < 1 || (width <= screen.width && height <= screen.height))
        return {width, height};
    const std::int64_t w = width, h = height;
    // The side that reaches the screen's edge first keeps the screen's length; the other is
    // rounded to the nearest pixel.
    if (w * screen.height >= h * screen.width)
        return {screen.width, static_cast<int>(std::max<std::int64_t>(1, (2 * h * screen.width + w) / (2 * w)))};
    return {static_cast<int>(std::max<std::int64_t>(1, (2 * w * screen.height + h) / (2 * h))), screen.height};
}

void scale_by_area(const Bitmap& source, int width, int height, Bitmap& scaled) {
    scaled.width = width;
    scaled.height = height;
    scaled.bits_per_pixel = 24;
    scaled.colour_table.clear();
    scaled.bits.assign(static_cast<std::size_t>(scaled.row_bytes()) * static_cast<std::size_t>(height), 0);
    const std::vector<Share> across = shares(source.width, width), down = shares(source.height, height);
    const std::size_t in_stride = static_cast<std::size_t>(source.row_bytes());
    const std::size_t out_stride = static_cast<std::size_t>(scaled.row_bytes());
    const std::size_t line = 3 * static_cast<std::size_t>(width);

    // Across first, each old row into one row of sums (at most 255 x 4095 each), then down.
    // The rows are stored bottom-up in both bitmaps; the shares are the same read either way.
    std::vector<std::uint32_t> narrow(line * static_cast<std::size_t>(source.height));
    for (int y = 0; y < source.height; y++) {
        const std::uint8_t* in = source.bits.data() + static_cast<std::size_t>(y) * in_stride;
        std::uint32_t* out = narrow.data() + static_cast<std::size_t>(y) * line;
        for (int x = 0; x < width; x++) {
            const Share& share = across[static_cast<std::size_t>(x)];
            std::uint32_t b = 0, g = 0, r = 0;
            const std::uint8_t* p = in + 3 * static_cast<std::size_t>(share.first);
            for (const std::uint32_t weight : share.weights) {
                b += p[0] * weight;
                g += p[1] * weight;
                r += p[2] * weight;
                p += 3;
            }
            out[3 * x] = b;
            out[3 * x + 1] = g;
            out[3 * x + 2] = r;
        }
    }
    const std::uint64_t whole = std::uint64_t{static_cast<std::uint32_t>(source.width)} *
                                static_cast<std::uint32_t>(source.height);
    std::vector<std::uint64_t> sums(line);
    for (int y = 0; y < height; y++) {
        const Share& share = down[static_cast<std::size_t>(y)];
        std::fill(sums.begin(), sums.end(), 0);
        for (std::size_t k = 0; k < share.weights.size(); k++) {
            const std::uint32_t* row = narrow.data() + (static_cast<std::size_t>(share.first) + k) * line;
            for (std::size_t c = 0; c < line; c++) sums[c] += std::uint64_t{row[c]} * share.weights[k];
        }
        std::uint8_t* out = scaled.bits.data() + static_cast<std::size_t>(y) * out_stride;
        for (std::size_t c = 0; c < line; c++) out[c] = static_cast<std::uint8_t>((sums[c] + whole / 2) / whole);
    }
}

FittedMovie::FittedMovie(std::unique_ptr<Movie> movie, ScreenSize screen) : movie_(std::move(movie)) {
    const MovieBounds natural = movie_->natural_bounds();
    const ScreenSize size = fitted_size(natural.right - natural.left, natural.bottom - natural.top, screen);
    bounds_.right = static_cast<std::int16_t>(size.width);
    bounds_.bottom = static_cast<std::int16_t>(size.height);
}

const Bitmap& FittedMovie::picture_at(std::int32_t t) {
    const Bitmap& picture = movie_->picture_at(t);
    const int width = bounds_.right, height = bounds_.bottom;
    // Pictures of the fitted size already, or not the movie layer's 24-bit ones, stay as they are.
    if (picture.bits_per_pixel != 24 || (picture.width == width && picture.height == height) || picture.width < 1 ||
        picture.height < 1)
        return picture;
    scale_by_area(picture, width, height, scaled_);
    return scaled_;
}

}  // namespace vintrel
