// A limb-darkening law evaluated at the nodes of a quadrature over the star's
// radius t (stellar radii), a piece at a time, and its derivatives in its
// coefficients: the arithmetic of QuadratureStar's integrand, with every
// value at a node and at the reference radius formed alike.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "models/limb_darkening_law.hpp"

namespace caldrith {

// The most coefficients of a closed-form law.
inline constexpr std::size_t MAX_LAW_COEFFICIENTS = 4;

class LawOnNodes {
public:
    // The law must outlive this.
    explicit LawOnNodes(const LimbDarkeningLaw& law);

    // I at the radius t in [0, 1].
    double at(double t) const;

    // I at the nodes t of the piece [lo, hi] (within one segment of a sampled
    // law), into out.
    void on_piece(double lo, double hi, std::span<const double> t, double* out) const;

    // True for the closed forms, whose powers of μ = √(1 − t²) are singular
    // at the limb.
    bool powers_at_limb() const noexcept;

    // The radii strictly inside (0, 1), ascending, where the quadrature cuts
    // the star whatever the lens's position: a sampled law's kinks; for the
    // power-2 law with a large exponent α, whose brightness μ^α falls as
    // exp(−α t²/2) within 1/√α of the centre, radii spaced in its e-folds.
    std::span<const double> cuts() const noexcept { return cuts_; }

    // The fewest nodes of a piece below the last of those cuts.
    std::size_t cut_nodes() const noexcept;

    // The number of coefficients the derivatives are taken in: the law's
    // constructor coefficients, or a sampled law's intensities.
    std::size_t coefficient_count() const noexcept;

    // ∂N/∂c_k, N = ∫₀¹ I(t) 2t dt, for every coefficient.
    std::span<const double> flux_derivatives() const noexcept { return flux_derivatives_; }

    // ∂I/∂c_k at the nodes t of the piece [lo, hi], for the coefficients
    // that are not 0 there: every one of a closed form, and a sampled law's
    // two samples at the ends of the piece's segment. Node i of the k-th
    // coefficient written goes to out[k·stride + i]; returns the first
    // coefficient written and how many.
    struct Written {
        std::size_t first;
        std::size_t count;
    };
    Written coefficient_derivatives(double lo, double hi, std::span<const double> t, double* out,
                                    std::size_t stride) const;

    // The same at one radius t, into out.
    Written coefficient_derivatives_at(double t, std::span<double, MAX_LAW_COEFFICIENTS> out) const;

private:
    // The segment of a sampled law that holds the piece [lo, hi].
    std::size_t segment_of(double lo, double hi) const;
    double sampled_at(std::size_t segment, double t) const;

    const LimbDarkeningLaw& law_;
    LawKind kind_;
    std::vector<double> coefficients_;
    std::vector<double> flux_derivatives_;
    std::vector<double> cuts_;
};

}  // namespace caldrith
