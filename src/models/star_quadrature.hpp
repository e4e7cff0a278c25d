// A star of any law and size by quadrature over its radius: the law's value
// at the ring through the lens (or at the limb) taken out, I = I(l) + (I − I(l)),
// the first part being the uniform disk exactly, the rest a fixed Gauss–Legendre
// quadrature of the thin-ring kernel. The rest vanishes at t = l, so the ring's
// logarithmic singularity there becomes (t − l) ln|t − l|; the integral is split
// at t = l and at the kinks of a sampled law, its nodes drawn towards t = l and
// the limb, where the laws go as powers of μ.
#pragma once

#include <span>

#include "models/limb_darkening_law.hpp"
#include "models/star_derivatives.hpp"

namespace caldrith {

class QuadratureStar {
public:
    // A star of radius `rho` with `law` (which must outlive it) and its flux
    // ∫₀¹ I(t) 2t dt.
    QuadratureStar(double rho, const LimbDarkeningLaw& law, double flux);

    // The magnification at separation u ≥ 0, l = u/ρ.
    double operator()(double u, double l) const;

    // The same with its derivatives, those in the law's parameters into
    // d_parameters.
    StarDerivatives gradient(double u, double l, std::span<double> d_parameters) const;

private:
    const LimbDarkeningLaw& law_;
    double rho_;
    double flux_;
};

}  // namespace caldrith
