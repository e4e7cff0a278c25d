// Gauss–Legendre rules on [0, 1], plain or with their nodes drawn towards an
// end (kernels/gauss_legendre_rules.hpp, tools/generate_gauss_legendre_rules.py):
// the rule (n, a, b) is the n-point rule in y carried to x = I_y(a, b), the
// regularized incomplete beta function, flat to order a at x = 0 and to
// order b at x = 1. An integrand that behaves as x^g or x^g ln x at 0 then
// meets the rule as y^(a(g+1)−1) (ln y), which converges fast for a = 3 or 4.
#pragma once

#include <cstddef>
#include <span>

#include "kernels/gauss_legendre_rules.hpp"

namespace caldrith {

using QuadratureNode = gauss_legendre::detail::Node;

// The rule with n nodes (4, 6, 8, 10, 12, 14, 16, 24 or 48) and end orders a, b (1, 3 or 4;
// (1, 1) is the plain rule). Any other combination is an internal fault.
std::span<const QuadratureNode> gauss_legendre_rule(std::size_t n, int a, int b);

// Σ_i w_i f(lo + (hi − lo) x_i) (hi − lo): the rule on [lo, hi].
template <class F>
double integrate_rule(std::span<const QuadratureNode> rule, double lo, double hi, F&& f) {
    const double width = hi - lo;
    double sum = 0.0;
    for (const QuadratureNode& node : rule) {
        sum += node.weight * f(lo + width * node.x);
    }
    return sum * width;
}

}  // namespace caldrith
