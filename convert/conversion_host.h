// What a conversion needs from the program around it: message pumping, drawing, message boxes.
#pragma once

#include <string>

#include "convert/movie/movie.h"

namespace vintrel {

// What kind of message a conversion shows, so that a host can treat each (its icon, whether it
// adds the movie's open detail, whether it ends the conversion) without reading the caption.
enum class Notice {
    finished,           // the conversion went through: both files are written
    movie_unreadable,   // the file holds no movie the library can decode; Conversion::open_detail() says why
    movie_open_failed,  // the movie could not be opened at all (missing, unreadable); open_detail() says why
    refused,            // this movie cannot be converted as it is; nothing was created or changed
    error,              // an output could not be created or written: the conversion failed
    warning,            // the conversion goes on or has ended, with something the user should know
    fatal,              // the encoder stopped on an error (its own text, caption "MPEG Error"): the conversion failed
};

// Whether the notice is about opening the movie, with a technical detail to show beside it.
constexpr bool about_opening(Notice kind) { return kind == Notice::movie_unreadable || kind == Notice::movie_open_failed; }

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

    // An OK-only message box with the given text and caption, shown exactly as given.
    virtual void show_message(Notice kind, const std::string& text, const std::string& caption) = 0;
};

}  // namespace vintrel
