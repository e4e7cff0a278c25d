// Whether a parallel map is shared with the pool's workers or evaluated, whole
// and in index order, on the thread that starts it, and how finely a shared
// map is cut.
//
// Sharing costs a fixed hand-off: from a thread outside the pool, queueing the
// map, waking a sleeping worker (which wakes the next), and being woken once
// the map is done. It pays only when the time the other workers save is
// larger, so a map whose estimated work lies below HAND_OFF_BREAK_EVEN stays
// where it starts; with one worker nothing can be saved, and every map stays.
// A map nested in another on a worker answers to the same bound: splitting it
// there costs less, but the outer map already keeps the other workers busy.
//
// Every cut of a shared map offers its second half to the other workers, and
// may wake one of them (sleep.hpp). A chunk is cut only while each half
// carries at least SMALLEST_SHARED_CHUNK of work, so a map wakes about as
// many workers as it has such chunks at most, however many threads the pool
// has.
//
// A map's function object states the cost of one element with a member
// element_cost() (nanoseconds of one core, an estimate); one that states none
// is taken to be worth sharing, and cutting, whenever it has two elements or
// more.
#pragma once

#include <chrono>
#include <concepts>
#include <cstddef>
#include <optional>

namespace caldrith::detail {

// The work at which a map on two workers, handed in from outside the pool,
// takes as long as on the calling thread alone: about twice the hand-off's
// cost, which is some 6 us for a list of two and 12 us once both workers are
// woken. Measured by bench/pool_hand_off.cpp on an idle machine of two cores:
// the fastest calls cross at 270 to 300 positions of 110 ns.
inline constexpr std::chrono::nanoseconds HAND_OFF_BREAK_EVEN{30'000};

// The least work of a chunk offered to the other workers: about one hand-off,
// which waking the worker that takes it costs.
inline constexpr std::chrono::nanoseconds SMALLEST_SHARED_CHUNK = HAND_OFF_BREAK_EVEN / 2;

template <class F>
concept StatesElementCost = requires(const F& f) {
    { f.element_cost() } -> std::convertible_to<std::chrono::nanoseconds>;
};

// The stated work of `length` elements of `f` in nanoseconds, in doubles (the
// product of a large cost and a long map overflows); nothing if `f` states
// no cost.
template <class F>
std::optional<double> stated_work(const F& f, std::size_t length) {
    if constexpr (StatesElementCost<F>) {
        return static_cast<double>(std::chrono::nanoseconds(f.element_cost()).count()) * static_cast<double>(length);
    } else {
        return std::nullopt;
    }
}

// True when a map of `length` elements of `f` is to be split over the pool.
template <class F>
bool worth_sharing(const F& f, std::size_t length, std::size_t thread_count) {
    if (length < 2 || thread_count < 2) {
        return false;
    }
    const std::optional<double> work = stated_work(f, length);
    return !work || *work >= static_cast<double>(HAND_OFF_BREAK_EVEN.count());
}

// True when a chunk of `length` elements of a shared map of `f` may be cut in
// two: each half would carry SMALLEST_SHARED_CHUNK of work or more.
template <class F>
bool worth_cutting(const F& f, std::size_t length) {
    if (length < 2) {
        return false;
    }
    const std::optional<double> work = stated_work(f, length);
    return !work || *work >= 2.0 * static_cast<double>(SMALLEST_SHARED_CHUNK.count());
}

}  // namespace caldrith::detail
