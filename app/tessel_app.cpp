// The application object and main window.
#include "app/tessel_app.h"


#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
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
#include "encoder/setup/read_parameters.h"

namespace vintrel {
namespace {

const QString program_caption = "Vintrel";
const QString idle_status = "Open a movie with File, Open...";

// Where File, Open... last was, kept across runs.
const QString folder_key = "open/folder", filter_key = "open/filter";
// The main window's size and place.
const QString geometry_key = "window/geometry";

// Long work keeps pumping while events keep arriving, but not forever: a steady stream (a
// fast timer, a held key) must not hold a conversion up.
constexpr auto longest_busy_pumping = std::chrono::milliseconds(250);

// The frame of one opened movie or database: an MDI child whose client is its view.
class TTesselMDIChild : public QMdiSubWindow {
public:
    explicit TTesselMDIChild(QWidget* view) {
        setWidget(view);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowIcon(movie_icon());
        setWindowTitle(view->windowTitle());
    }
};

}  // namespace

TTesselMainFrame::TTesselMainFrame(TTesselApp& app) : app_(app) {
    setAcceptDrops(true);
    resize(960, 640);
    restoreGeometry(program_settings().value(geometry_key).toByteArray());
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
    read_parameters(encoder_);

    main_window_ = std::make_unique<TTesselMainFrame>(*this);
    main_window_->setWindowTitle(program_caption);
    main_window_->setWindowIcon(application_icon());
    mdi_area_ = new QMdiArea(main_window_.get());
    // The window of a large movie (its frames side by side) may be wider than the area.
    mdi_area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    main_window_->setCentralWidget(mdi_area_);

    QMenu* file = main_window_->menuBar()->addMenu("&File");
    open_action_ = file->addAction("&Open...", this, &TTesselApp::command_open);
    recent_files_ = new RecentFilesMenu(main_window_.get());
    file->addMenu(recent_files_);
    connect(recent_files_, &RecentFilesMenu::open_requested, this,
            [this](const QString& path) { open_files({path}); });
    file->addSeparator();
    exit_action_ = file->addAction("E&xit\tAlt+F4", main_window_.get(), &QWidget::close);
    exit_action_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    screen_size_menu_ = new ScreenSizeMenu(main_window_.get());
    main_window_->menuBar()->addMenu(screen_size_menu_);
    QMenu* about = main_window_->menuBar()->addMenu("&About");
    about_action_ = about->addAction("&About...", this, &TTesselApp::command_about);

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
    QCoreApplication::instance()->installEventFilter(this);
}

TTesselApp::~TTesselApp() {
    QCoreApplication::instance()->removeEventFilter(this);
    mdi_area_->disconnect(this);
    // The views go with the main window; nothing of theirs may outlive the encoder state.
    main_window_.reset();
}

QStringList TTesselApp::movie_file_filters() {
    return {"QuickTime Movie Files (*.mov)", "AVI Movie Files (*.avi)",
            "Movie Files (*.mov *.qt *.avi *.mp4 *.m4v *.mkv *.webm *.mpg *.mpeg *.vob *.ts *.m2ts *.mts *.dv *.flv "
            "*.wmv *.asf *.3gp *.ogv *.gif)",
            "Handheld Databases (*.pdb)", "All Files (*)"};
}

bool TTesselApp::eventFilter(QObject*, QEvent*) {
    if (pumping_) events_seen_++;
    return false;
}

// Nothing is re-posted for a quit request: Qt ends every running event loop on quit() by itself,
// so the main loop still ends the program once the long work returns.
bool TTesselApp::pump_waiting_messages() {
    const int before = events_seen_;
    const bool outer = !pumping_;
    pumping_ = true;
    QCoreApplication::sendPostedEvents();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    const bool dispatched = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
    if (outer) pumping_ = false;
    const bool any = dispatched || events_seen_ != before;

    if (!any) {
        busy_streak_ = false;
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!busy_streak_) {
        busy_streak_ = true;
        streak_start_ = now;
    } else if (now - streak_start_ > longest_busy_pumping) {
        busy_streak_ = false;
        return false;
    }
    return true;
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
    // Leaving the program stops the conversion, and the movies waiting are not started.
    if (busy_view()) queue_->clear();
    bool all = true;
    for (TMovieWindowView* view : views())
        if (!view->can_close()) all = false;
    return all;
}

TMovieWindowView* TTesselApp::busy_view() const {
    for (TMovieWindowView* view : views())
        if (view->busy()) return view;
    return nullptr;
}

void TTesselApp::view_changed() {
    TMovieWindowView* shown = busy_view();
    if (!shown) {
        QMdiSubWindow* active = mdi_area_->activeSubWindow();
        shown = active ? qobject_cast<TMovieWindowView*>(active->widget()) : nullptr;
    }
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
    if (busy_view()) {
        // A conversion is running in this thread: a dialog with its own event loop would hold it
        // up, so this one is answered later; the movies chosen join the queue.
        connect(dialog, &QFileDialog::filesSelected, this, [this, dialog, chosen](const QStringList& paths) {
            // Once the dialog has gone: the conversion may be over by then, and the next start.
            QMetaObject::invokeMethod(
                this, [chosen, paths, filter = dialog->selectedNameFilter()] { chosen(paths, filter); },
                Qt::QueuedConnection);
        });
        connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater, Qt::QueuedConnection);
        dialog->open();
        return;
    }
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const QStringList paths = dialog->selectedFiles();
    const QString filter = dialog->selectedNameFilter();
    delete dialog;
    if (accepted) chosen(paths, filter);
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

// One conversion at a time: the encoder state is shared, and a busy view must stay as it is until
// it returns. Movies are taken from the queue only here, by the outermost call, after the movie
// before them is done; a call made meanwhile (from a conversion's event pumping or a dialog's
// event loop) only adds its movies to the queue.
void TTesselApp::open_movies(const QStringList& paths) {
    if (paths.isEmpty()) return;
    if (taking_from_queue_) {
        queue_->add(paths);
        return;
    }
    taking_from_queue_ = true;
    queue_->add(paths.mid(1));
    QString next = paths.first();
    bool unattended = false;
    for (;;) {
        const int brightness = convert_movie(next, unattended);
        if (brightness != not_converted) last_brightness_ = brightness;
        if (queue_->empty()) break;
        next = queue_->take_first();
        unattended = queue_->same_brightness() && last_brightness_ != not_converted;
    }
    taking_from_queue_ = false;
    view_changed();
}

int TTesselApp::convert_movie(const QString& path, bool unattended) {
    idle_status_ = idle_status;
    recent_files_->add(path);
    auto* view = new TMovieWindowView(*this, path);
    if (!view->movie_open()) {
        // The movie library has said why; no window is left behind.
        delete view;
        return not_converted;
    }
    QPointer<TTesselMDIChild> child = new TTesselMDIChild(view);
    connect(child, &QObject::destroyed, this, &TTesselApp::view_changed, Qt::QueuedConnection);
    connect(view, &TMovieWindowView::frame_progress, progress_, &ConversionProgress::frame);
    mdi_area_->addSubWindow(child);
    child->show();
    // The queue may just have come or gone beside the MDI area.
    main_window_->layout()->activate();
    fit_window(*view);
    const std::optional<int> brightness = unattended ? std::optional<int>(last_brightness_) : std::nullopt;
    const bool converted = view->setup_conversion(brightness);
    progress_->finish();
    if (!converted) {
        // Nothing was converted: the window goes, and the status bar says what became of the movie.
        idle_status_ = view->status() + ". " + idle_status;
        if (child) child->close();
        return not_converted;
    }
    return view->brightness;
}

void TTesselApp::stop_queue() {
    // The waiting movies have gone; the one converting stops as its Cancel button's Yes does.
    if (TMovieWindowView* busy = busy_view(); busy && busy->converting()) busy->conversion().request_stop();
}

void TTesselApp::command_about() {
    auto* about = new TTesselAboutDlg(main_window_.get());
    about->setAttribute(Qt::WA_DeleteOnClose);
    // Modal over the main window, but a conversion that pumps events keeps running meanwhile.
    about->open();
}

}  // namespace vintrel
