// Elliptic integrals: special values, every error message, the two paths
// that would otherwise never end, and accuracy against mpmath
// (tests/data/elliptic_reference.txt, from tools/generate_elliptic_reference.py).
#include <doctest/doctest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kernels/elliptic.hpp"

using caldrith::ellipe;
using caldrith::ellipk;
using caldrith::ellippi;
using caldrith::elliprd;
using caldrith::elliprf;
using caldrith::elliprj;
using caldrith::Outcome;

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double QUIET_NAN = std::numeric_limits<double>::quiet_NaN();
constexpr double HALF_PI = 1.5707963267948966;
constexpr double LARGEST = std::numeric_limits<double>::max();
constexpr const char* PI_NAN = "ellippi: Arguments cannot be NAN.";
constexpr const char* PI_UNEXPECTED = "ellippi: Unexpected error.";

std::string error_of(const Outcome<double>& outcome) {
    return outcome ? std::string("(value)") : std::string(outcome.error());
}

double value_of(const Outcome<double>& outcome) {
    REQUIRE_MESSAGE(outcome.has_value(), error_of(outcome));
    return *outcome;
}

// Distance in units of the last place of `expected`, which may be held to more than double precision.
double ulps(double got, long double expected) {
    const long double ulp = std::ldexp(1.0L, std::ilogb(static_cast<double>(expected)) - 52);
    return static_cast<double>(std::fabs(static_cast<long double>(got) - expected) / ulp);
}

}  // namespace

TEST_CASE("ellipk and ellipe: special values and errors") {
    CHECK(ulps(value_of(ellipk(0.0)), HALF_PI) <= 1.0);
    CHECK(value_of(ellipk(-0.0)) == value_of(ellipk(0.0)));
    CHECK(value_of(ellipk(1.0)) == INF);
    CHECK(value_of(ellipk(-INF)) == 0.0);
    // The lowest argument with a value has 20 m = -2^63 exactly; the next
    // double below is out of the index range.
    const double lowest = -0x1p63 / 20.0;
    CHECK(value_of(ellipk(lowest)) > 0.0);
    for (const double m : {std::nextafter(lowest, -INF), -1e18, -LARGEST}) {
        CAPTURE(m);
        CHECK(error_of(ellipk(m)) == "ellipk: Unexpected error.");
    }

    CHECK(value_of(ellipe(1.0)) == 1.0);
    CHECK(value_of(ellipe(-INF)) == INF);
    CHECK(ulps(value_of(ellipe(0.0)), HALF_PI) <= 1.0);
    // e = -3 / -4 = 0.75 and sqrt(1 + 3) = 2, both exact.
    CHECK(value_of(ellipe(-3.0)) == 2.0 * value_of(ellipe(0.75)));
    // The most negative finite m maps onto e = 1: E = sqrt(1 - m).
    CHECK(value_of(ellipe(-LARGEST)) == std::sqrt(1.0 + LARGEST));

    for (const double m : {1.0000000000000002, 1.5, 2.0, 1e300, INF}) {
        CAPTURE(m);
        CHECK(error_of(ellipk(m)) == "ellipk: m must not be greater than 1.");
        CHECK(error_of(ellipe(m)) == "ellipe: m must not be greater than 1.");
    }
    CHECK(error_of(ellipk(QUIET_NAN)) == "ellipk: Arguments cannot be NAN.");
    CHECK(error_of(ellipe(QUIET_NAN)) == "ellipe: Arguments cannot be NAN.");
}

TEST_CASE("ellippi: branches, special values and errors") {
    SUBCASE("n = 0 is K(m), n = m is E(m) / (1 - m), n = 1 + 2^-52 is K(m) - E(m) / (1 - m)") {
        for (const double m : {-5.0, -0.01, 0.0, 0.3, 0.95, 0.9999999999999998}) {
            CAPTURE(m);
            CHECK(value_of(ellippi(0.0, m)) == value_of(ellipk(m)));
            if (m > 0.0) {
                CHECK(value_of(ellippi(m, m)) == (1.0 / (1.0 - m)) * value_of(ellipe(m)));
            }
        }
        CHECK(value_of(ellippi(0.0, 0.0)) == HALF_PI);
        CHECK(value_of(ellippi(1.0000000000000002, 0.5)) == value_of(ellipk(0.5)) - value_of(ellipe(0.5)) / 0.5);
    }
    SUBCASE("exact values") {
        const struct { double n, m, value; } cases[] = {
            {0.9999999999999999, -1.0, INF}, {0.9999999999999999, 0.5, INF},
            {0.9999999999999999, 2.0, INF}, {0.9999999999999999, QUIET_NAN, INF},
            {0.5, 1.0, INF}, {0.0, 1.0, INF}, {-1e308, 1.0, INF},
            {-0.5, 1.0, INF},                  // h = -inf, then the sign of 1 - n
            {-0.5, 0.99999999999999989, INF},  // 1 - m = 2^-53
            // Below minus one hundredth of the largest double the limit 0 is returned.
            {-1e308, 0.5, 0.0}, {-1e200, -1e308, 0.0},
        };
        for (const auto& c : cases) {
            CAPTURE(c.n);
            CAPTURE(c.m);
            CHECK(value_of(ellippi(c.n, c.m)) == c.value);
        }
        // The principal value for n > 1: -0 at m = 0, and NaN for m > 1 is a value, not an error.
        CHECK(std::signbit(value_of(ellippi(2.0, 0.0))));
        CHECK(value_of(ellippi(2.0, 0.0)) == 0.0);
        CHECK(std::isnan(value_of(ellippi(3.0, 2.0))));
    }
    SUBCASE("errors") {
        for (const double m : {-1.0, 0.0, 0.5, 1.0, 2.0, INF, QUIET_NAN}) {
            CAPTURE(m);
            CHECK(error_of(ellippi(1.0, m)) == "ellippi: n cannot be 1.");
        }
        const struct { double n, m; const char* message; } errors[] = {
            {QUIET_NAN, 0.5, PI_NAN}, {0.5, QUIET_NAN, PI_NAN}, {-0.5, QUIET_NAN, PI_NAN},
            {QUIET_NAN, QUIET_NAN, PI_NAN}, {-1e300, 0.5, PI_UNEXPECTED}, {-1e200, -1e300, PI_UNEXPECTED},
            {0.5, 1.5, "ellippi: m must not be greater than 1."}, {-2.0, INF, "ellippi: m must not be greater than 1."},
            {-0.5, -0.5, PI_UNEXPECTED},  // n = m < 0: the transformation divides by m - n = 0
            // Just above 1 the errors of ellipk are passed on.
            {1.0000000000000002, 1.5, "ellipk: m must not be greater than 1."},
            {1.0000000000000002, QUIET_NAN, "ellipk: Arguments cannot be NAN."},
            {1.0000000000000002, -1e18, "ellipk: Unexpected error."},
        };
        for (const auto& c : errors) {
            CAPTURE(c.n);
            CAPTURE(c.m);
            CHECK(error_of(ellippi(c.n, c.m)) == c.message);
        }
    }
}

TEST_CASE("Carlson integrals: closed-form cases") {
    CHECK(elliprf(0.0, 1.0, 1.0) == HALF_PI);
    CHECK(elliprf(0.0, 0.0, 1.0) == INF);
    CHECK(elliprf(4.0, 4.0, 4.0) == 0.5);
    for (const double x : {0.25, 1.0, 3.0, 1e10}) {
        CAPTURE(x);
        const double expected = 1.0 / (std::sqrt(x) * x);
        CHECK(elliprd(x, x, x) == expected);
        CHECK(elliprj(x, x, x, x) == expected);
    }
    // RD(0, y, y) = 3π / (4 y^(3/2)).
    CHECK(ulps(elliprd(0.0, 4.0, 4.0), 3.0 * 3.141592653589793 / 32.0) <= 1.0);
    // Arguments outside the domain propagate NaN instead of failing.
    CHECK(std::isnan(elliprf(-1.0, 2.0, 3.0)));
    CHECK(std::isnan(elliprf(QUIET_NAN, 2.0, 3.0)));
    CHECK(std::isnan(elliprd(1.0, QUIET_NAN, 3.0)));
    CHECK(std::isnan(elliprj(1.0, 2.0, 3.0, QUIET_NAN)));
}

TEST_CASE("paths without an end in the plain algorithm return NaN") {
    // RD(0, 0, z): the AGM series with one zero member.
    for (const double z : {1.0, 1e-300, 1e300, 0x1p-1074}) {
        CAPTURE(z);
        CHECK(std::isnan(elliprd(0.0, 0.0, z)));
        CHECK(std::isnan(elliprd(-0.0, 0.0, z)));
    }
    // RJ principal values that recurse into themselves (the third maps onto itself).
    CHECK(std::isnan(elliprj(0.0, -1.0, 1.0, 0.0)));
    CHECK(std::isnan(elliprj(-2.0, 0.0, 1.0, -0.5)));
    CHECK(std::isnan(elliprj(0.0, 0.0, 1.0, 0.0)));
    CHECK(std::isnan(value_of(ellippi(2.0, 2.0))));
    CHECK(std::isnan(value_of(ellippi(2.0, 3.0))));
    // A principal value one level deep is untouched.
    CHECK(std::isfinite(elliprj(1.0, 2.0, 3.0, -1.0)));
}

namespace {

// The value of `function` at `a`; NaN for an error.
double evaluate(const std::string& function, const std::vector<double>& a) {
    const auto or_nan = [](const Outcome<double>& outcome) { return outcome ? *outcome : QUIET_NAN; };
    if (function == "ellipk") return or_nan(ellipk(a.at(0)));
    if (function == "ellipe") return or_nan(ellipe(a.at(0)));
    if (function == "ellippi") return or_nan(ellippi(a.at(0), a.at(1)));
    if (function == "elliprf") return elliprf(a.at(0), a.at(1), a.at(2));
    if (function == "elliprd") return elliprd(a.at(0), a.at(1), a.at(2));
    if (function == "elliprj") return elliprj(a.at(0), a.at(1), a.at(2), a.at(3));
    FAIL("unknown function " << function);
    return QUIET_NAN;
}

}  // namespace

TEST_CASE("accuracy against mpmath") {
    // Bounds on the largest error of each branch, in ulps, a little above
    // the measured maxima; the large ones belong to the formulas, not to
    // rounding in the kernel.
    const std::map<std::pair<std::string, std::string>, double> bounds = {
        {{"ellipk", "poly"}, 2.5}, {{"ellipk", "agm"}, 3.0}, {{"ellipk", "negative"}, 3.0},
        {{"ellipk", "poly-below-0"}, 320.0},  // first polynomial beyond its interval
        {{"ellipe", "poly"}, 2.5}, {{"ellipe", "agm"}, 6.0},
        {{"ellipe", "negative"}, 10.0},  // rounding of m / (m - 1)
        {{"ellippi", "n<0"}, 6.0}, {{"ellippi", "0<n<1"}, 4.0}, {{"ellippi", "n=m"}, 4.0}, {{"ellippi", "n>1"}, 20.0},
        {{"ellippi", "n>1-near-m"}, 4e5},  // rounding of 1 - m/n
        {{"elliprf", "duplication"}, 3.0}, {{"elliprf", "agm"}, 2.0}, {{"elliprf", "rc"}, 2.0},
        {{"elliprd", "duplication"}, 4.0}, {{"elliprd", "agm"}, 9.0},
        {{"elliprj", "duplication"}, 6.0}, {{"elliprj", "pv"}, 6.0},
        {{"elliprj", "equal"}, 20.0},  // closed forms that cancel for p near x
    };
    // Lines "<function> <region> <argument>... <value>": arguments are read
    // straight to double, the value to long double.
    std::ifstream file(CALDRITH_TEST_DATA_DIR "/elliptic_reference.txt");
    REQUIRE(file.good());
    std::map<std::pair<std::string, std::string>, std::pair<double, int>> worst;
    int references = 0;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string function, region;
        fields >> function >> region;
        std::vector<std::string> numbers{std::istream_iterator<std::string>(fields), {}};
        REQUIRE(numbers.size() >= 2);
        std::vector<double> arguments;
        for (std::size_t k = 0; k + 1 < numbers.size(); ++k) {
            arguments.push_back(std::strtod(numbers[k].c_str(), nullptr));
        }
        const double error = ulps(evaluate(function, arguments), std::strtold(numbers.back().c_str(), nullptr));
        auto& [largest, count] = worst[{function, region}];
        ++count;
        ++references;
        if (!std::isnan(largest) && !(error <= largest)) {
            largest = error;  // a NaN result sticks
        }
    }
    REQUIRE(references > 2000);
    for (const auto& [key, result] : worst) {
        const auto& [largest, count] = result;
        MESSAGE(key.first << " " << key.second << ": max error " << largest << " ulp over " << count
                          << " arguments");
        REQUIRE(bounds.count(key) == 1);
        CHECK(largest <= bounds.at(key));
    }
    CHECK(worst.size() == bounds.size());
}
