#include "pool/cancel_flag.hpp"

namespace caldrith::detail {
namespace {

thread_local CancelFlag* running = nullptr;

}  // namespace

CancelFlag* current_cancel_flag() noexcept { return running; }

CancelFlagScope::CancelFlagScope(CancelFlag& flag, bool on_worker) noexcept : flag_(flag), previous_(running) {
    running = &flag;
    if (on_worker) {
        answering_.emplace(*this);
    }
}

CancelFlagScope::~CancelFlagScope() { running = previous_; }

bool CancelFlagScope::stop_requested() noexcept { return flag_.load(std::memory_order_relaxed); }

}  // namespace caldrith::detail
