// Decoding ahead: a background thread makes the items for announced times in order (a decoded
// picture, a dithered frame) and hands them over.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "convert/movie/thread_owner.h"

namespace vintrel {

// `Item` is what is made for one time (a decoded picture, a dithered frame); its storage is handed
// back and forth so that steady work allocates nothing.
template <typename Item>
class Prefetcher {
public:
    // Makes the item for time `t` into `item` (whose storage may be reused). Returns false,
    // leaving `item` unfinished, when `stopping` was set while it worked.
    using Producer = std::function<bool(std::int32_t t, Item& item, const std::atomic<bool>& stopping)>;

    // Starts a thread that calls `produce` for each of `times` in order, keeping at most `depth`
    // finished items waiting. Throws std::system_error when no thread can be started.
    //
    // `handed` guards what `produce` works on (the movie), which the calling thread owns: it is
    // handed to the thread for as long as the thread runs, and the calling thread takes it back in
    // stop(). Between the two, the calling thread must not use it.
    Prefetcher(std::vector<std::int32_t> times, std::size_t depth, Producer produce, ThreadOwner* handed = nullptr)
        : times_(std::move(times)), depth_(depth > 0 ? depth : 1), produce_(std::move(produce)), handed_(handed) {
        spare_.reserve(depth_ + 1);
        if (handed_) handed_->release();
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            if (handed_) handed_->take_over();
            throw;
        }
    }
    // Stops the thread and waits for it.
    ~Prefetcher() { stop(); }
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // Whether `t` is the time whose item take() gives next.
    bool is_next(std::int32_t t) const { return taken_ < times_.size() && times_[taken_] == t; }

    // Waits for the next item and swaps it into `item`; what `item` held goes back to the thread
    // as storage to reuse. Returns false, `item` unchanged, when the thread failed (an exception
    // inside `produce`) or nothing is left to take.
    bool take(Item& item) {
        if (taken_ >= times_.size()) return false;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
        if (ready_.empty()) return false;
        std::swap(item, ready_.front());
        // Handed back for the thread to reuse, within the room reserved at the start (no allocation).
        if (spare_.size() < spare_.capacity()) spare_.push_back(std::move(ready_.front()));
        ready_.pop_front();
        ++taken_;
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    // Stops the thread, interrupting the item it works on, and waits for it. The producer's state
    // is then that of an unknown number of items past the last one taken.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        if (handed_) handed_->take_over();
    }

private:
    void run() noexcept {
        bool owns = false;
        try {
            if (handed_) handed_->take_over();
            owns = true;
            for (const std::int32_t t : times_) {
                Item item;
                {
                    std::unique_lock lock(mutex_);
                    changed_.wait(lock, [this] { return stopping_ || ready_.size() < depth_; });
                    if (stopping_) break;
                    if (!spare_.empty()) {
                        item = std::move(spare_.back());
                        spare_.pop_back();
                    }
                }
                if (!produce_(t, item, stopping_)) break;
                {
                    std::lock_guard lock(mutex_);
                    ready_.push_back(std::move(item));
                }
                changed_.notify_all();
            }
        } catch (...) {
            // Out of memory, most likely: the items not made yet are made on demand instead.
        }
        if (handed_ && owns) handed_->release();
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    const std::vector<std::int32_t> times_;
    const std::size_t depth_;
    const Producer produce_;
    ThreadOwner* const handed_;
    std::size_t taken_ = 0;  // used by the taking thread only

    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> ready_;   // finished items, oldest first
    std::vector<Item> spare_;  // taken items whose storage the thread may reuse
    bool finished_ = false;    // the thread made its last item, failed or stopped

    std::thread thread_;  // started last, once everything it uses exists
};

}  // namespace vintrel
