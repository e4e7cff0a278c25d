// The magnification of a star with any radial brightness law I (see
// limb_darkening_law.hpp) by a point lens, the star of radius ρ and the
// separation u both in Einstein radii:
//
//   A(u) = (1/N) ∫₀¹ I(t) 2t Ā(u, tρ) dt,   N = ∫₀¹ I(t) 2t dt,
//
// Ā(u, a) the mean point-lens magnification over the ring of radius a (the
// thin-ring kernel). Two routes, by l = u/ρ:
//
// - l ≥ 1.6: the far-field series of the ring means weighted by the law's
//   moments ⟨t^2k⟩, Ā = A(u) [1 + 2(1 − s)²/(1 + s) Σ_k (ρ/u)^2k ⟨t^2k⟩ R_k(s)]
//   (far_field.hpp), with as many terms as l needs for 1e-11;
// - l < 1.6: the law's value at the ring through the lens (or at the limb)
//   taken out, I = I(l) + (I − I(l)), the first part being the uniform disk
//   exactly, the rest a fixed Gauss–Legendre quadrature of the thin-ring
//   kernel. The rest vanishes at t = l, so the ring's logarithmic singularity
//   there becomes (t − l) ln|t − l|; the integral is split at t = l and at the
//   kinks of a sampled law, its nodes drawn towards t = l and the limb, where
//   the laws go as powers of μ.
//
// Accuracy: 1e-8 relative or better for every law, 1e-4 ≤ ρ ≤ 10, every u
// (docs/, bench/limb_darkened.py); 3e-9 at most from ρ = 30 to LARGEST_RHO
// (bench/ld_input_ranges.py, to 1e20; 1.5e-9 at 1e30 and 1e40 measured once).
#pragma once

#include <chrono>
#include <span>
#include <vector>

#include "models/limb_darkening_law.hpp"

namespace caldrith {

// The largest stellar radius served, in Einstein radii: accurate to 3e-9 up
// to here and beyond (A − 1 ≈ 2/ρ² is below the rounding of 1 from ρ = 1e8),
// but A overflows from ρ ≈ 1e77. No star seen through a lens comes near it;
// the bound is far out so that a fit that steps to a huge ρ (in ln ρ, say)
// gets A ≈ 1 back rather than an exception.
inline constexpr double LARGEST_RHO = 1e30;

class LimbDarkenedStar {
public:
    // A star of radius `rho` > 0 with `law`, which must outlive it.
    LimbDarkenedStar(double rho, const LimbDarkeningLaw& law);

    // The magnification at separation u; the sign of u is ignored, an
    // infinite u gives 1 and a NaN gives NaN.
    double operator()(double u) const;

    // The magnifications at every u, into `results`.
    void chunk(std::span<const double> u, double* results) const;

    // The time of one position on one core, for the worker pool's choice of
    // sharing a list or not: an estimate between a light curve's 50 ns a
    // point and the 3 µs of a point on the star.
    std::chrono::nanoseconds element_cost() const;

private:
    double far_field(double u, double l) const;
    double quadrature(double u, double l) const;

    const LimbDarkeningLaw& law_;
    double rho_;
    double flux_;
    std::vector<double> means_;  // ⟨t^2k⟩, k = 0..20
};

}  // namespace caldrith
