// What caldrith_ld's compiled core computes, called by its Python layer
// (caldrith_ld/__init__.py) with arrays it has already converted and
// checked: contiguous float64 in, a float64 array of the same length to
// write into.
#pragma once

#include <vector>

#include "ld/law_parameter.hpp"
#include "ld/pinned_array.hpp"
#include "lib/owned_ref.hpp"

namespace caldrith {

// out[k n + i] = the magnification of a star of radius rho (Einstein radii)
// with laws[k] at separation u[i], n = len(u). Computed without the
// interpreter lock, on the worker pool for long arrays.
PyResult<Done> ld_magnification(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws);

// The same with derivatives: for each law in turn, rows of n of the
// magnification, dA/du, dA/drho and dA/dc_j for each of its parameters.
PyResult<Done> ld_gradient(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws);

// out[i] = the law's intensity at mu[i].
PyResult<Done> ld_intensity(PinnedArray mu, PinnedArray out, long kind, std::vector<double> coefficients,
                            std::vector<double> radius, std::vector<double> intensity);

// Nothing if the law may be used, the ValueError that every function of the
// core raises for it otherwise: the Python layer's check of a law it makes.
PyResult<Done> ld_check_law(long kind, std::vector<double> coefficients, std::vector<double> radius,
                            std::vector<double> intensity);

}  // namespace caldrith
