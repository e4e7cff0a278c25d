#!/usr/bin/env python3
"""Generates tests/data/ld_truths.json: reference magnifications of limb-darkened stars.

For a star of radius rho (Einstein radii) whose centre lies u from a point lens, with a radial
brightness law I(r) (r in stellar radii, mu = sqrt(1 - r^2)),

    Mag(u, rho, I) = integral_0^1 I(r) 2r Abar(u, r rho) dr / integral_0^1 I(r) 2r dr,

where Abar(u, s) is the mean of the point-lens magnification A(x) = (x^2 + 2) / (x sqrt(x^2 + 4))
over the circle of radius s about the star's centre. Abar is taken in closed form,

    Abar(u, s) = 2 / (pi (u + s) sqrt(4 + g^2)) [2 K(m) + g^2 Pi(n, m)],  g = s - u,
    n = 4us / (u + s)^2,  m = 4n / (4 + g^2),

written as one Bulirsch complete elliptic integral cel(kc, 1 - n, 2 + g^2, 2(1 - n) + g^2) whose
arguments 1 - n = g^2 / (u + s)^2 and kc^2 = 1 - m = g^2 (4 + (u + s)^2) / ((u + s)^2 (4 + g^2))
are formed from g directly, so that the ring through the lens (s = u) costs no digits. At u = 0,
Abar(0, s) = A(s).

The radial integral is a tanh-sinh quadrature (mpmath.quad) split at the kinks of a sampled law and
at r = l = u / rho when the ring through the lens crosses the star (a logarithmic singularity of
Abar). Tanh-sinh converges fast with a singularity at an end of an interval, but slowly when one
lies just beyond an end: the limb r = 1 (square-root behaviour of every analytic law), the ring
through the lens at l just outside the star, its mirror r = -l (Abar is even in s), and the
complex points r = +-l +- 2i / rho (where Abar's argument meets the branch points x = +-2i of A).
Each interval is therefore cut, geometrically, until every such point lies at least half the
interval's length away from it; at l = 1 - 1e-9 that makes about twenty pieces.

Everything is evaluated at the exact double inputs u and rho (and coefficients) at 34 significant
digits, more in the far wings (4 log10 u more, so that Mag - 1 ~ 2 / u^4 also keeps its digits),
and stored as decimal strings of 20 significant digits; inputs are written with repr().

Before writing, the generator checks
  - every law's intensity is >= 0 on 0 <= mu <= 1;
  - a few cases per law against the direct quadrature of the point-lens magnification over the
    disk (that of tests/python/lensing_references.py, no elliptic integral), to 1e-15 relative;
  - the uniform disk at u = 0 against sqrt(rho^2 + 4) / rho for every rho, and at a few other
    positions against the Witt-Mao closed form with mpmath's elliptic integrals;
  - a sample of the grid recomputed at 46 digits, cut until every singular point lies a whole
    interval's length away (twice as far), to 1e-22 relative;
  - the quadrature's own error estimate, below 1e-24 relative everywhere;
and stops with an error if anything disagrees.

The grid: 15 laws (LAWS); the uniform disk and the first law of each family over nine rho (six
round values and three log-uniform draws) and some thirty positions each (the centre, inside,
both sides of the limb down to |l - 1| = 1e-9, outside, two random l in (0, 2), and the far
wings u = 1 ... 1000), the other laws over two rho and fewer positions: 2370 cases.

Run (about six minutes on two idle cores, of which two for the cross-checks; --processes 1 for one):

    nice -n 10 .venv/bin/python tools/generate_ld_truths.py
"""

import argparse
import contextlib
import json
import math
import multiprocessing
import pathlib
import random
import sys
import time

import mpmath

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "python"))
import ld_laws_reference as laws  # noqa: E402
import lensing_references  # noqa: E402

OUTPUT = ROOT / "tests" / "data" / "ld_truths.json"
DIGITS = 20
DPS = 34
CHECK_DPS = 46
SEED = 20250611
STARTED = time.monotonic()

# ---------------------------------------------------------------------------------------------
# The laws. The first of each family is computed over every rho; the second one and the sampled
# tables over a subset (SECONDARY_RHOS).

_dense_r = [1 - (1 - k / 29) ** 2 for k in range(30)]  # ever denser towards the limb
LAWS = {
    "uniform": {"kind": "Uniform", "coefficients": []},
    "linear_0.6": {"kind": "Linear", "coefficients": [0.6]},
    "linear_1.0": {"kind": "Linear", "coefficients": [1.0]},  # dark at the limb
    "quadratic_0.4_0.25": {"kind": "Quadratic", "coefficients": [0.4, 0.25]},
    "quadratic_0.75_0.2": {"kind": "Quadratic", "coefficients": [0.75, 0.2]},
    "square-root_0.2_0.5": {"kind": "SquareRoot", "coefficients": [0.2, 0.5]},
    "square-root_-0.25_1.05": {"kind": "SquareRoot", "coefficients": [-0.25, 1.05]},
    "logarithmic_0.6_0.15": {"kind": "Logarithmic", "coefficients": [0.6, 0.15]},
    "logarithmic_0.8_0.35": {"kind": "Logarithmic", "coefficients": [0.8, 0.35]},
    "power-2_0.7_0.6": {"kind": "Power2", "coefficients": [0.7, 0.6]},
    "power-2_0.55_1.3": {"kind": "Power2", "coefficients": [0.55, 1.3]},
    "four-parameter_0.5_0.1_0.3_-0.2": {"kind": "FourParameter", "coefficients": [0.5, 0.1, 0.3, -0.2]},
    "four-parameter_0.7_-0.55_1.1_-0.45": {"kind": "FourParameter", "coefficients": [0.7, -0.55, 1.1, -0.45]},
    "sampled_8_uniform_r": {
        "kind": "Sampled",
        "r": [k / 7 for k in range(8)],
        "I": [1.0, 0.99, 0.965, 0.925, 0.865, 0.78, 0.65, 0.38],
    },
    "sampled_30_limb_dense": {
        "kind": "Sampled",
        "r": _dense_r,
        # A quadratic-like law (0.5, 0.2) through the samples, rounded to 4 decimals.
        "I": [round(1 - 0.5 * (1 - math.sqrt(1 - r * r)) - 0.2 * (1 - math.sqrt(1 - r * r)) ** 2, 4) for r in _dense_r],
    },
}
SECONDARY = [
    "linear_1.0", "quadratic_0.75_0.2", "square-root_-0.25_1.05", "logarithmic_0.8_0.35",
    "power-2_0.55_1.3", "four-parameter_0.7_-0.55_1.1_-0.45", "sampled_8_uniform_r", "sampled_30_limb_dense",
]

# ---------------------------------------------------------------------------------------------
# The grid.

# Three rho log-uniform over [1e-4, 10], one in each third of the range (in log).
_rng = random.Random(SEED)
RANDOM_RHOS = [10 ** _rng.uniform(-4 + 5 * k / 3, -4 + 5 * (k + 1) / 3) for k in range(3)]
RHOS = [1e-4, 1e-3, 1e-2, 0.1, 1.0, 10.0, *RANDOM_RHOS]
SECONDARY_RHOS = [1e-3, 1.0]

LIMB_OFFSETS = [1e-9, 1e-7, 1e-5, 1e-3, 1e-2]
POSITIONS = {  # class -> positions l = u / rho
    "centre": [0.0, 1e-6, 1e-3],
    "inside": [0.1, 0.3, 0.5, 0.7, 0.9, 0.99],
    "limb": sorted([1 - d for d in LIMB_OFFSETS] + [1.0] + [1 + d for d in LIMB_OFFSETS]),
    "outside": [1.1, 1.5, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0],
}
SECONDARY_POSITIONS = {  # the same classes, fewer inside and outside
    "centre": [0.0, 1e-6],
    "inside": [0.5, 0.9],
    "limb": POSITIONS["limb"],
    "outside": [1.5, 3.0, 10.0],
}
WINGS = [1.0, 10.0, 100.0, 1000.0]  # u in Einstein radii, where u / rho > 1.5


def grid():
    """[(law, rho, u, class)], u = l * rho in double; one u per (law, rho) only once."""
    rng = random.Random(SEED + 1)
    cases = []
    for name in LAWS:
        secondary = name in SECONDARY
        for rho in SECONDARY_RHOS if secondary else RHOS:
            seen = set()
            rows = [(cls, l * rho) for cls, ls in (SECONDARY_POSITIONS if secondary else POSITIONS).items() for l in ls]
            rows += [("random", rng.uniform(0, 2) * rho) for _ in range(2)]
            rows += [("wing", u) for u in WINGS if u / rho > 1.5]
            for cls, u in rows:
                if u not in seen:
                    seen.add(u)
                    cases.append((name, rho, u, cls))
    return cases


# ---------------------------------------------------------------------------------------------
# The mathematics.


def ring_mean(u, s):
    """Abar(u, s): the mean of A over the circle of radius s > 0 whose centre lies u > 0 from the lens, s != u."""
    t, g = u + s, s - u
    g2, t2 = g * g, t * t
    q = 4 + g2
    p = g2 / t2
    kc = mpmath.sqrt(g2 * (4 + t2) / (t2 * q))
    return 2 * lensing_references.cel(kc, p, 2 + g2, 2 * p + g2) / (mpmath.pi * t * mpmath.sqrt(q))


def cut(points, singular, ratio):
    """Cuts the intervals between consecutive points until each singular point (complex allowed)
    that is not an end of an interval lies at least ratio times the interval's length away from it."""
    out = [points[0]]
    stack = list(reversed(list(zip(points, points[1:]))))
    while stack:
        a, b = stack.pop()
        width, nearest = b - a, None
        for z in singular:
            x = min(max(mpmath.re(z), a), b)
            d = abs(z - x)
            if d > 0 and d < ratio * width and (nearest is None or d < nearest[1]):
                nearest = (x, d)
        if nearest is None:
            out.append(b)
            continue
        x, d = nearest
        piece = d / ratio * mpmath.mpf(0.99)  # a little short, so that rounding cannot stall the cutting
        if x - a <= piece:  # near the left end: a piece there that is far enough from the point
            m = a + piece
        elif b - x <= piece:
            m = b - piece
        else:
            m = x
        stack.append((m, b))
        stack.append((a, m))
    return out


def working_dps(u, dps):
    """dps, and 4 log10 u more in the far wings, so that Mag - 1 ~ 2 / u^4 also keeps its digits."""
    return dps + max(0, math.ceil(4 * math.log10(u))) if u > 1 else dps


def pieces(law, u_, rho_, ratio):
    """The ends of the pieces of [0, 1] the radial quadrature sums over: the kinks and the ring through
    the lens, cut so that every singular point lies at least ratio times a piece's length away from
    it (u_, rho_ and ratio mpf, at the working precision)."""
    l = u_ / rho_
    points = sorted({mpmath.mpf(0), mpmath.mpf(1), *(mpmath.mpf(k) for k in laws.kinks(law)), *([l] if 0 < l < 1 else [])})
    w = 2j / rho_
    singular = [l, -l, l + w, l - w, -l + w, -l - w]
    if law["kind"] != "Sampled":
        singular += [mpmath.mpf(1), mpmath.mpf(-1)]
    return cut(points, [mpmath.mpc(z) for z in singular], ratio)


def flux_integrals(law, u, rho, weights, dps=DPS, ratio=mpmath.mpf(1) / 2):
    """For each brightness weight(r) (mpf in, mpf out): its flux, integral_0^1 weight(r) 2r dr, and its
    magnified flux, integral_0^1 weight(r) 2r Abar(u, r rho) dr, each followed by its quadrature's
    absolute error estimate, over the pieces of law at the exact double inputs u and rho, at dps
    digits (more in the far wings); and the number of pieces."""
    with mpmath.workdps(working_dps(u, dps)):
        u_, rho_ = mpmath.mpf(u), mpmath.mpf(rho)
        points = pieces(law, u_, rho_, mpmath.mpf(ratio))

        def magnified(weight):
            if u_ == 0:
                def integrand(r):
                    x = r * rho_
                    return weight(r) * 2 * (x * x + 2) / (rho_ * mpmath.sqrt(x * x + 4))
            else:
                def integrand(r):
                    # A node that rounds onto the ring through the lens meets the (integrable)
                    # logarithmic singularity; its weight is far below the working precision.
                    s = r * rho_
                    return weight(r) * 2 * r * ring_mean(u_, s) if s != u_ and r > 0 else mpmath.mpf(0)
            return integrand

        integrals = [(*mpmath.quad(lambda r: weight(r) * 2 * r, points, error=True),
                      *mpmath.quad(magnified(weight), points, error=True)) for weight in weights]
        return integrals, len(points) - 1


def magnification(law, u, rho, dps=DPS, ratio=mpmath.mpf(1) / 2):
    """Mag(u, rho, law) and the quadrature's own estimate of its relative error, at dps digits
    (more in the far wings), from the exact double inputs; and the number of pieces."""
    [(flux, flux_error, total, total_error)], count = flux_integrals(law, u, rho, [laws.profile(law)], dps, ratio)
    with mpmath.workdps(working_dps(u, dps)):
        return total / flux, float(total_error / total + flux_error / flux), count


def _truth(task):
    name, rho, u, _ = task
    start = time.process_time()
    value, error, pieces = magnification(LAWS[name], u, rho)
    # As strings: an mpf sent back from a worker is rounded to the receiver's precision.
    with mpmath.workdps(50):
        return (mpmath.nstr(value, DIGITS, strip_zeros=False), mpmath.nstr(value, 40, strip_zeros=False),
                error, pieces, time.process_time() - start)


# ---------------------------------------------------------------------------------------------
# The checks.


def relative(a, b):
    with mpmath.workdps(50):
        return float(abs(mpmath.mpf(a) - mpmath.mpf(b)) / abs(mpmath.mpf(b)))


def check_intensities(table):
    """Every law's intensity >= 0 on 0 <= mu <= 1 (and decreasing towards the limb for the tables)."""
    for name, law in table.items():
        with mpmath.workdps(30):
            if law["kind"] == "Sampled":
                values = law["I"]
                ok = all(a >= b for a, b in zip(values, values[1:])) and values[-1] >= 0 and values[0] == 1
            else:
                mus = [mpmath.mpf(j) / 4000 for j in range(4001)] + [mpmath.mpf(10) ** -k for k in range(4, 30)]
                values = [laws.intensity(law["kind"], law["coefficients"], mu) for mu in mus]
                ok = min(values) >= 0 and values[4000] == 1
        print(f"  {name}: minimum intensity {float(min(values)):.4f}", flush=True)
        if not ok:
            raise SystemExit(f"law {name}: intensity negative, not 1 at the centre, or (table) not decreasing")


CROSS_CHECKS = [(0.5, 0.1), (1 - 1e-5, 1e-3), (2.0, 1.0)]  # (l, rho), for every law


def direct_disk_average(l, rho, law, dps=25):
    """lensing_references.disk_average: the point-lens magnification averaged by quadrature over the
    polar angle (lensing_references.ring_average, no elliptic integral) and then over the radius,
    split at the kinks and at t = l; here a node that rounds onto the ring through the lens, where
    the ring mean is infinite, counts as 0 (its weight is below the working precision). The radial
    quadrature is not cut near the limb, so it needs more digits than ours: at 20 it is off by 5e-15
    for the power-2 law (alpha = 1.3) at l = 1 - 1e-5; at 25 it agrees to about 1e-21."""
    with mpmath.workdps(dps):
        l, c = +mpmath.mpf(l), 1 / mpmath.mpf(rho)  # l rounded to the working precision, as ring_average takes it
        intensity = laws.profile(law)
        points = sorted({mpmath.mpf(0), mpmath.mpf(1), *(mpmath.mpf(k) for k in laws.kinks(law)), *([l] if 0 < l < 1 else [])})
        flux = mpmath.quad(lambda t: intensity(t) * t, points)

        def ring(t):
            with mpmath.workdps(dps):  # ring_average rounds t to dps digits (quad works with guard digits)
                on_the_lens = +t == l
            return mpmath.mpf(0) if on_the_lens else lensing_references.ring_average(l, t, c, dps=dps)

        return mpmath.quad(lambda t: intensity(t) * t * ring(t), points) / flux


def _direct(task):
    name, l, rho = task
    law = LAWS[name]
    u = l * rho
    with mpmath.workdps(30):
        exact_l = mpmath.mpf(u) / mpmath.mpf(rho)
    direct = direct_disk_average(exact_l, rho, law)
    ours, _, _ = magnification(law, u, rho)
    return name, l, rho, relative(ours, direct)


def cross_check(pool):
    print("against the direct quadrature over the disk:", flush=True)
    worst = 0.0
    for name, l, rho, error in pool.imap(_direct, [(n, l, rho) for n in LAWS for l, rho in CROSS_CHECKS]):
        print(f"  {name} l={l!r} rho={rho!r}: relative difference {error:.1e}", flush=True)
        worst = max(worst, error)
        if not error < 1e-15:
            raise SystemExit(f"cross-check failed: {name} l={l!r} rho={rho!r}")
    print("uniform disk at u = 0 against sqrt(rho^2 + 4) / rho, elsewhere against Witt-Mao:", flush=True)
    for rho in RHOS:
        with mpmath.workdps(40):
            closed = mpmath.sqrt(mpmath.mpf(rho) ** 2 + 4) / mpmath.mpf(rho)
        error = relative(magnification(LAWS["uniform"], 0.0, rho)[0], closed)
        print(f"  u=0 rho={rho!r}: relative difference {error:.1e}", flush=True)
        worst = max(worst, error)
        if not error < 1e-25:
            raise SystemExit(f"uniform disk at u = 0 failed for rho={rho!r}")
    for l, rho in [(0.3, 0.01), (1 + 1e-7, 0.1), (1.0, 1.0), (5.0, 10.0), (100.0, 1e-3)]:
        u = l * rho
        error = relative(magnification(LAWS["uniform"], u, rho)[0], lensing_references.uniform_disk(u, rho, dps=40))
        print(f"  l={l!r} rho={rho!r}: relative difference {error:.1e}", flush=True)
        worst = max(worst, error)
        if not error < 1e-25:
            raise SystemExit(f"uniform disk against Witt-Mao failed at l={l!r} rho={rho!r}")
    return worst


def _fine(task):
    (name, rho, u, cls), stored = task
    fine, _, _ = magnification(LAWS[name], u, rho, dps=CHECK_DPS, ratio=1)
    return name, rho, u, cls, relative(stored, fine)


def precision_check(pool, cases, values):
    """Every 40th case and the limb and wing cases of two laws, again at 46 digits, cut twice as finely."""
    picks = [j for j, (name, rho, u, cls) in enumerate(cases)
             if j % 40 == 0 or (name in ("square-root_0.2_0.5", "sampled_30_limb_dense") and cls in ("limb", "wing")
                                and rho in (1e-3, 1.0))]
    print(f"precision: {len(picks)} cases again at {CHECK_DPS} digits, cut twice as finely:", flush=True)
    worst = 0.0
    for name, rho, u, cls, error in pool.imap_unordered(_fine, [(cases[j], values[j]) for j in picks]):
        worst = max(worst, error)
        if not error < 1e-22:
            raise SystemExit(f"precision check failed: {name} rho={rho!r} u={u!r} ({cls}): {error:.1e}")
    print(f"  worst relative difference {worst:.1e}", flush=True)
    return worst


def write_truths(path, digits, table, rows):
    """Writes {"digits", "laws", "cases"} as JSON, one law and one case a line, once it reads back."""
    text = "".join(['{"digits": %d,\n "laws": {\n' % digits,
                    ",\n".join(f"  {json.dumps(name)}: {json.dumps(law)}" for name, law in table.items()),
                    '},\n "cases": [\n', ",\n".join(f"  {json.dumps(row)}" for row in rows), "\n]}\n"])
    if json.loads(text) != {"digits": digits, "laws": table, "cases": rows}:
        raise SystemExit("the JSON does not read back")
    path.write_text(text)
    print(f"wrote {len(rows)} cases to {path.relative_to(ROOT)} in {time.monotonic() - STARTED:.0f} s", flush=True)


@contextlib.contextmanager
def generation(description, table, grid, truth, before=None):
    """The frame of a truth generator: reads the command line (--processes), checks the laws'
    intensities, makes the grid, runs before(pool) (cross-checks that fail early) and truth(case)
    for every case on a pool of processes; yields the pool, the cases and their results, the pool
    open for the checks."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--processes", type=int, default=2)
    args = parser.parse_args()
    print("intensities:", flush=True)
    check_intensities(table)
    cases = grid()
    print(f"{len(cases)} cases", flush=True)
    with multiprocessing.Pool(args.processes) as pool:
        if before is not None:
            before(pool)
            print(f"cross-checks done in {time.monotonic() - STARTED:.0f} s", flush=True)
        results = pool.map(truth, cases, chunksize=1)
        print(f"grid done in {time.monotonic() - STARTED:.0f} s", flush=True)
        yield pool, cases, results


def summarise(cases, estimates, seconds, limit, pieces=None):
    """Prints the largest error estimate, the most pieces, the slowest case and the processor time;
    stops if an estimate is not below limit."""
    slowest = max(range(len(cases)), key=lambda j: seconds[j])
    most = f"most pieces {max(pieces)}; " if pieces else ""
    print(f"largest error estimate of the quadrature {max(estimates):.1e}; {most}"
          f"slowest case {cases[slowest]} {seconds[slowest]:.1f} s; {sum(seconds):.0f} s of processor time", flush=True)
    if not max(estimates) < limit:
        raise SystemExit("a quadrature did not converge")


def main():
    with generation(__doc__.split("\n")[0], LAWS, grid, _truth, before=cross_check) as (pool, cases, results):
        precision_check(pool, cases, [r[1] for r in results])
    summarise(cases, [r[2] for r in results], [r[4] for r in results], 1e-24, [r[3] for r in results])
    rows = [{"law": name, "rho": rho, "u": u, "truth": result[0]} for (name, rho, u, _), result in zip(cases, results)]
    write_truths(OUTPUT, DIGITS, LAWS, rows)


if __name__ == "__main__":
    main()
