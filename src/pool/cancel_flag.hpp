// The cancellation flag of a parallel map. The thread that waits for a map
// handed to the pool sets it when its caller asks to stop; the map's chunks
// test it before they start and between batches of elements, so that the
// map drains quickly and the pool is free for the next one. On a worker the
// flag is also the thread's interruption check while a chunk runs, so that
// a long element stops where it asks (common/interruption.hpp): between
// blocks of a batch kernel, say. A map started on a worker inside an element
// of another map (a nested map) shares the flag of the map that started it,
// found through the chunk running on the worker.
#pragma once

#include <atomic>
#include <optional>

#include "common/interruption.hpp"

namespace caldrith::detail {

using CancelFlag = std::atomic<bool>;

// The flag of the map whose chunk runs on the calling thread; null outside
// every map.
CancelFlag* current_cancel_flag() noexcept;

// Marks the calling thread as running a chunk of the map with `flag` until
// the scope ends; on a worker (`on_worker`) the flag answers the thread's
// interruption check meanwhile. Elsewhere the thread keeps the check of its
// caller, and the flag of a map that stays there is never set.
class CancelFlagScope final : public InterruptionCheck {
public:
    CancelFlagScope(CancelFlag& flag, bool on_worker) noexcept;
    ~CancelFlagScope();
    CancelFlagScope(const CancelFlagScope&) = delete;
    CancelFlagScope& operator=(const CancelFlagScope&) = delete;

    bool stop_requested() noexcept override;

private:
    CancelFlag& flag_;
    CancelFlag* previous_;
    std::optional<InterruptionScope> answering_;
};

}  // namespace caldrith::detail
