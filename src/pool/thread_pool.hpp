// A pool of worker threads with work-stealing fork-join. The workers are
// started together when the pool is built, carry no name, have 2 MiB stacks
// and run until the pool is destroyed.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "common/expected.hpp"
#include "pool/fork_join.hpp"
#include "pool/pool_build_error.hpp"
#include "pool/worker.hpp"

namespace caldrith {

class ThreadPool {
public:
    // Starts `thread_count` (at least 1) workers. If the operating system
    // refuses one, the workers already started are stopped and its error is
    // returned.
    static Expected<std::unique_ptr<ThreadPool>, PoolBuildError> build(std::size_t thread_count);

    // Stops and joins the workers; no work may be running on the pool.
    ~ThreadPool();

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t thread_count() const noexcept { return registry_.workers.size(); }

    // Runs first(stolen) and second(stolen), possibly in parallel, and returns
    // when both have finished, rethrowing the first closure's fault, else the
    // second's. On a worker of this pool both start there; from any other
    // thread the pair is handed to the pool as one job, the pool's sleeping
    // workers are woken, and the calling thread sleeps until the pair is done,
    // running none of it itself. That thread asks its interruption check
    // while it sleeps: asked to stop, it sets `cancel` (the flag that the
    // closures' work tests), waits until the pair is done and throws
    // Interrupted.
    template <class A, class B>
    void join(A&& first, B&& second, detail::CancelFlag& cancel);

private:
    explicit ThreadPool(std::size_t thread_count);

    // Returns 0, or the error of the thread that could not be started.
    int start_workers();
    void stop_workers() noexcept;
    void submit(detail::Job& job) noexcept;

    detail::Registry registry_;
    std::vector<pthread_t> threads_;  // the started workers
};

template <class A, class B>
void ThreadPool::join(A&& first, B&& second, detail::CancelFlag& cancel) {
    detail::Worker* self = detail::Worker::current();
    if (self != nullptr && &self->registry() == &registry_) {
        detail::join_on_worker(*self, first, second, false);
        return;
    }
    auto handed_in = [&] { detail::join_on_worker(*detail::Worker::current(), first, second, true); };
    detail::SubmittedJob job(handed_in);
    submit(job);
    job.wait(cancel);
}

}  // namespace caldrith
