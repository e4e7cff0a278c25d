"""Draws the accuracy atlas: evaluates every caldrith function on the grid of docs/atlas/truths.json,
plots its relative error (docs/atlas/<case>.png), writes the table docs/accuracy.md and the
published figures docs/atlas/figures.json (which tests/python/test_atlas.py holds the module to).

    .venv/bin/python docs/atlas/make_atlas.py      # needs matplotlib (requirements-dev.txt)
"""

import json
import math
import sys
import time

import caldrith
import matplotlib
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import measure  # noqa: E402

ACCURACY = measure.HERE.parent / "accuracy.md"
FLOOR = 1e-17  # errors below this (exact values included) are drawn at it
CENTRE_AT = 1e-9  # where l = 0 is drawn on the logarithmic axis
FAULT_AT = 1e2  # where a NaN, an infinity or an exception is drawn
# The position axis is logarithmic up to l = 1e6 and beyond it logarithmic in log10 l, so that the
# decades out to 1e300 take about as much room as the fifteen from 1e-9 to 1e6.
EVERY_DECADE_UP_TO = 6
POSITION_TICKS = [1e-9, 1e-3, 1e3, 1e15, 1e30, 1e100, 1e300]


def _plotted(error):
    return FAULT_AT if not math.isfinite(error) else max(error, FLOOR)


def _draw(axes, points, x, rhos, colours):
    """One line per stellar radius of the points whose x(point) is not None."""
    for rho in rhos:
        chosen = sorted((x(p), _plotted(p.error)) for p in points if p.rho == rho and x(p) is not None)
        if chosen:
            xs, ys = zip(*chosen)
            axes.plot(xs, ys, marker=".", markersize=4, linewidth=0.9, color=colours[rho], label=f"ρ = {rho:g}")


def _log_then_log_log(x):
    with np.errstate(divide="ignore", invalid="ignore"):
        decades = np.log10(np.asarray(x, dtype=float))
        far = EVERY_DECADE_UP_TO * (1 + np.log2(np.maximum(decades, EVERY_DECADE_UP_TO) / EVERY_DECADE_UP_TO))
    return np.where(decades <= EVERY_DECADE_UP_TO, decades, far)


def _log_then_log_log_inverse(y):
    y = np.asarray(y, dtype=float)
    with np.errstate(over="ignore"):
        far = EVERY_DECADE_UP_TO * np.exp2(y / EVERY_DECADE_UP_TO - 1)
        return np.power(10.0, np.where(y <= EVERY_DECADE_UP_TO, y, far))


def _position_axis(axes, positions):
    """The scale of the panel over every position, out to the largest."""
    axes.set_xscale("function", functions=(_log_then_log_log, _log_then_log_log_inverse))
    ticks = [tick for tick in POSITION_TICKS if tick <= max(positions)]
    axes.xaxis.set_major_locator(matplotlib.ticker.FixedLocator(ticks))
    axes.xaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda x, _: f"$10^{{{round(math.log10(x))}}}$"))
    axes.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
    axes.set_xlim(CENTRE_AT / 3, max(positions) * 3)


def _frame(axes, xlabel, title):
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_ylim(FLOOR / 3, FAULT_AT * 3)
    axes.set_xlabel(xlabel)
    axes.set_title(title, fontsize=9)
    axes.grid(True, which="major", linewidth=0.3)


def plot(rows, title, path):
    """rows: (label, points, r) per row of panels; r is the limb (1) or the ring radius."""
    rhos = sorted({p.rho for _, points, _ in rows for p in points})
    cmap = plt.get_cmap("viridis")
    colours = {rho: cmap(i / max(len(rhos) - 1, 1)) for i, rho in enumerate(rhos)}
    figure, grid = plt.subplots(len(rows), 3, figsize=(13, 3.6 * len(rows) + 0.6), squeeze=False,
                                gridspec_kw={"width_ratios": [1.6, 1, 1]})
    for (label, points, r), (whole, before, after) in zip(rows, grid):
        edge = "limb" if r == 1.0 else "ring"
        _frame(whole, "l (stellar radii; l = 0 drawn at 1e-9; beyond 1e6 log log)", f"{label}: all positions")
        _position_axis(whole, [p.l for p in points])
        _draw(whole, points, lambda p: p.l if p.l > 0 else CENTRE_AT, rhos, colours)
        whole.axvline(r, color="grey", linewidth=0.6, linestyle=":")
        _draw(before, points, lambda p: r - p.l if 0 < r - p.l <= measure.LIMB_WIDTH else None, rhos, colours)
        _frame(before, f"{r:g} − l", f"{label}: just inside the {edge}")
        before.set_xlim(0.15, 5e-8)  # towards the limb, left to right
        _draw(after, points, lambda p: p.l - r if 0 < p.l - r <= measure.LIMB_WIDTH else None, rhos, colours)
        _frame(after, f"l − {r:g}", f"{label}: just outside the {edge}")
        after.set_xlim(5e-8, 0.15)
        whole.set_ylabel("relative error")
    handles, labels = grid[0][0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="lower center", ncol=len(labels), fontsize=8, frameon=False)
    figure.suptitle(f"{title} — relative error against mpmath "
                    f"(floor {FLOOR:g}: exact or better; {FAULT_AT:g}: NaN, inf or an exception)", fontsize=10)
    figure.tight_layout(rect=(0, 0.05 / len(rows), 1, 1))
    figure.savefig(path, dpi=90)
    plt.close(figure)


def _cell(error):
    if error is None:
        return "—"
    if not math.isfinite(error):
        return "**fault**"
    return "0" if error == 0 else f"{error:.1e}"


def _regime_columns(rows):
    titles = (measure.REGIME_TITLES[name].replace("|", "\\|") for name in measure.REGIMES)
    header = "| " + " | ".join(["function", "star", *titles]) + " |"
    lines = [header, "|" + "---|" * (2 + len(measure.REGIMES))]
    for function, profile, figures in rows:
        cells = [_cell(figures.get(name)) for name in measure.REGIMES]
        lines.append("| " + " | ".join([f"`{function}`", profile, *cells]) + " |")
    return "\n".join(lines)


def _per_rho_table(case, figures):
    lines = ["| ρ | " + " | ".join(measure.REGIMES) + " |", "|---|" + "---|" * len(measure.REGIMES)]
    for rho, by_regime in figures["per_rho"].items():
        lines.append(f"| {float(rho):g} | " + " | ".join(_cell(by_regime.get(name)) for name in measure.REGIMES) + " |")
    return f"**{case.function}** ({case.profile}, [plot](atlas/{case.key.removesuffix("_uniform")}.png))\n\n" + "\n".join(lines)


def main():
    truths = measure.load_truths()
    start = time.monotonic()
    results = [(case, measure.measure(case, truths)) for case in measure.CASES]
    elapsed = time.monotonic() - start
    published = {case.key: measure.figures(points) for case, points in results}
    measure.FIGURES.write_text(json.dumps(published, indent=1) + "\n")

    points_of = {case.key: points for case, points in results}
    for case, points in results:
        if case.key.endswith("_uniform"):
            continue
        if case.truth == "ring":
            rows = [(f"ring r = {r:g}", [p for p in points if p.r == r], r) for r in sorted({p.r for p in points}, reverse=True)]
        elif case.key + "_uniform" in points_of:
            rows = [(case.profile, points, 1.0), ("uniform profile", points_of[case.key + "_uniform"], 1.0)]
        else:
            rows = [(case.profile, points, 1.0)]
        plot(rows, case.function, measure.HERE / f"{case.key}.png")

    faults = [(case, p) for case, points in results for p in points if not math.isfinite(p.error)]
    headline = _regime_columns([(case.function, case.profile, published[case.key]["typical"]) for case, _ in results])
    everything = _regime_columns([(case.function, case.profile, published[case.key]["all"]) for case, _ in results])
    per_rho = "\n\n".join(_per_rho_table(case, published[case.key]) for case, _ in results)
    ACCURACY.write_text(render(published, points_of, headline, everything, per_rho, faults, truths))
    print(f"measured {sum(len(points) for _, points in results)} values in {elapsed:.1f} s; "
          f"{len(faults)} faults; wrote {ACCURACY} and the plots", file=sys.stderr)


def _beyond_the_grid():
    """Calls past the grid: the largest doubles, a product u = l rho that overflows, an infinite l."""
    uniform = ([0.0, 1.0], [1.0, 1.0])
    calls = [
        ("witt_mao_magnification([1e305, 1.7e308, inf], 1.0, 0.001)",
         caldrith.witt_mao_magnification([1e305, 1.7e308, math.inf], 1.0, 0.001)),
        ("witt_mao_magnification([1e305, 1.7e308], 1.0, 1000.0)",
         caldrith.witt_mao_magnification([1e305, 1.7e308], 1.0, 1000.0)),
        ("integrated_witt_mao_magnification([1.7e308], 1.0, 0.001)",
         caldrith.integrated_witt_mao_magnification([1.7e308], 1.0, 0.001)),
        ("integrated_heyrovsky_magnification([1.7e308, inf], 1.0, 0.001)",
         caldrith.integrated_heyrovsky_magnification([1.7e308, math.inf], 1.0, 0.001)),
        ("integrated_flux_map_witt_mao_magnification([1.7e308], 1.0, 0.001, [0, 1], [1, 1])",
         caldrith.integrated_flux_map_witt_mao_magnification([1.7e308], 1.0, 0.001, *uniform)),
        ("integrated_flux_map_heyrovsky_magnification([1.7e308], 1.0, 1000.0, [0, 1], [1, 1])",
         caldrith.integrated_flux_map_heyrovsky_magnification([1.7e308], 1.0, 1000.0, *uniform)),
        ("heyrovsky_magnification(1.7e308, 1.0, 1.0, 1000.0)", caldrith.heyrovsky_magnification(1.7e308, 1.0, 1.0, 1000.0)),
        ("discrete_flux_map_heyrovsky_magnification([1.7e308], 1.0, 1000.0, [0.5], [1.0])",
         caldrith.discrete_flux_map_heyrovsky_magnification([1.7e308], 1.0, 1000.0, [0.5], [1.0])),
    ]
    return calls


def _number(x):
    """A grid value as the prose writes it: 1e-8, 0.01, 1000, 1e300."""
    if 0 < x < 1e-2 or x >= 1e4:
        mantissa, exponent = f"{x:.0e}".split("e")
        return f"{mantissa}e{int(exponent)}"
    return f"{x:g}"


SMALL_SOURCE_RADIUS = 1e-4  # below it the uniform-disk kernel takes its small-source branches


def window(p):
    """The uniform-disk kernel's near-limb window at a point, in positions |l - 1|."""
    return 1e-3 if p.rho < SMALL_SOURCE_RADIUS else max(1e-3, 1e-5 / p.rho)


def render(published, points_of, headline, everything, per_rho, faults, truths):
    """docs/accuracy.md: the prose quotes the measured figures, so it cannot drift from them."""

    def worst_where(key, keep):
        return _cell(measure.published_figure(max(p.error for p in points_of[key] if keep(p))))

    def fig(key, rho, regime):
        return _cell(published[key]["per_rho"][repr(rho)].get(regime))

    def worst(key, regime, rhos):
        return _cell(max(published[key]["per_rho"][repr(rho)][regime] for rho in rhos))

    def overall(key, regime):
        return _cell(published[key]["all"][regime])

    def moderate_and_tiny(key, regime):
        """The worst figures of 0.01 <= rho <= 1 and of rho < 1e-4, as the prose quotes them."""
        first, second = worst(key, regime, moderate), worst(key, regime, tiny)
        if first == second:
            return f"{first} for 0.01 ≤ ρ ≤ 1 and for ρ < 1e-4 alike"
        return f"{first} for 0.01 ≤ ρ ≤ 1 and {second} for ρ < 1e-4"

    all_rhos = sorted({row["rho"] for row in truths["disk"]})
    tiny = [rho for rho in all_rhos if rho < SMALL_SOURCE_RADIUS]
    moderate = [rho for rho in all_rhos if 0.01 <= rho <= 1.0]
    rhos = ", ".join(_number(rho) for rho in all_rhos)
    positions = sorted({row["l"] for row in truths["disk"]})
    beyond_far = ", ".join(_number(l) for l in positions if l > 1e3)
    sampled = truths["sampled_profile"]
    disk = "witt_mao_magnification"
    limb_rho = max(all_rhos, key=lambda rho: published[disk]["per_rho"][repr(rho)]["limb"])
    fault_text = (
        "On the whole grid no function crashed, hung, raised, or returned a NaN or an infinity."
        if not faults
        else "Faults (NaN, infinity or exception where a value exists):\n\n"
        + "\n".join(f"- `{case.function}` ρ = {p.rho:g}, l = {p.l!r}, r = {p.r!r}: {p.fault or p.value!r}" for case, p in faults)
    )
    beyond = "\n".join(f"- `{call}` → {value!r}" for call, value in _beyond_the_grid())
    (integrated_far,) = caldrith.integrated_witt_mao_magnification([1.7e308], 1.0, 0.001)
    return f"""# Accuracy atlas

How accurate each of caldrith's eight functions is, where, measured: every function is evaluated
on a grid of stellar radii and positions, and its relative error |value − truth| / truth is taken
against a high-precision reference.

- **Inputs** as a modeller passes them: `re = 1`, `rstar = ρ` (the stellar radius in Einstein
  radii), positions `l = u / ρ` in stellar radii.
- **Stellar radii** ρ = {rhos}.
- **Positions**: {len(positions)} values of l from 0 to {_number(max(positions))}: the centre (0, 1e-8 … 1e-2),
  the inside, both sides of the limb at |l − 1| = 1e-7 … 1e-1 and the limb itself, far outside,
  and beyond l = 1e3 at l = {beyond_far} (u = lρ stays a double for every ρ of the grid).
- **Thin ring** (`heyrovsky_magnification`): the limb ring r = 1 over the same positions and a ring
  r = 0.3, both approached from either side at |l − r| = 1e-7 … 1e-1 (around the kernel's
  near-ring threshold 1e-5 in particular).
- **Profiles**: the linear law of coefficient 0.6 for the two `integrated_*` functions; for the flux
  maps the sampled profile `bl = {sampled["bl"]}`, `bf = {sampled["bf"]}` (two kinks inside the
  star) and the uniform profile `bl = [0, 1]`, `bf = [1, 1]`; for the discrete flux map ten rings
  at r = 0.05, 0.15, …, 0.95 weighted by the limb-darkened flux of their annuli.
- **Truths** (`docs/atlas/truths.json`, made once by `docs/atlas/make_truths.py` with mpmath, about
  three minutes on two cores): for the uniform disk the Witt–Mao closed form at
  40 + 2 log10 l + 2 log10(1/ρ) digits (its terms cancel as about (l/ρ)²: far from the star, and
  for small stars), and where that would exceed 120 digits (l · max(1, 1/ρ) beyond 1e40) the ring-by-ring
  quadrature below with a uniform profile; the mean point-lens magnification over the ring in
  closed form at 30 digits for the thin ring (and summed with the weights for the discrete flux
  map); for the limb-darkened and sampled profiles, the integral over the disk of the point-lens
  magnification weighted by the profile itself (the piecewise-linear interpolation of the
  samples), taken ring by ring at 30 digits and split at the ring through the lens and at the
  kinks. mpmath's exponents are unbounded, so nothing overflows out to l = 1e300. Before writing,
  the generator checks a sample of each kind, l = 1e300 and ρ = 1e-8 among them, against direct
  quadratures of the point-lens magnification over the ring or the disk
  (`tests/python/lensing_references.py`, the disk quadratures at 17 digits), and the closed form
  at its most digits (l = 1e30, ρ = 1e-8) against the rings; they agree to {truths["cross_check"]} or better.
- **Regimes**: {"; ".join(measure.REGIME_TITLES.values())}. For the thin ring "limb" is the ring
  itself (|l − r| ≤ 0.1), "inside" and "far" are the positions inside and outside it.

Errors below 1e-17 are drawn at 1e-17 in the plots. Figures are rounded up to two digits.
Remake everything with

```sh
.venv/bin/python docs/atlas/make_atlas.py          # a few seconds: values, plots, this page
nice .venv/bin/python docs/atlas/make_truths.py    # only if the grid changes
```

`tests/python/test_atlas.py` spot-checks the truths and fails if any function's error on this grid
exceeds the figure published here for its stellar radius and regime.

## Headline: maximum relative error, {measure.TYPICAL_RHO[0]:g} ≤ ρ ≤ {measure.TYPICAL_RHO[1]:g}

{headline}

The same over every ρ of the grid, down to {_number(all_rhos[0])} (the uniform-disk rows' limb figure is that of
ρ = {_number(limb_rho)}, where the absolute floor of the kernel's near-limb window widens it to
|l − 1| < {max(1e-3, 1e-5 / limb_rho):g}; see below):

{everything}

## Where each route is weak

- **The uniform-disk kernel's branches** (`witt_mao_magnification`, `multi_witt_mao_magnification`,
  and every disk inside `integrated_witt_mao_magnification` and
  `integrated_flux_map_witt_mao_magnification`). In positions l = u / ρ, for ρ ≥ 1e-4 the kernel
  takes a far-field series beyond l > 1000 (for a finite u), the value for a lens exactly on the
  limb within |l − 1| < max(1e-3, 1e-5 / ρ) (that is |u − ρ| < max(1e-3 ρ, 1e-5)), and the
  Witt–Mao closed form everywhere else. For 0 < ρ < 1e-4 it takes the far-field series beyond
  l > 30, the on-limb value within |l − 1| < 1e-3 (no absolute floor; the on-limb value written
  as ((1 + ρ²)/ρ² · 2 atan ρ + 2/ρ) / π, which keeps its digits as ρ → 0), and small-source forms
  everywhere else (the disk means of 1/r and r in complete elliptic integrals). The far-field
  series is the disk mean of the point-lens magnification expanded in (ρ/u)², three terms.
- **The near-limb window.** At its edge, |l − 1| = 1e-3, the on-limb value is off by up to
  {moderate_and_tiny(disk, "limb")}
  ({fig(disk, 10.0, "limb")} at ρ = 10, {fig(disk, 1000.0, "limb")} at ρ = 1000). For 1e-4 ≤ ρ < 0.01 the absolute floor 1e-5 widens the
  window: |l − 1| < 0.01 at ρ = 1e-3 (error {fig(disk, 0.001, "limb")}) and < 0.1 at ρ = 1e-4 ({fig(disk, 0.0001, "limb")}).
  **Where the limb matters, for 1e-4 ≤ ρ < 0.01 above all, use the thin-ring routes.**
- **The closed form** (ρ ≥ 1e-4, l ≤ 1000) is good to
  {worst_where(disk, lambda p: p.rho >= 1e-4 and p.regime in ("centre", "inside"))} inside the star; just outside the window it loses
  digits as the characteristic n of Π nears 1, up to
  {worst_where(disk, lambda p: p.rho >= 1e-4 and 1.5 * window(p) < abs(p.l - 1) <= measure.LIMB_WIDTH)} at |l − 1| ≥ 1.5 × the window.
  Farther out its terms cancel, the error growing as about l² × 1e-16 up to the switch:
  {worst_where(disk, lambda p: p.rho >= 1e-4 and p.l == 300.0)} at l = 300 and {worst_where(disk, lambda p: p.rho >= 1e-4 and p.l == 1e3)} at l = 1e3, the last position before it.
- **The far-field series and the small-source forms** have none of these cancellations. Beyond
  the switch the uniform disk is good to {overall(disk, "distant")} at every ρ of the grid out to
  l = 1e300 (the closed form would lose digits there as l² × 1e-16: 8e-5 at l = 1e6). For ρ < 1e-4,
  outside the window, the small-source forms and the series are good to
  {worst_where(disk, lambda p: p.rho < SMALL_SOURCE_RADIUS and abs(p.l - 1) >= 1.5 * window(p))}, where the closed form would have lost about 1e-16 / ρ²
  (everything at ρ = 1e-8).
- **`integrated_witt_mao_magnification`** integrates the uniform-disk magnification of concentric
  disks of radius ρμ, μ = √(1 − t²), in one quadrature over t. Inside the star the integrand has a
  kink where such a disk's limb passes the lens, at t = √(1 − l²), which the unsplit quadrature
  does not resolve, and the disks whose limb lies within the window of the lens take the on-limb
  value; together, inside the star the error is {worst("integrated_witt_mao_magnification", "inside", moderate)} for 0.01 ≤ ρ ≤ 1
  and {worst("integrated_witt_mao_magnification", "inside", tiny + [0.0001])} for ρ ≤ 1e-4, but {fig("integrated_witt_mao_magnification", 0.001, "inside")} at ρ = 1e-3, whose disks of radius
  1e-4 … 1e-3 have the floor's wide windows; within 0.1 of the limb it is
  {moderate_and_tiny("integrated_witt_mao_magnification", "limb")}
  ({fig("integrated_witt_mao_magnification", 0.001, "limb")} at ρ = 1e-3, {fig("integrated_witt_mao_magnification", 0.0001, "limb")} at ρ = 1e-4). At the centre the worst,
  {fig("integrated_witt_mao_magnification", 0.01, "centre")} at ρ = 0.01 and l = 0.01, is where the disk whose limb passes the lens has the radius
  1e-4, at which the window changes from the floor 1e-5 (above) to 1e-3 of the radius (below). Outside the star it follows the closed form of the whole disk
  up to the switch ({worst_where("integrated_witt_mao_magnification", lambda p: p.l == 1e3)} at l = 1e3); beyond it every disk takes the far-field series, and
  the error, {overall("integrated_witt_mao_magnification", "distant")}, is the rounding of the normalisation.
- **The thin-ring kernel's near-ring expansion.** Where the ring passes within |r − l| < 1e-5 of
  the lens, `heyrovsky_magnification` (and `discrete_flux_map_heyrovsky_magnification`) use a
  first-order expansion. It is worst just inside the threshold, up to
  {worst_where("heyrovsky_magnification", lambda p: 9e-6 < abs(p.l - p.r) < 1e-5)} at |r − l| = 9e-6, and improves as the ring closes in: {worst_where("heyrovsky_magnification", lambda p: 5e-8 < abs(p.l - p.r) < 2e-7)} at
  |r − l| = 1e-7. Just outside the threshold the closed form is off by up to
  {worst_where("heyrovsky_magnification", lambda p: 1e-5 <= abs(p.l - p.r) < 1.2e-5)} (Π near n = 1, worst for large ρ); beyond
  |r − l| = 1e-3 by at most {worst_where("heyrovsky_magnification", lambda p: abs(p.l - p.r) >= 1e-3 - 1e-12)}. Lengths beyond 2^500 (about 3e150; their
  squares overflow beyond about 1e154) are first scaled by a power of two, which is exact, so the
  kernel keeps {overall("heyrovsky_magnification", "distant")} out to l = 1e300.
- **l = 0 for the thin-ring integrals.** `integrated_heyrovsky_magnification` and
  `integrated_flux_map_heyrovsky_magnification` take the near-ring expansion only where
  |t − l| < 1e-5 l, so a lens at or near the centre of the star gets the exact ring values (the
  absolute window they used before gave 1.2e-5 at l = 0, 2 % at l = 1e-7 and worse below). Their
  centre error is now {worst("integrated_heyrovsky_magnification", "centre", all_rhos)}. Beyond l > 1e150 both return the uniform disk's value
  (the far-field series), which is then the point-lens magnification to the last bit: the
  profile's share is (1/l)² relative.
- **Kinks of a sampled profile.** Both integrated flux maps integrate the interpolated profile over
  [0, 1] in one quadrature (the magnified flux and the normalisation alike), so the kinks at the
  inner samples cost digits: with the four-sample profile above both routes are off by about
  {worst("integrated_flux_map_heyrovsky_magnification", "inside", all_rhos)} whatever ρ, also at
  l = 0 and, partly cancelled, far outside ({fig("integrated_flux_map_heyrovsky_magnification", 0.1, "far")} at ρ = 0.1). With a
  smooth profile (the uniform one) the thin-ring route is good to
  {worst("integrated_flux_map_heyrovsky_magnification_uniform", "limb", all_rhos)}. Sample a law densely
  enough that the kinks do not matter at the accuracy you need.
- **`integrated_flux_map_witt_mao_magnification`** takes each ring's magnification from the
  difference of two uniform disks 2e-4 stellar radii apart (their near-limb window 1e-5 times
  their radius, without a floor). With the uniform profile it is good to
  {fig("integrated_flux_map_witt_mao_magnification_uniform", 0.1, "centre")} at the centre and
  {worst("integrated_flux_map_witt_mao_magnification_uniform", "limb", all_rhos)} near the limb at every ρ. The difference amplifies the errors of
  its disks, about t / 4e-4 times for the annulus at radius t. Smooth errors largely cancel in it,
  but where its two disks straddle a switch of the kernel (one by the far-field series, the other
  by the closed form, 1e-10 off at l/t = 1000) the jump does not: it makes the far regime's
  worst, {fig("integrated_flux_map_witt_mao_magnification_uniform", 0.001, "far")} at ρ = 1e-3 (l = 300, annuli at t ≈ 0.3); elsewhere up to l = 1e3 it is
  {worst_where("integrated_flux_map_witt_mao_magnification_uniform", lambda p: p.regime == "far" and p.rho != 0.001)}. Beyond l = 1e3 every disk takes the far-field series:
  {overall("integrated_flux_map_witt_mao_magnification_uniform", "distant")} out to l = 1e300 (through the closed form the amplified cancellation
  reached 5.8e-2 at l = 1e6). On the star itself prefer the thin-ring flux map.

## Which function to use

- **Where the limb matters** (the lens within a few hundredths of a stellar radius of the limb;
  within a tenth of it for 1e-4 ≤ ρ < 0.01): `integrated_heyrovsky_magnification` for the linear
  law 0.6 (≤ {max(published["integrated_heyrovsky_magnification"]["all"].values()):.1e} on the whole grid) and
  `integrated_flux_map_heyrovsky_magnification` for any other profile (as accurate as the
  quadrature of the sampled profile allows).
- Away from the limb the uniform-disk routes are accurate and faster, at every ρ of the grid:
  `witt_mao_magnification` to {overall(disk, "inside")} inside the star, {overall(disk, "far")} out to l = 1e3 (its
  closed form cancelling towards the switch) and {overall(disk, "distant")} beyond, out to l = 1e300.
- The thin-ring routes keep their accuracy at any distance: `integrated_heyrovsky_magnification`
  is good to {overall("integrated_heyrovsky_magnification", "distant")} out to l = 1e300.
- `discrete_flux_map_heyrovsky_magnification` is exactly the weighted sum of its rings, to about
  {max(published["discrete_flux_map_heyrovsky_magnification"]["all"].values()):.1e} on the grid (no position of which lies within 1e-5 of one of its
  rings; each ring is as accurate as `heyrovsky_magnification`);
  it approximates a continuous profile only as well as the rings sample it.

## Faults

{fault_text}

The four integrated functions return NaN wherever `witt_mao_magnification` is NaN: a negative,
NaN or infinite l, a NaN or infinite ρ.

Past the grid, out to the largest doubles, every route returns the point-lens limit 1 as long as
u = lρ is a double (`integrated_witt_mao_magnification` 1 + {integrated_far - 1:.1e}, the rounding of its
normalisation). Where the product lρ overflows, the uniform-disk routes and the four integrated
functions return NaN although the magnification is 1, as they do for an infinite l; the thin-ring
kernel, which does not form u, returns 1 there and raises `RuntimeError` for an infinite l.
Evaluated now:

{beyond}

## Maximum relative error per stellar radius

{per_rho}
"""


if __name__ == "__main__":
    main()
