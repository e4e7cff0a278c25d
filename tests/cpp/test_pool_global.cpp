// The process-wide pool: built by the first parallel_map of the process with
// the thread count of the environment at that moment, and its failed build
// reported as a fault, first with the operating system's error and then, as
// the build is not retried, as GlobalPoolAlreadyInitialized. Each case that
// touches the real process-wide pool runs in a child process of its own.
#include <doctest/doctest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
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
const std::string ALREADY_TRIED = NOT_INITIALIZED + "ThreadPoolBuildError { kind: GlobalPoolAlreadyInitialized }";

// The fault of a build that failed with the operating system's error `code`.
std::string io_error(int code) {
    return NOT_INITIALIZED + "ThreadPoolBuildError { kind: IOError(Os { code: " + std::to_string(code) +
           ", message: \"" + std::generic_category().message(code) + "\" }) }";
}

struct Variables {
    std::optional<std::string> num_threads, rs_num_cpus;
};

// Runs `body` in a child process with the pool variables set as given and
// returns the text it produced (its standard error is discarded).
std::string in_child(const Variables& variables, const std::function<std::string()>& body) {
    FILE* const shared = std::tmpfile();
    REQUIRE(shared != nullptr);
    const pid_t child = fork();
    REQUIRE(child >= 0);
    if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        for (const auto& [name, value] : {std::pair{"RAYON_NUM_THREADS", variables.num_threads},
                                          std::pair{"RAYON_RS_NUM_CPUS", variables.rs_num_cpus}}) {
            value ? setenv(name, value->c_str(), 1) : unsetenv(name);
        }
        std::string text;
        try {
            text = body();
        } catch (const std::exception& error) {
            text = std::string("unexpected exception: ") + error.what();
        }
        _exit(std::fputs(text.c_str(), shared) >= 0 && std::fflush(shared) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    CHECK((WIFEXITED(status) && WEXITSTATUS(status) == 0));
    std::rewind(shared);
    std::string text;
    for (int c; (c = std::fgetc(shared)) != EOF;) {
        text += static_cast<char>(c);
    }
    std::fclose(shared);
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

}  // namespace

TEST_CASE("the first map builds the pool from the variables set before it; later changes have no effect") {
    const std::size_t machine = caldrith::machine_parallelism().value_or(1);
    const struct { Variables variables; std::size_t expected; } cases[] = {
        {{"3", "7"}, 3}, {{"+4", "9"}, 4}, {{" 4", "2"}, 2}, {{"0", "7"}, machine},
        {{std::nullopt, std::nullopt}, machine},
    };
    for (const auto& c : cases) {
        CAPTURE(c.variables.num_threads.value_or("<unset>"));
        CAPTURE(c.variables.rs_num_cpus.value_or("<unset>"));
        const std::string seen = in_child(c.variables, [machine] {
            // An empty map builds the pool without calling the function.
            const std::vector<int> none;
            int calls = 0;
            const auto empty = parallel_map(std::span<const int>(none), [&](int i) { return ++calls + i; });
            setenv("RAYON_NUM_THREADS", std::to_string(machine + 5).c_str(), 1);
            const std::vector<int> two{0, 1};
            const auto mapped = parallel_map(std::span<const int>(two), [](int i) { return i + 1; });
            return std::to_string(empty.size() + calls) + " " + std::to_string(mapped.back()) + " " +
                   std::to_string(global_pool().thread_count());
        });
        CHECK(seen == "0 2 " + std::to_string(c.expected));
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
    CHECK(seen == io_error(EAGAIN) + "\n" + ALREADY_TRIED + "\n1");
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
    CHECK(fault_of(get) == io_error(ENOMEM));
    CHECK(fault_of(get) == ALREADY_TRIED);
    CHECK(fault_of(get) == ALREADY_TRIED);
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
