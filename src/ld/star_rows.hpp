// The layout of caldrith_ld's results in one flat array of doubles, shared
// by the Python functions (functions.cpp) and XLA's FFI handlers
// (xla_ffi.cpp), and the computation that fills it. Free of Python objects:
// it runs on any thread, with or without the interpreter.
//
// For each law in turn, rows as long as the positions: the magnification,
// then, with derivatives, dA/du, dA/dρ and dA/dc_j for each of the law's
// parameters (its coefficients in constructor order, or a sampled law's
// intensity samples).
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "models/limb_darkened.hpp"

namespace caldrith {

// The number of rows of one law.
std::size_t star_row_count(const LimbDarkeningLaw& law, bool derivatives);

// The columns of `laws` over `out`, rows of n doubles in the order above.
std::vector<StarColumns> star_rows(double* out, std::size_t n, std::span<const LimbDarkeningLaw* const> laws,
                                   bool derivatives);

// Every law's rows at the positions u, for a star of radius rho > 0, on the
// worker pool for long arrays. Throws a Fault for an internal fault, and
// Interrupted when the calling thread's interruption check asks to stop.
void compute_star_rows(std::span<const double> u, double rho, std::span<const LimbDarkeningLaw* const> laws,
                       std::span<const StarColumns> columns);

}  // namespace caldrith
