// The magnification of a source far from the lens compared with its size,
// from the mean-value expansion of the point-lens magnification instead of a
// closed form that cancels there.
#pragma once

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

}  // namespace caldrith
