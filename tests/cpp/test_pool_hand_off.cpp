// Which maps stay whole on the thread that starts them: those whose stated
// work lies below the hand-off's break-even, and every map on one worker; the
// others are shared with the workers, cut no finer than their stated work
// allows. A map that stays is evaluated with the function object's batch
// kernel, batch by batch, as a chunk on a worker is.
#include <doctest/doctest.h>

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <set>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "pool/parallel_map.hpp"
#include "pool_testing.hpp"

using caldrith::parallel_map;
using caldrith::detail::LARGEST_BATCH;
using caldrith::detail::HAND_OFF_BREAK_EVEN;
using caldrith::detail::SMALLEST_SHARED_CHUNK;
using caldrith::testing::indices;
using caldrith::testing::make_pool;
using namespace std::chrono_literals;

namespace {

// What evaluated a map: the threads, and the ranges given to the batch kernel.
struct Record {
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::vector<std::pair<std::size_t, std::size_t>> chunks;
    std::size_t single_calls = 0;
};

// An element function with a stated cost and a batch kernel; result 2i + 1.
struct Costed {
    std::chrono::nanoseconds cost;
    Record& record;

    std::chrono::nanoseconds element_cost() const { return cost; }

    double operator()(std::size_t i) const {
        const std::lock_guard lock(record.mutex);
        ++record.single_calls;
        record.threads.insert(std::this_thread::get_id());
        return 2.0 * static_cast<double>(i) + 1.0;
    }

    void chunk(std::span<const std::size_t> inputs, double* results) const {
        const std::lock_guard lock(record.mutex);
        record.threads.insert(std::this_thread::get_id());
        record.chunks.emplace_back(inputs.front(), inputs.front() + inputs.size());
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            results[k] = 2.0 * static_cast<double>(inputs[k]) + 1.0;
        }
    }
};

// Voluntary and involuntary context switches of each other thread of the process, by thread id.
std::map<pid_t, long> context_switches() {
    std::map<pid_t, long> switches;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        long total = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
        switches[std::stoi(task.path().filename())] = total;
    }
    switches.erase(gettid());
    return switches;
}

std::vector<double> expected(std::size_t n) {
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; ++i) {
        values[i] = 2.0 * static_cast<double>(i) + 1.0;
    }
    return values;
}

// Element costs whose products with `n` lie just below and at the break-even.
std::pair<std::chrono::nanoseconds, std::chrono::nanoseconds> costs_around_break_even(std::size_t n) {
    const auto at = std::chrono::nanoseconds((HAND_OFF_BREAK_EVEN.count() + n - 1) / n);
    return {at - 1ns, at};
}

}  // namespace

TEST_CASE("a map below the break-even stays on the calling thread, from the break-even on it is shared") {
    for (const std::size_t thread_count : {1, 2, 3}) {
        auto pool = make_pool(thread_count);
        for (const std::size_t n : {2, 300, 3000}) {
            const auto [below, at] = costs_around_break_even(n);
            for (const auto cost : {below, at}) {
                CAPTURE(thread_count);
                CAPTURE(n);
                CAPTURE(cost.count());
                const auto input = indices(n);
                Record record;
                CHECK(parallel_map(*pool, std::span<const std::size_t>(input), Costed{cost, record}) == expected(n));
                const bool stays = thread_count == 1 || cost == below;
                if (stays) {
                    CHECK(record.threads == std::set{std::this_thread::get_id()});
                } else {
                    CHECK(record.threads.count(std::this_thread::get_id()) == 0);
                }
            }
        }
    }
}

TEST_CASE("a shared map wakes about as many workers as it has chunks worth handing off, not the whole pool") {
    // Every worker that runs has switched context at least once; the pool's workers sleep at
    // first, and the calling thread waits for the map, so it is left out. A wake-up is owed to a
    // queued chunk, and a chunk still queued when another is taken can be owed a second one.
    auto pool = make_pool(256);
    const auto settled = [] {
        auto before = context_switches();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::this_thread::sleep_for(20ms);
            auto now = context_switches();
            if (now == before) {
                return now;
            }
            before = std::move(now);
        }
        FAIL("the workers never settled");
        return before;
    };
    const std::size_t n = 1000;
    for (const std::size_t chunks : {2, 8}) {
        CAPTURE(chunks);
        const auto cost = SMALLEST_SHARED_CHUNK * chunks / n;
        REQUIRE(cost * n == SMALLEST_SHARED_CHUNK * chunks);
        const auto input = indices(n);
        Record record;
        const auto before = settled();
        CHECK(parallel_map(*pool, std::span<const std::size_t>(input), Costed{cost, record}) == expected(n));
        const auto after = context_switches();
        std::size_t ran = 0;
        for (const auto& [thread, switches] : after) {
            ran += before.contains(thread) && before.at(thread) != switches ? 1 : 0;
        }
        CHECK(ran >= 1);
        CHECK(ran <= 2 * chunks);
    }
}

TEST_CASE("a chunk's batches are sized by the stated cost at first, then by the time the last one took") {
    using caldrith::detail::BatchPacing;
    struct Stated {
        std::chrono::nanoseconds cost;
        std::chrono::nanoseconds element_cost() const { return cost; }
    };
    struct Unstated {};
    // The first batch: FIRST_BATCH_TIME of stated work, no more than is left.
    CHECK(BatchPacing(Unstated{}).next(5000) == 1);
    for (const auto& [cost, first] : {std::pair{0ns, LARGEST_BATCH}, {1ns, LARGEST_BATCH}, {100ns, std::size_t{100}},
                                     {3us, std::size_t{3}}, {20us, std::size_t{1}}}) {
        CAPTURE(cost.count());
        CHECK(BatchPacing(Stated{cost}).next(5000) == first);
    }
    CHECK(BatchPacing(Stated{100ns}).next(7) == 7);
    // After a batch of `count` that took `elapsed` (BATCH_TIME is 500 us): what would have taken
    // BATCH_TIME, at most GROWTH times as many, at least one.
    struct Step {
        std::size_t count;
        std::chrono::nanoseconds elapsed;
        std::size_t next;
    };
    for (const Step step : {Step{1, 1us, 8}, Step{600, 100us, LARGEST_BATCH}, Step{LARGEST_BATCH, 10us, LARGEST_BATCH},
                            Step{64, 500us, 64}, Step{100, 300us, 166}, Step{100, 1000us, 50}, Step{1, 10ms, 1}}) {
        CAPTURE(step.count);
        CAPTURE(step.elapsed.count());
        BatchPacing pacing(Unstated{});
        pacing.took(step.count, step.elapsed);
        CHECK(pacing.next(5000) == step.next);
    }
}

TEST_CASE("a map that stays is evaluated by its batch kernel, batch after batch in index order") {
    // Elements stated to cost nothing: the first batch is the largest.
    auto pool = make_pool(2);
    const std::size_t n = 3 * LARGEST_BATCH + 5;
    const auto input = indices(n);
    Record record;
    CHECK(parallel_map(*pool, std::span<const std::size_t>(input), Costed{0ns, record}) == expected(n));
    REQUIRE(record.chunks.size() >= 4);
    CHECK(record.chunks.front() == std::pair<std::size_t, std::size_t>{0, LARGEST_BATCH});
    for (std::size_t k = 0; k < record.chunks.size(); ++k) {
        const auto [begin, end] = record.chunks[k];
        CHECK(begin == (k == 0 ? 0 : record.chunks[k - 1].second));
        CHECK(end - begin <= LARGEST_BATCH);
    }
    CHECK(record.chunks.back().second == n);
    CHECK(record.single_calls == 0);
}

TEST_CASE("a cheap map nested in a shared one stays on the worker that runs its outer element") {
    auto pool = make_pool(3);
    const auto outer = indices(6);
    const auto inner = indices(50);
    std::vector<Record> records(outer.size());
    const auto table = parallel_map(*pool, std::span<const std::size_t>(outer), [&](std::size_t row) {
        return parallel_map(*pool, std::span<const std::size_t>(inner), Costed{1ns, records[row]});
    });
    CHECK(table == std::vector<std::vector<double>>(outer.size(), expected(inner.size())));
    for (Record& record : records) {
        REQUIRE(record.threads.size() == 1);
        CHECK(*record.threads.begin() != std::this_thread::get_id());
    }
}
