// vintrel-screenshots MOVIE DIR: runs the desktop program's real windows, opens the movie, and
// saves what they show as PNG files in DIR: the Picture Control dialog, the main window while
// it converts the movie, and the About box. Meant for a virtual display (scripts/take-screenshots).
#include <cstdio>

#include <QApplication>
#include <QMdiArea>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/movie_window_view.h"
#include "app/picture_control.h"
#include "app/tessel_app.h"

namespace {

bool save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    if (window.grab().save(path)) return true;
    std::fprintf(stderr, "vintrel-screenshots: couldn't write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: vintrel-screenshots MOVIE DIR\n");
        return 2;
    }
    const QString movie = QString::fromLocal8Bit(argv[1]), dir = QString::fromLocal8Bit(argv[2]);
    vintrel::TTesselApp app;
    // The "Finished" notice would wait for a click: it is answered at once.
    app.message_boxes().set_responder([](const vintrel::MessageBoxes::Box& box) {
        std::printf("%s: %s\n", qPrintable(box.caption), qPrintable(box.text));
        return vintrel::MessageBoxes::Answer::ok;
    });
    app.main_window().resize(900, 560);
    app.main_window().show();

    bool ok = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<vintrel::PictureControl*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        poll.stop();
        ok = save(*dialog, dir + "/picture-control.png") && ok;
        // The main window is shown halfway through the conversion, with its progress.
        auto* view = qobject_cast<vintrel::TMovieWindowView*>(dialog->parentWidget());
        QObject::connect(view, &vintrel::TMovieWindowView::frame_progress, view, [&](int frame, int count) {
            if (frame == count / 2)
                QTimer::singleShot(0, [&] { ok = save(app.main_window(), dir + "/main-window.png") && ok; });
        });
        app.mdi_area().tileSubWindows();
        dialog->accept();
    });
    poll.start(50);
    QTimer::singleShot(0, [&] {
        app.open_movie(movie);
        app.about_action().trigger();
        if (auto* about = app.main_window().findChild<vintrel::TTesselAboutDlg*>()) {
            ok = save(*about, dir + "/about-box.png") && ok;
            about->accept();
        }
        QApplication::exit(ok ? 0 : 1);
    });
    return qt.exec();
}
