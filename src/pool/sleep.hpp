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
// New work wakes nobody while some worker is searching for work (awake and
// idle): that worker takes it. A worker woken for work counts as searching
// from the moment it is woken, so a burst of queued jobs wakes one sleeper,
// not one per job; a worker that takes a job while others are still queued
// wakes the next if nobody else searches. So the workers awake stay about as
// many as the jobs to run, however many threads the pool has. This loses no
// wake-up either: a searcher leaves the count before it reads the epoch for
// the last time (in sleep), so one that was counted when the work came sees
// the new epoch and searches again.
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
    bool woken_for_work = false;  // by announce_work, which counted it as searching
    std::size_t position = 0;     // index in the sleepers while asleep
};

class Sleep {
public:
    explicit Sleep(std::size_t thread_count);

    std::uint64_t work_epoch() const noexcept;

    // Called after work was queued: advances the epoch and, unless a worker is
    // searching, wakes one sleeper and counts it as searching.
    void announce_work();

    // Called when a worker took a job and others are still queued: wakes one
    // sleeper, counted as searching, unless a worker is searching.
    void keep_one_searching();

    // Sleeps in `slot` until woken, unless work was announced since
    // `epoch_seen` was read or `done` is already set. True when announce_work
    // woke it (it counts as searching).
    bool sleep(SleepSlot& slot, std::uint64_t epoch_seen, const std::atomic<bool>& done);

    // Workers join and leave the count of those searching for work.
    void join_search() noexcept;
    void leave_search() noexcept;

    // Wakes the worker of `slot` if it sleeps (its stop condition was set).
    void wake(SleepSlot& slot);

    void wake_all();

private:
    void wake_locked(SleepSlot& slot, bool for_work);

    std::mutex mutex_;
    std::vector<SleepSlot*> sleepers_;  // guarded by mutex_
    std::atomic<std::size_t> sleeper_count_{0};
    std::atomic<std::size_t> searching_{0};
    std::atomic<std::uint64_t> work_epoch_{0};
};

}  // namespace caldrith::detail
