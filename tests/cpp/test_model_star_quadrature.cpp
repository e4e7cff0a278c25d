// The quadrature route of caldrith_ld against mpmath (star_quadrature_checks.hpp,
// made by tools/generate_quadrature_checks.py): the ring means and the uniform
// disk through Bulirsch's cel with their derivatives, ln μ² and μ^α, the
// magnification where the route used to fail and its gradient; every vector
// path gives the scalar path's bits; no heap allocation per position.
#include <doctest/doctest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "kernels/powers.hpp"
#include "models/disk_mean.hpp"
#include "models/limb_darkening_law.hpp"
#include "models/ring_mean.hpp"
#include "models/star_quadrature.hpp"
#include "star_quadrature_checks.hpp"

namespace {

namespace checks = star_quadrature_checks;

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

double relative(double value, double reference, double scale) { return std::fabs(value - reference) / scale; }

std::unique_ptr<caldrith::LimbDarkeningLaw> make_law(const checks::Law& law) {
    if (law.kind == static_cast<int>(caldrith::LawKind::sampled)) {
        return std::make_unique<caldrith::LimbDarkeningLaw>(law.coefficients, law.intensities);
    }
    return std::make_unique<caldrith::LimbDarkeningLaw>(static_cast<caldrith::LawKind>(law.kind), law.coefficients);
}

// A star of the route with its law (the law first: the star keeps a reference).
struct Star {
    std::unique_ptr<caldrith::LimbDarkeningLaw> law;
    caldrith::QuadratureStar star;
    Star(const checks::Law& described, double rho)
        : law(make_law(described)), star(rho, *law, law->moments(1).flux) {}
};

}  // namespace

// Every allocation of this test program passes here, counted while `counting`.
void* operator new(std::size_t size) {
    if (counting.load()) {
        allocations.fetch_add(1);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

TEST_CASE("ring means and their derivatives against mpmath, the same bits on every path") {
    for (const auto& [l, t, c, mean, d_l, d_t, d_c] : checks::RING_CHECKS) {
        CAPTURE(l);
        CAPTURE(t);
        CAPTURE(c);
        const caldrith::RingMeanDerivatives ring = caldrith::ring_mean_derivatives(l, t, c);
        CHECK(relative(ring.value, mean, mean) < 4e-15);
        // Next to the lens R's derivatives grow as 1/(t − l); far from a small
        // one (c ≪ 1) R − 1 is tiny and they are its size.
        CHECK(relative(ring.d_l, d_l, std::fabs(d_l) + mean) < 1e-12);
        CHECK(relative(ring.d_t, d_t, std::fabs(d_t) + mean) < 1e-12);
        CHECK(relative(ring.d_c, d_c, std::fabs(d_c) + mean) < 1e-12);
        const std::vector<double> radius{t};
        const std::vector<double> gap{t - l};
        std::vector<double> scalar(3);
        std::vector<double> lanes(3);
        caldrith::ring_mean_batch(caldrith::SimdPath::scalar)
            .with_derivatives(l, c, radius, gap, {&scalar[0], 1}, {&scalar[1], 1}, {&scalar[2], 1});
        CHECK(scalar[1] == ring.d_l);
        for (const caldrith::SimdPath path : caldrith::runnable_simd_paths()) {
            const caldrith::RingMeanBatch& batch = caldrith::ring_mean_batch(path);
            batch.with_derivatives(l, c, radius, gap, {&lanes[0], 1}, {&lanes[1], 1}, {&lanes[2], 1});
            CHECK(lanes == scalar);
            batch.values(l, c, radius, gap, {&lanes[0], 1});
            CHECK(lanes[0] == scalar[0]);
        }
    }
}

TEST_CASE("the uniform disk and its derivatives against mpmath; the lens on the limb") {
    for (const auto& [l, rho, disk, d_l, d_rho] : checks::DISK_CHECKS) {
        CAPTURE(l);
        CAPTURE(rho);
        CHECK(relative(caldrith::uniform_disk_mean(l, rho), disk, disk) < 4e-15);
        // The derivatives keep about ε/|l − 1| near the limb.
        const double tolerance = 1e-12 + 1e-15 / std::fabs(l - 1.0);
        const caldrith::DiskDerivatives derivatives = caldrith::uniform_disk_derivatives(l, rho);
        CHECK(relative(derivatives.d_l, d_l, std::fabs(d_l) + disk) < tolerance);
        CHECK(relative(derivatives.d_rho, d_rho, std::fabs(d_rho) + disk / rho) < tolerance);
    }
    // On the limb, D = (2/π) [(1 + c²) atan(1/c) + c] with c = 1/ρ, the
    // derivatives diverging as ln|l − 1| on both sides.
    for (const double rho : {1e-4, 1.0, 1e300}) {
        const double c = 1.0 / rho;
        const double on_limb = 2.0 * ((1.0 + c * c) * std::atan(rho) + c) / 3.141592653589793;
        CHECK(caldrith::uniform_disk_mean(1.0, rho) == doctest::Approx(on_limb).epsilon(1e-15));
        const caldrith::DiskDerivatives limb = caldrith::uniform_disk_derivatives(1.0, rho);
        CHECK(limb.d_l == -std::numeric_limits<double>::infinity());
        CHECK(limb.d_rho == std::numeric_limits<double>::infinity());
        if (rho < 1e3) {
            CHECK(caldrith::uniform_disk_derivatives(1.0 + 1e-12, rho).d_l < caldrith::uniform_disk_derivatives(1.0 + 1e-6, rho).d_l);
            CHECK(caldrith::uniform_disk_derivatives(1.0 - 1e-12, rho).d_l < caldrith::uniform_disk_derivatives(1.0 - 1e-6, rho).d_l);
        }
    }
}

TEST_CASE("ln mu^2 and mu^alpha against long double, the same bits on every path") {
    std::vector<double> radii{0.0, 1e-300, 1e-8, 0.01, 0.3, 0.5, 0.7071, 0.9, 1.0 - 1e-9, 1.0 - 1e-16};
    for (int i = 1; i < 200; ++i) {
        radii.push_back(i / 200.0);
    }
    radii.push_back(1.0);  // the limb, last: ln 0 = −∞, 0^α = 0
    for (const double alpha : {0.01, 0.6, 50.0, 1e15}) {
        std::vector<double> logs(radii.size()), powers(radii.size()), lane_logs(radii.size()), lane_powers(radii.size());
        caldrith::power_batch(caldrith::SimdPath::scalar).mu_powers(radii, alpha, logs.data(), powers.data());
        for (std::size_t i = 0; i + 1 < radii.size(); ++i) {
            const long double t = radii[i];
            const long double log = t < 0.5L ? std::log1p(-t * t) : std::log((1.0L - t) * (1.0L + t));
            CAPTURE(t);
            CHECK(std::fabs(logs[i] - log) <= 8e-16L * std::fabs(log) + 1e-300L);
            const long double power = std::exp(0.5L * alpha * log);
            // The power inherits ln μ²'s relative error times (α/2)|ln μ²|.
            CHECK(std::fabs(powers[i] - power) <= 1e-15L * power * (1.0L + 0.5L * alpha * std::fabs(log)) + 1e-300L);
        }
        CHECK(logs.back() == -std::numeric_limits<double>::infinity());
        CHECK(powers.back() == 0.0);
        for (const caldrith::SimdPath path : caldrith::runnable_simd_paths()) {
            caldrith::power_batch(path).mu_powers(radii, alpha, lane_logs.data(), lane_powers.data());
            CHECK(lane_logs == logs);
            CHECK(lane_powers == powers);
        }
    }
}

TEST_CASE("magnifications where the route used to fail, against mpmath") {
    // The power-2 law with a large exponent or a small one near the limb, a
    // ring on or next to a kink or just beyond the limb, large and tiny stars.
    for (const checks::StarCheck& check : checks::STAR_CHECKS) {
        const checks::Law& law = checks::LAWS[check.law];
        CAPTURE(law.name);
        CAPTURE(check.rho);
        CAPTURE(check.u / check.rho);
        const Star star(law, check.rho);
        CHECK(relative(star.star(check.u, check.u / check.rho), check.magnification, check.magnification) < 2e-9);
    }
}

TEST_CASE("the gradient against mpmath, and with the lens on the limb") {
    for (const checks::GradientCheck& check : checks::GRADIENT_CHECKS) {
        const checks::Law& law = checks::LAWS[check.law];
        const double l = check.u / check.rho;
        CAPTURE(law.name);
        CAPTURE(check.rho);
        CAPTURE(l);
        const Star star(law, check.rho);
        std::vector<double> d_coefficients(check.d_coefficients.size());
        const caldrith::StarDerivatives gradient = star.star.gradient(check.u, l, d_coefficients);
        const double value = check.magnification;
        CHECK(relative(gradient.value, value, value) < 1e-9);
        // Relative to the natural scales: |d| + A/ρ in u and ρ, |d| + A in a coefficient.
        CHECK(relative(gradient.d_u, check.d_u, std::fabs(check.d_u) + value / check.rho) < 1e-7);
        CHECK(relative(gradient.d_rho, check.d_rho, std::fabs(check.d_rho) + value / check.rho) < 1e-7);
        for (std::size_t k = 0; k < d_coefficients.size(); ++k) {
            CAPTURE(k);
            const double reference = check.d_coefficients[k];
            CHECK(relative(d_coefficients[k], reference, std::fabs(reference) + value) < 1e-7);
        }
    }
    // On the limb a law bright there has infinite derivatives in u and ρ, one
    // dark there (I(1) = 0) finite ones.
    for (const auto& [law, infinite] : {std::pair{checks::POWER2, true}, {checks::POWER2_DARK_LIMB, false}}) {
        const Star star(checks::LAWS[law], 0.5);
        std::vector<double> d_coefficients(2);
        const caldrith::StarDerivatives gradient = star.star.gradient(0.5, 1.0, d_coefficients);
        CHECK(std::isfinite(gradient.value));
        CHECK(std::isfinite(d_coefficients[0]));
        CHECK(std::isfinite(d_coefficients[1]));
        if (infinite) {
            CHECK(gradient.d_u == -std::numeric_limits<double>::infinity());
            CHECK(gradient.d_rho == std::numeric_limits<double>::infinity());
        } else {
            CHECK(std::isfinite(gradient.d_u));
            CHECK(std::isfinite(gradient.d_rho));
        }
    }
}

TEST_CASE("no heap allocation per position") {
    for (const checks::Law& law : checks::LAWS) {
        const Star star(law, 0.3);
        // A closed form's coefficients, or a sampled law's intensities (as
        // many as its radii).
        std::vector<double> d_coefficients(law.coefficients.size());
        allocations = 0;
        counting = true;
        double sum = 0.0;
        for (int i = 0; i < 200; ++i) {
            const double l = 1.7 * i / 200.0;
            sum += star.star(l * 0.3, l) + star.star.gradient(l * 0.3, l, d_coefficients).d_u;
        }
        counting = false;
        CAPTURE(law.name);
        CHECK(std::isfinite(sum));
        CHECK(allocations.load() == 0);
    }
}
