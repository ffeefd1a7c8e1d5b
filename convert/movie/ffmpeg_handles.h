// Owning handles for the FFmpeg objects of the movie layer, and the small helpers its decoding
// and opening share.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "convert/movie/file_input.h"

namespace vintrel::movie_detail {

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

// The demuxer over the movie file.
struct Demuxer {
    IoContextPtr io;   // declared first, so freed after the format context that reads through it
    FormatPtr format;
};

inline std::string error_text(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

inline std::optional<std::int64_t> stamp(std::int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(value);
}

// Where a packet starts in the file, when the demuxer knows.
inline std::optional<std::int64_t> byte_position(const AVPacket& packet) {
    return packet.pos >= 0 ? std::optional<std::int64_t>(packet.pos) : std::nullopt;
}

// A packet's place in decode order, as far as its stamps tell it.
inline std::optional<std::int64_t> decode_position(const AVPacket& packet) {
    if (packet.dts != AV_NOPTS_VALUE) return packet.dts;
    return stamp(packet.pts);
}

}  // namespace vintrel::movie_detail
