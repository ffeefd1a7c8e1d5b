// The presentation timeline of a movie's video stream, gathered from its packets before decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vintrel::movie_detail {

// What the demuxer tells about one video packet; times in the stream's time-base units.
struct PacketTiming {
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
    std::int64_t duration = 0;  // 0 when unknown
    bool key = false;
    bool discard = false;  // decoded as a reference only, never shown (e.g. cut by an edit list)
    bool empty = false;    // holds no picture: the previous picture stays on screen
};

// How decoded frames are matched with their presentation times.
enum class FrameTiming {
    presentation_stamps,  // every shown packet has a presentation stamp, which its frame carries
    decode_stamps,        // no presentation stamps (AVI with B-frames): the frames, which come out
                          // in display order, take the ascending decode stamps in turn
    frame_count,          // no usable stamps: frame n is shown at n frame durations
};

class FrameIndex {
public:
    // Gathers one packet of the video stream, in the order the demuxer delivers them.
    void add(const PacketTiming& packet);
    // Completes the index; `frame_duration` (> 0) stands in for packets of unknown duration.
    void finish(std::int64_t frame_duration);

    bool empty() const { return times_.empty(); }
    FrameTiming timing() const { return timing_; }
    // Presentation times of the shown frames, ascending.
    const std::vector<std::int64_t>& times() const { return times_; }
    // The first frame's presentation time and the end of the last frame.
    std::int64_t start() const { return times_.empty() ? 0 : times_.front(); }
    std::int64_t end() const { return end_; }
    // The index into times() of the frame on screen at `time`: the last one at or before it,
    // the first one when none is.
    std::size_t frame_at(std::int64_t time) const;

    struct SeekPoint {
        std::int64_t time;        // the key frame's time, in the stamps of timing()
        std::int64_t seek_stamp;  // the stamp to hand to the demuxer's seek
    };
    // Key frames by ascending time; empty for frame_count timing.
    const std::vector<SeekPoint>& seek_points() const { return seek_points_; }
    // The index into seek_points() of the last key frame at or before `time`, 0 when none is.
    std::size_t seek_point_for(std::int64_t time) const;

private:
    std::vector<PacketTiming> packets_;
    FrameTiming timing_ = FrameTiming::presentation_stamps;
    std::vector<std::int64_t> times_;
    std::int64_t end_ = 0;
    std::vector<SeekPoint> seek_points_;
};

// A span of `span` time-base units (num/den seconds each) in movie units of 1/`scale` second,
// rounded up and limited to the 32-bit range.
std::int32_t movie_units_rounded_up(std::int64_t span, int num, int den, int scale);

// Movie time `t` (1/`scale` second units) in time-base units, rounded down; t < 0 counts as 0.
std::int64_t time_base_units(std::int32_t t, int num, int den, int scale);

}  // namespace vintrel::movie_detail
