// How long the handheld player takes to show a frame: the record expanded into an image, and the
// whole step (expanding, then drawing the player's screen) as the player does it while playing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "app/pdb_player.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: player_benchmark FILE.pdb\n");
        return 2;
    }
    using clock = std::chrono::steady_clock;
    const auto load_start = clock::now();
    vintrel::PdbPlayer player(QString::fromLocal8Bit(argv[1]));
    const double load = std::chrono::duration<double, std::milli>(clock::now() - load_start).count();
    if (!player.playable()) {
        std::fprintf(stderr, "player_benchmark: %s\n", qPrintable(player.problem()));
        return 1;
    }
    player.pause();
    player.set_zoom(1);
    player.resize(player.sizeHint());
    QImage canvas(player.size(), QImage::Format_RGB32);
    std::vector<double> shown;
    for (int round = 0; round < 3; round++) {
        for (int k = 0; k < player.frame_count(); k++) {
            const auto start = clock::now();
            player.show_frame(k == player.position() ? k + 1 : k);
            QPainter painter(&canvas);
            player.render(&painter);
            painter.end();
            shown.push_back(std::chrono::duration<double, std::milli>(clock::now() - start).count());
        }
    }
    std::sort(shown.begin(), shown.end());
    std::printf("%s: %d frames of %dx%d, read and checked in %.0f ms\n", argv[1], player.frame_count(),
                player.frame().width(), player.frame().height(), load);
    std::printf("frame shown (expanded, drawn at 1x): median %.2f ms, 90th percentile %.2f ms, worst %.2f ms\n",
                shown[shown.size() / 2], shown[shown.size() * 9 / 10], shown.back());
    return 0;
}
