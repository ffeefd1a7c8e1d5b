// Bitmap conversion and dialog units.
#include "app/bitmap_image.h"

#include <algorithm>

#include <QFontMetrics>

namespace vintrel {

QImage image_from_bitmap(const Bitmap& bitmap) {
    QImage image(bitmap.width, bitmap.height, QImage::Format_RGB32);
    const int row_bytes = bitmap.row_bytes();
    const auto expected = static_cast<std::size_t>(row_bytes) * static_cast<std::size_t>(bitmap.height);
    if (image.isNull() || bitmap.bits.size() < expected) return {};
    const auto from_table = [&bitmap](unsigned index) {
        if (index >= bitmap.colour_table.size()) return qRgb(0, 0, 0);
        const auto& c = bitmap.colour_table[index];
        return qRgb(c[2], c[1], c[0]);
    };
    for (int y = 0; y < bitmap.height; y++) {
        const std::uint8_t* row = bitmap.bits.data() + static_cast<std::size_t>(bitmap.height - 1 - y) * row_bytes;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < bitmap.width; x++) {
            switch (bitmap.bits_per_pixel) {
                case 24: out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]); break;
                case 8: out[x] = from_table(row[x]); break;
                case 4: out[x] = from_table(x % 2 ? row[x / 2] & 0x0F : row[x / 2] >> 4); break;
                default: out[x] = qRgb(0, 0, 0);
            }
        }
    }
    return image;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    // Never zero, even without any font installed: the controls keep a usable size.
    base_x_ = std::max(4, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
    base_y_ = std::max(8, metrics.height());
}

}  // namespace vintrel
