#include "pool/thread_pool.hpp"

#include <cassert>

#include "pool/pool_abort.hpp"

namespace caldrith {
namespace {

constexpr std::size_t WORKER_STACK_BYTES = 2 * 1024 * 1024;

void* run_worker(void* worker) {
    static_cast<detail::Worker*>(worker)->main_loop();
    return nullptr;
}

int start_thread(pthread_t& thread, detail::Worker& worker) {
    pthread_attr_t attributes;
    if (const int error = pthread_attr_init(&attributes); error != 0) {
        return error;
    }
    int error = pthread_attr_setstacksize(&attributes, WORKER_STACK_BYTES);
    if (error == 0) {
        error = pthread_create(&thread, &attributes, run_worker, &worker);
    }
    pthread_attr_destroy(&attributes);
    return error;
}

}  // namespace

Expected<std::unique_ptr<ThreadPool>, PoolBuildError> ThreadPool::build(std::size_t thread_count) {
    assert(thread_count >= 1);
    std::unique_ptr<ThreadPool> pool(new ThreadPool(thread_count));
    if (const int error = pool->start_workers(); error != 0) {
        return Unexpected{PoolBuildError{PoolBuildError::Kind::IOError, error}};
    }
    return pool;
}

ThreadPool::ThreadPool(std::size_t thread_count) : registry_(thread_count) {
    threads_.reserve(thread_count);
}

ThreadPool::~ThreadPool() { stop_workers(); }

int ThreadPool::start_workers() {
    for (const auto& worker : registry_.workers) {
        pthread_t thread;
        if (const int error = start_thread(thread, *worker); error != 0) {
            stop_workers();
            return error;
        }
        threads_.push_back(thread);
    }
    return 0;
}

void ThreadPool::stop_workers() noexcept try {
    registry_.stopping.store(true);
    registry_.sleep.wake_all();
    for (const pthread_t thread : threads_) {
        pthread_join(thread, nullptr);
    }
    threads_.clear();
} catch (...) {
    detail::abort_pool();
}

void ThreadPool::submit(detail::Job& job) noexcept try {
    registry_.submitted.push_back(job);
    registry_.queued_jobs.fetch_add(1);
    registry_.sleep.announce_work();
} catch (...) {
    detail::abort_pool();
}

}  // namespace caldrith
