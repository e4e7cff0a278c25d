// A one-shot completion flag on which a thread outside the pool sleeps until
// a worker sets it. It is a futex word: setting it is one atomic exchange,
// plus one wake-up call when the waiter sleeps, and the woken waiter takes no
// lock, which spares the hand-off to the pool a few microseconds against a
// mutex and condition variable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace caldrith::detail {

class Latch {
public:
    // The waiter may leave, and destroy the latch, as soon as it sees the
    // flag, before set() returns: set() touches no member after the exchange
    // that sets it, and the wake-up call only names the word's address (a
    // thread that sleeps on a new word at that address wakes spuriously at
    // worst, which every waiter allows for).
    void set() noexcept;
    void wait() noexcept;
    // Waits at most `timeout`, less when a signal handler runs on this
    // thread meanwhile.
    enum class Waited { set, timed_out, signal_handled };
    Waited wait_for(std::chrono::milliseconds timeout) noexcept;

private:
    enum : std::uint32_t { EMPTY, SLEPT_ON, SET };

    // Marks the latch as slept on; false once it is set.
    bool announce_sleep() noexcept;

    std::atomic<std::uint32_t> state_{EMPTY};
};

}  // namespace caldrith::detail
