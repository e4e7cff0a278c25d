"""Draws the accuracy atlas: evaluates every caldrith function on the grid of docs/atlas/truths.json,
plots its relative error (docs/atlas/<case>.png), writes the table docs/accuracy.md and the
published figures docs/atlas/figures.json (which tests/python/test_atlas.py holds the module to).

    .venv/bin/python docs/atlas/make_atlas.py      # needs matplotlib (requirements-dev.txt)
"""

import json
import math
import sys
import time

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
        _draw(before, points, lambda p: r - p.l if 0 < r - p.l <= 0.1 + 1e-12 else None, rhos, colours)
        _frame(before, f"{r:g} − l", f"{label}: just inside the {edge}")
        before.invert_xaxis()
        _draw(after, points, lambda p: p.l - r if 0 < p.l - r <= 0.1 + 1e-12 else None, rhos, colours)
        _frame(after, f"l − {r:g}", f"{label}: just outside the {edge}")
        whole.set_ylabel("relative error")
        for axes in (before, after):
            axes.set_xlim(1.5e-7, 0.15) if axes is after else axes.set_xlim(0.15, 1.5e-7)
    grid[0][0].legend(fontsize=7, ncol=2, loc="upper right")
    figure.suptitle(f"{title} — relative error against mpmath "
                    f"(floor {FLOOR:g}: exact or better; {FAULT_AT:g}: NaN, inf or an exception)", fontsize=10)
    figure.tight_layout()
    figure.savefig(path, dpi=90)
    plt.close(figure)


def _cell(error):
    if error is None:
        return "—"
    if not math.isfinite(error):
        return "**fault**"
    return "0" if error == 0 else f"{error:.1e}"


def _regime_columns(rows):
    header = "| " + " | ".join(["function", "star", *(measure.REGIME_TITLES[name] for name in measure.REGIMES)]) + " |"
    lines = [header, "|" + "---|" * (2 + len(measure.REGIMES))]
    for function, profile, figures in rows:
        cells = [_cell(figures.get(name)) for name in measure.REGIMES]
        lines.append("| " + " | ".join([f"`{function}`" if function else "", profile, *cells]) + " |")
    return "\n".join(lines)


def _per_rho_table(case, figures):
    lines = ["| ρ | " + " | ".join(measure.REGIMES) + " |", "|---|" + "---|" * len(measure.REGIMES)]
    for rho, by_regime in figures["per_rho"].items():
        lines.append(f"| {float(rho):g} | " + " | ".join(_cell(by_regime.get(name)) for name in measure.REGIMES) + " |")
    return f"**{case.function}** ({case.profile}, [plot](atlas/{case.key}.png))\n\n" + "\n".join(lines)


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
        elif "_uniform" in " ".join(points_of) and case.key + "_uniform" in points_of:
            rows = [(case.profile, points, 1.0), ("uniform profile", points_of[case.key + "_uniform"], 1.0)]
        else:
            rows = [(case.profile, points, 1.0)]
        plot(rows, case.function, measure.HERE / f"{case.key}.png")

    faults = [(case, p) for case, points in results for p in points if not math.isfinite(p.error)]
    headline = _regime_columns([(case.function, case.profile, published[case.key]["all"]) for case, _ in results])
    per_rho = "\n\n".join(_per_rho_table(case, published[case.key]) for case, _ in results)
    ACCURACY.write_text(render(headline, per_rho, faults, truths))
    print(f"measured {sum(len(points) for _, points in results)} values in {elapsed:.1f} s; "
          f"{len(faults)} faults; wrote {ACCURACY} and the plots", file=sys.stderr)


def render(headline, per_rho, faults, truths):
    return "TODO\n\n" + headline + "\n\n" + per_rho + "\n"


if __name__ == "__main__":
    main()
