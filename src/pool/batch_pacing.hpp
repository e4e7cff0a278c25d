// How many elements a chunk of a parallel map evaluates between two looks at
// its cancellation flag and its thread's interruption check: as many as take
// about BATCH_TIME, by the time the chunk's earlier batches took. The first
// batch is of FIRST_BATCH_TIME by the function object's stated element cost
// (one element if it states none); after every batch the next is doubled
// while batches take less than half of BATCH_TIME, cut in proportion when
// one took longer, never more than LARGEST_BATCH. So a stop comes within
// about one batch however costly the elements turn out to be, and cheap
// elements still reach the batch kernels in long runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>

#include "pool/hand_off.hpp"

namespace caldrith::detail {

inline constexpr std::chrono::microseconds BATCH_TIME{500};
inline constexpr std::chrono::microseconds FIRST_BATCH_TIME{10};
inline constexpr std::size_t LARGEST_BATCH = 1024;

class BatchPacing {
public:
    template <class F>
    explicit BatchPacing(const F& f) {
        if (const std::optional<double> one = stated_work(f, 1)) {
            const double largest = static_cast<double>(LARGEST_BATCH);
            const double fitting =
                *one > 0.0 ? static_cast<double>(std::chrono::nanoseconds(FIRST_BATCH_TIME).count()) / *one : largest;
            size_ = fitting >= largest ? LARGEST_BATCH : std::max<std::size_t>(1, static_cast<std::size_t>(fitting));
        }
    }

    // The elements of the next batch, `left` elements remaining.
    std::size_t next(std::size_t left) const noexcept { return std::min(left, size_); }

    // Sizes the batch after one of `count` elements that took `elapsed`.
    void took(std::size_t count, std::chrono::nanoseconds elapsed) noexcept {
        const std::chrono::nanoseconds aim = BATCH_TIME;
        if (elapsed * 2 < aim) {
            size_ = std::min(2 * count, LARGEST_BATCH);
        } else if (elapsed > aim) {
            const double share = static_cast<double>(aim.count()) / static_cast<double>(elapsed.count());
            size_ = std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<double>(count) * share));
        } else {
            size_ = count;
        }
    }

private:
    std::size_t size_ = 1;
};

}  // namespace caldrith::detail
