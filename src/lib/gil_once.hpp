// GilOnce: a value computed once per process, on first use, by a step that
// runs with the interpreter lock held.
//
// The interpreter lock guards the cell's bookkeeping: every caller holds it,
// and no other lock is ever held across the step, so that
//   - a thread that finds another thread's step in progress lets go of the
//     interpreter lock while it waits, and never blocks the step, even when
//     the step runs Python code that switches threads (an import, say);
//   - the thread running the step that calls back into the cell (its Python
//     code calling the module) gets a RuntimeError instead of waiting for
//     itself;
//   - in a child made by fork() while another thread of the parent was in
//     the step, the step is simply run again: the thread that owned it does
//     not exist there.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <type_traits>

#include "common/fork_generation.hpp"
#include "lib/python_error.hpp"

namespace caldrith {

namespace detail {

// The error of a step that called back into its own cell.
PythonError reentrant_initialisation_error();

}  // namespace detail

template <class T>
class GilOnce {
    static_assert(std::is_trivially_copyable_v<T>, "the cached value is handed out by copy");

public:
    // Returns the value, running `initialise` (() -> PyResult<T>) first if no
    // thread has succeeded yet. A failed step leaves the value unset and
    // returns its error; a later call tries again.
    template <class Initialise>
    PyResult<T> get(Initialise&& initialise) {
        if (ready_.load(std::memory_order_acquire)) {
            return value_;
        }
        PyThreadState* self = PyThreadState_Get();
        while (step_in_progress()) {
            if (owner_ == self) {
                return Unexpected{detail::reentrant_initialisation_error()};
            }
            wait_for_step();
        }
        if (ready_.load(std::memory_order_relaxed)) {
            return value_;
        }
        owner_ = self;
        owner_generation_ = fork_generation();
        PyResult<T> made = run_step(initialise);
        if (made) {
            value_ = *made;
            ready_.store(true, std::memory_order_release);
        }
        return made;
    }

private:
    // A step started by a thread of this process and not yet finished.
    bool step_in_progress() const noexcept {
        return owner_ != nullptr && owner_generation_ == fork_generation() &&
               !ready_.load(std::memory_order_relaxed);
    }

    // Runs the step as this thread's; the cell is free again however the
    // step ends (an internal fault unwinds through it).
    template <class Initialise>
    PyResult<T> run_step(Initialise& initialise) {
        struct Release {
            PyThreadState*& owner;
            ~Release() { owner = nullptr; }
        } release{owner_};
        return initialise();
    }

    // Lets other threads run, the one in the step among them, for a moment.
    static void wait_for_step() {
        Py_BEGIN_ALLOW_THREADS
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Py_END_ALLOW_THREADS
    }

    std::atomic<bool> ready_{false};
    T value_{};
    // The thread running the step and its fork generation; guarded by the
    // interpreter lock.
    PyThreadState* owner_ = nullptr;
    std::uint64_t owner_generation_ = 0;
};

}  // namespace caldrith
