// The elliptic integrals of elliptic.cpp on several arguments at once, for
// the arguments of their common path. Each function names the lanes it
// serves; it computes there exactly the operations of the scalar code, in the
// same order and grouping, and leaves every other lane to the caller, who
// finishes it with the scalar code. A lane whose result comes out NaN or
// infinite (a loop that ran into its cap, a non-finite Π) is finished by the
// scalar code as well, so only finite results come from here.
//
// Iterations stop lane by lane where the scalar loop stops: a lane that has
// converged is frozen (its values kept by a blend) while the others go on.
// atan, log1p and pow are the C library's, called lane by lane.
//
// Include only from a source compiled once per vector path (see lanes.hpp).
#pragma once

#include "common/constants.hpp"
#include "kernels/elliptic_detail.hpp"
#include "kernels/simd/lanes.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {

namespace elliptic_lanes {

namespace el = caldrith::elliptic::detail;

// Horner's rule on the interval polynomials of each lane (padded rows), for
// one table or two side by side.
CALDRITH_LANES_INLINE V taylor(const el::TaylorRows<el::TAYLOR_ROWS>& rows, M interval, V m) {
    const V d = m - gather(el::TAYLOR_CENTRES.data(), interval);
    V value = gather(rows[el::TAYLOR_ROWS - 1].data(), interval);
    for (std::size_t j = el::TAYLOR_ROWS - 1; j-- > 0;) {
        value = value * d + gather(rows[j].data(), interval);
    }
    return value;
}

CALDRITH_LANES_INLINE void taylor_k_e(M interval, V m, V& k, V& e) {
    const V d = m - gather(el::TAYLOR_CENTRES.data(), interval);
    k = gather(el::ELLIPK_ROWS[el::TAYLOR_ROWS - 1].data(), interval);
    e = gather(el::ELLIPE_ROWS[el::TAYLOR_ROWS - 1].data(), interval);
    for (std::size_t j = el::TAYLOR_ROWS - 1; j-- > 0;) {
        k = k * d + gather(el::ELLIPK_ROWS[j].data(), interval);
        e = e * d + gather(el::ELLIPE_ROWS[j].data(), interval);
    }
}

// The interval of each lane with -1 < t = 20 m < 18: trunc(t) in 0..17, two
// indices per interval below 16, one above.
CALDRITH_LANES_INLINE M interval_of(M polynomial, V t) {
    const M index = truncate(select(polynomial, t, splat(0.0)));
    return index < 16 ? index >> 1 : index - 8;
}

// π / (a + g) after at most `passes` AGM steps, each preceded by the
// convergence test, in the lanes of `active`.
CALDRITH_LANES_INLINE V pi_over_agm(V a, V g, int passes, M active) {
    for (int pass = 0; pass < passes; ++pass) {
        active &= ~(abs(a - g) < abs(a) * el::AGM_TOLERANCE);
        if (!any(active)) {
            break;
        }
        const V mean = (a + g) * 0.5;
        const V root = sqrt(a * g);
        a = select(active, mean, a);
        g = select(active, root, g);
    }
    return PI / (a + g);
}

// E(m) for 0.9 <= m < 1 by the AGM series from (1, g0), g0 = √(1 − m): NaN
// in lanes that reach the cap.
CALDRITH_LANES_INLINE V agm_series_e(V g0, M active) {
    V a = splat(1.0);
    V g = g0;
    V sum = splat(0.0);
    V weight = splat(0.25);
    for (int pass = 0;; ++pass) {
        active &= abs(a - g) >= abs(a) * el::AGM_TOLERANCE;
        if (!any(active)) {
            break;
        }
        if (pass == el::AGM_SERIES_CAP) {
            sum = select(active, splat(__builtin_nan("")), sum);
            break;
        }
        const V mean = (a + g) * 0.5;
        const V root = sqrt(a * g);
        a = select(active, mean, a);
        g = select(active, root, g);
        weight = select(active, weight + weight, weight);
        sum = select(active, sum + (weight * (a - g)) * (a - g), sum);
    }
    return ((1.0 + g0) * (1.0 + g0) * 0.25 - sum) * (PI / (a + g));
}

// K(m) in the lanes with -0.05 < m < 1 (NaN-free): the polynomials for
// -1 < 20 m < 18, the AGM above.
CALDRITH_LANES_INLINE M ellipk_serves(V m) {
    const V t = m * 20.0;
    return (t > -1.0) & (m < 1.0);
}

CALDRITH_LANES_INLINE V ellipk(V m, M lanes) {
    const V t = m * 20.0;
    const M polynomial = lanes & (t < 18.0);
    const M agm = lanes & ~polynomial;
    V result = splat(0.0);
    if (any(polynomial)) {
        result = taylor(el::ELLIPK_ROWS, interval_of(polynomial, t), m);
    }
    if (any(agm)) {
        const V g = sqrt(1.0 - select(agm, m, splat(0.0)));
        result = select(agm, pi_over_agm(splat(1.0), g, el::ELLIPK_AGM_PASSES, agm), result);
    }
    return result;
}

// E(m) in the lanes with 0 <= m < 1.
CALDRITH_LANES_INLINE M ellipe_serves(V m) { return (m >= 0.0) & (m < 1.0); }

CALDRITH_LANES_INLINE V ellipe(V m, M lanes) {
    const V t = m * 20.0;
    const M polynomial = lanes & (t < 18.0);
    const M agm = lanes & ~polynomial;
    V result = splat(0.0);
    if (any(polynomial)) {
        result = taylor(el::ELLIPE_ROWS, interval_of(polynomial, t), m);
    }
    if (any(agm)) {
        const V g0 = sqrt(1.0 - select(agm, m, splat(0.0)));
        result = select(agm, agm_series_e(g0, agm), result);
    }
    return result;
}

// K(m) and E(m) together in the lanes with 0 <= m < 1.
CALDRITH_LANES_INLINE void ellipk_ellipe(V m, M lanes, V& k, V& e) {
    const V t = m * 20.0;
    const M polynomial = lanes & (t < 18.0);
    const M agm = lanes & ~polynomial;
    k = splat(0.0);
    e = splat(0.0);
    if (any(polynomial)) {
        taylor_k_e(interval_of(polynomial, t), m, k, e);
    }
    if (any(agm)) {
        const V g0 = sqrt(1.0 - select(agm, m, splat(0.0)));
        k = select(agm, pi_over_agm(splat(1.0), g0, el::ELLIPK_AGM_PASSES, agm), k);
        e = select(agm, agm_series_e(g0, agm), e);
    }
}

// The term RC(1, 1 + e) of a duplication pass of RJ, or RC(1, b) for
// -1.5 < e < -0.5, as rj in elliptic.cpp takes it: the closed forms
// atan(√e)/√e (e > 0) and (log1p(s) − log1p(−s))/(2s), s = √(−e)
// (−0.5 < e < 0) lane-wise with atan and log1p per lane, 1 for e = 0, and the
// general RC per lane for the rest.
CALDRITH_LANES_INLINE V rj_rc_term(V e, M active, V p, V rx, V ry, V rz, V rp, V d) {
    const M positive = e > 0.0;
    const M zero = e == 0.0;
    const M closed = active & (positive | ((e < 0.0) & (e > -0.5)));
    const V s = sqrt(select(closed, abs(e), splat(1.0)));
    const V top = per_lane(closed, splat(0.0), [&](int i) {
        return e[i] > 0.0 ? std::atan(s[i]) : std::log1p(s[i]) - std::log1p(-s[i]);
    });
    V term = select(zero, splat(1.0), top / select(positive, s, 2.0 * s));
    const M rest = active & ~closed & ~zero;
    if (any(rest)) {
        const V b = ((p + rx * (ry + rz)) + ry * rz) * 2.0 * rp / d;
        term = per_lane(rest, term, [&](int i) {
            return (-1.5 < e[i] && e[i] < -0.5) ? el::rc(1.0, b[i]) : el::rc_one_one_plus(e[i]);
        });
    }
    return term;
}

// RJ(x, y, z, p) by duplication, for lanes with p > 0 that none of the
// special cases of the scalar code takes (x, y, z pairwise distinct, z ≠ p):
// NaN in lanes that do not converge within the cap.
CALDRITH_LANES_INLINE V rj_duplication(V x, V y, V z, V p, M active) {
    const V x0 = x;
    const V y0 = y;
    const V z0 = z;
    const V a0 = ((p + p) + ((y + x) + z)) / 5.0;
    V delta = (p - z) * ((p - y) * (p - x));
    const V q = el::RJ_SCALE * fmax(fmax(fmax(abs(a0 - x), abs(a0 - y)), abs(a0 - z)), abs(a0 - p));
    V a = a0;
    V f = splat(1.0);
    V r = splat(0.0);
    for (int pass = 0;; ++pass) {
        if (pass == el::RJ_PASSES) {
            r = select(active, splat(__builtin_nan("")), r);
            break;
        }
        const V rx = sqrt(x);
        const V ry = sqrt(y);
        const V rz = sqrt(z);
        const V rp = sqrt(p);
        const V d = ((rp + rx) * (rp + ry)) * (rp + rz);
        const V e = delta / (d * d);
        r = select(active, r + (f / d) * rj_rc_term(e, active, p, rx, ry, rz, rp, d), r);
        const V l = el::lambda(rx, ry, rz);
        a = select(active, (a + l) * 0.25, a);
        f = select(active, f * 0.25, f);
        active &= ~(a > q * f);
        if (!any(active)) {
            break;
        }
        x = select(active, (x + l) * 0.25, x);
        y = select(active, (y + l) * 0.25, y);
        z = select(active, (z + l) * 0.25, z);
        p = select(active, (p + l) * 0.25, p);
        delta = select(active, delta * 0.015625, delta);
    }
    return el::rj_series(a0, x0, y0, z0, a, f, r, [](V value) {
        return per_lane(~M{}, value, [&](int i) { return std::pow(value[i], -1.5); });
    });
}

// Π(n, m) in the lanes with 0 < n ≤ 1 − 2^-52, n ≠ m, 0 < m < 1, 1 − m ≠ 1
// and 1 − n ≠ 1 (so that RJ(0, 1 − m, 1, 1 − n) takes none of its special
// cases): RF(0, 1 − m, 1) + (n/3) RJ(0, 1 − m, 1, 1 − n), RF by the AGM of
// 1 and √(1 − m). The caller finishes lanes with a non-finite result.
CALDRITH_LANES_INLINE M ellippi_serves(V n, V m) {
    return (n > 0.0) & (n <= el::ONE_MINUS_EPSILON) & (n != m) & (m > 0.0) & (m < 1.0) &
           ((1.0 - m) != 1.0) & ((1.0 - n) != 1.0);
}

CALDRITH_LANES_INLINE V ellippi(V n, V m, M lanes) {
    // Lanes outside `lanes` iterate on a harmless argument and are discarded.
    const V safe_n = select(lanes, n, splat(0.5));
    const V y = 1.0 - select(lanes, m, splat(0.5));
    const V rj = rj_duplication(splat(0.0), y, splat(1.0), 1.0 - safe_n, lanes);
    const V rf = pi_over_agm(sqrt(splat(1.0)), sqrt(y), el::RF_AGM_PASSES, lanes);
    return (rj * safe_n) / 3.0 + rf;
}

}  // namespace elliptic_lanes

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
