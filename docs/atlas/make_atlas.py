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

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import measure  # noqa: E402

ACCURACY = measure.HERE.parent / "accuracy.md"
FLOOR = 1e-17  # errors below this (exact values included) are drawn at it
CENTRE_AT = 1e-9  # where l = 0 is drawn on the logarithmic axis
FAULT_AT = 1e2  # where a NaN, an infinity or an exception is drawn


def _plotted(error):
    return FAULT_AT if not math.isfinite(error) else max(error, FLOOR)


def _draw(axes, points, x, rhos, colours):
    """One line per stellar radius of the points whose x(point) is not None."""
    for rho in rhos:
        chosen = sorted((x(p), _plotted(p.error)) for p in points if p.rho == rho and x(p) is not None)
        if chosen:
            xs, ys = zip(*chosen)
            axes.plot(xs, ys, marker=".", markersize=4, linewidth=0.9, color=colours[rho], label=f"ρ = {rho:g}")


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
                                gridspec_kw={"width_ratios": [1.3, 1, 1]})
    for (label, points, r), (whole, before, after) in zip(rows, grid):
        edge = "limb" if r == 1.0 else "ring"
        _draw(whole, points, lambda p: p.l if p.l > 0 else CENTRE_AT, rhos, colours)
        _frame(whole, "l (stellar radii; l = 0 drawn at 1e-9)", f"{label}: all positions")
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
    """Calls far outside the grid whose results are plainly off (the magnification there is 1)."""
    calls = [
        ("witt_mao_magnification([1e7, 1e8], 1.0, 0.001)", caldrith.witt_mao_magnification([1e7, 1e8], 1.0, 0.001)),
        ("integrated_witt_mao_magnification([1e7, 1e8], 1.0, 0.001)",
         caldrith.integrated_witt_mao_magnification([1e7, 1e8], 1.0, 0.001)),
        ("integrated_flux_map_witt_mao_magnification([1e6, 1e8], 1.0, 0.001, [0, 1], [1, 1])",
         caldrith.integrated_flux_map_witt_mao_magnification([1e6, 1e8], 1.0, 0.001, [0.0, 1.0], [1.0, 1.0])),
        ("integrated_heyrovsky_magnification([1e7, 1e8], 1.0, 0.001)",
         caldrith.integrated_heyrovsky_magnification([1e7, 1e8], 1.0, 0.001)),
    ]
    return calls


def render(published, points_of, headline, everything, per_rho, faults, truths):
    """docs/accuracy.md: the prose quotes the measured figures, so it cannot drift from them."""

    def worst_where(key, keep):
        return _cell(measure.published_figure(max(p.error for p in points_of[key] if keep(p))))

    def window(p):  # the uniform-disk kernel's near-limb window, in positions
        return max(1e-3, 1e-5 / p.rho)

    def fig(key, rho, regime):
        return _cell(published[key]["per_rho"][repr(rho)].get(regime))

    def worst(key, regime, rhos):
        return _cell(max(published[key]["per_rho"][repr(rho)][regime] for rho in rhos))

    rhos = ", ".join(f"{rho:g}" for rho in sorted({row["rho"] for row in truths["disk"]}))
    positions = sorted({row["l"] for row in truths["disk"]})
    sampled = truths["sampled_profile"]
    fault_text = (
        "On the whole grid no function crashed, hung, raised, or returned a NaN or an infinity."
        if not faults
        else "Faults (NaN, infinity or exception where a value exists):\n\n"
        + "\n".join(f"- `{case.function}` ρ = {p.rho:g}, l = {p.l!r}, r = {p.r!r}: {p.fault or p.value!r}" for case, p in faults)
    )
    beyond = "\n".join(f"- `{call}` → {value!r}" for call, value in _beyond_the_grid())
    return f"""# Accuracy atlas

How accurate each of caldrith's eight functions is, where, measured: every function is evaluated
on a grid of stellar radii and positions, and its relative error |value − truth| / truth is taken
against a high-precision reference.

- **Inputs** as a modeller passes them: `re = 1`, `rstar = ρ` (the stellar radius in Einstein
  radii), positions `l = u / ρ` in stellar radii.
- **Stellar radii** ρ = {rhos}.
- **Positions**: {len(positions)} values of l from 0 to {max(positions):g}: the centre (0, 1e-8 … 1e-2),
  the inside, both sides of the limb at |l − 1| = 1e-7 … 1e-1 and the limb itself, and far outside.
- **Thin ring** (`heyrovsky_magnification`): the limb ring r = 1 over the same positions and a ring
  r = 0.3, both approached from either side at |l − r| = 1e-7 … 1e-1 (around the kernel's
  near-ring threshold 1e-5 in particular).
- **Profiles**: the linear law of coefficient 0.6 for the two `integrated_*` functions; for the flux
  maps the sampled profile `bl = {sampled["bl"]}`, `bf = {sampled["bf"]}` (two kinks inside the
  star) and the uniform profile `bl = [0, 1]`, `bf = [1, 1]`; for the discrete flux map ten rings
  at r = 0.05, 0.15, …, 0.95 weighted by the limb-darkened flux of their annuli.
- **Truths** (`docs/atlas/truths.json`, made once by `docs/atlas/make_truths.py` with mpmath, about
  three minutes on two cores): the Witt–Mao closed form at 30 digits for the uniform disk; the mean
  point-lens magnification over the ring in closed form at 30 digits for the thin ring (and summed
  with the weights for the discrete flux map); for the limb-darkened and sampled profiles, the
  integral over the disk of the point-lens magnification weighted by the profile itself (the
  piecewise-linear interpolation of the samples), taken ring by ring at 30 digits and split at the
  ring through the lens and at the kinks. Before writing, the generator checks a sample of each
  kind against direct quadratures of the point-lens magnification over the ring or the disk
  (`tests/python/lensing_references.py`); they agree to 1e-18 or better.
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

The same over every ρ of the grid, down to 1e-6 (the uniform-disk rows are dominated by ρ ≤ 1e-4,
where the kernel's near-limb window covers much or all of the star; see below):

{everything}

## Where each route is weak

- **The uniform-disk kernel's near-limb window** (`witt_mao_magnification`,
  `multi_witt_mao_magnification`, and every disk inside `integrated_witt_mao_magnification`). When
  |u − ρ| < max(1e-3 ρ, 1e-5) the kernel returns its value for a lens exactly on the limb. In
  positions that is |l − 1| < max(1e-3, 1e-5 / ρ). For ρ ≥ 0.01 the error there reaches
  {worst("witt_mao_magnification", "limb", [0.01, 0.1, 1.0])} (at |l − 1| = 1e-3, the edge of the window;
  {fig("witt_mao_magnification", 10.0, "limb")} at ρ = 10, {fig("witt_mao_magnification", 1000.0, "limb")} at ρ = 1000).
  Below ρ = 0.01 the absolute floor 1e-5 widens the window: |l − 1| < 0.01 at ρ = 1e-3
  (error {fig("witt_mao_magnification", 0.001, "limb")}), < 0.1 at ρ = 1e-4 ({fig("witt_mao_magnification", 0.0001, "limb")}), and for
  ρ < 1e-5 it holds the whole star and beyond (l < 1 + 1e-5 / ρ): at ρ = 1e-6 every position up to
  l = 11 gets the on-limb value, off by {fig("witt_mao_magnification", 1e-06, "centre")} at the centre and
  {fig("witt_mao_magnification", 1e-06, "far")} at l = 10. **Do not use the uniform-disk functions for ρ below about
  1e-3.** Outside the window (ρ ≥ 1e-3) the closed form is good to
  {worst_where("witt_mao_magnification", lambda p: p.rho >= 1e-3 and p.regime == "inside")} inside the star; just
  outside the window it loses digits as the characteristic n of Π nears 1, up to
  {worst_where("witt_mao_magnification", lambda p: p.rho >= 1e-3 and 1.5 * window(p) < abs(p.l - 1) <= measure.LIMB_WIDTH)} at
  |l − 1| ≥ 1.5 × the window. Far from the star its terms cancel, and the error grows as about
  l² × 1e-16: {worst_where("witt_mao_magnification", lambda p: p.rho >= 1e-3 and p.l == 1e3)} at l = 1e3,
  {worst_where("witt_mao_magnification", lambda p: p.rho >= 1e-3 and p.l == 1e5)} at l = 1e5 and
  {worst_where("witt_mao_magnification", lambda p: p.rho >= 1e-3 and p.l == 1e6)} at l = 1e6
  (`integrated_witt_mao_magnification` alike); beyond the grid it is plainly wrong (see Faults).
- **`integrated_witt_mao_magnification`** integrates the uniform-disk magnification of concentric
  disks of radius ρμ, μ = √(1 − t²), in one quadrature over t. Inside the star the integrand has a
  kink where such a disk's limb passes the lens, at t = √(1 − l²), which the unsplit quadrature
  does not resolve, and the disks whose limb lies within the window of the lens take the on-limb
  value; together, inside the star
  the error is {worst("integrated_witt_mao_magnification", "inside", [0.01, 0.1, 1.0])} for 0.01 ≤ ρ ≤ 1,
  {fig("integrated_witt_mao_magnification", 0.001, "inside")} at ρ = 1e-3 and {fig("integrated_witt_mao_magnification", 0.0001, "inside")} at ρ = 1e-4; within 0.1 of
  the limb it is {worst("integrated_witt_mao_magnification", "limb", [0.01, 0.1, 1.0])} (0.01 ≤ ρ ≤ 1).
- **The thin-ring kernel's near-ring expansion.** Where the ring passes within |r − l| < 1e-5 of
  the lens, `heyrovsky_magnification` (and `discrete_flux_map_heyrovsky_magnification`) use a
  first-order expansion. It is worst just inside the threshold, up to
  {worst_where("heyrovsky_magnification", lambda p: 9e-6 < abs(p.l - p.r) < 1e-5)} at |r − l| = 9e-6, and improves as the ring closes in: {worst_where("heyrovsky_magnification", lambda p: 5e-8 < abs(p.l - p.r) < 2e-7)} at
  |r − l| = 1e-7. Just outside the threshold the closed form is off by up to
  {worst_where("heyrovsky_magnification", lambda p: 1e-5 <= abs(p.l - p.r) < 1.2e-5)} (Π near n = 1, worst for large ρ); beyond
  |r − l| = 1e-3 by at most {worst_where("heyrovsky_magnification", lambda p: abs(p.l - p.r) >= 1e-3 - 1e-12)}.
- **l = 0 for the thin-ring integrals.** `integrated_heyrovsky_magnification` and
  `integrated_flux_map_heyrovsky_magnification` take the near-ring expansion only where
  |t − l| < 1e-5 l, so a lens at or near the centre of the star gets the exact ring values (the
  absolute window they used before gave 1.2e-5 at l = 0, 2 % at l = 1e-7 and worse below). Their
  centre error is now {worst("integrated_heyrovsky_magnification", "centre", [1e-06, 0.0001, 0.001, 0.01, 0.1, 1.0, 10.0, 1000.0])}.
- **Kinks of a sampled profile.** Both integrated flux maps integrate the interpolated profile over
  [0, 1] in one quadrature (the magnified flux and the normalisation alike), so the kinks at the
  inner samples cost digits: with the four-sample profile above both routes are off by about
  {worst("integrated_flux_map_heyrovsky_magnification", "inside", [0.001, 0.01, 0.1, 1.0, 10.0, 1000.0])} whatever ρ, also at
  l = 0 and, partly cancelled, far outside ({fig("integrated_flux_map_heyrovsky_magnification", 0.1, "far")} at ρ = 0.1). With a
  smooth profile (the uniform one) the thin-ring route is good to
  {worst("integrated_flux_map_heyrovsky_magnification_uniform", "limb", [0.001, 0.01, 0.1, 1.0, 10.0, 1000.0])}. Sample a law densely
  enough that the kinks do not matter at the accuracy you need.
- **`integrated_flux_map_witt_mao_magnification`** takes each ring's magnification from the
  difference of two uniform disks 2e-4 stellar radii apart. With the uniform profile it is good to
  {fig("integrated_flux_map_witt_mao_magnification_uniform", 0.1, "centre")} at the centre and
  {worst("integrated_flux_map_witt_mao_magnification_uniform", "limb", [0.001, 0.01, 0.1, 1.0])} near the limb (ρ ≤ 1), and the
  difference amplifies the far-field cancellation of the closed form: with the uniform profile and
  ρ ≥ 1e-3 the error is {worst_where("integrated_flux_map_witt_mao_magnification_uniform", lambda p: p.rho >= 1e-3 and p.l == 1e3)} at l = 1e3,
  {worst_where("integrated_flux_map_witt_mao_magnification_uniform", lambda p: p.rho >= 1e-3 and p.l == 1e4)} at l = 1e4,
  {worst_where("integrated_flux_map_witt_mao_magnification_uniform", lambda p: p.rho >= 1e-3 and p.l == 1e5)} at l = 1e5 and
  {worst_where("integrated_flux_map_witt_mao_magnification_uniform", lambda p: p.rho >= 1e-3 and p.l == 1e6)} at l = 1e6.
  For the baseline of a light curve (u = lρ of tens of Einstein radii) prefer the thin-ring flux map.

## Which function to use

- **Where the limb matters** (the lens within a few hundredths of a stellar radius of the limb, or
  a star smaller than 1e-3 Einstein radii): `integrated_heyrovsky_magnification` for the linear
  law 0.6 (≤ {max(published["integrated_heyrovsky_magnification"]["all"].values()):.1e} on the whole grid) and
  `integrated_flux_map_heyrovsky_magnification` for any other profile (as accurate as the
  quadrature of the sampled profile allows).
- Away from the limb the uniform-disk routes are accurate and faster: `witt_mao_magnification`
  to about 2e-14 inside the star and 1e-10 out to l = 1e3, for ρ ≥ 1e-3 (but see the far field
  above).
- The thin-ring routes keep their accuracy at any distance: `integrated_heyrovsky_magnification`
  is good to {published["integrated_heyrovsky_magnification"]["all"]["distant"]:.1e} out to l = 1e6.
- `discrete_flux_map_heyrovsky_magnification` is exactly the weighted sum of its rings, to about
  {max(published["discrete_flux_map_heyrovsky_magnification"]["all"].values()):.1e} on the grid (no position of which lies within 1e-5 of one of its
  rings; each ring is as accurate as `heyrovsky_magnification`);
  it approximates a continuous profile only as well as the rings sample it.

## Faults

{fault_text}

Beyond the grid the uniform-disk routes are plainly wrong far from the star, where the
magnification is 1 to within 2e-12 (here u = lρ ≥ 1e3 Einstein radii): the cancellation of the closed
form grows as l² × 1e-16 and the flux map's annulus difference amplifies it further, to values
below 1 and even negative. Evaluated now:

{beyond}

The thin-ring routes return 1 to within rounding there. The loss is the closed form's own
cancellation, not a slip in the code; curing it takes a different far-field formula, which would
change results that are reproducible to the last bit, so it is reported here, not changed: keep the
uniform-disk routes to l ≲ 1e4 (flux map) or 1e5.

## Maximum relative error per stellar radius

{per_rho}
"""


if __name__ == "__main__":
    main()
