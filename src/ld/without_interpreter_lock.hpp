// Computing without the interpreter lock, so that other Python threads run
// meanwhile, while pending signals still stop the computation: the check
// that the computation asks (common/interruption.hpp) takes the lock back
// for a moment, at most every few milliseconds, to run the handlers of
// pending signals (Ctrl-C raises KeyboardInterrupt in the main thread).
#pragma once

#include <chrono>

#include "common/interruption.hpp"
#include "lib/python.hpp"

namespace caldrith {

class WithoutInterpreterLock final : public InterruptionCheck {
public:
    // Lets go of the lock; the calling thread must hold it.
    WithoutInterpreterLock();
    // Takes the lock back; an exception set by a signal handler stays set.
    ~WithoutInterpreterLock();
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;

    bool stop_requested() noexcept override;

private:
    PyThreadState* state_;
    std::chrono::steady_clock::time_point next_check_;
    InterruptionScope scope_;
};

}  // namespace caldrith
