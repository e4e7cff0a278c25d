#include "models/disk_mean.hpp"

#include <cmath>
#include <limits>

#include "kernels/jet.hpp"
#include "models/point_lens_means.hpp"
#include "common/constants.hpp"

namespace caldrith {
namespace {

// The lens on the limb, in c = 1/ρ: (2/π) [(1 + c²) atan(1/c) + c], which
// neither overflows for large stars nor cancels for small ones.
double on_limb(double c) { return 2.0 * ((1.0 + c * c) * std::atan(1.0 / c) + c) / PI; }

}  // namespace

double uniform_disk_mean(double l, double rho) {
    if (l == 1.0) {
        return on_limb(1.0 / rho);
    }
    return uniform_disk_formula<DoubleOps>(l, 1.0 / rho);
}

DiskDerivatives uniform_disk_derivatives(double l, double rho) {
    if (l == 1.0) {
        constexpr double INFINITE = std::numeric_limits<double>::infinity();
        return {on_limb(1.0 / rho), -INFINITE, INFINITE};
    }
    // Along l at fixed ρ, and along ρ at fixed l: dc/dρ = −c².
    using Jet2 = Jet<double, 2>;
    const double c = 1.0 / rho;
    const Jet2 disk = uniform_disk_formula<JetOps<DoubleOps, double, 2>>(Jet2{l, {1.0, 0.0}}, Jet2{c, {0.0, -c * c}});
    return {disk.v, disk.d[0], disk.d[1]};
}

}  // namespace caldrith
