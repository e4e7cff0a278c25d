// The magnification of a star with any radial brightness law I (see
// limb_darkening_law.hpp) by a point lens, the star of radius ρ and the
// separation u both in Einstein radii:
//
//   A(u) = (1/N) ∫₀¹ I(t) 2t Ā(u, tρ) dt,   N = ∫₀¹ I(t) 2t dt,
//
// Ā(u, a) the mean point-lens magnification over the ring of radius a (the
// thin-ring kernel). By ρ, the law and l = u/ρ:
//
// - far from the star: the far-field series of the ring means weighted by the
//   law's moments ⟨t^2k⟩, Ā = A(u) [1 + 2(1 − s)²/(1 + s) Σ_k (ρ/u)^2k ⟨t^2k⟩ R_k(s)]
//   (far_field.hpp), with as many terms as l needs for 1e-11; from l = 4 for
//   the series routes below, from l = 1.6 for the quadrature;
// - ρ ≤ 0.1 and l ≤ 4, a law that is a sum of tabulated bases (every closed
//   form but power-2): the series in ρ² of star_series.hpp, one polynomial
//   per position;
// - ρ ≤ 0.1 and l ≤ 4, a sampled law: the same series for disks of
//   brightness 1 and t at every sample radius, summed piece by piece
//   (sampled_star.hpp);
// - otherwise (power-2, larger stars), l < 1.6: a quadrature over the
//   radius of the ring means (star_quadrature.hpp).
//
// Accuracy: 1e-8 relative or better for every law, every u and every ρ up to
// LARGEST_RHO (docs/, bench/limb_darkened.py).
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <vector>

#include "models/limb_darkening_law.hpp"
#include "models/sampled_star.hpp"
#include "models/star_quadrature.hpp"
#include "models/star_series.hpp"

namespace caldrith {

// The largest stellar radius (Einstein radii) taken: the magnification holds
// 1e-8 against mpmath up to it, at the cost of a star of radius 1 (it holds
// far beyond, where A − 1 ~ 1/ρ² is below 1e-12 and the quadrature needs
// no more than a smaller star's; this bound keeps every route within what
// was checked). Refused beyond.
inline constexpr double LARGEST_RHO = 1e6;

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
    // point and the 0.5 to 3 µs of a point on the star.
    std::chrono::nanoseconds element_cost() const;

private:
    // How positions near the star are computed.
    enum class Near { series, sampled_series, uniform_disk, quadrature };

    // results[i] at u[i], through `near` at |u|/ρ below the far field's start.
    template <class NearStar>
    void each_position(std::span<const double> u, double* results, NearStar&& near) const;

    double far_field(double u, double l) const;

    const LimbDarkeningLaw& law_;
    double rho_;
    double flux_;
    std::vector<double> means_;  // ⟨t^2k⟩, k = 0..20
    Near near_;
    double far_field_start_;
    BasisWeights series_weights_{};  // the law's basis weights over its flux
    std::vector<double> order_weights_;
    std::optional<SampledSeriesStar> sampled_;
    std::optional<QuadratureStar> quadrature_;
};

}  // namespace caldrith
