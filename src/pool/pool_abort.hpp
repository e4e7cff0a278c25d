// The fatal end of a fault in the pool's own bookkeeping (not in an element):
// the pool's queues and sleeping workers can no longer be trusted, so the
// process reports it on standard error and aborts.
#pragma once

namespace caldrith::detail {

[[noreturn]] void abort_pool() noexcept;

}  // namespace caldrith::detail
