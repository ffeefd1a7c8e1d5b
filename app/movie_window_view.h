// The view of one opened movie: its conversion, the Cancel button, the close guard, and the
// frames drawn side by side while it converts.
#pragma once

#include <memory>

#include <QImage>
#include <QString>
#include <QWidget>

#include "convert/conversion.h"
#include "convert/conversion_host.h"

class QPushButton;

namespace vintrel {

class TTesselApp;

class TMovieWindowView : public QWidget, public ConversionHost {
    Q_OBJECT
public:
    // Opens the movie; when that fails the movie library's message has been shown (with no
    // owner) and movie_open() is false.
    TMovieWindowView(TTesselApp& app, const QString& path);
    ~TMovieWindowView() override;

    bool movie_open() const { return conversion_->movie() != nullptr; }

    // Creates the empty .pdb, derives the .mpg name, counts the frames and runs the Picture
    // Control dialog, whose Ok converts. Returns false when the conversion could not be set up
    // (the reason has been shown); the view should then close.
    bool setup_conversion();

    // Converts with the view's brightness; called by the dialog's Ok.
    void run_conversion();

    // The Cancel button's question; Yes asks the running conversion to stop.
    void confirm_stop();

    // The close guard: a converting view refuses and stops its conversion.
    bool can_close();

    // True from the dialog's start to the conversion's end: the view must stay as it is.
    bool busy() const { return busy_; }
    bool converting() const { return conversion_->converting != 0; }

    // The offset added to every grey before dithering; 0 for each new view, set by the dialog.
    int brightness = 0;

    Conversion& conversion() { return *conversion_; }
    QPushButton& cancel_button() { return *cancel_button_; }
    QSize sizeHint() const override;

    // ConversionHost
    bool pump_waiting_messages() override;
    void show_received_frame(const Bitmap& bitmap) override;
    void show_dithered_frame(const Bitmap& bitmap) override;
    void progress(int frame, int count) override;
    void show_message(const std::string& text, const std::string& caption) override;

signals:
    // Frame `frame` (from 0) of `count` is about to be grabbed.
    void frame_progress(int frame, int count);

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    TTesselApp& app_;
    QString title_;
    std::unique_ptr<Conversion> conversion_;
    QPushButton* cancel_button_ = nullptr;
    bool busy_ = false;
    // The last pair drawn during the conversion, kept so a repaint shows them again.
    QImage received_, dithered_;
};

}  // namespace vintrel
