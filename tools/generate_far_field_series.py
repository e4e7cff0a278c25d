#!/usr/bin/env python3
"""Generates src/models/far_field_series.hpp, the polynomials of the far-field
expansion of the point-lens magnification A(u) = (u^2 + 2) / (u sqrt(u^2 + 4))
averaged over a small source.

The mean of a smooth function f over a circle of radius a about a point p of
the plane, and over the disk of radius a, are the mean-value series

    ring:  sum_k (a^2/4)^k / (k!)^2      (Laplacian^k f)(p),
    disk:  sum_k (a^2/4)^k / (k!(k+1)!)  (Laplacian^k f)(p),

convergent where a is smaller than the distance from p to the nearest
singularity. For the radial A, with h = 4/u^2 the Laplacian is the operator
G -> h^2 (h G'' + G') in h, and by induction

    Laplacian^k A = h^(k+2) R_k(h) / (1 + h)^((4k+1)/2),   k >= 1,

R_k a polynomial of degree 2k - 1 with dyadic rational coefficients. In the
variable s = u^2 / (u^2 + 4) in [0, 1] and with x = (a/u)^2 this becomes

    (a^2/4)^k Laplacian^k A = A(u) x^k 2 (1 - s)^2 / (1 + s) S_k(s),
    S_k(s) = s^(2k-1) R_k((1 - s)/s),

a polynomial of degree 2k - 1 that is bounded on [0, 1] whatever u: neither
u -> 0 nor u -> infinity overflows. The script derives R_k exactly (rational
arithmetic, no floating point) and writes, as hex-float literals,

- UNIFORM_DISK_P1..P3: the coefficients of S_k(s) / (k!(k+1)!), k = 1..3, the uniform
  disk's series (all exact in binary);
- RING_SERIES: the coefficients of S_k(s) / (k!)^2, k = 1..20, the ring's series, each the
  double nearest to the exact rational. A star whose profile has the moments
  w_k = <t^(2k)> (the profile-weighted mean of t^(2k) over the disk, t in stellar radii)
  takes sum_k x^k w_k S_k(s) / (k!)^2 with x = (rho/u)^2.

The derivation is checked against a direct evaluation: the Laplacian of the
series' A, taken by mpmath's numerical differentiation at a few u, must agree
to 1e-20 relative with the polynomial forms, the uniform-disk series must
reproduce the Witt-Mao closed form at l = u/a = 1000 to 1e-25, and the ring
series the direct quadrature of the ring mean at a/u = 0.2 to 1e-25.

Usage: python3 tools/generate_far_field_series.py
"""

import math
import sys
from fractions import Fraction
from pathlib import Path

import mpmath

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "python"))
import lensing_references  # noqa: E402

OUTPUT = Path(__file__).resolve().parent.parent / "src" / "models" / "far_field_series.hpp"
UNIFORM_DISK_TERMS = 3
RING_TERMS = 20

Polynomial = list[Fraction]  # coefficients, lowest power first


def add(a: Polynomial, b: Polynomial) -> Polynomial:
    n = max(len(a), len(b))
    return [(a[i] if i < len(a) else 0) + (b[i] if i < len(b) else 0) for i in range(n)]


def multiply(a: Polynomial, b: Polynomial) -> Polynomial:
    product = [Fraction(0)] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            product[i + j] += x * y
    return product


def derivative(a: Polynomial) -> Polynomial:
    return [i * a[i] for i in range(1, len(a))] or [Fraction(0)]


def scaled(a: Polynomial, factor: Fraction) -> Polynomial:
    return [factor * x for x in a]


def trimmed(a: Polynomial) -> Polynomial:
    while len(a) > 1 and a[-1] == 0:
        a = a[:-1]
    return a


def evaluate(a: Polynomial, x):
    value = 0
    for c in reversed(a):
        value = value * x + c
    return value


ONE_PLUS_H = [Fraction(1), Fraction(1)]


def differentiate(p: Polynomial, e: Fraction) -> tuple[Polynomial, Fraction]:
    """d/dh of p(h) (1 + h)^-e, as q(h) (1 + h)^-(e + 1)."""
    return add(multiply(derivative(p), ONE_PLUS_H), scaled(p, -e)), e + 1


def laplacian(p: Polynomial, e: Fraction) -> tuple[Polynomial, Fraction]:
    """h^2 (h G'' + G') for G = p(h) (1 + h)^-e, as q(h) (1 + h)^-(e + 2)."""
    first, e1 = differentiate(p, e)
    second, e2 = differentiate(first, e1)
    inner = add(multiply([Fraction(0), Fraction(1)], second), multiply(ONE_PLUS_H, first))
    return trimmed(multiply([Fraction(0), Fraction(0), Fraction(1)], inner)), e2


def series_polynomials(count: int) -> list[Polynomial]:
    """S_1 .. S_count."""
    p, e = [Fraction(1), Fraction(1, 2)], Fraction(1, 2)  # A = (1 + h/2) (1 + h)^(-1/2)
    polynomials = []
    for k in range(1, count + 1):
        p, e = laplacian(p, e)
        if e != Fraction(4 * k + 1, 2) or any(c != 0 for c in p[: k + 2]) or len(p) != 3 * k + 2:
            sys.exit(f"Laplacian^{k} A is not of the expected form")
        r = p[k + 2 :]
        degree = 2 * k - 1
        s_k: Polynomial = [Fraction(0)] * (degree + 1)
        for j, c in enumerate(r):
            term = [Fraction(1)]
            for _ in range(j):
                term = multiply(term, [Fraction(1), Fraction(-1)])
            s_k = add(s_k, scaled([Fraction(0)] * (degree - j) + term, c))
        polynomials.append(trimmed(s_k))
    return polynomials


def point_lens(u):
    return (u * u + 2) / (u * mpmath.sqrt(u * u + 4))


def check_laplacians(polynomials: list[Polynomial]) -> None:
    """Laplacian^k A by numerical differentiation against the polynomial form, k = 1, 2."""
    with mpmath.workdps(60):
        for u in (mpmath.mpf("0.3"), mpmath.mpf("1.7"), mpmath.mpf(6)):
            s = u * u / (u * u + 4)
            lap1 = lambda v: mpmath.diff(point_lens, v, 2) + mpmath.diff(point_lens, v) / v  # noqa: E731
            lap2 = mpmath.diff(lap1, u, 2) + mpmath.diff(lap1, u) / u
            for k, direct in ((1, lap1(u)), (2, lap2)):
                form = (4 / (u * u)) ** k * point_lens(u) * 2 * (1 - s) ** 2 / (1 + s) * evaluate(polynomials[k - 1], s)
                if abs(form / direct - 1) > mpmath.mpf("1e-20"):
                    sys.exit(f"Laplacian^{k} A at u = {u} disagrees: {form} against {direct}")


def witt_mao(u, rho):
    d, s, q = u - rho, u + rho, rho * rho
    n = 4 * rho * u / (s * s)
    w = mpmath.sqrt(d * d + 4)
    m = 4 * n / (w * w)
    e, k, p = mpmath.ellipe(m), mpmath.ellipk(m), mpmath.ellippi(n, m)
    terms = e * (w * s) / (2 * q) - d * ((u * u - q) / 2 + 4) / (w * q) * k + p * 2 * d * d * (1 + q) / (w * q * s)
    return terms / mpmath.pi


def check_uniform_disk(coefficients: list[list[Fraction]]) -> None:
    with mpmath.workdps(80):
        for rho in (mpmath.mpf("1e-6"), mpmath.mpf("0.01"), mpmath.mpf(1), mpmath.mpf(30)):
            u = 1000 * rho
            x, s = (rho / u) ** 2, u * u / (u * u + 4)
            series = sum(x ** (k + 1) * evaluate(c, s) for k, c in enumerate(coefficients))
            value = point_lens(u) * (1 + 2 * (1 - s) ** 2 / (1 + s) * series)
            truth = witt_mao(u, rho)
            if abs(value / truth - 1) > mpmath.mpf("1e-25"):
                sys.exit(f"uniform-disk series at rho = {rho} disagrees: {value} against {truth}")


def check_ring(coefficients: list[list[Fraction]]) -> None:
    with mpmath.workdps(60):
        for u, a in ((mpmath.mpf("0.5"), mpmath.mpf("0.1")), (mpmath.mpf(7), mpmath.mpf("1.4"))):
            x, s = (a / u) ** 2, u * u / (u * u + 4)
            series = sum(x ** (k + 1) * evaluate(c, s) for k, c in enumerate(coefficients))
            value = point_lens(u) * (1 + 2 * (1 - s) ** 2 / (1 + s) * series)
            # Lengths in stellar radii of a = 1: the ring of radius 1 about a centre u/a away.
            truth = lensing_references.ring_average(u / a, 1, 1 / a, dps=60)
            if abs(value / truth - 1) > mpmath.mpf("1e-25"):
                sys.exit(f"ring series at u = {u}, a = {a} disagrees: {value} against {truth}")


def nearest(c: Fraction) -> str:
    """The double nearest to c (Python rounds a Fraction correctly, ties to even)."""
    return float(c).hex()


def exact_double(c: Fraction) -> str:
    value = float(c)
    if Fraction(value) != c:
        sys.exit(f"coefficient {c} is not exact in binary")
    return value.hex()


def main() -> None:
    polynomials = series_polynomials(RING_TERMS)
    check_laplacians(polynomials)
    uniform = [
        scaled(p, Fraction(1, math.factorial(k) * math.factorial(k + 1)))
        for k, p in enumerate(polynomials[:UNIFORM_DISK_TERMS], 1)
    ]
    check_uniform_disk(uniform)
    ring = [scaled(p, Fraction(1, math.factorial(k) ** 2)) for k, p in enumerate(polynomials, 1)]
    check_ring(ring)

    lines = [
        "// Generated by tools/generate_far_field_series.py; do not edit.",
        "//",
        "// The far-field series of the point-lens magnification A(u) averaged over a",
        "// uniform disk of radius a (both in Einstein radii), with x = (a/u)^2 and",
        "// s = u^2 / (u^2 + 4):",
        "//",
        "//   mean = A(u) [1 + 2 (1 - s)^2 / (1 + s) sum_k x^k P_k(s)],",
        "//",
        "// P_k(s) = S_k(s) / (k!(k+1)!), coefficient of s^0 first. Over a ring of",
        "// radius a the same holds with R_k(s) = S_k(s) / (k!)^2 (RING_SERIES).",
        "#pragma once",
        "",
        "#include <array>",
        "#include <span>",
        "",
        "namespace caldrith::far_field::detail {",
        "",
    ]
    for k, p in enumerate(uniform, 1):
        lines.append(f"inline constexpr std::array<double, {len(p)}> UNIFORM_DISK_P{k}{{{{")
        lines += [f"    {exact_double(c)},  // {c}" for c in p]
        lines.append("}};")
        lines.append("")
    for k, p in enumerate(ring, 1):
        lines.append(f"inline constexpr std::array<double, {len(p)}> RING_R{k}{{{{")
        lines += [f"    {nearest(c)}," for c in p]
        lines.append("}};")
        lines.append("")
    lines.append(f"inline constexpr std::array<std::span<const double>, {len(ring)}> RING_SERIES{{{{")
    lines += [f"    RING_R{k}," for k in range(1, len(ring) + 1)]
    lines.append("}};")
    lines.append("")
    lines.append("}  // namespace caldrith::far_field::detail")
    OUTPUT.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
