"""Limb-darkening laws as brightness samples for the flux-map functions of caldrith.

caldrith_ld computes the magnification of a star with any of these laws directly
(``caldrith_ld.magnification(u, rho, law)``), and its law classes are the ones used here.
caldrith's own limb-darkened functions fix one law (linear, coefficient 0.6); any other radial
profile goes through its flux maps, which take it as samples: radii ``bl`` in stellar radii
(0 the centre, 1 the limb, ascending) and the surface brightness ``bf`` at each, joined by
linear interpolation. This module turns the common laws into such samples::

    import caldrith
    import limb_darkening as ld

    bl, bf = ld.samples(ld.Quadratic(0.4, 0.25))          # default placement and count
    caldrith.integrated_flux_map_heyrovsky_magnification(positions, re, rstar, bl, bf)

The laws are written in μ = cos θ = √(1 − r²), r the radius on the disk in stellar radii, with
the coefficients as catalogues (Claret's among them) tabulate them, and normalised to the
centre, I(μ = 1) = 1:

==================  ====================================================  ==================
law                 I(μ) / I(1)                                           class
==================  ====================================================  ==================
uniform             1                                                     ``Uniform()``
linear              1 − u (1 − μ)                                         ``Linear(u)``
quadratic           1 − a (1 − μ) − b (1 − μ)²                            ``Quadratic(a, b)``
square-root         1 − c (1 − μ) − d (1 − √μ)                            ``SquareRoot(c, d)``
logarithmic         1 − e (1 − μ) − f μ ln μ                              ``Logarithmic(e, f)``
power-2             1 − c (1 − μ^α)                                       ``Power2(c, alpha)``
four-parameter      1 − Σₖ₌₁⁴ aₖ (1 − μ^(k/2))                             ``FourParameter(a1, a2, a3, a4)``
==================  ====================================================  ==================

The flux maps divide by the profile's own total flux, so the scale of ``bf`` does not matter.

Sample placements (functions of the number of samples, each returning ascending radii from
exactly 0 to exactly 1): ``uniform_in_radius`` (rₖ = k / (n − 1)), ``uniform_in_mu``
(μₖ = 1 − k / (n − 1)), ``sine`` (rₖ = sin(π k / (2 (n − 1))), uniform in the angle θ with
μ = cos θ: even spacing in r at the centre, even spacing in μ at the limb) and
``power(exponent)`` (rₖ = 1 − (1 − k / (n − 1))^exponent, denser towards the limb for an
exponent above 1). The laws bend most at the limb, where μ falls to 0 with infinite slope in r,
so placements denser towards the limb need the fewest samples. The default, ``power(3.5)`` with
80 samples, brings each law measured in docs/limb_darkening.md (one representative set of
coefficients each) within 1e-5 of the exact law through
``integrated_flux_map_heyrovsky_magnification``; that page gives the accuracy of each placement
and count, measured against high-precision references.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence

from caldrith_ld import FourParameter, Law, Linear, Logarithmic, Power2, Quadratic, SquareRoot, Uniform

__all__ = [
    "Uniform", "Linear", "Quadratic", "SquareRoot", "Logarithmic", "Power2", "FourParameter", "Law", "LAWS",
    "mu_at", "uniform_in_radius", "uniform_in_mu", "sine", "power", "samples", "DEFAULT_PLACEMENT", "DEFAULT_COUNT",
]

Placement = Callable[[int], list[float]]


# Laws: those of caldrith_ld, each a callable I(μ) / I(1) for μ in [0, 1].

# The laws by name, as the names appear in docs/limb_darkening.md; each takes its coefficients in
# the order of the formulas above, for example LAWS["quadratic"](0.4, 0.25).
LAWS: dict[str, Callable[..., Law]] = {
    "uniform": Uniform,
    "linear": Linear,
    "quadratic": Quadratic,
    "square-root": SquareRoot,
    "logarithmic": Logarithmic,
    "power-2": Power2,
    "four-parameter": FourParameter,
}


def mu_at(radius: float) -> float:
    """μ = √(1 − r²) at radius r in stellar radii, taken as √((1 − r)(1 + r)) to keep its digits
    near the limb; 0 at and beyond the limb."""
    return math.sqrt((1.0 - radius) * (1.0 + radius)) if radius < 1.0 else 0.0


# ---------------------------------------------------------------------------------------------
# Placements: ascending radii from exactly 0 to exactly 1.


def _fractions(count: int) -> list[float]:
    if count < 2:
        raise ValueError(f"a placement needs at least 2 samples (the centre and the limb), not {count}")
    return [k / (count - 1) for k in range(count)]


def uniform_in_radius(count: int) -> list[float]:
    """rₖ = k / (n − 1), k = 0 … n − 1."""
    return _fractions(count)


def uniform_in_mu(count: int) -> list[float]:
    """μₖ = 1 − k / (n − 1), that is rₖ = √(1 − μₖ²): sparse at the centre, dense at the limb."""
    return [mu_at(1.0 - x) for x in _fractions(count)]


def sine(count: int) -> list[float]:
    """rₖ = sin(π k / (2 (n − 1))): uniform in θ, μ = cos θ; even in r at the centre, in μ at the limb."""
    radii = [math.sin(math.pi / 2 * x) for x in _fractions(count)]
    radii[-1] = 1.0  # sin(π/2) is 1 in double precision; kept exact whatever the C library does
    return radii


def power(exponent: float) -> Placement:
    """The placement rₖ = 1 − (1 − k / (n − 1))^exponent; denser towards the limb for exponent > 1."""

    def placement(count: int) -> list[float]:
        return [1.0 - (1.0 - x) ** exponent for x in _fractions(count)]

    placement.__name__ = f"power({exponent:g})"
    return placement


# The default, chosen from the measurements in docs/limb_darkening.md: the fewest samples that bring
# every law measured there within 1e-5 of the exact law through the thin-ring flux map (7.5e-6 at
# most). The count costs next to nothing (the flux maps look a radius up by bisection), so a law
# darker at the limb than those, or a tighter target, can simply take more.
DEFAULT_PLACEMENT: Placement = power(3.5)
DEFAULT_COUNT: int = 80


def samples(
    law: Law, radii: Sequence[float] | None = None
) -> tuple[list[float], list[float]]:
    """The flux-map samples ``bl``, ``bf`` of a law: the radii and I(μ(r)) / I(1) at each.

    ``radii`` are ascending radii in stellar radii, by default DEFAULT_PLACEMENT(DEFAULT_COUNT);
    they should run from 0 to 1, since the flux maps take the brightness as 0 outside the samples.
    Any sequence of numbers will do (a numpy array too); the result is two lists of floats.
    """
    bl = [float(r) for r in (DEFAULT_PLACEMENT(DEFAULT_COUNT) if radii is None else radii)]
    return bl, [float(law(mu_at(r))) for r in bl]
