// Helpers shared by the tests of parallel_map on explicit pools.
#pragma once

#include <doctest/doctest.h>

#include <cstddef>
#include <memory>
#include <numeric>
#include <vector>

#include "pool/thread_pool.hpp"

namespace caldrith::testing {

// A pool of `thread_count` workers; the test fails if it cannot be built.
inline std::unique_ptr<ThreadPool> make_pool(std::size_t thread_count) {
    auto pool = ThreadPool::build(thread_count);
    REQUIRE(pool.has_value());
    return std::move(*pool);
}

// 0, 1, ..., n − 1.
inline std::vector<std::size_t> indices(std::size_t n) {
    std::vector<std::size_t> values(n);
    std::iota(values.begin(), values.end(), 0);
    return values;
}

}  // namespace caldrith::testing
