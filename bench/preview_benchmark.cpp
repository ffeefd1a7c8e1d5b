// Preview stepping speed: ">>" from frame k to k + 1 and "<<" back, as the picture control
// dialog does it (the dithered preview of a sampled frame).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>
#include <algorithm>

#include "convert/frame_grabber.h"
#include "convert/movie/movie.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: preview_benchmark MOVIE\n");
        return 2;
    }
    auto [movie, fault] = vintrel::Movie::open(argv[1]);
    if (!movie) {
        std::fprintf(stderr, "preview_benchmark: %s: %s\n", argv[1], fault.detail.c_str());
        return 1;
    }
    using clock = std::chrono::steady_clock;
    auto step = [&](int frame) {
        const auto start = clock::now();
        vintrel::Bitmap b = vintrel::preview_frame(*movie, frame, 0);
        return std::chrono::duration<double, std::milli>(clock::now() - start).count();
    };
    std::vector<double> forward, back;
    for (int k = 0; k < 60; k++) forward.push_back(step(k));
    for (int k = 120; k > 100; k--) back.push_back(step(k));
    auto report = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%s: median %.1f ms, worst %.1f ms\n", what, v[v.size() / 2], v.back());
    };
    report("preview step >> (frame k to k + 1)", forward);
    report("preview step << (frame k to k - 1)", back);
    return 0;
}
