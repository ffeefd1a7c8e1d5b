#include "convert/movie/frame_index.h"

#include <algorithm>
#include <limits>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace vintrel::movie_detail {

namespace {

bool shown(const PacketTiming& packet) { return !packet.discard && !packet.empty; }

}  // namespace

void FrameIndex::add(PacketTiming packet) {
    const std::optional<std::int64_t> decode = packet.dts ? packet.dts : packet.pts;
    if (jump_ > 0 && decode) {
        std::int64_t stamp = add_saturated(*decode, correction_);
        if (last_decode_stamp_) {
            const std::int64_t expected = add_saturated(*last_decode_stamp_, last_step_);
            const std::int64_t late = subtract_saturated(stamp, expected);
            if (late > jump_ || stamp < subtract_saturated(*last_decode_stamp_, slack_)) {
                // A new part: its clock jumped ahead, or went back. It goes on where the last
                // part ends. A packet of unknown place starts its part right after the last known one.
                correction_ = subtract_saturated(correction_, late);
                stamp = expected;
                joins_.push_back({packet.position ? *packet.position : last_position_ + 1, correction_});
            }
            const std::int64_t step = subtract_saturated(stamp, *last_decode_stamp_);
            last_step_ = packet.duration > 0 ? packet.duration : step > 0 ? step : last_step_;
        } else {
            last_step_ = std::max<std::int64_t>(packet.duration, 0);
        }
        last_decode_stamp_ = stamp;
        if (packet.pts) packet.pts = add_saturated(*packet.pts, correction_);
        if (packet.dts) packet.dts = add_saturated(*packet.dts, correction_);
    }
    if (packet.position) last_position_ = *packet.position;
    packets_.push_back(packet);
}

std::int64_t FrameIndex::correction_at(std::optional<std::int64_t> position, std::int64_t current) const {
    if (!position) return current;
    const auto after = std::upper_bound(joins_.begin(), joins_.end(), *position,
                                        [](std::int64_t at, const Join& join) { return at < join.position; });
    return after == joins_.begin() ? 0 : (after - 1)->correction;
}

void FrameIndex::finish(std::int64_t frame_duration) {
    frame_duration = std::max<std::int64_t>(frame_duration, 1);
    while (!packets_.empty() && packets_.back().cut) packets_.pop_back();
    bool all_pts = true;
    bool all_dts = true;
    for (const PacketTiming& packet : packets_) {
        if (!shown(packet)) continue;
        all_pts = all_pts && packet.pts.has_value();
        all_dts = all_dts && packet.dts.has_value();
    }
    timing_ = all_pts ? FrameTiming::presentation_stamps
              : all_dts ? FrameTiming::decode_stamps
                        : FrameTiming::frame_count;

    times_.clear();
    seek_points_.clear();
    end_ = std::numeric_limits<std::int64_t>::min();
    const auto stamp = [&](const PacketTiming& packet) {
        return timing_ == FrameTiming::presentation_stamps ? packet.pts : packet.dts;
    };
    std::int64_t count = 0;
    for (const PacketTiming& packet : packets_) {
        const std::int64_t duration = packet.duration > 0 ? packet.duration : frame_duration;
        if (timing_ == FrameTiming::frame_count) {
            if (shown(packet)) times_.push_back(count++ * frame_duration);
            continue;
        }
        const std::optional<std::int64_t> time = stamp(packet);
        if (!time) continue;
        if (!packet.discard) {
            if (!packet.empty) times_.push_back(*time);
            // An empty packet keeps the previous picture on screen for its duration.
            end_ = std::max(end_, *time > std::numeric_limits<std::int64_t>::max() - duration
                                      ? std::numeric_limits<std::int64_t>::max()
                                      : *time + duration);
        }
        // Key frames outside an edit are still where decoding must start.
        if (packet.key && !packet.empty) seek_points_.push_back({*time, packet.dts.value_or(*time), packet.position});
    }
    if (timing_ == FrameTiming::frame_count) end_ = count * frame_duration;
    std::sort(times_.begin(), times_.end());
    std::stable_sort(seek_points_.begin(), seek_points_.end(),
                     [](const SeekPoint& a, const SeekPoint& b) { return a.time < b.time; });
    if (times_.empty()) end_ = 0;
    packets_.clear();
    packets_.shrink_to_fit();
}

std::size_t FrameIndex::frame_at(std::int64_t time) const {
    const auto after = std::upper_bound(times_.begin(), times_.end(), time);
    return after == times_.begin() ? 0 : static_cast<std::size_t>(after - times_.begin() - 1);
}

std::size_t FrameIndex::seek_point_for(std::int64_t time) const {
    const auto after = std::upper_bound(seek_points_.begin(), seek_points_.end(), time,
                                        [](std::int64_t t, const SeekPoint& point) { return t < point.time; });
    return after == seek_points_.begin() ? 0 : static_cast<std::size_t>(after - seek_points_.begin() - 1);
}

std::int32_t movie_units_rounded_up(std::int64_t span, int num, int den, int scale) {
    if (span <= 0 || num <= 0 || den <= 0 || scale <= 0) return 0;
    const std::int64_t units = av_rescale_rnd(span, static_cast<std::int64_t>(num) * scale, den, AV_ROUND_UP);
    if (units < 0 || units > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(units);
}

std::int64_t time_base_units(std::int32_t t, int num, int den, int scale) {
    if (t <= 0 || num <= 0 || den <= 0 || scale <= 0) return 0;
    return av_rescale_rnd(t, den, static_cast<std::int64_t>(num) * scale, AV_ROUND_DOWN);
}

}  // namespace vintrel::movie_detail
