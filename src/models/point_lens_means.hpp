// The point-lens magnification A(x) = (x² + 2)/(x √(x² + 4)) averaged over a
// ring and over a uniform disk, through Bulirsch's cel (kernels/bulirsch_cel.hpp),
// written once on a template type T with its arithmetic Ops so that the same
// formula gives values on doubles or lanes and derivatives on jets.
//
// The ring: radius t about a star centre that lies l from the lens, g = t − l
// (given, so that a caller who knows the gap more precisely than t − l, or
// its derivative, passes it), with c the Einstein radius, all in stellar radii (Heyrovsky 2003, eq. 9, as
// one cel):
//
//   R = 2 / (π s √q) cel(kc, p, 2c² + g², g² (2c² + s²)/s²),
//   s = l + t, g = t − l, q = 4c² + g², p = g²/s², kc² = g² (s² + 4c²) / (s² q).
//
// Every length is first divided by s, so that nothing overflows, and kc and
// √p = |g|/s are formed from g itself: at the ring through the lens (g → 0),
// where R diverges as ln|g|, no digit is lost.
//
// The uniform disk: the star itself, its centre l from the lens, with the
// Einstein radius c, both in stellar radii (Witt & Mao 1994, with every
// length divided by the star's radius so that nothing overflows for large
// or small stars), with d = l − 1, s = l + 1, w = √(4c² + d²) and the same
// kc and p as the ring of radius 1:
//
//   D = (1/π) [ s w/2 E − d (8c² + l² − 1)/(2w) K + 2d² (1 + c²)/(s w) Π ],
//
// the K and Π terms one cel, E another (p = 1). Not for the lens exactly on
// the limb (d = 0), where it is infinite over infinite.
#pragma once

#include "common/constants.hpp"
#include "kernels/bulirsch_cel.hpp"

namespace caldrith {

template <class Ops, class T>
T ring_mean_formula(T l, T t, T gap, T c) {
    const T s = l + t;
    const T g = gap / s;
    const T e = c / s;
    const T g2 = g * g;
    const T e2 = e * e;
    const T q = e2 * 4.0 + g2;
    const T inverse_root_q = 1.0 / Ops::sqrt(q);
    const T abs_g = Ops::abs(g);
    const T kc = abs_g * Ops::sqrt(e2 * 4.0 + 1.0) * inverse_root_q;
    const T integral = cel<Ops>(kc, abs_g, e2 * 2.0 + g2, abs_g * (e2 * 2.0 + 1.0));
    return inverse_root_q * integral * (2.0 / PI);
}

template <class Ops, class T>
T uniform_disk_formula(T l, T c) {
    const T d = l - 1.0;
    const T s = l + 1.0;
    const T d2 = d * d;
    const T c2 = c * c;
    const T w = Ops::sqrt(c2 * 4.0 + d2);
    const T abs_d = Ops::abs(d);
    const T kc = abs_d * Ops::sqrt(s * s + c2 * 4.0) / (s * w);
    const T sqrt_p = abs_d / s;
    const T k_weight = d * (l * l - 1.0 + c2 * 8.0) / w * -0.5;
    const T pi_weight = d2 * (c2 + 1.0) * 2.0 / (s * w);
    // b/√p = k_weight √p + π_weight s/|d|.
    const T k_and_pi = cel<Ops>(kc, sqrt_p, k_weight + pi_weight, k_weight * sqrt_p + abs_d * (c2 + 1.0) * 2.0 / w);
    const T one = kc * 0.0 + 1.0;
    const T e = cel<Ops>(kc, one, one, kc * kc);
    return (e * (s * w * 0.5) + k_and_pi) / PI;
}

}  // namespace caldrith
