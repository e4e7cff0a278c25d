// The pieces of the limb-darkened star against closed forms: the
// Gauss-Legendre rules, the laws' moments, the far-field series against the
// quadrature where both hold, and a batch against one position at a time.
#include <doctest/doctest.h>

#include <cmath>
#include <span>
#include <limits>
#include <random>
#include <vector>

#include "kernels/gauss_legendre.hpp"
#include "models/limb_darkened.hpp"
#include "models/limb_darkening_law.hpp"
#include "models/witt_mao.hpp"

using caldrith::LawKind;
using caldrith::LimbDarkenedStars;
using caldrith::LimbDarkeningLaw;
using caldrith::StarColumns;

namespace {

// The magnifications of a star with one law at every u, as a call computes them.
std::vector<double> magnifications(double rho, const LimbDarkeningLaw& law, std::span<const double> u) {
    std::vector<double> values(u.size());
    const LimbDarkeningLaw* laws[] = {&law};
    const StarColumns columns[] = {{values.data()}};
    LimbDarkenedStars(rho, laws, columns).chunk(0, u);
    return values;
}

double magnification(double rho, const LimbDarkeningLaw& law, double u) {
    return magnifications(rho, law, {&u, 1})[0];
}

}  // namespace

TEST_CASE("every rule integrates low powers of x exactly") {
    for (const std::size_t n : {4, 6, 8, 10, 12, 14, 16, 24, 48}) {
        for (const auto& [a, b] : {std::pair{1, 1}, {1, 3}, {3, 1}, {3, 3}, {1, 4}, {3, 4}, {4, 1}, {4, 4}}) {
            CAPTURE(n);
            CAPTURE(a);
            CAPTURE(b);
            const auto rule = caldrith::gauss_legendre_rule(n, a, b);
            REQUIRE(rule.size() == n);
            // x^k x'(y) has degree k (a + b - 1) + a + b - 2 in y.
            for (int k = 0; k * (a + b - 1) + a + b - 2 <= static_cast<int>(2 * n - 1) && k < 4; ++k) {
                double sum = 0.0;
                for (const auto& node : rule) {
                    sum += node.weight * std::pow(node.x, k);
                }
                CHECK(sum == doctest::Approx(1.0 / (k + 1)).epsilon(1e-14));
            }
            for (std::size_t i = 1; i < n; ++i) {
                CHECK(rule[i - 1].x < rule[i].x);
            }
        }
    }
}

TEST_CASE("the moments of the linear law and of a sampled one") {
    // ∫₀¹ I(√v) (1 − v)^k dv with I = 1 − u + u μ: (1 − u)/(k + 1) + u B(3/2, k + 1).
    const double u = 0.6;
    const std::vector<double> coefficients{u};
    const LimbDarkeningLaw linear(LawKind::linear, coefficients);
    const auto moments = linear.moments(8);
    const double flux = (1.0 - u) + u * 2.0 / 3.0;
    CHECK(moments.flux == doctest::Approx(flux).epsilon(1e-15));
    for (int k = 0; k < 8; ++k) {
        const double beta = std::exp(std::lgamma(1.5) + std::lgamma(k + 1.0) - std::lgamma(k + 2.5));
        CHECK(moments.means[k] == doctest::Approx(((1.0 - u) / (k + 1) + u * beta) / flux).epsilon(1e-14));
    }
    // I linear in r: 1 − r, whose ∫ (1 − r) r^2k 2r dr = 2/(2k + 2) − 2/(2k + 3).
    const LimbDarkeningLaw sampled(std::vector<double>{0.0, 0.3, 1.0}, std::vector<double>{1.0, 0.7, 0.0});
    const auto sampled_moments = sampled.moments(8);
    CHECK(sampled_moments.flux == doctest::Approx(1.0 / 3.0).epsilon(1e-15));
    for (int k = 0; k < 8; ++k) {
        const double exact = 2.0 / (2 * k + 2) - 2.0 / (2 * k + 3);
        CHECK(sampled_moments.means[k] == doctest::Approx(exact * 3.0).epsilon(1e-14));
    }
}

TEST_CASE("the closed-form minimum finds a dip inside the disk") {
    // 1 − Σ aₖ (1 − μ^(k/2)) = 0.2 − 3x + 10x² − 11x³ + 4.8x⁴, x = √μ: negative near x = 0.2.
    const std::vector<double> coefficients{-3.0, 10.0, -11.0, 4.8};
    const auto minimum = caldrith::closed_form_minimum(LawKind::four_parameter, coefficients);
    CHECK(minimum.intensity < -0.05);
    CHECK(minimum.mu > 0.0);
    CHECK(minimum.mu < 0.2);
}

TEST_CASE("the closed-form minimum is the least intensity on a fine grid, for random laws") {
    // The grid's least value is reached, so the true minimum is at or below it; the analytic one,
    // also reached, must be too (up to rounding), or a critical point was missed.
    std::mt19937_64 random(20250612);
    std::uniform_real_distribution<double> coefficient(-6.0, 6.0);
    std::uniform_real_distribution<double> exponent(0.05, 4.0);
    for (const LawKind kind : {LawKind::linear, LawKind::quadratic, LawKind::square_root, LawKind::logarithmic,
                               LawKind::power2, LawKind::four_parameter}) {
        for (int trial = 0; trial < 300; ++trial) {
            std::vector<double> c(caldrith::coefficient_count(kind));
            for (double& value : c) {
                value = coefficient(random);
            }
            if (kind == LawKind::power2) {
                c[1] = exponent(random);
            }
            const auto minimum = caldrith::closed_form_minimum(kind, c);
            double grid = 1.0;
            for (int i = 0; i <= 4000; ++i) {
                const double x = i / 4000.0;  // uniform in μ and in √μ
                grid = std::fmin(grid, std::fmin(caldrith::closed_form_intensity(kind, c, x),
                                                 caldrith::closed_form_intensity(kind, c, x * x)));
            }
            CAPTURE(static_cast<int>(kind));
            CAPTURE(trial);
            CHECK(minimum.mu >= 0.0);
            CHECK(minimum.mu <= 1.0);
            CHECK(minimum.intensity == caldrith::closed_form_intensity(kind, c, minimum.mu));
            CHECK(minimum.intensity <= grid + 1e-13);
        }
    }
}

TEST_CASE("far-field series and the routes near the star agree where both hold") {
    const std::vector<double> coefficients{0.3, 0.5};
    const LimbDarkeningLaw law(LawKind::square_root, coefficients);
    const LimbDarkeningLaw sampled(std::vector<double>{0.0, 0.4, 1.0}, std::vector<double>{1.0, 0.8, 0.3});
    // The far field starts at l = 4 after the small-star series, at 1.6 after the quadrature.
    for (const double rho : {1e-3, 0.1, 3.0}) {
        const double start = rho <= caldrith::SERIES_MAX_RHO ? caldrith::SERIES_MAX_Z : 1.6;
        for (const LimbDarkeningLaw* each : {&law, &sampled}) {
            const double below = magnification(rho, *each, std::nextafter(start, 0.0) * rho);
            const double above = magnification(rho, *each, start * rho);
            CAPTURE(rho);
            CHECK(below == doctest::Approx(above).epsilon(rho > caldrith::SERIES_MAX_RHO ? 1e-9 : 1e-12));
        }
    }
}

TEST_CASE("a batch gives the bits of one position at a time; special positions") {
    const std::vector<double> coefficients{0.4, 0.25};
    const LimbDarkeningLaw quadratic(LawKind::quadratic, coefficients);
    const LimbDarkeningLaw uniform(LawKind::uniform, {});
    for (const LimbDarkeningLaw* law : {&quadratic, &uniform}) {
        std::vector<double> u;
        for (int i = 0; i < 700; ++i) {
            u.push_back(0.01 * i * 0.01);
        }
        const std::vector<double> batch = magnifications(0.01, *law, u);
        for (std::size_t i = 0; i < u.size(); ++i) {
            CAPTURE(u[i]);
            CHECK(batch[i] == magnification(0.01, *law, u[i]));
        }
        CHECK(std::isnan(magnification(0.01, *law, std::numeric_limits<double>::quiet_NaN())));
        CHECK(magnification(0.01, *law, std::numeric_limits<double>::infinity()) == 1.0);
        CHECK(magnification(0.01, *law, -0.005) == magnification(0.01, *law, 0.005));
    }
    // The uniform law is the uniform disk without a near-limb window: from
    // the series for a small star, the closed form itself for a larger one.
    for (const double rho : {0.01, 0.5}) {
        for (const double l : {0.0, 0.5, 0.999999, 1.0, 1.000001, 3.0}) {
            CAPTURE(rho);
            CAPTURE(l);
            const double closed_form = caldrith::uniform_disk_magnification(l * rho, rho);
            if (rho > caldrith::SERIES_MAX_RHO) {
                CHECK(magnification(rho, uniform, l * rho) == closed_form);
            } else {
                CHECK(magnification(rho, uniform, l * rho) == doctest::Approx(closed_form).epsilon(1e-13));
            }
        }
    }
}
