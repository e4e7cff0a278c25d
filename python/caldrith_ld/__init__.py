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

A law's intensity must be nowhere negative on 0 ≤ μ ≤ 1, and its coefficients within ±1e4 (α > 0);
a law that breaks these rules raises ValueError naming its argument when it is made, and the
compiled core checks them again on every call. ``law(mu)`` is NaN for a μ that is NaN or outside
[0, 1]. The stellar radius ``rho`` runs over 0 < ρ ≤ 1e30. The magnification is the mean of the
point-lens magnification over the star weighted by the law, accurate to 1e-8 relative for every
law and position (see the README's accuracy table and valid ranges).

Threads: the computation releases the interpreter lock (other Python threads run meanwhile), and
long arrays are spread over caldrith's pool of worker threads (``RAYON_NUM_THREADS``). Ctrl-C
stops a long call.
"""

from __future__ import annotations

import math
import numbers
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field, fields
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

_REAL_TYPES = (numbers.Real, np.floating, np.integer)


def _number(name: str, value: object, what: str = "a real number") -> float:
    """value as a float: an int, float or Fraction, a numpy integer or float, or a 0-d array of
    one (not a bool, complex, str, Decimal, ...); TypeError or ValueError naming the argument
    otherwise. Infinities and NaN pass."""
    if type(value) is float:
        return value
    if isinstance(value, np.ndarray) and value.ndim == 0 and not isinstance(value, np.ma.MaskedArray):
        value = value[()]
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, _REAL_TYPES):
        raise TypeError(f"{name} must be {what}, not {type(value).__name__}")
    if isinstance(value, np.floating) and value.itemsize > 8:
        return float(_reals(name, value))
    try:
        return float(value)
    except OverflowError:  # an int or Fraction beyond the doubles
        raise ValueError(f"{name} must be within the range of a double, not a larger {type(value).__name__}") from None


def _real(name: str, value: object) -> float:
    """value as a finite float (see _number)."""
    number = _number(name, value)
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite, not {number!r}")
    return number


def _reals(name: str, values: object) -> npt.NDArray[np.float64]:
    """values as a contiguous float64 array of any shape, from an array or (nested) sequence of real
    numbers by the rule of _number; TypeError or ValueError naming the argument otherwise."""
    if isinstance(values, np.ma.MaskedArray):
        if np.ma.getmaskarray(values).any():
            raise ValueError(f"{name} must have no masked entries")
        values = np.ma.getdata(values)
    try:
        array = np.asarray(values)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be an array or sequence of real numbers") from error
    if array.dtype.kind == "O":
        items = [_number(name, item, "an array or sequence of real numbers") for item in array.flat]
        array = np.array(items, dtype=np.float64).reshape(array.shape)
    elif array.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be an array or sequence of real numbers, not of {array.dtype}")
    if array.dtype.kind == "f" and array.dtype.itemsize > 8:  # long double: may be beyond the doubles
        with np.errstate(over="ignore"):
            converted = np.asarray(array, dtype=np.float64, order="C")
        if np.any(np.isinf(converted) & np.isfinite(array)):
            raise ValueError(f"{name} must be within the range of a double, not a larger {array.dtype}")
        return converted
    return np.asarray(array, dtype=np.float64, order="C")


def _on_unmasked(name: str, values: object, compute: Callable[[npt.NDArray[np.float64]], Any],
                 rows: int | None = None) -> Any:
    """compute(the values as float64, see _reals), an array of their shape (with `rows`, of shape
    (rows, *their shape)); for a masked array, a masked array with the same mask, compute seeing only
    the unmasked entries (NaN under the mask)."""
    if not isinstance(values, np.ma.MaskedArray):
        return compute(_reals(name, values))
    mask = np.ma.getmaskarray(values)
    leading = () if rows is None else (rows,)
    out = np.full((*leading, *mask.shape), np.nan)
    out[..., ~mask] = compute(_reals(name, np.ma.getdata(values)[~mask]))
    return np.ma.MaskedArray(out, mask=np.broadcast_to(mask, out.shape).copy())


_FIELD_NAMES: dict[type, tuple[str, ...]] = {}


def _field_names(cls: type) -> tuple[str, ...]:
    """The names of the fields of a law's class, in order (found once per class)."""
    names = _FIELD_NAMES.get(cls)
    if names is None:
        names = _FIELD_NAMES[cls] = tuple(f.name for f in fields(cls))
    return names


class Law:
    """A radial brightness law; see the module's table. Calling it gives I(μ), for a number or an
    array of μ: NaN for a μ that is NaN or outside [0, 1]."""

    _kind: ClassVar[int]

    def __post_init__(self) -> None:
        """Converts the coefficients to floats and checks the law by the rules of the compiled core,
        which checks it again on every call."""
        for name in self._coefficient_names():
            object.__setattr__(self, name, _real(name, getattr(self, name)))
        self._check()

    def _coefficient_names(self) -> tuple[str, ...]:
        return _field_names(type(self))

    def _coefficients(self) -> tuple[float, ...]:
        return tuple(getattr(self, name) for name in self._coefficient_names())

    def _samples(self) -> tuple[tuple[float, ...], tuple[float, ...]]:
        return (), ()

    def _check(self) -> None:
        """ValueError naming the argument at fault if a coefficient is out of its range or the
        intensity is negative somewhere on 0 ≤ μ ≤ 1."""
        _core.check_law(self._kind, self._coefficients(), *self._samples())

    def __reduce__(self) -> tuple[type, tuple[Any, ...]]:
        # Unpickled and copied through the constructor, so through its checks.
        return type(self), tuple(getattr(self, name) for name in _field_names(type(self)))

    def __call__(self, mu: npt.ArrayLike) -> Any:
        radius, intensity = self._samples()
        coefficients = self._coefficients()

        def at(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
            out = np.empty(values.shape)
            _core.intensity(values.reshape(-1), out.reshape(-1), self._kind, coefficients, radius, intensity)
            return out

        out = _on_unmasked("mu", mu, at)
        return out if out.ndim or isinstance(out, np.ma.MaskedArray) else float(out)


@dataclass(frozen=True)
class Uniform(Law):
    """A uniform disk: I(μ) = 1."""

    _kind: ClassVar[int] = 0


@dataclass(frozen=True)
class Linear(Law):
    """The linear law: I(μ) = 1 − u (1 − μ)."""

    u: float
    _kind: ClassVar[int] = 1

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


@dataclass(frozen=True)
class Quadratic(Law):
    """The quadratic law: I(μ) = 1 − a (1 − μ) − b (1 − μ)²."""

    a: float
    b: float
    _kind: ClassVar[int] = 2


@dataclass(frozen=True)
class SquareRoot(Law):
    """The square-root law: I(μ) = 1 − c (1 − μ) − d (1 − √μ)."""

    c: float
    d: float
    _kind: ClassVar[int] = 3


@dataclass(frozen=True)
class Logarithmic(Law):
    """The logarithmic law: I(μ) = 1 − e (1 − μ) − f μ ln μ (μ ln μ → 0 at the limb)."""

    e: float
    f: float
    _kind: ClassVar[int] = 4


@dataclass(frozen=True)
class Power2(Law):
    """The power-2 law: I(μ) = 1 − c (1 − μ^α), α > 0."""

    c: float
    alpha: float
    _kind: ClassVar[int] = 5


@dataclass(frozen=True)
class FourParameter(Law):
    """Claret's four-parameter law: I(μ) = 1 − Σₖ₌₁⁴ aₖ (1 − μ^(k/2))."""

    a1: float
    a2: float
    a3: float
    a4: float
    _kind: ClassVar[int] = 6


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
        object.__setattr__(self, "r", tuple(radius.tolist()))
        object.__setattr__(self, "I", tuple(intensity.tolist()))
        self._check()

    def _coefficient_names(self) -> tuple[str, ...]:
        return ()

    def _samples(self) -> tuple[tuple[float, ...], tuple[float, ...]]:
        return tuple(self.r), tuple(self.I)


Laws = Law | Sequence[Law]
_Description = tuple[int, tuple[float, ...], tuple[float, ...], tuple[float, ...]]


def _describe(law: object) -> _Description:
    if not (isinstance(law, Law) and hasattr(law, "_kind")):
        raise TypeError(f"law must be a law of caldrith_ld (Uniform(), Linear(u), ...), not {type(law).__name__}")
    r, intensity = law._samples()
    return (law._kind, law._coefficients(), r, intensity)


def _laws(law: object) -> tuple[list[_Description], bool]:
    """The laws' descriptions for the core, and whether one law was given (not a sequence)."""
    if isinstance(law, Law):
        return [_describe(law)], True
    if isinstance(law, (str, bytes)) or not isinstance(law, Sequence) or len(law) == 0:
        raise TypeError("law must be a law of caldrith_ld (Uniform(), Linear(u), ...) or a non-empty sequence of them, "
                        f"not {type(law).__name__}")
    return [_describe(item) for item in law], False


def magnification(u: npt.ArrayLike, rho: SupportsFloat, law: Laws = Uniform()) -> npt.NDArray[np.float64]:
    """The magnification of a star of radius ``rho`` with brightness ``law`` at separations ``u``.

    ``u``: lens–source separations in Einstein radii, any array or sequence of real numbers (its
    shape is kept; the sign is ignored), a masked array computed where it is not masked. ``rho``:
    the stellar radius in Einstein radii, positive, at most 1e30. ``law``: a law of this module, by
    default a uniform disk; or a sequence of laws (one per band, say), which share the work.

    Returns a float64 array of the shape of ``u`` (for a sequence of laws, of shape
    ``(len(law), *u.shape)``, one row per law; a masked array with the mask of ``u``): NaN where
    ``u`` is NaN, 1 where it is infinite.
    """
    laws, single = _laws(law)
    radius = _real("rho", rho)

    def at(positions: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        out = np.empty((len(laws), *positions.shape))
        _core.magnification(positions.reshape(-1), out.reshape(-1), radius, laws)
        return out

    result: npt.NDArray[np.float64] = _on_unmasked("u", u, at, len(laws))
    return result[0] if single else result


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


def _gradient_rows(name: str, u: object, radius: float, laws: list[_Description]) -> list[npt.NDArray[np.float64]]:
    """For each law, its rows from the core at the separations `u`: value, d_u, d_rho, then one per
    coefficient (masked where u is)."""
    counts = [3 + (len(r) if kind == Sampled._kind else len(coefficients)) for kind, coefficients, r, _ in laws]

    def at(positions: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        out = np.empty((sum(counts), *positions.shape))
        _core.gradient(positions.reshape(-1), out.reshape(-1), radius, laws)
        return out

    return np.split(_on_unmasked(name, u, at, sum(counts)), np.cumsum(counts)[:-1])


def gradient(u: npt.ArrayLike, rho: SupportsFloat, law: Laws = Uniform()) -> Any:
    """The magnification of ``magnification(u, rho, law)`` with its derivatives in u, rho and the law's
    coefficients: a ``Gradient`` (a list of them for a sequence of laws).

    At the limb itself (u = rho exactly) dA/du diverges logarithmically for a law bright there."""
    laws, single = _laws(law)
    radius = _real("rho", rho)
    results = [Gradient(rows[0], rows[1], rows[2], rows[3:]) for rows in _gradient_rows("u", u, radius, laws)]
    return results[0] if single else results


_Function = Callable[[npt.NDArray[np.float64]], npt.NDArray[np.float64]]


def _trajectory(t0: SupportsFloat, u0: SupportsFloat, tE: SupportsFloat) -> tuple[_Function, _Function, float, float]:
    """The straight trajectory: τ(t) = (t − t0)/tE, u(τ) = √(u0² + τ²), and u0 and tE as floats."""
    peak = _real("t0", t0)
    impact = _real("u0", u0)
    crossing = _real("tE", tE)
    if not crossing > 0.0:
        raise ValueError(f"tE must be positive, not {crossing!r}")

    def since_peak(times: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        return (times - peak) / crossing

    def separation(tau: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        # Far enough from t0, or with a small enough tE, u overflows to inf, whose magnification 1
        # is the limit.
        with np.errstate(over="ignore"):
            return np.hypot(impact, tau)

    return since_peak, separation, impact, crossing


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
    and the Einstein time ``tE`` (positive, in the unit of ``t``). ``law`` as for ``magnification``;
    a masked ``t`` gives a masked array with its mask."""
    since_peak, separation, _, _ = _trajectory(t0, u0, tE)
    return magnification(_on_unmasked("t", t, lambda times: separation(since_peak(times))), rho, law)


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
    since_peak, separation, impact, crossing = _trajectory(t0, u0, tE)
    laws, single = _laws(law)
    radius = _real("rho", rho)
    times = _on_unmasked("t", t, lambda times: times)
    mask = np.ma.getmask(times)
    tau = since_peak(np.ma.getdata(times))
    u = separation(tau)
    positive = u > 0.0
    rate = np.zeros_like(u)

    def like_t(values: npt.NDArray[np.float64]) -> npt.NDArray[np.float64]:
        return values if mask is np.ma.nomask else np.ma.MaskedArray(values, mask=mask)

    results = []
    for rows in _gradient_rows("t", like_t(u), radius, laws):
        # dA/dt0 = −(dA/du / u) τ / tE, dA/du0 = (dA/du / u) u0, dA/dtE = τ dA/dt0: few passes over
        # the arrays, which cost as much as the far field's derivatives themselves.
        np.divide(np.ma.getdata(rows[1]), u, out=rate, where=positive)
        d_t0 = rate * tau
        d_t0 *= -1.0 / crossing
        results.append(LightCurveGradient(rows[0], like_t(d_t0), like_t(rate * impact), like_t(d_t0 * tau), rows[2],
                                          rows[3:]))
    return results[0] if single else results
