#include "pool/global_pool.hpp"

#include <pthread.h>

#include <atomic>
#include <memory>

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

namespace {

// The cell of this process; null until the first call, and again in a child
// made by fork(): the parent's workers do not exist there, and a build in
// progress in another thread of the parent never finishes. The parent's cell
// is left as it is (never destroyed), since its locks may be held.
std::atomic<PoolCell*> process_cell{nullptr};

void forget_parent_pool() noexcept { process_cell.store(nullptr); }

PoolCell& current_cell() {
    static const bool forgotten_in_children = pthread_atfork(nullptr, nullptr, forget_parent_pool) == 0;
    (void)forgotten_in_children;
    PoolCell* cell = process_cell.load();
    if (cell == nullptr) {
        auto fresh = std::make_unique<PoolCell>();
        // Concurrent first calls agree on one cell; the others drop theirs.
        if (process_cell.compare_exchange_strong(cell, fresh.get())) {
            cell = fresh.release();
        }
    }
    return *cell;
}

}  // namespace

ThreadPool& global_pool() {
    // Never destroyed: the workers run until the process ends.
    return current_cell().get([] { return ThreadPool::build(thread_count_from_environment()); });
}

}  // namespace caldrith
