// Decoding ahead: a background thread makes the pictures for announced times in order and hands them over.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert/movie.h"

namespace vintrel::movie_detail {

// One picture made ahead of time, with what the caller is told about it and the frame time it
// shows (to go on from it on demand).
struct ReadyPicture {
    Bitmap bitmap;
    std::string warning;
    std::optional<std::int64_t> bitmap_time;
};

class PicturePrefetcher {
public:
    // Makes the picture for time `t` into `picture` (whose bitmap storage may be reused). Returns
    // false, leaving `picture` unfinished, when `stopping` was set while it worked.
    using Producer = std::function<bool(std::int32_t t, ReadyPicture& picture, const std::atomic<bool>& stopping)>;

    // Starts a thread that calls `produce` for each of `times` in order, keeping at most `depth`
    // finished pictures waiting. Throws std::system_error when no thread can be started.
    PicturePrefetcher(std::vector<std::int32_t> times, std::size_t depth, Producer produce);
    // Stops the thread and waits for it.
    ~PicturePrefetcher();
    PicturePrefetcher(const PicturePrefetcher&) = delete;
    PicturePrefetcher& operator=(const PicturePrefetcher&) = delete;

    // Whether `t` is the time whose picture take() gives next.
    bool is_next(std::int32_t t) const { return taken_ < times_.size() && times_[taken_] == t; }

    // Waits for the next picture and swaps it into `picture`; what `picture` held goes back to the
    // thread as storage to reuse. Returns false, `picture` unchanged, when the thread failed (an
    // exception inside `produce`) or nothing is left to take.
    bool take(ReadyPicture& picture);

    // Stops the thread, interrupting the picture it works on, and waits for it. The producer's
    // state is then that of an unknown number of pictures past the last one taken.
    void stop();

private:
    void run() noexcept;

    const std::vector<std::int32_t> times_;
    const std::size_t depth_;
    const Producer produce_;
    std::size_t taken_ = 0;  // used by the taking thread only

    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ReadyPicture> ready_;  // finished pictures, oldest first
    std::vector<ReadyPicture> spare_;  // taken pictures whose storage the thread may reuse
    bool finished_ = false;            // the thread made its last picture, failed or stopped

    std::thread thread_;  // started last, once everything it uses exists
};

}  // namespace vintrel::movie_detail
