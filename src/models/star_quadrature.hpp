// A star of any law and size by quadrature over its radius: the law's value
// at the ring through the lens (or at the limb) taken out, I = I(l) + (I − I(l)),
// the first part being the uniform disk exactly (disk_mean.hpp), the rest a
// Gauss–Legendre quadrature of the ring means R(l, t) (ring_mean.hpp),
//
//   N A = I(l) D + ∫₀¹ (I(t) − I(l)) 2t R(l, t) dt,   N = ∫₀¹ I(t) 2t dt.
//
// The rest vanishes at t = l, so the ring's logarithmic singularity there
// becomes (t − l) ln|t − l|. The pieces and their rules: star_pieces.hpp.
//
// Derivatives come from the same pieces and nodes. With F(l, ρ) = A:
//   N ∂F/∂l = I(l) ∂D/∂l + ∫ (I(t) − I(l)) 2t ∂R/∂l dt
// (the terms in I'(l) cancel: ∫ 2t R dt = D), whose integrand is bounded at
// t = l, the 1/(t − l) of ∂R/∂l meeting the zero of I(t) − I(l);
//   N ∂F/∂ρ = I(l) ∂D/∂ρ + ∫ (I(t) − I(l)) 2t ∂R/∂ρ dt   (l fixed),
// and in the coefficients, whose law is linear in its weights,
//   ∂(N A)/∂c_k = ∂I/∂c_k(l) D + ∫ (∂I/∂c_k(t) − ∂I/∂c_k(l)) 2t R dt.
// Then ∂A/∂u = (1/ρ) ∂F/∂l and ∂A/∂ρ = ∂F/∂ρ − (l/ρ) ∂F/∂l.
#pragma once

#include <span>

#include "models/law_on_nodes.hpp"
#include "models/limb_darkening_law.hpp"
#include "models/star_derivatives.hpp"
#include "models/star_pieces.hpp"

namespace caldrith {

class QuadratureStar {
public:
    // A star of radius `rho` with `law` (which must outlive it) and its flux
    // ∫₀¹ I(t) 2t dt.
    QuadratureStar(double rho, const LimbDarkeningLaw& law, double flux);

    // The magnification at separation u ≥ 0, l = u/ρ.
    double operator()(double u, double l) const;

    // The magnification and its derivatives; d_coefficients (one slot per
    // coefficient of the law's constructor, or per intensity sample of a
    // sampled law) receives ∂A/∂c_k. With the lens on the limb (l = 1)
    // exactly, a law bright there (I(1) > 0) has ∂A/∂u = −∞ and ∂A/∂ρ = +∞,
    // the limits from either side (they diverge as ln|l − 1|).
    StarDerivatives gradient(double u, double l, std::span<double> d_coefficients) const;

private:
    LawOnNodes law_;
    double rho_;
    double c_;
    double flux_;
    StarShape shape_;
};

}  // namespace caldrith
