#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernels/double_exponential.hpp"

using caldrith::double_exponential::integrate;
using caldrith::double_exponential::integrate_counted;
namespace detail = caldrith::double_exponential::detail;

TEST_CASE("evaluation counts and results of the stopping rule") {
    const auto one = [](double) { return 1.0; };
    const auto zero = [](double) { return 0.0; };

    SUBCASE("f = 1 runs all levels and falls short of 1 in the 14th digit") {
        const auto result = integrate_counted(one, 0.0, 1.0, 1e-16);
        CHECK(result.evaluations == 385);
        CHECK(1.0 - result.value > 1e-14);
        CHECK(1.0 - result.value < 1e-13);
    }
    SUBCASE("exp with a loose target stops after level 3") {
        const auto result = integrate_counted([](double t) { return std::exp(t); }, 0.0, 1.0, 1e-6);
        CHECK(result.evaluations == 49);
        CHECK(result.value == doctest::Approx(std::exp(1.0) - 1.0).epsilon(1e-12));
    }
    SUBCASE("quadratic convergence ends the integration early") {
        // ln δ / ln δ_prev ≈ 1.98 after level 2: δ² ≈ 4e-11 passes the threshold 5e-10.
        const auto coarse = integrate_counted([](double t) { return 1.0 / (1.0 + t); }, 0.0, 1.0, 1e-9);
        CHECK(coarse.evaluations == 25);
        CHECK(coarse.value == doctest::Approx(std::log(2.0)).epsilon(1e-10));
        // ≈ 2.08 after level 4: δ ≈ 2.5e-13 is far above 5e-17, δ² is below.
        const auto fine = integrate_counted([](double t) { return 1.0 / (0.05 + t); }, 0.0, 1.0, 1e-16);
        CHECK(fine.evaluations == 97);
        CHECK(fine.value == doctest::Approx(std::log(21.0)).epsilon(1e-12));
    }
    SUBCASE("an exactly zero difference stops after the first test") {
        const auto result = integrate_counted(zero, 0.0, 1.0, 1e-16);
        CHECK(result.evaluations == 25);
        CHECK(result.value == 0.0);
    }
    SUBCASE("non-finite values count as zero") {
        for (const double bad : {std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity()}) {
            CAPTURE(bad);
            const auto result = integrate_counted([bad](double) { return bad; }, 0.0, 1.0, 1e-16);
            CHECK(result.evaluations == 25);
            CHECK(result.value == 0.0);
        }
    }
    SUBCASE("an empty interval") {
        const auto result = integrate_counted(one, 0.5, 0.5, 1e-16);
        CHECK(result.evaluations == 25);
        CHECK(result.value == 0.0);
    }
    SUBCASE("the endpoint singularity of 1/sqrt(t) is never evaluated") {
        const auto result = integrate_counted([](double t) { return 1.0 / std::sqrt(t); }, 0.0, 1.0, 1e-16);
        CHECK(result.evaluations == 385);
        CHECK(result.value < 2.0);
        CHECK(result.value == doctest::Approx(2.0).epsilon(1e-6));
    }
}

TEST_CASE("reversed limits give the signed integral and never stop early") {
    const auto inverse_sqrt = [](double t) { return 1.0 / std::sqrt(t); };
    // The node sums are symmetric in ±x, so only the sign of the half-width changes.
    CHECK(integrate(inverse_sqrt, 1.0, 0.0, 1e-16) == -integrate(inverse_sqrt, 0.0, 1.0, 1e-16));

    const auto result = integrate_counted([](double t) { return std::exp(t); }, 1.0, 0.0, 1e-6);
    CHECK(result.evaluations == 385);
    CHECK(result.value == doctest::Approx(1.0 - std::exp(1.0)).epsilon(1e-13));

    // The threshold is negative: only an exactly zero difference stops.
    const auto zero = integrate_counted([](double) { return 0.0; }, 1.0, 0.0, 1e-16);
    CHECK(zero.evaluations == 25);
    CHECK(zero.value == 0.0);
}

TEST_CASE("the limb-darkening normalisation is reproduced to the last bit") {
    const auto profile = [](double t) { return (1.0 - std::sqrt(1.0 - t * t)) * (-0.6) + 1.0; };
    const double norm = integrate([&](double t) { return profile(t) * (6.283185307179586 * t); }, 0.0, 1.0, 1e-16);
    CHECK(norm == 2.5132741228717936);
}

TEST_CASE("nodes are evaluated level by level, +x before -x, each once") {
    std::vector<double> arguments;
    const auto result = integrate_counted(
        [&](double x) {
            arguments.push_back(x);
            return 1.0;
        },
        -1.0, 1.0, 1e-16);
    REQUIRE(result.evaluations == 385);
    REQUIRE(arguments.size() == 385);
    CHECK(arguments[0] == 0.0);
    std::size_t next = 1;
    for (const auto level : detail::TANH_SINH_LEVELS) {
        for (const auto& node : level) {
            CHECK(arguments[next] == node.abscissa);
            CHECK(arguments[next + 1] == -node.abscissa);
            next += 2;
        }
    }
    CHECK(next == arguments.size());
}

TEST_CASE("reference entries of the node table") {
    // (level, index in level, weight, abscissa)
    const struct {
        int level;
        int index;
        double weight;
        double abscissa;
    } known[] = {{0, 0, 0.23002239451478868, 0.9513679640727469},
                 {0, 2, 1.3581784274539091e-12, 0.999999999999957},
                 {1, 0, 0.4829882897061506, 0.6742714922484359},
                 {6, 95, 3.411862828005251e-14, 0.9999999999999298}};
    for (const auto& entry : known) {
        CHECK(detail::TANH_SINH_LEVELS[entry.level][entry.index].weight == entry.weight);
        CHECK(detail::TANH_SINH_LEVELS[entry.level][entry.index].abscissa == entry.abscissa);
    }
}
