"""The compiled core of caldrith_ld (called by its Python layer with contiguous float64 arrays)."""

from collections.abc import Buffer, Sequence

def magnification(
    u: Buffer,
    out: Buffer,
    rho: float,
    kind: int,
    coefficients: Sequence[float],
    radius: Sequence[float],
    intensity: Sequence[float],
) -> None: ...
def intensity(
    mu: Buffer,
    out: Buffer,
    kind: int,
    coefficients: Sequence[float],
    radius: Sequence[float],
    intensity: Sequence[float],
) -> None: ...
def check_law(kind: int, coefficients: Sequence[float], radius: Sequence[float], intensity: Sequence[float]) -> None: ...
