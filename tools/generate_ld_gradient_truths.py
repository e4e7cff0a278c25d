#!/usr/bin/env python3
"""Generates tests/data/ld_gradient_truths.json: the magnification of limb-darkened stars and its
derivatives in u, rho and every coefficient of the law, from mpmath.

Mag(u, rho, I) = F / N, F = integral_0^1 I(r) 2r Abar(u, r rho) dr, N = integral_0^1 I(r) 2r dr, is
computed by the quadrature of tools/generate_ld_truths.py (imported: the ring means Abar, the pieces
cut around the singular points, the digits raised in the far wings). For each case:

  - dMag/dc for every coefficient c of the law, in its constructor's order (Linear u; Quadratic a, b;
    SquareRoot c, d; Logarithmic e, f; Power2 c, alpha; FourParameter a1..a4), and for a sampled law
    Sampled(r, I) the derivative in every intensity sample I_j (the radii fixed): F and N are linear
    in the law's brightness, so dMag/dc = (F_c - Mag N_c) / N exactly, F_c and N_c the same
    quadratures with dI/dc as the brightness: -(1 - mu) and the like for the coefficients the laws
    are linear in (the law at that coefficient 1 and the others 0, minus 1), c mu^alpha ln mu for
    power-2's alpha, the hat function of sample j for a sampled law;
  - dMag/du (rho fixed) and dMag/drho (u fixed) by the central difference of the quadrature,
    (Mag(x + h) - Mag(x - h)) / 2h, with h a power of two about 1e-20 of the distance delta (in that
    variable) to the nearest place where Mag is not smooth (the lens on the limb or on a kink, u = 0)
    or to the variable's own scale rho, so that the truncation error is about (h / delta)^2 = 1e-40;
    at enough digits (34 more than log10(max(rho, x) / h)) that the quadratures' rounding, divided by
    h, stays about 1e-32 of the natural scale |d| + Mag / rho, with x +- h exact. Where the
    derivative is much smaller than that scale (the far wings: dMag/du ~ -8 / u^5), the difference is
    taken again with log10(scale / |d|) more digits, so that each derivative keeps its own digits.
    At u = 0 dMag/du is 0 (Mag is even in u); at l = u / rho = 1 the value and the coefficient
    derivatives only (the derivative in u diverges logarithmically for a law bright at the limb).

Each case is stored as {"law", "rho", "u", "A", "dA_du", "dA_drho", "dA_dc"}: the inputs with repr(),
the truths as decimal strings of 20 significant digits (dA_du and dA_drho null at l = 1; dA_dc the
list in the constructor's order, empty for the uniform disk). Every check below agrees to better
than 1e-27 of the natural scale (|d| + Mag / rho for u and rho, |d| + Mag for the coefficients), and
the derivatives in u and rho to 1e-27 of themselves where checked, the far wings included: the
stored digits are exact but for their rounding.

Before writing, the generator checks
  - every law's intensity is >= 0 on 0 <= mu <= 1;
  - the uniform disk's Mag, dMag/du and dMag/drho, every case, against the Witt-Mao closed form
    (lensing_references.uniform_disk) differentiated by mpmath.diff;
  - a sample of coefficient derivatives against the central difference of Mag in that coefficient;
  - a sample of dMag/du and dMag/drho again with a step 1e6 times longer and 5 more digits;
  - a sample against the scaling of the lens plane: u dMag/du + rho dMag/drho is the law-weighted
    mean over the star of d/dlambda Abar(lambda u, lambda s) at lambda = 1 (the ring mean of
    x A'(x) = -8 / (x (x^2 + 4)^(3/2))), a quadrature of the ring means' derivative rather than a
    derivative of the quadrature;
  - at u = 0, the one-sided difference (Mag(h) - Mag(0)) / h vanishes with h;
  - the quadratures' own error estimates;
and stops with an error if any disagrees by more than 1e-24 of the natural scale.

The grid (grid()): the uniform disk and the quadratic law (0.4, 0.25) over rho in {1e-4, 1e-3, 0.01,
0.05, 0.1, 0.3, 1, 10}, the other laws (two of each family but the logarithmic and four-parameter,
power-2 also with alpha = 0.2 and 5, and a sampled law of 8 samples) over rho in {1e-3, 0.05, 1}; at
l = 0, 1e-6, 0.3, 0.7, 1 -+ 1e-2, 1 -+ 1e-4, 1 -+ 1e-6, 1, 1.5, 3, 10 and in the far wings
u = 1, 10, 100 where u / rho > 1.5.

Run (the grid about 24 minutes of processor time; with the checks, under an hour on two shared
cores; --processes 1 for one; a run reproduces the committed file byte for byte):

    nice -n 10 .venv/bin/python tools/generate_ld_gradient_truths.py
"""

import math
import time

import mpmath

import generate_ld_truths as truths  # tools/, beside this script
from generate_ld_truths import ROOT, laws, lensing_references

OUTPUT = ROOT / "tests" / "data" / "ld_gradient_truths.json"
DIGITS = 20
DPS = truths.DPS
STEP = mpmath.mpf(10) ** -20  # h / delta of the central differences
TOLERANCE = 1e-24  # of the natural scale, for every check

LAWS = {name: truths.LAWS[name] for name in [
    "uniform", "quadratic_0.4_0.25", "linear_0.6", "linear_1.0", "quadratic_0.75_0.2", "square-root_0.2_0.5",
    "square-root_-0.25_1.05", "logarithmic_0.6_0.15", "power-2_0.7_0.6", "power-2_0.55_1.3",
    "four-parameter_0.5_0.1_0.3_-0.2", "sampled_8_uniform_r"]}
LAWS["power-2_0.7_0.2"] = {"kind": "Power2", "coefficients": [0.7, 0.2]}
LAWS["power-2_0.7_5"] = {"kind": "Power2", "coefficients": [0.7, 5.0]}

RHOS = [1e-4, 1e-3, 0.01, 0.05, 0.1, 0.3, 1.0, 10.0]
SECONDARY_RHOS = [1e-3, 0.05, 1.0]
FULL = ["uniform", "quadratic_0.4_0.25"]  # over every rho
POSITIONS = [0.0, 1e-6, 0.3, 0.7, 1 - 1e-2, 1 - 1e-4, 1 - 1e-6, 1.0, 1 + 1e-6, 1 + 1e-4, 1 + 1e-2, 1.5, 3.0, 10.0]
WINGS = [1.0, 10.0, 100.0]  # u in Einstein radii, where u / rho > 1.5


def grid():
    """[(law, rho, u)], u = l * rho in double; each u once per (law, rho)."""
    cases = []
    for name in LAWS:
        for rho in RHOS if name in FULL else SECONDARY_RHOS:
            us = [l * rho for l in POSITIONS] + [u for u in WINGS if u / rho > 1.5]
            cases += [(name, rho, u) for u in dict.fromkeys(us)]
    return cases


# ---------------------------------------------------------------------------------------------
# The coefficient derivatives.


def coefficient_weights(law):
    """dI/dc as a function of the radius (mpf in, mpf out), for every coefficient of the law."""
    if law["kind"] == "Sampled":
        count = len(law["I"])
        return [laws.profile({"kind": "Sampled", "r": law["r"], "I": [int(k == j) for k in range(count)]})
                for j in range(count)]
    kind, coefficients = law["kind"], law["coefficients"]
    if kind == "Power2":
        c, alpha = (mpmath.mpf(x) for x in coefficients)

        def in_alpha(r):
            mu = mpmath.sqrt(max(1 - r * r, 0))
            return c * mpmath.power(mu, alpha) * mpmath.log(mu) if mu > 0 else mpmath.mpf(0)

        in_c = laws.profile({"kind": kind, "coefficients": [1, coefficients[1]]})
        return [lambda r: in_c(r) - 1, in_alpha]
    # I = 1 - sum over k of c_k b_k(mu): dI/dc_k = -b_k, the law at c_k = 1 and the others 0, minus 1.
    units = [laws.profile({"kind": kind, "coefficients": [int(k == j) for k in range(len(coefficients))]})
             for j in range(len(coefficients))]
    return [lambda r, unit=unit: unit(r) - 1 for unit in units]


def value_and_coefficient_derivatives(law, u, rho, dps=DPS):
    """Mag, [dMag/dc], and the largest quadrature error estimate relative to the natural scale."""
    integrals, _ = truths.flux_integrals(law, u, rho, [laws.profile(law), *coefficient_weights(law)], dps)
    with mpmath.workdps(truths.working_dps(u, dps)):
        flux, flux_error, total, total_error = integrals[0]
        value = total / flux
        derivatives, estimate = [], (total_error + value * flux_error) / total
        for n, n_error, f, f_error in integrals[1:]:
            d = (f - value * n) / flux
            derivatives.append(d)
            estimate = max(estimate, (f_error + value * n_error + abs(d) * flux_error) / flux / (abs(d) + value))
        return value, derivatives, float(estimate)


def with_coefficient(law, j, value):
    """The law with its coefficient (or intensity sample) j set to value."""
    key = "I" if law["kind"] == "Sampled" else "coefficients"
    changed = dict(law)
    changed[key] = [value if k == j else x for k, x in enumerate(law[key])]
    return changed


# ---------------------------------------------------------------------------------------------
# The derivatives in u and rho.


def distance(law, u, rho, variable):
    """How far the variable may move before Mag stops being smooth (the lens on the limb or on a
    kink; u = 0), or its own scale rho: the delta of the central difference."""
    with mpmath.workdps(40):
        u, rho = mpmath.mpf(u), mpmath.mpf(rho)
        radii = [mpmath.mpf(1), *(mpmath.mpf(k) for k in laws.kinks(law))]
        if variable == "u":
            candidates = [rho, u, *(abs(u - k * rho) for k in radii)]
        else:
            candidates = [rho, *(abs(rho - u / k) for k in radii)] if u > 0 else [rho]
        return min(c for c in candidates if c > 0)


def central_difference(law, u, rho, variable, step=STEP, extra=0):
    """(Mag(x + h) - Mag(x - h)) / 2h in the variable x ("u" or "rho"), h a power of two near
    step * delta, at digits enough for h (and extra more); with an estimate of its error."""
    x = u if variable == "u" else rho
    with mpmath.workdps(40):
        h = mpmath.ldexp(1, int(mpmath.floor(mpmath.log(step * distance(law, u, rho, variable), 2))))
        dps = DPS + extra + int(mpmath.ceil(mpmath.log10(max(rho, x) / h)))
    with mpmath.workdps(dps + 20):  # x +- h exact: x has 53 bits, h is a power of two
        ends = [mpmath.mpf(x) + h, mpmath.mpf(x) - h]
    values = [truths.magnification(law, *((e, rho) if variable == "u" else (u, e)), dps=dps) for e in ends]
    with mpmath.workdps(dps + 10):
        (up, up_error, _), (down, down_error, _) = values
        slope = (up - down) / (2 * h)
        rounding = (up_error * up + down_error * down + 2 * mpmath.mpf(10) ** (1 - dps) * up) / (2 * h)
        return slope, rounding, dps


def derivative(law, u, rho, variable, value):
    """dMag/dvariable and an estimate of its error; again with more digits where it is far smaller
    than its natural scale |d| + Mag / rho."""
    slope, error, dps = central_difference(law, u, rho, variable)
    with mpmath.workdps(dps):
        scale = abs(slope) + value / mpmath.mpf(rho)
        if abs(slope) < scale * mpmath.mpf(10) ** -4:
            extra = int(mpmath.ceil(mpmath.log10(scale / abs(slope))))
            slope, error, dps = central_difference(law, u, rho, variable, extra=extra)
        return slope, float(error / (abs(slope) + value / mpmath.mpf(rho)))


def _truth(task):
    name, rho, u = task
    law = LAWS[name]
    start = time.process_time()
    value, coefficients, estimate = value_and_coefficient_derivatives(law, u, rho)
    if u == rho:
        slopes = [None, None]
    else:
        du, du_error = derivative(law, u, rho, "u", value) if u > 0 else (mpmath.mpf(0), 0.0)
        drho, drho_error = derivative(law, u, rho, "rho", value)
        slopes, estimate = [du, drho], max(estimate, du_error, drho_error)
    # As strings: an mpf sent back from a worker is rounded to the receiver's precision.
    with mpmath.workdps(60):
        text = [None if v is None else mpmath.nstr(v, 40, strip_zeros=False) for v in [value, *slopes, *coefficients]]
    return text, estimate, time.process_time() - start


# ---------------------------------------------------------------------------------------------
# The checks.


def mpf(text):
    return None if text is None else mpmath.mpf(text)


def natural_difference(a, b, scale):
    """|a - b| relative to the natural scale |b| + scale."""
    with mpmath.workdps(60):
        a, b = mpf(a), mpf(b)
        return float(abs(a - b) / (abs(b) + mpf(scale)))


def fail_if(error, what):
    if not error < TOLERANCE:
        raise SystemExit(f"check failed: {what}: {error:.1e}")
    return error


def _witt_mao(task):
    """The uniform disk's Mag, dMag/du and dMag/drho from the Witt-Mao closed form, by mpmath.diff."""
    u, rho = task
    with mpmath.workdps(70):
        def disk(u, rho):
            return lensing_references.uniform_disk(u, rho, dps=mpmath.mp.dps)

        value = disk(u, rho)
        du = mpmath.diff(lambda x: disk(x, rho), mpmath.mpf(u)) if u > 0 else mpmath.mpf(0)
        drho = mpmath.diff(lambda x: disk(u, x), mpmath.mpf(rho))
        return [mpmath.nstr(v, 50) for v in (value, du, drho)]


def check_uniform_disk(pool, cases, results):
    print("uniform disk against Witt-Mao, differentiated by mpmath:", flush=True)
    picks = [j for j, (name, rho, u) in enumerate(cases) if name == "uniform" and u != rho]
    worst = 0.0
    for j, closed in zip(picks, pool.map(_witt_mao, [(cases[j][2], cases[j][1]) for j in picks])):
        (_, rho, u), stored = cases[j], results[j][0]
        scales = [0, mpf(stored[0]) / mpf(rho), mpf(stored[0]) / mpf(rho)]
        for what, ours, theirs, scale in zip(("Mag", "dMag/du", "dMag/drho"), stored, closed, scales):
            worst = max(worst, fail_if(natural_difference(ours, theirs, scale), f"uniform rho={rho!r} u={u!r} {what}"))
    print(f"  {len(picks)} cases, worst {worst:.1e} of the natural scale", flush=True)


def _coefficient_difference(task):
    """dMag/dc_j by the central difference of Mag in c_j, step 2^-67 max(|c_j|, 1)."""
    name, rho, u, j = task
    law = LAWS[name]
    key = "I" if law["kind"] == "Sampled" else "coefficients"
    c = law[key][j]
    dps = DPS + 30
    with mpmath.workdps(dps):
        h = mpmath.ldexp(1, -67 + math.frexp(max(abs(c), 1.0))[1])
        up = truths.magnification(with_coefficient(law, j, mpmath.mpf(c) + h), u, rho, dps=dps)[0]
        down = truths.magnification(with_coefficient(law, j, mpmath.mpf(c) - h), u, rho, dps=dps)[0]
        return mpmath.nstr((up - down) / (2 * h), 40)


def check_coefficient_derivatives(pool, cases, results):
    picks = [(j, k) for j, (name, rho, u) in enumerate(cases) if j % 11 == 0 for k in range(len(results[j][0]) - 3)]
    print(f"coefficient derivatives against differences in the coefficient: {len(picks)}", flush=True)
    tasks = [(*cases[j], k) for j, k in picks]
    worst = 0.0
    for (j, k), task, difference in zip(picks, tasks, pool.map(_coefficient_difference, tasks, chunksize=1)):
        stored = results[j][0]
        error = natural_difference(difference, stored[3 + k], stored[0])
        worst = max(worst, fail_if(error, f"{task}"))
    print(f"  worst {worst:.1e} of the natural scale", flush=True)


def _second_step(task):
    name, rho, u, variable = task
    law = LAWS[name]
    value = truths.magnification(law, u, rho)[0]
    slope, _, _ = central_difference(law, u, rho, variable, step=STEP * 10**6, extra=5)
    if abs(slope) < (abs(slope) + value / mpmath.mpf(rho)) * mpmath.mpf(10) ** -4:  # as derivative() does
        extra = int(mpmath.ceil(mpmath.log10((abs(slope) + value / mpmath.mpf(rho)) / abs(slope))))
        slope, _, _ = central_difference(law, u, rho, variable, step=STEP * 10**6, extra=extra + 5)
    return mpmath.nstr(slope, 40)


def check_second_step(pool, cases, results):
    picks = [(j, v) for j, (name, rho, u) in enumerate(cases)
             if u != rho and (j % 7 == 0 or (name == "quadratic_0.4_0.25" and abs(u / rho - 1) < 0.02))
             for v in (["u", "rho"] if u > 0 else ["rho"])]
    print(f"derivatives in u and rho again with a step 1e6 times longer: {len(picks)}", flush=True)
    tasks = [(*cases[j], v) for j, v in picks]
    worst = worst_own = 0.0
    for (j, v), task, slope in zip(picks, tasks, pool.map(_second_step, tasks, chunksize=1)):
        stored = results[j][0]
        index = 1 if v == "u" else 2
        worst = max(worst, fail_if(natural_difference(slope, stored[index], mpf(stored[0]) / mpf(task[1])), f"{task}"))
        worst_own = max(worst_own, natural_difference(slope, stored[index], 0))
    print(f"  worst {worst:.1e} of the natural scale, {worst_own:.1e} of the derivative itself", flush=True)


def _scaling(task):
    """u dMag/du + rho dMag/drho as the law-weighted mean of d/dlambda Abar(lambda u, lambda s)."""
    name, rho, u = task
    law = LAWS[name]
    with mpmath.workdps(truths.working_dps(u, DPS)):
        u_, rho_ = mpmath.mpf(u), mpmath.mpf(rho)
        points = truths.pieces(law, u_, rho_, mpmath.mpf(1) / 2)
        intensity = laws.profile(law)

        def rate(r):
            s = r * rho_
            if u_ == 0:  # 2r x A'(x) at x = s
                return -16 / (rho_ * (s * s + 4) ** mpmath.mpf(1.5))
            if s == u_ or r == 0:
                return mpmath.mpf(0)
            return 2 * r * mpmath.diff(lambda lam: truths.ring_mean(lam * u_, lam * s), 1)

        flux = mpmath.quad(lambda r: intensity(r) * 2 * r, points)
        return mpmath.nstr(mpmath.quad(lambda r: intensity(r) * rate(r), points) / flux, 40)


def check_scaling(pool, cases, results):
    picks = [j for j, (name, rho, u) in enumerate(cases) if u != rho and j % 9 == 0]
    print(f"u dMag/du + rho dMag/drho against the scaling of the lens plane: {len(picks)}", flush=True)
    worst = 0.0
    for j, rate in zip(picks, pool.map(_scaling, [cases[j] for j in picks], chunksize=1)):
        (name, rho, u), stored = cases[j], results[j][0]
        with mpmath.workdps(60):
            value, du, drho = (mpf(s) for s in stored[:3])
            combined = u * du + rho * drho
            error = float(abs(combined - mpf(rate)) / (u * abs(du) + rho * abs(drho) + value))
        worst = max(worst, fail_if(error, f"{cases[j]}"))
    print(f"  worst {worst:.1e} of Mag + u |dMag/du| + rho |dMag/drho|", flush=True)


def _centre(task):
    name, rho = task
    law = LAWS[name]
    with mpmath.workdps(80):
        h = mpmath.ldexp(1, int(mpmath.floor(mpmath.log(mpmath.mpf(10) ** -30 * mpmath.mpf(rho), 2))))
        centre = truths.magnification(law, 0.0, rho, dps=75)[0]
        beside = truths.magnification(law, h, rho, dps=75)[0]
        return float(abs(beside - centre) / h / (centre / rho))


def check_centre(pool, cases, _):
    picks = [(name, rho) for name, rho, u in cases if u == 0]
    print(f"at u = 0 the one-sided difference in u, step 1e-30 rho: {len(picks)}", flush=True)
    worst = 0.0
    for task, error in zip(picks, pool.map(_centre, picks)):
        worst = max(worst, fail_if(error, f"centre {task}"))
    print(f"  worst {worst:.1e} of Mag / rho", flush=True)


def main():
    with truths.generation(__doc__.split("\n")[0], LAWS, grid, _truth) as (pool, cases, results):
        for check in (check_uniform_disk, check_centre, check_coefficient_derivatives, check_second_step, check_scaling):
            check(pool, cases, results)
    truths.summarise(cases, [r[1] for r in results], [r[2] for r in results], TOLERANCE)

    def rounded(text):
        with mpmath.workdps(60):
            return None if text is None else mpmath.nstr(mpmath.mpf(text), DIGITS, strip_zeros=False)

    rows = []
    for (name, rho, u), (text, _, _) in zip(cases, results):
        value, du, drho, *coefficients = (rounded(t) for t in text)
        rows.append({"law": name, "rho": rho, "u": u, "A": value, "dA_du": du, "dA_drho": drho, "dA_dc": coefficients})
    truths.write_truths(OUTPUT, DIGITS, LAWS, rows)


if __name__ == "__main__":
    main()
