// A star's magnification with its derivatives in the separation u (at fixed
// ρ) and in the stellar radius ρ (at fixed u); the derivatives in a law's
// parameters travel beside it, in the law's constructor order.
#pragma once

namespace caldrith {

struct StarDerivatives {
    double value;
    double d_u;
    double d_rho;
};

}  // namespace caldrith
