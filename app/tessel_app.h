// The application object: encoder parameters, the main window with its MDI area and menus,
// opening movies, and the message pump that long work calls.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QStringList>

#include "app/message_boxes.h"
#include "encoder/setup/encoder_state.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QLabel;
class QMdiArea;

namespace vintrel {

class ConversionProgress;
class PdbPlayer;
class QueuePanel;
class RecentFilesMenu;
class ScreenSizeMenu;
class TMovieWindowView;
class TTesselApp;

// The main window. Closing it asks every movie view first, and keeps its size and place for the
// next run. Movies and handheld databases dropped on it open as with File, Open....
class TTesselMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit TTesselMainFrame(TTesselApp& app);

    // The local files among dropped URLs.
    static QStringList dropped_files(const QMimeData* data);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    TTesselApp& app_;
};

class TTesselApp : public QObject {
    Q_OBJECT
public:
    // Reads the encoder parameters (a faulty set ends the program) and creates the main window;
    // the caller shows it.
    TTesselApp();
    ~TTesselApp() override;

    TTesselMainFrame& main_window() { return *main_window_; }
    QMdiArea& mdi_area() { return *mdi_area_; }
    MessageBoxes& message_boxes() { return message_boxes_; }
    EncoderState& encoder() { return encoder_; }
    QAction& open_action() { return *open_action_; }
    QAction& exit_action() { return *exit_action_; }
    QAction& about_action() { return *about_action_; }
    ScreenSizeMenu& screen_size_menu() { return *screen_size_menu_; }
    RecentFilesMenu& recent_files() { return *recent_files_; }
    QueuePanel& queue() { return *queue_; }
    ConversionProgress& progress() { return *progress_; }

    // The filters File, Open... offers, in order; the third, every movie type, is chosen until
    // the user picks another.
    static QStringList movie_file_filters();

    // Processes the events that are waiting and reports whether there were any. Long work calls
    // it until it answers false and then tests its cancel flag.
    bool pump_waiting_messages();

    // Opens a movie as File, Open... does: a view in its own MDI child, which at once shows the
    // Picture Control dialog; returns when the dialog (and any conversion it started) is done,
    // and the movies queued meanwhile with them. The window closes again when nothing was
    // converted. While another movie is at work the movie waits in the queue instead.
    void open_movie(const QString& path);

    // Queues the movies and, unless the queue is already being worked through, converts them
    // one after the other.
    void open_movies(const QStringList& paths);

    // Stop Queue: the waiting movies are gone, the conversion running stops.
    void stop_queue();

    // Opens a handheld database in the player, in its own window. A database that cannot be
    // played is reported with the reader's message, and no window is left; returns null then.
    PdbPlayer* open_player(const QString& path);

    // Opens each file as what it is: a .pdb in the player, anything else as a movie.
    void open_files(const QStringList& paths);
    static bool is_database(const QString& path);

    // Asks every movie view whether it may close; a converting view refuses and stops.
    bool can_close();

    QList<TMovieWindowView*> views() const;
    QList<PdbPlayer*> players() const;

    // A view started or ended its work, or has news: the status bar shows the line of the busy
    // view, else of the active one, and File, Open... is available only while no view is busy.
    void view_changed();

    // The status bar's line.
    QString status_text() const;

    // Gives the view's MDI child the size of its content, as far as the MDI area has room,
    // and moves it inside the area.
    void fit_window(QWidget& view);

private:
    // Opens and converts one movie (unattended: with the last brightness, without the Picture
    // Control); returns the brightness it was converted with, or not_converted.
    int convert_movie(const QString& path, bool unattended);
    void command_open();
    void command_about();
    TMovieWindowView* busy_view() const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    EncoderState encoder_;
    MessageBoxes message_boxes_;
    std::unique_ptr<TTesselMainFrame> main_window_;
    QMdiArea* mdi_area_ = nullptr;
    QAction* open_action_ = nullptr;
    QAction* exit_action_ = nullptr;
    QAction* about_action_ = nullptr;
    ScreenSizeMenu* screen_size_menu_ = nullptr;
    RecentFilesMenu* recent_files_ = nullptr;
    QueuePanel* queue_ = nullptr;
    ConversionProgress* progress_ = nullptr;
    // Movies are being taken from the queue; the brightness the last one was converted with.
    static constexpr int not_converted = 1000;
    bool taking_from_queue_ = false;
    int last_brightness_ = not_converted;
    // A permanent status-bar line: menus' passing tips do not erase it.
    QLabel* status_label_ = nullptr;
    QString idle_status_;

    // Events delivered during the current pump, and since when the pump has found events
    // waiting on every call.
    int events_seen_ = 0;
    bool pumping_ = false;
    bool busy_streak_ = false;
    std::chrono::steady_clock::time_point streak_start_;
};

}  // namespace vintrel
