// Where handing a parallel map to the worker pool starts to pay: the map of
// the uniform-disk batch kernel (positions l uniform in [0, 3], rho = 0.05, the
// positions of bench/uniform_disk.py) evaluated on the calling thread against
// the same map handed to a pool of T workers (default 2), for lists of 1 to
// 10^5 positions. Built with the C++ tests (CALDRITH_BUILD_TESTS);
// bench/small_calls.py runs it.
//
// Prints per length the fastest call of each route, wall clock (calls back to
// back, the two routes taking turns), then the kernel's cost per position, the
// hand-off's cost on a list of two, and the break-even: the shortest list from
// which the pool is faster at every longer length measured, with its work,
// next to the HAND_OFF_BREAK_EVEN the pool uses. The cost per position that
// witt_mao_magnification's function object states comes from the kernel's
// figure, HAND_OFF_BREAK_EVEN from the break-even: take the fastest of a few
// runs on an otherwise idle machine.
//
//   bench_pool_hand_off [T]
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <vector>

#include "models/batch.hpp"
#include "pool/parallel_map.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double RHO = 0.05;
constexpr std::size_t LENGTHS[] = {1,   2,   5,    10,   20,   50,   100,  150,   200,    250,   300,
                                   400, 500, 700,  1000, 1500, 2000, 5000, 10000, 100000};
constexpr std::size_t POSITIONS_PER_BATCH = 20000;  // a timed batch of calls covers about this many
// Passes over all lengths, each timing a few batches of each route: a burst of
// outside load then spoils one pass of every length, not every batch of one.
constexpr int PASSES = 8;
constexpr int BATCHES_PER_PASS = 5;

// The uniform-disk kernel on a chunk of positions, as the module's list
// function evaluates it.
struct UniformDisk {
    double operator()(double position) const {
        double result;
        chunk({&position, 1}, &result);
        return result;
    }
    void chunk(std::span<const double> positions, double* results) const {
        constexpr std::size_t BLOCK = 1024;
        std::array<double, BLOCK> u;
        const caldrith::ModelBatch& batch = caldrith::model_batch();
        for (std::size_t begin = 0; begin < positions.size(); begin += BLOCK) {
            const std::size_t count = std::min(BLOCK, positions.size() - begin);
            for (std::size_t i = 0; i < count; ++i) {
                u[i] = positions[begin + i] * RHO;
            }
            batch.uniform_disk({u.data(), count}, {&RHO, 1}, caldrith::NearLimbWindow::standard,
                               {results + begin, count});
        }
    }
};

// States no cost: never worth sharing, it stays on the calling thread.
struct OnCallingThread : UniformDisk {
    explicit OnCallingThread(std::size_t) {}
    std::chrono::nanoseconds element_cost() const { return std::chrono::nanoseconds{0}; }
};

// Always shared with the workers, and otherwise evaluated as the module's list
// function is: it states the kernel's cost per position (which sizes the
// chunks and their first batches), raised on a short list until the list is
// worth sharing.
struct HandedOff : UniformDisk {
    static constexpr std::chrono::nanoseconds KERNEL_COST{110};
    explicit HandedOff(std::size_t length)
        : cost(std::max<std::chrono::nanoseconds>(
              KERNEL_COST, caldrith::detail::HAND_OFF_BREAK_EVEN / static_cast<long>(std::max<std::size_t>(length, 1)) + 1ns)) {}
    std::chrono::nanoseconds element_cost() const { return cost; }
    std::chrono::nanoseconds cost;
};

struct Timing {
    double calling_thread_ns = 1e300;
    double handed_off_ns = 1e300;
};

template <class F>
double time_batch(caldrith::ThreadPool& pool, const std::vector<double>& l, std::size_t calls) {
    const auto start = Clock::now();
    for (std::size_t k = 0; k < calls; ++k) {
        (void)caldrith::parallel_map(pool, std::span<const double>(l), F(l.size()));
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(calls);
}

void measure(caldrith::ThreadPool& pool, const std::vector<double>& l, Timing& best) {
    const std::size_t calls = std::max<std::size_t>(1, POSITIONS_PER_BATCH / l.size());
    for (int batch = 0; batch < BATCHES_PER_PASS; ++batch) {
        best.calling_thread_ns = std::min(best.calling_thread_ns, time_batch<OnCallingThread>(pool, l, calls));
        best.handed_off_ns = std::min(best.handed_off_ns, time_batch<HandedOff>(pool, l, calls));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t thread_count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2;
    auto built = caldrith::ThreadPool::build(std::max<std::size_t>(thread_count, 1));
    if (!built) {
        std::fprintf(stderr, "cannot build a pool of %zu workers\n", thread_count);
        return 1;
    }
    caldrith::ThreadPool& pool = **built;
    std::mt19937_64 random(1);
    std::uniform_real_distribution<double> uniform(0.0, 3.0);

    std::printf("parallel_map of the uniform-disk kernel, l uniform in [0, 3], rho = %g, T = %zu workers\n", RHO,
                pool.thread_count());
    std::printf("fastest call of %d batches of about %zu positions, wall clock, microseconds\n",
                PASSES * BATCHES_PER_PASS, POSITIONS_PER_BATCH);
    std::vector<std::vector<double>> lists;
    for (const std::size_t n : LENGTHS) {
        std::vector<double>& l = lists.emplace_back(n);
        for (double& position : l) {
            position = uniform(random);
        }
    }
    std::vector<Timing> timings(lists.size());
    for (int pass = 0; pass < PASSES; ++pass) {
        for (std::size_t k = 0; k < lists.size(); ++k) {
            measure(pool, lists[k], timings[k]);
        }
    }
    std::printf("%8s %16s %12s %10s\n", "n", "calling thread", "handed off", "ratio");
    for (std::size_t k = 0; k < lists.size(); ++k) {
        const Timing& t = timings[k];
        std::printf("%8zu %16.2f %12.2f %10.2f\n", LENGTHS[k], t.calling_thread_ns / 1e3, t.handed_off_ns / 1e3,
                    t.handed_off_ns / t.calling_thread_ns);
    }

    const std::size_t longest = std::size(LENGTHS) - 1;
    const double per_position = timings[longest].calling_thread_ns / static_cast<double>(LENGTHS[longest]);
    std::size_t break_even = longest;
    while (break_even > 0 && timings[break_even - 1].handed_off_ns < timings[break_even - 1].calling_thread_ns) {
        --break_even;
    }
    std::printf("kernel on the calling thread: %.1f ns per position (n = %zu)\n", per_position, LENGTHS[longest]);
    std::printf("hand-off of a list of %zu: %.2f us beyond the calling thread's time\n", LENGTHS[1],
                (timings[1].handed_off_ns - timings[1].calling_thread_ns) / 1e3);
    if (timings[longest].handed_off_ns < timings[longest].calling_thread_ns) {
        std::printf("break-even: the pool is faster from n = %zu on, %.1f us of work\n", LENGTHS[break_even],
                    static_cast<double>(LENGTHS[break_even]) * per_position / 1e3);
    } else {
        std::printf("break-even: the pool is faster at no length measured\n");
    }
    std::printf("HAND_OFF_BREAK_EVEN of the pool: %.1f us\n",
                std::chrono::duration<double, std::micro>(caldrith::detail::HAND_OFF_BREAK_EVEN).count());
    return 0;
}
