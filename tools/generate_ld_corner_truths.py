#!/usr/bin/env python3
"""Generates tests/data/ld_corner_truths.json: magnifications of limb-darkened stars where a fast
quadrature has the hardest time, from mpmath.

The magnification is that of tools/generate_ld_truths.py (imported): the law-weighted mean over the
star of the closed-form ring means, a tanh-sinh quadrature over pieces cut around every singular
point, at the exact double inputs, at 34 digits (more in the far wings). The corners:

  - power-2 exponent: Power2(0.9, alpha), alpha from 0.05 (a drop to 0 within mu < e^-20 of the
    limb) to 200 (a core of radius ~ sqrt(2 / alpha) = 0.1 on a dim disk), rho in {0.01, 0.1, 1},
    l = u / rho from the centre across the limb; and Power2(0.7, 0.3) at u = 0.0099999, rho = 0.01;
  - sampled kinks: the 8-sample law of tests/data/ld_truths.json at l = 0.856142857142857 and on,
    1e-6 and 1e-3 either side of every interior sample; a kink at r = 0.99 and at r = 0.999 close to
    the limb; a step of width 1e-9 at r = 0.3 (the lens on it, 1e-6 inside, 2e-9 outside); the
    30-sample law of ld_truths.json on and either side of seven of its samples;
  - large stars: rho = 3 to 1000, whose ring means vary on the scale 1 / rho of the radius;
  - tiny stars: rho = 1e-8 to 1e-300, magnifications up to ~1e300;
  - extreme coefficients: limb-brightened and strongly curved laws (Linear(-100), Quadratic(-50, 30),
    four-parameter laws with coefficients of a few units, ...), each >= 0 on 0 <= mu <= 1.

The quadrature of ld_truths.json needs nothing more here: its cut already follows the ring through
the lens, the kinks (a step of width 1e-9 becomes two kinks, each with its own pieces) and the
complex singular points at distance 2 / rho from the ring (so a star of rho = 1000 gets pieces of
~1e-3 near the lens), and mpmath's exponents reach 1e300. That is checked, before writing:
  - every law's intensity is >= 0 on 0 <= mu <= 1;
  - every case again at 46 digits, cut twice as finely, to 1e-25 relative;
  - the uniform disk (large and tiny stars) against the Witt-Mao closed form, to 1e-25;
  - a sample of every corner against the direct quadrature of the point-lens magnification over the
    disk (no elliptic integral), to 1e-15;
  - the quadratures' own error estimates, below 1e-26 relative;
and the generator stops with an error if anything disagrees. Stored as decimal strings of 25
significant digits (so that Mag - 1 keeps 10 digits even at rho = 1000, l = 3); inputs with repr().

Run (about a quarter of an hour on two idle cores, 26 minutes on two shared ones; --processes 1 for one):

    nice -n 10 .venv/bin/python tools/generate_ld_corner_truths.py
"""

import time

import mpmath

import generate_ld_truths as truths  # tools/, beside this script
from generate_ld_truths import ROOT, lensing_references

OUTPUT = ROOT / "tests" / "data" / "ld_corner_truths.json"
DIGITS = 25
CHECK_DPS = 46

ALPHAS = [0.05, 0.1, 0.3, 0.5, 2.0, 5.0, 7.0, 10.0, 20.0, 50.0, 100.0, 200.0]
STEP = [0.0, 0.3, 0.3 + 1e-9, 1.0]
LAWS = {
    **{f"power-2_0.9_{a:g}": {"kind": "Power2", "coefficients": [0.9, a]} for a in ALPHAS},
    "power-2_0.7_0.3": {"kind": "Power2", "coefficients": [0.7, 0.3]},
    "sampled_8_uniform_r": truths.LAWS["sampled_8_uniform_r"],
    "sampled_kink_0.99": {"kind": "Sampled", "r": [0.0, 0.99, 1.0], "I": [1.0, 0.9, 0.2]},
    "sampled_kink_0.999": {"kind": "Sampled", "r": [0.0, 0.999, 1.0], "I": [1.0, 0.9, 0.2]},
    "sampled_step_0.3": {"kind": "Sampled", "r": STEP, "I": [1.0, 1.0, 0.0, 0.0]},
    "sampled_30_limb_dense": truths.LAWS["sampled_30_limb_dense"],
    **{name: truths.LAWS[name] for name in ["uniform", "linear_0.6", "quadratic_0.4_0.25", "power-2_0.7_0.6",
                                            "four-parameter_0.5_0.1_0.3_-0.2"]},
    "linear_-100": {"kind": "Linear", "coefficients": [-100.0]},
    "quadratic_-50_30": {"kind": "Quadratic", "coefficients": [-50.0, 30.0]},
    "square-root_-3_4": {"kind": "SquareRoot", "coefficients": [-3.0, 4.0]},
    "logarithmic_-2_3": {"kind": "Logarithmic", "coefficients": [-2.0, 3.0]},
    "power-2_-10_0.3": {"kind": "Power2", "coefficients": [-10.0, 0.3]},
    "four-parameter_2.5_-4_4.5_-2": {"kind": "FourParameter", "coefficients": [2.5, -4.0, 4.5, -2.0]},
    "four-parameter_-1.5_4_-3.5_1.5": {"kind": "FourParameter", "coefficients": [-1.5, 4.0, -3.5, 1.5]},
}
SIZE_LAWS = ["uniform", "linear_0.6", "quadratic_0.4_0.25", "power-2_0.7_0.6", "four-parameter_0.5_0.1_0.3_-0.2",
             "sampled_8_uniform_r"]
EXTREME_LAWS = ["linear_-100", "quadratic_-50_30", "square-root_-3_4", "logarithmic_-2_3", "power-2_-10_0.3",
                "four-parameter_2.5_-4_4.5_-2", "four-parameter_-1.5_4_-3.5_1.5"]


def around(radii, offsets):
    """Each radius, and each offset either side of it."""
    return [r + s * d for r in radii for d in [0.0, *offsets] for s in ([1] if d == 0 else [-1, 1])]


def grid():
    """[(corner, law, rho, u)], u = l * rho in double (or as given); each u once per (corner, law, rho)."""
    rows = []

    def add(corner, names, rhos, ls):
        rows.extend((corner, name, rho, l * rho) for name in names for rho in rhos for l in ls)

    add("power-2 exponent", [f"power-2_0.9_{a:g}" for a in ALPHAS], [0.01, 0.1, 1.0],
        [0.0, 0.3, 0.9, 1 - 1e-4, 1 - 1e-6, 1 + 1e-5, 1.2, 2.0])
    rows.append(("power-2 exponent", "power-2_0.7_0.3", 0.01, 0.0099999))
    rows.append(("sampled kinks", "sampled_8_uniform_r", 0.01, 0.00856142857142857))
    add("sampled kinks", ["sampled_8_uniform_r"], [0.01, 1.0], around(truths.LAWS["sampled_8_uniform_r"]["r"][1:-1], [1e-6, 1e-3]))
    add("sampled kinks", ["sampled_kink_0.99"], [0.01, 1.0], around([0.99], [1e-9, 1e-6, 1e-3]))
    add("sampled kinks", ["sampled_kink_0.999"], [0.01, 1.0], around([0.999], [1e-9, 1e-6, 1e-4]))
    rows.append(("sampled kinks", "sampled_step_0.3", 1e-3, 3e-4))
    add("sampled kinks", ["sampled_step_0.3"], [1e-3, 1.0], [0.3 - 1e-6, 0.3, 0.3 + 5e-10, 0.3 + 2e-9, 0.5, 0.0])
    dense = truths.LAWS["sampled_30_limb_dense"]["r"]
    add("sampled kinks", ["sampled_30_limb_dense"], [0.01, 1.0], around([dense[j] for j in (1, 8, 15, 22, 26, 27, 28)], [1e-6]))
    add("large stars", SIZE_LAWS, [3.0, 30.0, 100.0, 1000.0], [0.0, 0.5, 1 - 1e-6, 1.0, 1.01, 3.0])
    add("tiny stars", SIZE_LAWS, [1e-8, 1e-30, 1e-160, 1e-300], [0.0, 0.5, 1 - 1e-6, 1 + 1e-6, 2.0])
    add("extreme coefficients", EXTREME_LAWS, [0.01, 1.0], [0.0, 0.5, 0.9, 1 - 1e-6, 1 + 1e-6, 1.5])
    return list(dict.fromkeys(rows))


def _truth(task):
    _, name, rho, u = task
    start = time.process_time()
    value, error, pieces = truths.magnification(LAWS[name], u, rho)
    with mpmath.workdps(60):  # as a string: an mpf from a worker is rounded to the receiver's precision
        return mpmath.nstr(value, 40, strip_zeros=False), error, pieces, time.process_time() - start


def _fine(task):
    _, name, rho, u = task
    return mpmath.nstr(truths.magnification(LAWS[name], u, rho, dps=CHECK_DPS, ratio=1)[0], 50)


def _witt_mao(task):
    _, _, rho, u = task
    return mpmath.nstr(lensing_references.uniform_disk(u, rho, dps=50), 50)


def _direct(task):
    _, name, rho, u = task
    with mpmath.workdps(30):
        l = mpmath.mpf(u) / mpmath.mpf(rho)
    return mpmath.nstr(truths.direct_disk_average(l, rho, LAWS[name]), 30)


# A few cases of every corner for the direct quadrature over the disk (seconds each): (corner, law, rho, l).
DIRECT = [(corner, name, rho, l * rho) for corner, name, rho, l in [
    ("power-2 exponent", "power-2_0.9_0.05", 0.1, 0.3), ("power-2 exponent", "power-2_0.9_200", 0.1, 0.3),
    ("power-2 exponent", "power-2_0.9_50", 0.01, 0.0), ("sampled kinks", "sampled_8_uniform_r", 1.0, 6 / 7 + 1e-3),
    ("sampled kinks", "sampled_step_0.3", 1e-3, 0.5), ("large stars", "quadratic_0.4_0.25", 30.0, 0.5),
    ("tiny stars", "power-2_0.7_0.6", 1e-30, 0.5), ("extreme coefficients", "linear_-100", 1.0, 0.5),
    ("extreme coefficients", "four-parameter_2.5_-4_4.5_-2", 0.01, 0.9)]]


def check(pool, what, function, picks, stored, tolerance):
    """Each pick's stored truth against function(pick), to tolerance relative."""
    print(f"{what}: {len(picks)} cases", flush=True)
    worst = 0.0
    for task, other in zip(picks, pool.map(function, picks, chunksize=1)):
        error = truths.relative(stored[task], other)
        worst = max(worst, error)
        if not error < tolerance:
            raise SystemExit(f"{what}: {task}: {error:.1e}")
    print(f"  worst relative difference {worst:.1e}", flush=True)


def main():
    with truths.generation(__doc__.split("\n")[0], LAWS, grid, _truth) as (pool, cases, results):
        stored = {case: result[0] for case, result in zip(cases, results)}
        missing = [task for task in DIRECT if task not in stored]
        if missing:
            raise SystemExit(f"direct checks of cases not in the grid: {missing}")
        check(pool, "uniform disk against Witt-Mao", _witt_mao, [c for c in cases if c[1] == "uniform"], stored, 1e-25)
        check(pool, f"again at {CHECK_DPS} digits, cut twice as finely", _fine, cases, stored, 1e-25)
        check(pool, "against the direct quadrature over the disk", _direct, DIRECT, stored, 1e-15)
    truths.summarise(cases, [r[1] for r in results], [r[3] for r in results], 1e-26, [r[2] for r in results])

    with mpmath.workdps(60):
        rows = [{"corner": corner, "law": name, "rho": rho, "u": u,
                 "truth": mpmath.nstr(mpmath.mpf(result[0]), DIGITS, strip_zeros=False)}
                for (corner, name, rho, u), result in zip(cases, results)]
    truths.write_truths(OUTPUT, DIGITS, LAWS, rows)


if __name__ == "__main__":
    main()
