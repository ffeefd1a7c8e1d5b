// The status bar's progress: a bar with the percentage of the conversion and the time left.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QProgressBar;

namespace vintrel {

class ConversionProgress : public QWidget {
    Q_OBJECT
public:
    explicit ConversionProgress(QWidget* parent = nullptr);

    // Frame `frame` (from 0) of `count` is about to be converted: the frames before it are done.
    // Frame `count` of `count`: every frame is, and the database is being written.
    void frame(int frame, int count);
    // The conversion is over: the bar goes.
    void finish();

    // The share done, 0..100; -1 when no conversion runs.
    int percent() const { return percent_; }
    QString time_left() const;

signals:
    void percent_changed(int percent);

private:
    QProgressBar* bar_ = nullptr;
    QLabel* left_ = nullptr;
    QElapsedTimer clock_;
    int percent_ = -1;
};

}  // namespace vintrel
