// The movie view.
#include "app/movie_window_view.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QPainter>
#include <QPushButton>

#include "app/bitmap_image.h"
#include "app/picture_control.h"
#include "app/tessel_app.h"

namespace vintrel {
namespace {

// The gap between the frame as received and the dithered frame.
constexpr int frame_gap = 50;
const QRect cancel_button_place(200, 200, 50, 20);

}  // namespace

TMovieWindowView::TMovieWindowView(TTesselApp& app, const QString& path)
    : app_(app),
      title_(QString::fromStdString(document_title(path.toStdString()))),
      conversion_(std::make_unique<Conversion>(app.encoder(), *this, path.toStdString())) {
    setWindowTitle(title_);
    setAutoFillBackground(true);
    cancel_button_ = new QPushButton("Cancel", this);
    cancel_button_->setObjectName("cancel_button");
    cancel_button_->setGeometry(cancel_button_place);
    cancel_button_->setAutoDefault(false);
    connect(cancel_button_, &QPushButton::clicked, this, &TMovieWindowView::confirm_stop);
    conversion_->open_movie();
}

TMovieWindowView::~TMovieWindowView() = default;

QSize TMovieWindowView::sizeHint() const {
    int width = cancel_button_place.right() + 20, height = cancel_button_place.bottom() + 20;
    if (const Movie* movie = conversion_->movie()) {
        const MovieBounds b = movie->natural_bounds();
        width = std::max(width, 2 * (b.right - b.left) + frame_gap);
        height = std::max(height, b.bottom - b.top);
    }
    return {width, height};
}

bool TMovieWindowView::setup_conversion() {
    busy_ = true;
    if (!conversion_->setup()) {
        busy_ = false;
        return false;
    }
    {
        PictureControl dialog(*this);
        dialog.exec();
    }
    // A cancelled dialog leaves the database empty and closes it.
    conversion_->abandon();
    busy_ = false;
    return true;
}

void TMovieWindowView::run_conversion() {
    app_.show_status(title_ + ": converting...");
    const ConversionResult result = conversion_->run(brightness);
    const QString pdb = QString::fromStdString(conversion_->pdb_name());
    const QString mpg = QString::fromStdString(conversion_->mpeg_name());
    switch (result) {
        case ConversionResult::finished: app_.show_status(title_ + ": converted into " + pdb + " and " + mpg); break;
        case ConversionResult::stopped:
            // A stop while the database is written keeps what was written (and says so in a box).
            app_.show_status(title_ + ": conversion stopped; " + mpg + " holds the frames coded so far, " + pdb +
                             (QFileInfo(pdb).size() == 0 ? " was left empty" : " holds only some frames"));
            break;
        case ConversionResult::failed: app_.show_status(title_ + ": conversion failed"); break;
    }
}

void TMovieWindowView::confirm_stop() {
    if (app_.message_boxes().ask_yes_no(this, "Are you sure you want to stop this conversion?", "Stop Conversion"))
        conversion_->cancel_requested = 1;
}

bool TMovieWindowView::can_close() {
    if (converting()) {
        conversion_->cancel_requested = 1;
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

void TMovieWindowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!received_.isNull()) painter.drawImage(0, 0, received_);
    if (!dithered_.isNull()) painter.drawImage(received_.width() + frame_gap, 0, dithered_);
}

bool TMovieWindowView::pump_waiting_messages() { return app_.pump_waiting_messages(); }

void TMovieWindowView::show_received_frame(const Bitmap& bitmap) {
    received_ = image_from_bitmap(bitmap);
    update(QRect(QPoint(0, 0), received_.size()));
}

void TMovieWindowView::show_dithered_frame(const Bitmap& bitmap) {
    dithered_ = image_from_bitmap(bitmap);
    update(QRect(QPoint(received_.width() + frame_gap, 0), dithered_.size()));
}

void TMovieWindowView::progress(int frame, int count) {
    app_.show_status(QString("%1: converting frame %2 of %3").arg(title_).arg(frame + 1).arg(count));
    emit frame_progress(frame, count);
}

void TMovieWindowView::show_message(const std::string& text, const std::string& caption) {
    const QString detail =
        caption == "QuickTime Error" || caption == "QT DLL"
            ? QString::fromStdString(conversion_->movie_path() + ": " + conversion_->open_detail())
            : QString();
    // The movie library speaks before the view has a window: its boxes have no owner.
    app_.message_boxes().inform(isVisible() ? this : nullptr, QString::fromStdString(text),
                                QString::fromStdString(caption), detail);
}

}  // namespace vintrel
