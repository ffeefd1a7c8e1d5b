// The Picture Control dialog.
#include "app/picture_control.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "app/bitmap_image.h"
#include "app/handheld_preview.h"
#include "app/movie_window_view.h"
#include "app/program_settings.h"
#include "app/queue_panel.h"
#include "app/readable_size.h"
#include "app/screen_size_menu.h"
#include "app/tessel_app.h"
#include "app/window_room.h"
#include "convert/fitted_movie.h"
#include "convert/frame_preview.h"
#include "convert/sample_rate.h"

namespace vintrel {
namespace {

// Slider position p stands for the brightness offset 255 - p: "Lighter" at the left end.
constexpr int slider_middle = 255;
// Room the controls below the preview take, for choosing the zoom a frame starts with.
constexpr int controls_height = 330;
// The dialog's size, kept for the next time.
const QString size_key = "picture_control/size";
const QStringList zoom_texts = {"Fit", "1\u00d7", "2\u00d7", "3\u00d7"};

QPushButton* button(QWidget* parent, const char* id, const QString& text, const QString& tip) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(id);
    b->setToolTip(tip);
    b->setAutoDefault(false);
    return b;
}

QLabel* label(QWidget* parent, const char* id, const QString& text, QWidget* buddy = nullptr) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(id);
    if (buddy) l->setBuddy(buddy);
    return l;
}

}  // namespace

PictureControl::PictureControl(TMovieWindowView& view) : QDialog(&view), view_(view) {
    setWindowTitle("Picture Control");
    setObjectName("picture_control");
    setSizeGripEnabled(true);
    const int frames = view_.conversion().frame_count();

    // The brightness first: it has the focus when the dialog opens.
    brightness_slider_ = new QSlider(Qt::Horizontal, this);
    brightness_slider_->setObjectName("101");
    brightness_slider_->setRange(0, 2 * slider_middle);
    brightness_slider_->setTickInterval(slider_middle);
    brightness_slider_->setTickPosition(QSlider::TicksBelow);
    brightness_slider_->setPageStep(16);
    brightness_slider_->setToolTip("Added to every grey before the frames are dithered to four greys");
    brightness_value_ = label(this, "brightness_value", "");
    brightness_value_->setMinimumWidth(brightness_value_->fontMetrics().horizontalAdvance("+255") + 4);
    brightness_value_->setToolTip("The brightness offset, from -255 (darker) to +255 (lighter)");
    QPushButton* reset = button(this, "brightness_reset", "&Reset", "Back to the movie's own brightness (0)");
    auto_button_ = button(this, "brightness_auto", "&Auto",
                          "Choose the brightness from a sample of the frames of the part: their middle grey "
                          "becomes the middle of the four greys");
    auto_button_->setEnabled(false);

    preview_area_ = new QScrollArea(this);
    preview_area_->setObjectName("preview_area");
    preview_area_->setFrameShape(QFrame::NoFrame);
    preview_area_->setFocusPolicy(Qt::TabFocus);
    preview_area_->setAlignment(Qt::AlignCenter);
    picture_static_ = new HandheldPreview;
    picture_static_->setObjectName("117");
    picture_static_->setToolTip("The frame as the handheld will show it, in its four greys");
    preview_area_->setWidget(picture_static_);

    QPushButton* previous = button(this, "106", "<<", "The frame before (a fifth of a second earlier)");
    position_ = new QSlider(Qt::Horizontal, this);
    position_->setObjectName("position");
    position_->setRange(0, std::max(0, frames - 1));
    position_->setPageStep(static_cast<int>(5 * frames_per_second));
    position_->setToolTip("The frame shown: the movie sampled five times a second");
    QPushButton* next = button(this, "105", ">>", "The frame after (a fifth of a second later)");
    frame_label_ = label(this, "frame_time", "");

    start_edit_ = new QLineEdit(this);
    start_edit_->setObjectName("part_start");
    start_edit_->setToolTip("Where the part to convert starts: seconds, or minutes:seconds (1:30, 12.5)");
    end_edit_ = new QLineEdit(this);
    end_edit_->setObjectName("part_end");
    end_edit_->setToolTip("Where the part to convert ends: seconds, or minutes:seconds (1:30, 12.5)");
    for (QLineEdit* edit : {start_edit_, end_edit_})
        edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance("00:00:00.0") + 16);
    QPushButton* set_start = button(this, "set_start", "Set &Start", "Start the part at the frame shown");
    QPushButton* set_end = button(this, "set_end", "Set E&nd", "End the part with the frame shown");
    QPushButton* whole = button(this, "part_whole", "&Whole Movie", "Convert the whole movie");
    part_label_ = label(this, "part_length", "");

    screen_choice_ = new QComboBox(this);
    screen_choice_->setObjectName("screen_size_choice");
    screen_choice_->setToolTip("Keep the movie's size or fit the frames inside a handheld's screen (as the Screen "
                               "Size menu does)");
    zoom_ = new QComboBox(this);
    zoom_->setObjectName("zoom");
    zoom_->addItems(zoom_texts);
    zoom_->setToolTip("Fit the preview to the dialog, or show each handheld pixel as 1, 2 or 3 pixels of the screen");
    estimate_ = label(this, "estimate", "");
    estimate_->setToolTip("Estimated from a sample of the part's frames at this brightness and screen size");

    use_for_all_ = new QCheckBox("&Use these settings for every movie waiting", this);
    use_for_all_->setObjectName("use_for_all");
    use_for_all_->setToolTip("The brightness chosen here and the screen size are used for every movie waiting in "
                             "the queue; their Picture Control is not shown");
    use_for_all_->setVisible(!view_.app().queue().empty());
    QPushButton* ok = button(this, "1", "&Ok", "Convert the part chosen with this brightness and screen size");
    ok->setDefault(true);
    QPushButton* cancel = button(this, "2", "&Cancel", "Close without converting; the movie's files stay as they are");

    // Laid out top to bottom: the preview, where in the movie, which part, how bright, how large.
    auto* moves = new QHBoxLayout;
    moves->addWidget(label(this, "position_label", "&Position:", position_));
    moves->addWidget(previous);
    moves->addWidget(position_, 1);
    moves->addWidget(next);
    auto* part = new QHBoxLayout;
    part->addWidget(label(this, "start_label", "Convert &from", start_edit_));
    part->addWidget(start_edit_);
    part->addWidget(set_start);
    part->addWidget(label(this, "end_label", "&to", end_edit_));
    part->addWidget(end_edit_);
    part->addWidget(set_end);
    part->addWidget(whole);
    part->addWidget(part_label_, 1);
    auto* brightness = new QGridLayout;
    brightness->addWidget(label(this, "brightness_label", "&Brightness:", brightness_slider_), 0, 0);
    brightness->addWidget(brightness_slider_, 0, 1);
    brightness->addWidget(brightness_value_, 0, 2);
    brightness->addWidget(reset, 0, 3);
    brightness->addWidget(auto_button_, 0, 4);
    auto* ends = new QHBoxLayout;
    ends->setContentsMargins(0, 0, 0, 0);
    ends->addWidget(label(this, "108", "Lighter"));
    ends->addStretch();
    ends->addWidget(label(this, "107", "Darker"));
    brightness->addLayout(ends, 1, 1);
    brightness->setColumnStretch(1, 1);
    auto* sizing = new QHBoxLayout;
    sizing->addWidget(label(this, "screen_label", "Scr&een size:", screen_choice_));
    sizing->addWidget(screen_choice_);
    sizing->addWidget(label(this, "zoom_label", "&Zoom:", zoom_));
    sizing->addWidget(zoom_);
    sizing->addSpacing(12);
    sizing->addWidget(estimate_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(preview_area_, 1);
    layout->addLayout(moves);
    layout->addWidget(frame_label_);
    layout->addLayout(part);
    layout->addLayout(brightness);
    layout->addLayout(sizing);
    layout->addWidget(use_for_all_);
    layout->addLayout(buttons);
    setTabOrder(brightness_slider_, reset);
    setTabOrder(reset, auto_button_);
    setTabOrder(auto_button_, ok);
    setTabOrder(ok, cancel);
    setTabOrder(cancel, previous);
    setTabOrder(previous, position_);
    setTabOrder(position_, next);
    setTabOrder(next, start_edit_);
    setTabOrder(start_edit_, set_start);
    setTabOrder(set_start, end_edit_);
    setTabOrder(end_edit_, set_end);
    setTabOrder(set_end, whole);
    setTabOrder(whole, screen_choice_);
    setTabOrder(screen_choice_, zoom_);
    setTabOrder(zoom_, use_for_all_);
    setTabOrder(use_for_all_, preview_area_);

    estimate_timer_ = new QTimer(this);
    estimate_timer_->setSingleShot(true);
    estimate_timer_->setInterval(150);
    connect(estimate_timer_, &QTimer::timeout, this, &PictureControl::show_estimate);
    connect(ok, &QPushButton::clicked, this, &PictureControl::accept);
    connect(cancel, &QPushButton::clicked, this, &PictureControl::reject);
    connect(next, &QPushButton::clicked, this, &PictureControl::next_frame);
    connect(previous, &QPushButton::clicked, this, &PictureControl::previous_frame);
    connect(position_, &QSlider::valueChanged, this, &PictureControl::show_frame);
    connect(brightness_slider_, &QSlider::valueChanged, this, &PictureControl::slider_moved);
    connect(reset, &QPushButton::clicked, this, [this] { set_brightness(0); });
    connect(auto_button_, &QPushButton::clicked, this, [this] {
        if (sample_) set_brightness(sample_->automatic_brightness());
    });
    connect(set_start, &QPushButton::clicked, this, [this] {
        const int end = part_.end();
        set_part({frame_index_, end > frame_index_ ? end - frame_index_ : -1});
    });
    connect(set_end, &QPushButton::clicked, this, [this] {
        const int first = std::min(part_.first, frame_index_);
        set_part({first, frame_index_ + 1 - first});
    });
    connect(whole, &QPushButton::clicked, this, [this] { set_part({}); });
    connect(start_edit_, &QLineEdit::editingFinished, this, &PictureControl::part_typed);
    connect(end_edit_, &QLineEdit::editingFinished, this, &PictureControl::part_typed);
    connect(screen_choice_, &QComboBox::activated, this, &PictureControl::screen_chosen);
    connect(zoom_, &QComboBox::activated, this, &PictureControl::zoom_chosen);
    ScreenSizeMenu& menu = view_.app().screen_size_menu();
    connect(&menu, &ScreenSizeMenu::chosen_changed, this, [this](ScreenSize screen) {
        // Chosen here or in the menu: the movie is fitted anew and the sample retaken.
        if (!view_.refit(screen)) {
            reject();
            return;
        }
        fill_screen_choices();
        draw_preview();
        take_sample();
    });

    brightness_slider_->setValue(slider_middle - view_.brightness);
    set_brightness(view_.brightness);
    fill_screen_choices();
    part_ = FramePart{}.within(frames);
    draw_preview();
    // A frame that fits starts as large as it fits (up to 3x); a larger one fitted to the dialog.
    const QSize room = largest_size() - QSize(40, controls_height);
    const QSize frame = picture_static_->frame().size();
    int zoom = 0;
    for (int k = 3; k >= 1 && zoom == 0 && !frame.isEmpty(); k--)
        if (frame.width() * k <= room.width() && frame.height() * k <= room.height()) zoom = k;
    zoom_->setCurrentIndex(zoom);
    zoom_chosen(zoom);
    show_part();
    take_sample();

    brightness_slider_->setFocus();
    // As large as the frame at its zoom needs, as far as the screen has room: the preview's
    // scroll area alone would ask for less than a large frame.
    const QSize kept = program_settings().value(size_key).toSize();
    const QSize wanted =
        sizeHint() + (picture_static_->sizeHint() - preview_area_->sizeHint()).expandedTo(QSize(0, 0));
    resize((kept.isValid() ? kept : wanted).boundedTo(largest_size()));
    given_size_ = size();
}

PictureControl::~PictureControl() = default;

// The largest size the dialog may have: the screen's room less a frame like the main window's.
QSize PictureControl::largest_size() const { return largest_window_size(view_, *view_.window()); }

void PictureControl::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Sized by the user through the window manager, not by the program to suit a movie (the
    // window manager's own word on the size it was given, as it maps the dialog, is no choice).
    if (isVisible() && event->spontaneous() && event->size() != given_size_) sized_by_user_ = true;
}

// Fetches frame frame_index_, dithers it with the current brightness and shows it at once, with
// each handheld pixel whole on the screen.
void PictureControl::draw_preview() {
    Movie* movie = view_.conversion().movie();
    if (!movie) return;
    const QImage image = image_from_bitmap(preview_frame(*movie, frame_index_, view_.brightness));
    picture_static_->set_frame(image);
    // Frame n is taken at n fifths of a second.
    QString size = QString("%1\u00d7%2 pixels").arg(image.width()).arg(image.height());
    if (const ScreenSize screen = view_.conversion().screen(); !screen.none())
        size += QString("\nfitted inside %1\u00d7%2").arg(screen.width).arg(screen.height);
    frame_label_->setText(QString("frame %1 of %2, %3\n%4")
                              .arg(frame_index_ + 1)
                              .arg(std::max(1, view_.conversion().frame_count()))
                              .arg(QString::fromStdString(time_text(frame_index_ / frames_per_second)))
                              .arg(size));
    if (isVisible()) picture_static_->repaint();
}

void PictureControl::show_frame(int index) {
    // A movie without frames still shows frame 0 rather than asking for a negative time.
    frame_index_ = std::clamp(index, 0, std::max(0, view_.conversion().frame_count() - 1));
    if (position_->value() != frame_index_) position_->setValue(frame_index_);
    draw_preview();
}

void PictureControl::next_frame() { show_frame(frame_index_ + 1); }

void PictureControl::previous_frame() { show_frame(frame_index_ - 1); }

void PictureControl::slider_moved(int position) {
    view_.brightness = slider_middle - position;
    brightness_value_->setText(view_.brightness == 0 ? QString("0") : QString::asprintf("%+d", view_.brightness));
    draw_preview();
    estimate_timer_->start();
}

void PictureControl::set_brightness(int brightness) {
    brightness_slider_->setValue(slider_middle - std::clamp(brightness, -slider_middle, slider_middle));
    slider_moved(brightness_slider_->value());
}

void PictureControl::set_part(FramePart part) {
    const FramePart before = part_;
    part_ = part.within(view_.conversion().frame_count());
    show_part();
    // The frame shown stays inside the part: its first frame when it was outside.
    if (frame_index_ < part_.first || frame_index_ >= part_.end()) show_frame(part_.first);
    if (part_.first != before.first || part_.count != before.count) take_sample();
}

void PictureControl::show_part() {
    const int frames = view_.conversion().frame_count();
    start_edit_->setText(QString::fromStdString(time_text(part_.first / frames_per_second)));
    end_edit_->setText(QString::fromStdString(time_text(part_.end() / frames_per_second)));
    const QString length = QString("%1 frame%2, %3 s")
                               .arg(part_.count)
                               .arg(part_.count == 1 ? "" : "s")
                               .arg(part_.count / frames_per_second, 0, 'f', 1);
    part_label_->setText(part_.count == frames ? length + ": the whole movie" : length);
    part_label_->setToolTip({});
}

// Times typed for the part: seconds or [[h:]m:]s. Anything else, or a part without a frame,
// puts the part shown back, and says why.
void PictureControl::part_typed() {
    const auto start = parse_time(start_edit_->text().toStdString());
    const auto end = parse_time(end_edit_->text().toStdString());
    const FramePart typed =
        start && end ? frames_between(*start, *end, view_.conversion().frame_count()) : FramePart{0, 0};
    if (typed.count > 0) {
        set_part(typed);
        return;
    }
    show_part();
    part_label_->setText(!start || !end ? "Type times as seconds or minutes:seconds, such as 90, 12.5 or 1:30"
                                        : "The part must hold at least one frame");
}

void PictureControl::fill_screen_choices() {
    screen_choice_->clear();
    const ScreenSize chosen = view_.app().screen_size_menu().chosen();
    screen_choice_->addItem("The movie's own size", QSize());
    for (const ScreenSize size : ScreenSizeMenu::presets())
        screen_choice_->addItem("Fit inside " + ScreenSizeMenu::describe(size), QSize(size.width, size.height));
    if (screen_choice_->findData(QSize(chosen.width, chosen.height)) < 0)
        screen_choice_->addItem("Fit inside " + ScreenSizeMenu::describe(chosen), QSize(chosen.width, chosen.height));
    screen_choice_->addItem("Another size...", QString("other"));
    screen_choice_->setCurrentIndex(
        screen_choice_->findData(chosen.none() ? QSize() : QSize(chosen.width, chosen.height)));
}

void PictureControl::screen_chosen(int index) {
    ScreenSizeMenu& menu = view_.app().screen_size_menu();
    const QVariant choice = screen_choice_->itemData(index);
    if (choice.typeId() == QMetaType::QString) {
        menu.ask_other();
        fill_screen_choices();  // the choice made, or the earlier one when the question was cancelled
        return;
    }
    const QSize size = choice.toSize();
    menu.choose(size.isValid() ? ScreenSize{size.width(), size.height()} : ScreenSize{});
}

void PictureControl::zoom_chosen(int index) {
    picture_static_->set_zoom(index);
    preview_area_->setWidgetResizable(index == 0);
    if (index != 0) picture_static_->adjustSize();
}

void PictureControl::take_sample() {
    sample_.reset();
    const int generation = ++sample_generation_;
    auto_button_->setEnabled(false);
    show_estimate();
    const std::string path = view_.conversion().movie_path();
    const ScreenSize screen = view_.conversion().screen();
    const FramePart part = part_;
    // A sample of an earlier part is stopped and waited for (at most a frame's decoding).
    sampler_ = std::jthread([this, path, screen, part, generation](std::stop_token stop) {
        auto [movie, fault] = Movie::open(path);
        if (!movie) return;
        if (!screen.none()) movie = std::make_unique<FittedMovie>(std::move(movie), screen);
        auto sample = std::make_shared<FrameSample>(*movie, part, FrameSample::default_count, stop);
        if (stop.stop_requested()) return;
        QMetaObject::invokeMethod(
            this, [this, sample, generation] { sample_taken(sample, generation); }, Qt::QueuedConnection);
    });
}

void PictureControl::sample_taken(std::shared_ptr<FrameSample> sample, int generation) {
    if (generation != sample_generation_) return;
    sample_ = std::move(sample);
    auto_button_->setEnabled(!sample_->empty());
    show_estimate();
}

void PictureControl::show_estimate() {
    if (!sample_) {
        estimate_->setText("Database: estimating...");
        return;
    }
    estimate_->setText("Database: about " + readable_size(static_cast<qint64>(sample_->estimated_database_size(view_.brightness))));
}

// The size the user gave the dialog is kept for the next movie; one the program chose to suit
// this movie's frames is not.
void PictureControl::keep_size() {
    if (!sized_by_user_) return;
    QSettings kept = program_settings();
    kept.setValue(size_key, size());
}

void PictureControl::accept() {
    // A second Ok (a double click, a queued Enter) must not start a second conversion.
    if (accepted_) return;
    accepted_ = true;
    view_.brightness = slider_middle - brightness_slider_->value();
    view_.conversion().choose_part(part_);
    if (use_for_all_->isVisible() && use_for_all_->isChecked()) view_.app().queue().set_same_brightness(true);
    keep_size();
    // The view starts the conversion on its own thread.
    QDialog::accept();
}

void PictureControl::reject() {
    if (accepted_) return;
    keep_size();
    QDialog::reject();
}

}  // namespace vintrel
