#!/usr/bin/env python3
"""Generates tests/data/elliptic_reference.txt, reference values of the
complete elliptic integrals K(m), E(m), Π(n, m) and the Carlson integrals
RF, RD, RJ for the accuracy tests of src/kernels/elliptic.cpp.

Each line is

    <function> <region> <argument>... <reference>

with the arguments as exact hexadecimal doubles and the reference value of
the integral at those exact arguments to 30 significant digits. Every value
is computed with mpmath at 60 and at 90 digits; the script exits with a
non-zero status unless the two agree to 40 digits. The region names the
branch of the kernel an argument takes, so that the tests can bound the
error of each branch on its own:

    ellipk          poly (0 <= m < 0.9), poly-below-0 (-0.05 < m < 0, the
                    first polynomial beyond its interval), agm (0.9 <= m < 1),
                    negative (m <= -0.05)
    ellipe          poly (0 <= m < 0.9), agm (0.9 <= m < 1), negative (m < 0)
    ellippi         n<0, 0<n<1, n=m, n>1 (Cauchy principal value, with
                    1 - m/n >= 0.01), n>1-near-m (1 - m/n < 0.01, where the
                    rounding of 1 - m/n dominates the error)
    elliprf         duplication, agm (one zero argument), rc (two equal)
    elliprd         duplication, agm (x = 0)
    elliprj         duplication, equal (special cases), pv (p < 0)

Not covered (their values are fixed by the algorithm, not by accuracy): Π at
n = 1 + 2^-52, which is the limit K - E/(1 - m) of n -> 1+, and Π at n = m < 0,
an error.

Π for n > 1 is the principal value, computed as K(m) - Π(m/n, m) (DLMF
19.6.5): mpmath's ellippi returns a complex number there whose real part
loses about half the working digits. RJ for p < 0 is computed by the
transformation of DLMF 19.20.14 and, for a few arguments, checked against the
real part of mpmath's complex elliprj (too slow and too lossy to use for all).

Usage: python3 tools/generate_elliptic_reference.py
"""

import math
import random
import sys
from pathlib import Path

import mpmath

OUTPUT = Path(__file__).resolve().parent.parent / "tests" / "data" / "elliptic_reference.txt"

# Principal values of RJ also checked against mpmath's own (complex) RJ.
PV_CROSS_CHECKS = 6

BOUNDARIES = [float(text) for text in
              ("0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.85", "0.9", "-0.05", "0")]


def stable(compute):
    """compute() at 60 and 90 digits; the 90-digit value if they agree to 40."""
    with mpmath.workdps(60):
        low = compute()
    with mpmath.workdps(90):
        high = compute()
        if abs(low - high) > abs(high) * mpmath.mpf(10) ** -40:
            sys.exit(f"reference not stable under precision: {low} vs {high}")
        return high


def neighbours(value, steps=2):
    """value and its `steps` nearest doubles on each side."""
    below, above, result = value, value, [value]
    for _ in range(steps):
        below = math.nextafter(below, -math.inf)
        above = math.nextafter(above, math.inf)
        result += [below, above]
    return result


def legendre_region(m):
    """Branch of ellipk/ellipe for m >= 0: the interval index trunc(20 m) as
    the kernel forms it."""
    return "poly" if int(m * 20.0) <= 17 else "agm"


def k_and_e_points(rng):
    points = [b for boundary in BOUNDARIES for b in neighbours(boundary)]
    points += [math.ldexp(1.0, -1074), -math.ldexp(1.0, -1074), -0.0]
    points += [rng.uniform(-0.05, 0.9) for _ in range(300)]
    points += [1.0 - math.ldexp(1.0, -k) for k in range(1, 54)]
    points += [1.0 - 3.0 * math.ldexp(1.0, -k) for k in range(4, 53)]
    points += [rng.uniform(0.9, 1.0) for _ in range(60)]
    points += [-math.ldexp(1.0, k) for k in range(-4, 59)]
    points += [-(10.0 ** rng.uniform(-1.3, 17.6)) for _ in range(60)]
    return sorted(set(p for p in points if p < 1.0))


def ellipk_cases(rng):
    cases = []
    for m in k_and_e_points(rng):
        if m * 20.0 < -2.0**63:
            continue  # an error, not a value
        if m * 20.0 <= -1.0:
            region = "negative"
        else:
            region = "poly-below-0" if m < 0.0 else legendre_region(m)
        cases.append(("ellipk", region, (m,), stable(lambda: mpmath.ellipk(m))))
    return cases


def ellipe_cases(rng):
    points = k_and_e_points(rng)
    points += [-(10.0 ** rng.uniform(17.6, 308)) for _ in range(30)] + [-sys.float_info.max]
    cases = []
    for m in sorted(set(points)):
        region = "negative" if m < 0.0 else legendre_region(m)
        cases.append(("ellipe", region, (m,), stable(lambda: mpmath.ellipe(m))))
    return cases


def principal_value(n, m):
    """Π(n, m) for n > 1: K(m) - Π(m/n, m)."""
    def compute():
        n_, m_ = mpmath.mpf(n), mpmath.mpf(m)
        return mpmath.ellipk(m_) - mpmath.ellippi(m_ / n_, m_)
    return stable(compute)


def ellippi_cases(rng):
    near_one = [1.0 - math.ldexp(1.0, -20), 1.0 - math.ldexp(1.0, -40), 1.0 - math.ldexp(1.0, -52)]
    ms = [-1e6, -10.0, -1.0, -0.1, 0.0, 1e-8, 0.1, 0.5, 0.9, 0.99] + near_one
    negative_n = [-1e10, -1e6, -1000.0, -10.0, -1.0, -0.5, -0.1, -1e-3, -1e-10]
    inner_n = [1e-10, 0.1, 0.3, 0.5, 0.7, 0.9, 0.99] + near_one[:2]
    outer_n = [1.0 + math.ldexp(1.0, -51), 1.0 + math.ldexp(1.0, -40), 1.001, 1.1, 1.5, 2.0, 5.0,
               10.0, 100.0, 1e6]
    pairs = [(n, m) for n in negative_n + inner_n + outer_n for m in ms]
    pairs = [(n, m) for n, m in pairs if not n == m < 0.0]
    pairs += [(m, m) for m in ms if m > 0.0]
    pairs += [(m, m) for m in (0.05, 0.3, 0.7, 0.95)]
    for _ in range(150):
        m = rng.choice([rng.uniform(-20.0, 0.999), 1.0 - 10.0 ** rng.uniform(-15, -3)])
        n = rng.choice([-(10.0 ** rng.uniform(-8, 8)), rng.uniform(0.0, 0.999),
                        1.0 + 10.0 ** rng.uniform(-14, 6)])
        pairs.append((n, m))
    cases = []
    for n, m in pairs:
        if n > 1.0:
            if m == 0.0:
                continue  # -0 exactly: no relative error
            region = "n>1" if 1.0 - m / n >= 0.01 else "n>1-near-m"
            cases.append(("ellippi", region, (n, m), principal_value(n, m)))
            continue
        region = "n<0" if n < 0.0 else ("n=m" if n == m else "0<n<1")
        cases.append(("ellippi", region, (n, m), stable(lambda: mpmath.ellippi(n, m))))
    return cases


def spread(rng, low=-8, high=8):
    return 10.0 ** rng.uniform(low, high)


def carlson_cases(rng):
    cases = []

    def add(name, region, arguments, function):
        value = stable(lambda: mpmath.re(function(*[mpmath.mpf(a) for a in arguments])))
        cases.append((name, region, arguments, value))

    for _ in range(120):
        add("elliprf", "duplication", (spread(rng), spread(rng), spread(rng)), mpmath.elliprf)
    for _ in range(40):
        x, y = spread(rng), spread(rng)
        add("elliprf", "agm", rng.choice([(0.0, x, y), (x, 0.0, y), (x, y, 0.0)]), mpmath.elliprf)
        add("elliprf", "rc", rng.choice([(x, y, y), (y, x, y), (y, y, x)]), mpmath.elliprf)
    for _ in range(120):
        add("elliprd", "duplication", (spread(rng), spread(rng), spread(rng)), mpmath.elliprd)
    for _ in range(40):
        add("elliprd", "agm", (0.0, spread(rng), spread(rng)), mpmath.elliprd)
    for _ in range(150):
        add("elliprj", "duplication", (spread(rng), spread(rng), spread(rng), spread(rng)),
            mpmath.elliprj)
    for _ in range(40):
        add("elliprj", "duplication", (rng.uniform(1, 2), rng.uniform(1, 2), rng.uniform(1, 2),
                                        spread(rng, -6, -1)), mpmath.elliprj)
        x, y, p = spread(rng), spread(rng), spread(rng)
        for arguments in ((x, x, x, p), (x, y, y, p), (y, y, x, p), (x, y, p, p), (x, y, y, y)):
            add("elliprj", "equal", arguments, mpmath.elliprj)
    for index in range(80):
        arguments = (rng.choice([0.0, spread(rng, -4, 4)]), spread(rng, -4, 4), spread(rng, -4, 4),
                     -spread(rng, -4, 4))
        value = stable(lambda: rj_principal_value(*[mpmath.mpf(a) for a in arguments]))
        if index < PV_CROSS_CHECKS:
            check_against_mpmath(arguments, value)
        cases.append(("elliprj", "pv", arguments, value))
    return cases


def rj_principal_value(x, y, z, p):
    """RJ(x, y, z, p < 0) by DLMF 19.20.14, from RJ at the positive p' of the
    sorted triple a <= b <= c."""
    a, b, c = sorted((x, y, z))
    q = -p
    pp = ((a + b - p) * c - a * b) / (c - p)
    return (3 * mpmath.sqrt(a * b * c / (a * b + q * pp)) * mpmath.elliprc(a * b + q * pp, q * pp)
            + (pp - c) * mpmath.elliprj(a, b, c, pp) - 3 * mpmath.elliprf(a, b, c)) / (c - p)


def check_against_mpmath(arguments, value):
    """The real part of mpmath's RJ at negative p (slow, and it loses digits)
    must agree with the transformation."""
    with mpmath.workdps(60):
        direct = mpmath.re(mpmath.elliprj(*[mpmath.mpf(a) for a in arguments]))
    if abs(direct - value) > abs(value) * mpmath.mpf(10) ** -25:
        sys.exit(f"principal value of RJ{arguments}: {value} vs mpmath {direct}")


def render(cases):
    lines = [
        "# Generated by tools/generate_elliptic_reference.py; do not edit.",
        "# <function> <region> <argument>... <reference value, 30 digits>",
    ]
    for name, region, arguments, value in cases:
        text = " ".join(float(a).hex() for a in arguments)
        lines.append(f"{name} {region} {text} {mpmath.nstr(value, 30, min_fixed=0, max_fixed=0)}")
    return "\n".join(lines) + "\n"


def main():
    rng = random.Random(20240611)
    cases = ellipk_cases(rng) + ellipe_cases(rng) + ellippi_cases(rng) + carlson_cases(rng)
    OUTPUT.parent.mkdir(parents=True, exist_ok=True)
    OUTPUT.write_text(render(cases))
    print(f"wrote {len(cases)} cases to {OUTPUT}")


if __name__ == "__main__":
    main()
