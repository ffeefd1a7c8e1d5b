// vintrel: the desktop program. Movies and handheld databases named on the command line open as
// if chosen with File, Open....
#include <csignal>
#include <cstring>

#include <QApplication>
#include <QTimer>

#include "app/program_version.h"
#include "app/tessel_app.h"

int main(int argc, char** argv) {
    // Answered before Qt starts, so it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return vintrel::print_version("vintrel");
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Vintrel");
    // Past a file-size limit a write must fail with an error we can report, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);

    vintrel::TTesselApp app;
    app.main_window().show();
    const QStringList movies = QApplication::arguments().mid(1);
    if (!movies.isEmpty()) QTimer::singleShot(0, &app, [&app, movies] { app.open_files(movies); });
    return qt.exec();
}
