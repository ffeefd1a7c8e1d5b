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
#include "convert/sample_rate.h"
#include "encoder/encoder.h"
#include "encoder/setup/fatal_error.h"
#include "encoder/setup/read_parameters.h"

namespace vintrel {
namespace {

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

// What a warning is about: its text up to the first detail ("vbv_delay underflow! (decoding_time=
// ...)" and "vbv_delay underflow: -2240" are both "vbv_delay underflow").
std::string warning_label(const std::string& text) {
    std::string label = text.substr(0, text.find_first_of("!(:;\n", text.find_first_not_of('\n')));
    label.erase(0, label.find_first_not_of('\n'));
    while (!label.empty() && label.back() == ' ') label.pop_back();
    return label;
}

// The text on one line.
std::string one_line(const std::string& text) {
    std::string line;
    for (const char c : text)
        if (c != '\n') line += c;
    return line;
}

// The folder a file's path names ("." for a bare name).
std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Opens the file for reading and writing: `flags` say whether a missing one is created and an
// existing one emptied.
std::FILE* open_for_writing(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | flags, 0666);
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
    const std::size_t slash = movie_path.find_last_of('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = movie_path.find_last_of('.');
    // A dot that starts the file's name makes it hidden; it does not begin an extension.
    if (dot == std::string::npos || dot <= name) return movie_path + "." + extension;
    return movie_path.substr(0, dot + 1) + extension;
}

std::string stream_name(const std::string& movie_path) {
    const std::string name = output_name(movie_path, "mpg");
    return same_file(name, movie_path) ? output_name(movie_path, "dithered.mpg") : name;
}

std::string document_title(const std::string& movie_path) {
    const std::size_t slash = movie_path.find_last_of('/');
    return slash == std::string::npos ? movie_path : movie_path.substr(slash + 1);
}

int count_frames(std::int32_t duration, std::int32_t time_scale) {
    if (time_scale <= 0 || duration <= 0) return 0;
    auto n = static_cast<std::int64_t>(duration * frames_per_second / time_scale);
    if (static_cast<double>(n * time_scale) / frames_per_second < duration) n++;
    return static_cast<int>(n);
}

Message fault_message(const ConversionFault& fault, const std::string& database_name) {
    const auto reason = [&fault] { return std::string(std::strerror(fault.system_error ? fault.system_error : EIO)); };
    switch (fault.kind) {
    case ConversionFailure::none:
        return {};
    case ConversionFailure::movie_unreadable:
        return {Notice::movie_unreadable,
                "The movie file could not be opened. It may be in use or in an invalid format.", "QuickTime Error"};
    case ConversionFailure::movie_open_failed:
        return {Notice::movie_open_failed, "OpenMovieFile failure", "QT DLL"};
    case ConversionFailure::picture_size:
        return {Notice::refused,
                "the picture size " + fault.detail +
                    " cannot be carried by an MPEG-1 stream (width and height must be 1 to 4095). Nothing was "
                    "converted.",
                program_caption, true};
    case ConversionFailure::replaces_movie:
        return {Notice::refused, "the output file " + fault.file + " would replace the movie itself. Nothing was converted.",
                program_caption, true};
    case ConversionFailure::database_uncreatable:
        return {Notice::error, "Couldn't create output file " + fault.file + " (" + reason() + ")", program_caption};
    case ConversionFailure::database_not_emptied:
        return {Notice::error,
                "Couldn't create output file " + fault.file + " (" + reason() + "). Nothing was converted.",
                program_caption};
    case ConversionFailure::encoder:
        return {Notice::fatal, fault.detail, "MPEG Error"};
    case ConversionFailure::stream_unwritable:
        return {Notice::error,
                "Couldn't write output file " + fault.file + " (" + reason() + "). The conversion was stopped; " +
                    database_name + " was left empty.",
                program_caption};
    case ConversionFailure::database_too_large:
        return {Notice::error,
                "Couldn't write output file " + fault.file + ": its " + fault.detail +
                    " frames need more than the 4 GB a handheld database can address. The movie was not "
                    "converted completely; the database was left empty.",
                program_caption};
    case ConversionFailure::database_unwritable:
        return {Notice::error,
                "Couldn't write output file " + fault.file + " (" + reason() +
                    "). The movie was not converted completely; the database was left empty.",
                program_caption};
    }
    return {};
}

Message finished_message() { return {Notice::finished, ".PDB file has been created !", "Finished"}; }

Result<std::shared_ptr<const Parameters>, EncoderFailure> builtin_configuration(
    const std::function<void(const std::string&)>& warning) {
    Reporter report;
    report.warning = [&warning](const std::string& text) {
        if (warning) warning(text);
    };
    auto params = std::make_shared<Parameters>();
    EncoderFault fault = read_parameters(*params, report);
    if (!fault.failed()) fault = read_quant_matrices(*params);
    if (fault.failed()) return {nullptr, std::move(fault)};
    return {std::move(params), {}};
}

Conversion::Conversion(std::shared_ptr<const Parameters> configuration, ConversionHost& host, std::string movie_path,
                       MovieOpener open)
    : configuration_(std::move(configuration)), host_(host), open_(std::move(open)), movie_path_(std::move(movie_path)) {}

Conversion::~Conversion() { abandon(); }

void Conversion::abandon() {
    if (database_file_) std::fclose(database_file_);
    database_file_ = nullptr;
    set_up_ = false;
}

const std::string& Conversion::statistics_name() const { return configuration_->statistics_file_name; }

void Conversion::release_movie() {
    if (movie_) movie_->owner().release();
}

bool Conversion::refuse(ConversionFailure kind, std::string file, int system_error, std::string detail) {
    outcome_.fault = {kind, std::move(file), system_error, std::move(detail)};
    return false;
}

bool Conversion::open_movie() {
    auto [movie, fault] = open_(movie_path_);
    if (movie && !screen_.none()) movie = std::make_unique<FittedMovie>(std::move(movie), screen_);
    if (movie) {
        movie_ = std::make_unique<OwnedMovie>(std::move(movie));
        return true;
    }
    return refuse(fault.kind == MovieFailure::invalid_format ? ConversionFailure::movie_unreadable
                                                             : ConversionFailure::movie_open_failed,
                  movie_path_, 0, fault.detail);
}

bool Conversion::setup() {
    if (!movie_) return false;
    const MovieBounds bounds = movie_->natural_bounds();
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (width < 1 || height < 1 || width > max_picture_size || height > max_picture_size)
        return refuse(ConversionFailure::picture_size, movie_path_, 0, std::to_string(width) + "x" + std::to_string(height));

    pdb_name_ = output_name(movie_path_, "pdb");
    mpeg_name_ = stream_name(movie_path_);
    if (!output_folder_.empty()) {
        const auto into_folder = [this](const std::string& name) {
            const std::string folder = output_folder_.ends_with('/') ? output_folder_ : output_folder_ + "/";
            return folder + document_title(name);
        };
        pdb_name_ = into_folder(pdb_name_);
        mpeg_name_ = into_folder(mpeg_name_);
    }
    // A movie whose name ends in "pdb", or that is named as the statistics file, would be emptied
    // by an output before it is read: refuse, before anything is created.
    std::vector<const std::string*> outputs = {&pdb_name_, &mpeg_name_};
    // A statistics file name starting with "-" stands for the standard output.
    const std::string& statistics = configuration_->statistics_file_name;
    if (!statistics.starts_with('-')) outputs.push_back(&statistics);
    for (const std::string* output : outputs)
        if (same_file(*output, movie_path_)) return refuse(ConversionFailure::replaces_movie, *output);
    // Looking at a movie must leave its folder as it was: an earlier database is opened as it is
    // (emptied only when run() starts), a missing one is made only then. Whether it could be
    // written is found here: an existing one by opening it, a new one by its folder.
    database_file_ = open_for_writing(pdb_name_, 0);
    if (!database_file_) {
        if (errno != ENOENT) return refuse(ConversionFailure::database_uncreatable, pdb_name_, errno);
        if (::access(folder_of(pdb_name_).c_str(), W_OK | X_OK) != 0)
            return refuse(ConversionFailure::database_uncreatable, pdb_name_, errno);
    }
    frame_count_ = count_frames(movie_->duration(), movie_->time_scale());
    set_up_ = true;
    return true;
}

void Conversion::note(const std::string& text, bool about_movie) {
    outcome_.notes.push_back({Notice::warning, text, program_caption, about_movie});
}

void Conversion::tally(std::string label, const std::string& text) {
    for (std::size_t k = 0; k < outcome_.warnings.size(); k++) {
        if (outcome_.warnings[k].label != label) continue;
        // A picture counts once, however often it was warned about.
        if (counted_picture_[k] != picture_ || picture_ < 0) outcome_.warnings[k].pictures++;
        counted_picture_[k] = picture_;
        return;
    }
    outcome_.warnings.push_back({std::move(label), one_line(text), 1});
    counted_picture_.push_back(picture_);
}

// Where the movie's file claims more than its pictures hold, the outputs hold less than it
// claims: say so, so that nothing partial passes for complete.
void Conversion::say_what_the_movie_lacks() {
    const MovieExtent extent = movie_->extent();
    const auto seconds = [scale = static_cast<double>(movie_->time_scale())](std::int32_t t) { return t / scale; };
    const double converted = seconds(movie_->duration());
    char text[256];
    if (extent.claimed_length) {
        std::snprintf(text, sizeof text, "the pictures stop at %.1f s of the %.1f s its header gives; the rest could "
                      "not be read.", converted, seconds(*extent.claimed_length));
        note(text, true);
    }
    if (extent.stamped_length) {
        std::snprintf(text, sizeof text, "its time stamps run to %.1f s, beyond the %.1f s it can hold; only the "
                      "first %.1f s were converted.", seconds(*extent.stamped_length), converted, converted);
        note(text, true);
    }
}

// The records' rows go to a spool file beside the outputs, else in the temporary directory; only
// where neither can be made do they stay in memory.
void Conversion::open_spool() {
    if (spool_.open(folder_of(pdb_name_))) return;
    std::error_code error;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (!error) spool_.open(temporary.string());
}

// Called with each new record: moves its rows to the spool, and marks the conversion too large
// as soon as the records can no longer fit a database. Rows the spool cannot take (a full disk, a
// file size limit) stay in memory; whether the database itself can be written is found when it is.
void Conversion::keep_record() {
    FrameRecord& record = *records_.back();
    record_bytes_ += record.data_length();
    const auto count = static_cast<std::uint64_t>(std::max<std::size_t>(part().count, records_.size()));
    if (!database_fits(count, record_bytes_, database_reach_)) too_large_ = true;
    if (spool_.is_open() && !spool_full_ && !spool_.store(record)) spool_full_ = true;
}

ConversionOutcome Conversion::fail(ConversionFailure kind, std::string file, int system_error, DatabaseState database,
                                   StreamState stream) {
    outcome_.result = ConversionResult::failed;
    outcome_.database = database;
    outcome_.stream = stream;
    outcome_.fault = {kind, std::move(file), system_error, {}};
    return outcome_;
}

// Takes every frame and hands it to the encoder, keeping its record, until the last, a stop, a
// stream that can no longer be written (a full disk) or records that have outgrown what a
// database can address: there is no point in coding pictures that are lost. Returns whether every
// frame was coded, or the fatal error that ended the coding (the stream flushed).
Result<bool, EncoderFailure> Conversion::code_stream(Encoder& encoder, int brightness, const std::stop_token& stop) {
    FrameSource source{*movie_, host_, records_, brightness};
    open_spool();
    // The frames are asked for at these times in turn: a thread decodes and dithers them ahead
    // while this one codes. Up to six wait, so that a slow stretch of the movie (a key frame, a
    // seek) or of the coding does not hold the other side up.
    const FramePart part = this->part();
    std::vector<std::int32_t> times;
    for (int k = part.first; k < part.end(); ++k) times.push_back(sample_time(k, movie_->time_scale(), frames_per_second));
    std::unique_ptr<Prefetcher<GrabbedFrame>> ahead;
    try {
        const bool drawn = host_.draws_frames();
        const int rows = encoder.parameters().vertical_size, columns = encoder.parameters().horizontal_size;
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
    for (int n = part.first; n < part.end(); n++) {
        if (stop.stop_requested() || encoder.write_failed() || too_large_) return {false, {}};
        picture_ = n - part.first;
        host_.progress(picture_, part.count);
        if (EncoderFault fault = read_movie_frame(encoder.parameters(), encoder.geometry(), source, encoder.next_picture(), n);
            fault.failed()) {
            encoder.flush();  // the stream keeps the pictures coded before
            return {false, std::move(fault)};
        }
        if (!source.frame.warning.empty()) {
            host_.warning_text("\nWarning: " + movie_path_ + ": " + source.frame.warning + "\n");
            tally("some pictures could not be decoded", source.frame.warning);
        }
        keep_record();
        if (too_large_) return {false, {}};  // this picture is not coded: the database cannot hold it
        if (EncoderFault fault = encoder.encode_next(); fault.failed()) return {false, std::move(fault)};
    }
    return {!encoder.write_failed(), {}};  // the thread working ahead stops and hands the movie back
}

ConversionOutcome Conversion::run(int brightness, std::stop_token stop) {
    outcome_ = {};
    picture_ = -1;
    counted_picture_.clear();
    if (!movie_ || !set_up_) return outcome_;
    // A movie handed over by another thread goes back to nobody when the conversion ends.
    struct Borrow {
        ThreadOwner& owner;
        bool borrowed = !owner.held_here();
        ~Borrow() {
            if (borrowed) owner.release();
        }
    } borrow{movie_->owner()};
    if (borrow.borrowed) borrow.owner.take_over();
    set_up_ = false;
    if (database_file_ ? ::ftruncate(::fileno(database_file_), 0) != 0
                       : (database_file_ = open_for_writing(pdb_name_, O_CREAT | O_TRUNC)) == nullptr) {
        const int error = errno;
        abandon();
        outcome_.fault = {ConversionFailure::database_not_emptied, pdb_name_, error, {}};
        return outcome_;
    }
    outcome_.database = DatabaseState::emptied;

    // The encoder's warnings are told to the host as they come, and grouped in the outcome.
    Reporter report;
    report.warning = [this](const std::string& text) {
        host_.warning_text(text);
        tally(warning_label(text), text);
    };
    report.progress = [this](const std::string& text) { host_.encoder_progress(text); };
    Parameters params = *configuration_;
    const MovieBounds bounds = movie_->natural_bounds();
    params.frame_rate = frames_per_second;
    params.frame_count = part().count;
    params.horizontal_size = static_cast<std::int16_t>(bounds.right - bounds.left);
    params.vertical_size = static_cast<std::int16_t>(bounds.bottom - bounds.top);

    // A fatal encoder error (the stream or the statistics file cannot be made, memory runs out)
    // ends the conversion: the stream keeps what was coded before it, the database stays empty.
    const auto encoder_failed = [this](std::FILE* stream, const EncoderFault& fault) {
        if (stream) std::fclose(stream);
        abandon();
        outcome_.result = ConversionResult::failed;
        outcome_.fault = {ConversionFailure::encoder, {}, 0, fault.detail};
        return outcome_;
    };
    std::FILE* stream = std::fopen(mpeg_name_.c_str(), "wb");
    if (!stream)
        return encoder_failed(nullptr, {EncoderFailure::fatal, {}, 0,
                                        error_text("Couldn't create output file %s", mpeg_name_.c_str())});
    outcome_.stream = StreamState::incomplete;
    auto [encoder, opening] = Encoder::open(params, stream, report);
    if (opening.failed()) return encoder_failed(stream, opening);
    const auto [coded_to_the_end, coding] = code_stream(*encoder, brightness, stop);
    if (coding.failed()) {
        encoder.reset();  // closes the statistics file
        return encoder_failed(stream, coding);
    }

    // Everything the encoder produced reaches the file, and the file closes cleanly.
    const EncoderFault finished = encoder->finish();
    errno = 0;
    const bool flushed = !finished.failed() && std::fflush(stream) == 0;
    const int flush_error = finished.failed() ? finished.system_error : errno;
    const bool closed = std::fclose(stream) == 0;
    const int close_error = errno;
    const bool statistics_ok = encoder->close_statistics();
    encoder.reset();
    if (!flushed || !closed) {
        // The database would describe a movie whose stream is incomplete: it stays empty.
        abandon();
        return fail(ConversionFailure::stream_unwritable, mpeg_name_, !flushed ? flush_error : close_error,
                    DatabaseState::emptied, StreamState::incomplete);
    }
    outcome_.stream = coded_to_the_end ? StreamState::complete : StreamState::ended_early;

    if (too_large_) {
        // Found while encoding: the stream ends where the conversion stopped, the database stays empty.
        abandon();
        fail(ConversionFailure::database_too_large, pdb_name_, 0, DatabaseState::emptied, StreamState::ended_early);
        outcome_.fault.detail = std::to_string(part().count);
        return outcome_;
    }

    DatabaseFault database{DatabaseFailure::stopped, {}, 0, {}};
    const bool stopped_before_database = stop.stop_requested();
    if (!stopped_before_database) {
        host_.writing_database();
        database = write_database(
            database_file_, document_title(movie_path_), records_, [&stop] { return !stop.stop_requested(); }, &spool_);
    }
    if (!database.failed() && std::fflush(database_file_) != 0)
        database = {DatabaseFailure::unwritable, {}, errno ? errno : EIO, {}};
    if (database.kind == DatabaseFailure::unwritable) {
        // A header that lists records the file does not hold would look complete: empty it.
        if (::ftruncate(::fileno(database_file_), 0) != 0 && errno) database.system_error = errno;
    }
    errno = 0;
    const bool database_closed = std::fclose(database_file_) == 0;
    const int close_errno = errno ? errno : EIO;
    database_file_ = nullptr;

    if (database.kind == DatabaseFailure::too_large) {
        fail(ConversionFailure::database_too_large, pdb_name_, 0, DatabaseState::emptied, outcome_.stream);
        outcome_.fault.detail = std::to_string(records_.size());
        return outcome_;
    }
    if (database.kind == DatabaseFailure::unwritable || !database_closed) {
        const bool unwritable = database.kind == DatabaseFailure::unwritable;
        // A write failure empties the file; a failed close may have lost any part of it.
        return fail(ConversionFailure::database_unwritable, pdb_name_, unwritable ? database.system_error : close_errno,
                    unwritable ? DatabaseState::emptied : DatabaseState::partial, outcome_.stream);
    }
    if (!statistics_ok) note("Couldn't write the statistics file " + configuration_->statistics_file_name);
    const bool stopped_while_written = database.kind == DatabaseFailure::stopped && !stopped_before_database;
    if (stopped_while_written) {
        // The header already lists every frame: say that the file holds only some of them.
        note("The conversion was stopped while " + pdb_name_ +
             " was being written; it lists every frame but holds only some of them.");
    }
    if (stop.stop_requested() || database.kind == DatabaseFailure::stopped) {
        outcome_.result = ConversionResult::stopped;
        outcome_.database = stopped_while_written ? DatabaseState::partial
                            : !database.failed()  ? DatabaseState::written
                                                  : DatabaseState::emptied;
        return outcome_;
    }
    say_what_the_movie_lacks();
    if (records_.size() > pdb::records_handhelds_list)
        note(pdb_name_ + " holds " + std::to_string(records_.size()) +
             " frames. Handheld readers count at most 65535 records, so they may list only part of it.");
    outcome_.database = DatabaseState::written;
    outcome_.result = ConversionResult::finished;
    return outcome_;
}

}  // namespace vintrel
