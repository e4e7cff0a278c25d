// The magnification of a uniform disk through Bulirsch's cel (the formula of
// point_lens_means.hpp), with its derivatives: the disk of radius ρ whose
// centre lies l stellar radii from the lens (u = lρ Einstein radii). About
// 1e-15 relative at every ρ and l, the limb included (the lens exactly on the
// limb takes its own closed form).
#pragma once

namespace caldrith {

double uniform_disk_mean(double l, double rho);

// The magnification, ∂/∂l at fixed ρ and ∂/∂ρ at fixed l, the derivatives
// to about ε/|l − 1| relative near the limb (terms of order 1/(l − 1) cancel
// to the logarithm of the limb). With the lens on the limb (l = 1) both are
// infinite (they diverge as ln|l − 1| from either side): −∞ for ∂/∂l, +∞
// for ∂/∂ρ.
struct DiskDerivatives {
    double value;
    double d_l;
    double d_rho;
};
DiskDerivatives uniform_disk_derivatives(double l, double rho);

}  // namespace caldrith
