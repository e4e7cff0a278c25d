#include "kernels/simd/path.hpp"

#include <array>
#include <cstdlib>
#include <vector>

namespace caldrith {
namespace {

constexpr std::array<std::pair<SimdPath, std::string_view>, 4> NAMES{{
    {SimdPath::scalar, "scalar"},
    {SimdPath::sse2, "sse2"},
    {SimdPath::avx2, "avx2"},
    {SimdPath::avx512, "avx512"},
}};

std::vector<SimdPath> find_runnable_paths() {
    std::vector<SimdPath> paths{SimdPath::scalar};
#if defined(__x86_64__)
    __builtin_cpu_init();
    paths.push_back(SimdPath::sse2);  // part of x86-64 itself
    if (__builtin_cpu_supports("avx2")) {
        paths.push_back(SimdPath::avx2);
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl")) {
        paths.push_back(SimdPath::avx512);
    }
#endif
    return paths;
}

SimdPath choose_path() {
    const std::span<const SimdPath> runnable = runnable_simd_paths();
    if (const char* requested = std::getenv("CALDRITH_SIMD")) {
        if (const std::optional<SimdPath> path = simd_path_named(requested)) {
            for (const SimdPath candidate : runnable) {
                if (candidate == *path) {
                    return candidate;
                }
            }
        }
    }
    return runnable.back();
}

}  // namespace

std::string_view simd_path_name(SimdPath path) {
    for (const auto& [candidate, name] : NAMES) {
        if (candidate == path) {
            return name;
        }
    }
    return "unknown";
}

std::optional<SimdPath> simd_path_named(std::string_view name) {
    for (const auto& [path, candidate] : NAMES) {
        if (candidate == name) {
            return path;
        }
    }
    return std::nullopt;
}

std::span<const SimdPath> runnable_simd_paths() {
    static const std::vector<SimdPath> paths = find_runnable_paths();
    return paths;
}

SimdPath simd_path() {
    static const SimdPath path = choose_path();
    return path;
}

}  // namespace caldrith
