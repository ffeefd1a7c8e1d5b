// A sample of a movie's frames: automatic brightness and the database size estimate.
#include "convert/frame_sample.h"

#include <algorithm>
#include <cmath>

#include "convert/frame_grabber.h"
#include "convert/pdb/writer.h"
#include "convert/sample_rate.h"

namespace vintrel {

FrameSample::FrameSample(Movie& movie, FramePart part, int count, std::stop_token stop) : part_count_(part.count) {
    if (part.count <= 0 || count <= 0) return;
    const int taken = std::min(count, part.count);
    for (int k = 0; k < taken && !stop.stop_requested(); k++) {
        const int n = part.first + (taken == 1 ? 0 : static_cast<int>(std::lround(
                                                         static_cast<double>(k) * (part.count - 1) / (taken - 1))));
        Bitmap grey = grey_picture(movie.picture_at(sample_time(n, movie.time_scale(), frames_per_second)));
        const std::size_t stride = static_cast<std::size_t>(grey.row_bytes());
        for (int y = 0; y < grey.height; y++)
            for (int x = 0; x < grey.width; x++) greys_[grey.bits[static_cast<std::size_t>(y) * stride + x]]++;
        pictures_.push_back(std::move(grey));
    }
}

int FrameSample::automatic_brightness() const {
    std::uint64_t all = 0;
    for (const std::uint64_t count : greys_) all += count;
    if (all == 0) return 0;
    // The median grey: the first whose count, with those below it, reaches half the pixels.
    int median = 0;
    for (std::uint64_t below = 0; (below += greys_[median]) * 2 < all;) median++;
    return std::clamp(dither_middle_grey - median, -255, 255);
}

std::uint64_t FrameSample::estimated_database_size(int brightness) const {
    const std::uint64_t frames = static_cast<std::uint64_t>(std::max(part_count_, 0));
    if (pictures_.empty()) return database_size(frames, 0);
    std::uint64_t data = 0;
    GrabbedFrame frame;
    for (const Bitmap& picture : pictures_) {
        dither_frame(picture, brightness, picture.height, picture.width, false, frame);
        data += frame.record->data_length();
    }
    return database_size(frames, static_cast<std::uint64_t>(std::llround(static_cast<double>(data) / pictures_.size() * frames)));
}

}  // namespace vintrel
