// The elliptic integrals K, E and Π on many arguments at once: result[i] is
// bit for bit the scalar function's result at argument i (the same value or
// the same error), on every vector path.
#pragma once

#include <span>

#include "common/expected.hpp"
#include "kernels/simd/path.hpp"

namespace caldrith {

struct EllipticBatch {
    void (*ellipk)(std::span<const double> m, std::span<Outcome<double>> result);
    void (*ellipe)(std::span<const double> m, std::span<Outcome<double>> result);
    void (*ellippi)(std::span<const double> n, std::span<const double> m, std::span<Outcome<double>> result);
};

// The batch integrals of one path (a runnable one: see runnable_simd_paths).
const EllipticBatch& elliptic_batch(SimdPath path);

}  // namespace caldrith
