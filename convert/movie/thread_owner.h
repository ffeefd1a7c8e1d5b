// Which thread may use an object that must not be used by two threads at once.
#pragma once

#include <atomic>
#include <stdexcept>
#include <thread>

namespace vintrel {

// One thread at a time owns the object this guards, starting with the thread that made it. The
// owner gives it up with release(); another thread then takes it with take_over(). The object's
// members call check() before touching its state, so a use from a thread that does not own it
// fails at once instead of racing.
class ThreadOwner {
public:
    ThreadOwner() : owner_(std::this_thread::get_id()) {}
    ThreadOwner(const ThreadOwner&) = delete;
    ThreadOwner& operator=(const ThreadOwner&) = delete;

    bool held_here() const { return owner_.load(std::memory_order_acquire) == std::this_thread::get_id(); }

    // Throws std::logic_error unless the calling thread owns the object.
    void check() const {
        if (!held_here()) throw std::logic_error("used by a thread that does not own it");
    }

    // The owner gives the object up; until a thread takes it over, nobody may use it.
    void release() {
        check();
        owner_.store(std::thread::id{}, std::memory_order_release);
    }

    // The calling thread takes over an object that nobody owns (or that it owns already). Throws
    // std::logic_error while another thread owns it.
    void take_over() {
        std::thread::id nobody{};
        if (!owner_.compare_exchange_strong(nobody, std::this_thread::get_id(), std::memory_order_acq_rel) &&
            nobody != std::this_thread::get_id())
            throw std::logic_error("taken over while another thread owns it");
    }

private:
    std::atomic<std::thread::id> owner_;
};

}  // namespace vintrel
