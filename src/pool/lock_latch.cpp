#include "pool/lock_latch.hpp"

#include "pool/pool_abort.hpp"

namespace caldrith::detail {

void LockLatch::set() noexcept try {
    const std::lock_guard lock(mutex_);
    done_ = true;
    changed_.notify_all();
} catch (...) {
    abort_pool();
}

void LockLatch::wait() noexcept try {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
} catch (...) {
    abort_pool();
}

bool LockLatch::wait_for(std::chrono::milliseconds timeout) noexcept try {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return done_; });
} catch (...) {
    abort_pool();
}

}  // namespace caldrith::detail
