"""Accuracy of limb-darkening laws sampled for the flux maps, written to docs/limb_darkening.md.

Every law of examples/limb_darkening.py (one representative set of coefficients each, I(0) between
0.3 and 0.4) is sampled with every placement at a range of sample counts and passed to
integrated_flux_map_heyrovsky_magnification and integrated_flux_map_witt_mao_magnification. Each
result is compared with the truth: the mean point-lens magnification over the disk weighted by the
exact law (not the sampled one), an mpmath quadrature at 17 digits split at the ring through the lens
(tests/python/lensing_references.py), and for the uniform disk the Witt-Mao closed form at 30 digits.

The truths cost about a second each; they are kept in tests/data/limb_darkening_truths.json (which
the tests read too; 15 significant digits) and computed only when a law, position or rho is missing
from it: 294 truths, about 9 minutes from scratch; about 30 s with the file in place.

Run from the repository root:  nice .venv/bin/python examples/measure_limb_darkening.py
"""

from __future__ import annotations

import json
import math
import pathlib
import sys
import time

import caldrith

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path[:0] = [str(ROOT / "examples"), str(ROOT / "tests" / "python")]

import limb_darkening as ld  # noqa: E402
from lensing_references import disk_average, limb_darkening_law, uniform_disk  # noqa: E402

TRUTHS = ROOT / "tests" / "data" / "limb_darkening_truths.json"
REPORT = ROOT / "docs" / "limb_darkening.md"

# name, coefficients: one law of each kind.
LAWS = [
    ("uniform", ()),
    ("linear", (0.6,)),
    ("quadratic", (0.4, 0.25)),
    ("square-root", (0.1, 0.6)),
    ("logarithmic", (0.7, 0.2)),
    ("power-2", (0.65, 0.55)),
    ("four-parameter", (0.6, -0.2, 0.6, -0.3)),
]
# Lens-source separations in stellar radii: centre, inside, near the limb on both sides, outside.
POSITIONS = [0.0, 0.1, 0.3, 0.5, 0.7, 0.9, 0.95, 0.99, 0.999, 1.0, 1.001, 1.01, 1.1, 1.5]
RHOS = [0.01, 0.1, 1.0]
PLACEMENTS = {
    "uniform in r": ld.uniform_in_radius,
    "uniform in μ": ld.uniform_in_mu,
    "sine": ld.sine,
    "power 2": ld.power(2.0),
    "power 3": ld.power(3.0),
    "power 3.5": ld.power(3.5),
    "power 4": ld.power(4.0),
}
COUNTS = [10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 120, 140, 160, 180, 200, 250, 300, 400]
TARGET = 1e-5
# Between the positions above: l every 0.01 from 0 to 1.5, a few more at the limb and far out.
DENSE_POSITIONS = [k / 100 for k in range(151)] + [0.999, 0.9999, 1.0001, 1.001, 3.0, 10.0]
DENSE_RHOS = [0.001, 0.01, 0.1, 1.0, 10.0]
FINE_COUNT = 600
THIN_RING = caldrith.integrated_flux_map_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_flux_map_witt_mao_magnification


def key(name, coefficients, l, rho):
    return f"{name} {list(coefficients)} l={l!r} rho={rho!r}"


def truth_of(name, coefficients, l, rho):
    if name == "uniform":
        return uniform_disk(l * rho, rho)
    return disk_average(l, rho, limb_darkening_law(name, coefficients))


def load_truths():
    """The truth of every law, position and rho, computing and saving the missing ones."""
    truths = json.loads(TRUTHS.read_text()) if TRUTHS.exists() else {}
    missing = [
        (name, coefficients, l, rho)
        for name, coefficients in LAWS
        for rho in RHOS
        for l in POSITIONS
        if key(name, coefficients, l, rho) not in truths
    ]
    for count, case in enumerate(missing, 1):
        start = time.perf_counter()
        truths[key(*case)] = str(truth_of(*case))
        print(f"truth {count}/{len(missing)}: {key(*case)} ({time.perf_counter() - start:.1f} s)", flush=True)
        TRUTHS.write_text(json.dumps(truths, indent=1, sort_keys=True) + "\n")
    return {k: float(v) for k, v in truths.items()}


def relative_errors(function, name, coefficients, radii, truths):
    """{(l, rho): relative error} of one function for one law sampled at the radii."""
    bl, bf = ld.samples(ld.LAWS[name](*coefficients), radii)
    errors = {}
    for rho in RHOS:
        for l, value in zip(POSITIONS, function(POSITIONS, 1.0, rho, bl, bf)):
            reference = truths[key(name, coefficients, l, rho)]
            errors[l, rho] = abs(value - reference) / reference
    return errors


def fmt(error):
    return f"{error:.1e}"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def main():
    start = time.perf_counter()
    truths = load_truths()
    truth_seconds = time.perf_counter() - start
    darkened = [(name, coefficients) for name, coefficients in LAWS if name != "uniform"]

    # worst[function][placement][count][law] = max relative error over positions and rho.
    worst = {}
    for function in (THIN_RING, UNIFORM_DISK):
        worst[function] = {
            placement: {
                count: {
                    name: max(relative_errors(function, name, coefficients, make(count), truths).values())
                    for name, coefficients in LAWS
                }
                for count in COUNTS
            }
            for placement, make in PLACEMENTS.items()
        }

    def fewest(function, placement):
        for count in COUNTS:
            if all(worst[function][placement][count][name] <= TARGET for name, _ in darkened):
                return count
        return None

    default_name = next(name for name, make in PLACEMENTS.items() if make.__name__ == ld.DEFAULT_PLACEMENT.__name__)
    default_radii = ld.DEFAULT_PLACEMENT(ld.DEFAULT_COUNT)
    at_default = {
        function: {
            name: relative_errors(function, name, coefficients, default_radii, truths) for name, coefficients in LAWS
        }
        for function in (THIN_RING, UNIFORM_DISK)
    }
    # The linear law of coefficient 0.6 is the law of integrated_heyrovsky_magnification, exact there.
    linear_bl, linear_bf = ld.samples(ld.Linear(0.6))
    linear_difference = 0.0
    for rho in DENSE_RHOS:
        sampled = THIN_RING(DENSE_POSITIONS, 1.0, rho, linear_bl, linear_bf)
        builtin = caldrith.integrated_heyrovsky_magnification(DENSE_POSITIONS, 1.0, rho)
        linear_difference = max([linear_difference] + [abs(a - b) / b for a, b in zip(sampled, builtin)])
    builtin_error = 0.0
    for rho in RHOS:
        builtin = caldrith.integrated_heyrovsky_magnification(POSITIONS, 1.0, rho)
        for l, b in zip(POSITIONS, builtin):
            reference = truths[key("linear", (0.6,), l, rho)]
            builtin_error = max(builtin_error, abs(b - reference) / reference)
    # Every law between the tabulated positions, against FINE_COUNT samples of the same placement.
    between = {}
    for name, coefficients in darkened:
        law = ld.LAWS[name](*coefficients)
        default_samples = ld.samples(law)
        fine_samples = ld.samples(law, ld.DEFAULT_PLACEMENT(FINE_COUNT))
        between[name] = max(
            abs(a - b) / b
            for rho in DENSE_RHOS
            for a, b in zip(
                THIN_RING(DENSE_POSITIONS, 1.0, rho, *default_samples),
                THIN_RING(DENSE_POSITIONS, 1.0, rho, *fine_samples),
            )
        )

    laws_text = ", ".join(
        f"{name} ({', '.join(f'{c:g}' for c in coefficients)})" if coefficients else name for name, coefficients in LAWS
    )
    out = [
        "# Limb-darkening laws through the flux maps: accuracy",
        "",
        "Generated by `examples/measure_limb_darkening.py`; do not edit by hand.",
        "",
        "Any radial brightness profile reaches caldrith through the flux maps as samples `bl` (radii in",
        "stellar radii) and `bf` (brightness), joined by linear interpolation. `examples/limb_darkening.py`",
        "turns the common limb-darkening laws into such samples. This page measures how many samples, and",
        "placed where, a law needs.",
        "",
        f"**Laws** (coefficients in μ = √(1 − r²), I(1) = 1): {laws_text}.",
        "",
        f"**Positions** l = {', '.join(f'{l:g}' for l in POSITIONS)} stellar radii (the centre, inside, "
        f"on both sides of the limb, outside), **ρ** = rstar / re = {', '.join(f'{r:g}' for r in RHOS)}.",
        "",
        "**Truth**: the mean point-lens magnification over the disk weighted by the exact law (not by its",
        "samples), an mpmath quadrature at 17 digits split at the ring through the lens; for the uniform",
        "disk, the Witt–Mao closed form at 30 digits. Truths are kept in",
        "`tests/data/limb_darkening_truths.json`. Every figure is a relative error |value − truth| / truth,",
        "the maximum over the positions and ρ above unless a table says otherwise. For ρ below 0.01 the",
        "relative errors at a given l are those of ρ = 0.01: for a small star the magnification pattern",
        "only scales.",
        "",
        "**Placements** of n samples (all include r = 0 and r = 1): uniform in r, rₖ = k/(n − 1); uniform",
        "in μ, μₖ = 1 − k/(n − 1); sine, rₖ = sin(πk / (2(n − 1))), even in r at the centre and in μ at",
        "the limb; power p, rₖ = 1 − (1 − k/(n − 1))^p, for p = 2, 3, 3.5 and 4, ever denser at the limb.",
        "",
        f"## Default: {default_name} placement, {ld.DEFAULT_COUNT} samples",
        "",
        f"`limb_darkening.samples(law)` places {ld.DEFAULT_COUNT} samples by the {default_name} rule. "
        f"Its figures, per position and law (maximum over ρ):",
        "",
    ]
    header = ["l"] + [name for name, _ in LAWS]
    rows = [
        [f"{l:g}"] + [fmt(max(at_default[THIN_RING][name][l, rho] for rho in RHOS)) for name, _ in LAWS]
        for l in POSITIONS
    ]
    rows.append(["**all**"] + [f"**{fmt(max(at_default[THIN_RING][name].values()))}**" for name, _ in LAWS])
    rows.append(["uniform-disk flux map"] + [fmt(max(at_default[UNIFORM_DISK][name].values())) for name, _ in LAWS])
    dense_text = f"l every 0.01 from 0 to 1.5, 1 ± 1e-3, 1 ± 1e-4, 3 and 10, ρ = {', '.join(f'{r:g}' for r in DENSE_RHOS)}"
    out += [
        table(header, rows),
        "",
        "The rows l = … and **all** are `integrated_flux_map_heyrovsky_magnification` (the thin-ring",
        "kernel), the route to use. The last row is `integrated_flux_map_witt_mao_magnification` with the",
        "same samples, maximum over all positions and ρ: it takes its ring magnifications from differences",
        "of uniform disks over annuli of half-width 1e-4 and does no better than a few 1e-5 whatever the",
        "sampling (last table).",
        "",
        f"Between the tabulated positions ({dense_text}) the default samples stay within "
        + ", ".join(f"{fmt(between[name])} ({name})" for name, _ in darkened)
        + f" of {FINE_COUNT} samples of the same placement, themselves within a few 1e-7 of the truth.",
        "",
        f"The linear law of coefficient 0.6 with the default samples agrees with",
        f"`integrated_heyrovsky_magnification` (the same law, exact; within {fmt(builtin_error)} of the",
        f"truth at the tabulated positions) to **{fmt(linear_difference)}** over {dense_text}.",
        "",
        "The errors scale with the strength of the darkening: a law darker at the limb than these needs",
        "more samples for the same figure. Samples cost next to nothing: the flux maps take as long with",
        "400 samples as with 20 (they find a radius's segment by bisection).",
        "",
        "## Placement and number of samples",
        "",
        "Maximum relative error over every limb-darkened law (not the uniform disk, which two samples",
        f"give exactly), position and ρ, thin-ring flux map; the last row is the fewest samples (of those",
        f"measured) that reach {TARGET:.0e} for every law.",
        "",
    ]
    header = ["n"] + list(PLACEMENTS)
    rows = [
        [str(count)] + [fmt(max(worst[THIN_RING][p][count][name] for name, _ in darkened)) for p in PLACEMENTS]
        for count in COUNTS
    ]
    rows.append([f"fewest for {TARGET:.0e}"] + [str(fewest(THIN_RING, p) or "—") for p in PLACEMENTS])
    out += [
        table(header, rows),
        "",
        "Linear interpolation of a law that bends as its μ falls to 0 with infinite slope in r needs its",
        "samples at the limb: uniform in r is hopeless, uniform in μ crowds the limb but leaves the centre",
        "bare. Placements even in r at the centre and ever denser towards the limb do best; among those",
        "measured, power 3.5 reaches 1e-5 with the fewest samples, and with the smallest error there; it is",
        "the default. The errors fall as 1/n² up to about 100 samples and then irregularly, at a few 1e-6:",
        "the flux map's quadrature does not split at the samples, and the kinks of the interpolated profile",
        "limit it.",
        "",
    ]

    out += [
        f"## Per law, {default_name} placement",
        "",
        "Maximum relative error over positions and ρ, thin-ring flux map, by number of samples.",
        "",
    ]
    header = ["n"] + [name for name, _ in darkened]
    rows = [
        [str(count)] + [fmt(worst[THIN_RING][default_name][count][name]) for name, _ in darkened] for count in COUNTS
    ]
    out += [table(header, rows), ""]

    out += [
        "## The uniform-disk flux map",
        "",
        "The same measurement through `integrated_flux_map_witt_mao_magnification` (maximum over every",
        "limb-darkened law, position and ρ). Its error levels off at a few 1e-5: the rings are differences",
        "of uniform disks, and the annuli that reach the centre take the whole inner disk.",
        "",
    ]
    header = ["n"] + list(PLACEMENTS)
    rows = [
        [str(count)] + [fmt(max(worst[UNIFORM_DISK][p][count][name] for name, _ in darkened)) for p in PLACEMENTS]
        for count in COUNTS
    ]
    out += [table(header, rows), ""]
    REPORT.parent.mkdir(exist_ok=True)
    REPORT.write_text("\n".join(out))
    print(f"wrote {REPORT.relative_to(ROOT)}: truths {truth_seconds:.1f} s, total {time.perf_counter() - start:.1f} s")


if __name__ == "__main__":
    main()
