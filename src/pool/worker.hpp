// The workers of a pool and what they share. Each worker runs jobs from its
// own queue (newest first), steals the oldest job of another worker's queue,
// or takes work handed in from outside the pool; it looks at the other
// queues only while some job is queued. A worker that finds nothing
// searches again, yielding the processor after each of IDLE_ROUNDS fruitless
// rounds, makes one last round and then sleeps until new work arrives (new
// work wakes one sleeper at a time, sleep.hpp). A
// worker that has just started sleeps at once unless work is waiting.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "pool/job.hpp"
#include "pool/job_queue.hpp"
#include "pool/sleep.hpp"

namespace caldrith::detail {

inline constexpr unsigned IDLE_ROUNDS = 32;

class Worker;

// The state the workers of one pool share.
struct Registry {
    explicit Registry(std::size_t thread_count);

    std::vector<std::unique_ptr<Worker>> workers;
    JobQueue submitted;  // work handed in by threads outside the pool
    Sleep sleep;
    std::atomic<bool> stopping{false};
    // Jobs queued anywhere and not yet taken: counted up before their work is
    // announced, down when a thread takes them.
    std::atomic<std::size_t> queued_jobs{0};
};

// Each worker on its own cache lines: its queue's lock is taken by thieves.
class alignas(64) Worker {
public:
    Worker(Registry& registry, std::size_t index);

    // The worker running on the calling thread; nullptr outside every pool.
    static Worker* current() noexcept;

    Registry& registry() const noexcept { return registry_; }

    // The body of the worker's thread: runs jobs until the pool stops.
    void main_loop() noexcept;

    // Offers `job` to the other workers (newest end of this worker's queue).
    void push(Job& job) noexcept;

    // Takes `job` back if no other worker has stolen it.
    bool take_back(const Job& job) noexcept;

    // Runs other jobs (sleeping when there are none) until `done` is set.
    void run_until(const std::atomic<bool>& done) noexcept;

    // Sets the completion flag of a job stolen from this worker and wakes the
    // worker if it sleeps; `done` is not touched afterwards, since the
    // worker may leave the job's frame as soon as it sees the flag.
    void signal_done(std::atomic<bool>& done) noexcept;

private:
    // True when woken by new work.
    bool sleep_until_first_work() noexcept;
    Job* find_work();
    Job* steal();

    Registry& registry_;
    const std::size_t index_;
    JobQueue own_;
    SleepSlot slot_;
    std::uint64_t victim_state_;  // xorshift state choosing where stealing starts
};

}  // namespace caldrith::detail
