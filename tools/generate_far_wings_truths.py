#!/usr/bin/env python3
"""Computes tests/data/far_wings_truths.json: mpmath magnifications of stars far from the lens
(l = u/rho up to 1e300) and of tiny stars (rho down to 1e-8), where the closed forms of the
uniform disk cancel.

    .venv/bin/python tools/generate_far_wings_truths.py     # about two minutes on two cores

Each truth is evaluated at the exact double inputs of a call f([l], 1.0, rho): u = l * rho
rounded to a double, as the module forms it. Two independent routes:

- the Witt-Mao closed form (tests/python/lensing_references.uniform_disk) at enough digits to
  outlast its cancellation, 40 + 2 log10(l) + 2 log10(1/rho), where that stays below 120;
- beyond, and for the linear limb-darkening law of coefficient 0.6: the direct quadrature of the
  point-lens magnification over the disk, ring by ring (lensing_references.disk_average, no
  elliptic integral), at 30 digits.

Before writing, every closed-form truth with l <= 1e6 and rho >= 1e-6 among a sample is checked
against the direct quadrature; the run stops if they differ by more than 1e-16.
Truths are stored as decimal strings of 20 significant digits.
"""

import json
import math
import multiprocessing
import pathlib
import sys

import mpmath

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))
import lensing_references  # noqa: E402

OUTPUT = ROOT / "tests" / "data" / "far_wings_truths.json"
DIGITS = 20

FAR_RHOS = [1e-8, 1e-6, 1e-4, 1e-3, 0.1, 1.0, 1e3]
FAR_POSITIONS = [1000.5, 3e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e10, 1e15, 1e30, 1e100, 1e155, 1e200, 1e300]
TINY_RHOS = [1e-8, 1e-7, 1e-6, 1e-5, 3e-5, 9.99e-5]
TINY_POSITIONS = [0.0, 1e-4, 0.3, 0.7, 0.99, 0.9985, 1.0, 1.0015, 1.01, 1.5, 3.0, 10.0, 29.9, 30.1, 100.0, 999.0]
LIMB_DARKENED = [(rho, l) for rho in (1e-3, 1.0) for l in (1e4, 1e6, 1e8, 1e12, 1e100, 1e300)] + [
    (1e-6, l) for l in (0.0, 0.5, 0.99, 1.01, 2.0, 10.0, 1e4)
]
CLOSED_FORM_DIGITS = 120


def closed_form_digits(l, rho):
    return 40 + 2 * math.log10(max(l, 1.0)) + 2 * math.log10(max(1.0 / rho, 1.0))


def truth(case):
    law, rho, l = case
    u = l * rho  # the double the module forms
    with mpmath.workdps(40):
        exact_l = mpmath.mpf(u) / mpmath.mpf(rho)
        if law == "linear":
            value = lensing_references.disk_average(exact_l, rho, lensing_references.limb_darkening, dps=30)
        elif closed_form_digits(l, rho) <= CLOSED_FORM_DIGITS:
            value = lensing_references.uniform_disk(u, rho, dps=int(closed_form_digits(l, rho)))
        else:
            value = lensing_references.disk_average(exact_l, rho, lambda t: 1, dps=30)
        return mpmath.nstr(value, DIGITS, min_fixed=1, max_fixed=0)


def cross_check(case):
    _, rho, l = case
    u = l * rho
    with mpmath.workdps(40):
        closed = lensing_references.uniform_disk(u, rho, dps=int(closed_form_digits(l, rho)))
        direct = lensing_references.disk_average(mpmath.mpf(u) / mpmath.mpf(rho), rho, lambda t: 1, dps=30)
        return float(abs(closed / direct - 1))


def main():
    cases = [("uniform", rho, l) for rho in FAR_RHOS for l in FAR_POSITIONS]
    cases += [("uniform", rho, l) for rho in TINY_RHOS for l in TINY_POSITIONS]
    cases += [("linear", rho, l) for rho, l in LIMB_DARKENED]
    checks = [("uniform", rho, l) for rho in (1e-6, 1e-3, 1.0) for l in (1001.0, 1e6)]
    checks += [("uniform", rho, l) for rho in (1e-6, 5e-5) for l in (0.3, 1.01, 29.9)]
    with multiprocessing.Pool(2) as pool:
        disagreements = pool.map(cross_check, checks)
        if max(disagreements) > 1e-16:
            sys.exit(f"closed form and direct quadrature disagree by {max(disagreements):.1e}")
        truths = pool.map(truth, cases)
    records = [
        {"law": law, "rho": rho, "l": l, "truth": value} for (law, rho, l), value in zip(cases, truths)
    ]
    OUTPUT.write_text(json.dumps({"digits": DIGITS, "cases": records}, indent=1) + "\n")
    print(f"{len(records)} truths; closed form against quadrature within {max(disagreements):.1e}")


if __name__ == "__main__":
    main()
