"""examples/limb_darkening.py: limb-darkening laws as flux-map samples, and their accuracy."""

import json
import math
import pathlib
import sys

import pytest

import caldrith
from lensing_references import disk_average, limb_darkening_law, relative_error, uniform_disk

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "examples"))
import limb_darkening as ld  # noqa: E402

THIN_RING = caldrith.integrated_flux_map_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_flux_map_witt_mao_magnification
# mpmath truths of examples/measure_limb_darkening.py: the disk average of the point-lens
# magnification weighted by the exact law, keyed "<law> [coefficients] l=<l> rho=<rho>".
TRUTHS = json.loads((ROOT / "tests" / "data" / "limb_darkening_truths.json").read_text())


def parse(key):
    name, rest = key.split(" [", 1)
    coefficients, rest = rest.split("] ", 1)
    l, rho = (float(part.split("=")[1]) for part in rest.split())
    return name, tuple(float(c) for c in coefficients.split(", ") if c), l, rho


CASES = [(*parse(key), float(value)) for key, value in TRUTHS.items()]


@pytest.mark.parametrize(
    "law, mu, expected",
    [
        (ld.Uniform(), 0.3, 1.0),
        (ld.Linear(0.6), 0.0, 0.4),
        (ld.Linear(0.6), 0.5, 0.7),
        (ld.Linear(1.0), 0.25, 0.25),
        (ld.Quadratic(0.4, 0.25), 0.0, 0.35),
        (ld.Quadratic(0.4, 0.25), 0.5, 0.7375),
        (ld.SquareRoot(0.1, 0.6), 0.0, 0.3),
        (ld.SquareRoot(0.1, 0.6), 0.25, 0.625),
        # mu ln mu -> 0 at the limb; at mu = 1/e it is -1/e.
        (ld.Logarithmic(0.7, 0.2), 0.0, 0.3),
        (ld.Logarithmic(0.7, 0.2), 1 / math.e, 0.3 + 0.9 / math.e),
        (ld.Power2(0.65, 0.5), 0.0, 0.35),
        (ld.Power2(0.65, 0.5), 0.25, 0.675),
        (ld.FourParameter(0.6, -0.2, 0.6, -0.3), 0.0, 0.3),
        (ld.FourParameter(0.6, -0.2, 0.6, -0.3), 0.25, 0.60625),
    ],
)
def test_laws_at_known_mu(law, mu, expected):
    assert law(mu) == pytest.approx(expected, rel=1e-15, abs=1e-15)


@pytest.mark.parametrize(
    "law",
    [
        ld.Linear(0.83),
        ld.Quadratic(0.31, 0.42),
        ld.SquareRoot(-0.12, 0.91),
        ld.Logarithmic(0.77, 0.19),
        ld.Power2(0.7, 0.6),
        ld.FourParameter(0.4, 0.3, -0.2, 0.1),
    ],
    ids=repr,
)
def test_laws_are_one_at_the_centre(law):
    assert law(1.0) == 1.0


@pytest.mark.parametrize(
    "special, linear",
    [
        (ld.Quadratic(0.45, 0.0), ld.Linear(0.45)),
        (ld.SquareRoot(0.45, 0.0), ld.Linear(0.45)),
        (ld.Logarithmic(0.45, 0.0), ld.Linear(0.45)),
        (ld.Power2(0.45, 1.0), ld.Linear(0.45)),
        (ld.FourParameter(0.0, 0.45, 0.0, 0.0), ld.Linear(0.45)),
    ],
    ids=repr,
)
def test_laws_reduce_to_the_linear_law(special, linear):
    for k in range(11):
        assert special(k / 10) == pytest.approx(linear(k / 10), rel=1e-15)


def test_laws_by_name_take_their_coefficients_in_order():
    assert ld.LAWS["quadratic"](0.4, 0.25) == ld.Quadratic(a=0.4, b=0.25)
    assert ld.LAWS["four-parameter"](0.1, 0.2, 0.3, 0.1) == ld.FourParameter(a1=0.1, a2=0.2, a3=0.3, a4=0.1)
    assert set(ld.LAWS) == {
        "uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "four-parameter"
    }


PLACEMENTS = [ld.uniform_in_radius, ld.uniform_in_mu, ld.sine, ld.power(2.0), ld.power(3.5)]


@pytest.mark.parametrize("placement", PLACEMENTS, ids=lambda placement: placement.__name__)
@pytest.mark.parametrize("count", [2, 3, 10, 101])
def test_placements_cover_the_disk_in_ascending_order(placement, count):
    radii = placement(count)
    assert len(radii) == count
    assert radii[0] == 0.0 and radii[-1] == 1.0
    assert all(a < b for a, b in zip(radii, radii[1:]))


@pytest.mark.parametrize("placement", PLACEMENTS, ids=lambda placement: placement.__name__)
def test_placements_need_the_centre_and_the_limb(placement):
    with pytest.raises(ValueError):
        placement(1)


@pytest.mark.parametrize(
    "placement, even",
    [
        (ld.uniform_in_radius, lambda r: r),
        (ld.uniform_in_mu, lambda r: math.sqrt(1 - r * r)),
        (ld.sine, math.asin),
        (ld.power(2.0), lambda r: math.sqrt(1 - r)),
        (ld.power(3.5), lambda r: (1 - r) ** (1 / 3.5)),
    ],
    ids=["radius", "mu", "sine", "power 2", "power 3.5"],
)
def test_placements_are_even_in_their_variable(placement, even):
    values = [even(r) for r in placement(41)]
    steps = [b - a for a, b in zip(values, values[1:])]
    assert max(steps) - min(steps) < 1e-12


def test_placements_towards_the_limb_are_denser_there():
    for placement in [ld.uniform_in_mu, ld.sine, ld.power(2.0), ld.power(3.5)]:
        radii = placement(50)
        assert radii[-1] - radii[-2] < (radii[1] - radii[0]) / 10


@pytest.mark.parametrize(
    "radius, mu",
    [(0.0, 1.0), (0.6, 0.8), (0.8, 0.6), (1.0, 0.0), (1 - 2.0**-40, math.sqrt(2.0**-39 - 2.0**-80))],
)
def test_samples_take_the_law_at_mu_of_each_radius(radius, mu):
    law = ld.Quadratic(0.4, 0.25)
    bl, bf = ld.samples(law, [radius])
    assert bl == [radius]
    assert bf[0] == pytest.approx(1 - 0.4 * (1 - mu) - 0.25 * (1 - mu) ** 2, rel=1e-15)


def test_default_samples():
    law = ld.Logarithmic(0.7, 0.2)
    bl, bf = ld.samples(law)
    assert bl == ld.DEFAULT_PLACEMENT(ld.DEFAULT_COUNT)
    assert bf[0] == 1.0 and bf[-1] == pytest.approx(0.3, rel=1e-15)
    # Any sequence of numbers serves as radii; the result is lists of floats.
    bl, bf = ld.samples(law, (0, 0.5, 1))
    assert bl == [0.0, 0.5, 1.0] and all(type(value) is float for value in bl + bf)
    assert bf == pytest.approx([1.0, law(math.sqrt(0.75)), 0.3], rel=1e-15)


# The flux maps with the default samples, against the truths; measured in docs/limb_darkening.md.
# Through the thin-ring kernel every law is within TARGET of its exact (unsampled) truth.
TARGET = 1e-5


@pytest.mark.parametrize("name", sorted({case[0] for case in CASES}))
def test_default_samples_through_the_thin_ring_flux_map(name):
    cases = [case for case in CASES if case[0] == name]
    for coefficients, l, rho, truth in {(c, l, rho, t) for _, c, l, rho, t in cases}:
        bl, bf = ld.samples(ld.LAWS[name](*coefficients))
        assert relative_error(THIN_RING([l], 1.0, rho, bl, bf)[0], truth) < TARGET, (l, rho)


# Published in docs/limb_darkening.md: the default samples of the linear law of coefficient 0.6
# agree with integrated_heyrovsky_magnification, the same law exact (within 1e-11 of mpmath), to
# 5.4e-6 over these positions and rho.
LINEAR_AGREEMENT = 5.5e-6


def test_linear_law_matches_the_built_in_limb_darkening():
    bl, bf = ld.samples(ld.Linear(0.6))
    positions = [k / 100 for k in range(151)] + [0.999, 0.9999, 1.0001, 1.001, 3.0, 10.0]
    for rho in [0.001, 0.01, 0.1, 1.0, 10.0]:
        sampled = THIN_RING(positions, 1.0, rho, bl, bf)
        exact = caldrith.integrated_heyrovsky_magnification(positions, 1.0, rho)
        for l, a, b in zip(positions, sampled, exact):
            assert relative_error(a, b) < LINEAR_AGREEMENT, (l, rho)


@pytest.mark.parametrize("rho", [0.01, 0.1, 1.0])
def test_uniform_profile_is_the_uniform_disk(rho):
    # A constant profile interpolates exactly: the thin-ring route is as good as its quadrature
    # (measured 1.2e-11), the uniform-disk route as its annuli (3.9e-5 at the centre). The closed
    # form of witt_mao_magnification agrees away from its near-limb window, |u - rho| < max(1e-3 rho, 1e-5).
    bl, bf = ld.samples(ld.Uniform())
    positions = [0.0, 0.3, 0.7, 0.99, 1.0, 1.01, 1.5, 4.0]
    thin_ring = THIN_RING(positions, 1.0, rho, bl, bf)
    annuli = UNIFORM_DISK(positions, 1.0, rho, bl, bf)
    closed_form = caldrith.witt_mao_magnification(positions, 1.0, rho)
    for l, a, b, c in zip(positions, thin_ring, annuli, closed_form):
        truth = uniform_disk(l * rho, rho)
        assert relative_error(a, truth) < 1e-10, l
        assert relative_error(b, truth) < 5e-5, l
        assert relative_error(c, a) < 1e-10, l


def test_stored_truths_are_the_references():
    # Two of the stored truths recomputed (the cheap ones), so that the file cannot drift from
    # the reference quadrature and the laws' mpmath forms.
    for key in ["four-parameter [0.6, -0.2, 0.6, -0.3] l=1.5 rho=1.0", "square-root [0.1, 0.6] l=0.0 rho=0.1"]:
        name, coefficients, l, rho = parse(key)
        recomputed = disk_average(l, rho, limb_darkening_law(name, coefficients))
        assert relative_error(recomputed, float(TRUTHS[key])) < 1e-14  # stored to 15 digits
