#include <doctest/doctest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernels/interp.hpp"

using caldrith::interp;
using caldrith::PiecewiseLinear;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double OUTSIDE = -99.0;  // distinct from every interpolated value below

double at(std::vector<double> x, std::vector<double> y, double xp) { return interp(x, y, xp, OUTSIDE); }

// m x + c of the segment from (x0, y0) to (x1, y1), formed independently.
double on_segment(double x0, double y0, double x1, double y1, double xp) {
    const double m = (y1 - y0) / (x1 - x0);
    const double c = y0 - x0 * m;
    return m * xp + c;
}

}  // namespace

TEST_CASE("fewer than two usable samples") {
    for (const double xp : {0.0, -1e300, 1e300, NaN}) {
        CAPTURE(xp);
        CHECK(at({}, {}, xp) == 0.0);
        CHECK(at({1.0, 2.0}, {}, xp) == 0.0);
        CHECK(at({}, {1.0, 2.0}, xp) == 0.0);
        CHECK(at({0.5}, {3.0}, xp) == 3.0);
        CHECK(at({0.5, 0.7}, {3.0}, xp) == 3.0);
    }
}

TEST_CASE("ends exact, interior linear, outside elsewhere, NaN through") {
    const struct { const char* name; std::vector<double> x, y; double xp, expected; } cases[] = {
        {"interior", {0.0, 1.0}, {2.0, 4.0}, 0.5, 3.0},
        {"first end", {0.0, 1.0}, {2.0, 4.0}, 0.0, 2.0},
        {"last end", {0.0, 1.0}, {2.0, 4.0}, 1.0, 4.0},
        {"below", {0.0, 1.0}, {2.0, 4.0}, -0.1, OUTSIDE},
        {"above", {0.0, 1.0}, {2.0, 4.0}, 1.1, OUTSIDE},
        {"+inf", {0.0, 1.0}, {2.0, 4.0}, INF, OUTSIDE},
        {"-inf", {0.0, 1.0}, {2.0, 4.0}, -INF, OUTSIDE},
        {"NaN", {0.0, 1.0}, {2.0, 4.0}, NaN, NaN},
        {"common prefix: beyond it", {0.0, 1.0, 2.0}, {5.0, 7.0}, 1.5, OUTSIDE},
        {"common prefix: inside it", {0.0, 1.0, 2.0}, {5.0, 7.0}, 0.5, 6.0},
        {"common prefix: its end", {0.0, 1.0}, {5.0, 7.0, 9.0}, 1.0, 7.0},
        {"common prefix: beyond its end", {0.0, 1.0}, {5.0, 7.0, 9.0}, 1.5, OUTSIDE},
        // With the first three abscissas alone, 0.5 lies on segment 0 (value 5); the
        // bisection over all six lands on segment 1, from (1, 10) to (2, 0).
        {"the search runs over all abscissas", {0.0, 1.0, 2.0, -1.0, 1.5, 5.0}, {0.0, 10.0, 0.0}, 0.5, 15.0},
        {"a repeated abscissa: left segment", {0.0, 0.5, 0.5, 1.0}, {0.0, 1.0, 3.0, 4.0}, 0.5,
         on_segment(0.0, 0.0, 0.5, 1.0, 0.5)},
        {"a repeated abscissa: right segment", {0.0, 0.5, 0.5, 1.0}, {0.0, 1.0, 3.0, 4.0}, 0.7,
         on_segment(0.5, 3.0, 1.0, 4.0, 0.7)},
        // An interior sample comes from the left segment's m x + c, which rounds away from 3.3.
        {"interior sample", {0.1, 0.7, 1.3}, {2.9, 3.3, 8.0}, 0.7, on_segment(0.1, 2.9, 0.7, 3.3, 0.7)},
    };
    REQUIRE(on_segment(0.1, 2.9, 0.7, 3.3, 0.7) != 3.3);
    for (const auto& c : cases) {
        CAPTURE(c.name);
        const double value = at(c.x, c.y, c.xp);
        CHECK((value == c.expected || (std::isnan(value) && std::isnan(c.expected))));
    }
}

TEST_CASE("prepared form, interp and an independent linear scan agree bit for bit") {
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> uniform(-1.0, 2.0);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<double> x(2 + trial % 9);
        std::vector<double> y(x.size());
        for (std::size_t k = 0; k < x.size(); ++k) {
            x[k] = uniform(random);
            y[k] = uniform(random);
        }
        std::sort(x.begin(), x.end());
        const PiecewiseLinear prepared(x, y);
        std::vector<double> queries{uniform(random), uniform(random)};
        for (std::size_t k = 0; k + 1 < x.size(); ++k) {
            queries.insert(queries.end(), {x[k], (x[k] + x[k + 1]) * 0.5});
        }
        for (const double xp : queries) {
            std::size_t right = 1;
            while (right + 1 < x.size() && x[right] < xp) {
                ++right;
            }
            double expected = on_segment(x[right - 1], y[right - 1], x[right], y[right], xp);
            if (xp < x.front() || xp > x.back()) {
                expected = OUTSIDE;
            } else if (xp == x.front()) {
                expected = y.front();
            } else if (xp == x.back()) {
                expected = y.back();
            }
            CAPTURE(xp);
            CHECK(prepared(xp, OUTSIDE) == expected);
            CHECK(interp(x, y, xp, OUTSIDE) == expected);
        }
    }
}
