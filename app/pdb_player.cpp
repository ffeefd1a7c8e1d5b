// The handheld player.
#include "app/pdb_player.h"

#include <span>

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/handheld_image.h"
#include "app/readable_size.h"
#include "convert/movie_part.h"
#include "convert/sample_rate.h"

namespace vintrel {
namespace {

// How long the handheld shows each frame.
constexpr int frame_milliseconds = static_cast<int>(1000 / frames_per_second);
// Room around the screen, in the colour of the handheld's case.
constexpr int screen_margin = 12;
const QColor case_colour(58, 60, 64);

// Time of a frame (or of the end of the last), as the Picture Control shows it: "01:02.4".
QString frame_time(int frame) { return QString::fromStdString(time_text(frame / frames_per_second)); }

}  // namespace

// The handheld's screen: the frame with each of its pixels `zoom` screen pixels square, never
// smoothed, on the handheld's case.
class HandheldScreen : public QWidget {
public:
    using QWidget::QWidget;
    void set(const QImage& frame, int zoom) {
        frame_ = frame;
        zoom_ = zoom;
        const QSize size = frame_.size() * zoom_ + QSize(2 * screen_margin, 2 * screen_margin);
        if (size != this->size()) setFixedSize(size);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), case_colour);
        if (frame_.isNull()) return;
        painter.drawImage(QRect(QPoint(screen_margin, screen_margin), frame_.size() * zoom_), frame_);
    }

private:
    QImage frame_;
    int zoom_ = 1;
};

PdbPlayer::PdbPlayer(const QString& path, QWidget* parent) : QWidget(parent), title_(QFileInfo(path).fileName()) {
    setWindowTitle(title_);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem_ = file.errorString();
    } else {
        bytes_ = file.readAll();
        if (file.error() != QFileDevice::NoError) problem_ = file.errorString();
    }
    if (problem_.isEmpty()) {
        const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes_.constData()),
                                                 static_cast<std::size_t>(bytes_.size()));
        pdb::ReadResult result = pdb::read_database(data);
        listed_ = result.database.header.record_count;
        // A database whose writing was stopped, or a copy cut short, keeps the records before the cut.
        if (!result.ok() && !(result.fault.kind == pdb::PdbFailure::incomplete && !result.database.records.empty()))
            problem_ = QString::fromStdString(result.fault.detail);
        else if (result.database.records.empty())
            problem_ = "the database holds no frames";
        frames_ = std::move(result.database.records);
    }

    screen_area_ = new QScrollArea(this);
    screen_area_->setObjectName("screen_area");
    screen_area_->setFrameShape(QFrame::NoFrame);
    screen_area_->setAlignment(Qt::AlignCenter);
    QPalette dark = screen_area_->palette();
    dark.setColor(QPalette::Window, case_colour);
    screen_area_->setPalette(dark);
    screen_area_->setBackgroundRole(QPalette::Window);
    screen_ = new HandheldScreen;
    screen_->setObjectName("screen");
    screen_area_->setWidget(screen_);

    auto* back = new QPushButton(style()->standardIcon(QStyle::SP_MediaSkipBackward), QString(), this);
    back->setObjectName("step_back");
    back->setToolTip("One frame back (Left)");
    play_button_ = new QPushButton(this);
    play_button_->setObjectName("play");
    auto* forward = new QPushButton(style()->standardIcon(QStyle::SP_MediaSkipForward), QString(), this);
    forward->setObjectName("step_forward");
    forward->setToolTip("One frame on (Right)");
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName("position");
    slider_->setRange(0, std::max(0, frame_count() - 1));
    slider_->setPageStep(static_cast<int>(frames_per_second));  // a second
    slider_->setToolTip("The frame shown: drag to go to another one (Left, Right: a frame back or on)");
    time_ = new QLabel(this);
    time_->setObjectName("time");
    time_->setMinimumWidth(time_->fontMetrics().horizontalAdvance("00:00.0 / 00:00.0  "));
    auto* controls = new QHBoxLayout;
    controls->addWidget(back);
    controls->addWidget(play_button_);
    controls->addWidget(forward);
    controls->addWidget(slider_, 1);
    controls->addWidget(time_);
    for (int z = 1; z <= 3; z++) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString("zoom%1").arg(z));
        button->setText(QString("&%1\u00d7").arg(z));
        button->setToolTip(QString("Each handheld pixel %1 screen pixel%2 square (key %1)").arg(z).arg(z == 1 ? "" : "s"));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        connect(button, &QToolButton::clicked, this, [this, z] { set_zoom(z); });
        controls->addWidget(button);
        zoom_buttons_[z - 1] = button;
    }

    info_ = new QLabel(this);
    info_->setObjectName("info");
    if (!frames_.empty()) {
        const pdb::StoredRecord& first = frames_.front();
        info_->setText(QString("%1 record%2 of %3\u00d7%4 pixels, %5 seconds at %6 frames a second, %7")
                           .arg(frame_count())
                           .arg(frame_count() == 1 ? "" : "s")
                           .arg(first.width)
                           .arg(first.height)
                           .arg(frame_count() / frames_per_second, 0, 'f', 1)
                           .arg(frames_per_second)
                           .arg(readable_size(bytes_.size())));
    }
    notice_ = new QLabel(notice(), this);
    notice_->setObjectName("notice");
    notice_->setWordWrap(true);
    notice_->setVisible(!notice().isEmpty());
    notice_->setStyleSheet("color: #9a3b00");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(screen_area_, 1);
    layout->addLayout(controls);
    layout->addWidget(info_);
    layout->addWidget(notice_);

    timer_ = new QTimer(this);
    timer_->setInterval(frame_milliseconds);
    connect(timer_, &QTimer::timeout, this, &PdbPlayer::tick);
    connect(back, &QPushButton::clicked, this, [this] { step(-1); });
    connect(forward, &QPushButton::clicked, this, [this] { step(1); });
    connect(play_button_, &QPushButton::clicked, this, [this] { playing() ? pause() : play(); });
    connect(slider_, &QSlider::valueChanged, this, &PdbPlayer::show_frame);
    const auto key = [this](QKeySequence sequence, auto action) {
        auto* shortcut = new QShortcut(sequence, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    key(Qt::Key_Space, [this] { playing() ? pause() : play(); });
    key(Qt::Key_Left, [this] { step(-1); });
    key(Qt::Key_Right, [this] { step(1); });
    for (int z = 1; z <= 3; z++) key(Qt::Key_0 + z, [this, z] { set_zoom(z); });

    // Frames larger than a handheld's screen start at 1x, the handheld's own at 2x.
    const bool small = !frames_.empty() && frames_.front().width <= 320 && frames_.front().height <= 320;
    zoom_ = small ? 2 : 1;
    zoom_buttons_[zoom_ - 1]->setChecked(true);
    if (playable()) show_frame(0);
    update_controls();
}

PdbPlayer::~PdbPlayer() = default;

QString PdbPlayer::notice() const {
    if (frames_.empty() || listed_ == frames_.size()) return {};
    const auto missing = listed_ - frames_.size();
    return QString("This database is incomplete: its header lists %1 records, but it holds only %2; %3 %4 missing. %5")
        .arg(listed_)
        .arg(frame_count())
        .arg(missing)
        .arg(missing == 1 ? "is" : "are")
        .arg(frame_count() == 1 ? QString("This one plays.") : QString("These %1 play.").arg(frame_count()));
}

bool PdbPlayer::playing() const { return timer_->isActive(); }

void PdbPlayer::show_frame(int index) {
    if (frames_.empty()) return;
    index = std::clamp(index, 0, frame_count() - 1);
    if (index == position_) return;
    QString fault;
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(bytes_.constData()),
                                             static_cast<std::size_t>(bytes_.size()));
    QImage image = handheld_image(data, frames_[static_cast<std::size_t>(index)], rows_, fault);
    if (image.isNull()) {
        // Every record was checked on reading; only memory can run out here.
        pause();
        notice_->setText(fault);
        notice_->show();
        return;
    }
    image_ = std::move(image);
    position_ = index;
    screen_->set(image_, zoom_);
    update_controls();
}

void PdbPlayer::set_zoom(int zoom) {
    zoom_ = std::clamp(zoom, 1, 3);
    zoom_buttons_[zoom_ - 1]->setChecked(true);
    screen_->set(image_, zoom_);
    updateGeometry();
    emit size_changed();
}

void PdbPlayer::play() {
    if (!playable()) return;
    // At the last frame, play starts again from the first.
    if (position_ >= frame_count() - 1) show_frame(0);
    timer_->start();
    update_controls();
}

void PdbPlayer::pause() {
    timer_->stop();
    update_controls();
}

void PdbPlayer::step(int frames) {
    pause();
    show_frame(position_ + frames);
}

void PdbPlayer::tick() {
    if (position_ + 1 >= frame_count()) {
        pause();
        return;
    }
    show_frame(position_ + 1);
}

void PdbPlayer::update_controls() {
    play_button_->setIcon(style()->standardIcon(playing() ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    play_button_->setToolTip(playing() ? QString("Pause (Space)")
                                       : QString("Play at %1 frames a second (Space)").arg(frames_per_second));
    play_button_->setEnabled(playable());
    const QSignalBlocker quiet(slider_);
    slider_->setValue(std::max(0, position_));
    time_->setText(QString("%1 / %2").arg(frame_time(std::max(0, position_)), frame_time(frame_count())));
    time_->setToolTip(QString("frame %1 of %2").arg(position_ + 1).arg(frame_count()));
}

// The whole screen at the chosen zoom above the controls; the MDI area gives the window this size
// as far as it has room.
QSize PdbPlayer::sizeHint() const {
    const QSize all = layout()->sizeHint();
    const QMargins margins = layout()->contentsMargins();
    const int rest = all.height() - screen_area_->sizeHint().height();
    return {std::max(all.width(), screen_->width() + margins.left() + margins.right()), rest + screen_->height()};
}

}  // namespace vintrel
