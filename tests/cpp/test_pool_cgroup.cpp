// The CPU quota of the process's control group, read from fixture trees that
// stand for "/": group membership from proc/self/cgroup, cgroup v2 cpu.max and
// cgroup v1 cfs files along the group's path up to the root of its hierarchy.
#include <doctest/doctest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pool/available_parallelism.hpp"

namespace fs = std::filesystem;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// The quota read from a fresh folder holding `files` (relative path, contents).
std::optional<std::size_t> quota_of(const Files& files) {
    static int serial = 0;
    const fs::path root =
        fs::temp_directory_path() / ("caldrith-cgroup-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
    fs::remove_all(root);
    for (const auto& [name, contents] : files) {
        fs::create_directories((root / name).parent_path());
        std::ofstream(root / name, std::ios::binary) << contents;
    }
    const auto quota = caldrith::cgroup_cpu_quota(root);
    fs::remove_all(root);
    return quota;
}

const std::string V2 = "sys/fs/cgroup/";
const std::string V1 = "sys/fs/cgroup/cpu,cpuacct/";
const std::string V1_MEMBER = "4:memory:/other\n3:cpu,cpuacct:/machine/job\n0::/machine/job\n";
const std::string V1_MOUNTS =
    "24 30 0:22 / /sys/fs/cgroup rw - tmpfs tmpfs rw,mode=755\n"
    "32 24 0:29 / /sys/fs/cgroup/cpuacct rw,relatime shared:9 - cgroup cgroup rw,cpuacct\n"
    "33 24 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:10 - cgroup cgroup rw,cpu,cpuacct\n"
    "41 24 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";

// Files of a process in the v2 group /machine/job, plus `more`.
Files v2_member(Files more) {
    more.emplace_back("proc/self/cgroup", "0::/machine/job\n");
    return more;
}

// The v1 cfs files of the folder `dir`.
Files cfs(const std::string& dir, const std::string& quota, const std::string& period) {
    return {{dir + "cpu.cfs_quota_us", quota + "\n"}, {dir + "cpu.cfs_period_us", period + "\n"}};
}

// Files of a process in the v1 cpu group /machine/job under V1_MOUNTS, or with the
// cgroup and mountinfo lines given (no mountinfo file if empty), plus `parts`.
Files v1_member(std::vector<Files> parts, const std::string& cgroup = V1_MEMBER,
                const std::string& mountinfo = V1_MOUNTS) {
    Files all{{"proc/self/cgroup", cgroup}};
    if (!mountinfo.empty()) {
        all.emplace_back("proc/self/mountinfo", mountinfo);
    }
    for (const Files& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace

TEST_CASE("the quota along the group's path: smallest floor(quota / period), at least 1") {
    const struct { const char* name; Files files; std::optional<std::size_t> expected; } cases[] = {
        {"v2: quota on the group", v2_member({{V2 + "machine/job/cpu.max", "250000 100000\n"}}), 2},
        {"v2: below one CPU is raised to 1", v2_member({{V2 + "machine/job/cpu.max", "50000 100000\n"}}), 1},
        {"v2: a parent's smaller quota wins",
         v2_member({{V2 + "machine/job/cpu.max", "400000 100000\n"}, {V2 + "machine/cpu.max", "200000 100000\n"}}), 2},
        {"v2: the root of the hierarchy counts", v2_member({{V2 + "cpu.max", "700000 100000\n"}}), 7},
        {"v2: max means no quota at that level",
         v2_member({{V2 + "machine/job/cpu.max", "max 100000\n"}, {V2 + "machine/cpu.max", "500000 100000\n"}}), 5},
        {"v2: a zero period is skipped", v2_member({{V2 + "machine/job/cpu.max", "200000 0\n"}}), std::nullopt},
        {"v2: malformed lines are skipped",
         v2_member({{V2 + "machine/job/cpu.max", "200000\n"}, {V2 + "machine/cpu.max", "-1 100000\n"},
                    {V2 + "cpu.max", ""}}),
         std::nullopt},
        {"v2: the process in the root group", {{"proc/self/cgroup", "0::/\n"}, {V2 + "cpu.max", "150000 50000"}}, 3},
        {"v2: quota of a sibling group is not ours", v2_member({{V2 + "machine/other/cpu.max", "100000 100000\n"}}),
         std::nullopt},
        {"v2: no proc/self/cgroup", {{V2 + "cpu.max", "100000 100000\n"}}, std::nullopt},
        {"no cpu controller anywhere",
         {{"proc/self/cgroup", "3:memory:/machine/job\n2:cpuacct:/machine/job\n"},
          {V2 + "machine/job/cpu.max", "100000 100000\n"}},
         std::nullopt},
        {"v1: quota on the group", v1_member({cfs(V1 + "machine/job/", "350000", "100000")}), 3},
        {"v1: no quota (-1) on the group, a parent's counts",
         v1_member({cfs(V1 + "machine/job/", "-1", "100000"), cfs(V1 + "machine/", "200000", "100000"),
                    cfs(V1, "-1", "100000")}),
         2},
        {"v1: the smallest along the path",
         v1_member({cfs(V1 + "machine/job/", "150000", "100000"), cfs(V1, "400000", "100000")}), 1},
        {"v1: below one CPU is raised to 1", v1_member({cfs(V1 + "machine/job/", "20000", "100000")}), 1},
        {"v1: the v1 line wins over an earlier v2 line",
         v1_member({cfs(V1 + "machine/job/", "600000", "100000"), {{V2 + "elsewhere/cpu.max", "100000 100000\n"}}},
                   "0::/elsewhere\n3:cpu:/machine/job\n"),
         6},
        {"v1: v2 files are not read for a v1 group", v1_member({{{V2 + "machine/job/cpu.max", "100000 100000\n"}}}),
         std::nullopt},
        {"v1: a bind mount of a subtree",
         v1_member({cfs("mnt/cpu/job/", "500000", "100000"), cfs("mnt/cpu/", "900000", "100000")},
                   "3:cpu,cpuacct:/machine/job\n", "50 40 0:30 /machine /mnt/cpu rw - cgroup cgroup rw,cpuacct,cpu\n"),
         5},
        {"v1: a bind mount that does not hold the group is skipped",
         v1_member({cfs("mnt/other/", "100000", "100000"), cfs("mnt/prefix/", "100000", "100000"),
                    cfs("mnt/all/machine/job/", "400000", "100000")},
                   "3:cpu:/machine/job\n",
                   "50 40 0:30 /other /mnt/other rw - cgroup cgroup rw,cpu\n"
                   "51 40 0:30 /machinery /mnt/prefix rw - cgroup cgroup rw,cpu\n"
                   "52 40 0:30 / /mnt/all rw - cgroup cgroup rw,cpu\n"),
         4},
        {"v1: no cpu controller mounted",
         v1_member({cfs(V1 + "machine/job/", "100000", "100000")}, V1_MEMBER,
                   "32 24 0:29 / /sys/fs/cgroup/cpuacct rw - cgroup cgroup rw,cpuacct\n"),
         std::nullopt},
        {"v1: no mountinfo",
         v1_member({cfs(V1 + "machine/job/", "100000", "100000")}, V1_MEMBER, ""),
         std::nullopt},
        {"v1: a zero period is skipped", v1_member({cfs(V1 + "machine/job/", "100000", "0")}), std::nullopt},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        CHECK(quota_of(c.files) == c.expected);
    }
}
