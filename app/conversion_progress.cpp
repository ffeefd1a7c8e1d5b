// The status bar's progress.
#include "app/conversion_progress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

namespace vintrel {
namespace {

// The estimate waits for a few frames: the first ones also pay for opening the files.
constexpr int frames_before_estimate = 3;

QString duration_text(qint64 seconds) {
    if (seconds < 60) return QString("%1 s").arg(seconds);
    if (seconds < 3600) return QString("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
    return QString("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QChar('0'));
}

}  // namespace

ConversionProgress::ConversionProgress(QWidget* parent) : QWidget(parent) {
    bar_ = new QProgressBar(this);
    bar_->setObjectName("progress");
    bar_->setRange(0, 100);
    bar_->setFormat("%p%");
    bar_->setFixedWidth(180);
    left_ = new QLabel(this);
    left_->setObjectName("time_left");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar_);
    layout->addWidget(left_);
    hide();
}

void ConversionProgress::frame(int frame, int count) {
    if (frame == 0 || !clock_.isValid()) clock_.start();
    const int percent = count > 0 ? static_cast<int>(100LL * frame / count) : 0;
    bar_->setValue(percent);
    if (count > 0 && frame >= count) {
        left_->setText("writing the database");
    } else if (frame >= frames_before_estimate) {
        const qint64 left = clock_.elapsed() * (count - frame) / frame;
        left_->setText("about " + duration_text((left + 999) / 1000) + " left");
    } else {
        left_->setText("estimating the time left...");
    }
    show();
    if (percent != percent_) {
        percent_ = percent;
        emit percent_changed(percent_);
    }
}

void ConversionProgress::finish() {
    hide();
    clock_.invalidate();
    left_->clear();
    if (percent_ != -1) {
        percent_ = -1;
        emit percent_changed(percent_);
    }
}

QString ConversionProgress::time_left() const { return left_->text(); }

}  // namespace vintrel
