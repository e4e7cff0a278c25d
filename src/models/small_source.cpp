// Disk means over a disk of radius ρ whose centre lies u = zρ from the lens
// (potential theory of a uniform disk; m the parameter of K and E):
//
//   M[1/r] = 4 E(z²) / (πρ)                          z < 1,
//          = 4 (K(m) − D(m)) / (πu),  m = 1/z²,      z > 1,
//   M[r]   = 4ρ ((7 + z²) E(z²) − 4 (1 − z²) K(z²)) / (9π)          z < 1,
//          = 4u ((7 + z²) E(m) − (z² + 3)(1 − m) K(m)) / (9π)        z > 1,
//
// with D(m) = (K − E)/m = RD(0, 1 − m, 1)/3 (Carlson), which keeps
// M[1/r] free of the cancellation of E − (1 − m)K for large z. At the limb,
// with q = ρ², the exact disk mean is
//
//   A(ρ, ρ) = ((1 + q)/q · 2 atan ρ + 2/ρ) / π,
//
// the on-limb closed form (1 + q)/q (asin((q − 1)/(q + 1)) + π/2) rewritten:
// asin((q − 1)/(q + 1)) + π/2 = 2 atan ρ, which keeps every digit as ρ → 0.
#include "models/small_source.hpp"

#include <cmath>
#include <limits>

#include "common/constants.hpp"
#include "kernels/elliptic.hpp"

namespace caldrith {
namespace {

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double small_uniform_disk(double u, double rho) {
    if (!(u >= 0.0 && u < std::numeric_limits<double>::infinity())) {
        return NAN_VALUE;
    }
    const double z = u / rho;
    const double z2 = z * z;
    if (z < 1.0) {
        const auto e = ellipe(z2);
        const auto k = ellipk(z2);
        if (!e || !k) {
            return NAN_VALUE;
        }
        const double inverse = 4.0 * *e / (PI * rho);
        const double distance = 4.0 * rho * ((7.0 + z2) * *e - 4.0 * (1.0 - z2) * *k) / (9.0 * PI);
        return inverse + 0.375 * distance;
    }
    const double m = 1.0 / z2;
    const auto e = ellipe(m);
    const auto k = ellipk(m);
    if (!e || !k) {
        return NAN_VALUE;
    }
    const double d = elliprd(0.0, 1.0 - m, 1.0) / 3.0;
    const double inverse = 4.0 * (*k - d) / (PI * u);
    const double distance = 4.0 * u * ((7.0 + z2) * *e - (z2 + 3.0) * (1.0 - m) * *k) / (9.0 * PI);
    return inverse + 0.375 * distance;
}

double uniform_disk_on_limb(double rho) {
    const double q = rho * rho;
    return (2.0 / rho) * ((1.0 + q) * (std::atan(rho) / rho) + 1.0) / PI;
}

}  // namespace caldrith
