#include "pool/job_queue.hpp"

namespace caldrith::detail {

JobQueue::JobQueue() { jobs_.reserve(64); }

void JobQueue::push_back(Job& job) {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(&job);
    length_.store(jobs_.size(), std::memory_order_release);
}

Job* JobQueue::pop_back() { return take(End::newest); }

Job* JobQueue::pop_front() { return take(End::oldest); }

bool JobQueue::pop_back_if(const Job& job) {
    const std::lock_guard lock(mutex_);
    if (jobs_.empty() || jobs_.back() != &job) {
        return false;
    }
    jobs_.pop_back();
    length_.store(jobs_.size(), std::memory_order_release);
    return true;
}

Job* JobQueue::take(End end) {
    if (length_.load(std::memory_order_acquire) == 0) {
        return nullptr;
    }
    const std::lock_guard lock(mutex_);
    if (jobs_.empty()) {
        return nullptr;
    }
    const auto position = end == End::newest ? jobs_.end() - 1 : jobs_.begin();
    Job* job = *position;
    jobs_.erase(position);
    length_.store(jobs_.size(), std::memory_order_release);
    return job;
}

}  // namespace caldrith::detail
