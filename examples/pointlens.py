"""Point-lens light curves of a finite, limb-darkened star, and their linear-flux fit.

Shared by the examples ``light_curve.py``, ``fit_mb08310.py`` and ``fit_many.py``; importable on
its own (numpy and caldrith_ld only; scipy only for ``fit_least_squares``).

Conventions: times in days, u0 and rho (the stellar radius) in Einstein radii, the lens-source
separation u(t) = sqrt(u0^2 + ((t - t0) / tE)^2), as caldrith_ld takes them.

The star's profile is the linear limb-darkening law I(mu) = 1 - c (1 - mu), mu = sqrt(1 - r^2),
with one coefficient c per photometric band, computed at every point by caldrith_ld (to 1e-8,
limb crossings included).
"""

from __future__ import annotations

import functools
import math
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

import caldrith_ld as ld

def separation(t: np.ndarray, t0: float, u0: float, te: float) -> np.ndarray:
    """Lens-source separation in Einstein radii along the straight point-lens trajectory."""
    tau = (np.asarray(t, dtype=float) - t0) / te
    return np.sqrt(u0 * u0 + tau * tau)


def point_source_magnification(u: np.ndarray | float) -> np.ndarray:
    u = np.asarray(u, dtype=float)
    return (u * u + 2.0) / (u * np.sqrt(u * u + 4.0))


@functools.lru_cache(maxsize=64)
def linear_law(coefficient: float) -> ld.Linear:
    """The linear law of a band, made (and checked) once."""
    return ld.Linear(coefficient)


def magnification(u: np.ndarray, rho: float, coefficient: float) -> np.ndarray:
    """Magnification of a limb-darkened star of radius rho at separations u (Einstein radii)."""
    return ld.magnification(u, rho, linear_law(coefficient))


@dataclass(frozen=True)
class Fitted:
    """A data set's fitted points: times, fluxes, uncertainties, weights w = 1/sigma^2 and w f, and the
    sums of w, w f and w f^2."""

    t: np.ndarray
    flux: np.ndarray
    sigma: np.ndarray
    w: np.ndarray
    wf: np.ndarray
    sw: float
    swf: float
    swff: float


@dataclass
class Dataset:
    """Photometry of one telescope and band, as fluxes with their uncertainties."""

    name: str
    band: str
    coefficient: float  # linear limb-darkening coefficient of the band
    t: np.ndarray
    flux: np.ndarray
    flux_err: np.ndarray
    error_scale: float = 1.0
    mask: np.ndarray = field(init=False)  # True for points used in the fit; all at first

    _fitted: tuple = field(init=False, repr=False, default=())

    def __post_init__(self) -> None:
        self.mask = np.ones(self.t.shape, dtype=bool)

    def fitted(self) -> Fitted:
        """The points fitted (the mask's) with their weights and the model-free sums of the fluxes'
        least squares, gathered once until the mask or the error scale changes: a fit evaluates its
        model many times over the same points."""
        key = (self.mask.tobytes(), self.error_scale)
        if not self._fitted or self._fitted[0] != key:
            m = self.mask
            t, f, s = self.t[m], self.flux[m], self.sigma[m]
            w = 1.0 / (s * s)
            self._fitted = (key, Fitted(t, f, s, w, w * f, float(w.sum()), float(w @ f), float((w * f) @ f)))
        return self._fitted[1]

    @classmethod
    def from_magnitudes(cls, name, band, coefficient, t, mag, mag_err, zero_point=18.0):
        flux = 10.0 ** (-0.4 * (np.asarray(mag, dtype=float) - zero_point))
        flux_err = flux * (0.4 * math.log(10.0)) * np.asarray(mag_err, dtype=float)
        return cls(name, band, coefficient, np.asarray(t, dtype=float), flux, flux_err)

    @property
    def sigma(self) -> np.ndarray:
        return self.flux_err * self.error_scale


def solve_fluxes(model: np.ndarray, flux: np.ndarray, sigma: np.ndarray) -> tuple[float, float]:
    """Source and blend flux of flux = fs * A + fb, by weighted linear least squares."""
    w = 1.0 / (sigma * sigma)
    s, sa, saa = w.sum(), (w * model).sum(), (w * model * model).sum()
    sf, saf = (w * flux).sum(), (w * model * flux).sum()
    det = s * saa - sa * sa
    # A model flat over the data set (trial parameters far off) leaves the fluxes undetermined:
    # det = 0 gives non-finite fluxes and so a non-finite chi^2, which the fits reject.
    with np.errstate(divide="ignore", invalid="ignore"):
        fs = (s * saf - sa * sf) / det
        fb = (saa * sf - sa * saf) / det
    return fs, fb


def weighted_residuals(params, datasets: list[Dataset]) -> np.ndarray:
    """(data - model) / sigma of every fitted point, each data set at its best source and blend flux."""
    t0, u0, te, rho = params
    out = []
    for d in datasets:
        fit = d.fitted()
        t, f, s = fit.t, fit.flux, fit.sigma
        a = magnification(separation(t, t0, u0, te), rho, d.coefficient)
        fs, fb = solve_fluxes(a, f, s)
        with np.errstate(invalid="ignore"):
            out.append((f - (fs * a + fb)) / s)
    return np.concatenate(out)


def chi2(params, datasets: list[Dataset]) -> float:
    """The chi^2 of every fitted point, each data set at its best source and blend flux: with the sums
    S_x = sum w x (w = 1/sigma^2), the normal equations give fs, fb, and the minimum is
    S_ff - fs S_af - fb S_f."""
    t0, u0, te, rho = params
    total = 0.0
    for d in datasets:
        fit = d.fitted()
        a = magnification(separation(fit.t, t0, u0, te), rho, d.coefficient)
        wa = fit.w * a
        sa, saa, saf = float(wa.sum()), float(wa @ a), float(fit.wf @ a)
        det = fit.sw * saa - sa * sa
        if not det > 0.0:
            # A model flat over the data set leaves the fluxes undetermined; the fits reject it.
            return math.inf
        fs = (fit.sw * saf - sa * fit.swf) / det
        fb = (saa * fit.swf - sa * saf) / det
        total += fit.swff - fs * saf - fb * fit.swf
    return total


def log_probability(params, datasets: list[Dataset]) -> float:
    """Log-likelihood with flat priors on t0, and on u0, tE, rho > 0; fluxes profiled out."""
    _, u0, te, rho = params
    if u0 < 0.0 or te <= 0.0 or rho <= 0.0:
        return -math.inf
    value = chi2(params, datasets)
    return -0.5 * value if math.isfinite(value) else -math.inf


@dataclass
class FitResult:
    params: np.ndarray  # t0, u0, tE, rho
    errors: np.ndarray  # 1-sigma from the covariance of the linearised problem
    chi2: float
    dof: int
    success: bool
    evaluations: int


PARAMETER_NAMES = ("t0", "u0", "tE", "rho")


def fit_least_squares(datasets: list[Dataset], start, t_ref: float = 0.0) -> FitResult:
    """Levenberg-Marquardt-type fit of (t0, u0, tE, rho); fluxes solved linearly at every step.

    The parameters are fitted as (t0 - t_ref, ln u0, ln tE, ln rho) so that they stay positive and
    are of one scale; the covariance is transformed back.
    """
    from scipy.optimize import least_squares

    def to_params(x):
        return (x[0] + t_ref, math.exp(x[1]), math.exp(x[2]), math.exp(x[3]))

    def residuals(x):
        return weighted_residuals(to_params(x), datasets)

    t0, u0, te, rho = start
    x0 = np.array([t0 - t_ref, math.log(u0), math.log(te), math.log(rho)])
    result = least_squares(residuals, x0, method="trf", x_scale=[1e-2, 1.0, 1.0, 1.0], diff_step=1e-7)
    jac = result.jac
    covariance = np.linalg.pinv(jac.T @ jac)
    params = np.array(to_params(result.x))
    jacobian_of_transform = np.array([1.0, params[1], params[2], params[3]])
    errors = np.sqrt(np.diag(covariance)) * jacobian_of_transform
    dof = result.fun.size - 4 - 2 * len(datasets)
    return FitResult(params, errors, float(result.fun @ result.fun), dof, bool(result.success), int(result.nfev))


def rescale_errors(params, datasets: list[Dataset]) -> None:
    """Scales each data set's errors so that its chi^2 per fitted point is 1, or leaves them if below."""
    for d in datasets:
        r = weighted_residuals(params, [d])
        d.error_scale *= max(1.0, math.sqrt((r @ r) / r.size))


def fit_best_of_limb_starts(datasets: list[Dataset], start, t_ref: float = 0.0) -> FitResult:
    """The lowest-chi^2 fit of three: from start, and from the lens passing at rho/2 and at 3 rho/2.

    When the lens passes near the limb (u0 ~ rho), a lens just inside and one just outside the
    star make separate minima of chi^2, and one start finds either: a simulated event of
    rho = 0.0030, u0 = 0.0031 fitted from rough values fell into the one at rho = 0.0038 (chi^2
    13 above the truth's).
    """
    t0, _, te, rho = start
    starts = (start, (t0, 0.5 * rho, te, rho), (t0, 1.5 * rho, te, rho))
    fits = [fit_least_squares(datasets, s, t_ref) for s in starts]
    best = min(fits, key=lambda fit: fit.chi2)
    best.evaluations = sum(fit.evaluations for fit in fits)
    return best


def fit_with_error_scaling(datasets: list[Dataset], start, t_ref: float = 0.0) -> FitResult:
    """Fits, scales each data set's errors up to a chi^2 of 1 per point, and fits again from there."""
    first = fit_best_of_limb_starts(datasets, start, t_ref)
    rescale_errors(first.params, datasets)
    final = fit_least_squares(datasets, first.params, t_ref)
    final.evaluations += first.evaluations
    return final


def read_ipac_table(path: Path) -> np.ndarray:
    """Columns of an IPAC table (header lines start with a backslash or a bar)."""
    rows = [line.split() for line in Path(path).read_text().splitlines() if line.strip() and line[0] not in "\\|"]
    return np.array(rows, dtype=float)
