#!/usr/bin/env python3
"""Generates src/models/star_series_tables.hpp: the functions of z from which the magnification of a
small star of any brightness law is summed.

The point-lens magnification is a series in odd powers of the separation x (Einstein radii),

    A(x) = (x^2 + 2) / (x sqrt(x^2 + 4)) = sum_n a_n x^(2n - 1),   |x| < 2,
    a_n = c_n / 4^n,  c_n = b_n + 2 b_(n-1),  b_n = (-1)^n C(2n, n) / 4^n,

so that a star of radius rho (Einstein radii) whose centre lies u = z rho from the lens, with a
brightness f(t) at radius t (stellar radii), is magnified by

    A = sum_n a_n rho^(2n - 1) T_f,n(z) / N_f,
    T_f,n(z) = (1/pi) integral over the unit disk of f(|zeta|) |z - zeta|^(2n - 1) dA(zeta),
    N_f = (1/pi) integral over the unit disk of f(|zeta|) dA = integral_0^1 f(t) 2t dt,

while rho (z + 1) < 2. The terms fall as (rho (z + 1) / 2)^(2n): ten orders reach 1e-13 for
rho <= RHO_MAX and z <= Z_MAX. A law is a sum of the bases f below with constant weights, so its
magnification is the same sum of the T_f,n.

Bases, mu = sqrt(1 - t^2): 1, mu, mu^2, sqrt(mu), mu^(3/2), mu ln mu (every closed-form law but
power-2), and t (a profile linear in t between samples is a sum of disks with f = 1 and f = t).

T_f,n is computed in the lens's own polar coordinates, zeta = z + w e^(i phi), dA = w dw dphi,
where the kernel becomes w^(2n) dw dphi and the lens costs nothing:

    T_f,n(z) = (2/pi) integral_0^pi dphi integral over the ray inside the disk f(t) w^(2n) dw.

A ray leaves the disk where mu = 0, mu^2 = (W - w)(w + W') inside (W, W' from the ray's
quadratic, formed without cancellation) and (w - W-)(W+ - w) for a lens outside; each integral is
a tanh-sinh rule in long double (64-bit significand), with every singular point at an end of its
piece: the limb (mu^p, mu ln mu), the tangent rays of a lens outside, the direction phi = pi/2
where the exit distance varies fastest for a lens near the limb, and the kink of f = t at the
centre (the rays are cut at w = z). The result is good to a few units of 1e-19.

Each T_f,n is tabulated on a mesh of intervals in z (see Mesh), graded geometrically by halves
towards the limb z = 1 from both sides (40 levels, down to 2^-40 of it), where T_f,n has
singular terms such as (z - 1) ln|z - 1| and |z - 1|^(3/2), and towards the centre (20 levels),
where f = t gives z^2 ln z. On each interval it is the interpolating polynomial in the interval's
local variable s in [-1, 1] at 20 Chebyshev points, truncated where the rest of its Chebyshev
series is below the tolerance of its order (see tolerance(): TOLERANCE of the leading term
T_1,0 over the order's share of the magnification at RHO_MAX, times the interval's width where
that is below 1/4, so that derivatives keep their accuracy near the limb, but never below the
integration's own noise NOISE; on the two intervals that end at the limb, TOLERANCE itself), and
stored as monomial coefficients in s.

Checks before writing (any failure stops the generator):
  - the uniform disk's T_1,0 against its closed forms 4 E(z^2) / pi (z < 1) and
    4 z (E(1/z^2) - (1 - 1/z^2) K(1/z^2)) / pi (z > 1), mpmath, at every node, to 1e-17;
  - mu's T_mu,0 against its polynomial inside the star, pi (2 - z^2) / 4, to 1e-17;
  - a sample of nodes recomputed with a tanh-sinh rule of half the step, to 1e-18;
  - a sample of (basis, order, z) against an independent mpmath quadrature in the star's own
    polar coordinates (ring means of |z - t e^(i theta)|^(2n - 1) integrated over t), to 1e-15;
  - every truncated polynomial against the integration at points between the nodes, to its
    tolerance (plus rounding).

Run (about ten minutes on two cores):

    python3 tools/generate_star_series_tables.py
"""

import math
import multiprocessing
import random
import sys
from fractions import Fraction
from pathlib import Path

import mpmath
import numpy as np

OUTPUT = Path(__file__).resolve().parent.parent / "src" / "models" / "star_series_tables.hpp"

L = np.longdouble
PI = L("3.14159265358979323846264338327950288")
BASES = ["UNIFORM", "MU", "MU_SQUARED", "SQRT_MU", "MU_THREE_HALVES", "MU_LOG_MU", "RADIUS"]
ORDERS = 10
RHO_MAX = 0.1
Z_MAX = 4
CENTRE_LEVELS = 20
LIMB_LEVELS = 40
NODES = 20
TOLERANCE = 1e-13
NOISE = 1e-17
LEVEL = 5


# ---------------------------------------------------------------------------------------------
# The series of the point-lens magnification.

def order_coefficient(n):
    """a_n of A(x) = sum a_n x^(2n - 1), exact."""
    def b(k):
        return Fraction((-1) ** k * math.comb(2 * k, k), 4 ** k) if k >= 0 else Fraction(0)
    return (b(n) + 2 * b(n - 1)) / 4 ** n


# ---------------------------------------------------------------------------------------------
# Mesh: intervals in z, each with its local variable s in [-1, 1], in the order of the table.
# (kind, k): "centre" k = 1..CENTRE_LEVELS-1 is z in [2^-(k+1), 2^-k], s = z 2^(k+2) - 3, and
# k = CENTRE_LEVELS is [0, 2^-CENTRE_LEVELS], s = z 2^(CENTRE_LEVELS+1) - 1; "inside" k is
# d = 1 - z in [2^-(k+1), 2^-k], s = 3 - d 2^(k+2), and k = LIMB_LEVELS is d in [0, 2^-LIMB_LEVELS],
# s = 1 - d 2^(LIMB_LEVELS+1); "outside" likewise with d = z - 1 and s increasing with d (k from 0);
# "far" k is z in [k, k + 1], s = 2 (z - k) - 1.

def mesh():
    intervals = [("centre", CENTRE_LEVELS)]
    intervals += [("centre", k) for k in range(CENTRE_LEVELS - 1, 0, -1)]
    intervals += [("inside", k) for k in range(1, LIMB_LEVELS + 1)]
    intervals += [("outside", k) for k in range(LIMB_LEVELS, -1, -1)]
    intervals += [("far", k) for k in range(2, Z_MAX)]
    return intervals


def node_position(kind, k, s):
    """(z, d) at the local variable s, d = z - 1 signed (exact for the limb's intervals)."""
    two = L(2)
    if kind == "centre":
        z = (s + 1) / two ** (k + 1) if k == CENTRE_LEVELS else (s + 3) / two ** (k + 2)
        return z, z - 1
    if kind == "inside":
        d = (1 - s) / two ** (k + 1) if k == LIMB_LEVELS else (3 - s) / two ** (k + 2)
        return 1 - d, -d
    if kind == "outside":
        d = (s + 1) / two ** (k + 1) if k == LIMB_LEVELS else (s + 3) / two ** (k + 2)
        return 1 + d, d
    z = k + (s + 1) / 2
    return z, z - 1


def width(kind, k):
    if kind == "far":
        return 1.0
    last = k == (CENTRE_LEVELS if kind == "centre" else LIMB_LEVELS)
    return 2.0 ** -k if last else 2.0 ** -(k + 1)


# ---------------------------------------------------------------------------------------------
# Integration in the lens's polar coordinates, long double.

def tanh_sinh(level):
    """Nodes x in (0, 1), 1 - x, and weights of the tanh-sinh rule of step 2^-level on [0, 1]."""
    h = L(1) / L(2 ** level)
    s = np.arange(-4 * 2 ** level, 4 * 2 ** level + 1).astype(L) * h
    e = np.exp(-PI * np.sinh(s))
    weight = h * PI * np.cosh(s) * e / (1 + e) ** 2
    keep = weight > L("1e-40")
    return (1 / (1 + e))[keep], (e / (1 + e))[keep], weight[keep]


def basis_values(mu2):
    mu = np.sqrt(mu2)
    with np.errstate(divide="ignore", invalid="ignore"):
        mu_log_mu = np.where(mu > 0, mu * np.log(np.where(mu > 0, mu, 1)), 0)
    root = np.sqrt(mu)
    radius = np.sqrt(np.maximum(1 - mu2, 0))
    return np.stack([np.ones_like(mu), mu, mu2, root, mu * root, mu_log_mu, radius])


def accumulate(total, mu2, w, weight):
    f = basis_values(mu2) * weight
    power = np.ones_like(w)
    for n in range(ORDERS):
        total[:, n] += (f * power).sum(axis=(1, 2))
        power = power * (w * w)


def moments(z, d, level=LEVEL):
    """T_f,n(z) for every basis f and order n, as a long double array [basis, order]; d = z - 1."""
    x, xc, q = tanh_sinh(level)
    X, XC, Q = x[None, :], xc[None, :], q[None, :]
    total = np.zeros((len(BASES), ORDERS), dtype=L)
    if d < 0:
        gap = -d * (2 + d)                       # 1 - z^2
        for lo, hi in ((L(0), PI / 2), (PI / 2, PI)):
            phi = lo + (hi - lo) * x
            c, s = np.cos(phi), np.sin(phi)
            root = np.sqrt(c * c + gap * s * s)
            exit_ = np.where(c >= 0, gap / (z * c + root), root - z * c)          # W
            back = np.where(c >= 0, z * c + root, gap / np.where(exit_ > 0, exit_, 1))  # W'
            exit_, back = exit_[:, None], back[:, None]
            weight = ((hi - lo) * q)[:, None]
            centre = np.minimum(exit_, z)        # the centre's distance along the ray
            w = centre * X                       # [0, centre]: W - w = (W - centre) + centre (1 - x)
            accumulate(total, ((exit_ - centre) + centre * XC) * (w + back), w, weight * centre * Q)
            span = exit_ - centre                # [centre, W], the limb at x = 0
            w = exit_ - span * X
            accumulate(total, span * X * (w + back), w, weight * span * Q)
    else:
        tangent = np.arcsin(1 / z)
        psi = tangent * x
        c, s = np.cos(psi), np.sin(psi)
        root = np.sqrt(np.maximum((1 - z * s) * (1 + z * s), 0))
        near = (d * (2 + d) / (z * c + root))[:, None]       # W-, where the ray enters
        far = near + 2 * root[:, None]                        # W+
        weight = (tangent * q)[:, None]
        centre = np.clip(z, near, far)
        for lo, hi in ((near, centre), (centre, far)):
            span = hi - lo
            w = lo + span * X
            mu2 = ((lo - near) + span * X) * ((far - hi) + span * XC)
            accumulate(total, mu2, w, weight * span * Q)
    return total * 2 / PI


def moments_at(node):
    kind, k, s = node
    z, d = node_position(kind, k, s)
    return moments(z, d)


# ---------------------------------------------------------------------------------------------
# Chebyshev interpolation, truncation, monomials.

def chebyshev_points():
    j = np.arange(NODES).astype(L)
    return np.cos(PI * (j + L("0.5")) / NODES)


def chebyshev_coefficients(values):
    """values [..., NODES] at chebyshev_points() -> coefficients [..., NODES]."""
    j = np.arange(NODES).astype(L)
    matrix = np.cos(PI * np.outer(j, j + L("0.5")) / NODES) * 2 / NODES
    matrix[0] /= 2
    return values @ matrix.T


def chebyshev_monomials(count):
    """Integer monomial coefficients of T_0 .. T_(count-1)."""
    rows = [[1], [0, 1]]
    while len(rows) < count:
        a, b = rows[-1], rows[-2]
        rows.append([2 * (a[i - 1] if i > 0 else 0) - (b[i] if i < len(b) else 0) for i in range(len(a) + 1)])
    return rows[:count]


MONOMIALS = chebyshev_monomials(NODES)


def to_monomials(coefficients):
    out = [L(0)] * len(coefficients)
    for k, c in enumerate(coefficients):
        for j, m in enumerate(MONOMIALS[k]):
            if m:
                out[j] += c * L(m)
    return out


def tolerance(order, scale, kind, k, z_high):
    """The largest error allowed on T_f,n over an interval: TOLERANCE of the leading term, times the
    interval's width below 1/4 (so that the derivative keeps TOLERANCE), but no finer than the
    integration's noise, and on the two intervals that end at the limb, where the singular terms
    leave no smooth polynomial, TOLERANCE itself; over the order's share of the magnification."""
    reach = (RHO_MAX * (z_high + 1)) ** (2 * order)
    at_limb = kind in ("inside", "outside") and k == LIMB_LEVELS
    relative = TOLERANCE if at_limb else max(TOLERANCE * min(1.0, 4 * width(kind, k)), NOISE)
    return relative * scale / (abs(float(order_coefficient(order))) * reach)


def truncated(coefficients, limit):
    """The shortest head of a Chebyshev series whose tail is below limit."""
    tail = np.cumsum(np.abs(coefficients[::-1]).astype(float))[::-1]
    length = next((k for k in range(NODES) if tail[k] <= limit), None)
    if length is None or length > NODES - 4:
        raise SystemExit(f"the Chebyshev series does not converge on the interval: tail {tail[-4]:.3g} > {limit:.3g}")
    return coefficients[:length]


# ---------------------------------------------------------------------------------------------
# Checks.

def closed_form_uniform(z):
    z = mpmath.mpf(z)
    if z < 1:
        return 4 * mpmath.ellipe(z * z) / mpmath.pi
    if z == 1:
        return 4 / mpmath.pi
    m = 1 / (z * z)
    return 4 * z * (mpmath.ellipe(m) - (1 - m) * mpmath.ellipk(m)) / mpmath.pi


def check_closed_forms(nodes, values):
    mpmath.mp.dps = 30
    worst = 0.0
    for (kind, k, s), v in zip(nodes, values):
        z, d = node_position(kind, k, s)
        zf = mpmath.mpf(str(z))
        worst = max(worst, abs(float(mpmath.mpf(str(v[0, 0])) / closed_form_uniform(zf) - 1)))
        if d < 0:
            worst = max(worst, abs(float(mpmath.mpf(str(v[1, 0])) / (mpmath.pi * (2 - zf * zf) / 4) - 1)))
    print(f"closed forms: largest relative difference {worst:.2g}")
    if worst > 1e-17:
        raise SystemExit("the integration disagrees with the closed forms")


def check_step(nodes, values, rng):
    worst = 0.0
    for i in rng.sample(range(len(nodes)), 12):
        kind, k, s = nodes[i]
        z, d = node_position(kind, k, s)
        finer = moments(z, d, LEVEL + 1)
        worst = max(worst, float(np.max(np.abs(finer / values[i] - 1))))
    print(f"half step: largest change {worst:.2g}")
    if worst > 1e-18:
        raise SystemExit("the tanh-sinh rule has not converged")


def independent(f, n, z):
    """T_f,n(z) by an mpmath quadrature over t of ring means, in the star's own polar coordinates."""
    z = mpmath.mpf(z)
    functions = [lambda t: 1, lambda t: mpmath.sqrt(1 - t * t), lambda t: 1 - t * t,
                 lambda t: (1 - t * t) ** mpmath.mpf(0.25), lambda t: (1 - t * t) ** mpmath.mpf(0.75),
                 lambda t: mpmath.sqrt(1 - t * t) * mpmath.log(mpmath.sqrt(1 - t * t)) if t < 1 else 0,
                 lambda t: t]

    def ring(t):
        if n == 0:
            if t == z:  # the logarithmic singularity itself, a point of no measure
                return 0
            # K(m) = pi / (2 agm(1, sqrt(1 - m))), sqrt(1 - m) = |z - t| / (z + t) formed directly
            return 1 / ((z + t) * mpmath.agm(1, abs(z - t) / (z + t)))
        return mpmath.quad(lambda th: abs(z * z + t * t - 2 * z * t * mpmath.cos(th)) ** (n - mpmath.mpf(0.5)),
                           [0, mpmath.pi]) / mpmath.pi

    points = sorted({mpmath.mpf(0), min(z, mpmath.mpf(1)), mpmath.mpf(1)})
    return mpmath.quad(lambda t: functions[f](t) * 2 * t * ring(t), points)


def check_independent(rng):
    mpmath.mp.dps = 25
    worst = 0.0
    for z in (0.0, 0.37, 0.9, 1 - 2.0 ** -20, 1.0, 1 + 2.0 ** -20, 1.6, 3.3):
        f, n = rng.randrange(len(BASES)), rng.choice([0, 0, 1, 2, 5])
        d = L(z) - 1
        mine = moments(L(z), d)[f, n]
        truth = independent(f, n, z)
        worst = max(worst, abs(float(mpmath.mpf(str(mine)) / truth - 1)))
    print(f"independent quadrature: largest relative difference {worst:.2g}")
    if worst > 1e-15:
        raise SystemExit("the integration disagrees with the independent quadrature")


# ---------------------------------------------------------------------------------------------
# Output.

def hex_double(value):
    return float(value).hex()


def header(spans, coefficients):
    order_coefficients = ", ".join(hex_double(float(order_coefficient(n))) for n in range(ORDERS))
    lines = [
        "// Generated by tools/generate_star_series_tables.py; do not edit.",
        "//",
        "// T_f,n(z) = (1/pi) integral over the unit disk of f(|zeta|) |z - zeta|^(2n - 1) dA for the",
        "// bases f of a star's brightness and the orders n of the point-lens series, as polynomials in",
        "// the local variable s of each interval of the mesh in z (see star_series.hpp), monomial",
        "// coefficients of s^0 first.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace caldrith::star_series::detail {",
        "",
        f"inline constexpr int BASES = {len(BASES)};",
        f"inline constexpr int ORDERS = {ORDERS};",
        f"inline constexpr int INTERVALS = {len(mesh())};",
        f"inline constexpr int CENTRE_LEVELS = {CENTRE_LEVELS};",
        f"inline constexpr int LIMB_LEVELS = {LIMB_LEVELS};",
        f"inline constexpr int Z_MAX = {Z_MAX};",
        f"inline constexpr double RHO_MAX = {RHO_MAX!r};",
        f"inline constexpr int MOST_COEFFICIENTS = {max(length for _, length in spans)};",
        "",
        "// a_n of A(x) = sum_n a_n x^(2n - 1).",
        f"inline constexpr double ORDER_COEFFICIENTS[ORDERS] = {{{order_coefficients}}};",
        "",
        "// Where the polynomial of (basis, order, interval) starts in COEFFICIENTS, and its length.",
        "struct Span {",
        "    std::uint32_t offset;",
        "    std::uint32_t length;",
        "};",
        "",
        "inline constexpr Span SPANS[BASES][ORDERS][INTERVALS] = {",
    ]
    index = 0
    for b, name in enumerate(BASES):
        lines.append(f"    {{  // {name}")
        for n in range(ORDERS):
            row = []
            for _ in mesh():
                row.append("{%d, %d}" % spans[index])
                index += 1
            lines.append("        {" + ", ".join(row) + "},")
        lines.append("    },")
    lines.append("};")
    lines.append("")
    lines.append(f"inline constexpr double COEFFICIENTS[{len(coefficients)}] = {{")
    for i in range(0, len(coefficients), 4):
        lines.append("    " + ", ".join(hex_double(c) for c in coefficients[i:i + 4]) + ",")
    lines.append("};")
    lines.append("")
    lines.append("}  // namespace caldrith::star_series::detail")
    return "\n".join(lines) + "\n"


def main():
    if np.finfo(L).eps > 1e-18:
        raise SystemExit("long double has no 64-bit significand here; run on x86-64")
    rng = random.Random(20261208)
    points = chebyshev_points()
    intervals = mesh()
    nodes = [(kind, k, s) for kind, k in intervals for s in points]
    with multiprocessing.Pool() as pool:
        values = pool.map(moments_at, nodes, chunksize=4)
    check_closed_forms(nodes, values)
    check_step(nodes, values, rng)
    check_independent(rng)

    spans, coefficients = [], []
    per_interval = {}
    for i, (kind, k) in enumerate(intervals):
        block = np.stack(values[i * NODES:(i + 1) * NODES], axis=-1)       # [basis, order, node]
        per_interval[i] = (block, chebyshev_coefficients(block))
    worst_check = 0.0
    for b in range(len(BASES)):
        for n in range(ORDERS):
            for i, (kind, k) in enumerate(intervals):
                block, series = per_interval[i]
                scale = float(np.max(np.abs(block[0, 0])))
                z_high = float(node_position(kind, k, L(1))[0]) if kind != "inside" else 1.0
                limit = tolerance(n, scale, kind, k, z_high)
                head = truncated(series[b, n], limit)
                spans.append((len(coefficients), len(head)))
                coefficients.extend(to_monomials(list(head)))
    # Between the nodes: every polynomial against the integration itself.
    for i in rng.sample(range(len(intervals)), 16):
        kind, k = intervals[i]
        s = L(rng.uniform(-1, 1))
        z, d = node_position(kind, k, s)
        exact = moments(z, d)
        block, _ = per_interval[i]
        scale = float(np.max(np.abs(block[0, 0])))
        z_high = float(node_position(kind, k, L(1))[0]) if kind != "inside" else 1.0
        for b in range(len(BASES)):
            for n in range(ORDERS):
                offset, length = spans[(b * ORDERS + n) * len(intervals) + i]
                value = sum(float(coefficients[offset + j]) * float(s) ** j for j in range(length))
                error = abs(value - float(exact[b, n])) / (tolerance(n, scale, kind, k, z_high)
                                                            + 1e-15 * abs(float(exact[b, n])))
                worst_check = max(worst_check, error)
    print(f"between the nodes: largest error {worst_check:.2g} of the tolerance")
    if worst_check > 2:
        raise SystemExit("a polynomial misses its tolerance between the nodes")
    OUTPUT.write_text(header(spans, coefficients))
    print(f"wrote {OUTPUT}: {len(coefficients)} coefficients, {len(intervals)} intervals")


if __name__ == "__main__":
    sys.exit(main())
