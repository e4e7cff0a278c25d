// First derivative by the central difference quotient
//
//     f'(x) ≈ (f(x + dx) - f(x - dx)) / (2 dx),  dx = (|x| + 1) CBRT_EPS,
//
// with CBRT_EPS = ∛(2^-52) ≈ 6.06e-6, the step that balances the O(dx²)
// truncation error against the O(eps/dx) rounding error. Accuracy: for a
// smooth f whose values and third derivative are of order 1, the result is
// good to about eps^(2/3) ≈ 4e-11 relative; the step is absolute near 0 and
// relative for large |x|, and x ± dx are not adjusted to be representable.
#pragma once

#include <cmath>

namespace caldrith {

// CBRT_EPS: the C library's cube root of the double machine epsilon 2^-52,
// taken on the first call (once per process, thread-safe) and then only read.
double cbrt_eps();

// The central-difference derivative of f at x. Evaluates f at x + dx, then at
// x - dx; whatever f returns (NaN included) goes into the quotient.
template <class F>
double sderivative(F&& f, double x) {
    const double s = cbrt_eps();
    const double dx = (std::fabs(x) + 1.0) * s;
    const double forward = f(x + dx);
    const double backward = f(x - dx);
    return (forward - backward) / (dx + dx);
}

}  // namespace caldrith
