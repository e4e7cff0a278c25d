// The number of worker threads of the process-wide pool, chosen once from the
// environment when the pool is built:
//   1. RAYON_NUM_THREADS, if it parses: a value above 0 is the count, 0 selects
//      the machine's available parallelism (RAYON_RS_NUM_CPUS is then ignored);
//   2. else RAYON_RS_NUM_CPUS, if it parses to a value above 0;
//   3. else the machine's available parallelism, or 1 if that is unknown;
// capped at MAX_THREAD_COUNT.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

namespace caldrith {

inline constexpr std::size_t MAX_THREAD_COUNT = 65535;

// The rule above over given variable values (nothing for an unset variable).
// `machine_parallelism` is called only when the rule falls back to it.
std::size_t choose_thread_count(std::optional<std::string_view> rayon_num_threads,
                                std::optional<std::string_view> rayon_rs_num_cpus,
                                const std::function<std::optional<std::size_t>()>& machine_parallelism);

// The rule over this process's environment and machine.
std::size_t thread_count_from_environment();

}  // namespace caldrith
