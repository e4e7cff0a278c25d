// caldrith_ld's computation as handlers of XLA's foreign function interface,
// for caldrith_ld.jax: the primitives it defines lower to custom calls of
// these targets, which run on XLA's threads without the interpreter.
#pragma once

#include "lib/owned_ref.hpp"
#include "lib/python_error.hpp"

namespace caldrith {

// {target name: PyCapsule of its handler}, for
// jax.ffi.register_ffi_target(name, capsule, platform="cpu") (typed FFI,
// api_version 1):
//
//   caldrith_ld_magnification   the magnification, as _core.magnification
//   caldrith_ld_gradient        with its derivatives, as _core.gradient
//
// Operands u, rho and coefficients, float64, with leading batch dimensions B
// (vmap's, of any rank, possibly none): rho of shape B, u of shape (*B, *S),
// coefficients of shape (*B, m). Attributes: kind (int64, the index of the
// law's class) and radius (float64 array: a sampled law's sample radii, its
// intensity samples being the coefficients; empty for a closed form). Result,
// float64: the magnification of shape (*B, *S), or its rows of shape
// (*B, 3 + m, *S): value, dA/du, dA/drho, dA/dc_j. Each batch element is
// its own star. What cannot be checked before the call (a traced value)
// gives NaN rows: rho not finite and positive, a coefficient not finite, a
// power-2 exponent ≤ 0, sampled intensities all 0.
PyResult<OwnedRef> ld_xla_ffi_targets();

}  // namespace caldrith
