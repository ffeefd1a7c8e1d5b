// What an independent decoder (FFmpeg's video decoder, run in the test process) sees in a video stream:
// per picture in display order its type, its field order and the motion vectors it used, as the decoder
// exports them.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/motion_vector.h>
}

#include <string>
#include <vector>

namespace vintrel::test {

struct DecodedVector {
    int direction;        // -1 from the past reference, +1 from the future one
    int x, y;             // centre of the predicted area in the picture (samples)
    int width, height;    // size of the predicted area (16 x 16, or 16 x 8 for field and 16 x 8 prediction)
    // The vector in half samples as the decoder reports it: vertically in frame lines for frame prediction and
    // in field lines for 16 x 16 field-picture prediction and frame-picture dual prime; the vertical part of
    // 16 x 8 areas (field prediction in frame pictures, 16 x 8 prediction in field pictures) it doubles.
    int dx, dy;
};

struct DecodedPicture {
    char type = '?';      // 'I', 'P' or 'B'
    bool interlaced = false;
    bool top_field_first = false;
    std::vector<DecodedVector> vectors;
};

// Decodes the video stream in `path`. Returns false with a reason in `error` when the stream cannot be
// opened or decoded.
inline bool decode_with_vectors(const std::string& path, std::vector<DecodedPicture>& pictures, std::string& error) {
    av_log_set_level(AV_LOG_ERROR);  // no notes on estimated durations of elementary streams
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), av_find_input_format("mpegvideo"), nullptr) < 0) {
        error = "cannot open " + path;
        return false;
    }
    struct Resources {
        AVFormatContext*& format;
        AVCodecContext* codec = nullptr;
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        ~Resources() {
            av_frame_free(&frame);
            av_packet_free(&packet);
            avcodec_free_context(&codec);
            avformat_close_input(&format);
        }
    } r{format};
    if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams != 1) {
        error = "no video stream in " + path;
        return false;
    }
    const AVCodec* decoder = avcodec_find_decoder(format->streams[0]->codecpar->codec_id);
    r.codec = avcodec_alloc_context3(decoder);
    if (!decoder || !r.codec || avcodec_parameters_to_context(r.codec, format->streams[0]->codecpar) < 0) {
        error = "no decoder for " + path;
        return false;
    }
    r.codec->thread_count = 1;
    r.codec->export_side_data |= AV_CODEC_EXPORT_DATA_MVS;
    if (avcodec_open2(r.codec, decoder, nullptr) < 0) {
        error = "cannot start the decoder for " + path;
        return false;
    }

    auto receive = [&]() {
        while (avcodec_receive_frame(r.codec, r.frame) == 0) {
            DecodedPicture picture;
            picture.type = av_get_picture_type_char(r.frame->pict_type);
            picture.interlaced = r.frame->interlaced_frame != 0;
            picture.top_field_first = r.frame->top_field_first != 0;
            if (const AVFrameSideData* side = av_frame_get_side_data(r.frame, AV_FRAME_DATA_MOTION_VECTORS)) {
                const auto* mv = reinterpret_cast<const AVMotionVector*>(side->data);
                for (std::size_t k = 0; k < side->size / sizeof(AVMotionVector); k++) {
                    const int scale = mv[k].motion_scale ? mv[k].motion_scale : 1;
                    picture.vectors.push_back({mv[k].source < 0 ? -1 : 1, mv[k].dst_x, mv[k].dst_y, mv[k].w, mv[k].h,
                                               mv[k].motion_x * 2 / scale, mv[k].motion_y * 2 / scale});
                }
            }
            pictures.push_back(std::move(picture));
            av_frame_unref(r.frame);
        }
    };
    while (av_read_frame(format, r.packet) >= 0) {
        const int sent = avcodec_send_packet(r.codec, r.packet);
        av_packet_unref(r.packet);
        if (sent < 0) {
            error = "the decoder refused a packet of " + path;
            return false;
        }
        receive();
    }
    avcodec_send_packet(r.codec, nullptr);
    receive();
    return true;
}

}  // namespace vintrel::test
