#!/usr/bin/env python3
"""Generates tests/cpp/star_quadrature_checks.hpp: mpmath references for the quadrature route of
caldrith_ld (src/models/star_quadrature.hpp and what it rests on), as exact hex-float literals.

  - RING_CHECKS: the mean point-lens magnification R(l, t, c) over the ring of radius t about a star
    centre l from the lens (c the Einstein radius; all in stellar radii) and its derivatives in l, t
    and c, from tools/generate_ld_truths.py's ring_mean (Bulirsch's cel at the working precision),
    rings next to the lens included;
  - DISK_CHECKS: the uniform disk D(l, rho) (tests/python/lensing_references.py's Witt-Mao closed
    form with mpmath's elliptic integrals) and its derivatives in l at fixed rho and in rho at fixed l;
  - STAR_CHECKS: limb-darkened magnifications where the route used to fail: the power-2 law with a
    large exponent, with a small one near the limb, a ring next to a kink of a sampled law or just
    beyond the limb, large and small stars;
  - GRADIENT_CHECKS: magnifications with dA/du (fixed rho), dA/drho (fixed u) and dA/dc for the
    law's coefficients (a sampled law's intensities), by central differences of the same quadrature.

The magnifications are those of tools/generate_ld_truths.py (mpmath, its singular points cut
geometrically). For the power-2 law with a large exponent alpha the brightness mu^alpha sits within
1/sqrt(alpha) of the centre, which tanh-sinh on the generator's pieces would not find: there the
quadrature is also split where mu^alpha = exp(-f) for f = 1/4, 1/2, ..., 128 (passed to the generator
as split points, which is all its kinks are). Derivatives: central differences at 32 digits, steps
1e-7 of the distance to the limb (or of rho), 1e-9 of a coefficient; their truncation error is below
1e-12 of the natural scale, which the generator's 1e-24 quadrature leaves intact.

Run (about five minutes on one core):

    nice -n 10 .venv/bin/python tools/generate_quadrature_checks.py
"""

import pathlib
import sys

import mpmath

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "python"))
import generate_ld_truths as truths  # noqa: E402
import lensing_references  # noqa: E402
from nearest_double import nearest_double  # noqa: E402

OUTPUT = ROOT / "tests" / "cpp" / "star_quadrature_checks.hpp"
DPS = 32

# The laws, by name: kind (as in src/models/limb_darkening_law.hpp) and coefficients, or samples.
LAWS = {
    "linear": ("linear", [0.6]),
    "square_root": ("square_root", [-0.25, 1.05]),
    "power2": ("power2", [0.7, 0.6]),
    "power2_dark_limb": ("power2", [1.0, 0.6]),
    "power2_small_0.3": ("power2", [0.7, 0.3]),
    "power2_small_0.03": ("power2", [0.7, 0.03]),
    "power2_large_50": ("power2", [0.9, 50.0]),
    "power2_large_1e4": ("power2", [0.9, 1e4]),
    "power2_large_1e15": ("power2", [0.9, 1e15]),
    "four_parameter": ("four_parameter", [0.7, -0.55, 1.1, -0.45]),
    "sampled": ("sampled", [[0.0, 1 / 7, 2 / 7, 3 / 7, 4 / 7, 5 / 7, 6 / 7, 1.0],
                            [1.0, 0.99, 0.965, 0.925, 0.865, 0.78, 0.65, 0.38]]),
    "sampled_4": ("sampled", [[0.0, 0.4, 0.8, 1.0], [1.0, 0.93, 0.7, 0.45]]),
}
KIND = {"linear": "Linear", "square_root": "SquareRoot", "power2": "Power2", "four_parameter": "FourParameter",
        "sampled": "Sampled"}

KINK = 6 / 7
STAR_CASES = [  # (law, rho, l): every fault of the route's earlier versions
    ("power2_large_50", 0.01, 0.0),  # 382.147 before, mpmath 382.093
    ("power2_large_50", 1.0, 0.5),
    ("power2_large_1e4", 0.01, 0.01),
    ("power2_large_1e4", 1.0, 1.3),
    ("power2_large_1e15", 0.01, 3e-8),
    ("power2_small_0.3", 0.01, 0.99999),  # 2e-8 to 6e-8 off, |l - 1| from 1e-6 to 1e-4
    ("power2_small_0.3", 0.01, 1 - 1e-6),
    ("power2_small_0.3", 0.01, 1 + 1e-4),
    ("power2_small_0.03", 0.3, 1 - 1e-5),
    ("power2_small_0.03", 0.3, 0.9),
    ("sampled", 0.3, KINK),  # the ring on a kink, and a hair from it
    ("sampled", 0.3, KINK + 2e-16),
    ("sampled", 0.3, KINK - 1e-9),
    ("sampled", 1.0, KINK + 1e-5),
    ("sampled", 0.3, 1 + 1e-12),  # just beyond the limb
    ("sampled", 0.3, 1 + 1e-6),
    ("linear", 0.3, 1 + 1e-9),
    ("linear", 100.0, 0.9),  # large stars
    ("linear", 1e4, 0.5),
    ("linear", 1e6, 1.0),
    ("power2", 1e3, 0.99),
    ("power2", 1e-6, 0.7),  # a tiny star
    ("power2", 0.01, 1e-6),  # the centre
    ("four_parameter", 10.0, 0.3),
]
GRADIENT_CASES = [  # (law, rho, l)
    ("power2", 0.01, 0.0),
    ("power2", 0.01, 0.5),
    ("power2", 0.01, 1 - 1e-6),
    ("power2", 0.01, 1 + 1e-6),
    ("power2", 0.01, 1.5),
    ("linear", 1.0, 0.3),
    ("linear", 1.0, 1.001),
    ("square_root", 10.0, 0.3),
    ("square_root", 0.3, 1 + 1e-6),
    ("sampled_4", 0.3, 0.2),
    ("sampled_4", 1.0, 0.8 + 1e-6),
    ("power2_dark_limb", 1.0, 0.999),
]
RING_CASES = [  # (l, t, c)
    (0.5, 0.7, 100.0), (0.3, 0.3 + 3e-13, 100.0), (0.3, 0.3 - 3e-9, 1e4), (0.999999, 0.999998, 0.01),
    (1.0, 0.2, 1.0), (1e-6, 0.9, 10.0), (0.0, 0.4, 100.0), (0.7, 0.5, 0.001), (1.5, 1.0, 3.0),
]
DISK_CASES = [  # (l, rho)
    (0.0, 0.01), (0.5, 1e-4), (1 - 1e-9, 0.3), (1 + 1e-6, 10.0), (1.3, 1e3), (0.2, 1e6),
]


def law_dict(name):
    kind, values = LAWS[name]
    if kind == "sampled":
        return {"kind": "Sampled", "r": values[0], "I": values[1]}
    return {"kind": KIND[kind], "coefficients": values}


def brightness_cuts(law):
    """Where mu^alpha = exp(-f), f = 1/4, 1/2, ..., 128, for the power-2 law with a large alpha."""
    if law["kind"] != "Power2" or law["coefficients"][1] <= 4:
        return []
    alpha = mpmath.mpf(law["coefficients"][1])
    cuts = [mpmath.sqrt(-mpmath.expm1(-2 * mpmath.mpf(2) ** k / 4 / alpha)) for k in range(10)]
    return [float(t) for t in cuts if t < 1]


_sample_kinks = truths.laws.kinks
truths.laws.kinks = lambda law: _sample_kinks(law) + brightness_cuts(law)


def magnification(law, u, rho):
    return truths.magnification(law, u, rho, dps=DPS)[0]


def gradient(name, rho, l):
    law = law_dict(name)
    with mpmath.workdps(DPS):
        u, r = mpmath.mpf(l * rho), mpmath.mpf(rho)
        value = magnification(law, u, r)
        h = mpmath.mpf(10) ** -7 * min(abs(u - r) if u != r else r, r)
        d_u = (magnification(law, u + h, r) - magnification(law, u - h, r)) / (2 * h) if u > 0 else mpmath.mpf(0)
        d_rho = (magnification(law, u, r + h) - magnification(law, u, r - h)) / (2 * h)
        key = "I" if law["kind"] == "Sampled" else "coefficients"
        d_c = []
        for k, c in enumerate(law[key]):
            step = mpmath.mpf(10) ** -9 * max(abs(mpmath.mpf(c)), 1)
            shifted = [{**law, key: [mpmath.mpf(v) + (sign * step if j == k else 0) for j, v in enumerate(law[key])]}
                       for sign in (1, -1)]
            d_c.append((magnification(shifted[0], u, r) - magnification(shifted[1], u, r)) / (2 * step))
        return [value, d_u, d_rho, *d_c]


def ring(l, t, c):
    """R(l, t, c) and its derivatives in l, t, c by central differences at 60 digits."""
    with mpmath.workdps(60):
        def mean(x, y, z):
            return lensing_references.point_lens(y / z) if x == 0 else truths.ring_mean(x / z, y / z)

        args = [mpmath.mpf(l), mpmath.mpf(t), mpmath.mpf(c)]
        scale = min([abs(args[1] - args[0]), args[1], args[2]] + ([args[0]] if args[0] > 0 else []))
        step = mpmath.mpf(10) ** -20 * scale
        rows = [mean(*args)]
        for k in range(3):
            if k == 0 and l == 0:
                rows.append(mpmath.mpf(0))
                continue
            plus, minus = list(args), list(args)
            plus[k] += step
            minus[k] -= step
            rows.append((mean(*plus) - mean(*minus)) / (2 * step))
        return rows


def disk(l, rho):
    with mpmath.workdps(60):
        def d(x, r):
            return lensing_references.uniform_disk(x * r, r, dps=60)

        l_, r = mpmath.mpf(l), mpmath.mpf(rho)
        step = mpmath.mpf(10) ** -20 * (abs(l_ - 1) if l_ != 1 else 1)
        d_l = (d(l_ + step, r) - d(l_ - step, r)) / (2 * step) if l > 0 else mpmath.mpf(0)
        step_rho = mpmath.mpf(10) ** -20 * r
        d_rho = (d(l_, r + step_rho) - d(l_, r - step_rho)) / (2 * step_rho)
        return [d(l_, r), d_l, d_rho]


def hexes(values):
    return ", ".join(nearest_double(v).hex() for v in values)


def main():
    lines = [
        "// Generated by tools/generate_quadrature_checks.py; do not edit.",
        "//",
        "// mpmath references for the quadrature route of caldrith_ld (see the script).",
        "#pragma once",
        "",
        "#include <array>",
        "#include <vector>",
        "",
        "namespace star_quadrature_checks {",
        "",
        "struct Law {",
        "    const char* name;",
        "    int kind;  // caldrith::LawKind, in its order",
        "    std::vector<double> coefficients;  // or a sampled law's radii",
        "    std::vector<double> intensities;   // a sampled law's",
        "};",
        "",
        "enum LawName {",
    ]
    names = list(LAWS)
    lines += [f"    {name.upper().replace('.', '_')}," for name in names]
    lines += ["};", "", f"inline const std::array<Law, {len(names)}> LAWS{{{{"]
    kinds = ["uniform", "linear", "quadratic", "square_root", "logarithmic", "power2", "four_parameter", "sampled"]
    for name in names:
        kind, values = LAWS[name]
        if kind == "sampled":
            lines.append(f'    {{"{name}", {kinds.index(kind)}, {{{hexes(values[0])}}}, {{{hexes(values[1])}}}}},')
        else:
            lines.append(f'    {{"{name}", {kinds.index(kind)}, {{{hexes(values)}}}, {{}}}},')
    lines += ["}};", ""]

    lines += ["// l, t, c, R, dR/dl, dR/dt, dR/dc", f"inline constexpr std::array<std::array<double, 7>, {len(RING_CASES)}> RING_CHECKS{{{{"]
    for case in RING_CASES:
        lines.append(f"    {{{hexes(list(case) + ring(*case))}}},")
        print("ring", case, flush=True)
    lines += ["}};", ""]

    lines += ["// l, rho, D, dD/dl (rho fixed), dD/drho (l fixed)",
              f"inline constexpr std::array<std::array<double, 5>, {len(DISK_CASES)}> DISK_CHECKS{{{{"]
    for case in DISK_CASES:
        lines.append(f"    {{{hexes(list(case) + disk(*case))}}},")
        print("disk", case, flush=True)
    lines += ["}};", ""]

    lines += ["struct StarCheck {", "    LawName law;", "    double rho, u, magnification;", "};",
              f"inline const std::array<StarCheck, {len(STAR_CASES)}> STAR_CHECKS{{{{"]
    for name, rho, l in STAR_CASES:
        u = l * rho
        with mpmath.workdps(DPS):
            value = magnification(law_dict(name), u, rho)
        lines.append(f"    {{{name.upper().replace('.', '_')}, {hexes([rho, u, value])}}},")
        print("star", name, rho, l, flush=True)
    lines += ["}};", ""]

    lines += ["struct GradientCheck {", "    LawName law;", "    double rho, u, magnification, d_u, d_rho;",
              "    std::vector<double> d_coefficients;", "};",
              f"inline const std::array<GradientCheck, {len(GRADIENT_CASES)}> GRADIENT_CHECKS{{{{"]
    for name, rho, l in GRADIENT_CASES:
        values = gradient(name, rho, l)
        lines.append(f"    {{{name.upper().replace('.', '_')}, {hexes([rho, l * rho, *values[:3]])}, {{{hexes(values[3:])}}}}},")
        print("gradient", name, rho, l, flush=True)
    lines += ["}};", "", "}  // namespace star_quadrature_checks"]
    OUTPUT.write_text("\n".join(lines) + "\n")
    print(f"wrote {OUTPUT.relative_to(ROOT)}")


if __name__ == "__main__":
    main()
