#include "pool/sleep.hpp"

namespace caldrith::detail {

// Room for every worker up front: going to sleep never allocates.
Sleep::Sleep(std::size_t thread_count) { sleepers_.reserve(thread_count); }

std::uint64_t Sleep::work_epoch() const noexcept { return work_epoch_.load(); }

void Sleep::announce_work() {
    work_epoch_.fetch_add(1);
    wake_for_work();
}

void Sleep::wake_for_work() {
    if (waking_.load() != 0 || sleeper_count_.load() == 0) {
        return;
    }
    const std::lock_guard lock(mutex_);
    if (!sleepers_.empty()) {
        waking_.fetch_add(1);
        wake_locked(*sleepers_.back(), true);
    }
}

bool Sleep::sleep(SleepSlot& slot, std::uint64_t epoch_seen, const std::atomic<bool>& done) {
    std::unique_lock lock(mutex_);
    sleeper_count_.fetch_add(1);
    if (work_epoch_.load() != epoch_seen || done.load()) {
        sleeper_count_.fetch_sub(1);
        return false;
    }
    slot.asleep = true;
    slot.woken_for_work = false;
    slot.position = sleepers_.size();
    sleepers_.push_back(&slot);
    slot.wake.wait(lock, [&slot] { return !slot.asleep; });
    return slot.woken_for_work;
}

void Sleep::started_looking() noexcept { waking_.fetch_sub(1); }

void Sleep::wake(SleepSlot& slot) {
    if (sleeper_count_.load() == 0) {
        return;
    }
    const std::lock_guard lock(mutex_);
    if (slot.asleep) {
        wake_locked(slot, false);
    }
}

void Sleep::wake_all() {
    const std::lock_guard lock(mutex_);
    while (!sleepers_.empty()) {
        wake_locked(*sleepers_.back(), false);
    }
}

// Constant time whatever the number of sleepers: the last sleeper takes the
// place of the one woken.
void Sleep::wake_locked(SleepSlot& slot, bool for_work) {
    SleepSlot* last = sleepers_.back();
    sleepers_[slot.position] = last;
    last->position = slot.position;
    sleepers_.pop_back();
    slot.asleep = false;
    slot.woken_for_work = for_work;
    sleeper_count_.fetch_sub(1);
    slot.wake.notify_one();
}

}  // namespace caldrith::detail
