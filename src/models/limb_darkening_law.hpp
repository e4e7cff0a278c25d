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
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
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
// it is reached, from its critical points: the linear and power-2 laws are
// monotone in μ, the quadratic law a parabola in μ, the square-root law one
// in s = √μ, the four-parameter law a quartic in s (its critical points the
// roots of a cubic, bracketed between those of its derivative and bisected),
// and the logarithmic law has one at μ = exp(e/f − 1). A few hundred
// operations at most, cheap enough to run on every call.
struct LawMinimum {
    double intensity;
    double mu;
};
LawMinimum closed_form_minimum(LawKind kind, std::span<const double> coefficients);

// The largest |coefficient| of a closed-form law (the power-2 exponent
// apart) within which the magnification keeps its accuracy
// (bench/ld_input_ranges.py); catalogues' coefficients are of order 1.
inline constexpr double COEFFICIENT_BOUND = 1e4;
// How far below 0 a law's smallest intensity may round, per unit of its
// scale 1 + Σ|coefficient| (the exponent apart): Quadratic(0.7, 0.3) is
// exactly 0 at the limb.
inline constexpr double NEGATIVE_INTENSITY_TOLERANCE = 1e-12;

// Why a law cannot be used: a fixed message that names the argument at
// fault ("u", "alpha", "r", ...) and, for a law whose intensity is negative
// somewhere on 0 ≤ μ ≤ 1, where it is lowest.
struct LawFault {
    Message message;
    std::optional<LawMinimum> lowest;
};
using LawCheck = Expected<Done, LawFault>;

// The rules every law obeys wherever it is used, cheap enough for every
// call: each coefficient finite and within ±COEFFICIENT_BOUND, α in
// (0, POWER2_MAX_ALPHA], the intensity ≥ 0 on 0 ≤ μ ≤ 1. `coefficients` holds
// coefficient_count(kind) values.
LawCheck check_law(LawKind kind, std::span<const double> coefficients);

// The rules of a sampled law: radius and intensity as long as each other,
// two samples or more, the radii strictly increasing from exactly 0 to
// exactly 1 (by normal doubles), the intensities finite, ≥ 0 and not all 0
// (on any scale).
LawCheck check_samples(std::span<const double> radius, std::span<const double> intensity);

// A closed-form law as a weighted sum of the bases of star_series.hpp,
// I = Σ_f w_f f, for every kind but power-2 (whose exponent is free) and
// sampled.
std::optional<BasisWeights> closed_form_basis_weights(LawKind kind, std::span<const double> coefficients);

// A law with its coefficients or samples, owned. Checks nothing: its user
// runs check_law or check_samples first. A sampled law keeps its intensities
// divided by a power of two, the brightest in [1, 2), exactly: its moments
// and slopes neither overflow nor lose digits to subnormals, whatever the
// scale the samples came on.
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

    // I at the radius t in [0, 1] (stellar radii), a sampled law's on its
    // own scale (see above): the magnification does not depend on it.
    double at_radius(double t) const;
    // I at μ = √(1 − t²), a sampled law's on the scale of its samples; NaN
    // for a μ that is NaN or outside [0, 1], where no law is defined.
    double at_mu(double mu) const;

    // The law as a weighted sum of the bases of star_series.hpp, I = Σ_f w_f f:
    // every closed form but power-2, whose exponent is free.
    std::optional<BasisWeights> basis_weights() const;

    // ∂w_f/∂c_j for each coefficient, where basis_weights() has a value (the
    // weights are affine in the coefficients).
    std::vector<BasisWeights> basis_weight_derivatives() const;

    // The radii and brightness of a sampled law (empty for a closed form).
    std::span<const double> sample_radii() const noexcept { return radius_; }
    // (the intensities on the law's own scale: those given times intensity_scale()).
    std::span<const double> sample_intensities() const noexcept { return intensity_; }
    double intensity_scale() const noexcept { return std::ldexp(1.0, -exponent_); }

    // The interior radii where the law has a kink, ascending (the samples
    // strictly between 0 and 1 of a sampled law; none for a closed form).
    std::span<const double> kinks() const noexcept;

    // ⟨t^2k⟩ for k = 0..count − 1, the flux-weighted means of t^2k over the
    // disk (1 for k = 0), and the total flux ∫₀¹ I(t) 2t dt (a sampled law's
    // on its own scale), accurate to a few ulp.
    struct Moments {
        double flux;
        std::vector<double> means;
    };
    Moments moments(std::size_t count) const;

    // The number of the law's parameters: its coefficients, or a sampled
    // law's intensity samples.
    std::size_t parameter_count() const noexcept;

    // For each parameter c_j, ∫₀¹ (∂I/∂c_j) t^2k 2t dt for k < count (k = 0
    // the derivative of the flux), accurate to a few ulp.
    std::vector<std::vector<double>> coefficient_moments(std::size_t count) const;

private:
    LawKind kind_;
    std::array<double, 4> coefficients_{};
    std::vector<double> radius_;
    int exponent_ = 0;  // a sampled law's intensities are divided by 2^exponent_
    std::vector<double> intensity_;
    PiecewiseLinear samples_;
};

}  // namespace caldrith
