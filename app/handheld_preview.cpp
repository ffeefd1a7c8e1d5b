// The handheld preview.
#include "app/handheld_preview.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

namespace vintrel {

HandheldPreview::HandheldPreview(QWidget* parent) : QWidget(parent) {}

void HandheldPreview::set_zoom(int zoom) {
    zoom_ = std::clamp(zoom, 0, 3);
    fix_size();
    update();
}

void HandheldPreview::set_frame(const QImage& frame) {
    const bool resized = frame.size() != frame_.size();
    frame_ = frame;
    if (resized) fix_size();
    update();
}

int HandheldPreview::block() const {
    if (frame_.isNull()) return 1;
    const qreal ratio = devicePixelRatioF();
    if (zoom_ > 0) return std::max(1, static_cast<int>(std::lround(zoom_ * ratio)));
    const int across = static_cast<int>(std::floor(width() * ratio)) / frame_.width();
    const int down = static_cast<int>(std::floor(height() * ratio)) / frame_.height();
    return std::max(0, std::min(across, down));
}

void HandheldPreview::fix_size() {
    if (zoom_ == 0 || frame_.isNull()) {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        updateGeometry();
        return;
    }
    setFixedSize(sizeHint());
}

QSize HandheldPreview::sizeHint() const {
    if (frame_.isNull()) return {160, 120};
    const qreal ratio = devicePixelRatioF();
    const int zoom = std::max(zoom_, 1);
    const int b = std::max(1, static_cast<int>(std::lround(zoom * ratio)));
    return {static_cast<int>(std::ceil(frame_.width() * b / ratio)), static_cast<int>(std::ceil(frame_.height() * b / ratio))};
}

QSize HandheldPreview::minimumSizeHint() const { return zoom_ == 0 ? QSize(64, 48) : sizeHint(); }

QRect HandheldPreview::frame_rect() const {
    if (frame_.isNull()) return {};
    const qreal ratio = devicePixelRatioF();
    QSizeF device;
    if (const int b = block(); b > 0) {
        device = QSizeF(frame_.width() * b, frame_.height() * b);
    } else {
        device = QSizeF(frame_.size()).scaled(QSizeF(width() * ratio, height() * ratio), Qt::KeepAspectRatio);
    }
    const QSize logical(static_cast<int>(device.width() / ratio), static_cast<int>(device.height() / ratio));
    // Centred when fitted; from the top left when the frame sets the widget's size.
    const QPoint at = zoom_ == 0 ? QPoint((width() - logical.width()) / 2, (height() - logical.height()) / 2) : QPoint();
    return {at, logical};
}

void HandheldPreview::paintEvent(QPaintEvent*) {
    if (frame_.isNull()) return;
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const QRect place = frame_rect();
    // Drawn in device pixels, so that every block is whole whatever the scale factor.
    painter.scale(1 / ratio, 1 / ratio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QPoint at(static_cast<int>(std::lround(place.x() * ratio)), static_cast<int>(std::lround(place.y() * ratio)));
    if (const int b = block(); b > 0) {
        painter.drawImage(QRect(at, frame_.size() * b), frame_);
    } else {
        // Too large to show whole: every n-th pixel kept, as nearest-neighbour scaling does.
        const QSize device(static_cast<int>(std::lround(place.width() * ratio)),
                           static_cast<int>(std::lround(place.height() * ratio)));
        painter.drawImage(at, frame_.scaled(device, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    }
}

}  // namespace vintrel
