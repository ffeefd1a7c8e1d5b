// The application object and main window.
#include "app/tessel_app.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>

#include "app/about_dialog.h"
#include "app/icons.h"
#include "app/movie_window_view.h"
#include "encoder/setup/read_parameters.h"

namespace vintrel {
namespace {

const QString program_caption = "Vintrel";

// Long work keeps pumping while events keep arriving, but not forever: a steady stream (a
// fast timer, a held key) must not hold a conversion up.
constexpr auto longest_busy_pumping = std::chrono::milliseconds(250);

// The frame of one opened movie: an MDI child whose client is the movie view.
class TTesselMDIChild : public QMdiSubWindow {
public:
    explicit TTesselMDIChild(TMovieWindowView* view) {
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

    main_window_->statusBar()->showMessage("Open a movie with File, Open...");
    main_window_->resize(960, 640);
    QCoreApplication::instance()->installEventFilter(this);
}

TTesselApp::~TTesselApp() {
    QCoreApplication::instance()->removeEventFilter(this);
    // The views go with the main window; nothing of theirs may outlive the encoder state.
    main_window_.reset();
}

QStringList TTesselApp::movie_file_filters() {
    return {"QuickTime Movie Files (*.mov)", "AVI Movie Files (*.avi)", "All Files (*)"};
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

void TTesselApp::show_status(const QString& text) { main_window_->statusBar()->showMessage(text); }

// One conversion at a time: the encoder state is shared, and the running conversion's view
// must stay as it is until it returns.
bool TTesselApp::refuse_while_busy(const QString& what) {
    for (TMovieWindowView* view : views()) {
        if (!view->busy()) continue;
        message_boxes_.inform(main_window_.get(),
                              what + " was not opened: " + view->windowTitle() +
                                  " is being converted. Open it again when that conversion has finished or been "
                                  "stopped.",
                              program_caption);
        return true;
    }
    return false;
}

void TTesselApp::command_open() {
    if (refuse_while_busy("No movie")) return;
    QFileDialog dialog(main_window_.get(), "Open");
    dialog.setObjectName("open_dialog");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(movie_file_filters());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    open_movie(dialog.selectedFiles().first());
}

void TTesselApp::open_movie(const QString& path) {
    if (refuse_while_busy(path)) return;
    auto* view = new TMovieWindowView(*this, path);
    if (!view->movie_open()) {
        // The movie library has said why; no window is left behind.
        delete view;
        return;
    }
    QPointer<TTesselMDIChild> child = new TTesselMDIChild(view);
    mdi_area_->addSubWindow(child);
    child->show();
    if (!view->setup_conversion() && child) child->close();
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
