// The Picture Control dialog: previews sampled frames dithered to four greys, sets the
// brightness with a slider; Ok (accepted) converts.
#pragma once

#include <QDialog>
#include <QImage>

class QCheckBox;
class QLabel;
class QScrollArea;
class QSlider;

namespace vintrel {

class TMovieWindowView;

class PictureControl : public QDialog {
    Q_OBJECT
public:
    explicit PictureControl(TMovieWindowView& view);

    int frame_index() const { return frame_index_; }

    // Enter is Ok, Escape (and the close box) Cancel.
    void accept() override;
    void reject() override;

private:
    void draw_preview();
    void next_frame();
    void previous_frame();
    void slider_moved(int position);
    void lay_out(QSize preview);
    QSize largest_client_size() const;

    TMovieWindowView& view_;
    QScrollArea* preview_area_ = nullptr;
    QLabel* picture_static_ = nullptr;
    QSlider* brightness_slider_ = nullptr;
    QLabel* frame_label_ = nullptr;
    QCheckBox* use_for_all_ = nullptr;
    int frame_index_ = 0;
    bool accepted_ = false;
};

}  // namespace vintrel
