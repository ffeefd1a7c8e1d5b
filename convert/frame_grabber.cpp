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

// Calls pixel(x, row parity, column parity, index) for every pixel of a rows x columns area
// after dithering it, and row_done(y) after each row. y = 0 is the top row.
template <typename Pixel, typename RowDone>
void dither_rows(Bitmap& bitmap, int rows, int columns, int brightness, Pixel pixel, RowDone row_done) {
    const std::size_t stride = static_cast<std::size_t>(bitmap.row_bytes());
    int row_parity = 0;
    for (int y = 0; y < rows; y++) {
        std::uint8_t* row = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * stride;
        int column_parity = 0;
        for (int x = 0; x < columns; x++) {
            const int grey = grey_of_pixel(bitmap, row, x, brightness);
            const int index = dither_table[grey / 16][2 * row_parity + column_parity];
            write_back(bitmap, row, x, index);
            pixel(x, y, index);
            column_parity ^= 1;
        }
        row_done(y);
        row_parity ^= 1;
    }
}

}  // namespace

std::int32_t sample_time(int n, std::int32_t time_scale, double frame_rate) {
    return static_cast<std::int32_t>(static_cast<double>(static_cast<std::int64_t>(n) * time_scale) / frame_rate);
}

int grey_of_pixel(const Bitmap& bitmap, const std::uint8_t* row, int x, int brightness) {
    int grey = 0;
    switch (bitmap.bits_per_pixel) {
    case 24: {
        const std::uint8_t* p = row + 3 * x;
        grey = (p[0] + p[1] + p[2]) / 3;
        break;
    }
    case 8:
        grey = grey_of_colour(bitmap, row[x]);
        break;
    case 4:
        grey = grey_of_colour(bitmap, x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4);
        break;
    default:
        break;
    }
    return clamp_grey(grey + brightness);
}

void read_movie_frame(EncoderState& s, FrameSource& source, Picture& picture, int n) {
    begin_movie_picture(s, picture);
    Bitmap bitmap = source.movie.picture_at(sample_time(n, source.movie.time_scale(), s.frame_rate));
    if (!source.movie.warning().empty()) std::fprintf(stderr, "\nWarning: %s\n", source.movie.warning().c_str());
    source.host.show_received_frame(bitmap);

    source.records.push_back(std::make_unique<FrameRecord>(static_cast<std::uint32_t>(bitmap.width),
                                                           static_cast<std::uint32_t>(bitmap.height)));
    FrameRecord& record = *source.records.back();
    std::vector<std::uint8_t> packed(packed_row_length(static_cast<std::uint32_t>(bitmap.width)));

    // The movie's natural size is the picture size, so these agree; the minimum keeps a
    // mismatch from reading outside the bitmap.
    const int rows = std::min(s.vertical_size, bitmap.height);
    const int columns = std::min(s.horizontal_size, bitmap.width);
    dither_rows(
        bitmap, rows, columns, source.brightness,
        [&](int x, int y, int index) {
            const int shift = 6 - 2 * (x & 3);
            packed[static_cast<std::size_t>(x / 4)] |= static_cast<std::uint8_t>(pixel_code_table[index] & (3 << shift));
            const int g = grey_of_index(index);
            convert_movie_pixel(s, picture, x, y, g, g, g);
        },
        [&](int) {
            compress_row(packed.data(), packed.size(), record.data);
            std::fill(packed.begin(), packed.end(), 0);
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
