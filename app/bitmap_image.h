// Device-independent bitmaps of the movie layer as Qt images.
#pragma once

#include <QImage>
#include <QRect>

#include "convert/movie/movie.h"

class QFont;

namespace vintrel {

// The bitmap top row first, in 32-bit RGB. 24-bit pixels are taken as they are; 8- and 4-bit
// pixels through the colour table, an index beyond it giving black.
QImage image_from_bitmap(const Bitmap& bitmap);

// Dialog layouts are given in dialog units: a quarter of the font's average character width
// across, an eighth of its height down.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int units) const { return units * base_x_ / 4; }
    int y(int units) const { return units * base_y_ / 8; }
    QRect rect(int left, int top, int width, int height) const { return {x(left), y(top), x(width), y(height)}; }

private:
    int base_x_, base_y_;
};

}  // namespace vintrel
