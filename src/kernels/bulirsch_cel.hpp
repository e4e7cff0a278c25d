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
// Written once on a template type T with its arithmetic Ops (square root,
// lane masks and the convergence test; see kernels/jet.hpp), so that one
// formula serves doubles, vectors of lanes and forward-mode derivatives, and
// every lane of a vector gives the bits of the scalar loop.
#pragma once

#include "common/constants.hpp"

namespace caldrith {

// The relative difference of the means at which the iteration stops: its
// error is then of the order of its square.
inline constexpr double CEL_TOLERANCE = 1.5e-8;

// cel(kc, p, a, b) from kc, √p, a and b/√p (which a caller forms without
// dividing where b carries the factor √p).
template <class Ops, class T>
T cel(T kc, T sqrt_p, T a, T b_over_sqrt_p) {
    T e = kc;
    T em = kc * 0.0 + 1.0;
    T p = sqrt_p;
    T b = b_over_sqrt_p;
    // Lanes stop one by one, each after the step at which its means were
    // within CEL_TOLERANCE, with exactly the values a loop of its own would
    // have: the lanes' results do not depend on their neighbours.
    typename Ops::Mask stopped = Ops::none(kc);
    for (int step = 0; step < 40; ++step) {
        const T inverse = 1.0 / p;
        const T g = e * inverse;
        const T next_a = a + b * inverse;
        const T next_b = (b + a * g) * 2.0;
        const T next_p = g + p;
        const T next_em = em + kc;
        const typename Ops::Mask stop = Ops::close(em, kc, CEL_TOLERANCE);
        a = Ops::select(stopped, a, next_a);
        b = Ops::select(stopped, b, next_b);
        p = Ops::select(stopped, p, next_p);
        em = Ops::select(stopped, em, next_em);
        stopped = Ops::either(stopped, stop);
        if (Ops::all(stopped)) {
            break;
        }
        const T next_kc = Ops::sqrt(e) * 2.0;
        kc = Ops::select(stopped, kc, next_kc);
        e = Ops::select(stopped, e, next_kc * em);
    }
    return HALF_PI * (b + a * em) / (em * (em + p));
}

}  // namespace caldrith
