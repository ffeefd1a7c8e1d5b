// Frame grabber and grey dithering.
#include "convert/frame_grabber.h"

#include <algorithm>
#include <cstdio>

#include "convert/dither_tables.h"
#include "convert/row_compression.h"
#include "encoder/setup/colour_conversion.h"

namespace vintrel {
namespace {

int clamp_grey(int grey) { return grey < 0 ? 0 : grey > 255 ? 255 : grey; }

int grey_of_colour(const Bitmap& bitmap, int index) {
    if (index < 0 || index >= static_cast<int>(bitmap.colour_table.size())) return 0;
    const auto& c = bitmap.colour_table[static_cast<std::size_t>(index)];
    return (c[0] + c[1] + c[2]) / 3;
}

// Writes palette index `index` back into pixel x of a bitmap row.
void write_back(const Bitmap& bitmap, std::uint8_t* row, int x, int index) {
    switch (bitmap.bits_per_pixel) {
    case 24: {
        std::uint8_t* p = row + 3 * x;
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(grey_of_index(index));
        break;
    }
    case 8:
        row[x] = static_cast<std::uint8_t>(index);
        break;
    case 4: {
        std::uint8_t& byte = row[x / 2];
        byte = x % 2 ? static_cast<std::uint8_t>((byte & 0xF0) | index)
                     : static_cast<std::uint8_t>((byte & 0x0F) | (index << 4));
        break;
    }
    default:
        break;
    }
}

// After dithering, indexed bitmaps show their pixel values 0..3 as the four greys.
void set_grey_colour_table(Bitmap& bitmap) {
    if (bitmap.bits_per_pixel >= 24) return;
    if (bitmap.colour_table.size() < 4) bitmap.colour_table.resize(4);
    for (int i = 0; i < 4; i++) {
        const auto g = static_cast<std::uint8_t>(grey_of_index(i));
        bitmap.colour_table[static_cast<std::size_t>(i)] = {g, g, g, 0};
    }
}

// Grey of pixel x of a bitmap row with `bits` bits per pixel, before the brightness offset.
template <int bits>
int raw_grey(const Bitmap& bitmap, const std::uint8_t* row, int x) {
    if constexpr (bits == 24) {
        const std::uint8_t* p = row + 3 * x;
        return (p[0] + p[1] + p[2]) / 3;
    } else if constexpr (bits == 8) {
        return grey_of_colour(bitmap, row[x]);
    } else if constexpr (bits == 4) {
        return grey_of_colour(bitmap, x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4);
    } else {
        return 0;
    }
}

// Dithers one row of a bitmap with `bits` bits per pixel, calling pixel(x, index) for each.
template <int bits, typename Pixel>
void dither_row(Bitmap& bitmap, std::uint8_t* row, int columns, int row_parity, int brightness, Pixel& pixel) {
    const std::uint8_t(*levels)[4] = dither_table;
    for (int x = 0; x < columns; x++) {
        const int grey = clamp_grey(raw_grey<bits>(bitmap, row, x) + brightness);
        const int index = levels[grey / 16][2 * row_parity + (x & 1)];
        if constexpr (bits != 0) write_back(bitmap, row, x, index);
        pixel(x, index);
    }
}

// Dithers the top `rows` rows and first `columns` columns, calling pixel(x, y, index) for every
// pixel and row_done(y) after each row. y = 0 is the top row; the row parity starts at 0 there.
template <typename Pixel, typename RowDone>
void dither_rows(Bitmap& bitmap, int rows, int columns, int brightness, Pixel pixel, RowDone row_done) {
    const std::size_t stride = static_cast<std::size_t>(bitmap.row_bytes());
    for (int y = 0; y < rows; y++) {
        std::uint8_t* row = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * stride;
        auto at_y = [&pixel, y](int x, int index) { pixel(x, y, index); };
        switch (bitmap.bits_per_pixel) {
        case 24:
            dither_row<24>(bitmap, row, columns, y & 1, brightness, at_y);
            break;
        case 8:
            dither_row<8>(bitmap, row, columns, y & 1, brightness, at_y);
            break;
        case 4:
            dither_row<4>(bitmap, row, columns, y & 1, brightness, at_y);
            break;
        default:  // other depths are never produced; their pixels count as black
            dither_row<0>(bitmap, row, columns, y & 1, brightness, at_y);
            break;
        }
        row_done(y);
    }
}

}  // namespace

std::int32_t sample_time(int n, std::int32_t time_scale, double frame_rate) {
    return static_cast<std::int32_t>(static_cast<double>(static_cast<std::int64_t>(n) * time_scale) / frame_rate);
}

void read_movie_frame(EncoderState& s, FrameSource& source, Picture& picture, int n) {
    begin_movie_picture(s, picture);
    Bitmap bitmap = source.movie.picture_at(sample_time(n, source.movie.time_scale(), s.frame_rate));
    if (!source.movie.warning().empty()) {
        if (source.movie_name.empty())
            std::fprintf(stderr, "\nWarning: %s\n", source.movie.warning().c_str());
        else
            std::fprintf(stderr, "\nWarning: %s: %s\n", source.movie_name.c_str(), source.movie.warning().c_str());
    }
    source.host.show_received_frame(bitmap);

    source.records.push_back(std::make_unique<FrameRecord>(static_cast<std::uint32_t>(bitmap.width),
                                                           static_cast<std::uint32_t>(bitmap.height)));
    FrameRecord& record = *source.records.back();
    std::vector<std::uint8_t> packed(packed_row_length(static_cast<std::uint32_t>(bitmap.width)));

    // The movie's natural size is the picture size, so these agree; the minimum keeps a
    // mismatch from reading outside the bitmap.
    const int rows = std::min(s.vertical_size, bitmap.height);
    const int columns = std::min(s.horizontal_size, bitmap.width);
    std::vector<std::uint8_t> greys(static_cast<std::size_t>(columns > 0 ? columns : 0));
    dither_rows(
        bitmap, rows, columns, source.brightness,
        [&](int x, int, int index) {
            const int shift = 6 - 2 * (x & 3);
            packed[static_cast<std::size_t>(x / 4)] |= static_cast<std::uint8_t>(pixel_code_table[index] & (3 << shift));
            greys[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(grey_of_index(index));
        },
        [&](int y) {
            compress_row(packed.data(), packed.size(), record.data);
            std::fill(packed.begin(), packed.end(), 0);
            convert_movie_grey_row(s, picture, y, greys.data(), columns);
        });
    record.finish();

    set_grey_colour_table(bitmap);
    source.host.show_dithered_frame(bitmap);
    finish_movie_picture(s, picture);
}

void dither_preview_bitmap(Bitmap& bitmap, int brightness) {
    dither_rows(bitmap, bitmap.height, bitmap.width, brightness, [](int, int, int) {}, [](int) {});
    set_grey_colour_table(bitmap);
}

Bitmap preview_frame(Movie& movie, int n, int brightness) {
    Bitmap bitmap = movie.picture_at(sample_time(n, movie.time_scale(), 5.0));
    dither_preview_bitmap(bitmap, brightness);
    return bitmap;
}

}  // namespace vintrel
