// The thread that works ahead: order, the bound on waiting items, failures and stopping.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "convert/movie/decode_ahead.h"

namespace vintrel {
namespace {

// An item says which time it was made for; its vector's storage is what goes back for reuse.
using Item = std::vector<std::int32_t>;
using ItemPrefetcher = Prefetcher<Item>;

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

// The movie the items come from is the thread's while it runs, and the taker's again once it has
// stopped. A failure while making an item (out of memory) ends the items from there on.
TEST(Prefetcher, GivesTheItemsInTheOrderOfTheTimesUntilOneFails) {
    ThreadOwner movie;
    std::atomic<bool> made_by_owner{true};
    ItemPrefetcher prefetcher(
        {0, 120, 240, 240, 100, 7, 600, -1, 5}, 2,
        [&](std::int32_t t, Item& item, const std::atomic<bool>&) {
            if (!movie.held_here()) made_by_owner = false;
            if (t < 0) throw std::bad_alloc();
            item.assign(1, t);
            return true;
        },
        &movie);
    EXPECT_FALSE(movie.held_here());
    Item item;
    for (const std::int32_t t : {0, 120, 240, 240, 100, 7, 600}) {
        ASSERT_TRUE(prefetcher.is_next(t)) << t;
        EXPECT_FALSE(prefetcher.is_next(t + 1)) << t;
        ASSERT_TRUE(prefetcher.take(item)) << t;
        EXPECT_EQ(item, Item{t});
    }
    EXPECT_TRUE(prefetcher.is_next(-1));
    EXPECT_FALSE(prefetcher.take(item));
    EXPECT_EQ(item, Item{600});
    prefetcher.stop();
    EXPECT_TRUE(made_by_owner);
    EXPECT_TRUE(movie.held_here());
}

// Items are made at most `depth` ahead of the taker, in storage handed back by earlier takes.
TEST(Prefetcher, NeverMakesMoreThanTheAllowedItemsAheadAndReusesTheirStorage) {
    constexpr int depth = 3, count = 40;
    std::vector<std::int32_t> times;
    for (int k = 0; k < count; ++k) times.push_back(k);
    std::atomic<int> made{0}, taken{0}, most_ahead{0}, fresh{0};
    ItemPrefetcher prefetcher(times, depth, [&](std::int32_t t, Item& item, const std::atomic<bool>&) {
        // `taken` is counted after take() returns, so it may lag by one.
        most_ahead = std::max(most_ahead.load(), static_cast<int>(t) - taken.load());
        if (item.capacity() == 0) ++fresh;
        item.assign(1, t);
        ++made;
        return true;
    });
    Item item;
    for (int k = 0; k < count; ++k) {
        // Let the thread fill every place it has before taking one.
        ASSERT_TRUE(wait_until([&] { return made.load() >= std::min(k + depth, count); })) << "item " << k;
        ASSERT_TRUE(prefetcher.take(item));
        EXPECT_EQ(item, Item{k});
        ++taken;
    }
    EXPECT_EQ(made.load(), count);
    EXPECT_LE(most_ahead.load(), depth);
    EXPECT_GE(most_ahead.load(), depth - 1);
    // Each item made fresh is either waiting or on its way back for reuse: a handful at most.
    EXPECT_LE(fresh.load(), 2 * depth);
}

// Stopping interrupts the item being made; going away with the places full, or before the thread
// has made anything, stops the thread too.
TEST(Prefetcher, StoppingOrGoingAwayEndsTheThreadWhereverItIs) {
    std::atomic<bool> working{false};
    std::atomic<int> interrupted{0}, made{0};
    // The producer would never finish an item on its own: only stopping ends it.
    ItemPrefetcher stopped({0, 0, 0, 0}, 2, [&](std::int32_t, Item&, const std::atomic<bool>& stopping) {
        working = true;
        // Bounded so that a stop that never comes fails the test instead of hanging it.
        EXPECT_TRUE(wait_until([&] { return stopping.load(); })) << "stop() did not reach the producer";
        ++interrupted;
        return false;
    });
    ASSERT_TRUE(wait_until([&] { return working.load(); })) << "the thread never started an item";
    stopped.stop();
    EXPECT_EQ(interrupted.load(), 1);
    Item item;
    EXPECT_FALSE(stopped.take(item));

    const auto make = [&](std::int32_t t, Item& item, const std::atomic<bool>&) {
        item.assign(1, t);
        return ++made, true;
    };
    {
        ItemPrefetcher full(std::vector<std::int32_t>(1000, 9), 3, make);
        ASSERT_TRUE(wait_until([&] { return made.load() >= 3; })) << "the thread made " << made.load();
    }
    EXPECT_EQ(made.load(), 3);
    ItemPrefetcher gone_at_once(std::vector<std::int32_t>(1000, 9), 3, make);
}  // `stopped` is stopped a second time here, harmlessly

}  // namespace
}  // namespace vintrel
