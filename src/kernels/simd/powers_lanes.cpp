// The logarithms and powers of μ² of powers.hpp on one vector path (compiled once
// per path).
#include <cstddef>

#include "kernels/power_formula.hpp"
#include "kernels/powers.hpp"
#include "kernels/simd/lanes.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {
namespace {

struct LaneBits {
    using Int = M;
    static V select(M mask, V x, V y) { return simd::CALDRITH_SIMD_PATH::select(mask, x, y); }
    static M bits(V x) { return (M)x; }
    static V from_bits(M i) { return (V)i; }
    static V to_double(M i) { return __builtin_convertvector(i, V); }
    static M to_int(V x) { return truncate(x); }
};

// Two vectors at a time: their formulas are independent chains, which the
// processor runs side by side.
void mu_powers(std::span<const double> t, double alpha, double* logs, double* powers) {
    const double a = 0.5 * alpha;
    for (std::size_t i = 0; i < t.size(); i += 2 * WIDTH) {
        const std::size_t first = std::min<std::size_t>(WIDTH, t.size() - i);
        const std::size_t second = std::min<std::size_t>(WIDTH, t.size() - i - first);
        const V log_first = log_one_minus_square<LaneBits>(load_first(t.data() + i, first, 0.0));
        const V log_second = log_one_minus_square<LaneBits>(load_first(t.data() + i + first, second, 0.0));
        const V power_first = exp_formula<LaneBits>(log_first * a);
        const V power_second = exp_formula<LaneBits>(log_second * a);
        for (std::size_t k = 0; k < first; ++k) {
            logs[i + k] = log_first[k];
            powers[i + k] = power_first[k];
        }
        for (std::size_t k = 0; k < second; ++k) {
            logs[i + first + k] = log_second[k];
            powers[i + first + k] = power_second[k];
        }
    }
}

}  // namespace

extern const PowerBatch POWER_BATCH{mu_powers};

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
