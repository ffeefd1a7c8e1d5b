// One conversion of a movie into the .pdb and .mpg beside it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "convert/conversion_host.h"
#include "convert/fitted_movie.h"
#include "convert/movie/movie.h"
#include "convert/movie/owned_movie.h"
#include "convert/pdb/frame_record.h"
#include "convert/pdb/record_spool.h"
#include "convert/pdb/writer.h"
#include "encoder/setup/encoder_state.h"

namespace vintrel {

// The movie's path with its last three characters replaced ("walk.mov" -> "walk.pdb").
std::string output_name(const std::string& movie_path, const char* extension);

// The name of the MPEG stream beside the movie: output_name(movie_path, "mpg"), unless that names
// the movie itself (an MPEG movie "walk.mpg", or a link to the movie): then the movie's path with
// its last three characters replaced by "dithered.mpg" ("walk.mpg" -> "walk.dithered.mpg").
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

struct ConversionOutcome {
    ConversionResult result = ConversionResult::failed;
    DatabaseState database = DatabaseState::untouched;
    StreamState stream = StreamState::untouched;
};

// Opens the movie at a path; on failure returns null, sets `result` and puts a technical detail
// into `detail`. Movie::open is the library's.
using MovieOpener =
    std::function<std::unique_ptr<Movie>(const std::string& path, MovieOpenResult& result, std::string& detail)>;

// Everything one conversion owns: its movie, output files, frame records and flags. The encoder
// state is shared by the conversions of a program and set up anew by each.
class Conversion {
public:
    Conversion(EncoderState& encoder, ConversionHost& host, std::string movie_path, MovieOpener open);
    ~Conversion();
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // Frames of the movies opened from now on are fitted inside the screen (none: the movie's
    // natural size); the preview, the records and the stream all take the fitted size.
    void fit_within(ScreenSize screen) { screen_ = screen; }
    ScreenSize screen() const { return screen_; }

    // Opens the movie with the opener; on failure shows the library's message and returns false.
    bool open_movie();

    // Checks the picture size, opens the .pdb for writing (created empty when missing, an
    // existing one kept as it is), derives the .mpg name and counts the frames. On failure shows
    // why and returns false; nothing is converted then.
    bool setup();

    // Converts with the brightness offset: empties the .pdb, encodes the .mpg (pulling every frame through the
    // frame grabber), then writes the .pdb, and says "Finished" when all went well.
    ConversionOutcome run(int brightness);

    // Closes the files of a conversion that will not run (the dialog was cancelled).
    void abandon();

    // The user's Stop Conversion or a refused close: the conversion stops at its next check, which
    // comes while the host pumps its messages.
    void request_stop() { stop_requested_ = true; }
    bool stop_requested() const { return stop_requested_; }
    // Between run()'s start and its end.
    bool running() const { return running_; }
    // The outputs as they stand: during run() as far as it got, afterwards what run() returned.
    const ConversionOutcome& outcome() const { return outcome_; }

    // Lets a test reach the database size limit with a small movie.
    void limit_database_for_test(std::uint64_t bytes) { database_reach_ = bytes; }

    Movie* movie() const { return movie_.get(); }
    int frame_count() const { return frame_count_; }
    const std::string& movie_path() const { return movie_path_; }
    const std::string& pdb_name() const { return pdb_name_; }
    const std::string& mpeg_name() const { return mpeg_name_; }
    const std::string& open_detail() const { return open_detail_; }
    const RecordArray& records() const { return records_; }

private:
    bool keep_going();
    bool code_stream(int brightness, std::FILE*& stream);
    std::string finish_stream(std::FILE* stream);
    void show_too_large(std::size_t frames);
    void say_what_the_movie_lacks();
    void open_spool();
    void keep_record();

    ConversionOutcome fail(DatabaseState database, StreamState stream);

    EncoderState& encoder_;
    ConversionHost& host_;
    MovieOpener open_;
    bool stop_requested_ = false;
    bool running_ = false;
    ConversionOutcome outcome_;
    std::string movie_path_, pdb_name_, mpeg_name_, open_detail_;
    // Used by this thread, except while a conversion hands it to the thread that decodes ahead.
    std::unique_ptr<OwnedMovie> movie_;
    std::FILE* database_file_ = nullptr;
    RecordArray records_;
    // The records' rows wait on disk until the database is written.
    RecordSpool spool_;
    bool spool_full_ = false;         // rows the spool cannot take stay in memory
    std::uint64_t record_bytes_ = 0;  // the rows of all records so far
    bool too_large_ = false;          // the records have passed what a database can address
    std::uint64_t database_reach_ = pdb::database_reach;
    int frame_count_ = 0;
    ScreenSize screen_;
};

}  // namespace vintrel
