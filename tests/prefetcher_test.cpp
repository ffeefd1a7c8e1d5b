// The thread that works ahead: order, the bound on waiting items, failures and stopping.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "convert/movie/movie.h"
#include "convert/movie/decode_ahead.h"

namespace vintrel {
namespace {

// Pictures made ahead, as the conversion's thread makes its frames.
struct ReadyPicture {
    Bitmap bitmap;
    std::string warning;
};
using PicturePrefetcher = Prefetcher<ReadyPicture>;

// A picture that says which time it was made for: one row whose first byte is the time's low byte.
void make_picture(std::int32_t t, ReadyPicture& picture) {
    picture.bitmap.width = 1;
    picture.bitmap.height = 1;
    picture.bitmap.bits.assign(4, static_cast<std::uint8_t>(t & 0xff));
    picture.warning = "made for " + std::to_string(t);
}

// Waits until `condition` holds, at most ten seconds; says whether it came to hold.
template <typename Condition>
bool wait_until(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// The movie the pictures come from is the thread's while it runs, and the taker's again once it
// has stopped.
TEST(Prefetcher, GivesThePicturesInTheOrderOfTheTimes) {
    const std::vector<std::int32_t> times = {0, 120, 240, 240, 100, 7, 600};
    ThreadOwner movie;
    std::atomic<bool> made_by_owner{true};
    PicturePrefetcher prefetcher(
        times, 2,
        [&](std::int32_t t, ReadyPicture& picture, const std::atomic<bool>&) {
            if (!movie.held_here()) made_by_owner = false;
            make_picture(t, picture);
            return true;
        },
        &movie);
    EXPECT_FALSE(movie.held_here());
    for (const std::int32_t t : times) {
        ASSERT_TRUE(prefetcher.is_next(t)) << t;
        EXPECT_FALSE(prefetcher.is_next(t + 1)) << t;
        ReadyPicture picture;
        ASSERT_TRUE(prefetcher.take(picture)) << t;
        EXPECT_EQ(picture.warning, "made for " + std::to_string(t));
        ASSERT_EQ(picture.bitmap.bits.size(), 4u);
        EXPECT_EQ(picture.bitmap.bits[0], static_cast<std::uint8_t>(t & 0xff));
    }
    // Nothing is left to take.
    EXPECT_FALSE(prefetcher.is_next(600));
    ReadyPicture picture;
    picture.warning = "unchanged";
    EXPECT_FALSE(prefetcher.take(picture));
    EXPECT_EQ(picture.warning, "unchanged");
    prefetcher.stop();
    EXPECT_TRUE(made_by_owner);
    EXPECT_TRUE(movie.held_here());
}

// Pictures are made at most `depth` ahead of the taker, in storage handed back by earlier takes.
TEST(Prefetcher, NeverMakesMoreThanTheAllowedPicturesAheadAndReusesTheirStorage) {
    constexpr int depth = 3, count = 40;
    std::vector<std::int32_t> times;
    for (int k = 0; k < count; ++k) times.push_back(k);
    std::atomic<int> made{0}, taken{0}, most_ahead{0}, fresh{0};
    PicturePrefetcher prefetcher(times, depth, [&](std::int32_t t, ReadyPicture& picture, const std::atomic<bool>&) {
        // `taken` is counted after take() returns, so it may lag by one.
        most_ahead = std::max(most_ahead.load(), static_cast<int>(t) - taken.load());
        if (picture.bitmap.bits.capacity() == 0) ++fresh;
        make_picture(t, picture);
        ++made;
        return true;
    });
    ReadyPicture picture;
    for (int k = 0; k < count; ++k) {
        // Let the thread fill every place it has before taking one.
        ASSERT_TRUE(wait_until([&] { return made.load() >= std::min(k + depth, count); })) << "picture " << k;
        ASSERT_TRUE(prefetcher.take(picture));
        EXPECT_EQ(picture.bitmap.bits[0], k);
        ++taken;
    }
    EXPECT_EQ(made.load(), count);
    EXPECT_LE(most_ahead.load(), depth);
    EXPECT_GE(most_ahead.load(), depth - 1);
    // Each picture made fresh is either waiting or on its way back for reuse: a handful at most.
    EXPECT_LE(fresh.load(), 2 * depth);
}

TEST(Prefetcher, AFailureWhileMakingAPictureEndsThePicturesAfterIt) {
    const std::vector<std::int32_t> times = {1, 2, 3, 4, 5, 6};
    PicturePrefetcher prefetcher(times, 2, [](std::int32_t t, ReadyPicture& picture, const std::atomic<bool>&) {
        if (t == 4) throw std::bad_alloc();
        make_picture(t, picture);
        return true;
    });
    ReadyPicture picture;
    for (std::int32_t t = 1; t <= 3; ++t) {
        ASSERT_TRUE(prefetcher.is_next(t));
        ASSERT_TRUE(prefetcher.take(picture)) << t;
        EXPECT_EQ(picture.bitmap.bits[0], t);
    }
    EXPECT_TRUE(prefetcher.is_next(4));
    EXPECT_FALSE(prefetcher.take(picture));
    EXPECT_EQ(picture.bitmap.bits[0], 3);
}

TEST(Prefetcher, StoppingInterruptsThePictureBeingMade) {
    // The producer would never finish a picture on its own: only stopping ends it.
    std::atomic<bool> working{false};
    std::atomic<int> interrupted{0};
    auto prefetcher = std::make_unique<PicturePrefetcher>(
        std::vector<std::int32_t>(1000, 0), 2, [&](std::int32_t, ReadyPicture&, const std::atomic<bool>& stopping) {
            working = true;
            // Bounded so that a stop that never comes fails the test instead of hanging it.
            EXPECT_TRUE(wait_until([&] { return stopping.load(); })) << "stop() did not reach the producer";
            ++interrupted;
            return false;
        });
    ASSERT_TRUE(wait_until([&] { return working.load(); })) << "the thread never started a picture";
    prefetcher->stop();
    EXPECT_EQ(interrupted.load(), 1);
    ReadyPicture picture;
    EXPECT_FALSE(prefetcher->take(picture));
    prefetcher.reset();  // stopping twice is harmless
    EXPECT_EQ(interrupted.load(), 1);
}

// Going away with the places full, or before the thread has made anything, stops the thread.
TEST(Prefetcher, GoingAwayWithPicturesWaitingStopsTheThread) {
    std::atomic<int> made{0};
    const auto make = [&](std::int32_t t, ReadyPicture& picture, const std::atomic<bool>&) {
        make_picture(t, picture);
        return ++made, true;
    };
    {
        PicturePrefetcher prefetcher(std::vector<std::int32_t>(1000, 9), 3, make);
        ASSERT_TRUE(wait_until([&] { return made.load() >= 3; })) << "the thread made " << made.load();
    }
    EXPECT_EQ(made.load(), 3);
    PicturePrefetcher gone_at_once(std::vector<std::int32_t>(1000, 9), 3, make);
}

}  // namespace
}  // namespace vintrel
