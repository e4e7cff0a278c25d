// Elliptic integrals: special values, every error message, the two paths
// that would otherwise never end, and accuracy against mpmath
// (tests/data/elliptic_reference.txt, from tools/generate_elliptic_reference.py).
#include <doctest/doctest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
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

std::string error_of(const Outcome<double>& outcome) {
    return outcome ? std::string("(value)") : std::string(outcome.error());
}

double value_of(const Outcome<double>& outcome) {
    REQUIRE_MESSAGE(outcome.has_value(), error_of(outcome));
    return *outcome;
}

// Distance in units of the last place of `expected`.
double ulps(double got, double expected) {
    const double ulp = std::ldexp(1.0, std::ilogb(expected) - 52);
    return std::fabs(got - expected) / ulp;
}

struct ErrorCase {
    double argument;
    const char* message;
};

}  // namespace

TEST_CASE("ellipk: special values and errors") {
    CHECK(ulps(value_of(ellipk(0.0)), HALF_PI) <= 1.0);
    CHECK(value_of(ellipk(-0.0)) == value_of(ellipk(0.0)));
    CHECK(value_of(ellipk(1.0)) == INF);
    CHECK(value_of(ellipk(-INF)) == 0.0);

    const ErrorCase errors[] = {
        {1.5, "ellipk: m must not be greater than 1."},
        {1.0000000000000002, "ellipk: m must not be greater than 1."},
        {1e300, "ellipk: m must not be greater than 1."},
        {INF, "ellipk: m must not be greater than 1."},
        {QUIET_NAN, "ellipk: Arguments cannot be NAN."},
        {-1e18, "ellipk: Unexpected error."},
        {-std::numeric_limits<double>::max(), "ellipk: Unexpected error."},
    };
    for (const ErrorCase& c : errors) {
        CAPTURE(c.argument);
        CHECK(error_of(ellipk(c.argument)) == c.message);
    }
    // The lowest argument with a value has 20 m = -2^63 exactly; the next
    // double below is out of the index range.
    const double lowest = -0x1p63 / 20.0;
    CHECK(value_of(ellipk(lowest)) > 0.0);
    CHECK(error_of(ellipk(std::nextafter(lowest, -INF))) == "ellipk: Unexpected error.");
}

TEST_CASE("ellipe: special values and errors") {
    CHECK(value_of(ellipe(1.0)) == 1.0);
    CHECK(value_of(ellipe(-INF)) == INF);
    CHECK(ulps(value_of(ellipe(0.0)), HALF_PI) <= 1.0);
    // e = -3 / -4 = 0.75 and sqrt(1 + 3) = 2, both exact.
    CHECK(value_of(ellipe(-3.0)) == 2.0 * value_of(ellipe(0.75)));
    // The most negative finite m maps onto e = 1: E = sqrt(1 - m).
    const double lowest = -std::numeric_limits<double>::max();
    CHECK(value_of(ellipe(lowest)) == std::sqrt(1.0 - lowest));

    const ErrorCase errors[] = {
        {2.0, "ellipe: m must not be greater than 1."},
        {1.0000000000000002, "ellipe: m must not be greater than 1."},
        {INF, "ellipe: m must not be greater than 1."},
        {QUIET_NAN, "ellipe: Arguments cannot be NAN."},
    };
    for (const ErrorCase& c : errors) {
        CAPTURE(c.argument);
        CHECK(error_of(ellipe(c.argument)) == c.message);
    }
}

TEST_CASE("ellippi: branches, special values and errors") {
    CHECK(value_of(ellippi(0.0, 0.0)) == HALF_PI);

    SUBCASE("n = 0 is K(m) and n = m is E(m) / (1 - m)") {
        for (const double m : {-5.0, -0.01, 0.3, 0.95, 0.9999999999999998}) {
            CAPTURE(m);
            CHECK(value_of(ellippi(0.0, m)) == value_of(ellipk(m)));
            if (m > 0.0) {
                CHECK(value_of(ellippi(m, m)) == (1.0 / (1.0 - m)) * value_of(ellipe(m)));
            }
        }
    }
    SUBCASE("n = 1 is an error for every m") {
        for (const double m : {-1.0, 0.0, 0.5, 1.0, 2.0, INF, QUIET_NAN}) {
            CAPTURE(m);
            CHECK(error_of(ellippi(1.0, m)) == "ellippi: n cannot be 1.");
        }
    }
    SUBCASE("infinite values") {
        for (const double m : {-1.0, 0.5, 2.0, QUIET_NAN}) {
            CAPTURE(m);
            CHECK(value_of(ellippi(0.9999999999999999, m)) == INF);
        }
        CHECK(value_of(ellippi(0.5, 1.0)) == INF);
        CHECK(value_of(ellippi(-0.5, 1.0)) == INF);  // h = -inf, then the sign of 1 - n
        CHECK(value_of(ellippi(0.0, 1.0)) == INF);
        CHECK(value_of(ellippi(-0.5, 0.99999999999999989)) == INF);  // 1 - m = 2^-53
        CHECK(value_of(ellippi(-1e308, 1.0)) == INF);
    }
    SUBCASE("principal value for n > 1") {
        const double at_zero = value_of(ellippi(2.0, 0.0));
        CHECK(at_zero == 0.0);
        CHECK(std::signbit(at_zero));
        // Returned without checks: NaN for m > 1 is a value, not an error.
        CHECK(std::isnan(value_of(ellippi(3.0, 2.0))));
    }
    SUBCASE("n = 1 + 2^-52 passes on the errors of ellipk") {
        const double n = 1.0000000000000002;
        CHECK(error_of(ellippi(n, 1.5)) == "ellipk: m must not be greater than 1.");
        CHECK(error_of(ellippi(n, QUIET_NAN)) == "ellipk: Arguments cannot be NAN.");
        CHECK(error_of(ellippi(n, -1e18)) == "ellipk: Unexpected error.");
        const double m = 0.5;
        CHECK(value_of(ellippi(n, m)) ==
              value_of(ellipk(m)) - value_of(ellipe(m)) / (1.0 - m));
    }
    SUBCASE("non-finite results") {
        const std::pair<std::pair<double, double>, const char*> errors[] = {
            {{QUIET_NAN, 0.5}, "ellippi: Arguments cannot be NAN."},
            {{0.5, QUIET_NAN}, "ellippi: Arguments cannot be NAN."},
            {{-0.5, QUIET_NAN}, "ellippi: Arguments cannot be NAN."},
            {{QUIET_NAN, QUIET_NAN}, "ellippi: Arguments cannot be NAN."},
            {{0.5, 1.5}, "ellippi: m must not be greater than 1."},
            {{-2.0, INF}, "ellippi: m must not be greater than 1."},
            {{-1e300, 0.5}, "ellippi: Unexpected error."},
            {{-1e200, -1e300}, "ellippi: Unexpected error."},
            // n = m < 0: the transformation divides by m - n = 0.
            {{-0.5, -0.5}, "ellippi: Unexpected error."},
        };
        for (const auto& [arguments, message] : errors) {
            CAPTURE(arguments.first);
            CAPTURE(arguments.second);
            CHECK(error_of(ellippi(arguments.first, arguments.second)) == message);
        }
        // Below minus one hundredth of the largest double the limit 0 is returned.
        CHECK(value_of(ellippi(-1e308, 0.5)) == 0.0);
        CHECK(value_of(ellippi(-1e200, -1e308)) == 0.0);
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
    SUBCASE("RD(0, 0, z): the AGM series with one zero member") {
        for (const double z : {1.0, 1e-300, 1e300, 0x1p-1074}) {
            CAPTURE(z);
            CHECK(std::isnan(elliprd(0.0, 0.0, z)));
            CHECK(std::isnan(elliprd(-0.0, 0.0, z)));
        }
    }
    SUBCASE("RJ principal value that recurses into itself") {
        CHECK(std::isnan(elliprj(0.0, -1.0, 1.0, 0.0)));
        CHECK(std::isnan(elliprj(-2.0, 0.0, 1.0, -0.5)));
        CHECK(std::isnan(elliprj(0.0, 0.0, 1.0, 0.0)));  // maps onto itself
        CHECK(std::isnan(value_of(ellippi(2.0, 2.0))));
        CHECK(std::isnan(value_of(ellippi(2.0, 3.0))));
    }
    SUBCASE("a principal value one level deep is untouched") {
        CHECK(std::isfinite(elliprj(1.0, 2.0, 3.0, -1.0)));
    }
}

namespace {

struct Reference {
    std::string function;
    std::string region;
    std::vector<double> arguments;
    long double value;
};

std::vector<Reference> read_references() {
    std::ifstream file(CALDRITH_TEST_DATA_DIR "/elliptic_reference.txt");
    REQUIRE(file.good());
    std::vector<Reference> references;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        Reference reference;
        std::vector<std::string> numbers;
        fields >> reference.function >> reference.region;
        for (std::string token; fields >> token;) {
            numbers.push_back(token);
        }
        REQUIRE(numbers.size() >= 2);
        reference.value = std::strtold(numbers.back().c_str(), nullptr);
        numbers.pop_back();
        for (const std::string& number : numbers) {
            reference.arguments.push_back(std::strtod(number.c_str(), nullptr));
        }
        references.push_back(std::move(reference));
    }
    return references;
}

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

// Error in ulps of the reference (held to more than double precision).
double error_in_ulps(double got, long double expected) {
    const long double ulp = std::ldexp(1.0L, std::ilogb(static_cast<double>(expected)) - 52);
    return static_cast<double>(std::fabs(static_cast<long double>(got) - expected) / ulp);
}

}  // namespace

TEST_CASE("accuracy against mpmath") {
    // Bounds on the largest error of each branch, in ulps, a little above
    // the measured maxima; the large ones belong to the formulas, not to
    // rounding in the kernel.
    const std::map<std::pair<std::string, std::string>, double> bounds = {
        {{"ellipk", "poly"}, 2.5},
        {{"ellipk", "poly-below-0"}, 320.0},  // first polynomial beyond its interval
        {{"ellipk", "agm"}, 3.0},
        {{"ellipk", "negative"}, 3.0},
        {{"ellipe", "poly"}, 2.5},
        {{"ellipe", "agm"}, 6.0},
        {{"ellipe", "negative"}, 10.0},  // rounding of m / (m - 1)
        {{"ellippi", "n<0"}, 6.0},
        {{"ellippi", "0<n<1"}, 4.0},
        {{"ellippi", "n=m"}, 4.0},
        {{"ellippi", "n>1"}, 20.0},
        {{"ellippi", "n>1-near-m"}, 4e5},  // rounding of 1 - m/n
        {{"elliprf", "duplication"}, 3.0},
        {{"elliprf", "agm"}, 2.0},
        {{"elliprf", "rc"}, 2.0},
        {{"elliprd", "duplication"}, 4.0},
        {{"elliprd", "agm"}, 9.0},
        {{"elliprj", "duplication"}, 6.0},
        {{"elliprj", "equal"}, 20.0},  // closed forms that cancel for p near x
        {{"elliprj", "pv"}, 6.0},
    };
    std::map<std::pair<std::string, std::string>, std::pair<double, int>> worst;
    const std::vector<Reference> references = read_references();
    REQUIRE(references.size() > 2000);
    for (const Reference& reference : references) {
        const double error =
            error_in_ulps(evaluate(reference.function, reference.arguments), reference.value);
        auto& [largest, count] = worst[{reference.function, reference.region}];
        ++count;
        if (!std::isnan(largest) && !(error <= largest)) {
            largest = error;  // a NaN result sticks
        }
    }
    for (const auto& [key, result] : worst) {
        const auto& [largest, count] = result;
        MESSAGE(key.first << " " << key.second << ": max error " << largest << " ulp over " << count
                          << " arguments");
        REQUIRE(bounds.count(key) == 1);
        CHECK(largest <= bounds.at(key));
    }
    CHECK(worst.size() == bounds.size());
}
