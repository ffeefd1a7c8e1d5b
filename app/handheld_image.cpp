// Frame records as images.
#include "app/handheld_image.h"

#include <array>
#include <cstring>

#include "convert/dither_tables.h"

namespace vintrel {
namespace {

using Codes = std::array<std::uint8_t, 4>;

// The four pixel codes of each packed byte, the first pixel (the high bits) first.
constexpr std::array<Codes, 256> make_code_bytes() {
    std::array<Codes, 256> table{};
    for (unsigned b = 0; b < 256; b++)
        table[b] = {std::uint8_t(b >> 6 & 3), std::uint8_t(b >> 4 & 3), std::uint8_t(b >> 2 & 3), std::uint8_t(b & 3)};
    return table;
}
constexpr std::array<Codes, 256> code_bytes = make_code_bytes();

}  // namespace

QImage handheld_image(std::span<const std::uint8_t> file, const pdb::StoredRecord& record,
                      std::vector<std::uint8_t>& rows, QString& fault) {
    if (const pdb::PdbFault error = pdb::expand_record(file, record, rows); error.failed()) {
        fault = QString::fromStdString(error.detail);
        return {};
    }
    const int width = static_cast<int>(record.width), height = static_cast<int>(record.height);
    QImage image(width, height, QImage::Format_Indexed8);
    if (image.isNull()) {
        fault = QString("frame size %1x%2 does not fit in memory").arg(width).arg(height);
        return {};
    }
    QList<QRgb> colours;
    for (const std::uint8_t grey : code_greys) colours.append(qRgb(grey, grey, grey));
    image.setColorTable(colours);
    const std::size_t row_bytes = static_cast<std::size_t>(pdb::row_bytes_for_width(record.width));
    // Whole groups of four pixels fit: a scan line is padded to a multiple of 4 bytes.
    const std::size_t groups = (static_cast<std::size_t>(width) + 3) / 4;
    for (int y = 0; y < height; y++) {
        const std::uint8_t* in = rows.data() + static_cast<std::size_t>(y) * row_bytes;
        std::uint8_t* out = image.scanLine(y);
        for (std::size_t g = 0; g < groups; g++) {
            std::memcpy(out + 4 * g, code_bytes[in[g]].data(), 4);
        }
    }
    return image;
}

}  // namespace vintrel
