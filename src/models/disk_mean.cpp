#include "models/disk_mean.hpp"

#include <limits>

#include "kernels/jet.hpp"
#include "models/point_lens_means.hpp"
#include "models/small_source.hpp"

namespace caldrith {

double uniform_disk_mean(double l, double rho) {
    if (l == 1.0) {
        return uniform_disk_on_limb(rho);
    }
    return uniform_disk_formula<DoubleOps>(l * rho, rho);
}

DiskDerivatives uniform_disk_derivatives(double l, double rho) {
    if (l == 1.0) {
        constexpr double INFINITE = std::numeric_limits<double>::infinity();
        return {uniform_disk_on_limb(rho), -INFINITE, INFINITE};
    }
    // u = lρ: along l at fixed ρ, du = ρ; along ρ at fixed l, du = l, dρ = 1.
    using Jet2 = Jet<double, 2>;
    const Jet2 disk =
        uniform_disk_formula<JetOps<DoubleOps, double, 2>>(Jet2{l * rho, {rho, l}}, Jet2{rho, {0.0, 1.0}});
    return {disk.v, disk.d[0], disk.d[1]};
}

}  // namespace caldrith
