// Complete elliptic integrals K(m), E(m), Π(n, m) and the Carlson symmetric
// integrals RF, RD, RJ (with the degenerate RC as an internal auxiliary).
//
// K and E, 0 <= m < 0.9 (K also for -0.05 < m < 0): Taylor polynomials about
// the centres 0.05, 0.15, ..., 0.75, 0.825, 0.875 of the intervals of width
// 0.1 (0.05 above 0.8), by Horner's rule at d = m - c; coefficients in
// elliptic_tables.hpp. Elsewhere, with the AGM step (a, g) -> ((a + g)/2, sqrt(a g)):
//   K(m) = π / (2 AGM(1, sqrt(1 - m)))                       (m < 1, at most 10 steps)
//   E(m) = K(m) ((1 + g0)^2 / 4 - Σ_{k>=1} 2^(k-2) (a_k - g_k)^2)   (0.9 <= m < 1,
//          a0 = 1, g0 = sqrt(1 - m); DLMF 19.8.6)
//   E(m) = sqrt(1 - m) E(m / (m - 1))                        (m < 0, DLMF 19.7.5)
//   Π(n, m) = RF(0, 1 - m, 1) + (n/3) RJ(0, 1 - m, 1, 1 - n)    (0 < n < 1, DLMF 19.25.2)
//   Π(n, m), n < 0: through the characteristic N = (m - n)/(1 - n) in (0, 1)
//   Π(n, m), n > 1: the principal value -(m/n)/3 RJ(0, 1 - m, 1, 1 - m/n)
//                   = K(m) - Π(m/n, m)                      (DLMF 19.6.5)
// RF, RD, RJ: Carlson's duplication algorithm with the Taylor series of
// DLMF 19.36.1 (RF, fifth order) and 19.36.2 (RD, RJ, seventh order),
// B. C. Carlson, "Numerical computation of real or complex elliptic
// integrals", Numer. Algorithms 10 (1995) 13-26. RF(0, y, z) and RD(0, y, z)
// by the AGM (DLMF 19.8, 19.22); RJ with p <= 0 by the principal-value
// transformation DLMF 19.20.14; RC in closed form (DLMF 19.2.18-19.2.20).
//
// Every comparison with a NaN operand is false, so NaN arguments take the
// last branch of each chain of tests. The grouping of every floating-point
// expression is part of the contract (results are compared to the last bit).
//
// Accuracy: largest error against mpmath (tests/data/elliptic_reference.txt,
// 2660 arguments), in ulps of the exact value:
//   K  2.3 for 0 <= m < 0.9 (at interval ends), 2.5 for 0.9 <= m < 1,
//      2.6 for m <= -0.05; 310 for -0.05 < m < 0, where the first polynomial
//      runs beyond its interval (7e-14 relative)
//   E  2.2 for 0 <= m < 0.9, 5.2 for 0.9 <= m < 1, 9.6 for m < 0 (the
//      rounding of m/(m - 1) before 1 - e is formed)
//   Π  5.2 for n < 0, 3.0 for 0 < n < 1, 3.5 for n = m, 19 for n > 1 with
//      1 - m/n >= 0.01; closer to n = m the rounding of 1 - m/n dominates,
//      about 1e-16 / (1 - m/n) relative (4e5 ulps at 1 - m/n = 3e-10)
//   RF 2.7, RD 3.3 (8 by the AGM), RJ 5.4 (4.8 for p < 0; 19 in the closed
//      forms for y = z that cancel when p is near y)
#include "kernels/elliptic.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>

#include "common/constants.hpp"
#include "kernels/elliptic_detail.hpp"
#include "kernels/elliptic_tables.hpp"

namespace caldrith {

namespace elliptic::detail {

double rc(double x, double y) {
    double prefix = 1.0;
    if (y < 0.0) {
        prefix = std::sqrt(x / (x - y));
        x = x - y;
        y = -y;
    }
    if (x == 0.0) {
        return prefix * HALF_PI / std::sqrt(y);
    }
    if (x == y) {
        return prefix / std::sqrt(x);
    }
    if (y > x) {
        return prefix * std::atan(std::sqrt((y - x) / x)) / std::sqrt(y - x);
    }
    if (y / x > 0.5) {
        const double s = std::sqrt((x - y) / x);
        return prefix * (std::log1p(s) - std::log1p(-s)) / (std::sqrt(x - y) + std::sqrt(x - y));
    }
    return prefix * std::log((std::sqrt(x) + std::sqrt(x - y)) / std::sqrt(y)) / std::sqrt(x - y);
}

double rc_one_one_plus(double e) {
    if (e > 0.0) {
        const double s = std::sqrt(e);
        return std::atan(s) / s;
    }
    if (e == 0.0) {
        return 1.0;
    }
    if (e > -0.5) {
        const double s = std::sqrt(-e);
        return (std::log1p(s) - std::log1p(-s)) / (2.0 * s);
    }
    return rc(1.0, 1.0 + e);
}

}  // namespace elliptic::detail

namespace {

using namespace elliptic::detail;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double EPSILON = 2.220446049250313e-16;  // 2^-52
// Duplication constants of RF and RD: (3ε)^(-1/8), (ε/4)^(-1/8).
constexpr double RF_SCALE = 78.8959690786408;
constexpr double RD_SCALE = 107.63474115247546;
// 20 m must lie in the signed 64-bit range for the interval index.
constexpr double INDEX_LIMIT = 0x1p63;
constexpr double ONE_PLUS_EPSILON = 1.0000000000000002;   // 1 + 2^-52
// Minus one hundredth of the largest double: Π tends to 0 below it.
constexpr double VANISHING_LIMIT = -1.7976931348623156e306;

// For a fixed triple the principal-value map p -> p' of RJ is an involution,
// so a chain of non-positive p returns to (about) its start and may cycle
// forever: RJ(0, -1, 1, 0) -> RJ(-1, 0, 1, -1) -> RJ(-1, 0, 1, 0) -> ..., or
// RJ(0, 0, z, 0) -> itself. Chains that end do so within a few levels
// (rounding near p = 0; 5 levels at most in millions of random trials, none
// of them deeper than one level with a finite result); this bound ends the
// cycles with NaN.
constexpr int PRINCIPAL_VALUE_DEPTH = 64;

constexpr Message ELLIPK_NAN = "ellipk: Arguments cannot be NAN.";
constexpr Message ELLIPK_ABOVE_ONE = "ellipk: m must not be greater than 1.";
constexpr Message ELLIPK_UNEXPECTED = "ellipk: Unexpected error.";
constexpr Message ELLIPE_NAN = "ellipe: Arguments cannot be NAN.";
constexpr Message ELLIPE_ABOVE_ONE = "ellipe: m must not be greater than 1.";
constexpr Message ELLIPPI_N_ONE = "ellippi: n cannot be 1.";
constexpr Message ELLIPPI_NAN = "ellippi: Arguments cannot be NAN.";
constexpr Message ELLIPPI_ABOVE_ONE = "ellippi: m must not be greater than 1.";
constexpr Message ELLIPPI_UNEXPECTED = "ellippi: Unexpected error.";

// The Taylor polynomial of interval `index` (two indices per interval of
// width 0.1, one per interval of width 0.05): Horner's rule from the highest
// coefficient down at d = m - c.
double taylor_polynomial(const std::array<std::span<const double>, 10>& polynomials,
                         std::int64_t index, double m) {
    const std::size_t interval = index < 16 ? static_cast<std::size_t>(index / 2)
                                            : static_cast<std::size_t>(index - 8);
    const std::span<const double> coefficients = polynomials[interval];
    const double d = m - elliptic::detail::TAYLOR_CENTRES[interval];
    double value = coefficients.back();
    for (std::size_t j = coefficients.size() - 1; j-- > 0;) {
        value = value * d + coefficients[j];
    }
    return value;
}

// trunc(20 m), or nothing when 20 m is NaN or outside the signed 64-bit range.
std::optional<std::int64_t> interval_index(double m) {
    const double t = m * 20.0;
    if (!(t >= -INDEX_LIMIT && t < INDEX_LIMIT)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(t);
}

// Indices 0..17 select a Taylor polynomial (0 <= 20 m < 18, or -1 < 20 m < 0).
bool has_polynomial(std::int64_t index) { return index >= 0 && index <= 17; }

void agm_step(double& a, double& g) {
    const double mean = (a + g) * 0.5;
    g = std::sqrt(a * g);
    a = mean;
}

// π / (a + g) after at most `passes` AGM steps, each preceded by the
// convergence test.
double pi_over_agm(double a, double g, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        if (std::fabs(a - g) < std::fabs(a) * AGM_TOLERANCE) {
            break;
        }
        agm_step(a, g);
    }
    return PI / (a + g);
}

struct AgmSeries {
    double sum;          // Σ 2^(k-2) (a_k - g_k)^2 over the steps k >= 1
    double pi_over_agm;  // π / (a + g) at convergence
};

// The AGM with the weighted sum of squared differences that gives E and
// RD(0, y, z): NaN in both members if the loop has not converged within its
// bound.
AgmSeries agm_series(double a, double g) {
    double sum = 0.0;
    double weight = 0.25;
    for (int pass = 0; std::fabs(a - g) >= std::fabs(a) * AGM_TOLERANCE; ++pass) {
        if (pass == AGM_SERIES_CAP) {
            return {NOT_A_NUMBER, NOT_A_NUMBER};
        }
        agm_step(a, g);
        weight = weight + weight;
        sum = sum + (weight * (a - g)) * (a - g);
    }
    return {sum, PI / (a + g)};
}

double max_of(double a, double b, double c) { return std::fmax(std::fmax(a, b), c); }

double rj(double x, double y, double z, double p, int depth);

// RJ with p <= 0: the principal value from RJ at the positive p' of the
// sorted triple a <= b <= c (DLMF 19.20.14).
double rj_principal_value(double x, double y, double z, double p, int depth) {
    if (depth == PRINCIPAL_VALUE_DEPTH) {
        return NOT_A_NUMBER;
    }
    double a = x;
    double b = y;
    double c = z;
    if (b < a) std::swap(a, b);
    if (c < b) std::swap(b, c);
    if (b < a) std::swap(a, b);
    const double q = -p;
    const double pp = ((a + b - p) * c - a * b) / (c - p);
    const double ab_qp = a * b + q * pp;
    return (3.0 * std::sqrt(a * b * c / ab_qp) * rc(ab_qp, q * pp) +
            ((pp - c) * rj(a, b, c, pp, depth + 1) - 3.0 * elliprf(a, b, c))) /
           (c - p);
}

double rj(double x, double y, double z, double p, int depth) {
    if (p <= 0.0) {
        return rj_principal_value(x, y, z, p, depth);
    }
    if (x == y && x == z) {
        if (x == p) {
            return 1.0 / (std::sqrt(x) * x);
        }
        return (3.0 / (x - p)) * (rc(x, p) - 1.0 / std::sqrt(x));
    }
    if (x == y) {
        std::swap(x, z);
    }
    if (y == z) {
        if (y == p) {
            return elliprd(x, y, y);
        }
        if (std::fmax(y, p) / std::fmin(y, p) > 1.2) {
            return 3.0 * (rc(x, y) - rc(x, p)) / (p - y);
        }
    }
    if (z == p) {
        return elliprd(x, y, z);
    }

    const double x0 = x;
    const double y0 = y;
    const double z0 = z;
    const double a0 = ((p + p) + ((y + x) + z)) / 5.0;
    double delta = (p - z) * ((p - y) * (p - x));
    const double q = RJ_SCALE * std::fmax(max_of(std::fabs(a0 - x), std::fabs(a0 - y),
                                                 std::fabs(a0 - z)),
                                          std::fabs(a0 - p));
    double a = a0;
    double f = 1.0;
    double r = 0.0;
    for (int pass = 0;; ++pass) {
        if (pass == RJ_PASSES) {
            return NOT_A_NUMBER;
        }
        const double rx = std::sqrt(x);
        const double ry = std::sqrt(y);
        const double rz = std::sqrt(z);
        const double rp = std::sqrt(p);
        const double d = ((rp + rx) * (rp + ry)) * (rp + rz);
        const double e = delta / (d * d);
        if (-1.5 < e && e < -0.5) {
            const double b = ((p + rx * (ry + rz)) + ry * rz) * 2.0 * rp / d;
            r = r + (f / d) * rc(1.0, b);
        } else {
            r = r + (f / d) * rc_one_one_plus(e);
        }
        const double l = lambda(rx, ry, rz);
        a = (a + l) * 0.25;
        f = f * 0.25;
        if (a > q * f) {
            break;
        }
        x = (x + l) * 0.25;
        y = (y + l) * 0.25;
        z = (z + l) * 0.25;
        p = (p + l) * 0.25;
        delta = delta * 0.015625;
    }

    return rj_series(a0, x0, y0, z0, a, f, r, [](double value) { return std::pow(value, -1.5); });
}

// The value of a Legendre-form integral, NaN in place of an error.
double value_or_nan(const Outcome<double>& outcome) {
    return outcome ? *outcome : NOT_A_NUMBER;
}

}  // namespace

Outcome<double> ellipk(double m) {
    const std::optional<std::int64_t> index = interval_index(m);
    if (!index) {
        if (std::isnan(m)) {
            return Unexpected{ELLIPK_NAN};
        }
        if (m == -INF) {
            return 0.0;
        }
        if (m > 1.0) {
            return Unexpected{ELLIPK_ABOVE_ONE};
        }
        return Unexpected{ELLIPK_UNEXPECTED};
    }
    if (has_polynomial(*index)) {
        return taylor_polynomial(elliptic::detail::ELLIPK_TAYLOR, *index, m);
    }
    if (m >= 1.0) {
        if (m == 1.0) {
            return INF;
        }
        return Unexpected{ELLIPK_ABOVE_ONE};
    }
    return pi_over_agm(1.0, std::sqrt(1.0 - m), ELLIPK_AGM_PASSES);
}

Outcome<double> ellipe(double m) {
    double e = m;
    double factor = 1.0;
    if (m < 0.0) {
        if (m == -INF) {
            return INF;
        }
        e = m / (m + (-1.0));
        factor = std::sqrt(1.0 - m);
    }
    const std::optional<std::int64_t> index = interval_index(e);
    if (!index) {
        // e is in [0, 1] or above or NaN, so out of range means NaN or e > 1.
        if (std::isnan(e)) {
            return Unexpected{ELLIPE_NAN};
        }
        return Unexpected{ELLIPE_ABOVE_ONE};
    }
    if (has_polynomial(*index)) {
        return factor * taylor_polynomial(elliptic::detail::ELLIPE_TAYLOR, *index, e);
    }
    if (e >= 1.0) {
        if (e == 1.0) {
            return factor * 1.0;
        }
        return Unexpected{ELLIPE_ABOVE_ONE};
    }
    const double g0 = std::sqrt(1.0 - e);
    const AgmSeries series = agm_series(1.0, g0);
    return factor * (((1.0 + g0) * (1.0 + g0) * 0.25 - series.sum) * series.pi_over_agm);
}

Outcome<double> ellippi(double n, double m) {
    if (n > ONE_MINUS_EPSILON) {
        if (n < 1.0) {
            return INF;
        }
        if (n == 1.0) {
            return Unexpected{ELLIPPI_N_ONE};
        }
        if (n <= ONE_PLUS_EPSILON) {
            const Outcome<double> k = ellipk(m);
            const Outcome<double> e = ellipe(m);
            if (!k) {
                return k;
            }
            if (!e) {
                return e;
            }
            return *k - *e / (1.0 - m);
        }
        return elliprj(0.0, 1.0 - m, 1.0, 1.0 - m / n) * ((-0.3333333333333333 * m) / n);
    }

    double h = 0.0;
    if (n <= 0.0) {
        if (1.0 - m < EPSILON) {
            h = -INF;
        } else if (n != 0.0) {
            const double f = elliprf(0.0, 1.0 - m, 1.0);
            const double j = elliprj(0.0, 1.0 - m, 1.0, (1.0 - m) / (1.0 - n));
            const double x = (-n * ((j * ((m - n) / (1.0 - n))) / 3.0 + f)) / (1.0 - n);
            const double k = value_or_nan(ellipk(m));
            h = (m * k) / (m - n) + ((1.0 - m) * x) / (m - n);
        } else if (m != 0.0) {
            h = value_or_nan(ellipk(m));
        } else {
            h = HALF_PI;
        }
    } else if (n != m) {
        h = (elliprj(0.0, 1.0 - m, 1.0, 1.0 - n) * n) / 3.0 + elliprf(0.0, 1.0 - m, 1.0);
    } else {
        h = (1.0 / (1.0 - m)) * value_or_nan(ellipe(m));
    }

    if (std::fabs(h) <= std::numeric_limits<double>::max()) {
        return h;
    }
    if (std::isnan(n) || std::isnan(m)) {
        return Unexpected{ELLIPPI_NAN};
    }
    if (m <= ONE_MINUS_EPSILON) {
        if (n < VANISHING_LIMIT || m < VANISHING_LIMIT) {
            return 0.0;
        }
        return Unexpected{ELLIPPI_UNEXPECTED};
    }
    if (m > 1.0) {
        return Unexpected{ELLIPPI_ABOVE_ONE};
    }
    return std::copysign(INF, 1.0 - n);
}

double elliprf(double x, double y, double z) {
    if (x == y) {
        if (x == z) {
            return 1.0 / std::sqrt(x);
        }
        if (z == 0.0) {
            return PI / (std::sqrt(x) + std::sqrt(x));
        }
        return rc(z, x);
    }
    if (x == z) {
        if (y == 0.0) {
            return PI / (std::sqrt(x) + std::sqrt(x));
        }
        return rc(y, x);
    }
    if (y == z) {
        if (x == 0.0) {
            return PI / (std::sqrt(y) + std::sqrt(y));
        }
        return rc(x, y);
    }
    if (x == 0.0) {
        std::swap(x, z);
    } else if (y == 0.0) {
        std::swap(y, z);
    }
    if (z == 0.0) {
        return pi_over_agm(std::sqrt(x), std::sqrt(y), RF_AGM_PASSES);
    }

    const double x0 = x;
    const double y0 = y;
    const double a0 = ((x + y) + z) / 3.0;
    double q = RF_SCALE * std::fmax(std::fabs(a0), max_of(std::fabs(a0 - x), std::fabs(a0 - y),
                                                          std::fabs(a0 - z)));
    double a = a0;
    double f = 1.0;
    for (int pass = 0;; ++pass) {
        if (pass == 11) {
            return NOT_A_NUMBER;
        }
        const double l = lambda(std::sqrt(x), std::sqrt(y), std::sqrt(z));
        a = (a + l) * 0.25;
        x = (x + l) * 0.25;
        y = (y + l) * 0.25;
        z = (z + l) * 0.25;
        q = q * 0.25;
        f = 4.0 * f;
        if (std::fabs(a) > q) {
            break;
        }
    }

    const double sx = (a0 - x0) / (f * a);
    const double sy = (a0 - y0) / (f * a);
    const double sz = -sx - sy;
    const double e2 = sx * sy - sz * sz;
    const double e3 = sx * sy * sz;
    return ((((e2 / 24.0 - 0.1) - 3.0 * e3 / 44.0 - 5.0 * e2 * e2 / 208.0 + e2 * e3 * 0.0625) * e2 +
             ((3.0 * e3 / 104.0 + 0.07142857142857142) * e3 + 1.0))) /
           std::sqrt(a);
}

double elliprd(double x, double y, double z) {
    if (x == z) {
        std::swap(x, y);
    }
    if (y == z) {
        if (x == y) {
            return 1.0 / (std::sqrt(x) * x);
        }
        if (x == 0.0) {
            return 9.42477796076938 / ((4.0 * y) * std::sqrt(y));  // 3π / (4 y^(3/2))
        }
    }
    if (x == 0.0) {
        const double a0 = std::sqrt(y);
        const double g0 = std::sqrt(z);
        const AgmSeries series = agm_series(a0, g0);
        const double p = (3.0 * g0 + a0) / ((g0 + a0) * (4.0 * z)) - series.sum / ((y - z) * z);
        return series.pi_over_agm * p * 3.0;
    }

    const double x0 = x;
    const double y0 = y;
    const double a0 = (3.0 * z + (x + y)) / 5.0;
    double q = RD_SCALE * 1.2 * max_of(a0 - x, a0 - y, a0 - z);
    double a = a0;
    double f = 1.0;
    double r = 0.0;
    for (int pass = 0;; ++pass) {
        if (pass == 50) {
            return NOT_A_NUMBER;
        }
        const double sz = std::sqrt(z);
        const double l = lambda(std::sqrt(x), std::sqrt(y), sz);
        r = r + f / (sz * (z + l));
        a = (a + l) * 0.25;
        x = (x + l) * 0.25;
        y = (y + l) * 0.25;
        z = (z + l) * 0.25;
        q = q * 0.25;
        f = f * 0.25;
        if (a > q) {
            break;
        }
    }

    const double sx = (a0 - x0) * f / a;
    const double sy = (a0 - y0) * f / a;
    const double sz = (sx + sy) / -3.0;
    const double e2 = sx * sy - 6.0 * sz * sz;
    const double e3 = (3.0 * sx * sy - 8.0 * sz * sz) * sz;
    const double e4 = 3.0 * (sx * sy - sz * sz) * sz * sz;
    const double e5 = sx * sy * sz * sz * sz;
    return 3.0 * r + f * std::pow(a, -1.5) * series7(e2, e3, e4, e5);
}

double elliprj(double x, double y, double z, double p) { return rj(x, y, z, p, 0); }

}  // namespace caldrith
