// What a conversion needs from the program around it: message pumping, drawing, message boxes.
#pragma once

#include <string>

#include "convert/movie/movie.h"

namespace vintrel {

// The desktop program and the command line each fill this in, so both share every line of the
// conversion itself.
class ConversionHost {
public:
    virtual ~ConversionHost() = default;

    // Runs the window messages that are waiting; returns true when there was one.
    virtual bool pump_waiting_messages() { return false; }

    // A grabbed frame as received from the movie (drawn at (0, 0)) and after dithering (drawn
    // beside it, at (width + 50, 0)). The dithered frame is made only for a host that draws it.
    virtual bool draws_frames() const { return true; }
    virtual void show_received_frame(const Bitmap&) {}
    virtual void show_dithered_frame(const Bitmap&) {}

    // Frame `frame` (from 0) of `count` is being converted.
    virtual void progress(int /*frame*/, int /*count*/) {}

    // An OK-only message box with the given text and caption.
    virtual void show_message(const std::string& text, const std::string& caption) = 0;
};

}  // namespace vintrel
