#include <doctest/doctest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "kernels/derivative.hpp"

using caldrith::cbrt_eps;
using caldrith::sderivative;

TEST_CASE("CBRT_EPS is the run-time cube root of 2^-52") {
    volatile double epsilon = 0x1p-52;
    CHECK(cbrt_eps() == std::cbrt(epsilon));
}

TEST_CASE("the step grows with |x|, f is evaluated at x + dx first, nothing is clamped") {
    const double s = cbrt_eps();
    const std::pair<double, double> cases[] = {{0.0, s}, {-3.0, 4.0 * s}, {3.0, 4.0 * s}, {1e6, 1000001.0 * s}};
    for (const auto& [x, dx] : cases) {
        CAPTURE(x);
        std::vector<double> points;
        sderivative([&](double t) { return points.emplace_back(t); }, x);
        CHECK(points == std::vector{x + dx, x - dx});
    }
}

TEST_CASE("derivatives of polynomials") {
    CHECK(sderivative([](double t) { return t * t; }, 1.0) == doctest::Approx(2.0).epsilon(1e-10));
    for (const double x : {0.0, -3.0, 0.25, 1e-300, 1e8}) {
        for (const double slope : {1.0, -2.5, 1e-3}) {
            CAPTURE(x);
            CAPTURE(slope);
            CHECK(sderivative([slope](double t) { return slope * t + 7.0; }, x) ==
                  doctest::Approx(slope).epsilon(1e-9));
        }
    }
}

TEST_CASE("NaN from either evaluation propagates") {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    CHECK(std::isnan(sderivative([&](double t) { return t > 1.0 ? nan : t; }, 1.0)));
    CHECK(std::isnan(sderivative([&](double t) { return t < 1.0 ? nan : t; }, 1.0)));
    CHECK(std::isnan(sderivative([](double t) { return t; }, nan)));
}
