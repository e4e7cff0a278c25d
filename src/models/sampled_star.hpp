// A small star whose brightness is linear in its radius t between samples
// (t_j, I_j), t_0 = 0 to t_m = 1, summed piece by piece without quadrature,
// so that kinks and steps of the profile cost no accuracy. With U(r) the
// magnification integrated over the disk of radius r and brightness 1, and
// V(r) that over the disk of brightness t (both times the disk's flux), on a
// piece I = I_j + β_j (t − t_j), and by parts,
//
//   ∫₀¹ I dU = I(1) U(1) − Σ_j β_j (W(t_{j+1}) − W(t_j)),   W(r) = ∫₀^r U = r U(r) − V(r).
//
// Across a piece narrower than NARROW_PIECE the difference of W would lose
// its digits, and β_j ∫ U is taken by the trapezoidal rule instead,
// (I_{j+1} − I_j)(U(t_j) + U(t_{j+1}))/2, within (t_{j+1} − t_j) of the
// piece's share. Everything is linear in U, V and the samples, so the
// derivatives follow from those of U and V and from the same sums. U and V of the disk of radius r are the series of
// star_series.hpp for a star of radius rρ at z/r, or the far-field series of
// that disk beyond SERIES_MAX_Z of its radii.
#pragma once

#include <span>
#include <vector>

#include "models/limb_darkening_law.hpp"
#include "models/star_derivatives.hpp"

namespace caldrith {

class SampledSeriesStar {
public:
    // A star of radius rho ≤ SERIES_MAX_RHO with a sampled law, which must
    // outlive it.
    SampledSeriesStar(double rho, const LimbDarkeningLaw& law);

    // The magnification at u ≥ 0, u ≤ SERIES_MAX_Z ρ.
    double operator()(double u) const;

    // The same with its derivatives, those in the intensity samples into
    // d_intensities (one per sample).
    StarDerivatives gradient(double u, std::span<double> d_intensities) const;

private:
    // U and V of the disk of sample radius t_j, and with derivatives their
    // derivatives in u and ρ.
    struct DiskSums {
        double uniform;
        double radial;
    };
    struct DiskGradient {
        DiskSums value;
        DiskSums d_u;
        DiskSums d_rho;
    };
    DiskSums disk_sums(std::size_t j, double u) const;
    DiskGradient disk_gradient(std::size_t j, double u) const;

    // β_j ∫ U over piece j divided by β_j: (W(t_{j+1}) − W(t_j)) / width, or
    // the trapezoid (U(t_j) + U(t_{j+1}))/2 across a narrow piece.
    double piece_mean(std::size_t j, const DiskSums& lo, const DiskSums& hi) const;

    const LimbDarkeningLaw& law_;
    double rho_;
    double flux_;
    std::vector<double> flux_derivatives_;            // ∂N/∂I_j
    std::vector<std::vector<double>> order_weights_;  // for each sample radius r, those of a star rρ
    std::vector<std::vector<double>> order_slopes_;   // and their derivatives in rρ
};

}  // namespace caldrith
