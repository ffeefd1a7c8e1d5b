// The handheld player: shows the frames of a .pdb as the handheld does, at 5 a second in the four
// greys, with play/pause, single steps, a position slider and 1x, 2x or 3x pixels.
#pragma once

#include <cstdint>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include "convert/pdb/reader.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimer;
class QToolButton;

namespace vintrel {

class HandheldScreen;

class PdbPlayer : public QWidget {
    Q_OBJECT
public:
    // Reads and checks the whole database. An incomplete database (its writing was stopped, or it
    // is a copy cut short) plays the whole records it holds, and notice() says so; when nothing can
    // be played, playable() is false and problem() is the reader's message, which names the offset
    // of the fault.
    explicit PdbPlayer(const QString& path, QWidget* parent = nullptr);
    ~PdbPlayer() override;

    bool playable() const { return !frames_.empty() && problem_.isEmpty(); }
    const QString& problem() const { return problem_; }
    QString notice() const;
    const QString& title() const { return title_; }

    int frame_count() const { return static_cast<int>(frames_.size()); }
    int position() const { return position_; }
    bool playing() const;
    int zoom() const { return zoom_; }
    // The frame shown, one pixel a handheld pixel.
    const QImage& frame() const { return image_; }

    void show_frame(int index);
    void set_zoom(int zoom);
    void play();
    void pause();
    void step(int frames);

    QSize sizeHint() const override;

signals:
    // The zoom changed: the window may be given the new size.
    void size_changed();

private:
    void tick();
    void update_controls();

    QString title_;
    QString problem_;
    QByteArray bytes_;
    std::vector<pdb::StoredRecord> frames_;
    std::uint32_t listed_ = 0;  // records the header lists
    std::vector<std::uint8_t> rows_;
    QImage image_;
    int position_ = -1;
    int zoom_ = 1;

    QScrollArea* screen_area_ = nullptr;
    HandheldScreen* screen_ = nullptr;
    QTimer* timer_ = nullptr;
    QPushButton* play_button_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* info_ = nullptr;
    QLabel* notice_ = nullptr;
    QToolButton* zoom_buttons_[3] = {};
};

}  // namespace vintrel
