"""The accuracy atlas (docs/accuracy.md): its stored truths are right, and every function stays within
the figures it publishes.

The truths were computed once by docs/atlas/make_truths.py; here a sample of each kind is recomputed
by the direct quadratures of lensing_references (point-lens magnification averaged over the ring or
the disk, no elliptic integral). The module's errors on the whole grid are then measured exactly as
docs/atlas/make_atlas.py measures them, and compared with docs/atlas/figures.json, the figures the
page prints: a regression anywhere on the grid fails here.
"""

import json
import math
import pathlib
import sys

import mpmath
import pytest

from lensing_references import (
    disk_average,
    limb_darkened_average,
    ring_average,
    sampled_average,
    uniform_disk,
)

ATLAS = pathlib.Path(__file__).resolve().parents[2] / "docs" / "atlas"
sys.path.insert(0, str(ATLAS))
import measure  # noqa: E402
from make_truths import einstein_radius  # noqa: E402

TRUTHS = measure.load_truths()
PUBLISHED = json.loads(measure.FIGURES.read_text())


def _row(section, **where):
    (row,) = [row for row in TRUTHS[section] if all(row[key] == value for key, value in where.items())]
    return row


def _weighted_rings(l, rho):
    profile = TRUTHS["discrete_profile"]
    with mpmath.workdps(30):
        return sum(mpmath.mpf(w) * ring_average(l, b, einstein_radius(rho)) for b, w in zip(profile["bl"], profile["bf"]))


def _sampled(l, rho):
    profile = TRUTHS["sampled_profile"]
    return sampled_average(l, rho, tuple(profile["bl"]), tuple(profile["bf"]))


def _uniform(l, rho):
    with mpmath.workdps(40):
        return uniform_disk(mpmath.mpf(l) * mpmath.mpf(rho), rho)


def _uniform_by_rings(l, rho):
    """The uniform disk without its closed form, which cancels for tiny stars and far away."""
    return disk_average(l, rho, lambda t: 1)


@pytest.mark.parametrize(
    "column, rho, l, reference",
    [
        ("uniform", 0.1, 1.0 - 1e-4, _uniform),
        ("uniform", 1e-6, 1e3, _uniform),
        # A tiny star just inside its limb, and the farthest position (whose uniform-disk truth
        # comes from the rings, the closed form needing too many digits there).
        ("uniform", 1e-8, 1.0 - 2e-3, _uniform_by_rings),
        ("uniform", 1e3, 1e300, _uniform_by_rings),
        ("limb_darkened", 1e-3, 1e300, limb_darkened_average),
        # Two positions that test_integrated also takes (the reference is cached).
        ("limb_darkened", 1.0, 0.9, limb_darkened_average),
        ("limb_darkened", 1.0, 3.0, limb_darkened_average),
        ("sampled", 1.0, 0.5, _sampled),
        ("discrete", 10.0, 0.5, _weighted_rings),
    ],
)
def test_disk_truths_agree_with_direct_quadrature(column, rho, l, reference):
    reference = reference(l, rho)
    with mpmath.workdps(30):
        assert abs(mpmath.mpf(_row("disk", rho=rho, l=l)[column]) / reference - 1) < 1e-16


@pytest.mark.parametrize(
    "rho, l, r",
    [
        (0.01, 0.3 - 1e-7, 0.3),
        (1e3, 1.0 + 1.1e-5, 1.0),
        (1e-4, 0.0, 0.3),
        (0.1, 1e3, 1.0),
        (1e-8, 1.0 + 1e-3, 1.0),
        (1e-8, 1e8, 1.0),
        (1e3, 1e300, 1.0),
    ],
)
def test_ring_truths_agree_with_direct_quadrature(rho, l, r):
    reference = ring_average(l, r, einstein_radius(rho))
    with mpmath.workdps(30):
        assert abs(mpmath.mpf(_row("ring", rho=rho, l=l, r=r)["ring"]) / reference - 1) < 1e-20


def test_every_case_and_regime_is_published():
    assert sorted(PUBLISHED) == sorted(case.key for case in measure.CASES)
    for figures in PUBLISHED.values():
        assert figures["per_rho"] and all(set(regimes) == set(measure.REGIMES) for regimes in figures["per_rho"].values())


@pytest.mark.parametrize("case", measure.CASES, ids=lambda case: case.key)
def test_errors_stay_within_the_published_figures(case):
    points = measure.measure(case, TRUTHS)
    exceeded = [
        (point.rho, point.l, point.r, point.error, PUBLISHED[case.key]["per_rho"][repr(point.rho)][point.regime])
        for point in points
        if not point.error <= PUBLISHED[case.key]["per_rho"][repr(point.rho)][point.regime]
    ]
    assert not exceeded
    assert all(math.isfinite(point.value) and not point.fault for point in points)
