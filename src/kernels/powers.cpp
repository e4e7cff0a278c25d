#include "kernels/powers.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/jet.hpp"
#include "kernels/simd/path_batches.hpp"
#include "kernels/power_formula.hpp"

namespace caldrith {

CALDRITH_PATH_BATCHES(PowerBatch, POWER_BATCH)

namespace {

struct ScalarBits : DoubleOps {
    using Int = std::int64_t;
    static Int bits(double x) { return std::bit_cast<Int>(x); }
    static double from_bits(Int i) { return std::bit_cast<double>(i); }
    static double to_double(Int i) { return static_cast<double>(i); }
    static Int to_int(double x) { return static_cast<Int>(x); }
};

const PowerBatch SCALAR{
    [](std::span<const double> t, double alpha, double* logs, double* powers) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            logs[i] = log_one_minus_square<ScalarBits>(t[i]);
            powers[i] = exp_formula<ScalarBits>(logs[i] * (0.5 * alpha));
        }
    },
};

}  // namespace

const PowerBatch& power_batch(SimdPath path) { return CALDRITH_PATH_BATCH(path, SCALAR, POWER_BATCH); }

const PowerBatch& power_batch() {
    static const PowerBatch& batch = power_batch(simd_path());
    return batch;
}

}  // namespace caldrith
