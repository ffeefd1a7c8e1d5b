// The view of one opened movie: its conversion, the Cancel button, the close guard, the frames
// drawn side by side while it converts, and the outcome once it is over.
#pragma once

#include <memory>
#include <optional>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "convert/conversion.h"
#include "convert/conversion_host.h"

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;

namespace vintrel {

class FramePane;
class TTesselApp;

class TMovieWindowView : public QWidget, public ConversionHost {
    Q_OBJECT
public:
    // What became of the conversion; `none` until one has run.
    enum class Outcome { none, finished, stopped, failed };

    // Opens the movie; when that fails the movie library's message has been shown (with no
    // owner) and movie_open() is false.
    TMovieWindowView(TTesselApp& app, const QString& path);
    ~TMovieWindowView() override;

    bool movie_open() const { return conversion_->movie() != nullptr; }

    // Opens the .pdb (keeping an existing one as it is), derives the .mpg name, counts the frames
    // and runs the Picture Control dialog, whose Ok converts. Returns false when nothing was
    // converted, because the conversion could not be set up (the reason has been shown) or the
    // dialog was cancelled; the view should then close. Given a brightness (a queue that runs
    // unattended), converts with it at once, without the dialog, and its notices wait for no one.
    bool setup_conversion(std::optional<int> unattended_brightness = std::nullopt);

    // Converts with the view's brightness and shows the outcome; called by the dialog's Ok.
    void run_conversion();

    // The Cancel button's question while the conversion runs; Yes asks it to stop.
    void confirm_stop();

    // The close guard: a converting view refuses and stops its conversion.
    bool can_close();

    // True from the dialog's start to the conversion's end: the view must stay as it is.
    bool busy() const { return busy_; }
    bool converting() const { return conversion_->running(); }

    // The offset added to every grey before dithering; 0 for each new view, set by the dialog.
    int brightness = 0;

    // The movie's file name, as the window's caption shows it.
    const QString& title() const { return title_; }
    // One line on what the view is doing or what came of it, for the status bar.
    const QString& status() const { return status_; }
    Outcome outcome() const { return outcome_; }

    Conversion& conversion() { return *conversion_; }
    QPushButton& cancel_button() { return *cancel_button_; }
    QSize sizeHint() const override;

    // ConversionHost
    bool pump_waiting_messages() override;
    void show_received_frame(const Bitmap& bitmap) override;
    void show_dithered_frame(const Bitmap& bitmap) override;
    void progress(int frame, int count) override;
    void show_message(Notice kind, const std::string& text, const std::string& caption) override;

signals:
    // Frame `frame` (from 0) of `count` is about to be grabbed.
    void frame_progress(int frame, int count);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void set_status(const QString& text);
    void show_outcome(Outcome outcome);
    QString file_line(const std::string& path) const;

    TTesselApp& app_;
    QString title_;
    QString status_;
    std::unique_ptr<Conversion> conversion_;
    QScrollArea* frames_area_ = nullptr;
    FramePane* frames_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
    QFrame* outcome_panel_ = nullptr;
    QLabel* outcome_state_ = nullptr;
    QLabel* outcome_text_ = nullptr;
    QPushButton* play_result_ = nullptr;
    bool busy_ = false;
    bool running_ = false;
    bool unattended_ = false;
    Outcome outcome_ = Outcome::none;
    // What the conversion said in message boxes, kept for the outcome.
    QStringList messages_;
};

}  // namespace vintrel
