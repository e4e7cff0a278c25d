// ln μ² and μ^α for μ² = 1 − t², many radii t in [0, 1] and one exponent
// α > 0 (power_formula.hpp), on the process's vector path; every path gives
// the scalar code's bits.
#pragma once

#include <span>

#include "kernels/simd/path.hpp"

namespace caldrith {

struct PowerBatch {
    // logs[i] = ln(1 − t[i]²), powers[i] = (1 − t[i]²)^(α/2).
    void (*mu_powers)(std::span<const double> t, double alpha, double* logs, double* powers);
};

const PowerBatch& power_batch(SimdPath path);
const PowerBatch& power_batch();

}  // namespace caldrith
