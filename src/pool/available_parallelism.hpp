// The machine's available parallelism on Linux: the CPUs this process may run
// on, limited by the CPU quota of its control group.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>

namespace caldrith {

// The CPU quota of the process's control group, read below `root` (which
// stands for "/"): the group comes from proc/self/cgroup (a v1 line naming
// the cpu controller wins over the v2 line); a v2 group lies under
// sys/fs/cgroup and gives its quota in cpu.max, a v1 group lies under the
// mount point of the cpu controller in proc/self/mountinfo and gives it in
// cpu.cfs_quota_us and cpu.cfs_period_us. Each level from the group up to the
// root of its hierarchy that has a quota contributes floor(quota / period);
// the smallest contribution, raised to 1 if it is 0, is the result. Nothing
// when no level has a quota or the files cannot be read.
std::optional<std::size_t> cgroup_cpu_quota(const std::filesystem::path& root);

// Combines the counts: the CPUs of the affinity mask (nothing if it could not
// be read), or, if that is missing or 0, the online processors (nothing on
// error); a missing or zero count leaves the parallelism undetermined.
// Otherwise the count limited by the quota (nothing: no limit).
std::optional<std::size_t> combine_parallelism(std::optional<std::size_t> affinity_cpus,
                                               std::optional<std::size_t> online_cpus,
                                               std::optional<std::size_t> quota);

// The available parallelism of this process on this machine, nothing if it
// cannot be determined.
std::optional<std::size_t> machine_parallelism();

}  // namespace caldrith
