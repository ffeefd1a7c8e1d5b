// The application object: encoder parameters, the main window with its MDI area and menus,
// opening movies, and the message pump that long work calls.
#pragma once

#include <chrono>
#include <memory>

#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QStringList>

#include "app/message_boxes.h"
#include "encoder/setup/encoder_state.h"

class QAction;
class QLabel;
class QMdiArea;

namespace vintrel {

class PdbPlayer;
class TMovieWindowView;
class TTesselApp;

// The main window. Closing it asks every movie view first.
class TTesselMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit TTesselMainFrame(TTesselApp& app) : app_(app) {}

protected:
    void closeEvent(QCloseEvent* event) override;

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

    // The filters File, Open... offers, in order; the third, every movie type, is chosen until
    // the user picks another.
    static QStringList movie_file_filters();

    // Processes the events that are waiting and reports whether there were any. Long work calls
    // it until it answers false and then tests its cancel flag.
    bool pump_waiting_messages();

    // Opens a movie as File, Open... does: a view in its own MDI child, which at once shows the
    // Picture Control dialog; returns when the dialog (and any conversion it started) is done.
    // The window closes again when nothing was converted. Refused while another view is busy,
    // with a notice that does not hold that view's conversion up.
    void open_movie(const QString& path);

    // Opens the movies one after the other (the command line's).
    void open_movies(const QStringList& paths);

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
