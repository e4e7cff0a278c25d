#include "pool/cancel_flag.hpp"

namespace caldrith::detail {
namespace {

thread_local CancelFlag* running = nullptr;

}  // namespace

CancelFlag* current_cancel_flag() noexcept { return running; }

CancelFlagScope::CancelFlagScope(CancelFlag& flag) noexcept : previous_(running) { running = &flag; }

CancelFlagScope::~CancelFlagScope() { running = previous_; }

}  // namespace caldrith::detail
