#include "pool/global_pool.hpp"

#include "common/fault.hpp"
#include "pool/thread_count.hpp"

namespace caldrith {

ThreadPool& PoolCell::get(Build build) {
    bool tried_here = false;
    std::call_once(once_, [&] {
        tried_here = true;
        auto built = build();
        if (built) {
            pool_ = std::move(*built);
        } else {
            error_ = built.error();
        }
    });
    if (pool_) {
        return *pool_;
    }
    const PoolBuildError reported =
        tried_here ? *error_ : PoolBuildError{PoolBuildError::Kind::GlobalPoolAlreadyInitialized};
    raise_fault("The global thread pool has not been initialized.: " + reported.describe());
}

ThreadPool& global_pool() {
    // Never destroyed: the workers run until the process ends.
    static PoolCell& cell = *new PoolCell;
    return cell.get([] { return ThreadPool::build(thread_count_from_environment()); });
}

}  // namespace caldrith
