"""Finite-source point-lens magnification for modellers: any limb-darkening law, numpy in and out.

::

    import numpy as np
    import caldrith_ld as ld

    u = np.linspace(0.0, 0.05, 10_000)                      # separations, Einstein radii
    A = ld.magnification(u, rho=0.01, law=ld.Quadratic(0.4, 0.25))
    A_disk = ld.magnification(u, 0.01)                     # a uniform disk
    A_t = ld.light_curve(t, t0, u0, tE, rho, law)          # along the straight trajectory

Conventions
-----------
Lengths are in Einstein radii: ``u`` is the lens–source separation, ``rho`` the radius of the star.
caldrith's own eight functions take instead the separation in stellar radii, ``l = u / rho``, with
``re = 1`` and ``rstar = rho``: ``caldrith.witt_mao_magnification(u / rho, 1.0, rho)`` is the
uniform disk of ``magnification(u, rho)``.

A law gives the surface brightness I(μ) at μ = cos θ = √(1 − r²), r the radius on the star in
stellar radii, normalised to the centre, I(1) = 1, with the coefficients as catalogues (Claret's
among them) tabulate them:

==================  ====================================  =================================
law                 I(μ)                                  class
==================  ====================================  =================================
uniform             1                                     ``Uniform()``
linear              1 − u (1 − μ)                         ``Linear(u)``
quadratic           1 − a (1 − μ) − b (1 − μ)²            ``Quadratic(a, b)``
square root         1 − c (1 − μ) − d (1 − √μ)            ``SquareRoot(c, d)``
logarithmic         1 − e (1 − μ) − f μ ln μ              ``Logarithmic(e, f)``
power-2             1 − c (1 − μ^α)                       ``Power2(c, alpha)``
four-parameter      1 − Σₖ₌₁⁴ aₖ (1 − μ^(k/2))            ``FourParameter(a1, a2, a3, a4)``
tabulated           linear in r between samples            ``Sampled(r, I)``
==================  ====================================  =================================

The other common convention of the linear law, normalised to the mean brightness,
I(μ) ∝ 1 − Γ (1 − 3μ/2), is the same law with u = 3Γ / (2 + Γ) (Γ = 2u / (3 − u)):
``Linear.from_gamma(Γ)``. A ``Sampled`` profile takes radii r from 0 to 1, strictly increasing,
and the brightness at each on any scale.

Every law must be bright nowhere negative on 0 ≤ μ ≤ 1; a law that is raises ValueError when it
is made. The magnification is the mean of the point-lens magnification over the star weighted by
the law, accurate to 1e-8 relative for every law and position (see the README's accuracy table).

Threads: the computation releases the interpreter lock (other Python threads run meanwhile), and
long arrays are spread over caldrith's pool of worker threads (``RAYON_NUM_THREADS``). Ctrl-C
stops a long call.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import Any, ClassVar, SupportsFloat

import numpy as np
import numpy.typing as npt

from caldrith_ld import _core
from caldrith_ld._fluxes import FluxFit, fit_fluxes

__all__ = [
    "Law",
    "Uniform",
    "Linear",
    "Quadratic",
    "SquareRoot",
    "Logarithmic",
    "Power2",
    "FourParameter",
    "Sampled",
    "magnification",
    "light_curve",
    "gradient",
    "light_curve_gradient",
    "Gradient",
    "LightCurveGradient",
    "fit_fluxes",
    "FluxFit",
]

# The smallest intensity a law may reach on 0 ≤ μ ≤ 1: 0, up to the rounding of its coefficients
# (Quadratic(0.7, 0.3) is exactly 0 at the limb).
_NEGATIVE_INTENSITY = -1e-12


def _real(name: str, value: object) -> float:
    """value as a finite float; TypeError or ValueError naming the argument otherwise."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (numbers.Real, np.floating, np.integer)):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    number = float(value)
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite, not {number!r}")
    return number


def _reals(name: str, values: object) -> npt.NDArray[np.float64]:
    """values as a contiguous float64 array of any shape; TypeError naming the argument if they are
    not real numbers."""
    try:
        array = np.asarray(values)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be an array or sequence of real numbers") from error
    if array.dtype.kind == "O":
        try:
            array = array.astype(np.float64)
        except (TypeError, ValueError) as error:
            raise TypeError(f"{name} must be an array or sequence of real numbers") from error
    elif array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be an array or sequence of real numbers, not of {array.dtype}")
    return np.asarray(array, dtype=np.float64, order="C")


class Law:
    """A radial brightness law; see the module's table. Calling it gives I(μ), for a number or an
    array of μ in [0, 1]."""

    _kind: ClassVar[int]

    def _coefficients(self) -> tuple[float, ...]:
        return ()

    def _samples(self) -> tuple[tuple[float, ...], tuple[float, ...]]:
        return (), ()

    def __call__(self, mu: npt.ArrayLike) -> Any:
        values = _reals("mu", mu)
        out = np.empty(values.shape)
        radius, intensity = self._samples()
        _core.intensity(values.ravel(), out.reshape(-1), self._kind, self._coefficients(), radius, intensity)
        return out if out.ndim else float(out)

    def _check(self) -> None:
        """Refuses a law whose intensity is negative somewhere on 0 ≤ μ ≤ 1."""
        value, mu = _core.minimum_intensity(self._kind, self._coefficients())
        if value < _NEGATIVE_INTENSITY:
            raise ValueError(f"{self!r}: the intensity is negative at μ = {mu:.6g} ({value:.3g}); "
                             "a law must be ≥ 0 on 0 ≤ μ ≤ 1")


@dataclass(frozen=True)
class Uniform(Law):
    """A uniform disk: I(μ) = 1."""

    _kind: ClassVar[int] = 0


@dataclass(frozen=True)
class Linear(Law):
    """The linear law: I(μ) = 1 − u (1 − μ)."""

    u: float
    _kind: ClassVar[int] = 1

    def __post_init__(self) -> None:
        object.__setattr__(self, "u", _real("u", self.u))
        self._check()

    @classmethod
    def from_gamma(cls, gamma: SupportsFloat) -> Linear:
        """The linear law in the convention normalised to the mean brightness,
        I(μ) ∝ 1 − Γ (1 − 3μ/2): u = 3Γ / (2 + Γ)."""
        g = _real("gamma", gamma)
        if g == -2.0:
            raise ValueError("gamma must not be -2")
        return cls(3.0 * g / (2.0 + g))

    @property
    def gamma(self) -> float:
        """Γ = 2u / (3 − u), the coefficient in the convention normalised to the mean brightness."""
        return 2.0 * self.u / (3.0 - self.u)

    def _coefficients(self) -> tuple[float, ...]:
        return (self.u,)


@dataclass(frozen=True)
class Quadratic(Law):
    """The quadratic law: I(μ) = 1 − a (1 − μ) − b (1 − μ)²."""

    a: float
    b: float
    _kind: ClassVar[int] = 2

    def __post_init__(self) -> None:
        _take(self, "a", "b")

    def _coefficients(self) -> tuple[float, ...]:
        return (self.a, self.b)


@dataclass(frozen=True)
class SquareRoot(Law):
    """The square-root law: I(μ) = 1 − c (1 − μ) − d (1 − √μ)."""

    c: float
    d: float
    _kind: ClassVar[int] = 3

    def __post_init__(self) -> None:
        _take(self, "c", "d")

    def _coefficients(self) -> tuple[float, ...]:
        return (self.c, self.d)


@dataclass(frozen=True)
class Logarithmic(Law):
    """The logarithmic law: I(μ) = 1 − e (1 − μ) − f μ ln μ (μ ln μ → 0 at the limb)."""

    e: float
    f: float
    _kind: ClassVar[int] = 4

    def __post_init__(self) -> None:
        _take(self, "e", "f")

    def _coefficients(self) -> tuple[float, ...]:
        return (self.e, self.f)


@dataclass(frozen=True)
class Power2(Law):
    """The power-2 law: I(μ) = 1 − c (1 − μ^α), α > 0."""

    c: float
    alpha: float
    _kind: ClassVar[int] = 5

    def __post_init__(self) -> None:
        object.__setattr__(self, "c", _real("c", self.c))
        object.__setattr__(self, "alpha", _real("alpha", self.alpha))
        if not self.alpha > 0.0:
            raise ValueError(f"alpha must be positive, not {self.alpha!r}")
        self._check()

    def _coefficients(self) -> tuple[float, ...]:
        return (self.c, self.alpha)


@dataclass(frozen=True)
class FourParameter(Law):
    """Claret's four-parameter law: I(μ) = 1 − Σₖ₌₁⁴ aₖ (1 − μ^(k/2))."""

    a1: float
    a2: float
    a3: float
    a4: float
    _kind: ClassVar[int] = 6

    def __post_init__(self) -> None:
        _take(self, "a1", "a2", "a3", "a4")

    def _coefficients(self) -> tuple[float, ...]:
        return (self.a1, self.a2, self.a3, self.a4)


@dataclass(frozen=True)
class Sampled(Law):
    """A tabulated profile: the brightness I[j] at radius r[j] (stellar radii), linear in r between
    the samples. The radii run from exactly 0 to exactly 1, strictly increasing; the brightness, on
    any scale, is finite, ≥ 0 and not 0 everywhere."""

    r: Sequence[float] = field()
    I: Sequence[float] = field()  # noqa: E741 (the usual name of an intensity)
    _kind: ClassVar[int] = 7

    def __post_init__(self) -> None:
        radius = _reals("r", self.r)
        intensity = _reals("I", self.I)
        if radius.ndim != 1 or intensity.ndim != 1:
            raise ValueError("r and I must be one-dimensional")
        if len(radius) != len(intensity):
            raise ValueError(f"r and I must be as long as each other, not {len(radius)} and {len(intensity)}")
        if len(radius) < 2:
            raise ValueError("r and I need two samples or more (the centre and the limb)")
        if not (np.all(np.isfinite(radius)) and radius[0] == 0.0 and radius[-1] == 1.0
                and np.all(np.diff(radius) > 0.0)):
            raise ValueError("r must increase strictly from exactly 0 to exactly 1")
        if not np.all(np.isfinite(intensity)) or np.any(intensity < 0.0):
            raise ValueError("I must be finite and ≥ 0")
        if not np.any(intensity > 0.0):
            raise ValueError("I must not be 0 everywhere")
        object.__setattr__(self, "r", tuple(radius.tolist()))
        object.__setattr__(self, "I", tuple(intensity.tolist()))

    def _samples(self) -> tuple[tuple[float, ...], tuple[float, ...]]:
        return tuple(self.r), tuple(self.I)


def _take(law: Law, *names: str) -> None:
    """Converts the named coefficients of a law to floats and checks the law."""
    for name in names:
        object.__setattr__(law, name, _real(name, getattr(law, name)))
    law._check()


Laws = Law | Sequence[Law]


def _describe(law: object) -> tuple[int, tuple[float, ...], tuple[float, ...], tuple[float, ...]]:
    if not isinstance(law, Law):
        raise TypeError(f"law must be a law of caldrith_ld (Uniform(), Linear(u), ...), not {type(law).__name__}")
    r, intensity = law._samples()
    return (law._kind, law._coefficients(), r, intensity)


def _laws(law: object) -> tuple[list[tuple[int, tuple[float, ...], tuple[float, ...], tuple[float, ...]]], bool]:
    """The laws' descriptions for the core, and whether one law was given (not a sequence)."""
    if isinstance(law, Law):
        return [_describe(law)], True
    if isinstance(law, (str, bytes)) or not isinstance(law, Sequence) or len(law) == 0:
        raise TypeError("law must be a law of caldrith_ld (Uniform(), Linear(u), ...) or a non-empty sequence of them, "
                        f"not {type(law).__name__}")
    return [_describe(item) for item in law], False


def _radius(rho: SupportsFloat) -> float:
    radius = _real("rho", rho)
    if not radius > 0.0:
        raise ValueError(f"rho must be positive, not {radius!r}")
    return radius


def magnification(u: npt.ArrayLike, rho: SupportsFloat, law: Laws = Uniform()) -> npt.NDArray[np.float64]:
    """The magnification of a star of radius ``rho`` with brightness ``law`` at separations ``u``.

    ``u``: lens–source separations in Einstein radii, any array or sequence of real numbers (its
    shape is kept; the sign is ignored). ``rho``: the stellar radius in Einstein radii, finite and
    positive. ``law``: a law of this module, by default a uniform disk; or a sequence of laws (one
    per band, say), which share the work.

    Returns a float64 array of the shape of ``u`` (for a sequence of laws, of shape
    ``(len(law), *u.shape)``, one row per law): NaN where ``u`` is NaN, 1 where it is infinite.
    """
    laws, single = _laws(law)
    radius = _radius(rho)
    positions = _reals("u", u)
    out = np.empty((len(laws), *positions.shape))
    _core.magnification(positions.reshape(-1), out.reshape(-1), radius, laws)
    return out[0] if single else out


@dataclass(frozen=True)
class Gradient:
    """A magnification with its derivatives, each an array of the positions' shape:
    ``d_u`` at fixed rho (its sign follows u's), ``d_rho`` at fixed u, and ``d_coefficients``
    of shape ``(n, *u.shape)``, one row per coefficient of the law in its constructor's order
    (Power2: c, alpha; Sampled: each intensity sample; Uniform: none)."""

    value: npt.NDArray[np.float64]
    d_u: npt.NDArray[np.float64]
    d_rho: npt.NDArray[np.float64]
    d_coefficients: npt.NDArray[np.float64]


def _gradient_rows(positions: npt.NDArray[np.float64], radius: float,
                   laws: list[tuple[int, tuple[float, ...], tuple[float, ...], tuple[float, ...]]]) -> list[npt.NDArray[np.float64]]:
    """For each law, its rows of derivatives from the core: value, d_u, d_rho, then one per coefficient."""
    counts = [3 + (len(r) if kind == Sampled._kind else len(coefficients)) for kind, coefficients, r, _ in laws]
    out = np.empty((sum(counts), *positions.shape))
    _core.gradient(positions.reshape(-1), out.reshape(-1), radius, laws)
    return np.split(out, np.cumsum(counts)[:-1])


def gradient(u: npt.ArrayLike, rho: SupportsFloat, law: Laws = Uniform()) -> Any:
    """The magnification of ``magnification(u, rho, law)`` with its derivatives in u, rho and the law's
    coefficients: a ``Gradient`` (a list of them for a sequence of laws).

    At the limb itself (u = rho exactly) dA/du diverges logarithmically for a law bright there."""
    laws, single = _laws(law)
    radius = _radius(rho)
    positions = _reals("u", u)
    results = [Gradient(rows[0], rows[1], rows[2], rows[3:]) for rows in _gradient_rows(positions, radius, laws)]
    return results[0] if single else results


def _trajectory(t: npt.ArrayLike, t0: SupportsFloat, u0: SupportsFloat, tE: SupportsFloat
                ) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.float64], float, float]:
    """u(t) on the straight trajectory, with tau = (t - t0)/tE, u0 and tE as floats."""
    times = _reals("t", t)
    peak = _real("t0", t0)
    impact = _real("u0", u0)
    crossing = _real("tE", tE)
    if not crossing > 0.0:
        raise ValueError(f"tE must be positive, not {crossing!r}")
    tau = (times - peak) / crossing
    return np.hypot(impact, tau), tau, impact, crossing


def light_curve(
    t: npt.ArrayLike,
    t0: SupportsFloat,
    u0: SupportsFloat,
    tE: SupportsFloat,
    rho: SupportsFloat,
    law: Laws = Uniform(),
) -> npt.NDArray[np.float64]:
    """The magnification at times ``t`` of a source on a straight trajectory past the lens:
    u(t) = √(u0² + ((t − t0) / tE)²), with the closest approach ``u0`` (Einstein radii) at ``t0``
    and the Einstein time ``tE`` (positive, in the unit of ``t``). ``law`` as for ``magnification``."""
    u, _, _, _ = _trajectory(t, t0, u0, tE)
    return magnification(u, rho, law)


@dataclass(frozen=True)
class LightCurveGradient:
    """A light curve with its derivatives in t0, u0, tE, rho and the law's coefficients, each of the times'
    shape (``d_coefficients`` of shape ``(n, *t.shape)``, as in ``Gradient``)."""

    value: npt.NDArray[np.float64]
    d_t0: npt.NDArray[np.float64]
    d_u0: npt.NDArray[np.float64]
    d_tE: npt.NDArray[np.float64]
    d_rho: npt.NDArray[np.float64]
    d_coefficients: npt.NDArray[np.float64]


def light_curve_gradient(
    t: npt.ArrayLike,
    t0: SupportsFloat,
    u0: SupportsFloat,
    tE: SupportsFloat,
    rho: SupportsFloat,
    law: Laws = Uniform(),
) -> Any:
    """``light_curve`` with its derivatives: a ``LightCurveGradient`` (a list of them for a sequence of laws).

    With u = √(u0² + τ²), τ = (t − t0)/tE: ∂u/∂t0 = −τ/(tE u), ∂u/∂u0 = u0/u, ∂u/∂tE = −τ²/(tE u); where
    u = 0 the derivatives in t0, u0 and tE are 0 (A is even in u there)."""
    u, tau, impact, crossing = _trajectory(t, t0, u0, tE)
    laws, single = _laws(law)
    radius = _radius(rho)
    with np.errstate(invalid="ignore", divide="ignore"):
        inverse = np.where(u > 0.0, 1.0 / u, 0.0)
    du_dt0 = -tau / crossing * inverse
    du_du0 = impact * inverse
    du_dtE = -tau * tau / crossing * inverse
    results = []
    for rows in _gradient_rows(u, radius, laws):
        d_u = rows[1]
        results.append(LightCurveGradient(rows[0], d_u * du_dt0, d_u * du_du0, d_u * du_dtE, rows[2], rows[3:]))
    return results[0] if single else results
