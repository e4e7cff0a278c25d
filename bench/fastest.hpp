// The timing of the C++ benchmarks: the calling thread's processor time (on a
// shared machine it counts only this thread's work, where the wall clock also
// counts the waits), fastest of several runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <ctime>
#include <functional>

inline double thread_time_ns() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Fastest of `rounds` runs of `run`, in ns per each of its `elements`.
inline double fastest_per_element(int rounds, std::size_t elements, const std::function<void()>& run) {
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const double start = thread_time_ns();
        run();
        best = std::min(best, (thread_time_ns() - start) / static_cast<double>(elements));
    }
    return best;
}
