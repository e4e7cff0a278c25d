// How many elements a chunk of a parallel map evaluates between two looks at
// its cancellation flag and its thread's interruption check: as many as take
// about BATCH_TIME, by the time the chunk's last batch took. The first batch
// is of FIRST_BATCH_TIME by the function object's stated element cost (one
// element if it states none); each next batch is as many as the last would
// have needed to take BATCH_TIME, at most GROWTH times as many, never more
// than LARGEST_BATCH. So a stop comes within about one batch however costly
// the elements turn out to be, and cheap elements still reach the batch
// kernels in long runs after a few batches.
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
inline constexpr std::size_t GROWTH = 8;

class BatchPacing {
public:
    template <class F>
    explicit BatchPacing(const F& f) {
        if (const std::optional<double> one = stated_work(f, 1)) {
            size_ = *one > 0.0 ? count_up_to(nanoseconds(FIRST_BATCH_TIME) / *one, LARGEST_BATCH) : LARGEST_BATCH;
        }
    }

    // The elements of the next batch, `left` elements remaining.
    std::size_t next(std::size_t left) const noexcept { return std::min(left, size_); }

    // Sizes the batch after one of `count` elements that took `elapsed`.
    void took(std::size_t count, std::chrono::nanoseconds elapsed) noexcept {
        const double per_element = nanoseconds(std::max(elapsed, std::chrono::nanoseconds(1))) / static_cast<double>(count);
        size_ = count_up_to(nanoseconds(BATCH_TIME) / per_element, std::min(GROWTH * count, LARGEST_BATCH));
    }

private:
    static double nanoseconds(std::chrono::nanoseconds duration) noexcept { return static_cast<double>(duration.count()); }

    // `fitting` rounded down to a count from 1 to `largest`.
    static std::size_t count_up_to(double fitting, std::size_t largest) noexcept {
        return fitting >= static_cast<double>(largest) ? largest
                                                       : std::max<std::size_t>(1, static_cast<std::size_t>(fitting));
    }

    std::size_t size_ = 1;
};

}  // namespace caldrith::detail
