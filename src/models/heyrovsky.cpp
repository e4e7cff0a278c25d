// The mean point-lens magnification over a ring of radius r about the centre
// of a star that lies l from the lens (stellar radii), with c = re/rstar the
// Einstein radius in stellar radii (Heyrovsky 2003, eq. 9):
//
//   A = 2 / (π (l + r) √(4c² + (r − l)²)) × [ 2c² K(m) + (r − l)² Π(n, m) ],
//   m = 16c²lr / ((l + r)² (4c² + (r − l)²)),   n = 4lr / (l + r)².
//
// Where the ring passes within 1e-5 of the lens (g = r − l → 0) the integrals
// diverge logarithmically and the expansion to first order in g is used:
//
//   A ≈ (1/2π) [ (2c/l)(1 − g/(2l)) ln(8cl / (|g| √(l² + c²)))
//              + 4 arctan(l/c) + g c (2l² + c²) / (l² (l² + c²)) ].
//
// Both forms depend on l, r and c through their ratios alone. Where the
// largest of them exceeds 2^500 (squares of such lengths overflow beyond
// about 1e154), all three are first scaled by the power of two that brings
// the largest to [1, 2): exact, so below the threshold nothing changes.
//
// The grouping of every operation is fixed so that results reproduce to the
// bit.
#include "models/heyrovsky.hpp"

#include <cmath>
#include <limits>

#include "common/constants.hpp"
#include "kernels/elliptic.hpp"

namespace caldrith {
namespace {

double near_ring(double l, double c, double c2, double g) {
    const double big_l = l * l;
    const double coefficient = (1.0 - g / (l + l)) * ((c + c) / l);
    const double logarithm = std::log((8.0 * c * l) / (std::sqrt(big_l + c2) * std::fabs(g)));
    const double arctangent = 4.0 * std::atan(l / c);
    const double linear = ((big_l + big_l + c2) * c / ((big_l + c2) * big_l)) * g;
    return ((logarithm * coefficient + arctangent) + linear) / TWO_PI;
}

Outcome<double> general(double l, double r, double c, double c2, double g) {
    const double s = l + r;
    const double q = c2 * 4.0 + g * g;
    const double k = std::sqrt((l * r) / q) * ((c * 4.0) / s);
    const double m = k * k;
    const auto big_k = ellipk(m);
    if (!big_k) {
        return big_k;
    }
    const double n = ((l * 4.0) * r) / (s * s);
    const auto p = ellippi(n, m);
    if (!p) {
        return p;
    }
    return ((c2 + c2) * *big_k + (g * g) * *p) * (4.0 / (s * std::sqrt(q))) / TWO_PI;
}

}  // namespace

Outcome<double> heyrovsky_magnification_within(double l, double r, double re, double rstar, double near_ring_window) {
    double c = re / rstar;
    double g = r - l;
    // The window is a gap in stellar radii: it is applied before scaling.
    const bool near = std::fabs(g) < near_ring_window;
    // fmax ignores a NaN operand; a NaN propagates through the scaling all the same.
    const double largest = std::fmax(std::fmax(std::fabs(l), std::fabs(r)), std::fabs(c));
    if (largest > LARGE_RING_LENGTH && largest < std::numeric_limits<double>::infinity()) {
        const int exponent = std::ilogb(largest);
        l = std::scalbn(l, -exponent);
        r = std::scalbn(r, -exponent);
        c = std::scalbn(c, -exponent);
        g = std::scalbn(g, -exponent);
    }
    const double c2 = c * c;
    if (near) {
        return near_ring(l, c, c2, g);
    }
    return general(l, r, c, c2, g);
}

Outcome<double> heyrovsky_magnification(double l, double r, double re, double rstar) {
    return heyrovsky_magnification_within(l, r, re, rstar, NEAR_RING_WINDOW);
}

}  // namespace caldrith
