#include "pool/thread_count.hpp"

#include <algorithm>
#include <cstdlib>

#include "pool/available_parallelism.hpp"
#include "pool/parse_unsigned.hpp"

namespace caldrith {
namespace {

std::optional<std::uint64_t> parse_variable(std::optional<std::string_view> value) {
    return value ? parse_unsigned(*value) : std::nullopt;
}

std::optional<std::string_view> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string_view>(value) : std::nullopt;
}

std::size_t uncapped_count(std::optional<std::string_view> rayon_num_threads,
                           std::optional<std::string_view> rayon_rs_num_cpus,
                           const std::function<std::optional<std::size_t>()>& machine_parallelism) {
    const auto machine = [&] { return machine_parallelism().value_or(1); };
    if (const auto threads = parse_variable(rayon_num_threads)) {
        return *threads > 0 ? *threads : machine();
    }
    if (const auto cpus = parse_variable(rayon_rs_num_cpus); cpus && *cpus > 0) {
        return *cpus;
    }
    return machine();
}

}  // namespace

std::size_t choose_thread_count(std::optional<std::string_view> rayon_num_threads,
                                std::optional<std::string_view> rayon_rs_num_cpus,
                                const std::function<std::optional<std::size_t>()>& machine_parallelism) {
    return std::min(uncapped_count(rayon_num_threads, rayon_rs_num_cpus, machine_parallelism),
                    MAX_THREAD_COUNT);
}

std::size_t thread_count_from_environment() {
    return choose_thread_count(environment_variable("RAYON_NUM_THREADS"),
                               environment_variable("RAYON_RS_NUM_CPUS"), machine_parallelism);
}

}  // namespace caldrith
