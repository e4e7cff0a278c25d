"""tests/data/ld_truths.json (tools/generate_ld_truths.py) against physics it was not computed from."""

import json
import pathlib

import mpmath
import pytest

import ld_laws_reference as laws
import lensing_references

DATA = json.loads((pathlib.Path(__file__).resolve().parents[1] / "data" / "ld_truths.json").read_text())
LAWS = DATA["laws"]
CASES = DATA["cases"]
# One unit in the last stored digit, relative (the truths are rounded to DATA["digits"] digits).
ROUNDING = mpmath.mpf(10) ** (1 - DATA["digits"])


def truth(case):
    with mpmath.workdps(30):
        return mpmath.mpf(case["truth"])


def test_magnified_everywhere():
    assert all(truth(case) > 1 for case in CASES)


UNIFORM_CENTRE = [c for c in CASES if LAWS[c["law"]]["kind"] == "Uniform" and c["u"] == 0]
assert UNIFORM_CENTRE, "the uniform disk at the centre is missing from the data"


@pytest.mark.parametrize("case", UNIFORM_CENTRE,
                         ids=lambda c: f"rho={c['rho']!r}")
def test_uniform_disk_at_the_centre(case):
    with mpmath.workdps(30):
        rho = mpmath.mpf(case["rho"])
        assert abs(truth(case) / (mpmath.sqrt(rho * rho + 4) / rho) - 1) < ROUNDING


@pytest.mark.parametrize("name", sorted({c["law"] for c in CASES}))
def test_far_wings(name):
    """Far from the star, Mag - 1 is the law-weighted mean of the ring means of A - 1 to order x^-6
    (lensing_references.far_field), within 30/x^8."""
    wings = [c for c in CASES if c["law"] == name and c["u"] >= 10 and c["u"] / c["rho"] > 1.5]
    assert wings
    with mpmath.workdps(20):
        for case in wings:
            u, rho = mpmath.mpf(case["u"]), mpmath.mpf(case["rho"])
            excess = truth(case) - 1
            expected = laws.weighted_mean(LAWS[name], lambda r: lensing_references.far_field(u, r * rho), [])
            assert abs(excess - expected) <= 30 / (u - rho) ** 8 + ROUNDING * truth(case), case
            assert abs(excess * u**4 / 2 - 1) < 20 * (1 + rho * rho) / (u * u), case


SMALL_SOURCE = [c for c in CASES if c["rho"] == 1e-4 and any(abs(c["u"] / c["rho"] - l) < 1e-12 for l in (0, 0.5, 0.9))
                and c["law"] in ("uniform", "linear_0.6", "square-root_0.2_0.5", "power-2_0.7_0.6",
                                 "four-parameter_0.5_0.1_0.3_-0.2")]


assert len(SMALL_SOURCE) == 15, "the small-source cases are missing from the data"


@pytest.mark.parametrize("case", SMALL_SOURCE, ids=lambda c: f"{c['law']} l={c['u'] / c['rho']:.2g}")
def test_small_source_limit(case):
    """For rho -> 0, A ~ 1/|x|: rho Mag -> the weighted mean over the star of the mean of 1/|x| over each ring,
    (2 / (pi max(l, r))) K(min(l, r)^2 / max(l, r)^2) (x in stellar radii); the next term is O(rho^2)."""
    with mpmath.workdps(15):
        l = mpmath.mpf(case["u"]) / mpmath.mpf(case["rho"])
        limit = laws.weighted_mean(LAWS[case["law"]], lambda r: lensing_references.inverse_distance(l, r),
                                   [l] if l > 0 else [])
        assert abs(truth(case) * case["rho"] / limit - 1) < 1e-7
