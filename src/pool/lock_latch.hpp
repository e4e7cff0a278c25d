// A one-shot completion flag on which a thread outside the pool sleeps, with a
// lock and condition variable of its own, until a worker sets it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace caldrith::detail {

class LockLatch {
public:
    // Notifies while holding the lock, so that the waiter cannot destroy the
    // latch before the setter has let go of it.
    void set() noexcept;
    void wait() noexcept;
    // Waits at most `timeout`; true when the latch is set.
    bool wait_for(std::chrono::milliseconds timeout) noexcept;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
};

}  // namespace caldrith::detail
