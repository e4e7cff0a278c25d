// Stopping a long computation early at the request of whoever started it
// (Ctrl-C at a Python prompt).
//
// The thread that calls into the module installs a check for the duration of
// the call; the computation asks it between positions, and the worker pool's
// waiting caller asks it while it waits. Threads without a check (the pool's
// workers, C++ callers that installed none) are never interrupted. When the
// check asks to stop, the computation unwinds with `Interrupted`, and the
// installer, which knows why, reports it.
#pragma once

#include <cstddef>
#include <exception>

namespace caldrith {

class InterruptionCheck {
public:
    // True when the computation should stop; asked only on the installing
    // thread, every few milliseconds of work at most.
    virtual bool stop_requested() noexcept = 0;

protected:
    ~InterruptionCheck() = default;
};

// Thrown when the installed check asked to stop.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "computation interrupted"; }
};

// Installs `check` on the calling thread until the scope ends, then restores
// the check installed before it.
class InterruptionScope {
public:
    explicit InterruptionScope(InterruptionCheck& check) noexcept;
    ~InterruptionScope();
    InterruptionScope(const InterruptionScope&) = delete;
    InterruptionScope& operator=(const InterruptionScope&) = delete;

private:
    InterruptionCheck* previous_;
};

// Asks the calling thread's check; false without one.
bool stop_requested() noexcept;

// Throws Interrupted when the calling thread's check asks to stop.
void throw_if_interrupted();

// Items of a loop that handles tens of millions of them a second (converting
// a list, building one) between two checks: Ctrl-C must not wait for the end
// of a long list, and a check costs less than a microsecond.
inline constexpr std::size_t ITEMS_PER_INTERRUPTION_CHECK = std::size_t{1} << 16;

// Counts the items of such loops, asking the check once per
// ITEMS_PER_INTERRUPTION_CHECK of them, however the items are split among
// the loops that share it.
class InterruptionCountdown {
public:
    void item() {
        if (--until_check_ == 0) {
            until_check_ = ITEMS_PER_INTERRUPTION_CHECK;
            throw_if_interrupted();
        }
    }

private:
    std::size_t until_check_ = ITEMS_PER_INTERRUPTION_CHECK;
};

}  // namespace caldrith
