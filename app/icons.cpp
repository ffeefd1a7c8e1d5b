// Icons drawn with QPainter at the usual small and large sizes.
#include "app/icons.h"

#include <QPainter>
#include <QPixmap>

#include "convert/dither_tables.h"

namespace vintrel {
namespace {

// Four vertical bars in the four greys filling `area`, black at the left.
void draw_grey_bars(QPainter& p, const QRectF& area) {
    const qreal w = area.width() / 4;
    for (int i = 0; i < 4; i++) {
        const int grey = palette_greys[i];
        p.fillRect(QRectF(area.left() + i * w, area.top(), w, area.height()), QColor(grey, grey, grey));
    }
}

QPixmap film_strip(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 44, 52));
    p.drawRoundedRect(QRectF(2 * s, 1 * s, 28 * s, 30 * s), 3 * s, 3 * s);
    // Perforations down both edges.
    p.setBrush(QColor(235, 235, 235));
    for (int i = 0; i < 5; i++) {
        p.drawRect(QRectF(4 * s, (3 + 6 * i) * s, 3 * s, 3 * s));
        p.drawRect(QRectF(25 * s, (3 + 6 * i) * s, 3 * s, 3 * s));
    }
    draw_grey_bars(p, QRectF(9 * s, 4 * s, 14 * s, 11 * s));
    draw_grey_bars(p, QRectF(9 * s, 17 * s, 14 * s, 11 * s));
    return pixmap;
}

QPixmap film_frame(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const qreal s = size / 32.0;
    p.setPen(QPen(QColor(40, 44, 52), 2 * s));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(3 * s, 6 * s, 26 * s, 20 * s));
    draw_grey_bars(p, QRectF(4 * s, 7 * s, 24 * s, 18 * s));
    return pixmap;
}

QIcon icon_from(QPixmap (*draw)(int)) {
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(draw(size));
    return icon;
}

}  // namespace

QIcon application_icon() { return icon_from(film_strip); }
QIcon movie_icon() { return icon_from(film_frame); }

}  // namespace vintrel
