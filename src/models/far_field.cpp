// The disk mean of a smooth function f over a disk of radius ρ about p is
// the mean-value series Σ_k (ρ²/4)^k / (k!(k+1)!) Δ^k f(p), convergent while
// the disk keeps clear of f's singularities. For the point-lens
// magnification A(u) = (u² + 2) / (u √(u² + 4)), with s = u² / (u² + 4) and
// x = (ρ/u)², each term is A(u) times a bounded polynomial in s
// (tools/generate_far_field_series.py):
//
//   Ā = A(u) [1 + 2 (1 − s)² / (1 + s) (x P₁(s) + x² P₂(s) + x³ P₃(s))].
//
// 1 − s = 4 / (u² + 4) and s are formed so that neither a tiny u nor one
// whose square overflows loses them.
#include "models/far_field.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "kernels/polynomial.hpp"
#include "models/far_field_series.hpp"

namespace caldrith {
namespace {

// Beyond it A(u) − 1 = 2/u⁴ + … is far below an ulp of 1, and u² overflows
// not much further on.
constexpr double POINT_LENS_UNITY = 1e150;

double point_lens(double u) {
    if (u > POINT_LENS_UNITY) {
        return 1.0;
    }
    return (u * u + 2.0) / (u * std::sqrt(u * u + 4.0));
}

// 1 − s = 4/(u² + 4) and s, and the weight 2(1 − s)²/(1 + s) of the series.
struct SeriesVariables {
    double s;
    double one_minus_s;
    double weight;
};

SeriesVariables series_variables(double u) {
    const double one_minus_s = 4.0 / (u * u + 4.0);
    const double s = 1.0 - one_minus_s;
    return {s, one_minus_s, 2.0 * (one_minus_s * one_minus_s) / (1.0 + s)};
}

// A'(u) = −8 / (u² (u² + 4)^(3/2)), 0 where A is taken as 1.
double point_lens_slope(double u) {
    if (u > POINT_LENS_UNITY) {
        return 0.0;
    }
    const double u2 = u * u;
    return -8.0 / (u2 * ((u2 + 4.0) * std::sqrt(u2 + 4.0)));
}

}  // namespace

double uniform_disk_far_field(double u, double rho) {
    using namespace far_field::detail;
    const double ratio = rho / u;
    const double x = ratio * ratio;
    const auto [s, one_minus_s, weight] = series_variables(u);
    const double series = x * (horner(UNIFORM_DISK_P1, s) + x * (horner(UNIFORM_DISK_P2, s) + x * horner(UNIFORM_DISK_P3, s)));
    return point_lens(u) * (1.0 + weight * series);
}

FarFieldGradient star_far_field_gradient(double u, double rho, std::span<const double> means,
                                         std::span<const std::vector<double>> mean_derivatives,
                                         std::span<double> d_coefficients) {
    using namespace far_field::detail;
    const double ratio = rho / u;
    const double x = ratio * ratio;
    const auto [s, one_minus_s, weight] = series_variables(u);
    // Σ x^k m_k R_k in star_far_field's order (so the value has its bits),
    // Σ k x^k m_k R_k (x ∂/∂x) and Σ x^k m_k R_k'(s), each by Horner in x;
    // the R_k kept for the coefficients' sums.
    std::array<double, STAR_FAR_FIELD_TERMS> rings;
    assert(means.size() <= rings.size());
    double series = 0.0;
    double series_x = 0.0;
    double series_s = 0.0;
    for (std::size_t k = means.size(); k-- > 0;) {
        const ValueAndDerivative ring = horner_with_derivative(RING_SERIES[k], s);
        rings[k] = ring.value;
        const double term = means[k] * ring.value;
        series = (series + term) * x;
        series_x = (series_x + static_cast<double>(k + 1) * term) * x;
        series_s = (series_s + means[k] * ring.derivative) * x;
    }
    const double a = point_lens(u);
    const double scale = a * weight;
    for (std::size_t j = 0; j < d_coefficients.size(); ++j) {
        const double* slopes = mean_derivatives[j].data();
        double sum = 0.0;
        for (std::size_t k = means.size(); k-- > 0;) {
            sum = (sum + slopes[k] * rings[k]) * x;
        }
        d_coefficients[j] = sum * scale;
    }
    // dg/ds of the weight g = 2(1 − s)²/(1 + s), and ds/du = u (1 − s)²/2.
    const double weight_slope = -2.0 * one_minus_s * (3.0 + s) / ((1.0 + s) * (1.0 + s));
    const double s_slope = u * one_minus_s * one_minus_s / 2.0;
    return {a * (1.0 + weight * series),
            point_lens_slope(u) * (1.0 + weight * series) +
                a * ((weight_slope * series + weight * series_s) * s_slope - 2.0 / u * weight * series_x),
            scale * series_x * 2.0 / rho};
}

std::size_t star_far_field_terms(double l) {
    // k terms serve from l = 10^(3.8/k) on: the first k whose threshold l
    // reaches, found without a logarithm for every position.
    constexpr double TERMS_PER_DECADE = 3.8;
    constexpr std::size_t FEWEST = 3;
    static const auto thresholds = [] {
        std::array<double, STAR_FAR_FIELD_TERMS + 1> t{};
        for (std::size_t k = FEWEST; k <= STAR_FAR_FIELD_TERMS; ++k) {
            t[k] = std::pow(10.0, TERMS_PER_DECADE / static_cast<double>(k));
        }
        return t;
    }();
    std::size_t k = FEWEST;
    while (k < STAR_FAR_FIELD_TERMS && l < thresholds[k]) {
        ++k;
    }
    return k;
}

double star_far_field(double u, double rho, std::span<const double> means) {
    using namespace far_field::detail;
    const double ratio = rho / u;
    const double x = ratio * ratio;
    const auto [s, one_minus_s, weight] = series_variables(u);
    double series = 0.0;
    for (std::size_t k = means.size(); k-- > 0;) {
        series = (series + means[k] * horner(RING_SERIES[k], s)) * x;
    }
    return point_lens(u) * (1.0 + weight * series);
}

}  // namespace caldrith
