// parallel_map on explicit pools: order and count of results for every length
// and thread count, which threads evaluate elements, parallelism of the
// workers, nested maps, faults thrown by elements, and maps submitted by
// several threads at once.
#include <doctest/doctest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pool/parallel_map.hpp"
#include "pool_testing.hpp"

using caldrith::parallel_map;
using caldrith::testing::indices;
using caldrith::testing::make_pool;
using caldrith::ThreadPool;

namespace {

const std::size_t THREAD_COUNTS[] = {1, 2, 3, 8};

// Waits (without a time assertion) until `condition` holds; false after a
// generous deadline, so that a missing wake-up fails the test instead of
// hanging it.
template <class Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

// The set of threads that evaluated the elements of a map.
struct ThreadLog {
    std::mutex mutex;
    std::set<std::thread::id> ids;
    void record() {
        const std::lock_guard lock(mutex);
        ids.insert(std::this_thread::get_id());
    }
};

struct ElementFault : std::runtime_error {
    explicit ElementFault(std::size_t index) : std::runtime_error("element " + std::to_string(index)), index(index) {}
    std::size_t index;
};

// The index of the ElementFault that a map of `n` elements raised, or n if it returned.
template <class Element>
std::size_t fault_index(ThreadPool& pool, std::size_t n, Element element) {
    const auto input = indices(n);
    try {
        parallel_map(pool, std::span<const std::size_t>(input), element);
    } catch (const ElementFault& fault) {
        return fault.index;
    }
    return n;
}

}  // namespace

TEST_CASE("every element is evaluated once, its result stored at its index, by the workers unless the map or the pool has one") {
    std::vector<std::size_t> lengths = indices(301);
    lengths.insert(lengths.end(), {511, 512, 513, 777, 1000, 1023, 1024, 1025, 4099});
    for (const std::size_t thread_count : THREAD_COUNTS) {
        auto pool = make_pool(thread_count);
        for (const std::size_t n : lengths) {
            CAPTURE(thread_count);
            CAPTURE(n);
            const auto input = indices(n);
            std::vector<std::atomic<int>> evaluations(n);
            ThreadLog log;
            const auto results = parallel_map(*pool, std::span<const std::size_t>(input), [&](std::size_t i) {
                evaluations[i].fetch_add(1);
                log.record();
                return 3.0 * static_cast<double>(i) + 0.5;
            });
            std::vector<double> expected(n);
            for (std::size_t i = 0; i < n; ++i) {
                expected[i] = evaluations[i] == 1 ? 3.0 * static_cast<double>(i) + 0.5 : -1.0;
            }
            CHECK(results == expected);
            // The calling thread evaluates a one-element map and every map on
            // one worker, and no element of any other map.
            if (n == 1 || (n > 1 && thread_count == 1)) {
                CHECK(log.ids == std::set{std::this_thread::get_id()});
            } else {
                CHECK(log.ids.count(std::this_thread::get_id()) == 0);
                CHECK(log.ids.size() <= thread_count);
            }
        }
    }
}

TEST_CASE("results of any default-constructible type, from inputs of any type") {
    auto pool = make_pool(3);
    std::vector<std::string> words;
    std::vector<std::vector<double>> expected;
    for (std::size_t i = 0; i < 200; ++i) {
        words.push_back(std::string(i % 17, 'x') + std::to_string(i));
        expected.emplace_back(words.back().size(), 1.5);
    }
    CHECK(parallel_map(*pool, std::span<const std::string>(words),
                       [](const std::string& word) { return std::vector<double>(word.size(), 1.5); }) == expected);
}

TEST_CASE("all workers take part: a map of T elements that wait for each other completes") {
    for (const std::size_t thread_count : THREAD_COUNTS) {
        CAPTURE(thread_count);
        auto pool = make_pool(thread_count);
        const auto input = indices(thread_count);
        std::atomic<std::size_t> arrived{0};
        ThreadLog log;
        const auto met = parallel_map(*pool, std::span<const std::size_t>(input), [&](std::size_t) {
            log.record();
            arrived.fetch_add(1);
            return static_cast<int>(eventually([&] { return arrived.load() == thread_count; }));
        });
        CHECK(met == std::vector<int>(thread_count, 1));
        if (thread_count > 1) {
            CHECK(log.ids.size() == thread_count);
        }
    }
}

TEST_CASE("nested maps run on the same pool and keep their order") {
    for (const std::size_t thread_count : THREAD_COUNTS) {
        CAPTURE(thread_count);
        auto pool = make_pool(thread_count);
        for (const std::size_t outer_length : {1, 2, 7}) {
            CAPTURE(outer_length);
            const auto outer = indices(outer_length);
            ThreadLog inner_threads;
            const auto table = parallel_map(*pool, std::span<const std::size_t>(outer), [&](std::size_t row) {
                const auto inner = indices(row * 37 + 2);
                return parallel_map(*pool, std::span<const std::size_t>(inner), [&](std::size_t column) {
                    inner_threads.record();
                    return static_cast<double>(row * 10000 + column);
                });
            });
            std::vector<std::vector<double>> expected(outer_length);
            for (std::size_t row = 0; row < outer_length; ++row) {
                for (std::size_t column = 0; column < row * 37 + 2; ++column) {
                    expected[row].push_back(static_cast<double>(row * 10000 + column));
                }
            }
            CHECK(table == expected);
            // Even an inner map started on the calling thread (outer map of
            // one element) is handed to the workers, when there are several.
            CHECK(inner_threads.ids.count(std::this_thread::get_id()) == (thread_count == 1 ? 1 : 0));
        }
    }
}

TEST_CASE("a fault of an element reaches the caller; the lowest-indexed faulting element wins") {
    for (const std::size_t thread_count : THREAD_COUNTS) {
        CAPTURE(thread_count);
        auto pool = make_pool(thread_count);
        for (const std::size_t n : {1, 2, 9, 200, 1000}) {
            CAPTURE(n);
            // Faults every 7th element from index 5 on and at the last index,
            // so that both halves of many splits fault.
            CHECK(fault_index(*pool, n, [n](std::size_t i) {
                      return (i % 7 == 5 || i == n - 1) ? throw ElementFault(i) : i;
                  }) == (n > 5 ? 5 : n - 1));
        }
        // The pool still serves maps after a fault.
        const auto input = indices(100);
        CHECK(parallel_map(*pool, std::span<const std::size_t>(input), [](std::size_t i) { return i; }) == input);
    }
}

TEST_CASE("a faulting element's sibling chunk has finished when the fault arrives") {
    for (const std::size_t thread_count : {2, 3, 8}) {
        CAPTURE(thread_count);
        auto pool = make_pool(thread_count);
        for (const std::size_t n : {2, 64}) {
            CAPTURE(n);
            std::atomic<int> started{0};
            std::atomic<int> finished{0};
            CHECK(fault_index(*pool, n, [&](std::size_t i) {
                      if (i == 0) {
                          // Throw only once another thread is inside an element.
                          eventually([&] { return started.load() > 0; });
                          throw ElementFault(i);
                      }
                      started.fetch_add(1);
                      std::this_thread::sleep_for(std::chrono::milliseconds(20));
                      finished.fetch_add(1);
                      return i;
                  }) == 0);
            CHECK(started.load() > 0);
            CHECK(finished.load() == started.load());
        }
    }
}

TEST_CASE("several outside threads map on one pool at the same time") {
    for (const std::size_t thread_count : {1, 2, 3}) {
        CAPTURE(thread_count);
        auto pool = make_pool(thread_count);
        std::atomic<int> wrong{0};
        std::vector<std::thread> callers;
        for (std::size_t caller = 0; caller < 4; ++caller) {
            callers.emplace_back([&, caller] {
                for (std::size_t round = 0; round < 40; ++round) {
                    const auto input = indices((caller * 131 + round * 17) % 300);
                    const auto results = parallel_map(*pool, std::span<const std::size_t>(input),
                                                      [&](std::size_t i) { return i * caller + round; });
                    for (std::size_t i = 0; i < input.size(); ++i) {
                        wrong += results[i] != i * caller + round;
                    }
                    wrong += results.size() != input.size();
                }
            });
        }
        for (auto& caller : callers) {
            caller.join();
        }
        CHECK(wrong.load() == 0);
    }
}
