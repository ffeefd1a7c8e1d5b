// Decoding the movie's video stream in display order, from any position.
#include "convert/movie/frame_decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vintrel::movie_detail {

namespace {

// Read or decode failures in a row after which a damaged stream counts as ended.
constexpr int max_failures_in_a_row = 64;
// Skipped frames of an intra-only codec kept to fall back on when the frame asked for fails.
constexpr std::size_t held_back_frames = 4;

// A movie is one self-contained file: demuxers may not open other files or URLs it names.
int refuse_nested_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

}  // namespace

bool FrameDecoder::allocate() {
    packet_.reset(av_packet_alloc());
    current_.reset(av_frame_alloc());
    next_.reset(av_frame_alloc());
    received_.reset(av_frame_alloc());
    return packet_ && current_ && next_ && received_;
}

// Opens the demuxer on the file's start. `out_of_memory` tells a failure of this layer's own
// allocations from the demuxer's verdict on the file.
int FrameDecoder::open_demuxer(bool& out_of_memory) {
    Demuxer& demuxer = demuxer_;
    out_of_memory = false;
    demuxer.format.reset();
    demuxer.io = file_.make_io_context();
    AVFormatContext* format = demuxer.io ? avformat_alloc_context() : nullptr;
    if (format == nullptr) {
        out_of_memory = true;
        return AVERROR(ENOMEM);
    }
    format->pb = demuxer.io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = refuse_nested_open;
    int error = avformat_open_input(&format, probe_name_.c_str(), nullptr, nullptr);
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

void FrameDecoder::select_stream(int index) {
    stream_index_ = index;
    AVFormatContext* format = demuxer_.format.get();
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = static_cast<int>(i) == stream_index_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

bool FrameDecoder::rewind() {
    const bool positioned = index_.seek_points().empty() ? restart() : seek_to(0);
    if (!positioned && !demuxer_.format) return false;
    decoding_from_first_key_ = true;
    advance(index_.times().front());
    return true;
}

void FrameDecoder::go_to(std::int64_t target) {
    if ((current_time_ && *current_time_ <= target) || (!current_time_ && decoding_from_first_key_))
        advance(target);
    else
        reposition(target);
    if (intra_only_ && current_time_ != target) decode_held_back(target);
}

void FrameDecoder::note_error(const std::string& what, int error) { last_error_ = what + ": " + error_text(error); }

void FrameDecoder::forget_decoded_frames() {
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

bool FrameDecoder::seek_to(std::size_t seek_point) {
    forget_decoded_frames();
    const FrameIndex::SeekPoint& point = index_.seek_points()[seek_point];
    if (!demuxer_.format) return restart();
    int sought = -1;
    if (!index_.joined())
        sought = av_seek_frame(demuxer_.format.get(), stream_index_, point.seek_stamp, AVSEEK_FLAG_BACKWARD);
    else if (point.position)  // the stamps of joined parts do not tell where a time lies; the byte does
        sought = av_seek_frame(demuxer_.format.get(), -1, *point.position, AVSEEK_FLAG_BYTE);
    return sought >= 0 || restart();
}

bool FrameDecoder::restart() {
    forget_decoded_frames();
    bool out_of_memory = false;
    const int error = open_demuxer(out_of_memory);
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

void FrameDecoder::reposition(std::int64_t target) {
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

void FrameDecoder::advance(std::int64_t target) {
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

std::int64_t FrameDecoder::time_of_received_frame() {
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
void FrameDecoder::decode_held_back(std::int64_t target) {
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

bool FrameDecoder::decode_next(std::int64_t target) {
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

bool FrameDecoder::feed_decoder(std::int64_t target) {
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

int FrameDecoder::scan_packets(FrameIndex& index, PaletteTimeline& palettes) {
    AVFormatContext* format = demuxer_.format.get();
    AVPacket* packet = packet_.get();
    int failures = 0;
    for (;;) {
        const int error = av_read_frame(format, packet);
        if (error == AVERROR_EOF) return 0;
        if (error < 0) {
            if (file_.read_error() != 0) return error;
            if (avio_feof(format->pb) || ++failures >= max_failures_in_a_row) return 0;
            continue;
        }
        failures = 0;
        if (packet->stream_index == stream_index_) {
            PacketTiming timing;
            timing.pts = stamp(packet->pts);
            timing.dts = stamp(packet->dts);
            timing.duration = packet->duration;
            timing.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            timing.discard = (packet->flags & AV_PKT_FLAG_DISCARD) != 0;
            timing.empty = packet->size <= 0;
            timing.position = byte_position(*packet);
            timing.cut = (packet->flags & AV_PKT_FLAG_CORRUPT) != 0;
            index.add(timing);
            std::size_t palette_size = 0;
            const std::uint8_t* palette = av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, &palette_size);
            const std::optional<std::int64_t> position = decode_position(*packet);
            if (palette != nullptr && palette_size > 0 && position) palettes.add(*position, palette, palette_size);
        }
        av_packet_unref(packet);
    }
}

bool FrameDecoder::read_packet(std::int64_t target) {
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
        if (index_.joined()) correct_stamps(*packet_);
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

// The packet's stamps as the index has them: moved by the joins of the parts before it.
void FrameDecoder::correct_stamps(AVPacket& packet) {
    correction_ = index_.correction_at(byte_position(packet), correction_);
    if (packet.pts != AV_NOPTS_VALUE) packet.pts = add_saturated(packet.pts, correction_);
    if (packet.dts != AV_NOPTS_VALUE) packet.dts = add_saturated(packet.dts, correction_);
}

// A palettised stream's packet carries the palette in force at its place, whichever way it was
// reached: after a seek, or after packets skipped undecoded, the decoder still draws in the
// movie's colours. A packet without stamps, or one there is no memory for, goes as it is: the
// decoder keeps the palette it was given last.
void FrameDecoder::give_palette(AVPacket& packet) {
    if (palettes_.empty() || av_packet_get_side_data(&packet, AV_PKT_DATA_PALETTE, nullptr) != nullptr) return;
    const std::optional<std::int64_t> position = decode_position(packet);
    if (!position) return;
    const PaletteTimeline::Palette& palette = palettes_.at(*position);
    if (std::uint8_t* data = av_packet_new_side_data(&packet, AV_PKT_DATA_PALETTE, palette.size()))
        std::memcpy(data, palette.data(), palette.size());
    else
        note_error("no memory for the picture's palette", AVERROR(ENOMEM));
}

}  // namespace vintrel::movie_detail
