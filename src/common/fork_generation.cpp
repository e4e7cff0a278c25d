#include "common/fork_generation.hpp"

#include <pthread.h>

#include <atomic>

namespace caldrith {
namespace {

std::atomic<std::uint64_t> generation{0};

// Runs in the child right after fork(), on its only thread.
void count_fork() noexcept { generation.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::uint64_t fork_generation() noexcept {
    // Registered by the first call, before any state has recorded a generation.
    static const bool counting = pthread_atfork(nullptr, nullptr, count_fork) == 0;
    (void)counting;
    return generation.load(std::memory_order_relaxed);
}

}  // namespace caldrith
