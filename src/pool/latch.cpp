#include "pool/latch.hpp"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace caldrith::detail {
namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the kernel waits on the atomic's own 32-bit word");

// FUTEX_WAIT or FUTEX_WAKE on the word; every outcome (woken, timed out,
// interrupted, the word already changed) sends the caller back to its check.
// False when a signal handler interrupted the wait.
bool futex(std::atomic<std::uint32_t>& word, int operation, std::uint32_t value, const timespec* timeout) noexcept {
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), operation, value, timeout, nullptr, 0) == 0 ||
           errno != EINTR;
}

}  // namespace

void Latch::set() noexcept {
    if (state_.exchange(SET) == SLEPT_ON) {
        futex(state_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
    }
}

bool Latch::announce_sleep() noexcept {
    std::uint32_t seen = EMPTY;
    return state_.compare_exchange_strong(seen, SLEPT_ON) || seen == SLEPT_ON;
}

void Latch::wait() noexcept {
    while (announce_sleep()) {
        futex(state_, FUTEX_WAIT_PRIVATE, SLEPT_ON, nullptr);
    }
}

Latch::Waited Latch::wait_for(std::chrono::milliseconds timeout) noexcept {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (announce_sleep()) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero()) {
            return Waited::timed_out;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec relative{static_cast<std::time_t>(seconds.count()),
                                static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
        if (!futex(state_, FUTEX_WAIT_PRIVATE, SLEPT_ON, &relative)) {
            return state_.load() == SET ? Waited::set : Waited::signal_handled;
        }
    }
    return Waited::set;
}

}  // namespace caldrith::detail
