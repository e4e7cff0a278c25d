"""Draws docs/limb_darkened/accuracy.png: the relative error of caldrith_ld.magnification against
the mpmath truths of tests/data/ld_truths.json (tools/generate_ld_truths.py), every law and star.

    .venv/bin/python docs/limb_darkened/make_accuracy_plot.py     # needs matplotlib

Three panels: the inside of the star against l = u / rho, both sides of the limb against |l - 1|,
and the outside against u (Einstein radii), out to the far wings. Errors below 1e-16 are drawn at
1e-16; the dashed line is the goal, 1e-7.
"""

import json
import pathlib
import sys

import matplotlib
import mpmath
import numpy as np

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import caldrith_ld as ld  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parents[1] / "tests" / "python"))
from ld_laws_reference import module_law  # noqa: E402
TRUTHS = HERE.parents[1] / "tests" / "data" / "ld_truths.json"
OUTPUT = HERE / "accuracy.png"
FLOOR = 1e-16
CENTRE_AT = 1e-7  # where l = 0 is drawn on the logarithmic axis
FAMILIES = ["Uniform", "Linear", "Quadratic", "SquareRoot", "Logarithmic", "Power2", "FourParameter", "Sampled"]


def errors():
    """(family, l, u, error) of every truth."""
    data = json.loads(TRUTHS.read_text())
    laws = {name: module_law(law) for name, law in data["laws"].items()}
    rows = []
    for case in data["cases"]:
        value = float(ld.magnification(case["u"], case["rho"], laws[case["law"]]))
        error = float(abs(mpmath.mpf(value) / mpmath.mpf(case["truth"]) - 1))
        rows.append((data["laws"][case["law"]]["kind"], case["u"] / case["rho"], case["u"], max(error, FLOOR)))
    return rows


def main():
    rows = errors()
    fig, (inside, limb, outside) = plt.subplots(1, 3, figsize=(13, 4.2), sharey=True)
    for index, family in enumerate(FAMILIES):
        colour = f"C{index}"
        mine = [row for row in rows if row[0] == family]
        within = [(max(l, CENTRE_AT), e) for _, l, _, e in mine if l < 0.95]
        inside.scatter(*zip(*within), s=9, color=colour, label=family)
        for side, marker in ((-1, "o"), (1, "^")):
            near = [(abs(l - 1) or 1e-10, e) for _, l, _, e in mine if abs(l - 1) <= 0.05 and side * (l - 1) >= 0]
            if near:
                limb.scatter(*zip(*near), s=9, color=colour, marker=marker)
        beyond = [(u, e) for _, l, u, e in mine if l > 1.05]
        outside.scatter(*zip(*beyond), s=9, color=colour)
    for axes in (inside, limb, outside):
        axes.set_xscale("log")
        axes.set_yscale("log")
        axes.axhline(1e-7, color="k", ls="--", lw=0.8)
        axes.set_ylim(FLOOR / 3, 1e-6)
    inside.set_xlabel("l = u / ρ (inside the star; l = 0 drawn at 1e-7)")
    limb.set_xlabel("|l − 1| (● inside, ▲ outside; l = 1 drawn at 1e-10)")
    outside.set_xlabel("u, Einstein radii (outside the star)")
    inside.set_ylabel("relative error against mpmath")
    inside.legend(fontsize=7, loc="upper left", ncol=2)
    fig.suptitle(f"caldrith_ld.magnification: {len(rows)} truths, 15 laws, ρ from 1e-4 to 10")
    fig.tight_layout()
    fig.savefig(OUTPUT, dpi=110)
    print(f"wrote {OUTPUT}; largest error {max(row[3] for row in rows):.1e}")


if __name__ == "__main__":
    main()
