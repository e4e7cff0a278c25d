"""caldrith_ld at its corners and its derivatives, against mpmath truths computed once:
tests/data/ld_corner_truths.json (power-2 exponents from 0.05 to 200, sampled kinks and a step of
width 1e-9 with the lens on and next to them, stars from 1e-300 to 1e3, extreme coefficients;
tools/generate_ld_corner_truths.py) and tests/data/ld_gradient_truths.json (the magnification and
its derivatives in u, rho and every coefficient, the centre, the limb from both sides down to 1e-6
and the far wings; tools/generate_ld_gradient_truths.py)."""

import json
import math
import pathlib

import mpmath
import pytest

np = pytest.importorskip("numpy")
import caldrith_ld as ld  # noqa: E402
from ld_laws_reference import module_law  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
CORNERS = json.loads((DATA / "ld_corner_truths.json").read_text())
GRADIENTS = json.loads((DATA / "ld_gradient_truths.json").read_text())

# Worst relative error measured at each corner; the test allows twice that, rounded up.
CORNER_TOLERANCE = {"power-2 exponent": 2e-9, "sampled kinks": 1e-9, "large stars": 1e-10,
                    "tiny stars": 1e-10, "extreme coefficients": 3e-9}
# Each derivative within 1e-7 of its natural scale: |d| + A/rho for u and rho, |d| + A for a
# coefficient; the magnification itself as in the corners.
GRADIENT_TOLERANCE = 1e-7


def relative(value, truth, scale):
    return float(abs(mpmath.mpf(float(value)) - mpmath.mpf(truth)) / scale)


@pytest.mark.parametrize("corner", sorted(CORNER_TOLERANCE))
def test_corners(corner):
    cases = [case for case in CORNERS["cases"] if case["corner"] == corner]
    assert cases
    failures = []
    for case in cases:
        law = module_law(CORNERS["laws"][case["law"]])
        value = ld.magnification(case["u"], case["rho"], law)
        truth = mpmath.mpf(case["truth"])
        if not relative(value, truth, truth) <= CORNER_TOLERANCE[corner]:
            failures.append((case["law"], case["rho"], case["u"], float(value), case["truth"]))
    assert failures == []


@pytest.mark.parametrize("name", sorted(GRADIENTS["laws"]))
def test_gradients(name):
    law = module_law(GRADIENTS["laws"][name])
    cases = [case for case in GRADIENTS["cases"] if case["law"] == name]
    assert cases
    failures = []
    for case in cases:
        g = ld.gradient(case["u"], case["rho"], law)
        value = mpmath.mpf(case["A"])
        checks = [("A", g.value, case["A"], value * 1e-2)]  # the value's own check is the corners'
        if case.get("dA_du") is not None:
            checks += [("dA_du", g.d_u, case["dA_du"], abs(mpmath.mpf(case["dA_du"])) + value / case["rho"]),
                       ("dA_drho", g.d_rho, case["dA_drho"], abs(mpmath.mpf(case["dA_drho"])) + value / case["rho"])]
            checks += [(f"dA_dc{k}", g.d_coefficients[k], truth, abs(mpmath.mpf(truth)) + value)
                       for k, truth in enumerate(case["dA_dc"])]
        for label, mine, truth, scale in checks:
            if label == "A":
                ok = relative(mine, truth, value) <= 1e-9
            else:
                ok = math.isfinite(float(mine)) and relative(mine, truth, scale) <= GRADIENT_TOLERANCE
            if not ok:
                failures.append((label, case["rho"], case["u"] / case["rho"], float(mine), truth))
    assert failures == []


def test_on_the_limb():
    # With the lens on the limb exactly, dA/du diverges logarithmically for a law bright there: -inf
    # (and dA/drho +inf, the limits from both sides); a law dark at the limb keeps finite derivatives.
    for rho in (1e-3, 0.05, 0.5):
        bright = ld.gradient(rho, rho, ld.Linear(0.6))
        assert bright.d_u == -np.inf and bright.d_rho == np.inf and np.isfinite(bright.value)
        dark = ld.gradient(rho, rho, ld.Linear(1.0))
        assert np.isfinite(dark.d_u) and np.isfinite(dark.d_rho) and dark.d_u < 0
