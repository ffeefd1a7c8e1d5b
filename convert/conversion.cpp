// The conversion driver.
#include "convert/conversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "convert/frame_grabber.h"
#include "convert/pdb/writer.h"
#include "encoder/coding/bit_writer.h"
#include "encoder/coding/encode_sequence.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/init_encoder.h"
#include "encoder/setup/read_parameters.h"

namespace vintrel {
namespace {

constexpr double sample_rate = 5.0;
const char* const program_caption = "Vintrel";

// The largest picture an MPEG-1 sequence header can describe.
constexpr int max_picture_size = 4095;

// Whether both paths name one existing file (the same name, a link, another spelling).
bool same_file(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (a == b) return true;
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Opens the file for reading and writing, creating it empty when it is missing but keeping what
// an existing one holds.
std::FILE* open_keeping_contents(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "r+b");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

}  // namespace

std::string output_name(const std::string& movie_path, const char* extension) {
    std::string name = movie_path;
    const std::size_t n = std::strlen(extension);
    if (name.size() < n) return name + extension;
    return name.replace(name.size() - n, n, extension);
}

std::string stream_name(const std::string& movie_path) {
    const std::string name = output_name(movie_path, "mpg");
    if (!same_file(name, movie_path)) return name;
    return movie_path.substr(0, movie_path.size() - std::min<std::size_t>(movie_path.size(), 3)) + "dithered.mpg";
}

std::string document_title(const std::string& movie_path) {
    const std::size_t slash = movie_path.find_last_of('/');
    return slash == std::string::npos ? movie_path : movie_path.substr(slash + 1);
}

int count_frames(std::int32_t duration, std::int32_t time_scale) {
    if (time_scale <= 0 || duration <= 0) return 0;
    auto n = static_cast<std::int64_t>(duration * sample_rate / time_scale);
    if (static_cast<double>(n * time_scale) / sample_rate < duration) n++;
    return static_cast<int>(n);
}

Conversion::Conversion(EncoderState& encoder, ConversionHost& host, std::string movie_path, MovieOpener open)
    : encoder_(encoder), host_(host), open_(std::move(open)), movie_path_(std::move(movie_path)) {}

Conversion::~Conversion() { abandon(); }

void Conversion::abandon() {
    if (database_file_) std::fclose(database_file_);
    database_file_ = nullptr;
}

bool Conversion::open_movie() {
    MovieOpenResult result = MovieOpenResult::failed;
    std::unique_ptr<Movie> movie = open_(movie_path_, result, open_detail_);
    if (movie && !screen_.none()) movie = std::make_unique<FittedMovie>(std::move(movie), screen_);
    if (movie) {
        movie_ = std::make_unique<OwnedMovie>(std::move(movie));
        return true;
    }
    if (result == MovieOpenResult::invalid_format)
        host_.show_message(Notice::movie_unreadable,
                           "The movie file could not be opened. It may be in use or in an invalid format.",
                           "QuickTime Error");
    else
        host_.show_message(Notice::movie_open_failed, "OpenMovieFile failure", "QT DLL");
    return false;
}

bool Conversion::setup() {
    if (!movie_) return false;
    const MovieBounds bounds = movie_->natural_bounds();
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (width < 1 || height < 1 || width > max_picture_size || height > max_picture_size) {
        host_.show_message(Notice::refused,
                           document_title(movie_path_) + ": the picture size " + std::to_string(width) + "x" +
                               std::to_string(height) +
                               " cannot be carried by an MPEG-1 stream (width and height must be 1 to 4095). "
                               "Nothing was converted.",
                           program_caption);
        return false;
    }
    encoder_.params.frame_rate = sample_rate;

    pdb_name_ = output_name(movie_path_, "pdb");
    mpeg_name_ = stream_name(movie_path_);
    // A movie whose name ends in "pdb", or that is named as the statistics file, would be emptied
    // by an output before it is read: refuse, before anything is created.
    std::vector<const std::string*> outputs = {&pdb_name_, &mpeg_name_};
    // A statistics file name starting with "-" stands for the standard output.
    const std::string& statistics = encoder_.params.statistics_file_name;
    if (!statistics.starts_with('-')) outputs.push_back(&statistics);
    for (const std::string* output : outputs) {
        if (same_file(*output, movie_path_)) {
            host_.show_message(Notice::refused, document_title(movie_path_) + ": the output file " + *output +
                                   " would replace the movie itself. Nothing was converted.",
                               program_caption);
            return false;
        }
    }
    // Looking at a movie must not cost the database an earlier conversion made: it is emptied
    // only when run() starts. A database that cannot be opened for writing is still found here.
    database_file_ = open_keeping_contents(pdb_name_);
    if (!database_file_) {
        host_.show_message(Notice::error,
                           "Couldn't create output file " + pdb_name_ + " (" + std::strerror(errno) + ")",
                           program_caption);
        return false;
    }
    frame_count_ = count_frames(movie_->duration(), movie_->time_scale());
    return true;
}

void Conversion::show_too_large(std::size_t frames) {
    host_.show_message(Notice::error, "Couldn't write output file " + pdb_name_ + ": its " + std::to_string(frames) +
                           " frames need more than the 4 GB a handheld database can address. The movie was not "
                           "converted completely; the database was left empty.",
                       program_caption);
}

// Where the movie's file claims more than its pictures hold, the outputs hold less than it
// claims: say so, so that nothing partial passes for complete.
void Conversion::say_what_the_movie_lacks() {
    const MovieExtent extent = movie_->extent();
    const auto seconds = [scale = static_cast<double>(movie_->time_scale())](std::int32_t t) { return t / scale; };
    const double converted = seconds(movie_->duration());
    char text[256];
    if (extent.claimed_length) {
        std::snprintf(text, sizeof text, ": the pictures stop at %.1f s of the %.1f s its header gives; the rest could "
                      "not be read.", converted, seconds(*extent.claimed_length));
        host_.show_message(Notice::warning, document_title(movie_path_) + text, program_caption);
    }
    if (extent.stamped_length) {
        std::snprintf(text, sizeof text, ": its time stamps run to %.1f s, beyond the %.1f s it can hold; only the "
                      "first %.1f s were converted.", seconds(*extent.stamped_length), converted, converted);
        host_.show_message(Notice::warning, document_title(movie_path_) + text, program_caption);
    }
}

// The records' rows go to a spool file beside the outputs, else in the temporary directory; only
// where neither can be made do they stay in memory.
void Conversion::open_spool() {
    const std::size_t slash = pdb_name_.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : pdb_name_.substr(0, slash);
    if (spool_.open(directory)) return;
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (!error) spool_.open(temporary.string());
}

// Called with each new record: moves its rows to the spool, and stops the conversion as soon as
// the records can no longer fit a database. Rows the spool cannot take (a full disk, a file size
// limit) stay in memory; whether the database itself can be written is found when it is.
void Conversion::keep_record() {
    FrameRecord& record = *records_.back();
    record_bytes_ += record.data_length();
    const auto count = static_cast<std::uint64_t>(std::max<std::size_t>(frame_count_, records_.size()));
    if (!database_fits(count, record_bytes_, database_reach_)) too_large_ = true;
    if (spool_.is_open() && !spool_full_ && !spool_.store(record)) spool_full_ = true;
}

bool Conversion::keep_going() {
    while (host_.pump_waiting_messages()) {
    }
    return !stop_requested_;
}

// Everything the encoder produced reaches the file, and the file closes cleanly. On failure
// returns the reason.
std::string Conversion::finish_stream(std::FILE* stream) {
    errno = 0;
    const bool flushed = flush_bit_writer(encoder_.bits) && std::fflush(stream) == 0;
    const int flush_error = errno;
    const bool closed = std::fclose(stream) == 0;
    const int close_error = errno;
    encoder_.bits.out = nullptr;
    if (!flushed) return std::strerror(flush_error ? flush_error : EIO);
    if (!closed) return std::strerror(close_error ? close_error : EIO);
    return {};
}

ConversionOutcome Conversion::fail(DatabaseState database, StreamState stream) {
    running_ = false;
    outcome_ = {ConversionResult::failed, database, stream};
    return outcome_;
}

// Codes the stream into `stream` (opened here) while the frames are taken and their records kept.
// Returns whether every frame was coded; a fatal encoder error is thrown.
bool Conversion::code_stream(int brightness, std::FILE*& stream) {
    read_quant_matrices(encoder_);
    stream = std::fopen(mpeg_name_.c_str(), "wb");
    if (!stream) fatal_error(encoder_, error_text("Couldn't create output file %s", mpeg_name_.c_str()));
    outcome_.stream = StreamState::incomplete;

    const MovieBounds bounds = movie_->natural_bounds();
    encoder_.params.frame_rate = sample_rate;
    frame_count_ = count_frames(movie_->duration(), movie_->time_scale());
    encoder_.params.frame_count = frame_count_;
    encoder_.params.horizontal_size = static_cast<std::int16_t>(bounds.right - bounds.left);
    encoder_.params.vertical_size = static_cast<std::int16_t>(bounds.bottom - bounds.top);

    // The encoder stops at its next checkpoint when the user asks to, when the stream can no
    // longer be written (a full disk), or when the records have outgrown what a database can
    // address: there is no point in coding pictures that are lost.
    int stop_encoding = 0;
    FrameSource source{*movie_, host_, records_, brightness, movie_path_};
    open_spool();
    // The hooks point into this call: they go with it, however it ends.
    struct ClearHooks {
        Hooks& hooks;
        ~ClearHooks() {
            hooks.read_movie_frame = nullptr;
            hooks.pump_waiting_messages = nullptr;
        }
    } clear_hooks{encoder_.hooks};
    encoder_.hooks.read_movie_frame = [this, &source](Picture& picture, int n) {
        host_.progress(n, frame_count_);
        read_movie_frame(encoder_.params, encoder_.geometry, error_channel(encoder_), source, picture, n);
        keep_record();
    };
    encoder_.hooks.pump_waiting_messages = [this, &stop_encoding] {
        const bool waiting = host_.pump_waiting_messages();
        stop_encoding = stop_requested_ || encoder_.bits.write_failed || too_large_;
        return waiting;
    };
    encoder_.bits.out = stream;
    // The frames are asked for at these times in turn: a thread decodes and dithers them ahead
    // while this one codes. Up to six wait, so that a slow stretch of the movie (a key frame, a
    // seek) or of the coding does not hold the other side up.
    std::vector<std::int32_t> times;
    for (int k = 0; k < frame_count_; ++k) times.push_back(sample_time(k, movie_->time_scale(), sample_rate));
    std::unique_ptr<Prefetcher<GrabbedFrame>> ahead;
    try {
        const bool drawn = host_.draws_frames();
        const int rows = encoder_.params.vertical_size, columns = encoder_.params.horizontal_size;
        ahead = std::make_unique<Prefetcher<GrabbedFrame>>(
            std::move(times), 6, [this, brightness, rows, columns, drawn](std::int32_t t, GrabbedFrame& frame, auto&) {
                grab_frame(*movie_, t, brightness, rows, columns, drawn, frame);
                return true;
            },
            &movie_->owner());
        source.ahead = ahead.get();
    } catch (const std::exception&) {
        // No thread to spare: the frames are grabbed on demand.
    }
    init_encoder(encoder_);
    encode_sequence(encoder_, &stop_encoding);
    return stop_encoding == 0;  // the thread working ahead stops and hands the movie back
}

ConversionOutcome Conversion::run(int brightness) {
    outcome_ = {};
    if (!movie_ || !database_file_) return outcome_;
    if (::ftruncate(::fileno(database_file_), 0) != 0) {
        const int error = errno;
        abandon();
        host_.show_message(Notice::error, "Couldn't create output file " + pdb_name_ + " (" + std::strerror(error) +
                               "). Nothing was converted.",
                           program_caption);
        return outcome_;
    }
    running_ = true;
    outcome_.database = DatabaseState::emptied;
    std::FILE* stream = nullptr;
    bool coded_to_the_end = false;
    try {
        coded_to_the_end = code_stream(brightness, stream);
    } catch (const EncoderError& error) {
        // The encoder has flushed what it wrote; the stream ends there and the database stays empty.
        encoder_.bits.out = nullptr;
        if (stream) std::fclose(stream);
        close_statistics_file(encoder_);
        abandon();
        outcome_ = {ConversionResult::failed, DatabaseState::emptied,
                    stream ? StreamState::incomplete : StreamState::untouched};
        host_.show_message(Notice::fatal, error.what(), "MPEG Error");
        running_ = false;
        return outcome_;
    }

    const std::string stream_error = finish_stream(stream);
    const bool statistics_ok = close_statistics_file(encoder_);
    if (!stream_error.empty()) {
        // The database would describe a movie whose stream is incomplete: it stays empty.
        abandon();
        running_ = false;
        host_.show_message(Notice::error, "Couldn't write output file " + mpeg_name_ + " (" + stream_error +
                               "). The conversion was stopped; " + pdb_name_ + " was left empty.",
                           program_caption);
        return fail(DatabaseState::emptied, StreamState::incomplete);
    }
    outcome_.stream = coded_to_the_end ? StreamState::complete : StreamState::ended_early;

    if (too_large_) {
        // Found while encoding: the stream ends where the conversion stopped, the database stays empty.
        abandon();
        running_ = false;
        show_too_large(frame_count_);
        return fail(DatabaseState::emptied, StreamState::ended_early);
    }

    errno = 0;
    DatabaseResult database = DatabaseResult::stopped;
    const bool stopped_before_database = stop_requested_;
    if (!stopped_before_database)
        database = write_database(
            database_file_, document_title(movie_path_), records_, [this] { return keep_going(); }, &spool_);
    int database_errno = errno;
    if (database == DatabaseResult::written && std::fflush(database_file_) != 0) {
        database = DatabaseResult::write_failed;
        database_errno = errno;
    }
    if (database == DatabaseResult::write_failed) {
        // A header that lists records the file does not hold would look complete: empty it.
        if (::ftruncate(::fileno(database_file_), 0) != 0) database_errno = errno ? errno : database_errno;
    }
    const bool database_closed = std::fclose(database_file_) == 0;
    const int close_errno = errno;
    database_file_ = nullptr;
    running_ = false;

    if (database == DatabaseResult::too_large) {
        show_too_large(records_.size());
        return fail(DatabaseState::emptied, outcome_.stream);
    }
    if (database == DatabaseResult::write_failed || !database_closed) {
        const int reason = database == DatabaseResult::write_failed ? database_errno : close_errno;
        host_.show_message(Notice::error,
                           "Couldn't write output file " + pdb_name_ + " (" + std::strerror(reason ? reason : EIO) +
                               "). The movie was not converted completely; the database was left empty.",
                           program_caption);
        // A write failure empties the file; a failed close may have lost any part of it.
        return fail(database == DatabaseResult::write_failed ? DatabaseState::emptied : DatabaseState::partial,
                    outcome_.stream);
    }
    if (!statistics_ok)
        host_.show_message(Notice::warning,
                           "Couldn't write the statistics file " + encoder_.params.statistics_file_name,
                           program_caption);
    if (database == DatabaseResult::stopped && !stopped_before_database) {
        // The header already lists every frame: say that the file holds only some of them.
        host_.show_message(Notice::warning, "The conversion was stopped while " + pdb_name_ +
                               " was being written; it lists every frame but holds only some of them.",
                           program_caption);
    }
    if (stop_requested_ || database == DatabaseResult::stopped) {
        outcome_.result = ConversionResult::stopped;
        outcome_.database = database == DatabaseResult::stopped && !stopped_before_database ? DatabaseState::partial
                            : database == DatabaseResult::written                           ? DatabaseState::written
                                                                                            : DatabaseState::emptied;
        return outcome_;
    }
    say_what_the_movie_lacks();
    if (records_.size() > pdb::records_handhelds_list)
        host_.show_message(Notice::warning, pdb_name_ + " holds " + std::to_string(records_.size()) +
                               " frames. Handheld readers count at most 65535 records, so they may list only "
                               "part of it.",
                           program_caption);
    outcome_.database = DatabaseState::written;
    outcome_.result = ConversionResult::finished;
    host_.show_message(Notice::finished, ".PDB file has been created !", "Finished");
    return outcome_;
}

}  // namespace vintrel
