// One conversion of a movie into the .pdb and .mpg beside it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "base/fault.h"
#include "convert/conversion_host.h"
#include "convert/fitted_movie.h"
#include "convert/movie/movie.h"
#include "convert/movie/owned_movie.h"
#include "convert/movie_part.h"
#include "convert/pdb/frame_record.h"
#include "convert/pdb/record_spool.h"
#include "convert/pdb/writer.h"

namespace vintrel {

class Encoder;
struct Parameters;

// What can stop the encoder (encoder/encoder.h).
enum class EncoderFailure;
using EncoderFault = Fault<EncoderFailure>;

// The movie's path with its extension, the text after the last dot of its file name whatever its
// length, replaced by `extension`; a name without one gets it added ("walk.mov" -> "walk.pdb",
// "clip.webm" -> "clip.pdb", "clip.ts" -> "clip.pdb", "notes" -> "notes.pdb").
std::string output_name(const std::string& movie_path, const char* extension);

// The name of the MPEG stream beside the movie: output_name(movie_path, "mpg"), unless that names
// the movie itself (an MPEG movie "walk.mpg", or a link to the movie): then
// output_name(movie_path, "dithered.mpg") ("walk.mpg" -> "walk.dithered.mpg").
std::string stream_name(const std::string& movie_path);

// The movie's document title: its file name without the directory.
std::string document_title(const std::string& movie_path);

// Frames sampled at 5 per second: the number of whole or partial fifths of a second.
int count_frames(std::int32_t duration, std::int32_t time_scale);

enum class ConversionResult { finished, stopped, failed };

// What became of the .pdb.
enum class DatabaseState {
    untouched,  // left as it was: the conversion did not start
    emptied,    // emptied when the conversion started, and left empty (stopped or failed before it was written)
    partial,    // stopped while it was written: its header lists every frame, the file holds only some
    written,    // complete
};

// What became of the .mpg.
enum class StreamState {
    untouched,    // not created (or left as it was)
    incomplete,   // being written, or a write failed: the file holds what reached the disk
    ended_early,  // stopped by the user or by a database that grew too large: a whole stream of
                  // the frames coded until then
    complete,     // every frame coded
};

// Why a movie could not be converted.
enum class ConversionFailure {
    none,
    movie_unreadable,      // the file holds no movie the library can decode; `detail` says why
    movie_open_failed,     // the movie could not be opened at all (missing, unreadable); `detail` says why
    picture_size,          // the picture is larger than a stream can carry; `detail` is "WxH"
    replaces_movie,        // the output `file` names the movie itself
    database_uncreatable,  // the .pdb `file` could not be opened for writing (before anything was converted)
    database_not_emptied,  // the .pdb `file` could not be emptied, or made, when the conversion started
    encoder,               // the encoder stopped; `detail` is its own text
    stream_unwritable,     // the .mpg `file` could not be written
    database_too_large,    // the records (their number in `detail`) need more than a database can address
    database_unwritable,   // the .pdb `file` could not be written
};

using ConversionFault = Fault<ConversionFailure>;

// A message for the user, with the icon's kind and the box's caption. A message about the movie
// (`about_movie`) is shown after the movie's name: "walk.mov: the picture size ...".
struct Message {
    Notice kind = Notice::warning;
    std::string text;
    std::string caption;
    bool about_movie = false;

    // The sentence as a window shows it: the movie's file name first when the message is about it.
    std::string sentence(const std::string& movie_title) const {
        return about_movie ? movie_title + ": " + text : text;
    }
};

// What the encoder or the movie noticed while converting, grouped by what it is: the first text
// of the group ("vbv_delay underflow: -2240") and how many pictures it came for.
struct WarningGroup {
    std::string label;  // what the group is ("vbv_delay underflow")
    std::string first;  // the first text, without line feeds
    int pictures = 0;
};

struct ConversionOutcome {
    ConversionResult result = ConversionResult::failed;
    DatabaseState database = DatabaseState::untouched;
    StreamState stream = StreamState::untouched;
    ConversionFault fault;              // why it failed (kind none otherwise)
    std::vector<Message> notes;         // what the user should know about the outputs, in order
    std::vector<WarningGroup> warnings;  // the encoder's and the movie's warnings, in order of first sight
};

// The message that tells the user of a fault of the conversion (kind none: an empty message).
Message fault_message(const ConversionFault& fault, const std::string& database_name);

// The message of a finished conversion.
Message finished_message();

// Opens the movie at a path, or says why it cannot. Movie::open is the library's.
using MovieOpener = std::function<Result<std::unique_ptr<Movie>, MovieFailure>(const std::string& path)>;

// The encoder configuration every conversion codes with: the built-in parameter lines, read and
// checked. Their start-up fix-ups (the same on every run) go to `warning`, or nowhere.
Result<std::shared_ptr<const Parameters>, EncoderFailure> builtin_configuration(
    const std::function<void(const std::string&)>& warning = nullptr);

// Everything one conversion owns: its movie, output files, frame records and its encoder, made
// from the configuration it is given when it runs.
//
// Threads: the thread that makes the conversion opens the movie, sets it up and previews it.
// run() may be called on another thread once the first has called release_movie(); during run()
// the conversion belongs to that thread, and tells its host only through ConversionHost (from
// that thread). Stopping is the stop token's.
class Conversion {
public:
    Conversion(std::shared_ptr<const Parameters> configuration, ConversionHost& host, std::string movie_path,
               MovieOpener open);
    ~Conversion();
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // Frames of the movies opened from now on are fitted inside the screen (none: the movie's
    // natural size); the preview, the records and the stream all take the fitted size.
    void fit_within(ScreenSize screen) { screen_ = screen; }
    ScreenSize screen() const { return screen_; }

    // The folder the .pdb and .mpg go to, under the names they would have beside the movie; empty
    // (the default): beside the movie. Takes effect at setup().
    void write_into(std::string folder) { output_folder_ = std::move(folder); }

    // Converts only this part of the movie's sampled frames (record 0 is the part's first frame);
    // by default the whole movie. A part beyond the movie's end is cut to it when run() starts.
    void choose_part(FramePart part) { part_ = part; }
    // The part that run() converts, within the movie counted by setup().
    FramePart part() const { return part_.within(frame_count_); }

    // Opens the movie with the opener; on failure fault() says why and it returns false.
    bool open_movie();

    // Checks the picture size and the output names, makes sure the .pdb can be written (an
    // existing one is opened and kept as it is; a missing one is not created yet), derives the
    // .mpg name and counts the frames. Creates nothing. On failure fault() says why and it
    // returns false; nothing is converted then.
    bool setup();

    // Why open_movie() or setup() failed.
    const ConversionFault& fault() const { return outcome_.fault; }

    // The thread that opened the movie gives it up, so that run() may use it on another thread.
    void release_movie();

    // Converts with the brightness offset: empties (or creates) the .pdb, codes the .mpg while it takes every
    // frame, then writes the .pdb. A stop requested through `stop` ends it at the next picture (a
    // picture already begun is coded whole), or while the database is written. Returns what
    // became of it, with its fault and notes; nothing is shown to the user from here.
    ConversionOutcome run(int brightness, std::stop_token stop = {});

    // Closes the files of a conversion that will not run (the dialog was cancelled).
    void abandon();

    // Lets a test reach the database size limit with a small movie.
    void limit_database_for_test(std::uint64_t bytes) { database_reach_ = bytes; }

    Movie* movie() const { return movie_.get(); }
    int frame_count() const { return frame_count_; }
    const std::string& movie_path() const { return movie_path_; }
    const std::string& pdb_name() const { return pdb_name_; }
    const std::string& mpeg_name() const { return mpeg_name_; }
    const std::string& statistics_name() const;
    const std::string& open_detail() const { return outcome_.fault.detail; }
    const RecordArray& records() const { return records_; }
    // What the movie's file claims beyond its pictures (cut short, or stamps far in the future).
    MovieExtent movie_extent() const { return movie_ ? movie_->extent() : MovieExtent{}; }

private:
    Result<bool, EncoderFailure> code_stream(Encoder& encoder, int brightness, const std::stop_token& stop);
    void tally(std::string label, const std::string& text);
    void say_what_the_movie_lacks();
    void open_spool();
    void keep_record();
    void note(const std::string& text, bool about_movie = false);
    bool refuse(ConversionFailure kind, std::string file, int system_error = 0, std::string detail = {});
    ConversionOutcome fail(ConversionFailure kind, std::string file, int system_error, DatabaseState database,
                           StreamState stream);

    std::shared_ptr<const Parameters> configuration_;
    ConversionHost& host_;
    MovieOpener open_;
    ConversionOutcome outcome_;
    std::string movie_path_, pdb_name_, mpeg_name_;
    std::unique_ptr<OwnedMovie> movie_;
    std::FILE* database_file_ = nullptr;  // an existing .pdb, opened by setup()
    bool set_up_ = false;                  // setup() succeeded and run() has not started
    RecordArray records_;
    // The records' rows wait on disk until the database is written.
    RecordSpool spool_;
    bool spool_full_ = false;         // rows the spool cannot take stay in memory
    std::uint64_t record_bytes_ = 0;  // the rows of all records so far
    bool too_large_ = false;          // the records have passed what a database can address
    std::uint64_t database_reach_ = pdb::database_reach;
    int frame_count_ = 0;
    FramePart part_;
    ScreenSize screen_;
    std::string output_folder_;
    // The picture being taken and coded, and the last picture each warning group counted.
    int picture_ = -1;
    std::vector<int> counted_picture_;
};

}  // namespace vintrel
