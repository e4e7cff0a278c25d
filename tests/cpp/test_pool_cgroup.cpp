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
using caldrith::cgroup_cpu_quota;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// A fresh folder holding `files` (relative path, contents), removed afterwards.
class FixtureRoot {
public:
    explicit FixtureRoot(const Files& files) {
        static int serial = 0;
        path_ = fs::temp_directory_path() /
                ("caldrith-cgroup-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(path_);
        for (const auto& [name, contents] : files) {
            const fs::path file = path_ / name;
            fs::create_directories(file.parent_path());
            std::ofstream(file, std::ios::binary) << contents;
        }
    }
    ~FixtureRoot() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::optional<std::size_t> quota_of(const Files& files) { return cgroup_cpu_quota(FixtureRoot(files).path()); }

const std::string V2_MEMBER = "0::/machine/job\n";
const std::string V2 = "sys/fs/cgroup/";

const std::string V1_MOUNTS =
    "24 30 0:22 / /sys/fs/cgroup rw - tmpfs tmpfs rw,mode=755\n"
    "32 24 0:29 / /sys/fs/cgroup/cpuacct rw,relatime shared:9 - cgroup cgroup rw,cpuacct\n"
    "33 24 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:10 - cgroup cgroup rw,cpu,cpuacct\n"
    "41 24 0:38 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
const std::string V1 = "sys/fs/cgroup/cpu,cpuacct/";

Files cfs(const std::string& dir, const std::string& quota, const std::string& period) {
    return {{dir + "cpu.cfs_quota_us", quota}, {dir + "cpu.cfs_period_us", period}};
}

Files joined(std::vector<Files> parts) {
    Files all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace

TEST_CASE("cgroup v2: cpu.max along the group's path, smallest floor(quota / period)") {
    struct Case {
        const char* name;
        Files files;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"quota on the group", {{"proc/self/cgroup", V2_MEMBER}, {V2 + "machine/job/cpu.max", "250000 100000\n"}}, 2},
        {"below one CPU is raised to 1",
         {{"proc/self/cgroup", V2_MEMBER}, {V2 + "machine/job/cpu.max", "50000 100000\n"}},
         1},
        {"a parent's smaller quota wins",
         {{"proc/self/cgroup", V2_MEMBER},
          {V2 + "machine/job/cpu.max", "400000 100000\n"},
          {V2 + "machine/cpu.max", "200000 100000\n"}},
         2},
        {"the root of the hierarchy counts",
         {{"proc/self/cgroup", V2_MEMBER}, {V2 + "cpu.max", "700000 100000\n"}},
         7},
        {"max means no quota at that level",
         {{"proc/self/cgroup", V2_MEMBER},
          {V2 + "machine/job/cpu.max", "max 100000\n"},
          {V2 + "machine/cpu.max", "500000 100000\n"}},
         5},
        {"a zero period is skipped",
         {{"proc/self/cgroup", V2_MEMBER}, {V2 + "machine/job/cpu.max", "200000 0\n"}},
         std::nullopt},
        {"malformed lines are skipped",
         {{"proc/self/cgroup", V2_MEMBER},
          {V2 + "machine/job/cpu.max", "200000\n"},
          {V2 + "machine/cpu.max", "-1 100000\n"},
          {V2 + "cpu.max", ""}},
         std::nullopt},
        {"the process in the root group", {{"proc/self/cgroup", "0::/\n"}, {V2 + "cpu.max", "150000 50000"}}, 3},
        {"quota of a sibling group is not ours",
         {{"proc/self/cgroup", V2_MEMBER}, {V2 + "machine/other/cpu.max", "100000 100000\n"}},
         std::nullopt},
        {"no proc/self/cgroup", {{V2 + "cpu.max", "100000 100000\n"}}, std::nullopt},
        {"no cpu controller anywhere",
         {{"proc/self/cgroup", "3:memory:/machine/job\n2:cpuacct:/machine/job\n"},
          {V2 + "machine/job/cpu.max", "100000 100000\n"}},
         std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(quota_of(c.files) == c.expected);
    }
}

TEST_CASE("cgroup v1: cfs files under the cpu controller's mount point") {
    const std::string v1_member = "4:memory:/other\n3:cpu,cpuacct:/machine/job\n0::/machine/job\n";
    struct Case {
        const char* name;
        Files files;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {"quota on the group",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "350000\n", "100000\n")}),
         3},
        {"no quota (-1) on the group, a parent's counts",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "-1\n", "100000\n"),
                 cfs(V1 + "machine/", "200000\n", "100000\n"),
                 cfs(V1, "-1\n", "100000\n")}),
         2},
        {"the smallest along the path",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "150000\n", "100000\n"),
                 cfs(V1, "400000\n", "100000\n")}),
         1},
        {"below one CPU is raised to 1",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "20000\n", "100000\n")}),
         1},
        {"the v1 line wins over an earlier v2 line",
         joined({{{"proc/self/cgroup", "0::/elsewhere\n3:cpu:/machine/job\n"}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "600000\n", "100000\n"),
                 {{V2 + "elsewhere/cpu.max", "100000 100000\n"}}}),
         6},
        {"v2 files are not read for a v1 group",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 {{V2 + "machine/job/cpu.max", "100000 100000\n"}}}),
         std::nullopt},
        {"a bind mount of a subtree",
         joined({{{"proc/self/cgroup", "3:cpu,cpuacct:/machine/job\n"},
                  {"proc/self/mountinfo", "50 40 0:30 /machine /mnt/cpu rw - cgroup cgroup rw,cpuacct,cpu\n"}},
                 cfs("mnt/cpu/job/", "500000\n", "100000\n"),
                 cfs("mnt/cpu/", "900000\n", "100000\n")}),
         5},
        {"a bind mount that does not hold the group is skipped",
         joined({{{"proc/self/cgroup", "3:cpu:/machine/job\n"},
                  {"proc/self/mountinfo",
                   "50 40 0:30 /other /mnt/other rw - cgroup cgroup rw,cpu\n"
                   "51 40 0:30 /machinery /mnt/prefix rw - cgroup cgroup rw,cpu\n"
                   "52 40 0:30 / /mnt/all rw - cgroup cgroup rw,cpu\n"}},
                 cfs("mnt/other/", "100000\n", "100000\n"),
                 cfs("mnt/prefix/", "100000\n", "100000\n"),
                 cfs("mnt/all/machine/job/", "400000\n", "100000\n")}),
         4},
        {"no cpu controller mounted",
         joined({{{"proc/self/cgroup", v1_member},
                  {"proc/self/mountinfo", "32 24 0:29 / /sys/fs/cgroup/cpuacct rw - cgroup cgroup rw,cpuacct\n"}},
                 cfs(V1 + "machine/job/", "100000\n", "100000\n")}),
         std::nullopt},
        {"no mountinfo",
         joined({{{"proc/self/cgroup", v1_member}}, cfs(V1 + "machine/job/", "100000\n", "100000\n")}),
         std::nullopt},
        {"a zero period is skipped",
         joined({{{"proc/self/cgroup", v1_member}, {"proc/self/mountinfo", V1_MOUNTS}},
                 cfs(V1 + "machine/job/", "100000\n", "0\n")}),
         std::nullopt},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        CHECK(quota_of(c.files) == c.expected);
    }
}
