// Complete elliptic integrals in Legendre form (parameter m = k^2) and the
// Carlson symmetric integrals they rest on. Pure functions: no state, no
// allocation, safe on any number of threads.
#pragma once

#include "common/expected.hpp"

namespace caldrith {

// K(m) = int_0^{pi/2} dθ / sqrt(1 - m sin^2 θ); +inf at m = 1, 0 at m = -inf.
// Errors: NaN m, m > 1, finite m with 20 m below -2^63.
Outcome<double> ellipk(double m);

// E(m) = int_0^{pi/2} sqrt(1 - m sin^2 θ) dθ; 1 at m = 1, +inf at m = -inf.
// Errors: NaN m, m > 1.
Outcome<double> ellipe(double m);

// Π(n, m) = int_0^{pi/2} dθ / ((1 - n sin^2 θ) sqrt(1 - m sin^2 θ)), the
// characteristic n first; the Cauchy principal value for n > 1.
// Errors: n = 1, m > 1 or NaN arguments with a non-finite result, a non-finite
// result that has no limit to report, and the errors of ellipk and ellipe
// for n = 1 + 2^-52.
Outcome<double> ellippi(double n, double m);

// RF(x, y, z) = 1/2 int_0^inf dt / sqrt((t+x)(t+y)(t+z)).
// No domain checks; NaN when the duplication does not converge.
double elliprf(double x, double y, double z);

// RD(x, y, z) = RJ(x, y, z, z).
// No domain checks; NaN when the duplication does not converge.
double elliprd(double x, double y, double z);

// RJ(x, y, z, p) = 3/2 int_0^inf dt / ((t+p) sqrt((t+x)(t+y)(t+z))), the
// Cauchy principal value for p <= 0.
// No domain checks; NaN when the duplication does not converge.
double elliprj(double x, double y, double z, double p);

}  // namespace caldrith
