"""Where the uniform-disk closed form cancels: far from the star (l = u/rho up to 1e300) and for tiny
stars (rho down to 1e-8), against mpmath truths computed once (tools/generate_far_wings_truths.py);
and the integrated functions' NaN where the uniform disk has no value.

Measured worst relative errors, far (l > 1000) / tiny stars: witt_mao_magnification 3.3e-16 / 3.1e-12;
the thin-ring routes 8.9e-16 / 2.7e-11; integrated_witt_mao_magnification 4.0e-15 / 1.8e-5 and the
uniform-disk flux map 5.3e-14 / 3.9e-5 (for tiny stars these are the routes' own errors at every
rho, not the cancellation's)."""

import json
import math
import pathlib

import mpmath
import pytest

import caldrith

TRUTHS = json.loads((pathlib.Path(__file__).parent.parent / "data" / "far_wings_truths.json").read_text())
UNIFORM = ([0.0, 1.0], [1.0, 1.0])


def multi(l, re, rstar):
    return caldrith.multi_witt_mao_magnification(l, [re], [rstar])[0]


def flux_map(function):
    return lambda l, re, rstar: function(l, re, rstar, *UNIFORM)


# (function, law of its truths, tolerance far from the star, tolerance for tiny stars).
ROUTES = [
    (caldrith.witt_mao_magnification, "uniform", 1e-15, 1e-11),
    (multi, "uniform", 1e-15, 1e-11),
    (flux_map(caldrith.integrated_flux_map_heyrovsky_magnification), "uniform", 1e-14, 1e-10),
    (flux_map(caldrith.integrated_flux_map_witt_mao_magnification), "uniform", 1e-12, 1e-4),
    (caldrith.integrated_heyrovsky_magnification, "linear", 1e-14, 1e-10),
    (caldrith.integrated_witt_mao_magnification, "linear", 1e-13, 5e-5),
]


def in_window(case):
    """The uniform disk returns its on-limb value within 1e-3 rho of the limb."""
    return case["l"] != 1.0 and abs(case["l"] - 1.0) < 1.1e-3


@pytest.mark.parametrize("function, law, far, tiny", ROUTES)
def test_against_the_truths(function, law, far, tiny):
    cases = [case for case in TRUTHS["cases"] if case["law"] == law and not in_window(case)]
    failures = []
    for case in cases:
        [value] = function([case["l"]], 1.0, case["rho"])
        error = abs(mpmath.mpf(value) / mpmath.mpf(case["truth"]) - 1)
        tolerance = far if case["l"] > 1000 else tiny
        if not error <= tolerance:
            failures.append((case["rho"], case["l"], value, case["truth"], float(error)))
    assert failures == []


def test_long_lists_take_the_same_branches():
    # The vector paths hand these regimes to the scalar kernel: a long list gives the values of
    # one-element calls.
    for rho in (1e-8, 5e-5, 0.01):
        l = [case["l"] for case in TRUTHS["cases"] if case["law"] == "uniform"]
        assert caldrith.witt_mao_magnification(l, 1.0, rho) == [
            caldrith.witt_mao_magnification([x], 1.0, rho)[0] for x in l
        ]


@pytest.mark.parametrize("rho", [1e-8, 3e-6, 9e-5])
def test_tiny_star_window_is_relative(rho):
    # Within 1e-3 rho of the limb: the exact on-limb value 4/(pi rho) (1 + rho^2/3 + ...); beyond,
    # the small-source form, no longer the on-limb value.
    on_limb = mpmath.mpf(4) / (mpmath.pi * rho) * (1 + mpmath.mpf(rho) ** 2 / 3)
    for l in (1.0, 1.0009, 0.9991):
        assert caldrith.witt_mao_magnification([l], 1.0, rho)[0] == pytest.approx(float(on_limb), rel=1e-14)
    for l in (1.002, 0.998):
        value = caldrith.witt_mao_magnification([l], 1.0, rho)[0]
        assert abs(value / float(on_limb) - 1) > 1e-4


@pytest.mark.parametrize("l", [1e155, 1e200, 1e300, 1.7e308])
def test_every_route_reaches_the_largest_doubles(l):
    # There the Witt-Mao closed form is NaN and the thin ring's squared lengths overflow unless
    # scaled; every route returns the point-lens limit 1 (integrated_witt_mao_magnification
    # 1 + 3.8e-15, its normalisation's).
    for function, _, _, _ in ROUTES:
        assert function([l], 1.0, 1e-3) == [pytest.approx(1.0, rel=1e-14, abs=0)]


INTEGRATED = {
    "integrated_witt_mao_magnification": caldrith.integrated_witt_mao_magnification,
    "integrated_heyrovsky_magnification": caldrith.integrated_heyrovsky_magnification,
    "integrated_flux_map_witt_mao_magnification": flux_map(caldrith.integrated_flux_map_witt_mao_magnification),
    "integrated_flux_map_heyrovsky_magnification": flux_map(
        caldrith.integrated_flux_map_heyrovsky_magnification
    ),
}


@pytest.mark.parametrize("name", INTEGRATED)
@pytest.mark.parametrize(
    "l, re, rstar",
    [
        (math.nan, 1.0, 0.1),
        (math.inf, 1.0, 0.1),
        (-math.inf, 1.0, 0.1),
        (-0.5, 1.0, 0.1),
        (-1e-6, 1.0, 0.1),
        (-2.0, 1.0, 1e-6),
        (0.5, math.nan, 0.1),
        (0.5, 1.0, math.nan),
        (0.5, 0.0, 0.1),
    ],
)
def test_nan_where_the_uniform_disk_is_nan(name, l, re, rstar):
    assert math.isnan(caldrith.witt_mao_magnification([l], re, rstar)[0])
    values = INTEGRATED[name]([0.5, l, 2.0], re, rstar)
    assert math.isnan(values[1])
    # The neighbours are untouched.
    for index, position in ((0, 0.5), (2, 2.0)):
        assert values[index] == INTEGRATED[name]([position], re, rstar)[0] or math.isnan(values[index])
