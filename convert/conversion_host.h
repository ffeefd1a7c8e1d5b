// What a running conversion tells the program around it, and the kinds of its messages.
#pragma once

#include <string>

#include "convert/movie/movie.h"

namespace vintrel {

// What kind of message a conversion has for the user, so that a host can treat each (its icon,
// whether it adds the movie's open detail, whether it ends the conversion) without reading the caption.
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

// What a running conversion tells the program around it. The desktop program and the command line
// each fill this in, so both share every line of the conversion itself. Every call comes from the
// thread that runs the conversion; messages for the user come afterwards, in its outcome.
class ConversionHost {
public:
    virtual ~ConversionHost() = default;

    // A grabbed frame as received from the movie and after dithering. The dithered frame is made
    // only for a host that draws it.
    virtual bool draws_frames() const { return true; }
    virtual void show_received_frame(const Bitmap&) {}
    virtual void show_dithered_frame(const Bitmap&) {}

    // Frame `frame` (from 0) of `count` is being converted.
    virtual void progress(int /*frame*/, int /*count*/) {}
    // Every frame is coded; the database is being written.
    virtual void writing_database() {}

    // What the encoder and the movie say as they go, as text with its own line feeds: warnings
    // ("vbv_delay underflow: -2240", a picture the movie could not give) and the encoder's progress
    // ("Encoding frame 3 " and a dot per macroblock row). The outcome lists the warnings again,
    // grouped.
    virtual void warning_text(const std::string&) {}
    virtual void encoder_progress(const std::string&) {}
};

}  // namespace vintrel
