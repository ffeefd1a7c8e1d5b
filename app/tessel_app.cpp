// The application object and main window.
#include "app/tessel_app.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QStatusBar>

#include "app/about_dialog.h"
#include "app/icons.h"
#include "app/movie_window_view.h"
#include "app/pdb_player.h"
#include "encoder/setup/read_parameters.h"

namespace vintrel {
namespace {

const QString program_caption = "Vintrel";
const QString idle_status = "Open a movie with File, Open...";

// Where File, Open... last was, kept across runs.
const QString folder_key = "open/folder", filter_key = "open/filter";
QSettings settings() { return QSettings("Vintrel", "Vintrel"); }

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

void TTesselMainFrame::closeEvent(QCloseEvent* event) {
    if (app_.can_close())
        event->accept();
    else
        event->ignore();
}

TTesselApp::TTesselApp() {
    encoder_.show_message_box = [this](const std::string& text) {
        message_boxes_.inform(main_window_.get(), QString::fromStdString(text), "MPEG Error");
    };
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
    file->addSeparator();
    exit_action_ = file->addAction("E&xit\tAlt+F4", main_window_.get(), &QWidget::close);
    exit_action_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    QMenu* about = main_window_->menuBar()->addMenu("&About");
    about_action_ = about->addAction("&About...", this, &TTesselApp::command_about);

    status_label_ = new QLabel(idle_status);
    status_label_->setObjectName("status");
    main_window_->statusBar()->addWidget(status_label_, 1);
    idle_status_ = idle_status;
    connect(mdi_area_, &QMdiArea::subWindowActivated, this, &TTesselApp::view_changed);
    main_window_->resize(960, 640);
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
    open_action_->setEnabled(!shown);
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
    // The menu item is greyed meanwhile; a shortcut pressed just before that changes nothing.
    if (busy_view()) return;
    QSettings kept = settings();
    QFileDialog dialog(main_window_.get(), "Open");
    dialog.setObjectName("open_dialog");
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters(movie_file_filters());
    const QString folder = kept.value(folder_key).toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) dialog.setDirectory(folder);
    dialog.selectNameFilter(kept.value(filter_key, movie_file_filters().value(2)).toString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    const QStringList paths = dialog.selectedFiles();
    kept.setValue(folder_key, QFileInfo(paths.first()).absolutePath());
    kept.setValue(filter_key, dialog.selectedNameFilter());
    kept.sync();
    open_files(paths);
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

void TTesselApp::open_movie(const QString& path) {
    // One view at work at a time: the encoder state is shared, and the busy view must stay as
    // it is until it returns.
    if (TMovieWindowView* busy = busy_view()) {
        message_boxes_.notify(main_window_.get(),
                              path + " was not opened, because " + busy->title() +
                                  " is being converted. Open it once that conversion is over.",
                              program_caption);
        return;
    }
    idle_status_ = idle_status;
    auto* view = new TMovieWindowView(*this, path);
    if (!view->movie_open()) {
        // The movie library has said why; no window is left behind.
        delete view;
        return;
    }
    QPointer<TTesselMDIChild> child = new TTesselMDIChild(view);
    connect(child, &QObject::destroyed, this, &TTesselApp::view_changed, Qt::QueuedConnection);
    mdi_area_->addSubWindow(child);
    child->show();
    fit_window(*view);
    if (!view->setup_conversion() && child) {
        // Nothing was converted: the window goes, and the status bar says what became of the movie.
        idle_status_ = view->status() + ". " + idle_status;
        child->close();
    }
}

void TTesselApp::open_movies(const QStringList& paths) {
    for (const QString& path : paths) open_movie(path);
}

void TTesselApp::command_about() {
    auto* about = new TTesselAboutDlg(main_window_.get());
    about->setAttribute(Qt::WA_DeleteOnClose);
    // Modal over the main window, but a conversion that pumps events keeps running meanwhile.
    about->open();
}

}  // namespace vintrel
