// vintrel-screenshots [--fit WxH] [--queue MOVIE]... MOVIE DIR [NAME]: runs the desktop program's
// real windows, opens the movie,
// converts it, and saves what they show as PNG files in DIR. Without NAME: the Picture Control
// dialog, the main window while it converts the movie, and the About box, each window alone.
// With NAME: the whole screen, window manager and all, with the dialog up, while the movie
// converts and once it is over (NAME-picture-control.png, NAME-converting.png, NAME-outcome.png).
// --fit chooses the screen size the frames are fitted inside. --queue movies are opened halfway
// through the conversion, so they wait in the queue: then NAME-queue.png shows the screen instead
// of NAME-converting.png, and the queue is emptied again.
// A handheld database FILE.pdb instead of a movie: the player, as player.png (the main window) or
// NAME-player.png (the whole screen).
// Meant for a virtual display (scripts/take-screenshots).
#include <cstdio>

#include <utility>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/movie_window_view.h"
#include "app/picture_control.h"
#include "app/queue_panel.h"
#include "app/screen_size_menu.h"
#include "app/tessel_app.h"

namespace {

// Lets the windows (and a window manager) finish drawing.
void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(const QPixmap& picture, const QString& path) {
    if (picture.save(path)) return true;
    std::fprintf(stderr, "vintrel-screenshots: couldn't write %s\n", qPrintable(path));
    return false;
}

bool save(QWidget& window, const QString& path) {
    QApplication::processEvents();
    return save(window.grab(), path);
}

bool save_screen(const QString& path) {
    settle(500);
    return save(QApplication::primaryScreen()->grabWindow(0), path);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    QStringList args = QApplication::arguments().mid(1), queued;
    vintrel::ScreenSize fit;
    while (args.size() >= 2 && args[0].startsWith("--")) {
        if (args[0] == "--fit" && vintrel::parse_screen_size(args[1].toStdString(), fit)) {
        } else if (args[0] == "--queue") {
            queued << args[1];
        } else {
            break;
        }
        args = args.mid(2);
    }
    if (args.size() != 2 && args.size() != 3) {
        std::fprintf(stderr, "usage: vintrel-screenshots [--fit WxH] [--queue MOVIE]... MOVIE DIR [NAME]\n");
        return 2;
    }
    const QString movie = args[0], dir = args[1];
    const QString name = args.value(2);
    const bool whole_screen = !name.isEmpty();
    // What the program remembers stays in the current (work) folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::currentPath() + "/settings");
    vintrel::TTesselApp app;
    app.screen_size_menu().choose(fit);
    // The "Finished" notice would wait for a click: it is answered at once.
    app.message_boxes().set_responder([](const vintrel::MessageBoxes::Box& box) {
        std::printf("%s: %s\n", qPrintable(box.caption), qPrintable(box.text));
        return vintrel::MessageBoxes::Answer::ok;
    });
    if (!whole_screen) app.main_window().resize(900, 560);
    app.main_window().show();

    bool ok = true;
    if (vintrel::TTesselApp::is_database(movie)) {
        // A handheld database: the player, a second into playing it.
        QTimer::singleShot(0, [&] {
            app.open_files({movie});
            settle(1000);
            ok = whole_screen ? save_screen(dir + "/" + name + "-player.png") : save(app.main_window(), dir + "/player.png");
            QApplication::exit(ok ? 0 : 1);
        });
        return qt.exec();
    }
    QTimer poll;
    bool shown = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<vintrel::PictureControl*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        // A movie queued for its picture, which came to its turn meanwhile, is not converted.
        if (std::exchange(shown, true)) {
            dialog->reject();
            return;
        }
        ok = (whole_screen ? save_screen(dir + "/" + name + "-picture-control.png")
                           : save(*dialog, dir + "/picture-control.png")) &&
             ok;
        // The main window is shown halfway through the conversion, with its progress.
        auto* view = qobject_cast<vintrel::TMovieWindowView*>(dialog->parentWidget());
        QObject::connect(view, &vintrel::TMovieWindowView::frame_progress, view, [&](int frame, int count) {
            if (frame != count / 2) return;
            QTimer::singleShot(0, [&] {
                if (!queued.isEmpty()) {
                    app.open_movies(queued);
                    ok = save_screen(dir + "/" + name + "-queue.png") && ok;
                    app.queue().clear();
                    return;
                }
                ok = (whole_screen ? save_screen(dir + "/" + name + "-converting.png")
                                   : save(app.main_window(), dir + "/main-window.png")) &&
                     ok;
            });
        });
        if (!whole_screen) app.mdi_area().tileSubWindows();
        dialog->accept();
    });
    poll.start(50);
    // Once the movie is dealt with: its outcome, or the About box.
    QObject::connect(&app, &vintrel::TTesselApp::queue_done, [&] {
        if (whole_screen) {
            ok = save_screen(dir + "/" + name + "-outcome.png") && ok;
        } else {
            app.about_action().trigger();
            if (auto* about = app.main_window().findChild<vintrel::TTesselAboutDlg*>()) {
                ok = save(*about, dir + "/about-box.png") && ok;
                about->accept();
            }
        }
        QApplication::exit(ok ? 0 : 1);
    });
    QTimer::singleShot(0, [&] { app.open_movie(movie); });
    return qt.exec();
}
