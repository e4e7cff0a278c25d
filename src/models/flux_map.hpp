// Magnification of a star whose radial brightness profile is given as
// samples: radii `bl` (stellar radii) and brightness `bf`, of equal length.
// Unequal lengths are an internal fault, detected before anything else.
#pragma once

#include <span>
#include <vector>

#include "common/expected.hpp"

namespace caldrith {

// Σ_j bf[j] × (thin-ring magnification of radius bl[j]) for each position:
// each sample is a ring of weight bf[j]. Fails with the first thin-ring error.
// Asks whether to stop (Interrupted) before the first position and then
// about every 256 rings.
Outcome<std::vector<double>> discrete_flux_map_heyrovsky_magnification(
    std::span<const double> l, double re, double rstar, std::span<const double> bl,
    std::span<const double> bf);

// The interpolated profile integrated over the disk ring by ring, each ring's
// magnification from the uniform-disk kernel by a difference of two disks,
// divided by the profile's total flux. NaN where the uniform disk is NaN.
std::vector<double> integrated_flux_map_witt_mao_magnification(
    std::span<const double> l, double re, double rstar, std::span<const double> bl,
    std::span<const double> bf);

// The interpolated profile integrated with the thin-ring kernel, divided by
// the profile's total flux (see _integrated_heyrovsky_magnification).
std::vector<double> integrated_flux_map_heyrovsky_magnification(
    std::span<const double> l, double re, double rstar, std::span<const double> bl,
    std::span<const double> bf);

}  // namespace caldrith
