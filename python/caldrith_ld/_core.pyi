"""The compiled core of caldrith_ld (called by its Python layer with contiguous float64 arrays)."""

import sys
from collections.abc import Sequence

# collections.abc.Buffer is 3.12's; type checkers know typing_extensions' on 3.11 (a stub is
# never imported).
if sys.version_info >= (3, 12):
    from collections.abc import Buffer
else:
    from typing_extensions import Buffer

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
def check_law(kind: int, coefficients: Sequence[float], radius: Sequence[float], intensity: Sequence[float]) -> None: ...
def xla_ffi_targets() -> dict[str, object]: ...
