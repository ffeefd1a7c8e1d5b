// The movie layer over the FFmpeg libraries: demuxing, decoding in display order, and pictures
// handed out as 24-bit bitmaps at the movie's natural size.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>

#include "convert/movie/movie.h"
#include "convert/movie/file_input.h"
#include "convert/movie/frame_index.h"
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

using movie_detail::FrameIndex;
using movie_detail::FrameTiming;
using movie_detail::IoContextPtr;
using movie_detail::MovieFileInput;
using movie_detail::Orientation;
using movie_detail::PaletteTimeline;
using movie_detail::PacketTiming;
using movie_detail::PictureConverter;

constexpr int movie_time_scale = 600;
// Read or decode failures in a row after which a damaged stream counts as ended.
constexpr int max_failures_in_a_row = 64;
// Skipped frames of an intra-only codec kept to fall back on when the frame asked for fails.
constexpr std::size_t held_back_frames = 4;
// Pictures with more pixels are refused (8K video has fewer): a few bytes of a file can declare
// a picture of gigabytes, and a picture this large could not be converted anyway.
constexpr std::int64_t max_picture_pixels = std::int64_t{1} << 25;

struct FormatDeleter {
    void operator()(AVFormatContext* format) const { avformat_close_input(&format); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

std::string error_text(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void start_library() {
    static std::once_flag started;
    // Problems reach the caller through open()'s detail and picture_at()'s warning instead.
    std::call_once(started, [] { av_log_set_level(AV_LOG_QUIET); });
}

// A movie is one self-contained file: demuxers may not open other files or URLs it names.
int refuse_nested_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

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

// Demuxers that draw text files as pictures, and those of single still images: neither is a movie.
const char* not_a_movie(const AVInputFormat& demuxer) {
    const std::string name = demuxer.name;
    for (const char* text : {"tty", "bintext", "xbin", "adf", "idf"})
        if (name == text) return "a text file, not a movie";
    const std::string pipe = "_pipe";
    if (name == "image2" || (name.size() > pipe.size() && name.compare(name.size() - pipe.size(), pipe.size(), pipe) == 0))
        return "a still picture, not a movie";
    return nullptr;
}

std::optional<std::int64_t> stamp(std::int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(value);
}

// A packet's place in decode order, as far as its stamps tell it.
std::optional<std::int64_t> decode_position(const AVPacket& packet) {
    if (packet.dts != AV_NOPTS_VALUE) return packet.dts;
    return stamp(packet.pts);
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

// The demuxer over the movie file.
struct Demuxer {
    IoContextPtr io;   // declared first, so freed after the format context that reads through it
    FormatPtr format;
};

class LibraryMovie final : public Movie {
public:
    bool start(const std::string& path, MovieOpenResult& result, std::string& detail);

    std::int32_t time_scale() const override { return movie_time_scale; }
    std::int32_t duration() const override { return duration_; }
    MovieBounds natural_bounds() const override;
    const Bitmap& picture_at(std::int32_t t) override;
    const std::string& warning() const override { return warning_; }

private:
    // Making pictures.
    void produce(std::int32_t t);

    // Opening.
    int open_demuxer(Demuxer& demuxer, bool& out_of_memory);
    bool fail_open(int error, const std::string& what, MovieOpenResult& result, std::string& detail,
                   bool ours = false) const;
    bool choose_stream(MovieOpenResult& result, std::string& detail);
    bool open_decoder(MovieOpenResult& result, std::string& detail);
    bool index_frames(MovieOpenResult& result, std::string& detail);
    bool prepare_pictures(MovieOpenResult& result, std::string& detail);

    // Positioning.
    void forget_decoded_frames();
    bool seek_to(std::size_t seek_point);
    bool restart();
    void reposition(std::int64_t target);

    // Decoding forward.
    void advance(std::int64_t target);
    bool decode_next(std::int64_t target);
    bool feed_decoder(std::int64_t target);
    bool read_packet(std::int64_t target);
    std::int64_t time_of_received_frame();
    void decode_held_back(std::int64_t target);
    void give_palette(AVPacket& packet);
    void note_error(const std::string& what, int error);

    double seconds(std::int64_t time) const;

    std::unique_ptr<MovieFileInput> file_;
    std::string path_;
    Demuxer demuxer_;
    int stream_index_ = -1;
    AVRational time_base_{0, 1};
    CodecPtr decoder_;
    bool intra_only_ = false;
    bool skip_unreferenced_ = false;
    FrameIndex index_;
    PaletteTimeline palettes_;
    std::int32_t duration_ = 0;

    PacketPtr packet_;
    bool packet_pending_ = false;    // packet_ holds a packet the decoder could not take yet
    bool demuxer_finished_ = false;  // every packet read and the decoder told to drain
    bool decoder_drained_ = false;   // the decoder gave its last frame
    // For decode_stamps and frame_count timing: the index into the frame times of the next
    // frame the decoder gives, once known after a seek.
    std::optional<std::size_t> next_counted_frame_;
    std::optional<std::int64_t> last_frame_time_;
    // The latest packets skipped as not shown (intra-only codecs), oldest first, with their times.
    std::deque<std::pair<std::int64_t, PacketPtr>> held_back_;

    // The latest decoded frame at or before the last target, and the first one after it.
    FramePtr current_;
    FramePtr next_;
    FramePtr received_;
    std::optional<std::int64_t> current_time_;
    std::optional<std::int64_t> next_time_;
    // Decoding began at the first key frame, so no earlier frame can be found by seeking.
    bool decoding_from_first_key_ = false;
    std::string last_error_;

    std::unique_ptr<PictureConverter> converter_;
    int natural_width_ = 0;
    int natural_height_ = 0;
    Bitmap bitmap_;
    std::optional<std::int64_t> bitmap_time_;  // the frame time bitmap_ shows
    std::string warning_;
};

// Opens the demuxer on the file's start. `out_of_memory` tells a failure of this layer's own
// allocations from the demuxer's verdict on the file.
int LibraryMovie::open_demuxer(Demuxer& demuxer, bool& out_of_memory) {
    out_of_memory = false;
    demuxer.format.reset();
    demuxer.io = file_->make_io_context();
    AVFormatContext* format = demuxer.io ? avformat_alloc_context() : nullptr;
    if (format == nullptr) {
        out_of_memory = true;
        return AVERROR(ENOMEM);
    }
    format->pb = demuxer.io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = refuse_nested_open;
    const std::string name = name_for_probing(path_);
    int error = avformat_open_input(&format, name.c_str(), nullptr, nullptr);
    if (error < 0) return error;  // avformat_open_input frees the context on failure
    demuxer.format.reset(format);
    error = avformat_find_stream_info(format, nullptr);
    if (error < 0) return error;
    if (stream_index_ >= 0) {
        if (stream_index_ >= static_cast<int>(format->nb_streams) ||
            format->streams[stream_index_]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            return AVERROR_INVALIDDATA;
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = static_cast<int>(i) == stream_index_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    return 0;
}

// `ours` marks a failure of this layer's own resources, not of the file's contents (a damaged
// file can make the demuxer report running out of memory, for one).
bool LibraryMovie::fail_open(int error, const std::string& what, MovieOpenResult& result, std::string& detail,
                             bool ours) const {
    if (file_->read_error() != 0) {
        result = MovieOpenResult::failed;
        detail = "the file could not be read: " + std::generic_category().message(file_->read_error());
    } else if (ours) {
        result = MovieOpenResult::failed;
        detail = what + ": " + error_text(error);
    } else {
        result = MovieOpenResult::invalid_format;
        detail = error < 0 ? what + ": " + error_text(error) : what;
    }
    return false;
}

bool LibraryMovie::start(const std::string& path, MovieOpenResult& result, std::string& detail) {
    path_ = path;
    std::string reason;
    file_ = MovieFileInput::open(path, reason);
    if (!file_) {
        result = MovieOpenResult::failed;
        detail = reason;
        return false;
    }
    if (file_->size() == 0) {
        result = MovieOpenResult::invalid_format;
        detail = "the file is empty";
        return false;
    }
    packet_.reset(av_packet_alloc());
    current_.reset(av_frame_alloc());
    next_.reset(av_frame_alloc());
    received_.reset(av_frame_alloc());
    if (!packet_ || !current_ || !next_ || !received_)
        return fail_open(AVERROR(ENOMEM), "out of memory", result, detail, true);

    bool out_of_memory = false;
    if (const int error = open_demuxer(demuxer_, out_of_memory); error < 0)
        return fail_open(error, "not a movie the library can read", result, detail, out_of_memory);
    if (const char* reason = not_a_movie(*demuxer_.format->iformat)) return fail_open(0, reason, result, detail);
    return choose_stream(result, detail) && open_decoder(result, detail) && index_frames(result, detail) &&
           prepare_pictures(result, detail);
}

bool LibraryMovie::choose_stream(MovieOpenResult& result, std::string& detail) {
    AVFormatContext* format = demuxer_.format.get();
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
        if (stream_index_ < 0 || (is_default && !chosen_is_default)) {
            stream_index_ = static_cast<int>(i);
            chosen_is_default = is_default;
        }
    }
    if (stream_index_ < 0)
        return fail_open(0, has_video ? "no decoder for the video format '" + undecodable + "'" : "no video stream", result,
                         detail);
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = static_cast<int>(i) == stream_index_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    time_base_ = format->streams[stream_index_]->time_base;
    if (time_base_.num <= 0 || time_base_.den <= 0) return fail_open(0, "the video stream has no time base", result, detail);
    return true;
}

bool LibraryMovie::open_decoder(MovieOpenResult& result, std::string& detail) {
    const AVStream* stream = demuxer_.format->streams[stream_index_];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) return fail_open(AVERROR(ENOMEM), "out of memory", result, detail, true);
    if (const int error = avcodec_parameters_to_context(decoder_.get(), stream->codecpar); error < 0)
        return fail_open(error, "the video stream's parameters are unusable", result, detail);
    decoder_->pkt_timebase = stream->time_base;

    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(stream->codecpar->codec_id);
    // Each PNG picture is a whole image file too; animated PNG has a codec of its own.
    intra_only_ = (descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0) ||
                  stream->codecpar->codec_id == AV_CODEC_ID_PNG;
    // The decoder works on one thread. A conversion decodes ahead on a thread of its own while
    // the encoder works on another; the decoder's own threads would only take turns with the
    // encoder on the same cores, at a cost in switching and memory, and measured they made
    // neither a conversion nor a step back in the preview faster. On one thread the pictures
    // also never depend on how the decoding was spread.
    decoder_->thread_count = 1;
    decoder_->max_pixels = max_picture_pixels;  // the decoder refuses larger pictures before allocating them
    if (const int error = avcodec_open2(decoder_.get(), codec, nullptr); error < 0)
        return fail_open(error, "the video decoder could not be started", result, detail);
    return true;
}

bool LibraryMovie::index_frames(MovieOpenResult& result, std::string& detail) {
    AVFormatContext* format = demuxer_.format.get();
    AVStream* stream = format->streams[stream_index_];
    int failures = 0;
    for (;;) {
        const int error = av_read_frame(format, packet_.get());
        if (error == AVERROR_EOF) break;
        if (error < 0) {
            if (file_->read_error() != 0) return fail_open(error, "", result, detail);
            // A damaged stretch: keep what could be read.
            if (avio_feof(format->pb) || ++failures >= max_failures_in_a_row) break;
            continue;
        }
        failures = 0;
        if (packet_->stream_index == stream_index_) {
            PacketTiming timing;
            timing.pts = stamp(packet_->pts);
            timing.dts = stamp(packet_->dts);
            timing.duration = packet_->duration;
            timing.key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
            timing.discard = (packet_->flags & AV_PKT_FLAG_DISCARD) != 0;
            timing.empty = packet_->size <= 0;
            index_.add(timing);
            std::size_t palette_size = 0;
            const std::uint8_t* palette = av_packet_get_side_data(packet_.get(), AV_PKT_DATA_PALETTE, &palette_size);
            const std::optional<std::int64_t> position = decode_position(*packet_);
            if (palette != nullptr && palette_size > 0 && position) palettes_.add(*position, palette, palette_size);
        }
        av_packet_unref(packet_.get());
    }

    // Packets of unknown duration last one frame at the stream's frame rate.
    const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    const AVRational frame_period = rate.num > 0 && rate.den > 0 ? av_inv_q(rate) : AVRational{1, 25};
    index_.finish(std::max<std::int64_t>(1, av_rescale_q(1, frame_period, time_base_)));
    if (index_.empty()) return fail_open(0, "no video frames", result, detail);

    duration_ = movie_detail::movie_units_rounded_up(index_.end() - index_.start(), time_base_.num, time_base_.den,
                                                     movie_time_scale);
    skip_unreferenced_ = !intra_only_ && index_.timing() == FrameTiming::presentation_stamps &&
                         skips_unreferenced_reliably(stream->codecpar->codec_id);
    return true;
}

bool LibraryMovie::prepare_pictures(MovieOpenResult& result, std::string& detail) {
    // Back to the start, and decode up to the first frame: a movie must have one that decodes.
    const bool positioned = index_.seek_points().empty() ? restart() : seek_to(0);
    if (!positioned && !demuxer_.format) return fail_open(0, "the movie cannot be read from its start", result, detail);
    decoding_from_first_key_ = true;
    advance(index_.times().front());
    const AVFrame* first = current_time_ ? current_.get() : next_time_ ? next_.get() : nullptr;
    if (first == nullptr) {
        return fail_open(0, "no video frame could be decoded" + (last_error_.empty() ? "" : " (" + last_error_ + ")"),
                         result, detail);
    }

    const AVStream* stream = demuxer_.format->streams[stream_index_];
    AVRational aspect = av_guess_sample_aspect_ratio(demuxer_.format.get(), const_cast<AVStream*>(stream),
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
        return fail_open(0, text, result, detail);
    }
    if (av_image_check_size(static_cast<unsigned>(width), static_cast<unsigned>(height), 0, nullptr) < 0)
        return fail_open(0, "the picture size is invalid", result, detail);
    natural_width_ = static_cast<int>(shown_width);
    natural_height_ = static_cast<int>(shown_height);
    converter_ = std::make_unique<PictureConverter>(static_cast<int>(width), static_cast<int>(height), orientation);

    std::string reason;
    if (!converter_->convert(*first, bitmap_, reason))
        return fail_open(0, "the pictures cannot be shown: " + reason, result, detail);
    bitmap_time_ = current_time_ ? current_time_ : next_time_;
    return true;
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

void LibraryMovie::note_error(const std::string& what, int error) { last_error_ = what + ": " + error_text(error); }

void LibraryMovie::forget_decoded_frames() {
    av_frame_unref(current_.get());
    av_frame_unref(next_.get());
    current_time_.reset();
    next_time_.reset();
    last_frame_time_.reset();
    next_counted_frame_.reset();
    held_back_.clear();
    if (packet_pending_) av_packet_unref(packet_.get());
    packet_pending_ = false;
    demuxer_finished_ = false;
    decoder_drained_ = false;
    avcodec_flush_buffers(decoder_.get());
}

bool LibraryMovie::seek_to(std::size_t seek_point) {
    forget_decoded_frames();
    const std::int64_t target = index_.seek_points()[seek_point].seek_stamp;
    if (!demuxer_.format || av_seek_frame(demuxer_.format.get(), stream_index_, target, AVSEEK_FLAG_BACKWARD) < 0)
        return restart();
    return true;
}

bool LibraryMovie::restart() {
    forget_decoded_frames();
    bool out_of_memory = false;
    const int error = open_demuxer(demuxer_, out_of_memory);
    if (error < 0) {
        // Nothing more can be read; what was decoded before stays the last picture.
        demuxer_.format.reset();
        note_error("the movie file could not be read again", error);
        demuxer_finished_ = decoder_drained_ = true;
        return false;
    }
    next_counted_frame_ = 0;
    return true;
}

void LibraryMovie::reposition(std::int64_t target) {
    last_error_.clear();
    const auto& points = index_.seek_points();
    if (points.empty()) {
        restart();
        decoding_from_first_key_ = true;
        advance(target);
        return;
    }
    std::size_t point = index_.seek_point_for(target);
    for (int attempt = 0;; ++attempt) {
        const bool sought = seek_to(point);
        decoding_from_first_key_ = point == 0 || !sought;
        advance(target);
        if (current_time_ || decoding_from_first_key_) return;
        // The demuxer came out after the target: start from an earlier key frame, at last the first.
        point = attempt >= 1 ? 0 : point - 1;
    }
}

void LibraryMovie::advance(std::int64_t target) {
    for (;;) {
        if (current_time_ && *current_time_ == target) return;
        if (next_time_) {
            if (*next_time_ > target) return;
            std::swap(current_, next_);
            current_time_ = next_time_;
            av_frame_unref(next_.get());
            next_time_.reset();
            continue;
        }
        if (!decode_next(target)) return;
        const std::int64_t time = time_of_received_frame();
        if (time <= target) {
            // Frames from before the position already reached (leading pictures) are not kept.
            if (!current_time_ || time >= *current_time_) {
                std::swap(current_, received_);
                current_time_ = time;
            }
        } else {
            std::swap(next_, received_);
            next_time_ = time;
        }
        av_frame_unref(received_.get());
    }
}

std::int64_t LibraryMovie::time_of_received_frame() {
    const auto& times = index_.times();
    std::int64_t time = 0;
    if (index_.timing() == FrameTiming::presentation_stamps) {
        std::int64_t stamp_value = received_->pts != AV_NOPTS_VALUE ? received_->pts : received_->best_effort_timestamp;
        if (stamp_value != AV_NOPTS_VALUE) {
            time = stamp_value;
        } else {
            // A frame that lost its stamp: take it for the one after the last frame seen.
            std::size_t following = 0;
            if (last_frame_time_)
                following = std::upper_bound(times.begin(), times.end(), *last_frame_time_) - times.begin();
            time = times[std::min(following, times.size() - 1)];
        }
    } else {
        const std::size_t counted = next_counted_frame_.value_or(0);
        time = times[std::min(counted, times.size() - 1)];
        next_counted_frame_ = counted + 1;
    }
    last_frame_time_ = time;
    return time;
}

// The frame asked for failed: decode the nearest skipped frames before it instead, newest first.
// An intra-only decoder holds no frames between packets, so it can take them out of turn.
void LibraryMovie::decode_held_back(std::int64_t target) {
    while (!held_back_.empty()) {
        auto [time, packet] = std::move(held_back_.back());
        held_back_.pop_back();
        if (time > target) continue;
        if (current_time_ && time <= *current_time_) break;  // no nearer than what we have
        avcodec_flush_buffers(decoder_.get());
        if (avcodec_send_packet(decoder_.get(), packet.get()) < 0) continue;
        if (avcodec_receive_frame(decoder_.get(), received_.get()) < 0) continue;
        std::swap(current_, received_);
        av_frame_unref(received_.get());
        current_time_ = time;
        return;
    }
}

bool LibraryMovie::decode_next(std::int64_t target) {
    if (decoder_drained_) return false;
    int failures = 0;
    for (;;) {
        const int error = avcodec_receive_frame(decoder_.get(), received_.get());
        if (error >= 0) return true;
        if (error == AVERROR_EOF) {
            decoder_drained_ = true;
            return false;
        }
        if (error != AVERROR(EAGAIN)) {
            note_error("a picture could not be decoded", error);
            if (++failures >= max_failures_in_a_row) {
                decoder_drained_ = true;
                return false;
            }
            continue;
        }
        if (!feed_decoder(target)) {
            decoder_drained_ = true;
            return false;
        }
    }
}

bool LibraryMovie::feed_decoder(std::int64_t target) {
    if (demuxer_finished_) return false;  // drained already, yet the decoder asks for more
    if (!packet_pending_ && !read_packet(target)) {
        // The end of the stream: let the decoder hand out the frames it still holds.
        avcodec_send_packet(decoder_.get(), nullptr);
        demuxer_finished_ = true;
        return true;
    }
    const int error = avcodec_send_packet(decoder_.get(), packet_.get());
    if (error == AVERROR(EAGAIN)) {
        packet_pending_ = true;  // sent again once frames have been taken out
        return true;
    }
    packet_pending_ = false;
    av_packet_unref(packet_.get());
    if (error < 0) note_error("a picture could not be decoded", error);
    return true;
}

bool LibraryMovie::read_packet(std::int64_t target) {
    if (!demuxer_.format) return false;
    int failures = 0;
    for (;;) {
        const int error = av_read_frame(demuxer_.format.get(), packet_.get());
        if (error == AVERROR_EOF) return false;
        if (error < 0) {
            note_error("the movie file could not be read", error);
            if (avio_feof(demuxer_.format->pb) || ++failures >= max_failures_in_a_row) return false;
            continue;
        }
        failures = 0;
        if (packet_->stream_index != stream_index_ || packet_->size <= 0) {
            av_packet_unref(packet_.get());
            continue;
        }
        give_palette(*packet_);
        if (!next_counted_frame_ && index_.timing() == FrameTiming::decode_stamps && packet_->dts != AV_NOPTS_VALUE) {
            // The first packet after a seek is a key frame, shown at its decode stamp's place.
            const auto& times = index_.times();
            next_counted_frame_ = std::lower_bound(times.begin(), times.end(), packet_->dts) - times.begin();
        }
        const bool before_target = index_.timing() == FrameTiming::presentation_stamps &&
                                   packet_->pts != AV_NOPTS_VALUE && packet_->pts < target;
        if (intra_only_ && (before_target || (packet_->flags & AV_PKT_FLAG_DISCARD))) {
            // Each frame stands alone: frames not shown need not be decoded.
            PacketPtr held(before_target && !(packet_->flags & AV_PKT_FLAG_DISCARD) ? av_packet_alloc() : nullptr);
            if (held) {
                const std::int64_t time = packet_->pts;
                av_packet_move_ref(held.get(), packet_.get());
                held_back_.emplace_back(time, std::move(held));
                if (held_back_.size() > held_back_frames) held_back_.pop_front();
            }
            av_packet_unref(packet_.get());
            continue;
        }
        decoder_->skip_frame = skip_unreferenced_ && before_target ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        return true;
    }
}

// A palettised stream's packet carries the palette in force at its place, whichever way it was
// reached: after a seek, or after packets skipped undecoded, the decoder still draws in the
// movie's colours. A packet without stamps, or one there is no memory for, goes as it is: the
// decoder keeps the palette it was given last.
void LibraryMovie::give_palette(AVPacket& packet) {
    if (palettes_.empty() || av_packet_get_side_data(&packet, AV_PKT_DATA_PALETTE, nullptr) != nullptr) return;
    const std::optional<std::int64_t> position = decode_position(packet);
    if (!position) return;
    const PaletteTimeline::Palette& palette = palettes_.at(*position);
    if (std::uint8_t* data = av_packet_new_side_data(&packet, AV_PKT_DATA_PALETTE, palette.size()))
        std::memcpy(data, palette.data(), palette.size());
    else
        note_error("no memory for the picture's palette", AVERROR(ENOMEM));
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

    if ((current_time_ && *current_time_ <= target) || (!current_time_ && decoding_from_first_key_))
        advance(target);
    else
        reposition(target);
    if (intra_only_ && current_time_ != target) decode_held_back(target);

    const AVFrame* shown = current_time_ ? current_.get() : next_time_ ? next_.get() : nullptr;
    const std::optional<std::int64_t> shown_time = current_time_ ? current_time_ : next_time_;
    char text[160];
    std::string reason;
    if (shown != nullptr && converter_->convert(*shown, bitmap_, reason)) {
        bitmap_time_ = shown_time;
        if (*shown_time == target) {
            last_error_.clear();
            return;
        }
        std::snprintf(text, sizeof text, "the picture at %.3f s could not be decoded; showing the one at %.3f s",
                      t / static_cast<double>(movie_time_scale), seconds(*shown_time));
        reason = !last_error_.empty() ? last_error_
                 : decoder_drained_   ? "the movie ends early"
                                      : "the frame is missing";
    } else {
        std::snprintf(text, sizeof text, "the picture at %.3f s could not be decoded",
                      t / static_cast<double>(movie_time_scale));
        if (shown == nullptr) reason = !last_error_.empty() ? last_error_ : "the movie ends early";
    }
    warning_ = std::string(text) + " (" + reason + ")";
}

}  // namespace

std::unique_ptr<Movie> Movie::open(const std::string& path, MovieOpenResult& result, std::string& detail) {
    start_library();
    auto movie = std::make_unique<LibraryMovie>();
    if (!movie->start(path, result, detail)) return nullptr;
    result = MovieOpenResult::ok;
    detail.clear();
    return movie;
}

}  // namespace vintrel
