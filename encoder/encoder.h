// The MPEG video encoder as programs use it: made from a configuration, handed pictures in the
// order they are shown, finished.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>

#include "base/fault.h"
#include "encoder/setup/buffers.h"
#include "encoder/setup/geometry.h"
#include "encoder/setup/parameters.h"
#include "encoder/setup/reporter.h"

namespace vintrel {

struct EncoderState;

// What can stop the encoder.
enum class EncoderFailure {
    none,
    fatal,               // the encoder's own error: `detail` is its text, kept exactly ("Couldn't create output file walk.mpg")
    stream_unwritable,   // the stream file took fewer bytes than it was given
};
using EncoderFault = Fault<EncoderFailure>;

// Receives each coded picture as a decoder will rebuild it, in coding order, with its number in
// display order (from 0). A fault it returns ends the encoding as the encoder's own would.
using ReconstructionSink = std::function<EncoderFault(const Picture& picture, int display_number)>;

// Codes params.frame_count pictures into one sequence. The pictures come in display order; the
// encoder holds the B pictures back until the reference picture after them has come, and codes
// each picture as soon as it can. It never reads pictures, never waits for anything and never
// ends the process: a fatal error (a file that cannot be made, memory that runs out) flushes the
// stream written so far and comes back as a fault, after which the encoder codes nothing more.
// To stop early, stop handing pictures in and call finish(): a picture already handed in has been
// coded whole.
class Encoder {
public:
    // Prepares the buffers, opens the statistics file (params.statistics_file_name; a name starting
    // with "-" is the standard output) and writes the sequence header into `stream`, which stays
    // the caller's to close. Warnings and progress go to `report`; with a sink, every coded
    // picture's reconstruction goes there. Without an encoder, the fault says why.
    static Result<std::unique_ptr<Encoder>, EncoderFailure> open(const Parameters& params, std::FILE* stream,
                                                                 Reporter report = {}, ReconstructionSink sink = {});
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // The picture to fill with the next frame, in the encoder's layout: planes of geometry()'s
    // coded sizes, chroma by params.chroma_format, borders extended to the coded size.
    Picture& next_picture();
    // The picture from next_picture() holds the next frame: codes every picture that can be coded now.
    EncoderFault encode_next();

    // Pictures handed in so far.
    int pictures_given() const { return given_; }

    // Ends the sequence with its end code and hands every byte to the stream file. Pictures held
    // back (B pictures whose reference never came) are not coded. Fails (stream_unwritable) when
    // the file took fewer bytes than it was given, now or earlier.
    EncoderFault finish();
    // Whether a write to the stream file has come back short: the rest is lost.
    bool write_failed() const;
    // Moves the bytes produced so far into the stream file (after an error outside the encoder).
    void flush();

    // Closes the statistics file (the standard output is flushed); returns whether everything
    // written to it reached it. The destructor closes it too.
    bool close_statistics();

    const Parameters& parameters() const;
    const Geometry& geometry() const;

private:
    Encoder(ReconstructionSink sink);
    void code_picture(int i);

    std::unique_ptr<EncoderState> state_;
    ReconstructionSink sink_;
    int given_ = 0;  // pictures handed in, in display order
    int coded_ = 0;  // pictures coded, in coding order
    EncoderFault fault_;  // the fatal error that ended the encoding
};

}  // namespace vintrel
