// The process-wide worker pool, built on first use with the thread count of
// the environment and kept until the process ends.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "common/expected.hpp"
#include "pool/pool_build_error.hpp"
#include "pool/thread_pool.hpp"

namespace caldrith {

// A pool built once, by the first get(); concurrent first calls build it only
// once. A failed build is final: the call that tried it raises a fault naming
// the build error, and every later call one naming
// GlobalPoolAlreadyInitialized.
class PoolCell {
public:
    using Build = Expected<std::unique_ptr<ThreadPool>, PoolBuildError> (*)();

    ThreadPool& get(Build build);

private:
    std::once_flag once_;
    std::unique_ptr<ThreadPool> pool_;
    std::optional<PoolBuildError> error_;
};

// The process-wide pool; the first call reads the environment and builds it.
// A child made by fork() builds its own on its first call, by the same rule.
ThreadPool& global_pool();

}  // namespace caldrith
