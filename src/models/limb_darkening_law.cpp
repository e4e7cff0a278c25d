#include "models/limb_darkening_law.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

#include "kernels/gauss_legendre.hpp"

namespace caldrith {
namespace {

// μ ln μ, 0 at μ = 0.
double mu_log_mu(double mu) { return mu > 0.0 ? mu * std::log(mu) : 0.0; }

}  // namespace

std::size_t coefficient_count(LawKind kind) {
    switch (kind) {
        case LawKind::linear: return 1;
        case LawKind::quadratic:
        case LawKind::square_root:
        case LawKind::logarithmic:
        case LawKind::power2: return 2;
        case LawKind::four_parameter: return 4;
        case LawKind::uniform:
        case LawKind::sampled: return 0;
    }
    return 0;
}

double closed_form_intensity(LawKind kind, std::span<const double> c, double mu) {
    const double dark = 1.0 - mu;
    switch (kind) {
        case LawKind::linear: return 1.0 - c[0] * dark;
        case LawKind::quadratic: return 1.0 - c[0] * dark - c[1] * (dark * dark);
        case LawKind::square_root: return 1.0 - c[0] * dark - c[1] * (1.0 - std::sqrt(mu));
        case LawKind::logarithmic: return 1.0 - c[0] * dark - c[1] * mu_log_mu(mu);
        case LawKind::power2: return 1.0 - c[0] * (1.0 - std::pow(mu, c[1]));
        case LawKind::four_parameter: {
            const double root = std::sqrt(mu);
            return 1.0 - c[0] * (1.0 - root) - c[1] * dark - c[2] * (1.0 - mu * root) - c[3] * (1.0 - mu * mu);
        }
        case LawKind::uniform:
        case LawKind::sampled: return 1.0;
    }
    return 1.0;
}

LawMinimum closed_form_minimum(LawKind kind, std::span<const double> coefficients) {
    constexpr int GRID = 4096;
    auto at = [&](double mu) { return closed_form_intensity(kind, coefficients, mu); };
    // Points uniform in μ², denser towards the limb where the laws bend most,
    // with μ = 0 and μ = 1 themselves.
    auto grid_mu = [](int i) { return std::sqrt(static_cast<double>(i) / GRID); };
    int best = 0;
    double best_value = at(0.0);
    for (int i = 1; i <= GRID; ++i) {
        const double value = at(grid_mu(i));
        if (!(value >= best_value)) {
            best = i;
            best_value = value;
        }
    }
    double lo = grid_mu(std::max(best - 1, 0));
    double hi = grid_mu(std::min(best + 1, GRID));
    constexpr double GOLDEN = 0.6180339887498949;
    for (int step = 0; step < 80 && hi - lo > 1e-14; ++step) {
        const double left = hi - GOLDEN * (hi - lo);
        const double right = lo + GOLDEN * (hi - lo);
        if (at(left) < at(right)) {
            hi = right;
        } else {
            lo = left;
        }
    }
    LawMinimum minimum{best_value, grid_mu(best)};
    for (const double mu : {lo, hi, 0.5 * (lo + hi)}) {
        if (const double value = at(mu); value < minimum.intensity) {
            minimum = {value, mu};
        }
    }
    return minimum;
}

LimbDarkeningLaw::LimbDarkeningLaw(LawKind kind, std::span<const double> coefficients)
    : kind_(kind), samples_(radius_, intensity_) {
    std::copy_n(coefficients.begin(), std::min(coefficients.size(), coefficients_.size()), coefficients_.begin());
}

LimbDarkeningLaw::LimbDarkeningLaw(std::vector<double> radius, std::vector<double> intensity)
    : kind_(LawKind::sampled), radius_(std::move(radius)), intensity_(std::move(intensity)),
      samples_(radius_, intensity_) {}

double LimbDarkeningLaw::at_radius(double t) const {
    if (kind_ == LawKind::sampled) {
        return samples_(t, 0.0);
    }
    if (kind_ == LawKind::uniform) {
        return 1.0;
    }
    // μ from (1 − t)(1 + t), which keeps its digits at the limb.
    const double mu = std::sqrt(std::fmax((1.0 - t) * (1.0 + t), 0.0));
    return closed_form_intensity(kind_, coefficients_, mu);
}

double LimbDarkeningLaw::at_mu(double mu) const {
    if (kind_ == LawKind::sampled) {
        return samples_(std::sqrt(std::fmax((1.0 - mu) * (1.0 + mu), 0.0)), 0.0);
    }
    return closed_form_intensity(kind_, coefficients_, mu);
}

std::optional<BasisWeights> LimbDarkeningLaw::basis_weights() const {
    const auto& c = coefficients_;
    auto weights = [](std::initializer_list<std::pair<StarBasis, double>> terms) {
        BasisWeights w{};
        for (const auto& [basis, weight] : terms) {
            w[static_cast<std::size_t>(basis)] = weight;
        }
        return w;
    };
    using enum StarBasis;
    switch (kind_) {
        case LawKind::uniform: return weights({{uniform, 1.0}});
        case LawKind::linear: return weights({{uniform, 1.0 - c[0]}, {mu, c[0]}});
        case LawKind::quadratic:
            // 1 − a(1 − μ) − b(1 − μ)² = (1 − a − b) + (a + 2b) μ − b μ²
            return weights({{uniform, 1.0 - c[0] - c[1]}, {mu, c[0] + 2.0 * c[1]}, {mu_squared, -c[1]}});
        case LawKind::square_root: return weights({{uniform, 1.0 - c[0] - c[1]}, {mu, c[0]}, {sqrt_mu, c[1]}});
        case LawKind::logarithmic: return weights({{uniform, 1.0 - c[0]}, {mu, c[0]}, {mu_log_mu, -c[1]}});
        case LawKind::four_parameter:
            return weights({{uniform, 1.0 - c[0] - c[1] - c[2] - c[3]},
                            {sqrt_mu, c[0]},
                            {mu, c[1]},
                            {mu_three_halves, c[2]},
                            {mu_squared, c[3]}});
        case LawKind::power2:
        case LawKind::sampled: return std::nullopt;
    }
    return std::nullopt;
}

std::span<const double> LimbDarkeningLaw::kinks() const noexcept {
    if (radius_.size() < 3) {
        return {};
    }
    return std::span<const double>(radius_).subspan(1, radius_.size() - 2);
}

LimbDarkeningLaw::Moments LimbDarkeningLaw::moments(std::size_t count) const {
    std::vector<double> sums(count, 0.0);
    // Σ_k over one quadrature node at radius t, intensity I, weight w (w
    // includes 2t dt).
    auto add = [&](double t2, double intensity, double weight) {
        double power = weight * intensity;
        for (std::size_t k = 0; k < count; ++k) {
            sums[k] += power;
            power *= t2;
        }
    };
    if (kind_ == LawKind::sampled) {
        // I is linear in t on each segment: I(t) t^2k 2t is a polynomial of
        // degree 2k + 2, which 24 nodes integrate exactly up to k = 22.
        const auto rule = gauss_legendre_rule(24, 1, 1);
        for (std::size_t j = 0; j + 1 < radius_.size(); ++j) {
            const double lo = radius_[j];
            const double width = radius_[j + 1] - lo;
            for (const QuadratureNode& node : rule) {
                const double t = lo + width * node.x;
                add(t * t, at_radius(t), node.weight * width * 2.0 * t);
            }
        }
    } else if (kind_ == LawKind::power2) {
        // ∫₀¹ (1 − c + c v^(α/2)) (1 − v)^k dv = (1 − c)/(k + 1) + c B(α/2 + 1, k + 1)
        // in closed form: a rule would miss the brightness of a large α,
        // concentrated within 1/√α of the centre.
        const double a = 0.5 * coefficients_[1] + 1.0;
        double beta = 1.0 / a;  // B(a, k + 1) = k! / (a (a + 1) ⋯ (a + k))
        for (std::size_t k = 0; k < count; ++k) {
            if (k > 0) {
                beta *= static_cast<double>(k) / (a + static_cast<double>(k));
            }
            sums[k] = (1.0 - coefficients_[0]) / static_cast<double>(k + 1) + coefficients_[0] * beta;
        }
    } else {
        // In v = μ² = 1 − t², 2t dt = −dv: ∫₀¹ I(√v) (1 − v)^k dv, the nodes
        // drawn towards the limb v = 0, where the powers of μ sit.
        for (const QuadratureNode& node : gauss_legendre_rule(48, 4, 1)) {
            add(1.0 - node.x, closed_form_intensity(kind_, coefficients_, std::sqrt(node.x)), node.weight);
        }
    }
    Moments result{sums[0], std::vector<double>(count)};
    for (std::size_t k = 0; k < count; ++k) {
        result.means[k] = sums[k] / sums[0];
    }
    return result;
}

}  // namespace caldrith
