// Fork-join of two closures on the pool: the closures receive `stolen`, true
// when they run on a thread other than the one that forked them (stolen by
// another worker, or handed in from outside the pool).
//
// On a worker, the second closure is offered to the others on the worker's
// own queue while the worker runs the first; the worker then takes the second
// back and runs it itself, or, if it was stolen, runs other pending work until
// the thief is done. A fault of either closure is kept until both have
// finished and then rethrown, the first closure's before the second's.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>

#include "common/interruption.hpp"
#include "pool/cancel_flag.hpp"
#include "pool/job.hpp"
#include "pool/latch.hpp"
#include "pool/worker.hpp"

namespace caldrith::detail {

// The second closure of a fork-join pair while it waits on its worker's queue.
template <class Body>
class ForkedJob final : public Job {
public:
    ForkedJob(Worker& owner, Body& body) : owner_(owner), body_(body) {}

    void execute() noexcept override {
        try {
            body_(true);
        } catch (...) {
            fault_ = std::current_exception();
        }
        owner_.signal_done(done_);
    }

    const std::atomic<bool>& done() const noexcept { return done_; }
    std::exception_ptr fault() const noexcept { return fault_; }

private:
    Worker& owner_;
    Body& body_;
    std::atomic<bool> done_{false};
    std::exception_ptr fault_;
};

// How long the thread that handed work to the pool sleeps before it asks
// its caller again whether to stop; a signal handled on that thread (the
// main thread gets Ctrl-C) wakes it at once. Waits shorter than about 3 ms
// measured to add 1 to 3 us to every hand-off of a short map
// (bench/pool_hand_off.cpp).
inline constexpr std::chrono::milliseconds INTERRUPTION_POLL{4};

// Work handed to the pool by a thread outside it, which sleeps until a worker
// has run it.
template <class Body>
class SubmittedJob final : public Job {
public:
    explicit SubmittedJob(Body& body) : body_(body) {}

    void execute() noexcept override {
        try {
            body_();
        } catch (...) {
            fault_ = std::current_exception();
        }
        finished_.set();
    }

    // Blocks until the job has run; rethrows its fault. While it waits it
    // asks the thread's interruption check every INTERRUPTION_POLL and after
    // every signal handled on this thread; if that asks to stop, it sets
    // `cancel`, waits for the work in flight to drain and throws Interrupted.
    void wait(CancelFlag& cancel) {
        for (;;) {
            const Latch::Waited waited = finished_.wait_for(INTERRUPTION_POLL);
            if (waited == Latch::Waited::set) {
                break;
            }
            if (waited == Latch::Waited::signal_handled) {
                signal_handled();
            }
            if (stop_requested()) {
                cancel.store(true, std::memory_order_relaxed);
                finished_.wait();
                throw Interrupted();
            }
        }
        if (fault_) {
            std::rethrow_exception(fault_);
        }
    }

private:
    Body& body_;
    Latch finished_;
    std::exception_ptr fault_;
};

template <class A, class B>
void join_on_worker(Worker& self, A& first, B& second, bool stolen) {
    ForkedJob<B> second_job(self, second);
    self.push(second_job);
    std::exception_ptr fault;
    try {
        first(stolen);
    } catch (...) {
        fault = std::current_exception();
    }
    if (self.take_back(second_job)) {
        try {
            second(stolen);
        } catch (...) {
            if (!fault) {
                fault = std::current_exception();
            }
        }
    } else {
        self.run_until(second_job.done());
        if (!fault) {
            fault = second_job.fault();
        }
    }
    if (fault) {
        std::rethrow_exception(fault);
    }
}

}  // namespace caldrith::detail
