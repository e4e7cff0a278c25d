// The vector paths of the batch kernels and the one place that picks the
// path a process uses.
//
// Every path computes the same bits; they differ in speed only. On x86-64 one
// build carries a baseline path (SSE2, 2 lanes), an AVX2 path (4 lanes) and an
// AVX-512 path (AVX-512F, DQ and VL on 4 lanes), each compiled from the same
// sources with its own instruction-set flags; elsewhere only the scalar path
// (the scalar kernels element by element) exists.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace caldrith {

enum class SimdPath { scalar, sse2, avx2, avx512 };

// "scalar", "sse2", "avx2", "avx512".
std::string_view simd_path_name(SimdPath path);
std::optional<SimdPath> simd_path_named(std::string_view name);

// The paths this build has and this processor can run, scalar first, the
// most capable last.
std::span<const SimdPath> runnable_simd_paths();

// The path of this process, chosen at its first use: the one named by the
// environment variable CALDRITH_SIMD if it is runnable here (a way to compare
// or rule out a path), otherwise the most capable runnable one.
SimdPath simd_path();

}  // namespace caldrith
