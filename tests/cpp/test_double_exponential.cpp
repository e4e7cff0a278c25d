#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "kernels/double_exponential.hpp"

using caldrith::double_exponential::integrate;
using caldrith::double_exponential::integrate_counted;
namespace detail = caldrith::double_exponential::detail;

namespace {

using Integrand = double (*)(double);

double exponential(double t) { return std::exp(t); }
double inverse_sqrt(double t) { return 1.0 / std::sqrt(t); }

}  // namespace

TEST_CASE("evaluation counts and results of the stopping rule") {
    SUBCASE("f = 1 runs all levels and falls short of 1 in the 14th digit") {
        const auto result = integrate_counted([](double) { return 1.0; }, 0.0, 1.0, 1e-16);
        CHECK(result.evaluations == 385);
        CHECK(1.0 - result.value > 1e-14);
        CHECK(1.0 - result.value < 1e-13);
    }
    SUBCASE("the endpoint singularity of 1/sqrt(t) is never evaluated") {
        const auto result = integrate_counted(inverse_sqrt, 0.0, 1.0, 1e-16);
        CHECK(result.evaluations == 385);
        CHECK(result.value < 2.0);
        CHECK(result.value == doctest::Approx(2.0).epsilon(1e-6));
    }
    SUBCASE("stopping levels") {
        const struct {
            const char* name;
            Integrand f;
            double a, b, target;
            int evaluations;
            double value, epsilon;
        } cases[] = {
            {"exp, loose target: after level 3", exponential, 0.0, 1.0, 1e-6, 49, std::exp(1.0) - 1.0, 1e-12},
            // ln δ / ln δ_prev ≈ 1.98 after level 2: δ² ≈ 4e-11 passes the threshold 5e-10.
            {"1/(1+t): quadratic convergence", [](double t) { return 1.0 / (1.0 + t); }, 0.0, 1.0, 1e-9, 25,
             std::log(2.0), 1e-10},
            // ≈ 2.08 after level 4: δ ≈ 2.5e-13 is far above 5e-17, δ² is below.
            {"1/(0.05+t): quadratic convergence", [](double t) { return 1.0 / (0.05 + t); }, 0.0, 1.0, 1e-16, 97,
             std::log(21.0), 1e-12},
            // Reversed limits make the threshold negative: only an exactly zero difference stops.
            {"exp, reversed limits", exponential, 1.0, 0.0, 1e-6, 385, 1.0 - std::exp(1.0), 1e-13},
        };
        for (const auto& c : cases) {
            CAPTURE(c.name);
            const auto result = integrate_counted(c.f, c.a, c.b, c.target);
            CHECK(result.evaluations == c.evaluations);
            CHECK(result.value == doctest::Approx(c.value).epsilon(c.epsilon));
        }
    }
    SUBCASE("an exactly zero difference stops after the first test; non-finite values count as zero") {
        const struct { Integrand f; double a, b; } cases[] = {
            {[](double) { return 0.0; }, 0.0, 1.0},
            {[](double) { return 0.0; }, 1.0, 0.0},
            {[](double) { return 1.0; }, 0.5, 0.5},
            {[](double) { return std::numeric_limits<double>::quiet_NaN(); }, 0.0, 1.0},
            {[](double) { return std::numeric_limits<double>::infinity(); }, 0.0, 1.0},
            {[](double) { return -std::numeric_limits<double>::infinity(); }, 0.0, 1.0},
        };
        for (const auto& c : cases) {
            CAPTURE(c.f(0.5));
            CAPTURE(c.b);
            const auto result = integrate_counted(c.f, c.a, c.b, 1e-16);
            CHECK(result.evaluations == 25);
            CHECK(result.value == 0.0);
        }
    }
}

TEST_CASE("reversed limits give the signed integral") {
    // The node sums are symmetric in ±x, so only the sign of the half-width changes.
    CHECK(integrate(inverse_sqrt, 1.0, 0.0, 1e-16) == -integrate(inverse_sqrt, 0.0, 1.0, 1e-16));
}

TEST_CASE("the limb-darkening normalisation is reproduced to the last bit") {
    const auto profile = [](double t) { return (1.0 - std::sqrt(1.0 - t * t)) * (-0.6) + 1.0; };
    CHECK(integrate([&](double t) { return profile(t) * (6.283185307179586 * t); }, 0.0, 1.0, 1e-16) ==
          2.5132741228717936);
}

TEST_CASE("nodes are evaluated level by level, +x before -x, each once") {
    std::vector<double> arguments;
    const auto result = integrate_counted([&](double x) { return arguments.emplace_back(x), 1.0; }, -1.0, 1.0, 1e-16);
    CHECK(result.evaluations == 385);
    std::vector<double> expected{0.0};
    for (const auto level : detail::TANH_SINH_LEVELS) {
        for (const auto& node : level) {
            expected.insert(expected.end(), {node.abscissa, -node.abscissa});
        }
    }
    CHECK(arguments == expected);
}

TEST_CASE("reference entries of the node table") {
    const struct { int level, index; double weight, abscissa; } known[] = {
        {0, 0, 0.23002239451478868, 0.9513679640727469}, {0, 2, 1.3581784274539091e-12, 0.999999999999957},
        {1, 0, 0.4829882897061506, 0.6742714922484359}, {6, 95, 3.411862828005251e-14, 0.9999999999999298}};
    for (const auto& entry : known) {
        CHECK(detail::TANH_SINH_LEVELS[entry.level][entry.index].weight == entry.weight);
        CHECK(detail::TANH_SINH_LEVELS[entry.level][entry.index].abscissa == entry.abscissa);
    }
}

TEST_CASE("a batch integrand gets the centre, then each level's new nodes in one call, and the same sums") {
    std::vector<std::size_t> call_sizes;
    std::vector<double> arguments;
    const auto batch = [&](std::span<const double> points, std::span<double> values) {
        call_sizes.push_back(points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            arguments.push_back(points[i]);
            values[i] = std::exp(points[i]);
        }
    };
    // [0, 1] with a target that stops after level 3, and [-1, 1] to the last level.
    const auto stopped = caldrith::double_exponential::integrate_batch_counted(batch, 0.0, 1.0, 1e-6);
    CHECK(stopped.evaluations == 49);
    CHECK(call_sizes == std::vector<std::size_t>{1, 6, 6, 12, 24});
    CHECK(stopped.value == doctest::Approx(std::exp(1.0) - 1.0).epsilon(1e-9));

    call_sizes.clear();
    arguments.clear();
    const auto full = caldrith::double_exponential::integrate_batch_counted(
        [&](std::span<const double> points, std::span<double> values) {
            batch(points, values);
            for (double& value : values) value = 1.0;
        },
        -1.0, 1.0, 1e-16);
    CHECK(full.evaluations == 385);
    CHECK(call_sizes == std::vector<std::size_t>{1, 6, 6, 12, 24, 48, 96, 192});
    std::vector<double> expected{0.0};
    for (const auto level : detail::TANH_SINH_LEVELS) {
        for (const auto& node : level) {
            expected.insert(expected.end(), {node.abscissa, -node.abscissa});
        }
    }
    CHECK(arguments == expected);
    CHECK(full.value == doctest::Approx(2.0).epsilon(1e-13));
}
