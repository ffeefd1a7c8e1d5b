// The Picture Control dialog: previews sampled frames dithered to four greys as the handheld will
// show them, moves through the movie, chooses the part to convert, the brightness (by hand, reset,
// or Auto) and the screen size, and estimates the size of the database; Ok (accepted) converts.
#pragma once

#include <memory>
#include <thread>

#include <QDialog>
#include <QImage>

#include "convert/frame_sample.h"
#include "convert/movie_part.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimer;

namespace vintrel {

class HandheldPreview;
class TMovieWindowView;

class PictureControl : public QDialog {
    Q_OBJECT
public:
    explicit PictureControl(TMovieWindowView& view);
    ~PictureControl() override;

    int frame_index() const { return frame_index_; }
    // The part of the movie chosen.
    FramePart part() const { return part_; }
    // The sample of frames of that part, once it has been taken (Auto and the estimate wait for it).
    bool sampled() const { return sample_ != nullptr; }

    // Enter is Ok, Escape (and the close box) Cancel.
    void accept() override;
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void draw_preview();
    void show_frame(int index);
    void next_frame();
    void previous_frame();
    void slider_moved(int position);
    void set_brightness(int brightness);
    void set_part(FramePart part);
    void part_typed();
    void show_part();
    void screen_chosen(int index);
    void fill_screen_choices();
    void zoom_chosen(int index);
    void take_sample();
    void sample_taken(std::shared_ptr<FrameSample> sample, int generation);
    void show_estimate();
    void keep_size();
    QSize largest_size() const;

    TMovieWindowView& view_;
    QScrollArea* preview_area_ = nullptr;
    HandheldPreview* picture_static_ = nullptr;
    QSlider* position_ = nullptr;
    QLabel* frame_label_ = nullptr;
    QLineEdit *start_edit_ = nullptr, *end_edit_ = nullptr;
    QLabel* part_label_ = nullptr;
    QSlider* brightness_slider_ = nullptr;
    QLabel* brightness_value_ = nullptr;
    QPushButton* auto_button_ = nullptr;
    QComboBox* screen_choice_ = nullptr;
    QComboBox* zoom_ = nullptr;
    QLabel* estimate_ = nullptr;
    QCheckBox* use_for_all_ = nullptr;
    QTimer* estimate_timer_ = nullptr;
    int frame_index_ = 0;
    FramePart part_;
    bool accepted_ = false;
    bool sized_by_user_ = false;
    QSize given_size_;  // the size the program gave the dialog

    // The sample is taken on a thread of its own, from a movie opened there for it; a newer part
    // or screen size makes an older sample stale.
    std::shared_ptr<FrameSample> sample_;
    int sample_generation_ = 0;
    std::jthread sampler_;
};

}  // namespace vintrel
