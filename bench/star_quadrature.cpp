// Nanoseconds per position of caldrith_ld's quadrature route (QuadratureStar:
// power-2 at every ρ, every law for ρ > 0.1), its value alone and with its
// gradient (derivatives in u, ρ and the law's coefficients), on one core:
// the calling thread's processor time, fastest of ROUNDS runs over positions
// evenly spread in l = u/ρ over a band. Built with the C++ tests
// (CALDRITH_BUILD_TESTS); bench/star_quadrature.py runs it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fastest.hpp"
#include "models/limb_darkening_law.hpp"
#include "models/star_pieces.hpp"
#include "models/law_on_nodes.hpp"
#include "models/star_quadrature.hpp"

namespace {

constexpr int ROUNDS = 7;
constexpr std::size_t POSITIONS = 2000;

struct Law {
    std::string name;
    std::unique_ptr<caldrith::LimbDarkeningLaw> law;
};

std::vector<double> samples(std::size_t count, bool intensities) {
    std::vector<double> values(count);
    for (std::size_t j = 0; j < count; ++j) {
        const double r = static_cast<double>(j) / static_cast<double>(count - 1);
        values[j] = intensities ? 1.0 - 0.6 * (1.0 - std::sqrt(1.0 - r * r)) : r;
    }
    return values;
}

Law closed(const std::string& name, caldrith::LawKind kind, std::vector<double> coefficients) {
    return {name, std::make_unique<caldrith::LimbDarkeningLaw>(kind, coefficients)};
}

// One row: ns per position of the value and of the gradient, and the nodes.
void row(const Law& law, double rho, double lo, double hi) {
    const caldrith::QuadratureStar star(rho, *law.law, law.law->moments(1).flux);
    const caldrith::LawOnNodes nodes_law(*law.law);
    const caldrith::StarShape shape{1.0 / rho, nodes_law.powers_at_limb(), nodes_law.cuts(), nodes_law.cut_nodes()};
    std::vector<double> l(POSITIONS);
    double nodes = 0.0;
    for (std::size_t i = 0; i < POSITIONS; ++i) {
        l[i] = lo + (hi - lo) * (static_cast<double>(i) + 0.5) / POSITIONS;
        nodes += static_cast<double>(caldrith::StarPieces(shape, l[i]).node_count());
    }
    std::vector<double> d_coefficients(nodes_law.coefficient_count());
    double sum = 0.0;
    const double value = fastest_per_element(ROUNDS, POSITIONS, [&] {
        for (const double x : l) sum += star(x * rho, x);
    });
    const double gradient = fastest_per_element(ROUNDS, POSITIONS, [&] {
        for (const double x : l) sum += star.gradient(x * rho, x, d_coefficients).d_u;
    });
    if (!std::isfinite(sum)) {
        std::printf("%s: a magnification or gradient is not finite\n", law.name.c_str());
    }
    std::printf("%-16s %8g  [%4g, %4g]  %7.0f  %9.0f  %5.2f  %6.1f\n", law.name.c_str(), rho, lo, hi, value, gradient,
                gradient / value, nodes / POSITIONS);
}

}  // namespace

int main() {
    using caldrith::LawKind;
    std::vector<Law> laws;
    laws.push_back(closed("linear", LawKind::linear, {0.6}));
    laws.push_back(closed("quadratic", LawKind::quadratic, {0.4, 0.25}));
    laws.push_back(closed("square root", LawKind::square_root, {0.2, 0.5}));
    laws.push_back(closed("logarithmic", LawKind::logarithmic, {0.6, 0.15}));
    laws.push_back(closed("power-2", LawKind::power2, {0.7, 0.6}));
    laws.push_back(closed("four-parameter", LawKind::four_parameter, {0.5, 0.1, 0.3, -0.2}));
    for (const std::size_t count : {8, 30}) {
        laws.push_back({"sampled, " + std::to_string(count),
                        std::make_unique<caldrith::LimbDarkeningLaw>(samples(count, false), samples(count, true))});
    }
    std::printf("%-16s %8s  %12s  %7s  %9s  %5s  %6s\n", "law", "rho", "l band", "value", "gradient", "ratio", "nodes");
    for (const Law& law : laws) {
        for (const double rho : {0.3, 1.0, 10.0}) {
            row(law, rho, 0.0, 1.6);
        }
    }
    const Law& power2 = laws[4];
    for (const auto& [lo, hi] : {std::pair{0.0, 1.0}, {0.95, 1.05}, {1.0, 1.6}, {0.0, 1.6}}) {
        row(power2, 0.01, lo, hi);
    }
    for (const double rho : {1e-4, 100.0, 1e4, 1e6}) {
        row(power2, rho, 0.0, 1.6);
    }
    row(closed("power-2, alpha 50", LawKind::power2, {0.9, 50.0}), 0.01, 0.0, 1.6);
    row(closed("power-2, alpha 1e6", LawKind::power2, {0.9, 1e6}), 0.01, 0.0, 1.6);
    return 0;
}
