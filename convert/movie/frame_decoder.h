// Decoding the movie's video stream in display order, from any position.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "convert/movie/ffmpeg_handles.h"
#include "convert/movie/file_input.h"
#include "convert/movie/frame_index.h"
#include "convert/movie/palettes.h"

namespace vintrel::movie_detail {

// Demuxes the chosen video stream of a movie file and decodes its frames, keeping the frame on
// screen at the last target time and the first one after it. It moves forward by decoding and
// back (or far ahead) by seeking to the key frame before the target; damaged stretches are
// skipped, and an intra-only stream decodes only the frames that are shown.
//
// The opening steps are taken in this order: allocate(), open_demuxer(), select_stream(),
// use_codec(), then (once the index is complete) skip_unreferenced() and rewind().
class FrameDecoder {
public:
    // The file, the frame index and the palettes must outlive the decoder; the index and the
    // palettes are complete before the first rewind().
    FrameDecoder(MovieFileInput& file, std::string probe_name, const FrameIndex& index,
                 const PaletteTimeline& palettes)
        : file_(file), probe_name_(std::move(probe_name)), index_(index), palettes_(palettes) {}

    // The packet and frames; false when there is no memory for them.
    bool allocate();

    // Opens the demuxer on the file's start. `out_of_memory` tells a failure of this layer's own
    // allocations from the demuxer's verdict on the file.
    int open_demuxer(bool& out_of_memory);
    AVFormatContext* format() const { return demuxer_.format.get(); }

    // Reads only the video stream `index` from now on.
    void select_stream(int index);
    int stream_index() const { return stream_index_; }
    // Before decoding: reads every packet of that stream once, from where the demuxer stands to
    // the end, into `index` (their timing) and `palettes` (the palettes they carry): the two the
    // decoder reads later. A damaged stretch ends the pass with what could be read. Returns 0, or
    // the demuxer's error when the file itself could not be read.
    int scan_packets(FrameIndex& index, PaletteTimeline& palettes);
    // The opened decoder of that stream; `intra_only` when each of its frames stands alone.
    void use_codec(CodecPtr codec, bool intra_only) {
        decoder_ = std::move(codec);
        intra_only_ = intra_only;
    }
    // Whether the decoder may skip the frames no other frame refers to on the way to a target.
    void skip_unreferenced(bool skip) { skip_unreferenced_ = skip; }

    // Goes back to the start and decodes up to the first frame. False when the movie cannot be
    // read from its start at all.
    bool rewind();

    // Decodes up to `target` (a frame time of the index).
    void go_to(std::int64_t target);

    // The frame shown at the target: the one at or before it, else the first one after it; null
    // when nothing could be decoded.
    const AVFrame* shown() const { return current_time_ ? current_.get() : next_time_ ? next_.get() : nullptr; }
    std::optional<std::int64_t> shown_time() const { return current_time_ ? current_time_ : next_time_; }

    // The last failure of reading or decoding, empty when the last target was reached cleanly.
    const std::string& last_error() const { return last_error_; }
    void clear_last_error() { last_error_.clear(); }
    // The decoder gave its last frame.
    bool drained() const { return decoder_drained_; }

private:
    void forget_decoded_frames();
    bool seek_to(std::size_t seek_point);
    bool restart();
    void reposition(std::int64_t target);
    void advance(std::int64_t target);
    bool decode_next(std::int64_t target);
    bool feed_decoder(std::int64_t target);
    bool read_packet(std::int64_t target);
    std::int64_t time_of_received_frame();
    void decode_held_back(std::int64_t target);
    void correct_stamps(AVPacket& packet);
    void give_palette(AVPacket& packet);
    void note_error(const std::string& what, int error);

    MovieFileInput& file_;
    const std::string probe_name_;
    const FrameIndex& index_;
    const PaletteTimeline& palettes_;

    Demuxer demuxer_;
    int stream_index_ = -1;
    CodecPtr decoder_;
    bool intra_only_ = false;
    bool skip_unreferenced_ = false;

    PacketPtr packet_;
    bool packet_pending_ = false;    // packet_ holds a packet the decoder could not take yet
    bool demuxer_finished_ = false;  // every packet read and the decoder told to drain
    bool decoder_drained_ = false;   // the decoder gave its last frame
    // For decode_stamps and frame_count timing: the index into the frame times of the next
    // frame the decoder gives, once known after a seek.
    std::optional<std::size_t> next_counted_frame_;
    std::optional<std::int64_t> last_frame_time_;
    // What the joins of the file's parts add to the stamps of the packet read last.
    std::int64_t correction_ = 0;
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
};

}  // namespace vintrel::movie_detail
