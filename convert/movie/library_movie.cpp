// The movie layer over the FFmpeg libraries: opens a movie, indexes its frames and hands out its
// pictures as 24-bit bitmaps at the movie's natural size. The decoding itself is FrameDecoder's.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>

#include "convert/movie/ffmpeg_handles.h"
#include "convert/movie/file_input.h"
#include "convert/movie/frame_decoder.h"
#include "convert/movie/frame_index.h"
#include "convert/movie/movie.h"
#include "convert/movie/palettes.h"
#include "convert/movie/picture_conversion.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
}

namespace vintrel {

namespace {

using movie_detail::CodecPtr;
using movie_detail::error_text;
using movie_detail::FrameDecoder;
using movie_detail::FrameIndex;
using movie_detail::FrameTiming;
using movie_detail::MovieFileInput;
using movie_detail::Orientation;
using movie_detail::PaletteTimeline;
using movie_detail::PictureConverter;
using movie_detail::add_saturated;
using movie_detail::subtract_saturated;

constexpr int movie_time_scale = 600;
// In formats whose clock may jump (transport and program streams), a decode stamp this many
// seconds after the one expected starts a new part, as the ffmpeg program takes it: far beyond
// the gap between two pictures of any broadcast or camera stream (a few hundred milliseconds at
// most), and below any jump a splice or a restarted recorder makes that matters for five samples
// a second.
constexpr int clock_jump_seconds = 10;
// ... and so does one more than a tenth of a second behind the last: decode stamps never go back.
constexpr int clock_slack_tenths = 1;
// A movie's time stamps may span at most this many seconds per picture, or the length its header
// gives and a second more (the last frame's duration, rounding) where that is longer: a stamp far
// in the future cannot make a few pictures fill hours, while pictures far apart that the header
// accounts for (a time lapse) and a header that gives too short a length lose nothing.
constexpr int longest_hold_seconds = 10;
constexpr int claimed_margin_seconds = 1;
// Pictures that stop more than this many tenths of a second before the length the header gives
// mean a file cut short; less is rounding, or a stream that ends a frame or two early.
constexpr int shortfall_tenths = 5;
// Pictures with more pixels are refused (8K video has fewer): a few bytes of a file can declare
// a picture of gigabytes, and a picture this large could not be converted anyway.
constexpr std::int64_t max_picture_pixels = std::int64_t{1} << 25;

void start_library() {
    static std::once_flag started;
    // Problems reach the caller through open()'s detail and picture_at()'s warning instead.
    std::call_once(started, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The name the demuxers see: only the extension of the movie's own name, as a hint to its format,
// so that no part of a name can be taken for a file pattern, a protocol or an option.
std::string name_for_probing(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return "movie";
    const std::string extension = name.substr(dot + 1);
    const bool plain = !extension.empty() && extension.size() <= 8 &&
                       std::all_of(extension.begin(), extension.end(), [](unsigned char c) { return std::isalnum(c); });
    return plain ? "movie." + extension : "movie";
}

// Whether the file is a WebP picture with the animation flag of its extended header set
// ("RIFF", size, "WEBP", "VP8X", chunk size, flags): the movie library decodes only still ones.
bool animated_webp(const MovieFileInput& file) {
    std::uint8_t start[21];
    if (!file.read_start(start, sizeof start)) return false;
    return std::memcmp(start, "RIFF", 4) == 0 && std::memcmp(start + 8, "WEBPVP8X", 8) == 0 && (start[20] & 0x02) != 0;
}

// Demuxers that draw text files as pictures, and those of single still images: neither is a movie.
const char* not_a_movie(const AVInputFormat& demuxer, const MovieFileInput& file) {
    const std::string name = demuxer.name;
    for (const char* text : {"tty", "bintext", "xbin", "adf", "idf"})
        if (name == text) return "a text file, not a movie";
    if (name == "webp_pipe" && animated_webp(file))
        return "an animated WebP picture, which the movie library cannot decode";
    const std::string pipe = "_pipe";
    if (name == "image2" || (name.size() > pipe.size() && name.compare(name.size() - pipe.size(), pipe.size(), pipe) == 0))
        return "a still picture, not a movie";
    return nullptr;
}

// Codecs whose decoders skip exactly the pictures no other picture refers to.
bool skips_unreferenced_reliably(AVCodecID codec) {
    switch (codec) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_VP8:
    case AV_CODEC_ID_VP9: return true;
    default: return false;
    }
}

class LibraryMovie final : public Movie {
public:
    bool start(const std::string& path);
    // Why start() failed.
    const MovieFault& fault() const { return fault_; }

    std::int32_t time_scale() const override { return movie_time_scale; }
    std::int32_t duration() const override { return duration_; }
    MovieBounds natural_bounds() const override;
    const Bitmap& picture_at(std::int32_t t) override;
    const std::string& warning() const override { return warning_; }
    MovieExtent extent() const override { return extent_; }

private:
    // Making pictures.
    void produce(std::int32_t t);

    // Opening.
    bool fail_open(int error, const std::string& what, bool ours = false);
    bool choose_stream();
    bool open_decoder();
    bool index_frames();
    bool prepare_pictures();

    double seconds(std::int64_t time) const;
    std::int64_t units_of_tenths(std::int64_t tenths) const;
    std::optional<std::int64_t> claimed_end() const;
    void measure_extent();

    std::unique_ptr<MovieFileInput> file_;
    AVRational time_base_{0, 1};
    FrameIndex index_;
    PaletteTimeline palettes_;
    bool intra_only_ = false;
    std::int32_t duration_ = 0;
    MovieExtent extent_;
    // Made once the file is open; reads the index and palettes above.
    std::unique_ptr<FrameDecoder> decoder_;

    std::unique_ptr<PictureConverter> converter_;
    int natural_width_ = 0;
    int natural_height_ = 0;
    Bitmap bitmap_;
    std::optional<std::int64_t> bitmap_time_;  // the frame time bitmap_ shows
    std::string warning_;
    MovieFault fault_;
};

// `ours` marks a failure of this layer's own resources, not of the file's contents (a damaged
// file can make the demuxer report running out of memory, for one).
bool LibraryMovie::fail_open(int error, const std::string& what, bool ours) {
    if (file_->read_error() != 0) {
        fault_.kind = MovieFailure::failed;
        fault_.detail = "the file could not be read: " + std::generic_category().message(file_->read_error());
    } else if (ours) {
        fault_.kind = MovieFailure::failed;
        fault_.detail = what + ": " + error_text(error);
    } else {
        fault_.kind = MovieFailure::invalid_format;
        fault_.detail = error < 0 ? what + ": " + error_text(error) : what;
    }
    return false;
}

bool LibraryMovie::start(const std::string& path) {
    fault_.file = path;
    auto input = MovieFileInput::open(path);
    if (!input.ok()) {
        fault_ = std::move(input.fault);
        return false;
    }
    file_ = std::move(input.value);
    if (file_->size() == 0) {
        fault_.kind = MovieFailure::invalid_format;
        fault_.detail = "the file is empty";
        return false;
    }
    decoder_ = std::make_unique<FrameDecoder>(*file_, name_for_probing(path), index_, palettes_);
    if (!decoder_->allocate()) return fail_open(AVERROR(ENOMEM), "out of memory", true);

    bool out_of_memory = false;
    if (const int error = decoder_->open_demuxer(out_of_memory); error < 0)
        return fail_open(error, "not a movie the library can read", out_of_memory);
    if (const char* reason = not_a_movie(*decoder_->format()->iformat, *file_))
        return fail_open(0, reason);
    return choose_stream() && open_decoder() && index_frames() && prepare_pictures();
}

bool LibraryMovie::choose_stream() {
    AVFormatContext* format = decoder_->format();
    int stream_index = -1;
    bool has_video = false;
    std::string undecodable;
    bool chosen_is_default = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;  // cover art, not a movie
        has_video = true;
        if (avcodec_find_decoder(stream->codecpar->codec_id) == nullptr) {
            undecodable = avcodec_get_name(stream->codecpar->codec_id);
            continue;
        }
        const bool is_default = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
        if (stream_index < 0 || (is_default && !chosen_is_default)) {
            stream_index = static_cast<int>(i);
            chosen_is_default = is_default;
        }
    }
    if (stream_index < 0)
        return fail_open(0, has_video ? "no decoder for the video format '" + undecodable + "'" : "no video stream");
    decoder_->select_stream(stream_index);
    time_base_ = format->streams[stream_index]->time_base;
    if (time_base_.num <= 0 || time_base_.den <= 0) return fail_open(0, "the video stream has no time base");
    return true;
}

bool LibraryMovie::open_decoder() {
    const AVStream* stream = decoder_->format()->streams[decoder_->stream_index()];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) return fail_open(AVERROR(ENOMEM), "out of memory", true);
    if (const int error = avcodec_parameters_to_context(context.get(), stream->codecpar); error < 0)
        return fail_open(error, "the video stream's parameters are unusable");
    context->pkt_timebase = stream->time_base;

    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
    // Each PNG picture is a whole image file too; animated PNG has a codec of its own.
    intra_only_ = (descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0) ||
                  stream->codecpar->codec_id == AV_CODEC_ID_PNG;
    // The decoder works on one thread. A conversion decodes ahead on a thread of its own while
    // the encoder works on another; the decoder's own threads would only take turns with the
    // encoder on the same cores, at a cost in switching and memory, and measured they made
    // neither a conversion nor a step back in the preview faster. On one thread the pictures
    // also never depend on how the decoding was spread.
    context->thread_count = 1;
    context->max_pixels = max_picture_pixels;  // the decoder refuses larger pictures before allocating them
    if (const int error = avcodec_open2(context.get(), codec, nullptr); error < 0)
        return fail_open(error, "the video decoder could not be started");
    decoder_->use_codec(std::move(context), intra_only_);
    return true;
}

bool LibraryMovie::index_frames() {
    if (decoder_->format()->iformat->flags & AVFMT_TS_DISCONT)
        index_.join_clock_jumps(units_of_tenths(10 * clock_jump_seconds), units_of_tenths(clock_slack_tenths));
    if (const int error = decoder_->scan_packets(index_, palettes_)) return fail_open(error, "");

    AVFormatContext* format = decoder_->format();
    AVStream* stream = format->streams[decoder_->stream_index()];
    // Packets of unknown duration last one frame at the stream's frame rate.
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    const AVRational frame_period = rate.num > 0 && rate.den > 0 ? av_inv_q(rate) : AVRational{1, 25};
    index_.finish(std::max<std::int64_t>(1, av_rescale_q(1, frame_period, time_base_)));
    if (index_.empty()) return fail_open(0, "no video frames");

    measure_extent();
    decoder_->skip_unreferenced(!intra_only_ && index_.timing() == FrameTiming::presentation_stamps &&
                                skips_unreferenced_reliably(stream->codecpar->codec_id));
    return true;
}

bool LibraryMovie::prepare_pictures() {
    // Back to the start, and decode up to the first frame: a movie must have one that decodes.
    if (!decoder_->rewind()) return fail_open(0, "the movie cannot be read from its start");
    const AVFrame* first = decoder_->shown();
    if (first == nullptr) {
        const std::string& error = decoder_->last_error();
        return fail_open(0, "no video frame could be decoded" + (error.empty() ? "" : " (" + error + ")"));
    }

    const AVStream* stream = decoder_->format()->streams[decoder_->stream_index()];
    AVRational aspect = av_guess_sample_aspect_ratio(decoder_->format(), const_cast<AVStream*>(stream),
                                                     const_cast<AVFrame*>(first));
    std::int64_t width = first->width;
    const std::int64_t height = first->height;
    if (aspect.num > 0 && aspect.den > 0) width = av_rescale_rnd(first->width, aspect.num, aspect.den, AV_ROUND_NEAR_INF);
    width = std::max<std::int64_t>(width, 1);

    Orientation orientation;
    std::size_t matrix_size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrix_size);
    if (matrix != nullptr && matrix_size >= 9 * sizeof(std::int32_t)) {
        std::int32_t values[9];
        std::memcpy(values, matrix, sizeof values);
        orientation = movie_detail::orientation_from_display_matrix(values);
    } else if (const AVDictionaryEntry* rotate = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        char* end = nullptr;
        const double degrees = std::strtod(rotate->value, &end);
        if (end != rotate->value && *end == '\0') orientation = movie_detail::orientation_from_clockwise_degrees(degrees);
    }

    const std::int64_t shown_width = orientation.turns_sideways() ? height : width;
    const std::int64_t shown_height = orientation.turns_sideways() ? width : height;
    const bool too_wide = shown_width > std::numeric_limits<std::int16_t>::max() ||
                          shown_height > std::numeric_limits<std::int16_t>::max();
    if (too_wide || shown_width * shown_height > max_picture_pixels) {
        char text[128];
        std::snprintf(text, sizeof text, "the picture size %" PRId64 "x%" PRId64 " %s", shown_width, shown_height,
                      too_wide ? "does not fit in 16 bits" : "is too large");
        return fail_open(0, text);
    }
    if (av_image_check_size(static_cast<unsigned>(width), static_cast<unsigned>(height), 0, nullptr) < 0)
        return fail_open(0, "the picture size is invalid");
    natural_width_ = static_cast<int>(shown_width);
    natural_height_ = static_cast<int>(shown_height);
    converter_ = std::make_unique<PictureConverter>(static_cast<int>(width), static_cast<int>(height), orientation);

    if (const MovieFault fault = converter_->convert(*first, bitmap_); fault.failed())
        return fail_open(0, "the pictures cannot be shown: " + fault.detail);
    bitmap_time_ = decoder_->shown_time();
    return true;
}

std::int64_t LibraryMovie::units_of_tenths(std::int64_t tenths) const {
    return std::max<std::int64_t>(1, av_rescale(tenths, time_base_.den, std::int64_t{10} * time_base_.num));
}

// The end of the video (in stream time-base units) as the file's header gives it, if it does: the
// stream's own length or, where longer, its count of frames at its frame rate (the library gives an
// AVI cut short the length of the frames it found, but keeps their count from the header); else the
// track's DURATION tag (Matroska), or the file's length when the video is all it holds. A length
// the library worked out from stamps or the bit rate claims nothing.
std::optional<std::int64_t> LibraryMovie::claimed_end() const {
    const AVFormatContext* format = decoder_->format();
    const AVStream* stream = format->streams[decoder_->stream_index()];
    if (format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM) return std::nullopt;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        const std::int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : index_.start();
        const AVRational rate = stream->avg_frame_rate;
        const std::int64_t counted =
            stream->nb_frames > 0 && rate.num > 0 && rate.den > 0
                ? av_rescale_q_rnd(stream->nb_frames, av_inv_q(rate), time_base_, AV_ROUND_DOWN)
                : 0;
        return add_saturated(start, std::max(stream->duration, counted));
    }
    if (const AVDictionaryEntry* tag = av_dict_get(stream->metadata, "DURATION", nullptr, 0)) {
        int hours = 0, minutes = 0;
        double seconds = 0;
        if (std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) == 3 && hours >= 0 && minutes >= 0 &&
            seconds >= 0 && hours < 1000000) {
            const double total = (hours * 60.0 + minutes) * 60.0 + seconds;
            return static_cast<std::int64_t>(total * time_base_.den / time_base_.num);
        }
    }
    if (format->nb_streams == 1 && format->duration > 0)
        return av_rescale_q(format->duration, AV_TIME_BASE_Q, time_base_);
    return std::nullopt;
}

// The duration from the first frame to the end of the last, held within what the movie can hold:
// a few seconds a picture, or the length its header gives. Notes where the file claims more than
// its pictures hold.
void LibraryMovie::measure_extent() {
    const auto units = [this](std::int64_t span) {
        return movie_detail::movie_units_rounded_up(span, time_base_.num, time_base_.den, movie_time_scale);
    };
    const std::int64_t span = subtract_saturated(index_.end(), index_.start());
    const std::optional<std::int64_t> claimed = claimed_end();
    const std::int64_t claimed_span =
        claimed ? std::max<std::int64_t>(0, subtract_saturated(*claimed, index_.start())) : 0;
    const std::int64_t frames = static_cast<std::int64_t>(index_.times().size());
    const std::int64_t hold = units_of_tenths(10 * longest_hold_seconds);
    const std::int64_t bound = std::max(
        frames > std::numeric_limits<std::int64_t>::max() / hold ? std::numeric_limits<std::int64_t>::max() : frames * hold,
        claimed ? add_saturated(claimed_span, units_of_tenths(10 * claimed_margin_seconds)) : 0);
    duration_ = units(std::min(span, bound));
    if (span > bound) extent_.stamped_length = units(span);
    if (claimed && subtract_saturated(*claimed, index_.end()) > units_of_tenths(shortfall_tenths))
        extent_.claimed_length = units(claimed_span);
}

MovieBounds LibraryMovie::natural_bounds() const {
    MovieBounds bounds;
    bounds.right = static_cast<std::int16_t>(natural_width_);
    bounds.bottom = static_cast<std::int16_t>(natural_height_);
    return bounds;
}

double LibraryMovie::seconds(std::int64_t time) const {
    return static_cast<double>(time - index_.start()) * time_base_.num / time_base_.den;
}

const Bitmap& LibraryMovie::picture_at(std::int32_t t) {
    produce(t);
    return bitmap_;
}

// Makes bitmap_ the picture for t and puts what went wrong into warning_.
void LibraryMovie::produce(std::int32_t t) {
    warning_.clear();
    const auto& times = index_.times();
    const std::int64_t offset = movie_detail::time_base_units(t, time_base_.num, time_base_.den, movie_time_scale);
    const std::int64_t wanted = index_.start() > std::numeric_limits<std::int64_t>::max() - offset
                                    ? std::numeric_limits<std::int64_t>::max()
                                    : index_.start() + offset;
    const std::int64_t target = times[index_.frame_at(wanted)];
    if (bitmap_time_ && *bitmap_time_ == target) return;

    decoder_->go_to(target);

    const AVFrame* shown = decoder_->shown();
    const std::optional<std::int64_t> shown_time = decoder_->shown_time();
    char text[160];
    std::string reason;
    const MovieFault conversion = shown != nullptr ? converter_->convert(*shown, bitmap_)
                                                   : MovieFault{MovieFailure::failed, {}, 0, {}};
    if (!conversion.failed()) {
        bitmap_time_ = shown_time;
        if (*shown_time == target) {
            decoder_->clear_last_error();
            return;
        }
        std::snprintf(text, sizeof text, "the picture at %.3f s could not be decoded; showing the one at %.3f s",
                      t / static_cast<double>(movie_time_scale), seconds(*shown_time));
        const std::string& error = decoder_->last_error();
        reason = !error.empty()        ? error
                 : decoder_->drained() ? "the movie ends early"
                                       : "the frame is missing";
    } else {
        std::snprintf(text, sizeof text, "the picture at %.3f s could not be decoded",
                      t / static_cast<double>(movie_time_scale));
        reason = shown != nullptr                  ? conversion.detail
                 : !decoder_->last_error().empty() ? decoder_->last_error()
                                                   : "the movie ends early";
    }
    warning_ = std::string(text) + " (" + reason + ")";
}

}  // namespace

Result<std::unique_ptr<Movie>, MovieFailure> Movie::open(const std::string& path) {
    start_library();
    auto movie = std::make_unique<LibraryMovie>();
    if (!movie->start(path)) return {nullptr, movie->fault()};
    return {std::move(movie), {}};
}

}  // namespace vintrel
