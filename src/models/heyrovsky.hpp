// Magnification of a thin ring of a star by a point lens (Heyrovsky 2003,
// ApJ 594, 464), in closed form with complete elliptic integrals.
#pragma once

#include "common/expected.hpp"

namespace caldrith {

// The mean point-lens magnification over a ring of radius `r` about the
// star's centre, the centre lying `l` from the lens (both in stellar radii);
// `re` and `rstar` are the Einstein and stellar radii in one unit. Fails
// with the message of the first elliptic integral that fails.
Outcome<double> heyrovsky_magnification(double l, double r, double re, double rstar);

}  // namespace caldrith
