// Where idle workers of a pool sleep, and how new work and finished stolen
// jobs wake them.
//
// No wake-up is lost: before its last search for work a worker reads the work
// epoch; to sleep it takes the mutex, counts itself as a sleeper and checks
// the epoch and its own stop condition once more. Whoever queues work first
// advances the epoch and then, if anyone counts as a sleeper, wakes one under
// the mutex; whoever sets a stop condition first sets it and then wakes that
// worker. Both sides use sequentially consistent operations, so either the
// sleeper sees the change or the other side sees the sleeper.
//
// New work wakes nobody while a worker woken for work has not yet started to
// look for it: that worker will. So a burst of queued jobs (a map cut in
// many chunks) wakes one sleeper, not one per job, and the workers awake grow
// by one per wake-up, however many threads the pool has; a worker that takes
// a job while others are still queued wakes the next, so that the queued jobs
// do not wait for the workers already busy.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace caldrith::detail {

// A worker's place to sleep; `asleep` and `woken_for_work` are guarded by the
// mutex of its Sleep.
struct SleepSlot {
    std::condition_variable wake;
    bool asleep = false;
    bool woken_for_work = false;  // counted among the waking (see Sleep)
    std::size_t position = 0;     // index in the sleepers while asleep
};

class Sleep {
public:
    explicit Sleep(std::size_t thread_count);

    std::uint64_t work_epoch() const noexcept;

    // Called after work was queued: advances the epoch and wakes a sleeper
    // for it (wake_for_work).
    void announce_work();

    // Wakes one sleeper for queued work, unless another woken for work has
    // not started to look yet; the one woken counts as waking until it calls
    // started_looking().
    void wake_for_work();

    // Sleeps in `slot` until woken, unless work was announced since
    // `epoch_seen` was read or `done` is already set. True when woken for
    // work: the caller then calls started_looking().
    bool sleep(SleepSlot& slot, std::uint64_t epoch_seen, const std::atomic<bool>& done);

    void started_looking() noexcept;

    // Wakes the worker of `slot` if it sleeps (its stop condition was set).
    void wake(SleepSlot& slot);

    void wake_all();

private:
    void wake_locked(SleepSlot& slot, bool for_work);

    std::mutex mutex_;
    std::vector<SleepSlot*> sleepers_;  // guarded by mutex_
    std::atomic<std::size_t> sleeper_count_{0};
    std::atomic<std::size_t> waking_{0};  // woken for work, not looking yet
    std::atomic<std::uint64_t> work_epoch_{0};
};

}  // namespace caldrith::detail
