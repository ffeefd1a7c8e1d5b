#include "convert/movie_prefetch.h"

#include <utility>

namespace vintrel::movie_detail {

PicturePrefetcher::PicturePrefetcher(std::vector<std::int32_t> times, std::size_t depth, Producer produce)
    : times_(std::move(times)), depth_(depth > 0 ? depth : 1), produce_(std::move(produce)) {
    spare_.reserve(depth_ + 1);
    thread_ = std::thread([this] { run(); });
}

PicturePrefetcher::~PicturePrefetcher() { stop(); }

void PicturePrefetcher::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool PicturePrefetcher::take(ReadyPicture& picture) {
    if (taken_ >= times_.size()) return false;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty()) return false;
    std::swap(picture, ready_.front());
    // Handed back for the thread to reuse, within the room reserved at the start (no allocation).
    if (spare_.size() < spare_.capacity()) spare_.push_back(std::move(ready_.front()));
    ready_.pop_front();
    ++taken_;
    lock.unlock();
    changed_.notify_all();
    return true;
}

void PicturePrefetcher::run() noexcept {
    try {
        for (const std::int32_t t : times_) {
            ReadyPicture picture;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stopping_ || ready_.size() < depth_; });
                if (stopping_) break;
                if (!spare_.empty()) {
                    picture = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            if (!produce_(t, picture, stopping_)) break;
            {
                std::lock_guard lock(mutex_);
                ready_.push_back(std::move(picture));
            }
            changed_.notify_all();
        }
    } catch (...) {
        // Out of memory, most likely: the pictures not made yet are made on demand instead.
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

}  // namespace vintrel::movie_detail
