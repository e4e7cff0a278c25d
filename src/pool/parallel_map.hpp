// parallel_map: the order-preserving element map on a worker pool,
//   result[i] = f(input[i]) for every i of the input,
// exactly as many results as inputs, in input order, whatever threads
// evaluated them. The range [0, n) starts as one chunk. A map worth sharing
// with the workers (hand_off.hpp) gets the pool's thread count as split
// budget: chunks are halved at len / 2 while the budget allows
// (split_budget.hpp) and each half carries enough work to be worth offering
// to another worker (hand_off.hpp); from outside the pool such a map runs on
// the workers while the caller sleeps, and a map started on a worker (a
// nested map) splits there. Any other map (one item, one worker, or less work
// than the hand-off costs) gets no budget and stays whole on the thread that
// starts it. A chunk that is not split is evaluated in index order on the
// thread that holds it, batch after batch (batch_pacing.hpp), each result
// written to its own slot of the result array, which is allocated once at
// full length; a function object may evaluate a contiguous range as one
// batch (see evaluate). A fault thrown by f reaches the caller once every
// chunk has finished; with several, the one of the lowest-indexed faulting
// element wins. A caller that asks to stop while it waits (its interruption
// check) gets Interrupted once the work in flight has drained: chunks test
// the map's cancellation flag before they start and between batches, and
// there they also ask their thread's interruption check, which is the
// caller's own on the thread of a map that stayed there and the map's flag
// on a worker (cancel_flag.hpp). A nested map started on a worker shares the
// flag of the map that started it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <span>
#include <type_traits>
#include <vector>

#include "common/interruption.hpp"
#include "pool/batch_pacing.hpp"
#include "pool/cancel_flag.hpp"
#include "pool/global_pool.hpp"
#include "pool/hand_off.hpp"
#include "pool/split_budget.hpp"
#include "pool/thread_pool.hpp"

namespace caldrith {
namespace detail {

template <class T, class R, class F>
class ElementMap {
public:
    ElementMap(ThreadPool& pool, std::span<const T> input, R* results, F& f, CancelFlag& cancel)
        : pool_(pool), input_(input), results_(results), f_(f), cancel_(cancel) {}

    void run(std::size_t begin, std::size_t end, std::size_t budget, bool stolen) {
        const CancelFlagScope running(cancel_, Worker::current() != nullptr);
        if (cancelled()) {
            return;
        }
        const std::size_t length = end - begin;
        const auto halves_budget = split_budget(length, budget, stolen, pool_.thread_count());
        if (halves_budget && worth_cutting(f_, length)) {
            const std::size_t middle = begin + length / 2;
            pool_.join([&](bool first_stolen) { run(begin, middle, *halves_budget, first_stolen); },
                       [&](bool second_stolen) { run(middle, end, *halves_budget, second_stolen); }, cancel_);
            return;
        }
        BatchPacing pacing(f_);
        for (std::size_t batch = begin; batch < end;) {
            if (cancelled()) {
                return;
            }
            throw_if_interrupted();
            const std::size_t count = pacing.next(end - batch);
            const auto started = std::chrono::steady_clock::now();
            evaluate(batch, batch + count);
            pacing.took(count, std::chrono::steady_clock::now() - started);
            batch += count;
        }
    }

private:
    // A function object with a member chunk(inputs, results) evaluates a
    // contiguous range at once (a batch kernel); otherwise item by item.
    void evaluate(std::size_t begin, std::size_t end) {
        if constexpr (requires { f_.chunk(input_.subspan(begin, end - begin), results_ + begin); }) {
            f_.chunk(input_.subspan(begin, end - begin), results_ + begin);
        } else {
            for (std::size_t i = begin; i < end; ++i) {
                results_[i] = std::invoke(f_, input_[i]);
            }
        }
    }

    bool cancelled() const noexcept { return cancel_.load(std::memory_order_relaxed); }

    ThreadPool& pool_;
    std::span<const T> input_;
    R* results_;
    F& f_;
    CancelFlag& cancel_;
};

}  // namespace detail

template <class T, class F>
auto parallel_map(ThreadPool& pool, std::span<const T> input, F&& f)
    -> std::vector<std::invoke_result_t<F&, const T&>> {
    using R = std::invoke_result_t<F&, const T&>;
    static_assert(std::is_default_constructible_v<R>, "results are written into a preallocated array");
    static_assert(!std::is_same_v<R, bool>, "std::vector<bool> packs neighbouring results into one word");
    std::vector<R> results(input.size());
    detail::CancelFlag own_cancel{false};
    // Only a worker runs an element of another map that can be cancelled
    // without this one: on a thread outside the pool the element in progress
    // is the whole outer map, and a map started there (from Python code that
    // runs while the caller waits, say) answers to its own caller.
    detail::CancelFlag* nested_in = detail::Worker::current() != nullptr ? detail::current_cancel_flag() : nullptr;
    detail::ElementMap<T, R, std::remove_reference_t<F>> map(pool, input, results.data(), f,
                                                             nested_in != nullptr ? *nested_in : own_cancel);
    const std::size_t budget = detail::worth_sharing(f, input.size(), pool.thread_count()) ? pool.thread_count() : 0;
    map.run(0, input.size(), budget, false);
    return results;
}

// The map on the process-wide pool, which the first call of the process builds.
template <class T, class F>
auto parallel_map(std::span<const T> input, F&& f) -> std::vector<std::invoke_result_t<F&, const T&>> {
    return parallel_map(global_pool(), input, std::forward<F>(f));
}

// parallel_chunks: the map's sharing, order, cancellation and fault rules for
// a function object that writes its own results (several per element, or
// several arrays): f.chunk(offset, input.subspan(offset, n)) is called for
// contiguous chunks that cover the input, each exactly once.
template <class T, class F>
void parallel_chunks(std::span<const T> input, F& f) {
    struct Written {};
    struct Chunks {
        std::span<const T> all;
        F& f;
        // Gives the map its result type; never called, as the map hands
        // every range to chunk.
        Written operator()(const T&) const;
        void chunk(std::span<const T> part, Written*) const { f.chunk(static_cast<std::size_t>(part.data() - all.data()), part); }
        auto element_cost() const
            requires detail::StatesElementCost<F>
        {
            return f.element_cost();
        }
    };
    parallel_map(input, Chunks{input, f});
}

}  // namespace caldrith
