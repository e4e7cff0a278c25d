#include "kernels/gauss_legendre.hpp"

#include <string>

#include "common/fault.hpp"

namespace caldrith {

std::span<const QuadratureNode> gauss_legendre_rule(std::size_t n, int a, int b) {
    for (const gauss_legendre::detail::Rule& rule : gauss_legendre::detail::RULES) {
        if (rule.count == n && rule.a == a && rule.b == b) {
            return rule.nodes;
        }
    }
    raise_fault("no Gauss-Legendre rule with " + std::to_string(n) + " nodes and end orders " + std::to_string(a) +
                ", " + std::to_string(b));
}

}  // namespace caldrith
