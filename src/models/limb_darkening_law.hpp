// Radial brightness laws of a stellar disk, I as a function of μ = √(1 − r²)
// (r the radius in stellar radii), 1 at the centre, with the coefficients in
// the forms stellar catalogues tabulate:
//
//   uniform          1
//   linear           1 − u (1 − μ)
//   quadratic        1 − a (1 − μ) − b (1 − μ)²
//   square root      1 − c (1 − μ) − d (1 − √μ)
//   logarithmic      1 − e (1 − μ) − f μ ln μ
//   power-2          1 − c (1 − μ^α)
//   four-parameter   1 − Σ_k a_k (1 − μ^(k/2)),  k = 1..4
//   sampled          linear in r between samples (r_j, I_j), r from 0 to 1
//
// The closed forms are smooth in μ but for powers of μ below 1 and μ ln μ at
// the limb (μ = 0); a sampled law has a kink at every interior sample.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include <optional>

#include "common/expected.hpp"
#include "kernels/interp.hpp"
#include "models/star_series.hpp"

namespace caldrith {

enum class LawKind { uniform, linear, quadratic, square_root, logarithmic, power2, four_parameter, sampled };

// The largest exponent α of the power-2 law: the magnification holds 1e-8
// against mpmath up to it (α = 1e15 at 4e-13; the brightness μ^α, within
// 1/√α of the centre, is cut in its e-folds at a cost that does not grow
// with α). Refused beyond.
inline constexpr double POWER2_MAX_ALPHA = 1e15;

// The number of coefficients of each kind (0 for uniform and sampled).
std::size_t coefficient_count(LawKind kind);

// The intensity of a closed-form law at μ in [0, 1], from its coefficients.
double closed_form_intensity(LawKind kind, std::span<const double> coefficients, double mu);

// The smallest intensity of a closed-form law on 0 ≤ μ ≤ 1 and the μ where
// it is reached: a grid of 4097 points in μ² refined by golden sections, so
// that a minimum is found to about 1e-12 in μ.
struct LawMinimum {
    double intensity;
    double mu;
};
LawMinimum closed_form_minimum(LawKind kind, std::span<const double> coefficients);

// A law with its coefficients or samples, owned. Checks nothing: the module
// boundary validates what it is given first.
class LimbDarkeningLaw {
public:
    LimbDarkeningLaw(LawKind kind, std::span<const double> coefficients);
    LimbDarkeningLaw(std::vector<double> radius, std::vector<double> intensity);

    LimbDarkeningLaw(const LimbDarkeningLaw&) = delete;
    LimbDarkeningLaw& operator=(const LimbDarkeningLaw&) = delete;

    LawKind kind() const noexcept { return kind_; }

    // The coefficients of a closed form, in its constructor's order (none for
    // uniform and sampled laws).
    std::span<const double> coefficients() const noexcept { return {coefficients_.data(), coefficient_count(kind_)}; }

    // I at the radius t in [0, 1] (stellar radii), and at μ = √(1 − t²).
    double at_radius(double t) const;
    double at_mu(double mu) const;

    // The law as a weighted sum of the bases of star_series.hpp, I = Σ_f w_f f:
    // every closed form but power-2, whose exponent is free.
    std::optional<BasisWeights> basis_weights() const;

    // The radii and brightness of a sampled law (empty for a closed form).
    std::span<const double> sample_radii() const noexcept { return radius_; }
    std::span<const double> sample_intensities() const noexcept { return intensity_; }

    // The interior radii where the law has a kink, ascending (the samples
    // strictly between 0 and 1 of a sampled law; none for a closed form).
    std::span<const double> kinks() const noexcept;

    // ⟨t^2k⟩ for k = 0..count − 1, the flux-weighted means of t^2k over the
    // disk (1 for k = 0), and the total flux ∫₀¹ I(t) 2t dt, accurate to a
    // few ulp.
    struct Moments {
        double flux;
        std::vector<double> means;
    };
    Moments moments(std::size_t count) const;

private:
    LawKind kind_;
    std::array<double, 4> coefficients_{};
    std::vector<double> radius_;
    std::vector<double> intensity_;
    PiecewiseLinear samples_;
};

}  // namespace caldrith
