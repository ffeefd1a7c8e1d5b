// What the program around the encoder lends it: reporting, movie frames, the message pump.
#pragma once

#include <functional>

#include "encoder/setup/buffers.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

// Fills a source picture with movie frame n (input_picture_format 2); set by the conversion.
using MovieFrameReader = std::function<void(Picture& picture, int n)>;

// Runs the window messages that are waiting during long work; returns true while there were any.
using MessagePump = std::function<bool()>;

struct Hooks {
    Reporter report;
    MovieFrameReader read_movie_frame;
    MessagePump pump_waiting_messages;
};

}  // namespace vintrel
