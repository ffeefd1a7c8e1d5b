// How much of the screen a window of this program may take.
#pragma once

#include <QScreen>
#include <QSize>
#include <QWidget>

namespace vintrel {

// The frame and title bar the window manager adds to `window`, but no less than a usual one: a
// window manager may not have reported it yet.
inline QSize window_frame_size(const QWidget& window) {
    constexpr QSize least(16, 48);
    return (window.frameGeometry().size() - window.size()).expandedTo(least);
}

// The largest size a window of this program may have on `window`'s screen: the available area
// less the frame the main window `main` is given.
inline QSize largest_window_size(const QWidget& window, const QWidget& main) {
    const QScreen* screen = window.screen();
    if (!screen) return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    return screen->availableGeometry().size() - window_frame_size(main);
}

}  // namespace vintrel
