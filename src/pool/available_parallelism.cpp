#include "pool/available_parallelism.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "pool/parse_unsigned.hpp"

namespace caldrith {
namespace {

namespace fs = std::filesystem;

enum class CgroupVersion { v1, v2 };

struct CgroupMembership {
    std::string_view path;  // without the leading '/'
    CgroupVersion version;
};

struct MountedGroup {
    fs::path mount_point;
    std::string_view path_below_mount;
};

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string contents{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return std::nullopt;
    }
    return contents;
}

// The pieces of `text` between separators, empty pieces included.
std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

bool lists_item(std::string_view list, std::string_view item) {
    const auto pieces = split(list, ',');
    return std::find(pieces.begin(), pieces.end(), item) != pieces.end();
}

std::string_view trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\f\v";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string_view without_leading_slash(std::string_view path) {
    return path.starts_with('/') ? path.substr(1) : path;
}

// The group of the cpu controller from /proc/self/cgroup lines
// "id:controllers:path": an empty controller list is the v2 hierarchy; a v1
// line that names "cpu" wins over it.
std::optional<CgroupMembership> find_cpu_group(std::string_view proc_cgroup) {
    std::optional<CgroupMembership> found;
    for (const std::string_view line : split(proc_cgroup, '\n')) {
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) {
            continue;
        }
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        CgroupVersion version;
        if (controllers.empty()) {
            version = CgroupVersion::v2;
        } else if (lists_item(controllers, "cpu")) {
            version = CgroupVersion::v1;
        } else {
            continue;
        }
        if (found && version == CgroupVersion::v2) {
            continue;
        }
        found = CgroupMembership{without_leading_slash(line.substr(second + 1)), version};
    }
    return found;
}

// `path` relative to `prefix`, if `prefix` is one of its leading components.
std::optional<std::string_view> path_below(std::string_view path, std::string_view prefix) {
    if (prefix.empty()) {
        return path;
    }
    if (!path.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string_view rest = path.substr(prefix.size());
    if (rest.empty() || rest.starts_with('/')) {
        return without_leading_slash(rest);
    }
    return std::nullopt;
}

// The mount of a v1 hierarchy with the cpu controller that shows `group`.
// A mountinfo line reads "id parent major:minor root mount-point options
// [optional fields] - type source super-options"; a bind mount shows the
// hierarchy from its root down, so the group is found below that root.
std::optional<MountedGroup> find_cpu_mount(std::string_view mountinfo, std::string_view group) {
    for (const std::string_view line : split(mountinfo, '\n')) {
        const auto fields = split(trim(line), ' ');
        if (fields.size() < 8) {
            continue;
        }
        const std::string_view type = fields[fields.size() - 3];
        if (type != "cgroup" || !lists_item(fields.back(), "cpu")) {
            continue;
        }
        if (const auto below = path_below(group, without_leading_slash(fields[3]))) {
            return MountedGroup{fs::path(fields[4]), *below};
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> whole_cpus(std::optional<std::uint64_t> quota, std::optional<std::uint64_t> period) {
    if (!quota || !period || *period == 0) {
        return std::nullopt;
    }
    return *quota / *period;
}

// cgroup v2: the first line of cpu.max is "quota period", or "max period"
// without a quota.
std::optional<std::size_t> read_cpu_max(const fs::path& dir) {
    const auto contents = read_file(dir / "cpu.max");
    if (!contents) {
        return std::nullopt;
    }
    std::string_view line = split(*contents, '\n').front();
    if (line.ends_with('\r')) {
        line.remove_suffix(1);
    }
    const auto fields = split(line, ' ');
    if (fields.size() < 2) {
        return std::nullopt;
    }
    return whole_cpus(parse_unsigned(fields[0]), parse_unsigned(fields[1]));
}

std::optional<std::uint64_t> read_count(const fs::path& file) {
    const auto contents = read_file(file);
    return contents ? parse_unsigned(trim(*contents)) : std::nullopt;
}

// cgroup v1: a quota of -1 means none.
std::optional<std::size_t> read_cfs_quota(const fs::path& dir) {
    return whole_cpus(read_count(dir / "cpu.cfs_quota_us"), read_count(dir / "cpu.cfs_period_us"));
}

// The smallest quota of the group at `base`/`group` and of its ancestors up
// to `base` itself.
template <class ReadQuota>
std::optional<std::size_t> smallest_quota(const fs::path& base, std::string_view group, ReadQuota read_quota) {
    std::vector<std::string_view> components;
    for (const std::string_view component : split(group, '/')) {
        if (!component.empty()) {
            components.push_back(component);
        }
    }
    std::optional<std::size_t> smallest;
    for (std::size_t depth = components.size() + 1; depth-- > 0;) {
        fs::path dir = base;
        for (std::size_t k = 0; k < depth; ++k) {
            dir /= components[k];
        }
        if (const auto quota = read_quota(dir)) {
            smallest = std::min(*quota, smallest.value_or(*quota));
        }
    }
    return smallest;
}

std::optional<std::size_t> group_quota(const fs::path& root, const CgroupMembership& group) {
    if (group.version == CgroupVersion::v2) {
        return smallest_quota(root / "sys/fs/cgroup", group.path, read_cpu_max);
    }
    const auto mountinfo = read_file(root / "proc/self/mountinfo");
    if (!mountinfo) {
        return std::nullopt;
    }
    const auto mount = find_cpu_mount(*mountinfo, group.path);
    if (!mount) {
        return std::nullopt;
    }
    return smallest_quota(root / mount->mount_point.relative_path(), mount->path_below_mount, read_cfs_quota);
}

std::optional<std::size_t> affinity_cpu_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(CPU_COUNT(&set));
}

std::optional<std::size_t> online_processor_count() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(count)) : std::nullopt;
}

}  // namespace

std::optional<std::size_t> cgroup_cpu_quota(const fs::path& root) {
    const auto proc_cgroup = read_file(root / "proc/self/cgroup");
    if (!proc_cgroup) {
        return std::nullopt;
    }
    const auto group = find_cpu_group(*proc_cgroup);
    if (!group) {
        return std::nullopt;
    }
    const auto quota = group_quota(root, *group);
    if (!quota) {
        return std::nullopt;
    }
    return std::max<std::size_t>(*quota, 1);
}

std::optional<std::size_t> combine_parallelism(std::optional<std::size_t> affinity_cpus,
                                               std::optional<std::size_t> online_cpus,
                                               std::optional<std::size_t> quota) {
    const auto cpus = affinity_cpus.value_or(0) > 0 ? affinity_cpus : online_cpus;
    if (cpus.value_or(0) == 0) {
        return std::nullopt;
    }
    return std::min(*cpus, quota.value_or(std::numeric_limits<std::size_t>::max()));
}

std::optional<std::size_t> machine_parallelism() {
    return combine_parallelism(affinity_cpu_count(), online_processor_count(), cgroup_cpu_quota("/"));
}

}  // namespace caldrith
