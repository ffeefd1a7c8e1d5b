// The view of one opened movie: its conversion, run on a thread of its own, the Cancel button,
// the close guard, the frames drawn side by side while it converts, and the outcome once it is over.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

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
    // A conversion still running is stopped, and its thread waited for.
    ~TMovieWindowView() override;

    bool movie_open() const { return conversion_->movie() != nullptr; }

    // Opens the .pdb (keeping an existing one as it is), derives the .mpg name, counts the frames
    // and shows the Picture Control dialog, whose Ok starts the conversion. Given a brightness (a
    // queue that runs unattended), starts the conversion at once, without the dialog. Emits done() when the movie is dealt with: its conversion's outcome
    // is shown, or nothing was converted (the set-up failed and said why, or the dialog was
    // cancelled) and the view should close.
    void begin(std::optional<int> unattended_brightness = std::nullopt);

    // Opens the movie again fitted inside another screen (its dialog's Screen Size), and sets it
    // up again. On failure the reason has been told and the movie cannot be converted.
    bool refit(ScreenSize screen);

    // Starts converting with the view's brightness on the conversion's thread; the dialog's Ok.
    void start_conversion();

    // The Cancel button's question while the conversion runs; Yes asks it to stop. Returns
    // whether the conversion is stopping.
    bool confirm_stop();
    // Asks the running conversion to stop (at its next picture).
    void stop() { stop_.request_stop(); }

    // The close guard: a converting view asks whether to stop its conversion and refuses; once
    // stopped it closes itself.
    bool can_close();
    // Asked to close: it closes itself once its conversion has stopped.
    bool closing() const { return close_when_done_; }

    // True from begin() to done(): the view must stay as it is.
    bool busy() const { return busy_; }
    bool converting() const { return converting_; }

    // The offset added to every grey before dithering; 0 for each new view, set by the dialog.
    int brightness = 0;

    // The movie's file name, as the window's caption shows it.
    const QString& title() const { return title_; }
    // One line on what the view is doing or what came of it, for the status bar.
    const QString& status() const { return status_; }
    Outcome outcome() const { return outcome_; }
    // What became of the movie in a few words, for the queue's list: "converted", "stopped",
    // "failed: Couldn't write ...", "not converted".
    QString outcome_summary() const;

    // The conversion: the preview and the names may be read from the window thread; while it
    // converts, the conversion belongs to its own thread.
    const Conversion& conversion() const { return *conversion_; }
    Conversion& conversion() { return *conversion_; }
    TTesselApp& app() { return app_; }
    QPushButton& cancel_button() { return *cancel_button_; }
    QSize sizeHint() const override;

    // ConversionHost: called on the conversion's thread.
    void show_received_frame(const Bitmap& bitmap) override;
    void show_dithered_frame(const Bitmap& bitmap) override;
    void progress(int frame, int count) override;
    void writing_database() override;

signals:
    // Frame `frame` (from 0) of `count` is about to be grabbed. Emitted on the conversion's
    // thread: a connection to the window thread is queued.
    void frame_progress(int frame, int count);
    // The conversion starts: from now on its files are no longer what an earlier window of the
    // same movie says.
    void started();
    // The conversion is over; its outcome and boxes follow.
    void converted();
    // The movie is dealt with (see begin()).
    void done();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void set_status(const QString& text);
    // Sets the conversion up, then shows the Picture Control or starts converting.
    void set_up();
    // Offers to choose another folder when the outputs' folder cannot be written; false when the
    // fault is another, or the user declines.
    bool offer_another_folder();
    void conversion_ended(const ConversionOutcome& outcome);
    void show_outcome(Outcome outcome, const ConversionOutcome& result);
    void tell(const Message& message);
    void end();
    void draw_frames();
    QString file_line(const std::string& path) const;

    TTesselApp& app_;
    QString title_;
    QString status_;
    std::unique_ptr<Conversion> conversion_;
    QScrollArea* frames_area_ = nullptr;
    FramePane* frames_ = nullptr;
    QWidget* cancel_bar_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
    QFrame* outcome_panel_ = nullptr;
    QLabel* outcome_state_ = nullptr;
    QLabel* outcome_text_ = nullptr;
    QPushButton* play_result_ = nullptr;
    bool busy_ = false;
    bool converting_ = false;
    // Why the movie was not converted: the text of the last error told.
    QString problem_;
    std::optional<int> unattended_brightness_;
    bool close_when_done_ = false;
    Outcome outcome_ = Outcome::none;

    // The conversion's thread and its stop; the thread is joined once its outcome has arrived.
    std::thread worker_;
    std::stop_source stop_;
    // The last frames the conversion's thread made, waiting to be drawn: it keeps only the
    // newest pair, and asks for a redraw only when none is pending.
    std::mutex frames_mutex_;
    QImage received_, dithered_;
    bool redraw_pending_ = false;
};

}  // namespace vintrel
