// A double-ended queue of pending jobs behind a mutex. Its owner adds and takes
// at the back (newest first); other threads take from the front (oldest
// first). The length is mirrored in an atomic so that searching threads pass
// over empty queues without locking them. The queue holds at most a few dozen
// jobs (one per pending fork-join level), so a vector serves both ends.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "pool/job.hpp"

namespace caldrith::detail {

class JobQueue {
public:
    JobQueue();

    void push_back(Job& job);
    Job* pop_back();
    // Takes `job` off the back if it is still there (nobody took it).
    bool pop_back_if(const Job& job);
    Job* pop_front();

private:
    enum class End { newest, oldest };
    Job* take(End end);

    std::mutex mutex_;
    std::vector<Job*> jobs_;
    std::atomic<std::size_t> length_{0};
};

}  // namespace caldrith::detail
