// GilOnce: a value computed once per process, on first use, by a step that
// runs with the interpreter lock held.
//
// A thread that finds the value missing lets go of the interpreter lock while
// it waits to enter the step, and takes the lock back before running it. So
// a thread waiting for another thread's initialisation never holds the lock
// that the other thread needs to finish, even when the step itself runs
// Python code that switches threads (an import, say).
#pragma once

#include <atomic>
#include <mutex>
#include <type_traits>

#include "common/expected.hpp"
#include "lib/python.hpp"

namespace caldrith {

template <class T>
class GilOnce {
    static_assert(std::is_trivially_copyable_v<T>, "the cached value is handed out by copy");

public:
    // Returns the value, running `initialise` (() -> Expected<T, E>) first if no
    // thread has succeeded yet. A failed initialisation leaves the value unset
    // and returns the error; a later call tries again.
    template <class Initialise>
    auto get(Initialise&& initialise) -> std::invoke_result_t<Initialise&> {
        if (ready_.load(std::memory_order_acquire)) {
            return value_;
        }
        PyThreadState* state = PyEval_SaveThread();
        std::unique_lock lock(mutex_);
        PyEval_RestoreThread(state);
        if (!ready_.load(std::memory_order_relaxed)) {
            auto made = initialise();
            if (!made) {
                return made;
            }
            value_ = *made;
            ready_.store(true, std::memory_order_release);
        }
        return value_;
    }

private:
    std::atomic<bool> ready_{false};
    std::mutex mutex_;
    T value_{};
};

}  // namespace caldrith
