// Bulirsch's general complete elliptic integral (Bulirsch 1969, Numer. Math.
// 13, 305),
//
//   cel(kc, p, a, b) = ∫₀^{π/2} (a cos²φ + b sin²φ) / ((cos²φ + p sin²φ) √(cos²φ + kc² sin²φ)) dφ,
//
// for 0 < kc ≤ 1 and p > 0, by its Gauss transformation: an arithmetic–
// geometric mean of (1, kc) that carries p, a and b along, converging
// quadratically (six to eight steps for kc down to 1e-12). It holds K
// (a = b = 1, p = 1), E (a = 1, b = kc², p = 1) and Π(n) (a = b = 1,
// p = 1 − n) and their weighted sums in one pass, and it is linear in (a, b).
// Where kc → 0 and p → 0 together (a ring through the lens) it keeps every
// digit when kc and √p are formed from the small quantity they both
// measure, which is why it takes √p rather than p.
//
// Written once on a template type T with its arithmetic Ops (square root and
// the convergence test; see kernels/jet.hpp), so that one formula serves
// doubles, vectors of lanes and forward-mode derivatives. The lanes that
// have converged go on with the others: at the fixed point a further step
// only doubles em, p and the means, which leaves the result unchanged.
#pragma once

#include "common/constants.hpp"

namespace caldrith {

// The relative difference of the means at which the iteration stops: its
// error is then of the order of its square.
inline constexpr double CEL_TOLERANCE = 1.5e-8;

template <class Ops, class T>
T cel(T kc, T sqrt_p, T a, T b) {
    T e = kc;
    T em = kc * 0.0 + 1.0;
    T p = sqrt_p;
    b = b / p;
    for (int step = 0; step < 40; ++step) {
        const T f = a;
        const T inverse = 1.0 / p;
        a = a + b * inverse;
        const T g = e * inverse;
        b = (b + f * g) * 2.0;
        p = g + p;
        const T previous = em;
        em = em + kc;
        if (Ops::close(previous, kc, CEL_TOLERANCE)) {
            break;
        }
        kc = Ops::sqrt(e) * 2.0;
        e = kc * em;
    }
    return HALF_PI * (b + a * em) / (em * (em + p));
}

}  // namespace caldrith
