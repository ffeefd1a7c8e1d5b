// The movie view.
#include "app/movie_window_view.h"

#include <cerrno>
#include <cstring>

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/bitmap_image.h"
#include "app/picture_control.h"
#include "app/readable_size.h"
#include "app/screen_size_menu.h"
#include "app/tessel_app.h"
#include "convert/sample_rate.h"

namespace vintrel {
namespace {

// The gap between the frame as received and the dithered frame.
constexpr int frame_gap = 50;
// The least room the frames take, so that a tiny movie's window still shows its caption.
constexpr QSize least_frames_size(240, 60);

}  // namespace

// The view's drawing surface: the frame as received at (0, 0), the dithered frame beside it,
// and the Cancel button; as large as the movie's two frames, scrolled when the window is smaller.
class FramePane : public QWidget {
public:
    FramePane(QWidget* parent, QSize frame) : QWidget(parent) { fit(frame); }
    void fit(QSize frame) {
        setFixedSize(std::max(least_frames_size.width(), 2 * frame.width() + frame_gap),
                     std::max(least_frames_size.height(), frame.height()));
    }
    // The last pair drawn during the conversion, kept so a repaint shows them again.
    QImage received, dithered;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (!received.isNull()) painter.drawImage(0, 0, received);
        if (!dithered.isNull()) painter.drawImage(received.width() + frame_gap, 0, dithered);
    }
};

TMovieWindowView::TMovieWindowView(TTesselApp& app, const QString& path)
    : app_(app),
      title_(QString::fromStdString(document_title(path.toStdString()))),
      conversion_(std::make_unique<Conversion>(app.configuration(), *this, path.toStdString(), Movie::open)) {
    setWindowTitle(title_);
    conversion_->fit_within(app.screen_size_menu().chosen());
    conversion_->write_into(app.output_folder().toStdString());
    if (!conversion_->open_movie()) tell(fault_message(conversion_->fault(), {}));
    QSize frame;
    if (const Movie* movie = conversion_->movie()) {
        const MovieBounds b = movie->natural_bounds();
        frame = QSize(b.right - b.left, b.bottom - b.top);
    }

    frames_area_ = new QScrollArea(this);
    frames_area_->setObjectName("frames");
    frames_area_->setFrameShape(QFrame::NoFrame);
    frames_area_->setBackgroundRole(QPalette::Window);
    frames_ = new FramePane(frames_area_, frame);
    frames_area_->setWidget(frames_);
    // Below the frames while the conversion runs, never over them. The mnemonics of the window's
    // buttons leave the main window's (its menus, the queue's buttons) alone: the MDI children
    // share its shortcuts.
    cancel_bar_ = new QWidget(this);
    cancel_button_ = new QPushButton("&Cancel", cancel_bar_);
    cancel_button_->setObjectName("cancel_button");
    cancel_button_->setToolTip("Stop the conversion (asks first); the .mpg keeps the frames coded so far");
    cancel_button_->setAutoDefault(false);
    cancel_bar_->hide();  // until the conversion starts
    connect(cancel_button_, &QPushButton::clicked, this, &TMovieWindowView::confirm_stop);

    // The outcome, shown once the conversion is over: what became of it, and the two files.
    outcome_panel_ = new QFrame(this);
    outcome_panel_->setObjectName("outcome");
    outcome_panel_->setFrameShape(QFrame::StyledPanel);
    outcome_state_ = new QLabel(outcome_panel_);
    outcome_state_->setObjectName("outcome_state");
    QFont bold = outcome_state_->font();
    bold.setBold(true);
    outcome_state_->setFont(bold);
    outcome_text_ = new QLabel(outcome_panel_);
    outcome_text_->setObjectName("outcome_text");
    outcome_text_->setTextFormat(Qt::PlainText);
    outcome_text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* show_folder = new QPushButton("Show in F&older", outcome_panel_);
    show_folder->setObjectName("show_folder");
    show_folder->setToolTip("Open the folder of the two files in the file manager");
    connect(show_folder, &QPushButton::clicked, this, [this] {
        const QString folder = QFileInfo(QString::fromStdString(conversion_->pdb_name())).absolutePath();
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            app_.message_boxes().inform(this, "No file manager could be opened to show the folder " +
                                                  QDir::toNativeSeparators(folder) + ".",
                                        "Vintrel");
    });
    // A finished conversion's database plays in the handheld player.
    play_result_ = new QPushButton("&Play the Database", outcome_panel_);
    play_result_->setObjectName("play_result");
    play_result_->setToolTip("Play the frames of the .pdb as the handheld shows them");
    play_result_->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    connect(play_result_, &QPushButton::clicked, this,
            [this] { app_.open_player(QString::fromStdString(conversion_->pdb_name())); });
    auto* close_window = new QPushButton("&Close", outcome_panel_);
    close_window->setObjectName("close_window");
    close_window->setToolTip("Close this window; the files stay (Ctrl+W)");
    connect(close_window, &QPushButton::clicked, this, [this] { (parentWidget() ? parentWidget() : this)->close(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(play_result_);
    buttons->addWidget(show_folder);
    buttons->addWidget(close_window);
    buttons->addStretch();
    auto* panel = new QVBoxLayout(outcome_panel_);
    panel->addWidget(outcome_state_);
    panel->addWidget(outcome_text_);
    panel->addLayout(buttons);
    outcome_panel_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(frames_area_, 1);
    auto* cancel_row = new QHBoxLayout(cancel_bar_);
    cancel_row->setContentsMargins(6, 4, 6, 4);
    cancel_row->addWidget(cancel_button_);
    cancel_row->addStretch();
    layout->addWidget(cancel_bar_);
    layout->addWidget(outcome_panel_);
}

TMovieWindowView::~TMovieWindowView() {
    if (!worker_.joinable()) return;
    stop_.request_stop();
    worker_.join();
}

// The whole of the frames and, once shown, the outcome; the MDI area gives the window this size
// as far as it has room.
QSize TMovieWindowView::sizeHint() const {
    QSize size = frames_->size();
    if (!cancel_bar_->isHidden()) size.rheight() += cancel_bar_->sizeHint().height();
    if (!outcome_panel_->isHidden()) {
        const QSize panel = outcome_panel_->sizeHint();
        size = QSize(std::max(size.width(), panel.width()), size.height() + panel.height());
    }
    return size;
}

void TMovieWindowView::set_status(const QString& text) {
    status_ = text;
    app_.view_changed();
}

void TMovieWindowView::begin(std::optional<int> unattended_brightness) {
    busy_ = true;
    unattended_brightness_ = unattended_brightness;
    set_status(title_ + ": preparing");
    set_up();
}

void TMovieWindowView::set_up() {
    if (!app_.configuration() || !conversion_->setup()) {
        if (app_.configuration() && offer_another_folder()) return;
        tell(app_.configuration() ? fault_message(conversion_->fault(), conversion_->pdb_name())
                                  : Message{Notice::fatal, app_.configuration_error(), "MPEG Error"});
        busy_ = false;
        set_status(title_ + ": not converted");
        emit done();
        return;
    }
    if (unattended_brightness_) {
        brightness = *unattended_brightness_;
        start_conversion();
        return;
    }
    set_status(title_ + ": choose the brightness in Picture Control; Ok converts, Cancel leaves the files as they are");
    auto* dialog = new PictureControl(*this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, &TMovieWindowView::start_conversion);
    connect(dialog, &QDialog::rejected, this, [this] {
        // A cancelled dialog closes the database, leaving it as it was.
        conversion_->abandon();
        problem_ = "cancelled";
        busy_ = false;
        set_status(title_ + ": not converted; its files were left as they were");
        emit done();
    });
    dialog->open();
}

// A folder that cannot be written (a card, a camera, a share) need not end the conversion: its
// files may go to another folder. The folder chosen for one movie is taken for the next ones too.
bool TMovieWindowView::offer_another_folder() {
    const ConversionFault& fault = conversion_->fault();
    if (fault.kind != ConversionFailure::database_uncreatable ||
        (fault.system_error != EACCES && fault.system_error != EROFS && fault.system_error != EPERM &&
         fault.system_error != ENOENT))
        return false;
    const QString tried = QFileInfo(QString::fromStdString(conversion_->pdb_name())).absolutePath();
    const QString earlier = app_.fallback_folder();
    if (!earlier.isEmpty() && QFileInfo(earlier).absoluteFilePath() != tried) {
        conversion_->write_into(earlier.toStdString());
        set_up();
        return true;
    }
    const QString question = QString("The folder %1 cannot be written (%2), so %3 cannot be converted there.\n\n"
                                     "Choose another folder for its .pdb and .mpg?")
                                 .arg(tried, QString::fromLocal8Bit(std::strerror(fault.system_error)), title_);
    if (!app_.message_boxes().ask_yes_no(isVisible() ? this : nullptr, question, "Folder Cannot Be Written"))
        return false;
    set_status(title_ + ": choose a folder for its files");
    app_.choose_folder(this, "Choose a Folder for the Files of " + title_,
                       [this](const QString& folder) {
                           app_.set_fallback_folder(folder);
                           conversion_->write_into(folder.toStdString());
                           set_up();
                       },
                       [this] {
                           problem_ = "its folder cannot be written, and no other folder was chosen";
                           busy_ = false;
                           set_status(title_ + ": not converted");
                           emit done();
                       });
    return true;
}

bool TMovieWindowView::refit(ScreenSize screen) {
    conversion_->abandon();
    conversion_->fit_within(screen);
    if (!conversion_->open_movie() || !conversion_->setup()) {
        tell(fault_message(conversion_->fault(), conversion_->pdb_name()));
        return false;
    }
    const MovieBounds b = conversion_->movie()->natural_bounds();
    frames_->fit(QSize(b.right - b.left, b.bottom - b.top));
    app_.fit_window(*this);
    return true;
}

void TMovieWindowView::start_conversion() {
    set_status(title_ + ": converting...");
    converting_ = true;
    cancel_bar_->show();
    app_.fit_window(*this);
    emit started();
    conversion_->release_movie();
    worker_ = std::thread([this, brightness = brightness, stop = stop_.get_token()] {
        const ConversionOutcome outcome = conversion_->run(brightness, stop);
        QMetaObject::invokeMethod(this, [this, outcome] { conversion_ended(outcome); }, Qt::QueuedConnection);
    });
}

void TMovieWindowView::conversion_ended(const ConversionOutcome& outcome) {
    worker_.join();
    converting_ = false;
    emit converted();
    draw_frames();
    switch (outcome.result) {
        case ConversionResult::finished: show_outcome(Outcome::finished, outcome); break;
        case ConversionResult::stopped: show_outcome(Outcome::stopped, outcome); break;
        case ConversionResult::failed: show_outcome(Outcome::failed, outcome); break;
    }
    for (const Message& note : outcome.notes) tell(note);
    if (outcome.fault.kind != ConversionFailure::none) tell(fault_message(outcome.fault, conversion_->pdb_name()));
    if (outcome.result == ConversionResult::finished) tell(finished_message());
    busy_ = false;
    app_.view_changed();
    emit done();
    if (close_when_done_)
        QTimer::singleShot(0, this, [this] { (parentWidget() ? parentWidget() : this)->close(); });
}

QString TMovieWindowView::file_line(const std::string& name) const {
    const QFileInfo file(QString::fromStdString(name));
    // A folder that holds the file's name (why it could not be created) has no size worth telling.
    return file.absoluteFilePath() + "  (" +
           (file.isDir()    ? QString("a folder")
            : file.exists() ? readable_size(file.size())
                            : QString("not created")) +
           ")";
}

void TMovieWindowView::show_outcome(Outcome outcome, const ConversionOutcome& result) {
    outcome_ = outcome;
    const QString pdb = QString::fromStdString(conversion_->pdb_name());
    const QString mpg = QString::fromStdString(conversion_->mpeg_name());
    const QString pdb_file = QFileInfo(pdb).fileName(), mpg_file = QFileInfo(mpg).fileName();
    QString state, text, status;
    switch (outcome) {
        case Outcome::none: return;
        case Outcome::finished: {
            // A movie that holds less than its file claims converts as far as it goes, and says so.
            const MovieExtent extent = conversion_->movie_extent();
            const QString part = extent.claimed_length || extent.stamped_length ? ", not the whole movie" : "";
            state = "Finished" + part;
            // A part of the movie chosen in its dialog is named by its times.
            const FramePart chosen = conversion_->part();
            const QString times =
                chosen.count == conversion_->frame_count()
                    ? QString()
                    : QString(" from %1 to %2")
                          .arg(QString::fromStdString(time_text(chosen.first / frames_per_second)),
                               QString::fromStdString(time_text(chosen.end() / frames_per_second)));
            text = title_ + times + " was converted into these two files:";
            status = title_ + ": converted into " + pdb_file + " and " + mpg_file + part;
            break;
        }
        case Outcome::stopped:
            state = "Stopped";
            // A stop while the database is written keeps what was written (and says so in a box).
            text = "The conversion was stopped. " + mpg_file + " holds the frames coded so far; " + pdb_file +
                   (result.database == DatabaseState::partial ? " holds only some frames." : " was left empty.");
            status = title_ + ": conversion stopped";
            break;
        case Outcome::failed:
            state = "Failed";
            text = title_ + " was not converted.";
            status = title_ + ": conversion failed";
            break;
    }
    const std::string title = title_.toStdString();
    for (const Message& note : result.notes) text += "\n" + QString::fromStdString(note.sentence(title));
    if (result.fault.kind != ConversionFailure::none)
        text += "\n" + QString::fromStdString(fault_message(result.fault, conversion_->pdb_name()).sentence(title));
    text += "\n" + file_line(conversion_->pdb_name()) + "\n" + file_line(conversion_->mpeg_name());
    // What the encoder and the movie noticed, each kind once: a group shows its first text, or
    // what it is about and for how many pictures it came.
    const QLocale numbers(QLocale::English, QLocale::UnitedStates);
    for (const WarningGroup& group : result.warnings)
        text += "\nWarning: " + (group.pictures == 1 ? QString::fromStdString(group.first)
                                                     : QString::fromStdString(group.label) + " (" +
                                                           numbers.toString(group.pictures) + " pictures)");
    play_result_->setVisible(outcome == Outcome::finished);
    outcome_state_->setText(state);
    outcome_text_->setText(text);
    outcome_panel_->show();
    // There is nothing left to stop; the last frame as the handheld shows it comes into view
    // once the window has its new size.
    cancel_bar_->hide();
    QTimer::singleShot(0, frames_area_, [this] {
        frames_area_->horizontalScrollBar()->setValue(frames_->received.width() + frame_gap);
    });
    setWindowTitle(title_ + " - " + state);
    set_status(status);
    app_.fit_window(*this);
}

QString TMovieWindowView::outcome_summary() const {
    switch (outcome_) {
        case Outcome::finished: return outcome_state_->text().replace("Finished", "converted");
        case Outcome::stopped: return "stopped";
        case Outcome::failed: return problem_.isEmpty() ? QString("failed") : "failed: " + problem_;
        case Outcome::none: break;
    }
    return problem_.isEmpty() ? QString("not converted") : "not converted: " + problem_;
}

bool TMovieWindowView::confirm_stop() {
    if (!converting()) return false;
    if (stop_.stop_requested()) return true;  // asked and answered already
    if (!app_.message_boxes().ask_yes_no(this, "Are you sure you want to stop this conversion?", "Stop Conversion"))
        return false;
    stop();
    return true;
}

bool TMovieWindowView::can_close() {
    // A converting window asks first, as its Cancel button does; stopped, it closes itself.
    if (converting()) {
        if (confirm_stop()) close_when_done_ = true;
        return false;
    }
    // The dialog or the end of a conversion is still running in this view's own code.
    return !busy_;
}

void TMovieWindowView::closeEvent(QCloseEvent* event) {
    if (can_close())
        event->accept();
    else
        event->ignore();
}

void TMovieWindowView::tell(const Message& message) {
    if (message.kind != Notice::finished && message.kind != Notice::warning)
        problem_ = QString::fromStdString(about_opening(message.kind) ? message.text + " (" + conversion_->open_detail() + ")"
                                                                      : message.text);
    // In a batch nothing waits for a click: the outcome is in the window, the queue's list and the
    // batch's summary.
    if (app_.in_batch()) return;
    const QString text = QString::fromStdString(message.sentence(title_.toStdString()));
    const QString caption = QString::fromStdString(message.caption);
    const QString detail = about_opening(message.kind) ? QString::fromStdString(conversion_->movie_path() + ": " +
                                                                                 conversion_->open_detail())
                                                       : QString();
    // The movie library speaks before the view has a window: its boxes have no owner.
    app_.message_boxes().inform(isVisible() ? this : nullptr, text, caption, detail,
                                message.kind == Notice::finished ? MessageBoxes::Icon::information
                                                                 : MessageBoxes::Icon::warning);
}

// The newest frames the conversion's thread left; older ones it replaced were never drawn.
void TMovieWindowView::draw_frames() {
    {
        const std::lock_guard lock(frames_mutex_);
        redraw_pending_ = false;
        if (!received_.isNull()) frames_->received = std::exchange(received_, {});
        if (!dithered_.isNull()) frames_->dithered = std::exchange(dithered_, {});
    }
    frames_->update();
}

void TMovieWindowView::show_received_frame(const Bitmap& bitmap) {
    QImage image = image_from_bitmap(bitmap);
    const std::lock_guard lock(frames_mutex_);
    received_ = std::move(image);
}

void TMovieWindowView::show_dithered_frame(const Bitmap& bitmap) {
    QImage image = image_from_bitmap(bitmap);
    const std::lock_guard lock(frames_mutex_);
    dithered_ = std::move(image);
    if (std::exchange(redraw_pending_, true)) return;
    QMetaObject::invokeMethod(this, &TMovieWindowView::draw_frames, Qt::QueuedConnection);
}

void TMovieWindowView::progress(int frame, int count) {
    QMetaObject::invokeMethod(
        this, [this, frame, count] {
            set_status(QString("%1: converting frame %2 of %3").arg(title_).arg(frame + 1).arg(count));
        },
        Qt::QueuedConnection);
    emit frame_progress(frame, count);
}

void TMovieWindowView::writing_database() {
    const int count = conversion_->part().count;
    emit frame_progress(count, count);
    QMetaObject::invokeMethod(
        this, [this] { set_status(title_ + ": writing " + QFileInfo(QString::fromStdString(conversion_->pdb_name())).fileName()); },
        Qt::QueuedConnection);
}

}  // namespace vintrel
