// Whether a parallel map is shared with the pool's workers or evaluated, whole
// and in index order, on the thread that starts it.
//
// Sharing costs a fixed hand-off: from a thread outside the pool, queueing the
// map, waking a sleeping worker (which wakes the next), and being woken once
// the map is done. It pays only when the time the other workers save is
// larger, so a map whose estimated work lies below HAND_OFF_BREAK_EVEN stays
// where it starts; with one worker nothing can be saved, and every map stays.
// A map nested in another on a worker answers to the same bound: splitting it
// there costs less, but the outer map already keeps the other workers busy.
//
// A map's function object states the cost of one element with a member
// element_cost() (nanoseconds of one core, an estimate); one that states none
// is taken to be worth sharing whenever it has two elements or more.
#pragma once

#include <chrono>
#include <concepts>
#include <cstddef>

namespace caldrith::detail {

// The work at which a map on two workers, handed in from outside the pool,
// takes as long as on the calling thread alone: about twice the hand-off's
// cost, which is some 6 us for a list of two and 12 us once both workers are
// woken. Measured by bench/pool_hand_off.cpp on an idle machine of two cores:
// the fastest calls cross at 270 to 300 positions of 110 ns.
inline constexpr std::chrono::nanoseconds HAND_OFF_BREAK_EVEN{30'000};

template <class F>
concept StatesElementCost = requires(const F& f) {
    { f.element_cost() } -> std::convertible_to<std::chrono::nanoseconds>;
};

// True when a map of `length` elements of `f` is to be split over the pool.
template <class F>
bool worth_sharing(const F& f, std::size_t length, std::size_t thread_count) {
    if (length < 2 || thread_count < 2) {
        return false;
    }
    if constexpr (StatesElementCost<F>) {
        const std::chrono::nanoseconds cost = f.element_cost();
        // In doubles: the product of a large cost and a long map overflows.
        return static_cast<double>(cost.count()) * static_cast<double>(length) >=
               static_cast<double>(HAND_OFF_BREAK_EVEN.count());
    } else {
        return true;
    }
}

}  // namespace caldrith::detail
