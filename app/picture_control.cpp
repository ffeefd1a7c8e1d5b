// The Picture Control dialog.
#include "app/picture_control.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStyle>

#include "app/bitmap_image.h"
#include "app/movie_window_view.h"
#include "app/queue_panel.h"
#include "app/tessel_app.h"
#include "convert/frame_preview.h"
#include "convert/sample_rate.h"

namespace vintrel {
namespace {

// Slider position p stands for the brightness offset 255 - p: "Lighter" at the left end.
constexpr int slider_middle = 255;

// The dialog's controls in dialog units: id, text, left, top, width, height.
struct ControlPlace {
    const char* id;
    const char* text;
    int left, top, width, height;
};
constexpr ControlPlace buttons[] = {
    {"1", "Ok", 24, 157, 50, 14},
    {"2", "Cancel", 92, 157, 50, 14},
    {"105", ">>", 240, 157, 50, 14},
    {"106", "<<", 176, 157, 50, 14},
};
constexpr ControlPlace labels[] = {
    {"107", "Darker", 168, 116, 24, 8},
    {"108", "Lighter", 28, 112, 24, 8},
};
constexpr ControlPlace slider_place{"101", "", 28, 124, 170, 24};
constexpr ControlPlace picture_place{"117", "", 28, 4, 18, 15};
// Which frame the preview shows, its time and size, right of the slider.
constexpr ControlPlace frame_place{"frame_time", "", 202, 116, 103, 24};
// Below the buttons, while other movies wait: they convert with these settings, unattended.
constexpr ControlPlace use_for_all_place{"use_for_all", "&Use these settings for every movie waiting", 24, 176, 266, 10};
constexpr int dialog_width = 307, dialog_height = 190;
// The first control row below the preview; everything from there down moves when the movie's
// picture is taller than the room the template leaves above it.
constexpr int first_control_top = 112;
// Room for a window frame that the window manager has not reported yet, in pixels.
constexpr QSize least_window_frame(16, 48);
// Room kept right of the preview, in dialog units.
constexpr int preview_right_margin = 8;

// The size of a view onto a picture that shows it whole when it fits in `room`, and otherwise
// as much of it as fits, with a scroll bar of `bar` pixels along each direction that needs one.
QSize scrolled_view_size(QSize picture, QSize room, int bar) {
    bool across = false, down = false;
    // A bar along one direction takes room from the other, which may then need a bar too.
    for (int pass = 0; pass < 2; pass++) {
        across = picture.width() + (down ? bar : 0) > room.width();
        down = picture.height() + (across ? bar : 0) > room.height();
    }
    return {std::min(picture.width() + (down ? bar : 0), room.width()),
            std::min(picture.height() + (across ? bar : 0), room.height())};
}

}  // namespace

PictureControl::PictureControl(TMovieWindowView& view) : QDialog(&view), view_(view) {
    setWindowTitle("Picture Control");
    setObjectName("picture_control");
    // The preview shows the handheld's pixels one to one; a picture larger than the screen
    // leaves scroll bars rather than pushing the controls off it.
    preview_area_ = new QScrollArea(this);
    preview_area_->setObjectName("preview_area");
    preview_area_->setFrameShape(QFrame::NoFrame);
    preview_area_->setFocusPolicy(Qt::TabFocus);
    picture_static_ = new QLabel;
    picture_static_->setObjectName(picture_place.id);
    picture_static_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    preview_area_->setWidget(picture_static_);
    brightness_slider_ = new QSlider(Qt::Horizontal, this);
    brightness_slider_->setObjectName(slider_place.id);
    brightness_slider_->setRange(0, 2 * slider_middle);
    brightness_slider_->setTickInterval(slider_middle);
    brightness_slider_->setTickPosition(QSlider::TicksBelow);
    brightness_slider_->setValue(slider_middle - view_.brightness);
    for (const ControlPlace& place : labels) {
        auto* label = new QLabel(place.text, this);
        label->setObjectName(place.id);
    }
    frame_label_ = new QLabel(this);
    frame_label_->setObjectName(frame_place.id);
    use_for_all_ = new QCheckBox(use_for_all_place.text, this);
    use_for_all_->setObjectName(use_for_all_place.id);
    use_for_all_->setToolTip("The brightness chosen here and the screen size are used for every movie waiting in "
                             "the queue; their Picture Control is not shown");
    use_for_all_->setVisible(!view_.app().queue().empty());
    frame_label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (const ControlPlace& place : buttons) {
        auto* button = new QPushButton(place.text, this);
        button->setObjectName(place.id);
    }
    auto* ok = findChild<QPushButton*>("1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &PictureControl::accept);
    connect(findChild<QPushButton*>("2"), &QPushButton::clicked, this, &PictureControl::reject);
    connect(findChild<QPushButton*>("105"), &QPushButton::clicked, this, &PictureControl::next_frame);
    connect(findChild<QPushButton*>("106"), &QPushButton::clicked, this, &PictureControl::previous_frame);
    connect(brightness_slider_, &QSlider::valueChanged, this, &PictureControl::slider_moved);
    // Tab follows the layout: the slider, then the button row from left to right, then the
    // preview above them. The slider has the focus first, as before.
    QWidget* chain[] = {brightness_slider_, ok, findChild<QPushButton*>("2"), findChild<QPushButton*>("106"),
                        findChild<QPushButton*>("105"), preview_area_};
    for (std::size_t k = 1; k < std::size(chain); k++) setTabOrder(chain[k - 1], chain[k]);
    brightness_slider_->setFocus();
    lay_out({});
    draw_preview();
}

// The largest client area a dialog of this program may have: the screen's available area less
// the frame the window manager adds, as measured on the main window, but no less than a usual
// title bar and border: a window manager may not have told the main window its frame yet.
QSize PictureControl::largest_client_size() const {
    QScreen* screen = view_.screen();
    if (!screen) return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    const QWidget* main = view_.window();
    const QSize frame = (main->frameGeometry().size() - main->size()).expandedTo(least_window_frame);
    return screen->availableGeometry().size() - frame;
}

// Places the controls as the template does, moved down by as much as the preview is taller than
// the room the template leaves for it, and sizes the dialog around them; the preview's view is
// cut down (and scrolls) where the whole dialog would not fit on the screen.
void PictureControl::lay_out(QSize preview) {
    const DialogUnits units(font());
    const QRect picture = units.rect(picture_place.left, picture_place.top, picture_place.width, picture_place.height);
    const int room = units.y(first_control_top) - picture.top() - units.y(4);
    const QSize largest = largest_client_size();
    const QSize view_room(largest.width() - picture.left() - units.x(preview_right_margin),
                          largest.height() - units.y(dialog_height) + room);
    const QSize view = scrolled_view_size(preview.expandedTo(picture.size()), view_room.expandedTo(picture.size()),
                                          style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, preview_area_));
    const int shift = std::max(0, view.height() - room);
    const auto place = [&](QWidget* control, const ControlPlace& p) {
        control->setGeometry(units.rect(p.left, p.top, p.width, p.height).translated(0, shift));
    };
    for (const ControlPlace& p : buttons) place(findChild<QWidget*>(p.id), p);
    for (const ControlPlace& p : labels) place(findChild<QWidget*>(p.id), p);
    place(brightness_slider_, slider_place);
    place(frame_label_, frame_place);
    place(use_for_all_, use_for_all_place);
    picture_static_->resize(preview.expandedTo(picture.size()));
    preview_area_->setGeometry(QRect(picture.topLeft(), view));
    setFixedSize(std::max(units.x(dialog_width), picture.left() + view.width() + units.x(preview_right_margin)),
                 units.y(dialog_height) + shift);
}

// Fetches frame frame_index_, dithers it with the current brightness and shows it at once,
// unscaled, with its top-left corner at the picture placeholder's.
void PictureControl::draw_preview() {
    Movie* movie = view_.conversion().movie();
    if (!movie) return;
    const QImage image = image_from_bitmap(preview_frame(*movie, frame_index_, view_.brightness));
    if (picture_static_->pixmap().size() != image.size()) lay_out(image.size());
    picture_static_->setPixmap(QPixmap::fromImage(image));
    // Frame n is taken at n fifths of a second.
    const int tenths = static_cast<int>(frame_index_ * (10 / frames_per_second));
    QString size = QString("%1\u00d7%2 pixels").arg(image.width()).arg(image.height());
    if (const ScreenSize screen = view_.conversion().screen(); !screen.none())
        size += QString("\nfitted inside %1\u00d7%2").arg(screen.width).arg(screen.height);
    frame_label_->setText(QString("frame %1 of %2, %3:%4.%5\n%6")
                              .arg(frame_index_ + 1)
                              .arg(std::max(1, view_.conversion().frame_count()))
                              .arg(tenths / 600, 2, 10, QChar('0'))
                              .arg(tenths / 10 % 60, 2, 10, QChar('0'))
                              .arg(tenths % 10)
                              .arg(size));
    if (isVisible()) picture_static_->repaint();
}

void PictureControl::slider_moved(int position) {
    view_.brightness = slider_middle - position;
    draw_preview();
}

void PictureControl::next_frame() {
    frame_index_++;
    // A movie without frames still shows frame 0 rather than asking for a negative time.
    if (frame_index_ >= view_.conversion().frame_count()) frame_index_ = std::max(0, view_.conversion().frame_count() - 1);
    draw_preview();
}

void PictureControl::previous_frame() {
    frame_index_--;
    if (frame_index_ < 0) frame_index_ = 0;
    draw_preview();
}

void PictureControl::accept() {
    // A second Ok (a double click, a queued Enter) must not start a second conversion.
    if (accepted_) return;
    accepted_ = true;
    view_.brightness = slider_middle - brightness_slider_->value();
    if (use_for_all_->isVisible() && use_for_all_->isChecked()) view_.app().queue().set_same_brightness(true);
    // The view starts the conversion on its own thread.
    QDialog::accept();
}

void PictureControl::reject() {
    if (accepted_) return;
    QDialog::reject();
}

}  // namespace vintrel
