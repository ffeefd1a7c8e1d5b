// Frame grabber and grey dithering.
#include "convert/frame_grabber.h"

#include <algorithm>
#include <cstdio>

#include "convert/dither_tables.h"
#include "convert/grey_dither.h"
#include "convert/pdb/row_compression.h"
#include "convert/sample_rate.h"

namespace vintrel {
namespace {

int clamp_grey(int grey) { return grey < 0 ? 0 : grey > 255 ? 255 : grey; }

int grey_of_colour(const Bitmap& bitmap, int index) {
    if (index < 0 || index >= static_cast<int>(bitmap.colour_table.size())) return 0;
    const auto& c = bitmap.colour_table[static_cast<std::size_t>(index)];
    return (c[0] + c[1] + c[2]) / 3;
}

// Writes palette index `index` back into pixel x of an indexed bitmap row.
void write_back(const Bitmap& bitmap, std::uint8_t* row, int x, int index) {
    switch (bitmap.bits_per_pixel) {
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

// Each 24-bit pixel of a row becomes its dithered grey.
void write_back_greys(std::uint8_t* row, const std::uint8_t* greys, int columns) {
    for (int x = 0; x < columns; x++) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = greys[x];
}

// After dithering, indexed bitmaps show their pixel values 0..3 as the four greys.
void set_grey_colour_table(Bitmap& bitmap) {
    if (bitmap.bits_per_pixel >= 24) return;
    if (bitmap.colour_table.size() < 4) bitmap.colour_table.resize(4);
    for (int i = 0; i < 4; i++) {
        const std::uint8_t g = palette_greys[i];
        bitmap.colour_table[static_cast<std::size_t>(i)] = {g, g, g, 0};
    }
}

// Grey of pixel x of an indexed bitmap row with `bits` bits per pixel, before the brightness
// offset (24-bit rows go through RowDither).
template <int bits>
int raw_grey(const Bitmap& bitmap, const std::uint8_t* row, int x) {
    if constexpr (bits == 8) {
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

// Dithers the top `rows` rows and first `columns` columns of a bitmap of any depth but 24 bits,
// calling pixel(x, y, index) for every pixel and row_done(y) after each row. y = 0 is the top row;
// the row parity starts at 0 there.
template <typename Pixel, typename RowDone>
void dither_rows(Bitmap& bitmap, int rows, int columns, int brightness, Pixel pixel, RowDone row_done) {
    const std::size_t stride = static_cast<std::size_t>(bitmap.row_bytes());
    for (int y = 0; y < rows; y++) {
        std::uint8_t* row = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * stride;
        auto at_y = [&pixel, y](int x, int index) { pixel(x, y, index); };
        switch (bitmap.bits_per_pixel) {
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

void grab_frame(Movie& movie, std::int32_t t, int brightness, int rows, int columns, bool drawn, GrabbedFrame& frame) {
    const Bitmap& received = movie.picture_at(t);
    frame.warning = movie.warning();
    dither_frame(received, brightness, rows, columns, drawn, frame);
}

void dither_frame(const Bitmap& received, int brightness, int rows, int columns, bool drawn, GrabbedFrame& frame) {
    frame.record = std::make_unique<FrameRecord>(static_cast<std::uint32_t>(received.width),
                                                 static_cast<std::uint32_t>(received.height));
    FrameRecord& record = *frame.record;
    std::vector<std::uint8_t> packed(packed_row_length(static_cast<std::uint32_t>(received.width)));

    // The movie's natural size is the picture size, so these agree; the minimum keeps a
    // mismatch from reading outside the bitmap.
    frame.rows = std::max(0, std::min(rows, received.height));
    frame.columns = std::max(0, std::min(columns, received.width));
    frame.greys.resize(static_cast<std::size_t>(frame.rows) * static_cast<std::size_t>(frame.columns));
    const auto greys_of = [&frame](int y) { return frame.greys.data() + static_cast<std::size_t>(y) * frame.columns; };
    if (drawn || received.bits_per_pixel != 24) frame.dithered = received;
    if (drawn) frame.received = received;

    if (received.bits_per_pixel == 24) {
        // Every movie picture comes this way.
        const RowDither dither(brightness);
        const std::size_t stride = static_cast<std::size_t>(received.row_bytes());
        for (int y = 0; y < frame.rows; y++) {
            const std::size_t row = static_cast<std::size_t>(received.height - 1 - y) * stride;
            dither.row(received.bits.data() + row, frame.columns, y & 1, packed.data(), greys_of(y));
            compress_row(packed.data(), packed.size(), record.data);
            if (drawn) write_back_greys(frame.dithered.bits.data() + row, greys_of(y), frame.columns);
        }
    } else {
        dither_rows(
            frame.dithered, frame.rows, frame.columns, brightness,
            [&](int x, int y, int index) {
                const int shift = 6 - 2 * (x & 3);
                packed[static_cast<std::size_t>(x / 4)] |=
                    static_cast<std::uint8_t>(pixel_code_table[index] & (3 << shift));
                greys_of(y)[x] = palette_greys[index];
            },
            [&](int) {
                compress_row(packed.data(), packed.size(), record.data);
                std::fill(packed.begin(), packed.end(), 0);
            });
    }
    record.finish();
    if (drawn) set_grey_colour_table(frame.dithered);
}

EncoderFault read_movie_frame(const Parameters& params, const Geometry& geometry, FrameSource& source,
                              Picture& picture, int n) {
    if (!source.colour.begin(params, geometry)) return {EncoderFailure::fatal, {}, 0, "malloc failed"};
    const std::int32_t t = sample_time(n, source.movie.time_scale(), params.frame_rate);
    const bool drawn = source.host.draws_frames();
    GrabbedFrame& frame = source.frame;
    if (source.ahead && !(source.ahead->is_next(t) && source.ahead->take(frame))) {
        // Off the plan, or the thread gave up: it stops before the movie is used here.
        source.ahead->stop();
        source.ahead = nullptr;
    }
    if (!source.ahead)
        grab_frame(source.movie, t, source.brightness, params.vertical_size, params.horizontal_size, drawn, frame);

    if (drawn) source.host.show_received_frame(frame.received);
    source.records.push_back(std::move(frame.record));
    for (int y = 0; y < frame.rows; y++)
        source.colour.grey_row(picture, y, frame.greys.data() + static_cast<std::size_t>(y) * frame.columns,
                               frame.columns);
    if (drawn) source.host.show_dithered_frame(frame.dithered);
    source.colour.finish(picture);
    return {};
}

void dither_preview_bitmap(Bitmap& bitmap, int brightness) {
    if (bitmap.bits_per_pixel == 24) {
        // Every movie picture comes this way: the conversion's own row kernel, written back.
        const RowDither dither(brightness);
        std::vector<std::uint8_t> packed(packed_row_length(static_cast<std::uint32_t>(bitmap.width)));
        std::vector<std::uint8_t> greys(static_cast<std::size_t>(bitmap.width));
        const std::size_t stride = static_cast<std::size_t>(bitmap.row_bytes());
        for (int y = 0; y < bitmap.height; y++) {
            std::uint8_t* row = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * stride;
            dither.row(row, bitmap.width, y & 1, packed.data(), greys.data());
            write_back_greys(row, greys.data(), bitmap.width);
        }
    } else {
        dither_rows(bitmap, bitmap.height, bitmap.width, brightness, [](int, int, int) {}, [](int) {});
    }
    set_grey_colour_table(bitmap);
}

Bitmap grey_picture(const Bitmap& picture) {
    Bitmap grey;
    grey.width = picture.width;
    grey.height = picture.height;
    grey.bits_per_pixel = 8;
    grey.colour_table.resize(256);
    for (int g = 0; g < 256; g++) {
        const auto level = static_cast<std::uint8_t>(g);
        grey.colour_table[static_cast<std::size_t>(g)] = {level, level, level, 0};
    }
    const std::size_t from_stride = static_cast<std::size_t>(picture.row_bytes());
    const std::size_t to_stride = static_cast<std::size_t>(grey.row_bytes());
    grey.bits.assign(to_stride * static_cast<std::size_t>(grey.height), 0);
    for (int y = 0; y < picture.height; y++) {
        const std::uint8_t* row = picture.bits.data() + static_cast<std::size_t>(y) * from_stride;
        std::uint8_t* out = grey.bits.data() + static_cast<std::size_t>(y) * to_stride;
        for (int x = 0; x < picture.width; x++) {
            switch (picture.bits_per_pixel) {
            case 24: out[x] = static_cast<std::uint8_t>((row[3 * x] + row[3 * x + 1] + row[3 * x + 2]) / 3); break;
            case 8: out[x] = static_cast<std::uint8_t>(raw_grey<8>(picture, row, x)); break;
            case 4: out[x] = static_cast<std::uint8_t>(raw_grey<4>(picture, row, x)); break;
            default: break;  // other depths are never produced; their pixels count as black
            }
        }
    }
    return grey;
}

Bitmap preview_frame(Movie& movie, int n, int brightness) {
    Bitmap bitmap = movie.picture_at(sample_time(n, movie.time_scale(), frames_per_second));
    dither_preview_bitmap(bitmap, brightness);
    return bitmap;
}

}  // namespace vintrel
