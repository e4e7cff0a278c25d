// Stopping a parallel map at the request of its caller's interruption check:
// the caller gets Interrupted once the work in flight has drained, nested maps
// stop with their outer map, the pool runs the next map as before, and only
// the caller's thread is ever asked; a map that stays on the caller's thread
// asks between its batches, which take about BATCH_TIME each, and a long
// element on a worker stops where it asks once its map is cancelled.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <thread>
#include <vector>

#include "common/interruption.hpp"
#include "pool/parallel_map.hpp"
#include "pool_testing.hpp"

using caldrith::Interrupted;
using caldrith::InterruptionCheck;
using caldrith::InterruptionScope;
using caldrith::parallel_map;
using caldrith::testing::indices;
using caldrith::testing::make_pool;
using caldrith::ThreadPool;

namespace {

// Asks to stop from its `stop_after`-th question on; records who asked.
class CountingCheck final : public InterruptionCheck {
public:
    explicit CountingCheck(std::size_t stop_after) : stop_after_(stop_after) {}
    bool stop_requested() noexcept override {
        const std::lock_guard lock(mutex_);
        askers_.insert(std::this_thread::get_id());
        return ++questions_ >= stop_after_;
    }
    std::size_t questions() {
        const std::lock_guard lock(mutex_);
        return questions_;
    }
    std::set<std::thread::id> askers() {
        const std::lock_guard lock(mutex_);
        return askers_;
    }

private:
    std::mutex mutex_;
    std::size_t stop_after_;
    std::size_t questions_ = 0;
    std::set<std::thread::id> askers_;
};

// An element that takes a while, counting evaluations.
struct SlowElement {
    std::atomic<std::size_t>& evaluated;
    std::size_t operator()(std::size_t i) const {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        evaluated.fetch_add(1);
        return i;
    }
};

}  // namespace

TEST_CASE("a caller asked to stop gets Interrupted after the map drained, and the pool goes on") {
    for (const std::size_t threads : {1, 2, 3, 8}) {
        CAPTURE(threads);
        auto pool = make_pool(threads);
        // Takes at least 2 s uninterrupted on 8 threads.
        const auto input = indices(100000);
        std::atomic<std::size_t> evaluated{0};
        CountingCheck check(2);
        {
            const InterruptionScope scope(check);
            CHECK_THROWS_AS(parallel_map(*pool, std::span<const std::size_t>(input), SlowElement{evaluated}),
                            Interrupted);
        }
        const std::size_t at_return = evaluated.load();
        CHECK(at_return < input.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        CHECK(evaluated.load() == at_return);  // nothing was left running
        CHECK(check.askers() == std::set{std::this_thread::get_id()});

        const auto small = indices(1000);
        CHECK(parallel_map(*pool, std::span<const std::size_t>(small), [](std::size_t i) { return 3 * i; }) ==
              std::vector<std::size_t>(parallel_map(*pool, std::span<const std::size_t>(small),
                                                    [](std::size_t i) { return i + i + i; })));
    }
}

TEST_CASE("nested maps stop with the map that started them") {
    auto pool = make_pool(3);
    const auto outer = indices(6);
    const auto inner = indices(20000);
    std::atomic<std::size_t> evaluated{0};
    CountingCheck check(3);
    {
        const InterruptionScope scope(check);
        CHECK_THROWS_AS(parallel_map(*pool, std::span<const std::size_t>(outer),
                                     [&](std::size_t) {
                                         return parallel_map(*pool, std::span<const std::size_t>(inner),
                                                             SlowElement{evaluated});
                                     }),
                        Interrupted);
    }
    const std::size_t at_return = evaluated.load();
    CHECK(at_return < outer.size() * inner.size() / 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CHECK(evaluated.load() == at_return);
}

TEST_CASE("a check that never asks to stop is asked while the caller waits and changes no result") {
    auto pool = make_pool(2);
    const auto input = indices(2000);
    std::atomic<std::size_t> evaluated{0};
    CountingCheck check(static_cast<std::size_t>(-1));
    std::vector<std::size_t> results;
    {
        const InterruptionScope scope(check);
        results = parallel_map(*pool, std::span<const std::size_t>(input), SlowElement{evaluated});
    }
    CHECK(results == input);
    CHECK(check.questions() >= 1);
    CHECK(check.askers() == std::set{std::this_thread::get_id()});
}

TEST_CASE("a map that stays on the caller's thread asks the check between batches and stops when told") {
    // Elements stated to cost nothing come in batches of LARGEST_BATCH, so at least four; a stated
    // cost of nothing keeps the map on the caller's thread.
    struct Cheap {
        std::atomic<std::size_t>& evaluated;
        std::chrono::nanoseconds element_cost() const { return std::chrono::nanoseconds{0}; }
        std::size_t operator()(std::size_t i) const {
            evaluated.fetch_add(1);
            return i;
        }
    };
    const auto input = indices(3 * caldrith::detail::LARGEST_BATCH + 5);
    for (const std::size_t threads : {1, 2}) {
        CAPTURE(threads);
        auto pool = make_pool(threads);
        std::atomic<std::size_t> evaluated{0};
        CountingCheck never(static_cast<std::size_t>(-1));
        CountingCheck second(2);
        {
            const InterruptionScope scope(never);
            CHECK(parallel_map(*pool, std::span<const std::size_t>(input), Cheap{evaluated}) == input);
        }
        CHECK(never.questions() >= 4);
        evaluated = 0;
        {
            const InterruptionScope scope(second);
            CHECK_THROWS_AS(parallel_map(*pool, std::span<const std::size_t>(input), Cheap{evaluated}), Interrupted);
        }
        CHECK(evaluated.load() == caldrith::detail::LARGEST_BATCH);
        CHECK(second.askers() == std::set{std::this_thread::get_id()});
    }
}

TEST_CASE("elements that take longer than a batch's time are asked about one by one") {
    // One worker: the map stays on the caller's thread. An element sleeps longer than BATCH_TIME,
    // so every batch after the first (one element: no cost stated) has one element too.
    auto pool = make_pool(1);
    const auto input = indices(12);
    struct Slow {
        std::atomic<std::size_t>& evaluated;
        std::size_t operator()(std::size_t i) const {
            std::this_thread::sleep_for(caldrith::detail::BATCH_TIME + std::chrono::microseconds(100));
            evaluated.fetch_add(1);
            return i;
        }
    };
    std::atomic<std::size_t> evaluated{0};
    CountingCheck never(static_cast<std::size_t>(-1));
    {
        const InterruptionScope scope(never);
        CHECK(parallel_map(*pool, std::span<const std::size_t>(input), Slow{evaluated}) == input);
    }
    CHECK(never.questions() == input.size());
    evaluated = 0;
    CountingCheck fifth(5);
    {
        const InterruptionScope scope(fifth);
        CHECK_THROWS_AS(parallel_map(*pool, std::span<const std::size_t>(input), Slow{evaluated}), Interrupted);
    }
    CHECK(evaluated.load() == 4);
}

TEST_CASE("a long element on a worker stops where it asks once its map is cancelled") {
    // Two elements on two workers, each 2000 blocks of 1 ms asked about between blocks (as a batch
    // kernel does); the caller asks to stop at its second question.
    auto pool = make_pool(2);
    const auto input = indices(2);
    constexpr std::size_t BLOCKS = 2000;
    std::atomic<std::size_t> blocks{0};
    CountingCheck second(2);
    {
        const InterruptionScope scope(second);
        CHECK_THROWS_AS(parallel_map(*pool, std::span<const std::size_t>(input),
                                     [&](std::size_t i) {
                                         caldrith::in_interruptible_blocks(BLOCKS, 1, [&](std::size_t, std::size_t) {
                                             std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                             blocks.fetch_add(1);
                                         });
                                         return i;
                                     }),
                        Interrupted);
    }
    CHECK(blocks.load() < BLOCKS);
    CHECK(second.askers() == std::set{std::this_thread::get_id()});
}
