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

// The ring's gap |r − l| below which the logarithmic expansion replaces the
// closed form, as heyrovsky_magnification uses it.
inline constexpr double NEAR_RING_WINDOW = 1e-5;

// The largest of |l|, |r| and re/rstar that the kernel takes as it is;
// beyond it (finite) all three are first scaled by a power of two.
inline constexpr double LARGE_RING_LENGTH = 0x1p500;

// The same kernel with the expansion taken where |r − l| < near_ring_window.
// The expansion holds for gaps small relative to l; a window proportional to
// l keeps it from rings near a lens that is itself near the centre (l → 0),
// where it diverges.
Outcome<double> heyrovsky_magnification_within(double l, double r, double re, double rstar, double near_ring_window);

}  // namespace caldrith
