#include "pool/worker.hpp"

#include <thread>

#include "pool/pool_abort.hpp"

namespace caldrith::detail {
namespace {

thread_local Worker* current_worker = nullptr;

std::uint64_t next_xorshift(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

}  // namespace

Registry::Registry(std::size_t thread_count) : sleep(thread_count) {
    workers.reserve(thread_count);
    for (std::size_t index = 0; index < thread_count; ++index) {
        workers.push_back(std::make_unique<Worker>(*this, index));
    }
}

Worker::Worker(Registry& registry, std::size_t index)
    : registry_(registry), index_(index), victim_state_(index + 1) {}

Worker* Worker::current() noexcept { return current_worker; }

void Worker::main_loop() noexcept {
    current_worker = this;
    if (sleep_until_first_work()) {
        registry_.sleep.started_looking();
    }
    run_until(registry_.stopping);
    current_worker = nullptr;
}

// A new worker goes to sleep at once unless some job is queued, instead of
// searching: with T workers starting together, T searches of T queues would
// make building the pool quadratic in T. No work is missed: a job queued
// before the epoch was read is counted in queued_jobs, and the worker
// searches; work announced later changes the epoch, so the worker does not
// sleep or is woken (or another sleeper is).
bool Worker::sleep_until_first_work() noexcept try {
    const std::uint64_t epoch_seen = registry_.sleep.work_epoch();
    return registry_.queued_jobs.load() == 0 && registry_.sleep.sleep(slot_, epoch_seen, registry_.stopping);
} catch (...) {
    abort_pool();
}

void Worker::push(Job& job) noexcept try {
    own_.push_back(job);
    registry_.queued_jobs.fetch_add(1);
    registry_.sleep.announce_work();
} catch (...) {
    abort_pool();
}

bool Worker::take_back(const Job& job) noexcept try {
    if (!own_.pop_back_if(job)) {
        return false;
    }
    registry_.queued_jobs.fetch_sub(1);
    return true;
} catch (...) {
    abort_pool();
}

void Worker::run_until(const std::atomic<bool>& done) noexcept try {
    unsigned idle_rounds = 0;
    std::uint64_t epoch_seen = 0;
    // Woken for work and no job taken since: a worker that leaves while jobs
    // are queued hands the wake-up on.
    bool woken_for_work = false;
    while (!done.load(std::memory_order_acquire)) {
        if (idle_rounds == IDLE_ROUNDS) {
            epoch_seen = registry_.sleep.work_epoch();
        }
        if (Job* job = find_work()) {
            woken_for_work = false;
            if (registry_.queued_jobs.fetch_sub(1) > 1) {
                registry_.sleep.wake_for_work();
            }
            job->execute();
            idle_rounds = 0;
        } else if (idle_rounds < IDLE_ROUNDS) {
            ++idle_rounds;
            std::this_thread::yield();
        } else {
            woken_for_work = registry_.sleep.sleep(slot_, epoch_seen, done);
            if (woken_for_work) {
                registry_.sleep.started_looking();
            }
            idle_rounds = 0;
        }
    }
    if (woken_for_work && registry_.queued_jobs.load() != 0) {
        registry_.sleep.wake_for_work();
    }
} catch (...) {
    abort_pool();
}

void Worker::signal_done(std::atomic<bool>& done) noexcept try {
    done.store(true);
    registry_.sleep.wake(slot_);
} catch (...) {
    abort_pool();
}

Job* Worker::find_work() {
    if (Job* job = own_.pop_back()) {
        return job;
    }
    // Nothing queued anywhere: the search would look at every worker's queue
    // for nothing. A job queued meanwhile advances the work epoch, so a worker
    // that goes to sleep after this does not miss it (sleep.hpp).
    if (registry_.queued_jobs.load() == 0) {
        return nullptr;
    }
    if (Job* job = steal()) {
        return job;
    }
    return registry_.submitted.pop_front();
}

Job* Worker::steal() {
    const std::size_t count = registry_.workers.size();
    const std::size_t start = static_cast<std::size_t>(next_xorshift(victim_state_) % count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t victim = (start + k) % count;
        if (victim == index_) {
            continue;
        }
        if (Job* job = registry_.workers[victim]->own_.pop_front()) {
            return job;
        }
    }
    return nullptr;
}

}  // namespace caldrith::detail
