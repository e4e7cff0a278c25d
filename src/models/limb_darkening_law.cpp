#include "models/limb_darkening_law.hpp"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <utility>

#include "kernels/gauss_legendre.hpp"

namespace caldrith {
namespace {

// μ ln μ, 0 at μ = 0.
double mu_log_mu(double mu) { return mu > 0.0 ? mu * std::log(mu) : 0.0; }

// p(x) = Σ p[k] x^k, of degree 4 at most.
using Quartic = std::array<double, 5>;

double evaluate(const Quartic& p, double x) {
    return (((p[4] * x + p[3]) * x + p[2]) * x + p[1]) * x + p[0];
}

Quartic derivative(const Quartic& p) { return {p[1], 2.0 * p[2], 3.0 * p[3], 4.0 * p[4], 0.0}; }

// Up to four points of (0, 1), ascending.
struct Points {
    std::array<double, 4> x{};
    std::size_t count = 0;
    const double* begin() const { return x.data(); }
    const double* end() const { return x.data() + count; }
};

// The points of (0, 1) where p changes sign. Between consecutive sign
// changes of p' (and 0 and 1) p is monotone, so each such interval holds one
// sign change at most, which bisection finds to 2^-64; the recursion ends at
// a constant, which changes sign nowhere.
Points sign_changes(const Quartic& p, int degree) {
    Points changes;
    if (degree == 0) {
        return changes;
    }
    const Points turns = sign_changes(derivative(p), degree - 1);
    double lo = 0.0;
    for (std::size_t i = 0; i <= turns.count; ++i) {
        const double hi = i < turns.count ? turns.x[i] : 1.0;
        const bool negative_at_lo = evaluate(p, lo) < 0.0;
        if (negative_at_lo != (evaluate(p, hi) < 0.0)) {
            double a = lo;
            double b = hi;
            for (int step = 0; step < 64; ++step) {
                const double mid = 0.5 * (a + b);
                ((evaluate(p, mid) < 0.0) == negative_at_lo ? a : b) = mid;
            }
            changes.x[changes.count++] = 0.5 * (a + b);
        }
        lo = hi;
    }
    return changes;
}

// The critical points in (0, 1) of p, where a minimum inside can be.
Points critical_points(const Quartic& p) { return sign_changes(derivative(p), 3); }

// What the rules say of each law's arguments, in the order of its
// coefficients; the ranges stated are COEFFICIENT_BOUND's and POWER2_MAX_ALPHA's.
struct LawArguments {
    std::array<Message, 4> out_of_range;
    Message negative;
};

const LawArguments& law_arguments(LawKind kind) {
    static const LawArguments NONE{{}, "the intensity is negative"};
    static const LawArguments LINEAR{{"u must be finite and within [-1e4, 1e4]"}, "u: the intensity is negative"};
    static const LawArguments QUADRATIC{
        {"a must be finite and within [-1e4, 1e4]", "b must be finite and within [-1e4, 1e4]"},
        "a, b: the intensity is negative"};
    static const LawArguments SQUARE_ROOT{
        {"c must be finite and within [-1e4, 1e4]", "d must be finite and within [-1e4, 1e4]"},
        "c, d: the intensity is negative"};
    static const LawArguments LOGARITHMIC{
        {"e must be finite and within [-1e4, 1e4]", "f must be finite and within [-1e4, 1e4]"},
        "e, f: the intensity is negative"};
    static const LawArguments POWER2{
        {"c must be finite and within [-1e4, 1e4]", "alpha must be positive and at most 1e15"},
        "c, alpha: the intensity is negative"};
    static const LawArguments FOUR_PARAMETER{
        {"a1 must be finite and within [-1e4, 1e4]", "a2 must be finite and within [-1e4, 1e4]",
         "a3 must be finite and within [-1e4, 1e4]", "a4 must be finite and within [-1e4, 1e4]"},
        "a1, a2, a3, a4: the intensity is negative"};
    switch (kind) {
        case LawKind::linear: return LINEAR;
        case LawKind::quadratic: return QUADRATIC;
        case LawKind::square_root: return SQUARE_ROOT;
        case LawKind::logarithmic: return LOGARITHMIC;
        case LawKind::power2: return POWER2;
        case LawKind::four_parameter: return FOUR_PARAMETER;
        case LawKind::uniform:
        case LawKind::sampled: return NONE;
    }
    return NONE;
}

// The power of two that brings the brightest of `intensity` into [1, 2):
// 0 for samples normalised to the centre, which keep their bits.
int brightest_exponent(const std::vector<double>& intensity) {
    int exponent = 1;
    if (!intensity.empty()) {
        std::frexp(*std::max_element(intensity.begin(), intensity.end()), &exponent);
    }
    return exponent - 1;
}

// values[j] 2^exponent, exact but where it falls below the normal range.
std::vector<double> scaled(std::vector<double> values, int exponent) {
    for (double& value : values) {
        value = std::ldexp(value, exponent);
    }
    return values;
}

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

LawMinimum closed_form_minimum(LawKind kind, std::span<const double> c) {
    LawMinimum lowest{1.0, 1.0};
    auto consider = [&](double mu) {
        if (const double value = closed_form_intensity(kind, c, mu); value < lowest.intensity) {
            lowest = {value, mu};
        }
    };
    consider(0.0);
    switch (kind) {
        case LawKind::uniform:
        case LawKind::sampled:
        case LawKind::linear:
        case LawKind::power2: break;  // monotone in μ: the ends
        case LawKind::quadratic:
            // (1 − a − b) + (a + 2b) μ − b μ²
            for (const double mu : critical_points({1.0 - c[0] - c[1], c[0] + 2.0 * c[1], -c[1], 0.0, 0.0})) {
                consider(mu);
            }
            break;
        case LawKind::square_root:
            // (1 − c − d) + d s + c s², s = √μ
            for (const double s : critical_points({1.0 - c[0] - c[1], c[1], c[0], 0.0, 0.0})) {
                consider(s * s);
            }
            break;
        case LawKind::four_parameter:
            // (1 − Σ aₖ) + a1 s + a2 s² + a3 s³ + a4 s⁴, s = √μ
            for (const double s : critical_points({1.0 - c[0] - c[1] - c[2] - c[3], c[0], c[1], c[2], c[3]})) {
                consider(s * s);
            }
            break;
        case LawKind::logarithmic:
            // I' = e − f (ln μ + 1) vanishes at μ = exp(e/f − 1) alone.
            if (c[1] != 0.0) {
                if (const double mu = std::exp(c[0] / c[1] - 1.0); mu > 0.0 && mu < 1.0) {
                    consider(mu);
                }
            }
            break;
    }
    return lowest;
}

LawCheck check_law(LawKind kind, std::span<const double> coefficients) {
    const LawArguments& arguments = law_arguments(kind);
    double scale = 1.0;
    for (std::size_t i = 0; i < coefficients.size(); ++i) {
        const double value = coefficients[i];
        const bool exponent = kind == LawKind::power2 && i == 1;
        const bool valid = std::isfinite(value) &&
                           (exponent ? value > 0.0 && value <= POWER2_MAX_ALPHA : std::fabs(value) <= COEFFICIENT_BOUND);
        if (!valid) {
            return Unexpected{LawFault{arguments.out_of_range[i], std::nullopt}};
        }
        if (!exponent) {
            scale += std::fabs(value);
        }
    }
    if (const LawMinimum lowest = closed_form_minimum(kind, coefficients);
        lowest.intensity < -NEGATIVE_INTENSITY_TOLERANCE * scale) {
        return Unexpected{LawFault{arguments.negative, lowest}};
    }
    return Done{};
}

LawCheck check_samples(std::span<const double> radius, std::span<const double> intensity) {
    if (radius.size() != intensity.size()) {
        return Unexpected{LawFault{"r and I must be as long as each other", std::nullopt}};
    }
    if (radius.size() < 2) {
        return Unexpected{LawFault{"r and I need two samples or more (the centre and the limb)", std::nullopt}};
    }
    // Ordered comparisons: a NaN fails them. A step of a normal double at
    // least keeps every slope of the interpolant, at most 2 / step on the
    // law's own scale, finite.
    bool increasing = radius.front() == 0.0 && radius.back() == 1.0;
    for (std::size_t j = 1; j < radius.size(); ++j) {
        increasing = increasing && radius[j] - radius[j - 1] >= std::numeric_limits<double>::min();
    }
    if (!increasing) {
        return Unexpected{LawFault{"r must increase strictly from exactly 0 to exactly 1 (by steps of 2.2e-308 "
                                   "or more)",
                                   std::nullopt}};
    }
    if (!std::all_of(intensity.begin(), intensity.end(), [](double i) { return i >= 0.0 && std::isfinite(i); })) {
        return Unexpected{LawFault{"I must be finite and ≥ 0", std::nullopt}};
    }
    if (std::none_of(intensity.begin(), intensity.end(), [](double i) { return i > 0.0; })) {
        return Unexpected{LawFault{"I must not be 0 everywhere", std::nullopt}};
    }
    return Done{};
}

LimbDarkeningLaw::LimbDarkeningLaw(LawKind kind, std::span<const double> coefficients)
    : kind_(kind), samples_(radius_, intensity_) {
    std::copy_n(coefficients.begin(), std::min(coefficients.size(), coefficients_.size()), coefficients_.begin());
}

LimbDarkeningLaw::LimbDarkeningLaw(std::vector<double> radius, std::vector<double> intensity)
    : kind_(LawKind::sampled), radius_(std::move(radius)), exponent_(brightest_exponent(intensity)),
      intensity_(scaled(std::move(intensity), -exponent_)), samples_(radius_, intensity_) {}

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
    if (!(mu >= 0.0 && mu <= 1.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (kind_ == LawKind::sampled) {
        return std::ldexp(samples_(std::sqrt((1.0 - mu) * (1.0 + mu)), 0.0), exponent_);
    }
    return closed_form_intensity(kind_, coefficients_, mu);
}

std::optional<BasisWeights> closed_form_basis_weights(LawKind kind, std::span<const double> c) {
    auto weights = [](std::initializer_list<std::pair<StarBasis, double>> terms) {
        BasisWeights w{};
        for (const auto& [basis, weight] : terms) {
            w[static_cast<std::size_t>(basis)] = weight;
        }
        return w;
    };
    using enum StarBasis;
    switch (kind) {
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

std::optional<BasisWeights> LimbDarkeningLaw::basis_weights() const {
    return kind_ == LawKind::sampled ? std::nullopt : closed_form_basis_weights(kind_, coefficients_);
}

std::vector<BasisWeights> LimbDarkeningLaw::basis_weight_derivatives() const {
    // The weights are affine in the coefficients: ∂w/∂c_j = w(e_j) − w(0).
    std::array<double, 4> unit{};
    const BasisWeights origin = *closed_form_basis_weights(kind_, unit);
    std::vector<BasisWeights> derivatives(coefficient_count(kind_));
    for (std::size_t j = 0; j < derivatives.size(); ++j) {
        unit[j] = 1.0;
        const BasisWeights at_unit = *closed_form_basis_weights(kind_, unit);
        unit[j] = 0.0;
        for (std::size_t b = 0; b < STAR_BASES; ++b) {
            derivatives[j][b] = at_unit[b] - origin[b];
        }
    }
    return derivatives;
}

std::span<const double> LimbDarkeningLaw::kinks() const noexcept {
    if (radius_.size() < 3) {
        return {};
    }
    return std::span<const double>(radius_).subspan(1, radius_.size() - 2);
}

namespace {

// Σ_k of one quadrature node into sums[k] += w I t^2k, k < sums.size().
void add_node(std::vector<double>& sums, double t2, double intensity, double weight) {
    double power = weight * intensity;
    for (double& sum : sums) {
        sum += power;
        power *= t2;
    }
}

// ∫₀¹ I(√v) (1 − v)^k dv (= ∫ I t^2k 2t dt, v = μ² = 1 − t²) for a function
// I of μ, the nodes drawn towards the limb v = 0, where the powers of μ sit.
template <class OfMu>
std::vector<double> closed_form_moments(std::size_t count, OfMu&& intensity) {
    std::vector<double> sums(count, 0.0);
    for (const QuadratureNode& node : gauss_legendre_rule(48, 4, 1)) {
        add_node(sums, 1.0 - node.x, intensity(std::sqrt(node.x)), node.weight);
    }
    return sums;
}

// ∫ I t^2k 2t dt over the pieces [t_j, t_{j+1}] of `pieces` for a function I
// of t linear on each: I t^2k 2t is a polynomial of degree 2k + 2, which 24
// nodes integrate exactly up to k = 22.
template <class OfRadius>
void add_piece_moments(std::vector<double>& sums, double lo, double hi, OfRadius&& intensity) {
    const double width = hi - lo;
    for (const QuadratureNode& node : gauss_legendre_rule(24, 1, 1)) {
        const double t = lo + width * node.x;
        add_node(sums, t * t, intensity(t), node.weight * width * 2.0 * t);
    }
}

// ∂I/∂c_j of a closed-form law at μ.
double closed_form_intensity_derivative(LawKind kind, std::span<const double> c, std::size_t j, double mu) {
    const double dark = 1.0 - mu;
    switch (kind) {
        case LawKind::linear: return -dark;
        case LawKind::quadratic: return j == 0 ? -dark : -(dark * dark);
        case LawKind::square_root: return j == 0 ? -dark : -(1.0 - std::sqrt(mu));
        case LawKind::logarithmic: return j == 0 ? -dark : -mu_log_mu(mu);
        case LawKind::power2: {
            const double power = std::pow(mu, c[1]);
            return j == 0 ? -(1.0 - power) : (mu > 0.0 ? c[0] * power * std::log(mu) : 0.0);
        }
        case LawKind::four_parameter: return -(1.0 - std::pow(mu, 0.5 * static_cast<double>(j + 1)));
        case LawKind::uniform:
        case LawKind::sampled: return 0.0;
    }
    return 0.0;
}

}  // namespace

namespace {

// B(α/2 + 1, k + 1) = k! / (a (a + 1) ⋯ (a + k)), a = α/2 + 1, for k < count:
// the moments ∫₀¹ v^(α/2) (1 − v)^k dv of the power μ^α.
std::vector<double> power2_betas(double alpha, std::size_t count) {
    const double a = 0.5 * alpha + 1.0;
    std::vector<double> beta(count);
    double value = 1.0 / a;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            value *= static_cast<double>(k) / (a + static_cast<double>(k));
        }
        beta[k] = value;
    }
    return beta;
}

}  // namespace

std::size_t LimbDarkeningLaw::parameter_count() const noexcept {
    return kind_ == LawKind::sampled ? radius_.size() : coefficient_count(kind_);
}

LimbDarkeningLaw::Moments LimbDarkeningLaw::moments(std::size_t count) const {
    std::vector<double> sums;
    if (kind_ == LawKind::sampled) {
        sums.assign(count, 0.0);
        for (std::size_t j = 0; j + 1 < radius_.size(); ++j) {
            add_piece_moments(sums, radius_[j], radius_[j + 1], [&](double t) { return at_radius(t); });
        }
    } else if (kind_ == LawKind::power2) {
        // ∫₀¹ (1 − c + c v^(α/2)) (1 − v)^k dv = (1 − c)/(k + 1) + c B(α/2 + 1, k + 1)
        // in closed form: a rule would miss the brightness of a large α,
        // concentrated within 1/√α of the centre.
        const std::vector<double> beta = power2_betas(coefficients_[1], count);
        sums.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            sums[k] = (1.0 - coefficients_[0]) / static_cast<double>(k + 1) + coefficients_[0] * beta[k];
        }
    } else {
        sums = closed_form_moments(count, [&](double mu) { return closed_form_intensity(kind_, coefficients_, mu); });
    }
    Moments result{sums[0], std::vector<double>(count)};
    for (std::size_t k = 0; k < count; ++k) {
        result.means[k] = sums[k] / sums[0];
    }
    return result;
}

std::vector<std::vector<double>> LimbDarkeningLaw::coefficient_moments(std::size_t count) const {
    std::vector<std::vector<double>> result(parameter_count());
    if (kind_ == LawKind::power2) {
        // ∂/∂c: B(a, k + 1) − 1/(k + 1); ∂/∂α: c/2 ∂B/∂a = −(c/2) B(a, k + 1) Σ_{i ≤ k} 1/(a + i),
        // a = α/2 + 1.
        const double a = 0.5 * coefficients_[1] + 1.0;
        const std::vector<double> beta = power2_betas(coefficients_[1], count);
        double harmonic = 0.0;
        for (std::size_t k = 0; k < count; ++k) {
            harmonic += 1.0 / (a + static_cast<double>(k));
            result[0].push_back(beta[k] - 1.0 / static_cast<double>(k + 1));
            result[1].push_back(-0.5 * coefficients_[0] * beta[k] * harmonic);
        }
        return result;
    }
    for (std::size_t j = 0; j < result.size(); ++j) {
        if (kind_ != LawKind::sampled) {
            result[j] = closed_form_moments(
                count, [&](double mu) { return closed_form_intensity_derivative(kind_, coefficients_, j, mu); });
            continue;
        }
        // The sample's own hat: 1 at t_j, 0 at its neighbours, linear between.
        result[j].assign(count, 0.0);
        if (j > 0) {
            const double lo = radius_[j - 1];
            const double width = radius_[j] - lo;
            add_piece_moments(result[j], lo, radius_[j], [&](double t) { return (t - lo) / width; });
        }
        if (j + 1 < radius_.size()) {
            const double hi = radius_[j + 1];
            const double width = hi - radius_[j];
            add_piece_moments(result[j], radius_[j], hi, [&](double t) { return (hi - t) / width; });
        }
    }
    return result;
}

}  // namespace caldrith
