// Computing without the interpreter lock, so that other Python threads run
// meanwhile, while pending signals still stop the computation: the check
// that the computation asks (common/interruption.hpp) takes the lock back
// for a moment to run the handlers of pending signals (Ctrl-C raises
// KeyboardInterrupt in the main thread).
//
// Only the main thread of the main interpreter runs signal handlers; on any
// other thread the check never takes the lock. On the main thread it looks
// at most every SIGNAL_INTERVAL of computing, counted from the moment it let
// go of the lock again, and less often when taking the lock back made it
// wait (another thread running Python code holds the lock until its switch
// interval, 5 ms by default, has passed): the computation then spends at
// most about 1 / CONTENDED_SHARE of its time waiting for the lock, and a
// stop waits for the lock anyway. Told that a signal handler has run on the
// thread (the worker pool's waiting caller is woken by it), it looks at once.
#pragma once

#include <chrono>

#include "common/interruption.hpp"
#include "lib/python.hpp"

namespace caldrith {

class WithoutInterpreterLock final : public InterruptionCheck {
public:
    static constexpr std::chrono::milliseconds SIGNAL_INTERVAL{1};
    static constexpr int CONTENDED_SHARE = 8;

    // Lets go of the lock; the calling thread must hold it.
    WithoutInterpreterLock();
    // Takes the lock back; an exception set by a signal handler stays set.
    ~WithoutInterpreterLock();
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;

    bool stop_requested() noexcept override;
    void signal_handled() noexcept override;

private:
    bool handles_signals_;
    PyThreadState* state_;
    std::chrono::steady_clock::time_point next_check_;
    InterruptionScope scope_;
};

}  // namespace caldrith
