"""Finite-source magnification of a star by a single point-mass lens.

Shared conventions of every function:

- ``l``: lens–source separations in stellar radii (0 is the centre of the star). A sequence of
  numbers (list, tuple, range, ...) or a one-dimensional array; exact ``numpy.ndarray``,
  ``array.array`` and ``memoryview`` objects of integer, boolean or float16/32/64 items are read
  straight from memory, with the same results as a list of their items.
- ``re`` (Einstein radius of the lens) and ``rstar`` (radius of the star) share one length unit of
  your choice; only ρ = rstar / re enters. The separation in Einstein radii is u = l × ρ.
- Results are plain floats, one per element of ``l`` and in its order, identical to the last bit
  whatever the number of threads. Elements that cannot be computed are NaN or inf.
- Every parameter is required and may be passed by position or by keyword.
"""

from collections.abc import Buffer, Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias

__all__ = [
    "witt_mao_magnification",
    "integrated_witt_mao_magnification",
    "integrated_flux_map_witt_mao_magnification",
    "multi_witt_mao_magnification",
    "heyrovsky_magnification",
    "integrated_heyrovsky_magnification",
    "integrated_flux_map_heyrovsky_magnification",
    "discrete_flux_map_heyrovsky_magnification",
]

# A number: anything with __float__ or __index__ (float, int, bool, numpy scalars, Fraction, ...).
_Real: TypeAlias = SupportsFloat | SupportsIndex
# A sequence of numbers, or a one-dimensional array exporting a buffer (numpy.ndarray,
# array.array, memoryview).
_Reals: TypeAlias = Sequence[_Real] | Buffer

def witt_mao_magnification(l: _Reals, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a uniform disk (no limb darkening) at each separation in ``l``.

    Closed form of Witt & Mao (1994) in complete elliptic integrals, evaluated in parallel on the
    module's pool of worker threads (a list of up to 272 positions, too little work to gain from
    the workers, on the calling thread): the fastest function here, the one to use when the limb
    does not matter or for a first fit.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: about 1e-14 relative inside the star; outside it the closed form loses digits as
    about 1e-16 l², 2.5e-10 at l = 1000, beyond which a far-field series keeps 1e-15 up to the
    largest doubles. Within max(1e-3 ρ, 1e-5) of the limb (1e-3 ρ for ρ = rstar / re below 1e-4)
    the value for the lens exactly on the limb is returned, up to 4e-3 off (1.7e-2 at ρ = 1e-3 and
    0.15 at ρ = 1e-4, where the floor 1e-5 widens the window). Stars below ρ = 1e-4 take
    small-source forms good to 1e-11 (the closed form there errs by about 1e-16 / ρ²). NaN for a
    negative, NaN or infinite l, and where l × ρ overflows.
    """

def integrated_witt_mao_magnification(l: _Reals, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a star with linear limb darkening (coefficient 0.6) at each separation.

    The uniform-disk kernel integrated over the radius of the star (double-exponential
    quadrature), on the calling thread, a quadrature per position.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: about 1e-10 relative outside the star (4e-15 beyond l = 1000) but only a few 1e-6
    inside it (2e-4 at ρ = 1e-3) and up to 2e-3 near the limb (more for 1e-4 ≤ ρ < 1e-2, as
    ``witt_mao_magnification``); where the limb matters prefer
    ``integrated_heyrovsky_magnification``. NaN where ``witt_mao_magnification`` is NaN.
    """

def integrated_flux_map_witt_mao_magnification(
    l: _Reals, re: _Real, rstar: _Real, bl: _Reals, bf: _Reals
) -> list[float]:
    """Magnification of a star with a sampled radial brightness profile, via the uniform-disk kernel.

    ``bl`` holds ascending sample radii in stellar radii, ``bf`` the surface brightness at each (any
    scale; equal lengths, else ``PanicException``). The profile is interpolated linearly between
    the samples and is 0 outside them; the result is divided by the profile's total flux. Computed
    on the calling thread.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: rings are taken as differences of uniform disks of half-width 1e-4, good to a few
    1e-5 on the star whatever the sampling, better outside it (1e-13 beyond l = 1000); prefer
    ``integrated_flux_map_heyrovsky_magnification``, which is as accurate as the quadrature of the
    interpolated profile. NaN where ``witt_mao_magnification`` is NaN.
    """

def multi_witt_mao_magnification(l: _Reals, re: _Reals, rstar: _Reals) -> list[list[float]]:
    """Uniform-disk magnifications at the separations ``l`` for every pair of ``re`` and ``rstar``.

    One inner list per pair, Einstein radius outer and stellar radius inner: the list at index
    i × len(rstar) + j belongs to (re[i], rstar[j]) and equals
    ``witt_mao_magnification(l, re[i], rstar[j])``. All pairs and positions are evaluated in
    parallel on the module's pool of worker threads (at most 272 positions times pairs in all, on
    the calling thread); use it to scan a grid of radii in one call.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: as ``witt_mao_magnification``.
    """

def heyrovsky_magnification(l: _Real, r: _Real, re: _Real, rstar: _Real) -> float:
    """Magnification of one thin ring of radius ``r`` on the star, at one separation ``l``.

    The mean of the point-lens magnification over the circle of radius ``r`` concentric with the
    star (Heyrovsky 2003, complete elliptic integrals), for a single position: the building block
    of the limb-darkened and flux-map functions, and the only function taking and returning a
    single float.

    ``l`` and ``r`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: about 1e-15 relative away from the ring at any distance up to the largest doubles,
    losing digits as the lens approaches it (inf for a ring through the lens). Raises
    ``RuntimeError`` with the elliptic integral's message when it cannot be evaluated (for example
    a NaN argument).
    """

def integrated_heyrovsky_magnification(l: _Reals, re: _Real, rstar: _Real) -> list[float]:
    """Magnification of a star with linear limb darkening (coefficient 0.6) at each separation.

    The thin-ring kernel and its derivative in the ring radius integrated over the star
    (double-exponential quadrature), on the calling thread. The function to prefer for a
    limb-darkened star whenever the lens comes close to or inside the limb.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: about 3e-11 relative inside the star and 1e-14 outside, up to the largest doubles
    (beyond l = 1e150 the point-lens limit). NaN where ``witt_mao_magnification`` is NaN.
    """

def integrated_flux_map_heyrovsky_magnification(
    l: _Reals, re: _Real, rstar: _Real, bl: _Reals, bf: _Reals
) -> list[float]:
    """Magnification of a star with a sampled radial brightness profile, via the thin-ring kernel.

    ``bl`` holds ascending sample radii in stellar radii, ``bf`` the surface brightness at each (any
    scale; equal lengths, else ``PanicException``). The profile is interpolated linearly between
    the samples and is 0 outside them; the result is divided by the profile's total flux. Computed
    on the calling thread. The function to prefer for a measured or model profile where the limb
    matters.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: as accurate as the quadrature of the interpolated profile; kinks of the profile cost
    digits. Beyond l = 1e150 the point-lens limit; NaN where ``witt_mao_magnification`` is NaN.
    """

def discrete_flux_map_heyrovsky_magnification(
    l: _Reals, re: _Real, rstar: _Real, bl: _Reals, bf: _Reals
) -> list[float]:
    """Weighted sum of thin-ring magnifications: rings of radius ``bl[j]`` with weights ``bf[j]``.

    Sum over j of ``bf[j] × heyrovsky_magnification(l, bl[j], re, rstar)``, with no normalisation:
    a magnification only when the weights add up to 1. ``bl`` in stellar radii, in any order;
    ``bf`` of the same length (else ``PanicException``). Computed on the calling thread; the
    cheapest way to a profile given as rings.

    ``l`` in stellar radii; ``re`` and ``rstar`` in one common unit.

    Accuracy: that of ``heyrovsky_magnification`` for each ring. Raises ``RuntimeError`` with the
    elliptic integral's message when a ring cannot be evaluated.
    """
