// The magnification of a uniform star much smaller than the Einstein radius
// (ρ < 1e-4) near the lens, where the Witt–Mao closed form cancels: its terms
// grow as 1/ρ² while the magnification grows as 1/ρ, so that it keeps only
// about 16 − 2 log10(1/ρ) digits.
#pragma once

namespace caldrith {

// The uniform-disk kernel takes these forms for 0 < ρ < SMALL_SOURCE_RADIUS,
// and its far-field series beyond u = SMALL_SOURCE_FAR_POSITION ρ.
inline constexpr double SMALL_SOURCE_RADIUS = 1e-4;
inline constexpr double SMALL_SOURCE_FAR_POSITION = 30.0;

// The disk of radius `rho` at separation `u` (Einstein radii, u ≤ 30ρ):
// the disk means of the first two terms of A(r) = 1/r + 3r/8 + O(r³),
//   Ā = M[1/r] + (3/8) M[r],
// within 0.04 u⁴ (3e-12 at u = 30ρ, ρ = 1e-4) plus a few ulp. NaN for a
// negative, NaN or infinite u, as the closed form, and where an elliptic
// integral fails.
double small_uniform_disk(double u, double rho);

// The disk with the lens on its limb, u = ρ exactly, for every ρ > 0 (its
// closed form arranged so that it keeps every digit as ρ → 0).
double uniform_disk_on_limb(double rho);

}  // namespace caldrith
