// Pieces of the elliptic integrals shared by the scalar code (elliptic.cpp)
// and the batch code (simd/elliptic_lanes.hpp): the constants of the
// iterations, the degenerate integral RC, and the formulas that both evaluate
// alike. The formulas are templates over the number type, instantiated for
// double and for the vector types of the batch paths, so both evaluate the
// same operations in the same grouping.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "kernels/elliptic_tables.hpp"

namespace caldrith::elliptic::detail {

// Relative tolerance of every AGM loop: 2.7 ε.
inline constexpr double AGM_TOLERANCE = 5.995204332975846e-16;
// Duplication constant of RJ: (ε/5)^(-1/8).
inline constexpr double RJ_SCALE = 110.67925377307274;
inline constexpr double ONE_MINUS_EPSILON = 0.9999999999999998;  // 1 - 2^-52
// Passes of the AGM of K (m >= 0.9) and of RF with one zero argument.
inline constexpr int ELLIPK_AGM_PASSES = 10;
inline constexpr int RF_AGM_PASSES = 11;
// Passes of the duplication of RJ before it gives up with NaN.
inline constexpr int RJ_PASSES = 100;

// The AGM series of E and RD has no cap of its own: from a positive pair it
// converges within 50 steps (the slowest start from two subnormal arguments of
// RD), while a pair with one zero member (RD(0, 0, z)) never does, since the
// other member halves down to 0 and the test 0 >= 0 holds forever. This bound
// ends that case with NaN and no other.
inline constexpr int AGM_SERIES_CAP = 256;

// RC(x, y) = RF(x, y, y), with the Cauchy principal value for y < 0.
double rc(double x, double y);

// RC(1, 1 + e) for the duplication of RJ, with the closed forms that avoid
// cancellation near e = 0.
double rc_one_one_plus(double e);

// λ of one duplication step, from the square roots of x, y, z.
template <class T>
[[gnu::always_inline]] inline T lambda(T sx, T sy, T sz) {
    return sx * sy + sx * sz + sy * sz;
}

// The seventh-order series of RD and RJ (DLMF 19.36.2), term by term.
template <class T>
[[gnu::always_inline]] inline T series7(T e2, T e3, T e4, T e5) {
    return 1.0 - 3.0 * e2 / 14.0 + e3 / 6.0 + 9.0 * e2 * e2 / 88.0 - 3.0 * e4 / 22.0 -
           9.0 * e2 * e3 / 52.0 + 3.0 * e5 / 26.0 - e2 * e2 * e2 / 16.0 + 3.0 * e3 * e3 / 40.0 +
           3.0 * e2 * e4 / 20.0 + 45.0 * e2 * e2 * e3 / 272.0 - 9.0 * (e3 * e4 + e2 * e5) / 68.0;
}

// RJ from the state at the end of its duplication: the arguments x0, y0, z0
// and A0 on entry, A, f and the sum R at exit; `pow_a` gives A^(-1.5).
template <class T, class Pow>
[[gnu::always_inline]] inline T rj_series(T a0, T x0, T y0, T z0, T a, T f, T r, Pow&& pow_a) {
    const T sx = (a0 - x0) * f / a;
    const T sy = (a0 - y0) * f / a;
    const T sz = (a0 - z0) * f / a;
    const T sp = (-sx - sy - sz) * 0.5;
    const T e2 = sx * sy + sx * sz + sy * sz - 3.0 * sp * sp;
    const T e3 = sx * sy * sz + 2.0 * e2 * sp + 4.0 * sp * sp * sp;
    const T e4 = (2.0 * sx * sy * sz + e2 * sp + 3.0 * sp * sp * sp) * sp;
    const T e5 = sx * sy * sz * sp * sp;
    return 6.0 * r + (pow_a(a) * f) * series7(e2, e3, e4, e5);
}

// The Taylor coefficients of one table laid out for lane-wise Horner steps:
// row j holds the coefficient of d^j of every interval, and the rows above an
// interval's own degree hold 0. Horner's rule from row ROWS − 1 down then
// gives every interval's polynomial exactly: the leading zero rows leave the
// running value at ±0, and the first real coefficient c replaces it by
// ±0 × d + c = c.
template <std::size_t ROWS>
using TaylorRows = std::array<std::array<double, 10>, ROWS>;

template <std::size_t ROWS>
constexpr TaylorRows<ROWS> taylor_rows(const std::array<std::span<const double>, 10>& polynomials) {
    TaylorRows<ROWS> rows{};
    for (std::size_t interval = 0; interval < polynomials.size(); ++interval) {
        for (std::size_t j = 0; j < polynomials[interval].size(); ++j) {
            rows[j][interval] = polynomials[interval][j];
        }
    }
    return rows;
}

constexpr std::size_t most_coefficients(const std::array<std::span<const double>, 10>& polynomials) {
    std::size_t most = 0;
    for (const std::span<const double> coefficients : polynomials) {
        most = coefficients.size() > most ? coefficients.size() : most;
    }
    return most;
}

// Both tables with the rows of the longer one, so that K and E at one
// argument run their Horner steps side by side.
inline constexpr std::size_t TAYLOR_ROWS = most_coefficients(ELLIPK_TAYLOR) > most_coefficients(ELLIPE_TAYLOR)
                                               ? most_coefficients(ELLIPK_TAYLOR)
                                               : most_coefficients(ELLIPE_TAYLOR);
inline constexpr auto ELLIPK_ROWS = taylor_rows<TAYLOR_ROWS>(ELLIPK_TAYLOR);
inline constexpr auto ELLIPE_ROWS = taylor_rows<TAYLOR_ROWS>(ELLIPE_TAYLOR);


}  // namespace caldrith::elliptic::detail
