// The magnification of a source far from the lens compared with its size,
// from the mean-value expansion of the point-lens magnification instead of a
// closed form that cancels there.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace caldrith {

// Below this ratio of radius to separation (ρ/u < 1/1000) the uniform-disk
// kernel takes the far-field series; see uniform_disk_far_field.
inline constexpr double FAR_FIELD_POSITION = 1000.0;

// The uniform disk of radius `rho` whose centre lies `u` from the lens (both
// in Einstein radii, u > 0): the first four terms of the disk mean
//   Ā = A(u) + (ρ²/8) ΔA(u) + (ρ⁴/192) Δ²A(u) + (ρ⁶/9216) Δ³A(u),
// A the point-lens magnification and Δ the Laplacian. The next term is below
// 0.015 (ρ/u)⁸ relative: 2e-14 at u = 30ρ, 1e-26 at u = 1000ρ. Accurate to a
// few ulp beyond u = 1000ρ up to the largest double.
double uniform_disk_far_field(double u, double rho);

// The most terms of star_far_field.
inline constexpr std::size_t STAR_FAR_FIELD_TERMS = 20;

// A star of radius `rho` with any radial profile, by its ring means:
//   Ā = A(u) [1 + 2(1 − s)²/(1 + s) Σ_{k=1..K} x^k ⟨t^2k⟩ R_k(s)],
// with `means` the profile's moments ⟨t^2k⟩ for k = 1..K (K ≤ 20). The
// terms fall as (ρ/u)^2k: 20 reach 1e-11 at u = 1.6ρ, 8 at u = 3ρ.
double star_far_field(double u, double rho, std::span<const double> means);

// star_far_field and its derivatives in u and ρ; given the derivatives of
// the moments in a law's coefficients (mean_derivatives[j][k − 1] = ∂⟨t^2k⟩/∂c_j,
// k = 1..K), also the derivatives in the coefficients, into d_coefficients.
struct FarFieldGradient {
    double value;
    double d_u;
    double d_rho;
};
FarFieldGradient star_far_field_gradient(double u, double rho, std::span<const double> means,
                                         std::span<const std::vector<double>> mean_derivatives,
                                         std::span<double> d_coefficients);

// The terms star_far_field needs at l = u/ρ ≥ 1.6 for 1e-11: 3.8 / log10 l,
// at least 3 and at most STAR_FAR_FIELD_TERMS.
std::size_t star_far_field_terms(double l);

}  // namespace caldrith
