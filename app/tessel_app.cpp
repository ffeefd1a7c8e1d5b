// The application object and main window.
#include "app/tessel_app.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "app/about_dialog.h"
#include "app/conversion_progress.h"
#include "app/icons.h"
#include "app/movie_window_view.h"
#include "app/pdb_player.h"
#include "app/program_settings.h"
#include "app/queue_panel.h"
#include "app/recent_files_menu.h"
#include "app/screen_size_menu.h"
#include "app/window_room.h"

namespace vintrel {
namespace {

const QString program_caption = "Vintrel";
const QString idle_status = "Open a movie with File, Open...";

// Where File, Open... last was, kept across runs.
const QString folder_key = "open/folder", filter_key = "open/filter";
// The main window's size and place.
const QString geometry_key = "window/geometry";
// The folder the outputs go to; none: beside each movie.
const QString output_folder_key = "output/folder";

// The frame of one opened movie or database: an MDI child whose client is its view.
class TTesselMDIChild : public QMdiSubWindow {
public:
    explicit TTesselMDIChild(QWidget* view) {
        setWidget(view);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowIcon(movie_icon());
        setWindowTitle(view->windowTitle());
        // Ctrl+W is File, Close, which closes the current window: the window's own menu keeps
        // its other keys, lest the two share one.
        if (QMenu* menu = systemMenu())
            for (QAction* action : menu->actions())
                if (QList<QKeySequence> keys = action->shortcuts(); keys.removeAll(QKeySequence(Qt::CTRL | Qt::Key_W)))
                    action->setShortcuts(keys);
    }
};

}  // namespace

TTesselMainFrame::TTesselMainFrame(TTesselApp& app) : app_(app) {
    setAcceptDrops(true);
    resize(960, 640);
    restoreGeometry(program_settings().value(geometry_key).toByteArray());
    // Never larger than the screen's available area (a laptop at 200 % has 960x540 of it), frame
    // and title bar included, nor outside it.
    resize(size().boundedTo(largest_window_size(*this, *this)));
    if (const QScreen* screen = this->screen()) {
        const QRect room = screen->availableGeometry();
        if (!room.contains(QRect(pos(), size() + window_frame_size(*this)))) move(room.topLeft());
    }
}

void TTesselMainFrame::closeEvent(QCloseEvent* event) {
    if (!app_.can_close()) {
        event->ignore();
        return;
    }
    program_settings().setValue(geometry_key, saveGeometry());
    event->accept();
}

QStringList TTesselMainFrame::dropped_files(const QMimeData* data) {
    QStringList files;
    if (!data) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
    return files;
}

void TTesselMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!dropped_files(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TTesselMainFrame::dropEvent(QDropEvent* event) {
    const QStringList files = dropped_files(event->mimeData());
    if (files.isEmpty()) return;
    event->acceptProposedAction();
    // The drop ends first: a movie's dialog and conversion must not run inside the drag.
    QMetaObject::invokeMethod(&app_, [this, files] { app_.open_files(files); }, Qt::QueuedConnection);
}

TTesselApp::TTesselApp() {
    // The built-in lines are the program's own; should they ever fail their checks, every movie
    // says so in its MPEG Error box instead of converting.
    auto builtin = builtin_configuration();
    configuration_ = std::move(builtin.value);
    configuration_error_ = std::move(builtin.fault.detail);


    main_window_ = std::make_unique<TTesselMainFrame>(*this);
    main_window_->setWindowTitle(program_caption);
    main_window_->setWindowIcon(application_icon());
    mdi_area_ = new QMdiArea(main_window_.get());
    // Every window is fitted inside the area (a large movie's window scrolls its own frames), so
    // the area needs no scroll bars of its own around theirs.
    mdi_area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mdi_area_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    main_window_->setCentralWidget(mdi_area_);

    QMenu* file = main_window_->menuBar()->addMenu("&File");
    // Open stays at hand while a conversion runs: its dialog has no event loop of its own.
    open_action_ = file->addAction("&Open...", this, &TTesselApp::command_open);
    open_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    recent_files_ = new RecentFilesMenu(main_window_.get());
    file->addMenu(recent_files_);
    QMenu* outputs = file->addMenu("Output &Folder");
    outputs->setObjectName("output_menu");
    connect(outputs, &QMenu::aboutToShow, this, [this, outputs] { fill_output_menu(*outputs); });
    fill_output_menu(*outputs);
    connect(recent_files_, &RecentFilesMenu::open_requested, this,
            [this](const QString& path) { open_files({path}); });
    file->addSeparator();
    // The active window closes as its close button would: a converting one asks first.
    close_action_ = file->addAction("&Close", this, [this] {
        if (QMdiSubWindow* child = mdi_area_->currentSubWindow()) child->close();
    });
    close_action_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    file->addSeparator();
    // The text names Alt+F4 alone (kept verbatim); Ctrl+Q works too.
    exit_action_ = file->addAction("E&xit\tAlt+F4", main_window_.get(), &QWidget::close);
    exit_action_->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_Q)});
    screen_size_menu_ = new ScreenSizeMenu(main_window_.get(), message_boxes_);
    main_window_->menuBar()->addMenu(screen_size_menu_);
    QMenu* window = main_window_->menuBar()->addMenu("&Window");
    window->setObjectName("window_menu");
    connect(window, &QMenu::aboutToShow, this, [this, window] { fill_window_menu(*window); });
    fill_window_menu(*window);
    QMenu* about = main_window_->menuBar()->addMenu("&About");
    about_action_ = about->addAction("&About...", this, &TTesselApp::command_about);
    about_action_->setShortcut(QKeySequence(Qt::Key_F1));

    status_label_ = new QLabel(idle_status);
    status_label_->setObjectName("status");
    main_window_->statusBar()->addWidget(status_label_, 1);
    idle_status_ = idle_status;
    progress_ = new ConversionProgress(main_window_.get());
    main_window_->statusBar()->addPermanentWidget(progress_);
    connect(progress_, &ConversionProgress::percent_changed, this, [this](int percent) {
        main_window_->setWindowTitle(percent < 0 ? program_caption : QString("%1% - %2").arg(percent).arg(program_caption));
    });
    queue_ = new QueuePanel(main_window_.get());
    main_window_->addDockWidget(Qt::RightDockWidgetArea, queue_);
    connect(queue_, &QueuePanel::stop_requested, this, &TTesselApp::stop_queue);
    connect(mdi_area_, &QMdiArea::subWindowActivated, this, &TTesselApp::view_changed);
    mdi_area_->installEventFilter(this);
}

bool TTesselApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mdi_area_ && event->type() == QEvent::Resize) {
        // Once the area has its new size: a window that no longer fits is fitted again.
        QTimer::singleShot(0, this, [this] {
            const QRect area = mdi_area_->viewport()->rect();
            for (QMdiSubWindow* child : mdi_area_->subWindowList())
                if (!area.contains(child->geometry()) && child->widget()) fit_window(*child->widget());
        });
    }
    return QObject::eventFilter(watched, event);
}

TTesselApp::~TTesselApp() {
    mdi_area_->disconnect(this);
    // The views go with the main window; a view still converting stops and waits for its thread.
    main_window_.reset();
}

QStringList TTesselApp::movie_file_filters() {
    return {"QuickTime Movie Files (*.mov)", "AVI Movie Files (*.avi)",
            "Movie Files (*.mov *.qt *.avi *.mp4 *.m4v *.mkv *.webm *.mpg *.mpeg *.vob *.ts *.m2ts *.mts *.dv *.flv "
            "*.wmv *.asf *.3gp *.ogv *.gif)",
            "Handheld Databases (*.pdb)", "All Files (*)"};
}

QList<PdbPlayer*> TTesselApp::players() const {
    QList<PdbPlayer*> list;
    for (QMdiSubWindow* child : mdi_area_->subWindowList())
        if (auto* player = qobject_cast<PdbPlayer*>(child->widget())) list.append(player);
    return list;
}

QList<TMovieWindowView*> TTesselApp::views() const {
    QList<TMovieWindowView*> list;
    if (!mdi_area_) return list;
    for (QMdiSubWindow* child : mdi_area_->subWindowList())
        if (auto* view = qobject_cast<TMovieWindowView*>(child->widget())) list.append(view);
    return list;
}

bool TTesselApp::can_close() {
    bool all = true;
    for (TMovieWindowView* view : views())
        if (!view->can_close()) all = false;
    // Leaving the program, agreed to: the movies waiting are not started, and the program ends
    // once the conversion has stopped.
    for (TMovieWindowView* view : views())
        if (view->closing()) {
            queue_->clear();
            exit_when_stopped_ = true;
        }
    return all;
}

TMovieWindowView* TTesselApp::busy_view() const {
    for (TMovieWindowView* view : views())
        if (view->busy()) return view;
    return nullptr;
}

void TTesselApp::view_changed() {
    QMdiSubWindow* active = mdi_area_->activeSubWindow();
    TMovieWindowView* shown = active ? qobject_cast<TMovieWindowView*>(active->widget()) : nullptr;
    if (!shown) shown = busy_view();
    status_label_->setText(shown ? shown->status() : idle_status_);
}

QString TTesselApp::status_text() const { return status_label_->text(); }

void TTesselApp::fit_window(QWidget& view) {
    auto* child = qobject_cast<QMdiSubWindow*>(view.parentWidget());
    if (!child || child->isMaximized() || child->isMinimized()) return;
    const QRect area = mdi_area_->viewport()->rect();
    QRect place(child->pos(), child->sizeHint().boundedTo(area.size()).expandedTo(child->minimumSizeHint()));
    if (place.right() > area.right()) place.moveRight(area.right());
    if (place.bottom() > area.bottom()) place.moveBottom(area.bottom());
    place.moveTo(std::max(place.left(), 0), std::max(place.top(), 0));
    child->setGeometry(place);
}

void TTesselApp::command_open() {
    QSettings kept = program_settings();
    auto* dialog = new QFileDialog(main_window_.get(), "Open");
    dialog->setObjectName("open_dialog");
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters(movie_file_filters());
    const QString folder = kept.value(folder_key).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog->setDirectory(folder);
    dialog->selectNameFilter(kept.value(filter_key, movie_file_filters().value(2)).toString());
    const auto chosen = [this](const QStringList& paths, const QString& filter) {
        if (paths.isEmpty()) return;
        QSettings kept = program_settings();
        kept.setValue(folder_key, QFileInfo(paths.first()).absolutePath());
        kept.setValue(filter_key, filter);
        kept.sync();
        open_files(paths);
    };
    // The dialog has its own window, not its own event loop: conversions go on behind it. What it
    // chose is opened once it has gone.
    connect(dialog, &QFileDialog::filesSelected, this, [this, dialog, chosen](const QStringList& paths) {
        QMetaObject::invokeMethod(
            this, [chosen, paths, filter = dialog->selectedNameFilter()] { chosen(paths, filter); },
            Qt::QueuedConnection);
    });
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    dialog->open();
}

bool TTesselApp::is_database(const QString& path) { return path.endsWith(".pdb", Qt::CaseInsensitive); }

void TTesselApp::open_files(const QStringList& paths) {
    QStringList movies;
    for (const QString& path : paths) {
        if (is_database(path))
            open_player(path);
        else
            movies << path;
    }
    open_movies(movies);
}

PdbPlayer* TTesselApp::open_player(const QString& path) {
    recent_files_->add(path);
    auto* player = new PdbPlayer(path);
    if (!player->playable()) {
        message_boxes_.inform(main_window_.get(), player->title() + " cannot be played: " + player->problem(),
                              program_caption, QFileInfo(path).absoluteFilePath());
        delete player;
        return nullptr;
    }
    auto* child = new TTesselMDIChild(player);
    mdi_area_->addSubWindow(child);
    child->show();
    fit_window(*player);
    connect(player, &PdbPlayer::size_changed, this, [this, player] { fit_window(*player); });
    player->setFocus();
    player->play();
    return player;
}

void TTesselApp::open_movie(const QString& path) { open_movies({path}); }

// One movie at work at a time: its dialog, its conversion and its outcome boxes. The others wait
// in the queue, and the next is taken when the one at work is done.
void TTesselApp::open_movies(const QStringList& paths) {
    if (paths.isEmpty()) return;
    // Movies opened when nothing is at work or waiting start a batch of their own.
    if (!at_work_ && !starting_ && queue_->empty()) queue_->start_batch();
    queue_->add(paths);
    take_next();
}

bool TTesselApp::working() const { return at_work_ || starting_ || !queue_->empty(); }

bool TTesselApp::in_batch() const { return queue_->batch_size() > 1; }

void TTesselApp::take_next() {
    if (at_work_ || starting_) return;
    if (queue_->empty()) {
        view_changed();
        if (in_batch()) summarise_batch();
        emit queue_done();
        return;
    }
    const QString next = queue_->take_first();
    const bool unattended = queue_->same_brightness() && last_brightness_ != not_converted;
    start_movie(next, unattended);
}

void TTesselApp::start_movie(const QString& path, bool unattended) {
    idle_status_ = idle_status;
    recent_files_->add(path);
    // Opening the movie may show a box, whose event loop must not start another movie.
    starting_ = true;
    auto* view = new TMovieWindowView(*this, path);
    if (!view->movie_open()) {
        // The movie library has said why (in a batch, the list says it); no window is left behind.
        queue_->finish(false, view->outcome_summary());
        delete view;
        starting_ = false;
        QTimer::singleShot(0, this, &TTesselApp::take_next);
        return;
    }
    auto* child = new TTesselMDIChild(view);
    connect(child, &QObject::destroyed, this, &TTesselApp::view_changed, Qt::QueuedConnection);
    connect(view, &TMovieWindowView::frame_progress, progress_, &ConversionProgress::frame);
    connect(view, &TMovieWindowView::converted, progress_, &ConversionProgress::finish);
    connect(view, &TMovieWindowView::started, this, [this, view] { close_earlier_windows(*view); });
    connect(view, &TMovieWindowView::done, this, [this, view] { movie_done(view); });
    mdi_area_->addSubWindow(child);
    child->show();
    // The queue may just have come or gone beside the MDI area.
    main_window_->layout()->activate();
    fit_window(*view);
    at_work_ = view;
    starting_ = false;
    view->begin(unattended ? std::optional<int>(last_brightness_) : std::nullopt);
}

QString TTesselApp::output_folder() const { return program_settings().value(output_folder_key).toString(); }

void TTesselApp::set_output_folder(const QString& folder) {
    QSettings kept = program_settings();
    if (folder.isEmpty())
        kept.remove(output_folder_key);
    else
        kept.setValue(output_folder_key, folder);
    kept.sync();
}

void TTesselApp::choose_folder(QWidget* owner, const QString& title, std::function<void(const QString&)> chosen,
                               std::function<void()> cancelled) {
    auto* dialog = new QFileDialog(owner ? owner : main_window_.get(), title);
    dialog->setObjectName("folder_dialog");
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    const QString start = output_folder().isEmpty() ? program_settings().value(folder_key).toString() : output_folder();
    if (!start.isEmpty() && QFileInfo(start).isDir()) dialog->setDirectory(start);
    auto answered = std::make_shared<bool>(false);
    connect(dialog, &QFileDialog::fileSelected, this, [this, chosen, answered](const QString& folder) {
        *answered = true;
        QMetaObject::invokeMethod(this, [chosen, folder] { chosen(folder); }, Qt::QueuedConnection);
    });
    connect(dialog, &QDialog::finished, this, [this, dialog, cancelled, answered] {
        dialog->deleteLater();
        if (!*answered && cancelled) QMetaObject::invokeMethod(this, cancelled, Qt::QueuedConnection);
    });
    dialog->open();
}

// Beside each movie, or in one folder the user chose.
void TTesselApp::fill_output_menu(QMenu& menu) {
    menu.clear();
    const QString folder = output_folder();
    QAction* beside = menu.addAction("&Beside Each Movie", [this] { set_output_folder({}); });
    beside->setObjectName("output_beside");
    QAction* chosen = menu.addAction(folder.isEmpty() ? QString("&In a Folder of My Choice...")
                                                      : "&In " + QDir::toNativeSeparators(folder) + "...",
                                     [this] {
                                         choose_folder(main_window_.get(), "Output Folder",
                                                       [this](const QString& folder) { set_output_folder(folder); });
                                     });
    chosen->setObjectName("output_choose");
    for (QAction* action : {beside, chosen}) action->setCheckable(true);
    (folder.isEmpty() ? beside : chosen)->setChecked(true);
}

// Arranging and closing the windows, and every open window by its caption to bring it to the front.
void TTesselApp::fill_window_menu(QMenu& menu) {
    menu.clear();
    const QList<QMdiSubWindow*> windows = mdi_area_->subWindowList();
    const auto add = [&menu](const QString& text, const char* name, bool enabled, auto&& act) {
        QAction* action = menu.addAction(text, act);
        action->setObjectName(name);
        action->setEnabled(enabled);
    };
    add("&Cascade", "window_cascade", !windows.isEmpty(), [this] { mdi_area_->cascadeSubWindows(); });
    add("&Tile", "window_tile", !windows.isEmpty(), [this] { tile_windows(); });
    menu.addSeparator();
    const QList<TMovieWindowView*> all = views();
    const bool any_finished = std::any_of(all.begin(), all.end(), [](const TMovieWindowView* view) {
        return !view->busy() && view->outcome() != TMovieWindowView::Outcome::none;
    });
    add("Close &Finished", "window_close_finished", any_finished, [this] {
        // The windows of conversions that are over; those at work, and the players, stay.
        for (TMovieWindowView* view : views())
            if (!view->busy() && view->outcome() != TMovieWindowView::Outcome::none) view->parentWidget()->close();
    });
    // A converting window asks first, as its own close button does.
    add("Close &All", "window_close_all", !windows.isEmpty(), [this] { mdi_area_->closeAllSubWindows(); });
    if (!windows.isEmpty()) menu.addSeparator();
    for (int k = 0; k < windows.size(); k++) {
        QMdiSubWindow* child = windows[k];
        QAction* action = menu.addAction(QString("&%1 %2").arg(k + 1).arg(child->windowTitle().replace("&", "&&")),
                                         [this, child] { mdi_area_->setActiveSubWindow(child); });
        action->setCheckable(true);
        action->setChecked(child == mdi_area_->activeSubWindow());
    }
}

// The windows in a grid of as many columns as their smallest widths allow. Where the area is too
// small for every window at its smallest size they overlap, but each stays whole inside the area.
void TTesselApp::tile_windows() {
    const QList<QMdiSubWindow*> windows = mdi_area_->subWindowList();
    if (windows.isEmpty()) return;
    const QRect area = mdi_area_->viewport()->rect();
    QSize smallest(1, 1);
    for (QMdiSubWindow* child : windows) {
        if (child->isMinimized() || child->isMaximized()) child->showNormal();
        smallest = smallest.expandedTo(child->minimumSizeHint());
    }
    const int count = static_cast<int>(windows.size());
    const int columns = std::clamp(area.width() / smallest.width(), 1, count);
    const int rows = (count + columns - 1) / columns;
    const QSize cell(area.width() / columns, area.height() / rows);
    for (int k = 0; k < count; k++) {
        QRect place(QPoint(k % columns * cell.width(), k / columns * cell.height()),
                    cell.expandedTo(windows[k]->minimumSizeHint()).boundedTo(area.size()));
        place.moveRight(std::min(place.right(), area.right()));
        place.moveBottom(std::min(place.bottom(), area.bottom()));
        windows[k]->setGeometry(place);
    }
}

// A new conversion of a movie rewrites its files: the windows of its earlier conversions would tell
// of files that no longer are, and go.
void TTesselApp::close_earlier_windows(const TMovieWindowView& view) {
    const QString movie = QFileInfo(QString::fromStdString(view.conversion().movie_path())).canonicalFilePath();
    for (TMovieWindowView* other : views()) {
        if (other == &view || other->busy()) continue;
        if (QFileInfo(QString::fromStdString(other->conversion().movie_path())).canonicalFilePath() == movie)
            other->parentWidget()->close();
    }
}

void TTesselApp::movie_done(TMovieWindowView* view) {
    if (view != at_work_) return;
    at_work_ = nullptr;
    queue_->finish(view->outcome() == TMovieWindowView::Outcome::finished, view->outcome_summary());
    if (view->outcome() != TMovieWindowView::Outcome::none) {
        last_brightness_ = view->brightness;
    } else {
        // Nothing was converted: the window goes, and the status bar says what became of the movie.
        idle_status_ = view->status() + ". " + idle_status;
        view->parentWidget()->close();
    }
    view_changed();
    if (exit_when_stopped_) QTimer::singleShot(0, main_window_.get(), &QWidget::close);
    // Once the view's own code has returned.
    QTimer::singleShot(0, this, &TTesselApp::take_next);
}

void TTesselApp::summarise_batch() {
    const QList<QueuePanel::Done> done = queue_->done();
    QStringList converted, failed;
    for (const QueuePanel::Done& movie : done)
        (movie.converted ? converted : failed) << QFileInfo(movie.path).fileName() + (movie.converted ? "" : ": " + movie.what);
    QString text = QString("Converted %1 of %2 movies.").arg(converted.size()).arg(done.size());
    if (!failed.isEmpty()) text += "\n\nNot converted:\n" + failed.join("\n");
    const QString detail = converted.isEmpty() ? QString() : "Converted: " + converted.join(", ");
    message_boxes_.notify(main_window_.get(), text, program_caption, detail,
                          failed.isEmpty() ? MessageBoxes::Icon::information : MessageBoxes::Icon::warning);
}

void TTesselApp::stop_queue() {
    // The waiting movies have gone; the one converting stops as its Cancel button's Yes does.
    if (TMovieWindowView* busy = busy_view(); busy && busy->converting()) busy->stop();
}

void TTesselApp::command_about() {
    auto* about = new TTesselAboutDlg(main_window_.get());
    about->setAttribute(Qt::WA_DeleteOnClose);
    // Modal over the main window; a conversion goes on behind it.
    about->open();
}

}  // namespace vintrel
