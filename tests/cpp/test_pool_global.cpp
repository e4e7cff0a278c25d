// The process-wide pool: built by the first parallel_map of the process with
// the thread count of the environment at that moment, and its failed build
// reported as a fault, first with the operating system's error and then, as
// the build is not retried, as GlobalPoolAlreadyInitialized. Each case that
// touches the real process-wide pool runs in a child process of its own.
#include <doctest/doctest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/fault.hpp"
#include "pool/available_parallelism.hpp"
#include "pool/global_pool.hpp"
#include "pool/parallel_map.hpp"

using caldrith::Fault;
using caldrith::global_pool;
using caldrith::parallel_map;
using caldrith::PoolBuildError;
using caldrith::PoolCell;
using caldrith::ThreadPool;

namespace {

const std::string NOT_INITIALIZED = "The global thread pool has not been initialized.: ";

struct Variables {
    std::optional<std::string> num_threads;
    std::optional<std::string> rs_num_cpus;
};

void set_variable(const char* name, const std::optional<std::string>& value) {
    if (value) {
        setenv(name, value->c_str(), 1);
    } else {
        unsetenv(name);
    }
}

// Runs `body` in a child process with the pool variables set as given and
// returns the text it produced (its standard error is discarded).
std::string in_child(const Variables& variables, const std::function<std::string()>& body) {
    int channel[2];
    REQUIRE(pipe(channel) == 0);
    const pid_t child = fork();
    REQUIRE(child >= 0);
    if (child == 0) {
        close(channel[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        set_variable("RAYON_NUM_THREADS", variables.num_threads);
        set_variable("RAYON_RS_NUM_CPUS", variables.rs_num_cpus);
        std::string text;
        try {
            text = body();
        } catch (const std::exception& error) {
            text = std::string("unexpected exception: ") + error.what();
        }
        const bool written = write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? 0 : 1);
    }
    close(channel[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    CHECK(WIFEXITED(status));
    CHECK(WEXITSTATUS(status) == 0);
    return text;
}

std::string fault_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const Fault& fault) {
        return fault.message();
    }
    return "no fault";
}

std::vector<int> numbers(std::size_t n) {
    std::vector<int> values(n);
    std::iota(values.begin(), values.end(), 0);
    return values;
}

// The count of threads that evaluated a map of n elements, or -1 if the
// calling thread evaluated any.
int threads_used(std::size_t n) {
    const auto input = numbers(n);
    std::mutex mutex;
    std::set<std::thread::id> ids;
    parallel_map(std::span<const int>(input), [&](int i) {
        const std::lock_guard lock(mutex);
        ids.insert(std::this_thread::get_id());
        return i;
    });
    return ids.count(std::this_thread::get_id()) != 0 ? -1 : static_cast<int>(ids.size());
}

}  // namespace

TEST_CASE("the first map builds the pool from the environment, later changes have no effect") {
    const std::string seen = in_child({"3", "7"}, [] {
        const std::vector<int> none;
        int calls = 0;
        const auto empty = parallel_map(std::span<const int>(none), [&](int i) { return ++calls + i; });
        setenv("RAYON_NUM_THREADS", "5", 1);
        const auto one = numbers(1);
        const auto single = parallel_map(std::span<const int>(one), [](int) { return std::this_thread::get_id(); });
        const int workers_used = threads_used(1000);
        return std::to_string(empty.size()) + " " + std::to_string(calls) + " " +
               std::to_string(global_pool().thread_count()) + " " +
               std::to_string(single.front() == std::this_thread::get_id()) + " " +
               std::to_string(workers_used > 0 && workers_used <= 3);
    });
    CHECK(seen == "0 0 3 1 1");
}

TEST_CASE("the process-wide thread count follows the variables set before the first map") {
    const std::size_t machine = caldrith::machine_parallelism().value_or(1);
    struct Case {
        Variables variables;
        std::size_t expected;
    };
    const Case cases[] = {
        {{"+4", "9"}, 4},
        {{" 4", "2"}, 2},
        {{"0", "7"}, machine},
        {{std::nullopt, std::nullopt}, machine},
    };
    for (const Case& c : cases) {
        CAPTURE(c.variables.num_threads.value_or("<unset>"));
        CAPTURE(c.variables.rs_num_cpus.value_or("<unset>"));
        const std::string seen = in_child(c.variables, [] {
            const auto two = numbers(2);
            parallel_map(std::span<const int>(two), [](int i) { return i; });
            return std::to_string(global_pool().thread_count());
        });
        CHECK(seen == std::to_string(c.expected));
    }
}

#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
// Sanitizers reserve address space beyond any small limit, so this case runs
// only in plain builds.
TEST_CASE("a pool whose workers cannot start fails the map, and every later map") {
    const std::string seen = in_child({"4", std::nullopt}, [] {
        // Room for one 2 MiB worker stack but not for the second.
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (3u << 20);
        const rlimit limit{room, room};
        if (setrlimit(RLIMIT_AS, &limit) != 0) {
            return std::string("setrlimit failed");
        }
        const std::vector<int> none;
        const auto map = [&] { parallel_map(std::span<const int>(none), [](int i) { return i; }); };
        const std::string first = fault_of(map);
        const std::string second = fault_of(map);
        // The worker that did start was stopped and joined.
        const auto threads = std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                           std::filesystem::directory_iterator());
        return first + "\n" + second + "\n" + std::to_string(threads);
    });
    const std::string io_error = "ThreadPoolBuildError { kind: IOError(Os { code: " + std::to_string(EAGAIN) +
                                 ", message: \"" + std::generic_category().message(EAGAIN) + "\" }) }";
    CHECK(seen == NOT_INITIALIZED + io_error + "\n" + NOT_INITIALIZED +
                      "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }\n1");
}
#endif

namespace {

std::atomic<int> builds{0};

caldrith::Expected<std::unique_ptr<ThreadPool>, PoolBuildError> refused_build() {
    builds.fetch_add(1);
    return caldrith::Unexpected{PoolBuildError{PoolBuildError::Kind::IOError, ENOMEM}};
}

caldrith::Expected<std::unique_ptr<ThreadPool>, PoolBuildError> slow_build() {
    builds.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ThreadPool::build(2);
}

}  // namespace

TEST_CASE("a failed build is reported once with its error, then as already tried") {
    builds = 0;
    PoolCell cell;
    const auto get = [&] { cell.get(refused_build); };
    CHECK(fault_of(get) == NOT_INITIALIZED + "ThreadPoolBuildError { kind: IOError(Os { code: " +
                               std::to_string(ENOMEM) + ", message: \"" + std::generic_category().message(ENOMEM) +
                               "\" }) }");
    for (int again = 0; again < 2; ++again) {
        CHECK(fault_of(get) == NOT_INITIALIZED + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }");
    }
    CHECK(builds.load() == 1);
}

TEST_CASE("concurrent first calls build the pool once") {
    builds = 0;
    PoolCell cell;
    std::vector<ThreadPool*> seen(6, nullptr);
    std::vector<std::thread> callers;
    for (std::size_t k = 0; k < seen.size(); ++k) {
        callers.emplace_back([&, k] { seen[k] = &cell.get(slow_build); });
    }
    for (auto& caller : callers) {
        caller.join();
    }
    CHECK(builds.load() == 1);
    CHECK(seen.front() != nullptr);
    CHECK(std::set<ThreadPool*>(seen.begin(), seen.end()).size() == 1);
}
