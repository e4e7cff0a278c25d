"""Measures the relative error of every caldrith function on the atlas grid against the stored truths.

Pure Python (the truths are compared as decimals, so a truth is never rounded to a double first);
make_atlas.py draws and tabulates the result, and tests/python/test_atlas.py checks that the errors
stay within the published figures.
"""

import dataclasses
import decimal
import json
import math
import pathlib

import caldrith

HERE = pathlib.Path(__file__).resolve().parent
TRUTHS = HERE / "truths.json"
FIGURES = HERE / "figures.json"

REGIMES = ("centre", "inside", "limb", "far", "distant")
REGIME_TITLES = {
    "centre": "centre (l ≤ 0.01)",
    "inside": "inside (0.01 < l < 0.9)",
    "limb": "limb (|l − 1| ≤ 0.1)",
    "far": "far (1.1 < l ≤ 1e3)",
    "distant": "distant (1e3 < l ≤ 1e300)",
}
UNIFORM_PROFILE = {"bl": [0.0, 1.0], "bf": [1.0, 1.0]}
LIMB_WIDTH = 0.1 + 1e-12  # the limb regime's half-width, with room for 1 ± 0.1 rounding off


def regime(l, r=1.0):
    """The regime of a position l (stellar radii) relative to the limb, or to the ring of radius r."""
    if l <= 1e-2:
        return "centre"
    if abs(l - r) <= LIMB_WIDTH:
        return "limb"
    if l < r:
        return "inside"
    return "far" if l <= 1e3 else "distant"


def relative_error(value, truth):
    """|value - truth| / |truth| with the truth as its decimal string; inf for a non-finite value."""
    if not math.isfinite(value):
        return math.inf
    with decimal.localcontext(prec=50):
        exact = decimal.Decimal(truth)
        return float(abs((decimal.Decimal(value) - exact) / exact))


@dataclasses.dataclass(frozen=True)
class Point:
    rho: float
    l: float
    r: float  # the ring radius for the thin ring, 1 (the limb) for every other function
    value: float
    truth: str
    error: float
    fault: str = ""  # the exception raised, if any

    @property
    def regime(self):
        return regime(self.l, self.r)


@dataclasses.dataclass(frozen=True)
class Case:
    key: str  # unique, also the name of the plot
    function: str
    profile: str  # what the star is, as the table says it
    truth: str  # the column of truths.json


CASES = [
    Case("witt_mao_magnification", "witt_mao_magnification", "uniform disk", "uniform"),
    Case("multi_witt_mao_magnification", "multi_witt_mao_magnification", "uniform disk", "uniform"),
    Case("heyrovsky_magnification", "heyrovsky_magnification", "thin ring r = 1 and r = 0.3", "ring"),
    Case("integrated_witt_mao_magnification", "integrated_witt_mao_magnification", "linear law 0.6", "limb_darkened"),
    Case("integrated_heyrovsky_magnification", "integrated_heyrovsky_magnification", "linear law 0.6", "limb_darkened"),
    Case("integrated_flux_map_witt_mao_magnification", "integrated_flux_map_witt_mao_magnification",
         "sampled profile", "sampled"),
    Case("integrated_flux_map_witt_mao_magnification_uniform", "integrated_flux_map_witt_mao_magnification",
         "uniform profile", "uniform"),
    Case("integrated_flux_map_heyrovsky_magnification", "integrated_flux_map_heyrovsky_magnification",
         "sampled profile", "sampled"),
    Case("integrated_flux_map_heyrovsky_magnification_uniform", "integrated_flux_map_heyrovsky_magnification",
         "uniform profile", "uniform"),
    Case("discrete_flux_map_heyrovsky_magnification", "discrete_flux_map_heyrovsky_magnification",
         "10 weighted rings", "discrete"),
]


def load_truths():
    return json.loads(TRUTHS.read_text())


def by_rho(items, rho=lambda item: item["rho"]):
    """The items grouped by stellar radius, in order of first appearance."""
    groups = {}
    for item in items:
        groups.setdefault(rho(item), []).append(item)
    return groups


def _profile(case, truths):
    if case.truth == "uniform":
        return UNIFORM_PROFILE
    if case.truth == "discrete":
        return truths["discrete_profile"]
    return truths["sampled_profile"]


def _disk_values(case, groups, truths):
    """{rho: the function's values at the positions of that star's rows, in order}."""
    function = getattr(caldrith, case.function)
    positions = {rho: [row["l"] for row in rows] for rho, rows in groups.items()}
    if case.function == "multi_witt_mao_magnification":
        # Every star in one call (re = 1, rstar = each rho), as the list function is meant to be used.
        (shared,) = {tuple(each) for each in positions.values()}
        return dict(zip(groups, function(list(shared), [1.0], list(groups)), strict=True))
    if "flux_map" in case.function:
        profile = _profile(case, truths)
        return {rho: function(positions[rho], 1.0, rho, profile["bl"], profile["bf"]) for rho in groups}
    return {rho: function(positions[rho], 1.0, rho) for rho in groups}


def _ring_point(row):
    try:
        value = caldrith.heyrovsky_magnification(row["l"], row["r"], 1.0, row["rho"])
    except RuntimeError as error:
        return Point(row["rho"], row["l"], row["r"], math.nan, row["ring"], math.inf, f"RuntimeError: {error}")
    return Point(row["rho"], row["l"], row["r"], value, row["ring"], relative_error(value, row["ring"]))


def measure(case, truths):
    """Every point of one case: rho, position, value, truth and relative error."""
    if case.truth == "ring":
        return [_ring_point(row) for row in truths["ring"]]
    points = []
    groups = by_rho(truths["disk"])
    values = _disk_values(case, groups, truths)
    for rho, rows in groups.items():
        for row, value in zip(rows, values[rho], strict=True):
            truth = row[case.truth]
            points.append(Point(rho, row["l"], 1.0, value, truth, relative_error(value, truth)))
    return points


def published_figure(error):
    """The error rounded up to two significant digits, as the table prints it (never below the error)."""
    if error == 0 or not math.isfinite(error):
        return error
    exact = decimal.Decimal(error)
    scale = exact.adjusted() - 1
    digits = (exact.scaleb(-scale)).to_integral_value(rounding=decimal.ROUND_CEILING)
    return float(digits.scaleb(scale))


def maxima(points):
    """{regime: largest error} over the points, for the regimes that have points."""
    worst = {}
    for point in points:
        worst[point.regime] = max(worst.get(point.regime, 0.0), point.error)
    return {name: worst[name] for name in REGIMES if name in worst}


TYPICAL_RHO = (1e-3, 1e3)  # the stellar radii of the headline table, in Einstein radii


def figures(points):
    """The published figures of one case: over the typical stellar radii, over every one, and for each apart."""
    typical = [point for point in points if TYPICAL_RHO[0] <= point.rho <= TYPICAL_RHO[1]]
    return {
        "typical": {name: published_figure(error) for name, error in maxima(typical).items()},
        "all": {name: published_figure(error) for name, error in maxima(points).items()},
        "per_rho": {
            repr(rho): {name: published_figure(error) for name, error in maxima(group).items()}
            for rho, group in by_rho(points, lambda point: point.rho).items()
        },
    }
