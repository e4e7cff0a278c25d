"""The magnification of a limb-darkened star at 34 digits (mpmath), to tell which of two models is right.

It is the quadrature of tools/generate_ld_truths.py (the generator of caldrith_ld's reference
values), given a caldrith_ld law; it needs mpmath (the extra `test`).
"""

from __future__ import annotations

import dataclasses
import sys
from pathlib import Path
from typing import Any, cast

import caldrith_ld as ld

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tools"))


def described(law: ld.Law) -> dict:
    """The law as tools/generate_ld_truths.py describes laws."""
    if isinstance(law, ld.Sampled):
        return {"kind": "Sampled", "r": [float(r) for r in law.r], "I": [float(i) for i in law.I]}
    # Every law is a dataclass whose fields are its coefficients, in its constructor's order.
    return {"kind": type(law).__name__, "coefficients": [float(c) for c in dataclasses.astuple(cast(Any, law))]}


def magnification(law: ld.Law, u: float, rho: float) -> float:
    import generate_ld_truths

    return float(generate_ld_truths.magnification(described(law), float(u), float(rho))[0])
