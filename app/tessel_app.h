// The application object: the encoder configuration, the main window with its MDI area and
// menus, opening movies and taking them from the queue one at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QStringList>

#include "app/message_boxes.h"
#include "convert/conversion.h"

class QAction;
class QMenu;
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
    // Reads the built-in encoder configuration (its start-up fix-ups are the same on every run and
    // not shown) and creates the main window; the caller shows it.
    TTesselApp();
    ~TTesselApp() override;

    TTesselMainFrame& main_window() { return *main_window_; }
    QMdiArea& mdi_area() { return *mdi_area_; }
    MessageBoxes& message_boxes() { return message_boxes_; }
    // The configuration every conversion codes with; each conversion makes its own encoder from it.
    // Null when the built-in lines failed their checks; configuration_error() says why.
    const std::shared_ptr<const Parameters>& configuration() const { return configuration_; }
    const std::string& configuration_error() const { return configuration_error_; }
    QAction& open_action() { return *open_action_; }
    QAction& close_action() { return *close_action_; }
    QAction& exit_action() { return *exit_action_; }
    QAction& about_action() { return *about_action_; }
    ScreenSizeMenu& screen_size_menu() { return *screen_size_menu_; }
    RecentFilesMenu& recent_files() { return *recent_files_; }
    QueuePanel& queue() { return *queue_; }
    ConversionProgress& progress() { return *progress_; }

    // The filters File, Open... offers, in order; the third, every movie type, is chosen until
    // the user picks another.
    static QStringList movie_file_filters();

    // Opens a movie as File, Open... does: a view in its own MDI child, which at once shows the
    // Picture Control dialog, whose Ok starts the conversion on its own thread. The window closes
    // again when nothing was converted. While another movie is at work the movie waits in the
    // queue instead. Returns at once; queue_done() says when every movie has been dealt with.
    void open_movie(const QString& path);

    // Queues the movies and, unless one is at work already, starts on the first.
    void open_movies(const QStringList& paths);

    // The folder the outputs go to (remembered across runs); empty: beside each movie.
    QString output_folder() const;
    void set_output_folder(const QString& folder);
    // The folder chosen, during this run, for the movies whose own folder cannot be written.
    const QString& fallback_folder() const { return fallback_folder_; }
    void set_fallback_folder(const QString& folder) { fallback_folder_ = folder; }
    // Asks for a folder in a dialog that has its own window, not its own event loop: `chosen` or
    // `cancelled` is called once it has gone.
    void choose_folder(QWidget* owner, const QString& title, std::function<void(const QString&)> chosen,
                       std::function<void()> cancelled = nullptr);

    // Whether a movie is at work (its dialog, its conversion or its outcome boxes) or waiting.
    bool working() const;
    // Whether the movie at work is one of several opened together or one after another: its
    // notices then wait for no click, and the batch ends with one summary.
    bool in_batch() const;

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

    // A view started or ended its work, or has news: the status bar shows the line of the active
    // movie window, else of the busy one.
    void view_changed();

    // The status bar's line.
    QString status_text() const;

    // Gives the view's MDI child the size of its content, as far as the MDI area has room,
    // and moves it inside the area.
    void fit_window(QWidget& view);

signals:
    // The last movie at work is done and none is waiting.
    void queue_done();

protected:
    // The MDI area's resizing (the queue coming or going beside it) keeps every window inside it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Starts on the next movie of the queue unless one is at work.
    void take_next();
    // Opens one movie and sets it to work (unattended: with the last brightness, without the
    // Picture Control).
    void start_movie(const QString& path, bool unattended);
    // The movie at work is done with.
    void movie_done(TMovieWindowView* view);
    // The end of a batch: one box with what became of every movie.
    void summarise_batch();
    void close_earlier_windows(const TMovieWindowView& view);
    void fill_window_menu(QMenu& menu);
    void fill_output_menu(QMenu& menu);
    void tile_windows();
    void command_open();
    void command_about();
    TMovieWindowView* busy_view() const;

    std::shared_ptr<const Parameters> configuration_;
    std::string configuration_error_;
    MessageBoxes message_boxes_;
    std::unique_ptr<TTesselMainFrame> main_window_;
    QMdiArea* mdi_area_ = nullptr;
    QAction* open_action_ = nullptr;
    QAction* close_action_ = nullptr;
    QAction* exit_action_ = nullptr;
    QAction* about_action_ = nullptr;
    ScreenSizeMenu* screen_size_menu_ = nullptr;
    RecentFilesMenu* recent_files_ = nullptr;
    QueuePanel* queue_ = nullptr;
    ConversionProgress* progress_ = nullptr;
    // The movie at work, if any; the brightness the last one was converted with.
    static constexpr int not_converted = 1000;
    TMovieWindowView* at_work_ = nullptr;
    bool starting_ = false;
    bool exit_when_stopped_ = false;  // Exit was agreed to while a conversion ran
    int last_brightness_ = not_converted;
    // A permanent status-bar line: menus' passing tips do not erase it.
    QLabel* status_label_ = nullptr;
    QString idle_status_;
    QString fallback_folder_;
};

}  // namespace vintrel
