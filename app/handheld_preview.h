// A dithered frame drawn as the handheld shows it: each of its pixels a block of whole device
// pixels, never smoothed, so that the screen shows exactly the four greys at every scale factor.
#pragma once

#include <QImage>
#include <QWidget>

namespace vintrel {

class HandheldPreview : public QWidget {
    Q_OBJECT
public:
    explicit HandheldPreview(QWidget* parent = nullptr);

    // Zoom 0 fits the frame into the widget's size: the largest whole number of device pixels a
    // frame pixel that fits, or, for a frame larger than the widget, every n-th pixel kept (the
    // greys stay the four). Zooms 1 to 3 give each frame pixel that many pixels of the screen's
    // logical size, rounded to whole device pixels, and size the widget to the frame.
    void set_zoom(int zoom);
    int zoom() const { return zoom_; }
    void set_frame(const QImage& frame);
    const QImage& frame() const { return frame_; }

    // Where the frame is drawn, in the widget's coordinates.
    QRect frame_rect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // Device pixels a frame pixel takes; 0 when the frame must be cut down to fit.
    int block() const;
    void fix_size();

    QImage frame_;
    int zoom_ = 0;
};

}  // namespace vintrel
