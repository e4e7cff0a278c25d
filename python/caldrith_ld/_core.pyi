"""The compiled core of caldrith_ld (called by its Python layer with contiguous float64 arrays)."""

from collections.abc import Buffer, Sequence

# A law as the core takes it: (kind, coefficients, radius, intensity).
_LawDescription = tuple[int, Sequence[float], Sequence[float], Sequence[float]]

def magnification(u: Buffer, out: Buffer, rho: float, laws: Sequence[_LawDescription]) -> None: ...
def gradient(u: Buffer, out: Buffer, rho: float, laws: Sequence[_LawDescription]) -> None: ...
def intensity(
    mu: Buffer,
    out: Buffer,
    kind: int,
    coefficients: Sequence[float],
    radius: Sequence[float],
    intensity: Sequence[float],
) -> None: ...
def minimum_intensity(kind: int, coefficients: Sequence[float]) -> tuple[float, float]: ...
def xla_ffi_targets() -> dict[str, object]: ...
