"""The fluxes of a light curve by linear least squares, and the chi² gradient with them profiled out.

A data set's flux is F_i = F_s A_i + F_b: the source flux F_s times the magnification plus the
blend F_b. At given light-curve parameters θ (so given A), the fluxes that minimise
χ² = Σ_i w_i (F_i − F_s A_i − F_b)², w_i = 1/σ_i², are linear in the data:

    F_s = Σ w (A − Ā)(F − F̄) / Σ w (A − Ā)²,   F_b = F̄ − F_s Ā,

Ā and F̄ the weighted means (F_s = Σ w A F / Σ w A² and F_b = 0 with the blend fixed at 0).
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt

# A magnification whose weighted spread is below this fraction of its weighted square is constant
# to rounding: the source and a free blend are then not separable.
_CONSTANT = (64.0 * np.finfo(np.float64).eps) ** 2


@dataclass(frozen=True)
class FluxFit:
    """The best fluxes of ``fit_fluxes``, the χ² there and, if asked for, its gradient ``d_chi2``
    (one value per row of ``d_magnification``)."""

    source: float
    blend: float
    chi2: float
    d_chi2: npt.NDArray[np.float64] | None = None


def _least_squares(xp: Any, magnification: Any, flux: Any, weight: Any, blend: bool) -> tuple[Any, Any, Any, Any, Any]:
    """(source, blend, residuals, spread, square) for the array module ``xp`` (numpy or jax.numpy):
    the residuals F − F_s A − F_b, the weighted spread of A that F_s divides by, and Σ w A²."""
    square = xp.sum(weight * magnification * magnification)
    if blend:
        total = xp.sum(weight)
        mean_a = xp.sum(weight * magnification) / total
        mean_f = xp.sum(weight * flux) / total
        centred = magnification - mean_a
        spread = xp.sum(weight * centred * centred)
        source = xp.sum(weight * centred * (flux - mean_f)) / spread
        blend_flux = mean_f - source * mean_a
    else:
        spread = square
        source = xp.sum(weight * magnification * flux) / spread
        blend_flux = xp.zeros_like(source)
    return source, blend_flux, flux - source * magnification - blend_flux, spread, square


def _separable(spread: Any, square: Any, blend: bool) -> Any:
    """Whether the fluxes are determined: a magnification not constant (free blend), not all 0."""
    return spread > _CONSTANT * square if blend else spread > 0.0


def _array(name: str, values: npt.ArrayLike) -> npt.NDArray[np.float64]:
    try:
        return np.asarray(values, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be an array of real numbers") from error


def fit_fluxes(
    magnification: npt.ArrayLike,
    flux: npt.ArrayLike,
    sigma: npt.ArrayLike,
    blend: bool = True,
    d_magnification: npt.ArrayLike | None = None,
) -> FluxFit:
    """The source and blend fluxes of flux = source · magnification + blend by weighted linear least
    squares (weights 1/sigma²), and χ² at them; ``blend=False`` fixes the blend at 0.

    ``magnification``, ``flux`` and ``sigma`` are arrays of one shape (sigma finite and positive).
    With ``d_magnification``, of shape ``(p, *magnification.shape)``: the derivatives of the
    magnification in p light-curve parameters θ_k, the result's ``d_chi2`` is the gradient of the
    profiled χ² (the fluxes at their best for every θ),

        dχ²/dθ_k = −2 Σ_i r_i F_s (∂A_i/∂θ_k) / σ_i²,   r_i = F_i − F_s A_i − F_b,

    the residuals at the best fluxes: the terms of the fluxes' own derivatives vanish there, as χ² is
    stationary in them (the envelope theorem). With ``light_curve_gradient``::

        g = ld.light_curve_gradient(t, t0, u0, tE, rho, law)
        fit = ld.fit_fluxes(g.value, flux, sigma, d_magnification=[g.d_t0, g.d_u0, g.d_tE, g.d_rho])
        fit.d_chi2                                  # dχ²/d(t0, u0, tE, rho)

    ValueError, naming the argument: arrays of other shapes, empty, not finite, a sigma ≤ 0, and a
    magnification that leaves the fluxes undetermined (constant over the data with a free blend, or
    0 everywhere).
    """
    a = _array("magnification", magnification)
    if a.size == 0:
        raise ValueError("magnification must not be empty")
    arrays = {"magnification": a, "flux": _array("flux", flux), "sigma": _array("sigma", sigma)}
    for name, values in arrays.items():
        if values.shape != a.shape:
            raise ValueError(f"{name} must have the shape of magnification, {a.shape}, not {values.shape}")
        if not np.all(np.isfinite(values)):
            raise ValueError(f"{name} must be finite")
    s = arrays["sigma"]
    if not np.all(s > 0.0):
        raise ValueError(f"sigma must be positive, not {s.flat[int(np.argmin(s))]!r}")
    weight = 1.0 / (s * s)
    with np.errstate(divide="ignore", invalid="ignore"):  # undetermined fluxes are refused next
        source, blend_flux, residual, spread, square = _least_squares(np, a, arrays["flux"], weight, bool(blend))
    if not _separable(spread, square, bool(blend)):
        raise ValueError("magnification is constant over the data: the source and a free blend flux are not separable"
                         if blend else "magnification is 0 everywhere: the source flux is undetermined")
    chi2 = float(np.sum(weight * residual * residual))
    gradient = None
    if d_magnification is not None:
        d_a = _array("d_magnification", d_magnification)
        if d_a.ndim != a.ndim + 1 or d_a.shape[1:] != a.shape:
            raise ValueError(f"d_magnification must have the shape (p, *{a.shape}), not {d_a.shape}")
        gradient = -2.0 * source * (d_a.reshape(len(d_a), -1) @ (weight * residual).ravel())
    return FluxFit(float(source), float(blend_flux), chi2, gradient)
