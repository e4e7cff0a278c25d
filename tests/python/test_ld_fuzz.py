"""caldrith_ld fuzzed against mpmath: random laws (every family, sampled ones with their kinks),
random stars from rho = 1e-5 to 30, and positions drawn where the routes are weakest: the centre,
both sides of the limb down to 1e-9 of it, both sides of a sampled law's kinks, and the switches
between the routes. Each magnification is compared with the mpmath quadrature of
tools/generate_ld_truths.py at 20 digits.

The number of examples is CALDRITH_LD_FUZZ_EXAMPLES (default 40, about 10 s here); the run is
derandomised so that the test run sees the same cases every time, and a longer run can be asked
for with a seed: CALDRITH_LD_FUZZ_SEED."""

import os
import pathlib
import sys

import mpmath
import pytest
from hypothesis import HealthCheck, given, seed, settings
from hypothesis import strategies as st

np = pytest.importorskip("numpy")
import caldrith_ld as ld  # noqa: E402
from ld_laws_reference import module_law  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
from generate_ld_truths import magnification as mpmath_magnification  # noqa: E402

EXAMPLES = int(os.environ.get("CALDRITH_LD_FUZZ_EXAMPLES", "40"))
SEED = os.environ.get("CALDRITH_LD_FUZZ_SEED")
# The worst relative error allowed: the series routes reach 1e-12, the quadrature 1e-10.
TOLERANCE = 1e-9

unit = st.floats(0.0, 1.0)
closed_forms = st.one_of(
    st.tuples(st.just("Linear"), st.tuples(st.floats(-1.0, 1.0))),
    st.tuples(st.just("Quadratic"), st.tuples(st.floats(-1.0, 1.5), st.floats(-1.0, 1.0))),
    st.tuples(st.just("SquareRoot"), st.tuples(st.floats(-1.0, 1.0), st.floats(-1.0, 1.5))),
    st.tuples(st.just("Logarithmic"), st.tuples(unit, st.floats(-1.0, 1.0))),
    st.tuples(st.just("Power2"), st.tuples(unit, st.floats(0.05, 20.0))),
    st.tuples(st.just("FourParameter"), st.tuples(*[st.floats(-1.5, 1.5)] * 4)),
)


@st.composite
def laws(draw):
    """A law description as tests/data/ld_truths.json writes them, valid for caldrith_ld."""
    if draw(st.booleans()):
        kind, coefficients = draw(closed_forms)
        description = {"kind": kind, "coefficients": list(coefficients)}
    else:
        inner = sorted(set(draw(st.lists(st.floats(0.01, 0.99), min_size=0, max_size=8))))
        radii = [0.0, *inner, 1.0]
        intensity = draw(st.lists(unit, min_size=len(radii), max_size=len(radii)))
        description = {"kind": "Sampled", "r": radii, "I": intensity}
    try:
        module_law(description)
    except ValueError:  # a law negative somewhere, or all zero: the module refuses it
        description = {"kind": "Uniform", "coefficients": []}
    return description


@st.composite
def positions(draw, law):
    """l = u/rho where a route is weakest."""
    near = [0.0, 1.0, 1.6, 4.0, *law.get("r", [])[1:-1]]
    point = draw(st.sampled_from(near))
    offset = draw(st.sampled_from([0.0, 1e-9, 1e-6, 1e-3, 0.05])) * draw(st.sampled_from([-1.0, 1.0]))
    return max(draw(st.one_of(st.just(point + offset), st.floats(0.0, 3.0))), 0.0)


@settings(max_examples=EXAMPLES, deadline=None, derandomize=SEED is None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much])
@given(data=st.data())
def test_against_mpmath(data):
    law = data.draw(laws(), label="law")
    rho = 10.0 ** data.draw(st.floats(-5.0, 1.5), label="log10 rho")
    l = data.draw(positions(law), label="l")
    u = l * rho
    value = float(ld.magnification(u, rho, module_law(law)))
    with mpmath.workdps(25):
        truth, _, _ = mpmath_magnification(law, u, rho, dps=20)
        error = abs(mpmath.mpf(value) / truth - 1)
    assert error <= TOLERANCE, (law, rho, u, value, float(truth))


if SEED is not None:
    test_against_mpmath = seed(int(SEED))(test_against_mpmath)
