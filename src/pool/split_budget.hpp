// When a chunk of a parallel map is cut in two. Each chunk carries a split
// budget: a chunk that was not stolen halves it at every split and stops
// splitting at 0, which keeps the number of chunks in proportion to the
// thread count; a chunk that runs on another thread than the one that created
// it (stolen, or handed in from outside the pool) gets at least the thread
// count again, so that a worker taking over work can subdivide it for the
// others. No chunk is cut below one item.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>

namespace caldrith::detail {

// The budget both halves get if a chunk of `length` items splits; nothing if
// it is evaluated whole.
constexpr std::optional<std::size_t> split_budget(std::size_t length, std::size_t budget, bool stolen,
                                                  std::size_t thread_count) {
    if (length < 2) {
        return std::nullopt;
    }
    if (stolen) {
        return std::max(budget / 2, thread_count);
    }
    if (budget == 0) {
        return std::nullopt;
    }
    return budget / 2;
}

}  // namespace caldrith::detail
