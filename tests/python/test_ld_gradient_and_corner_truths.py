"""tests/data/ld_gradient_truths.json and ld_corner_truths.json (tools/generate_ld_gradient_truths.py,
tools/generate_ld_corner_truths.py) against physics they were not computed from."""

import json
import pathlib

import mpmath
import pytest

import ld_laws_reference as laws
import lensing_references

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"
GRADIENTS = json.loads((DATA / "ld_gradient_truths.json").read_text())
CORNERS = json.loads((DATA / "ld_corner_truths.json").read_text())
# One unit in the last stored digit, relative.
GRADIENT_ROUNDING = mpmath.mpf(10) ** (1 - GRADIENTS["digits"])
CORNER_ROUNDING = mpmath.mpf(10) ** (1 - CORNERS["digits"])


def number(text):
    return None if text is None else mpmath.mpf(text)


def numbers(case):
    """Mag, dMag/du, dMag/drho (None at l = 1) and [dMag/dc] of a gradient case, as mpf at the working precision."""
    return number(case["A"]), number(case["dA_du"]), number(case["dA_drho"]), [number(t) for t in case["dA_dc"]]


def gradient_cases(kind=None, law=None):
    return [c for c in GRADIENTS["cases"]
            if (kind is None or GRADIENTS["laws"][c["law"]]["kind"] == kind) and (law is None or c["law"] == law)]


def flux(law):
    """The law's total brightness, integral_0^1 I(r) 2r dr."""
    return mpmath.quad(lambda r: laws.profile(law)(r) * 2 * r, sorted({0, 1, *laws.kinks(law)}))


@pytest.mark.parametrize("rho", sorted({c["rho"] for c in gradient_cases("Uniform")}))
def test_uniform_disk_derivatives_against_witt_mao(rho):
    """Mag, dMag/du and dMag/drho of the uniform disk: the Witt-Mao closed form, differentiated by mpmath."""
    cases = [c for c in gradient_cases("Uniform") if c["rho"] == rho and c["u"] != rho]
    assert len(cases) >= 12
    with mpmath.workdps(40):
        def disk(u, rho):
            return lensing_references.uniform_disk(u, rho, dps=mpmath.mp.dps)

        for case in cases:
            value, du, drho, _ = numbers(case)
            u = case["u"]
            closed_du = mpmath.diff(lambda x: disk(x, rho), u) if u > 0 else 0
            closed_drho = mpmath.diff(lambda x: disk(u, x), rho)
            scale = value / rho  # the natural scale of the derivatives
            assert abs(value / disk(u, rho) - 1) < GRADIENT_ROUNDING, case
            assert abs(du - closed_du) < GRADIENT_ROUNDING * (abs(du) + scale), case
            assert abs(drho - closed_drho) < GRADIENT_ROUNDING * (abs(drho) + scale), case


@pytest.mark.parametrize("name", sorted(GRADIENTS["laws"]))
def test_slope_at_the_centre(name):
    """Mag is even in u: dMag/du = 0 at u = 0. For a law smooth at the centre (a sampled law has a cone
    there), Mag = Mag0 + a u^2 + O(u^4) and, at l = 1e-6, dMag/du = 2 (Mag(u) - Mag0) / u to a relative
    1e-12, or to the stored digits of that difference."""
    cases = gradient_cases(law=name)
    pairs = [(c, next(d for d in cases if d["rho"] == c["rho"] and d["u"] == 1e-6 * c["rho"]))
             for c in cases if c["u"] == 0]
    assert pairs
    smooth = GRADIENTS["laws"][name]["kind"] != "Sampled"
    with mpmath.workdps(30):
        for centre, near in pairs:
            centre_value, centre_du, _, _ = numbers(centre)
            value, du, _, _ = numbers(near)
            assert centre_du == 0
            difference = value - centre_value
            if smooth:
                tolerance = 1e-9 + 4 * GRADIENT_ROUNDING * value / abs(difference)
                assert abs(du / (2 * difference / near["u"]) - 1) < tolerance, near


@pytest.mark.parametrize("name", sorted(n for n, law in GRADIENTS["laws"].items() if law["kind"] != "Uniform"))
def test_coefficient_derivatives_against_the_normalisation(name):
    """Mag does not change when the brightness is scaled: for a sampled law, sum_j I_j dMag/dI_j = 0.
    For a law I = 1 - sum_k c_k b_k(mu) (power-2: its c only), sum_k c_k dMag/dc_k = (Mag - Mag_uniform) / N,
    N the law's flux, Mag_uniform the uniform disk's (Witt-Mao)."""
    law = GRADIENTS["laws"][name]
    cases = gradient_cases(law=name)
    assert cases
    with mpmath.workdps(30):
        if law["kind"] == "Sampled":
            weights, total = [mpmath.mpf(i) for i in law["I"]], None
        else:
            weights = [mpmath.mpf(c) for c in law["coefficients"][:1 if law["kind"] == "Power2" else None]]
            total = flux(law)
        for case in cases:
            value, _, _, derivatives = numbers(case)
            terms = [w * d for w, d in zip(weights, derivatives)]
            expected = 0 if total is None else (value - lensing_references.uniform_disk(case["u"], case["rho"], dps=50)) / total
            assert abs(mpmath.fsum(terms) - expected) < GRADIENT_ROUNDING * (value + sum(abs(t) for t in terms)), case


@pytest.mark.parametrize("name", sorted(GRADIENTS["laws"]))
def test_far_wings(name):
    """Far from the star (u >= 10), the derivatives of the far-field mean of A - 1
    (lensing_references.far_field) in u and rho: dMag/du ~ -8/u^5, within the derivatives of its
    remainder, 300/(u - rho)^9 and 3000 rho/(u - rho)^10."""
    wings = [c for c in gradient_cases(law=name) if c["u"] >= 10 and c["u"] / c["rho"] > 1.5]
    assert wings
    law = GRADIENTS["laws"][name]
    with mpmath.workdps(25):
        for case in wings:
            u, rho = mpmath.mpf(case["u"]), mpmath.mpf(case["rho"])
            value, du, drho, _ = numbers(case)
            expected_du = laws.weighted_mean(law, lambda r: mpmath.diff(lambda x: lensing_references.far_field(x, r * rho), u), [])
            expected_drho = laws.weighted_mean(
                law, lambda r: r * mpmath.diff(lambda s: lensing_references.far_field(u, s), r * rho), [])
            assert abs(du - expected_du) <= 300 / (u - rho) ** 9 + GRADIENT_ROUNDING * abs(du), case
            assert abs(drho - expected_drho) <= 3000 * rho / (u - rho) ** 10 + GRADIENT_ROUNDING * abs(drho), case
            assert abs(du * u**5 / -8 - 1) < 20 * (1 + rho * rho) / (u * u), case


def corner_cases(corner, law=None):
    return [c for c in CORNERS["cases"] if c["corner"] == corner and (law is None or c["law"] == law)]


def corner_truth(case):
    return mpmath.mpf(case["truth"])


def test_every_corner_is_there():
    corners = {c["corner"] for c in CORNERS["cases"]}
    assert corners == {"power-2 exponent", "sampled kinks", "large stars", "tiny stars", "extreme coefficients"}
    assert all(corner_truth(c) > 1 for c in CORNERS["cases"])


@pytest.mark.parametrize("corner", ["large stars", "tiny stars"])
def test_uniform_disk_against_witt_mao(corner):
    cases = corner_cases(corner, "uniform")
    assert cases
    with mpmath.workdps(40):
        for case in cases:
            closed = lensing_references.uniform_disk(case["u"], case["rho"], dps=40)
            assert abs(corner_truth(case) / closed - 1) < CORNER_ROUNDING, case


@pytest.mark.parametrize("name", sorted({c["law"] for c in corner_cases("tiny stars")}))
def test_tiny_stars_small_source_limit(name):
    """rho Mag -> the law-weighted mean of the ring means of 1/|x| (lensing_references.inverse_distance,
    x in stellar radii), the next term O(rho^2)."""
    cases = [c for c in corner_cases("tiny stars", name) if c["u"] / c["rho"] in (0.0, 0.5, 2.0)]
    assert len(cases) == 12
    law = CORNERS["laws"][name]
    with mpmath.workdps(30):
        for case in cases:
            rho = mpmath.mpf(case["rho"])
            l = mpmath.mpf(case["u"]) / rho
            limit = laws.weighted_mean(law, lambda r: lensing_references.inverse_distance(l, r), [l] if 0 < l < 1 else [])
            assert abs(corner_truth(case) * rho / limit - 1) < CORNER_ROUNDING + 10 * rho**2, case


@pytest.mark.parametrize("name", sorted({c["law"] for c in corner_cases("large stars")}))
def test_large_stars(name):
    """The excess of the point lens integrates to 2 pi over the plane: with the lens inside a star much
    larger than the Einstein radius where the law is smooth (not a sampled law's centre, a cone),
    Mag - 1 -> 2 I(l) / (N rho^2) (N the law's flux), within a relative O(log(rho) / rho^2); with the
    lens outside, 10 Einstein radii or more from the limb, Mag - 1 is the far-field mean
    (lensing_references.far_field) within 30/(u - rho)^8."""
    law = CORNERS["laws"][name]
    cases = corner_cases("large stars", name)
    cone = law["kind"] == "Sampled"
    inside = [c for c in cases if c["rho"] >= 30 and c["u"] / c["rho"] in ((0.5,) if cone else (0.0, 0.5))]
    outside = [c for c in cases if c["u"] - c["rho"] >= 10]
    assert len(inside) == (3 if cone else 6) and len(outside) >= 4
    with mpmath.workdps(30):
        total = flux(law)
        for case in inside:
            rho = mpmath.mpf(case["rho"])
            expected = 2 * laws.profile(law)(mpmath.mpf(case["u"]) / rho) / (total * rho**2)
            assert abs((corner_truth(case) - 1) / expected - 1) < 2 * (1 + mpmath.log(rho)) / rho**2, case
        for case in outside:
            u, rho = mpmath.mpf(case["u"]), mpmath.mpf(case["rho"])
            expected = laws.weighted_mean(law, lambda r: lensing_references.far_field(u, r * rho), [])
            assert abs(corner_truth(case) - 1 - expected) <= 30 / (u - rho) ** 8 + CORNER_ROUNDING, case


def test_step_is_a_uniform_disk_of_three_tenths():
    """Sampled([0, 0.3, 0.3 + 1e-9, 1], [1, 1, 0, 0]) is a uniform disk of radius 0.3 rho but for a ramp of
    width 1e-9, whose flux and log-singular ring means weigh below 1e-7."""
    cases = corner_cases("sampled kinks", "sampled_step_0.3")
    assert len(cases) >= 6
    for case in cases:
        with mpmath.workdps(30):
            closed = lensing_references.uniform_disk(case["u"], mpmath.mpf(0.3) * mpmath.mpf(case["rho"]), dps=60)
            assert abs(corner_truth(case) / closed - 1) < 1e-7, case
