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

#include <array>
#include <cstddef>

#include "common/constants.hpp"
#include "kernels/elliptic_detail.hpp"
#include "kernels/simd/lanes.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {

namespace elliptic_lanes {

namespace el = caldrith::elliptic::detail;

// Horner's rule on the interval polynomials of each lane (padded rows), for
// one table or several side by side (K and E at one argument).
template <class... Rows>
CALDRITH_LANES_INLINE std::array<V, sizeof...(Rows)> taylor(M interval, V m, const Rows&... tables) {
    const V d = m - gather(el::TAYLOR_CENTRES.data(), interval);
    std::array<V, sizeof...(Rows)> values{gather(tables[el::TAYLOR_ROWS - 1].data(), interval)...};
    for (std::size_t j = el::TAYLOR_ROWS - 1; j-- > 0;) {
        std::size_t table = 0;
        ((values[table] = values[table] * d + gather(tables[j].data(), interval), ++table), ...);
    }
    return values;
}

// The interval of each lane with -1 < t = 20 m < 18: trunc(t) in 0..17, two
// indices per interval below 16, one above.
CALDRITH_LANES_INLINE M interval_of(M polynomial, V t) {
    const M index = truncate(select(polynomial, t, splat(0.0)));
    return index < 16 ? index >> 1 : index - 8;
}

// The AGM from (1, g0), g0 = √(1 − m), that three integrals take: K(m) for
// m >= 0.9 (at most ELLIPK_AGM_PASSES steps), E(m) for m >= 0.9 (the series,
// until convergence) and RF(0, 1 − m, 1) (at most RF_AGM_PASSES steps). Each
// loop tests for convergence before each step, so they all walk the same
// sequence of pairs and differ only in where they stop: one loop serves all
// three, each result taken from the pair at its own stop. Without E the loop
// ends at RF's cap. E is NaN in lanes that reach the series' cap.
struct AgmFamily {
    V k;
    V e;
    V rf;
};

// The loop as a state that advances one pass at a time (so that a caller can
// run it side by side with another loop): step() runs one pass and tells
// whether the loop goes on.
template <bool WITH_E>
class AgmLoop {
public:
    CALDRITH_LANES_INLINE AgmLoop(V g0, M active) : g0_(g0), a_(splat(1.0)), g_(g0), active_(active) {}

    CALDRITH_LANES_INLINE bool step() {
        if (pass_ == el::ELLIPK_AGM_PASSES) {
            k_a_ = a_;
            k_g_ = g_;
            k_capped_ = true;
        }
        if (pass_ == el::RF_AGM_PASSES) {
            rf_a_ = a_;
            rf_g_ = g_;
            rf_capped_ = true;
            if (!WITH_E) {
                return false;
            }
        }
        active_ &= abs(a_ - g_) >= abs(a_) * el::AGM_TOLERANCE;
        if (!any(active_)) {
            return false;
        }
        if (pass_ == el::AGM_SERIES_CAP) {
            sum_ = select(active_, splat(__builtin_nan("")), sum_);
            return false;
        }
        const V mean = (a_ + g_) * 0.5;
        const V root = sqrt(a_ * g_);
        a_ = select(active_, mean, a_);
        g_ = select(active_, root, g_);
        if (WITH_E) {
            weight_ = select(active_, weight_ + weight_, weight_);
            sum_ = select(active_, sum_ + (weight_ * (a_ - g_)) * (a_ - g_), sum_);
        }
        ++pass_;
        return true;
    }

    CALDRITH_LANES_INLINE AgmFamily result() const {
        const V pi_over_agm = PI / (a_ + g_);
        AgmFamily family;
        family.k = k_capped_ ? PI / (k_a_ + k_g_) : pi_over_agm;
        family.rf = rf_capped_ ? PI / (rf_a_ + rf_g_) : pi_over_agm;
        family.e = WITH_E ? ((1.0 + g0_) * (1.0 + g0_) * 0.25 - sum_) * pi_over_agm : splat(0.0);
        return family;
    }

private:
    V g0_;
    V a_;
    V g_;
    V sum_ = splat(0.0);
    V weight_ = splat(0.25);
    V k_a_ = splat(0.0);
    V k_g_ = splat(0.0);
    V rf_a_ = splat(0.0);
    V rf_g_ = splat(0.0);
    M active_;
    int pass_ = 0;
    bool k_capped_ = false;
    bool rf_capped_ = false;
};

template <bool WITH_E>
CALDRITH_LANES_INLINE AgmFamily agm_family(V g0, M active) {
    AgmLoop<WITH_E> loop(g0, active);
    while (loop.step()) {
    }
    return loop.result();
}

// √(1 − m) in the lanes of `lanes` (1 elsewhere).
CALDRITH_LANES_INLINE V agm_start(V m, M lanes) { return sqrt(1.0 - select(lanes, m, splat(0.0))); }

// K(m) in the lanes with -0.05 < m < 1 (NaN-free): the polynomials for
// -1 < 20 m < 18, the AGM above.
CALDRITH_LANES_INLINE M ellipk_serves(V m) {
    const V t = m * 20.0;
    return (t > -1.0) & (m < 1.0);
}

// K (SecondKind false) or E (true) in `lanes`: the interval polynomials of
// `rows` for 20 m < 18, the AGM above.
template <bool SecondKind, class Rows>
CALDRITH_LANES_INLINE V complete_legendre(V m, M lanes, const Rows& rows) {
    const V t = m * 20.0;
    const M polynomial = lanes & (t < 18.0);
    const M agm = lanes & ~polynomial;
    V result = splat(0.0);
    if (any(polynomial)) {
        result = taylor(interval_of(polynomial, t), m, rows)[0];
    }
    if (any(agm)) {
        const AgmFamily family = agm_family<SecondKind>(agm_start(m, agm), agm);
        result = select(agm, SecondKind ? family.e : family.k, result);
    }
    return result;
}

CALDRITH_LANES_INLINE V ellipk(V m, M lanes) { return complete_legendre<false>(m, lanes, el::ELLIPK_ROWS); }

// E(m) in the lanes with 0 <= m < 1.
CALDRITH_LANES_INLINE M ellipe_serves(V m) { return (m >= 0.0) & (m < 1.0); }

CALDRITH_LANES_INLINE V ellipe(V m, M lanes) { return complete_legendre<true>(m, lanes, el::ELLIPE_ROWS); }

// The term RC(1, 1 + e) of a duplication pass of RJ, or RC(1, b) for
// -1.5 < e < -0.5, as rj in elliptic.cpp takes it: the closed forms
// atan(√e)/√e (e > 0) and (log1p(s) − log1p(−s))/(2s), s = √(−e)
// (−0.5 < e < 0) lane-wise with atan and log1p per lane, 1 for e = 0, and the
// general RC per lane for the rest (`b` is read only there).
CALDRITH_LANES_INLINE M rc_term_general(V e, M active) {
    return active & ~(e > 0.0) & ~((e < 0.0) & (e > -0.5)) & ~(e == 0.0);
}

CALDRITH_LANES_INLINE V rj_rc_term(V e, M active, V b) {
    const M positive = e > 0.0;
    const M zero = e == 0.0;
    const M closed = active & (positive | ((e < 0.0) & (e > -0.5)));
    const V s = sqrt(select(closed, abs(e), splat(1.0)));
    const V top = per_lane(closed, splat(0.0), [&](int i) {
        return e[i] > 0.0 ? std::atan(s[i]) : std::log1p(s[i]) - std::log1p(-s[i]);
    });
    V term = select(zero, splat(1.0), top / select(positive, s, 2.0 * s));
    const M rest = rc_term_general(e, active);
    if (any(rest)) {
        term = per_lane(rest, term, [&](int i) {
            return (-1.5 < e[i] && e[i] < -0.5) ? el::rc(1.0, b[i]) : el::rc_one_one_plus(e[i]);
        });
    }
    return term;
}

// RJ(x, y, z, p) by duplication, for lanes with p > 0 that none of the
// special cases of the scalar code takes (x, y, z pairwise distinct, z ≠ p),
// given the square roots of the arguments (which the caller may know): NaN
// in lanes that do not converge within the cap. A state that advances one
// pass at a time, as AgmLoop. The RC terms of the passes, with the C
// library's functions lane by lane, are evaluated after the loop and summed
// in pass order, so that the loop itself is vector arithmetic only.
class RjLoop {
public:
    CALDRITH_LANES_INLINE RjLoop(V x, V y, V z, V p, V rx, V ry, V rz, V rp, M active)
        : x0_(x), y0_(y), z0_(z), a0_(((p + p) + ((y + x) + z)) / 5.0), x_(x), y_(y), z_(z), p_(p), rx_(rx),
          ry_(ry), rz_(rz), rp_(rp), delta_((p - z) * ((p - y) * (p - x))),
          q_(el::RJ_SCALE * fmax(fmax(fmax(abs(a0_ - x), abs(a0_ - y)), abs(a0_ - z)), abs(a0_ - p))), a_(a0_),
          active_(active) {}

    CALDRITH_LANES_INLINE bool step() {
        if (pass_ == el::RJ_PASSES) {
            r_ = select(active_, splat(__builtin_nan("")), r_);
            return false;
        }
        const V d = ((rp_ + rx_) * (rp_ + ry_)) * (rp_ + rz_);
        Pass& pass = passes_[pass_];
        pass.e = delta_ / (d * d);
        pass.f_over_d = f_ / d;
        pass.active = active_;
        if (any(rc_term_general(pass.e, active_))) {
            pass.b = ((p_ + rx_ * (ry_ + rz_)) + ry_ * rz_) * 2.0 * rp_ / d;
        }
        passes_used_ = pass_ + 1;
        const V l = el::lambda(rx_, ry_, rz_);
        a_ = select(active_, (a_ + l) * 0.25, a_);
        f_ = select(active_, f_ * 0.25, f_);
        active_ &= ~(a_ > q_ * f_);
        if (!any(active_)) {
            return false;
        }
        x_ = select(active_, (x_ + l) * 0.25, x_);
        y_ = select(active_, (y_ + l) * 0.25, y_);
        z_ = select(active_, (z_ + l) * 0.25, z_);
        p_ = select(active_, (p_ + l) * 0.25, p_);
        delta_ = select(active_, delta_ * 0.015625, delta_);
        rx_ = sqrt(x_);
        ry_ = sqrt(y_);
        rz_ = sqrt(z_);
        rp_ = sqrt(p_);
        ++pass_;
        return true;
    }

    CALDRITH_LANES_INLINE V result() const {
        V r = r_;
        for (int k = 0; k < passes_used_; ++k) {
            const Pass& pass = passes_[k];
            r = select(pass.active, r + pass.f_over_d * rj_rc_term(pass.e, pass.active, pass.b), r);
        }
        return el::rj_series(a0_, x0_, y0_, z0_, a_, f_, r, [](V value) {
            return per_lane(~M{}, value, [&](int i) { return std::pow(value[i], -1.5); });
        });
    }

private:
    // What a pass leaves for its RC term.
    struct Pass {
        V e;
        V f_over_d;
        V b;
        M active;
    };

    V x0_, y0_, z0_, a0_;
    V x_, y_, z_, p_;
    V rx_, ry_, rz_, rp_;
    V delta_;
    V q_;
    V a_;
    V f_ = splat(1.0);
    V r_ = splat(0.0);
    M active_;
    int pass_ = 0;
    int passes_used_ = 0;
    std::array<Pass, el::RJ_PASSES> passes_;
};

// Π(n, m) in the lanes with 0 < n ≤ 1 − 2^-52, n ≠ m, 0 < m < 1, 1 − m ≠ 1
// and 1 − n ≠ 1 (so that RJ(0, 1 − m, 1, 1 − n) takes none of its special
// cases): RF(0, 1 − m, 1) + (n/3) RJ(0, 1 − m, 1, 1 − n), RF by the AGM of
// 1 and √(1 − m). The caller finishes lanes with a non-finite result.
CALDRITH_LANES_INLINE M ellippi_serves(V n, V m) {
    return (n > 0.0) & (n <= el::ONE_MINUS_EPSILON) & (n != m) & (m > 0.0) & (m < 1.0) &
           ((1.0 - m) != 1.0) & ((1.0 - n) != 1.0);
}

// Π from RF(0, 1 − m, 1) and g0 = √(1 − m): RJ(0, 1 − m, 1, 1 − n) starts
// from the roots 0, g0, 1 and √(1 − n).
CALDRITH_LANES_INLINE RjLoop ellippi_rj(V n, V m, V g0, M lanes) {
    const V p = 1.0 - n;
    const V zero = splat(0.0);
    const V one = splat(1.0);
    return RjLoop(zero, 1.0 - m, one, p, zero, g0, one, sqrt(p), lanes);
}

CALDRITH_LANES_INLINE V ellippi_from(V n, V rj, V rf) { return (rj * n) / 3.0 + rf; }

// Lanes outside `lanes` compute on harmless arguments and are discarded.
CALDRITH_LANES_INLINE V safe_n(V n, M lanes) { return select(lanes, n, splat(0.25)); }
CALDRITH_LANES_INLINE V safe_m(V m, M lanes) { return select(lanes, m, splat(0.5)); }

CALDRITH_LANES_INLINE V ellippi(V n, V m, M lanes) {
    n = safe_n(n, lanes);
    m = safe_m(m, lanes);
    const V g0 = sqrt(1.0 - m);
    RjLoop rj = ellippi_rj(n, m, g0, lanes);
    while (rj.step()) {
    }
    return ellippi_from(n, rj.result(), agm_family<false>(g0, lanes).rf);
}

// K(m), Π(n, m) and, with WITH_E, E(m) in the lanes that ellippi_serves:
// one AGM for all three (see agm_family), run side by side with the
// duplication of RJ, so that the two independent loops overlap.
struct Legendre {
    V k;
    V e;
    V pi;
};

template <bool WITH_E>
CALDRITH_LANES_INLINE Legendre legendre(V n, V m, M lanes) {
    n = safe_n(n, lanes);
    m = safe_m(m, lanes);
    const V g0 = sqrt(1.0 - m);
    AgmLoop<WITH_E> agm(g0, lanes);
    RjLoop rj = ellippi_rj(n, m, g0, lanes);
    bool agm_going = true;
    bool rj_going = true;
    while (agm_going || rj_going) {
        agm_going = agm_going && agm.step();
        rj_going = rj_going && rj.step();
    }
    const AgmFamily family = agm.result();
    Legendre result;
    const V t = m * 20.0;
    const M polynomial = lanes & (t < 18.0);
    result.k = family.k;
    result.e = family.e;
    if (any(polynomial)) {
        const M interval = interval_of(polynomial, t);
        if (WITH_E) {
            const auto [k, e] = taylor(interval, m, el::ELLIPK_ROWS, el::ELLIPE_ROWS);
            result.k = select(polynomial, k, result.k);
            result.e = select(polynomial, e, result.e);
        } else {
            result.k = select(polynomial, taylor(interval, m, el::ELLIPK_ROWS)[0], result.k);
        }
    }
    result.pi = ellippi_from(n, rj.result(), family.rf);
    return result;
}

}  // namespace elliptic_lanes

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
