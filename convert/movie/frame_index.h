// The presentation timeline of a movie's video stream, gathered from its packets before decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
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
    std::optional<std::int64_t> position;  // the packet's byte offset in the file, when known
    bool cut = false;  // the file ended inside the packet (the demuxer marks it corrupt)
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
    // For formats whose clock may jump (transport and program streams, recordings cut and joined):
    // a decode stamp more than `jump` units after the one expected, or more than `slack` units
    // behind the last one, starts a new part, which is joined to the one before with no gap. Set
    // before the first add().
    void join_clock_jumps(std::int64_t jump, std::int64_t slack) {
        jump_ = jump;
        slack_ = slack;
    }
    // Gathers one packet of the video stream, in the order the demuxer delivers them; its stamps
    // are taken as corrected by the joins found so far.
    void add(PacketTiming packet);
    // Completes the index; `frame_duration` (> 0) stands in for packets of unknown duration.
    // Packets the file ended inside are no pictures: those at the end are left out.
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
        std::optional<std::int64_t> position;  // the key frame's byte offset, when known
    };
    // Key frames by ascending time; empty for frame_count timing.
    const std::vector<SeekPoint>& seek_points() const { return seek_points_; }
    // The index into seek_points() of the last key frame at or before `time`, 0 when none is.
    std::size_t seek_point_for(std::int64_t time) const;

    // Whether parts were joined: then the stamps of every packet read are corrected as
    // correction_at() says, and seeking goes by byte position, since the stamps in the file no
    // longer tell the order of the parts.
    bool joined() const { return !joins_.empty(); }
    // What to add to the stamps of the packet at byte `position` (the join it lies after); a
    // packet of unknown position takes `current`, the correction of the packet read before it.
    std::int64_t correction_at(std::optional<std::int64_t> position, std::int64_t current) const;

private:
    struct Join {
        std::int64_t position;    // the first packet of the part
        std::int64_t correction;  // added to the stamps of its packets and of those after
    };

    std::vector<PacketTiming> packets_;
    std::int64_t jump_ = 0;  // 0: the stamps are taken as they are
    std::int64_t slack_ = 0;
    std::optional<std::int64_t> last_decode_stamp_;  // corrected
    std::int64_t last_step_ = 0;  // how far the next decode stamp is expected after the last one
    std::int64_t correction_ = 0;
    std::int64_t last_position_ = -1;
    std::vector<Join> joins_;
    FrameTiming timing_ = FrameTiming::presentation_stamps;
    std::vector<std::int64_t> times_;
    std::int64_t end_ = 0;
    std::vector<SeekPoint> seek_points_;
};

// a + b and a - b held within the 64-bit range: a hostile file's stamps may lie anywhere in it.
inline std::int64_t add_saturated(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}
inline std::int64_t subtract_saturated(std::int64_t a, std::int64_t b) {
    std::int64_t difference = 0;
    if (!__builtin_sub_overflow(a, b, &difference)) return difference;
    return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// A span of `span` time-base units (num/den seconds each) in movie units of 1/`scale` second,
// rounded up and limited to the 32-bit range.
std::int32_t movie_units_rounded_up(std::int64_t span, int num, int den, int scale);

// Movie time `t` (1/`scale` second units) in time-base units, rounded down; t < 0 counts as 0.
std::int64_t time_base_units(std::int32_t t, int num, int den, int scale);

}  // namespace vintrel::movie_detail
