// The cancellation flag of a parallel map. The thread that waits for a map
// handed to the pool sets it when its caller asks to stop; the map's chunks
// test it before they start and between batches of elements, so that the
// map drains quickly and the pool is free for the next one. A map started on
// a worker inside an element of another map (a nested map) shares the flag of
// the map that started it, found through the chunk running on the worker.
#pragma once

#include <atomic>

namespace caldrith::detail {

using CancelFlag = std::atomic<bool>;

// The flag of the map whose chunk runs on the calling thread; null outside
// every map.
CancelFlag* current_cancel_flag() noexcept;

// Marks the calling thread as running a chunk of the map with `flag` until
// the scope ends.
class CancelFlagScope {
public:
    explicit CancelFlagScope(CancelFlag& flag) noexcept;
    ~CancelFlagScope();
    CancelFlagScope(const CancelFlagScope&) = delete;
    CancelFlagScope& operator=(const CancelFlagScope&) = delete;

private:
    CancelFlag* previous_;
};

}  // namespace caldrith::detail
