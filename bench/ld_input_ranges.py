"""caldrith_ld at the edges of the ranges it serves, against mpmath (the truths' own machinery,
tools/generate_ld_truths.py, at 30 digits).

Prints the largest relative error
  - by stellar radius rho, from 10 to 1e20 (1e30 is served; its truths take minutes each), over six laws (uniform, linear,
    quadratic, power-2, four-parameter, 8 samples) at seven positions l = u / rho (the centre,
    inside, 1e-3 inside the limb, on it, 1e-3 outside, outside);
  - by the size M of the coefficients, from 1 to the largest served (1e4), over six laws made of
    +-M that stay positive (bright at the limb: Linear(-M), Quadratic(-M, M), SquareRoot(-M, M),
    Logarithmic(-M, -M), Power2(-M, 0.5), FourParameter(M, -M, M, -M)), rho = 0.01, the same
    positions;
  - by the power-2 exponent alpha, from 1e-3 to 1e4 (1e15 is served), for c = 0.7 and c = 1, rho = 0.01.

Run from the repository root (about 6 minutes on two cores):
    .venv/bin/python bench/ld_input_ranges.py
"""

import multiprocessing
import pathlib
import sys

import mpmath

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "python"))

import generate_ld_truths as truths  # noqa: E402
from ld_laws_reference import module_law  # noqa: E402

POSITIONS = [0.0, 0.5, 1 - 1e-3, 1.0, 1 + 1e-3, 1.5, 3.0]
RHOS = [10.0, 30.0, 100.0, 300.0, 1e3, 1e4, 1e6, 1e10, 1e20]
RHO_LAWS = ["uniform", "linear_0.6", "quadratic_0.4_0.25", "power-2_0.7_0.6", "four-parameter_0.7_-0.55_1.1_-0.45",
            "sampled_8_uniform_r"]
SIZES = [1.0, 10.0, 100.0, 1e3, 1e4]
ALPHAS = [1e-3, 0.1, 3.0, 10.0, 100.0, 1e3, 1e4]


def bright_limb_laws(m):
    return [("Linear", [-m]), ("Quadratic", [-m, m]), ("SquareRoot", [-m, m]), ("Logarithmic", [-m, -m]),
            ("Power2", [-m, 0.5]), ("FourParameter", [m, -m, m, -m])]


def error(task):
    """(group, key, relative error of caldrith_ld against mpmath) for one law, rho and position."""
    import caldrith_ld as ld

    group, key, law, rho, l = task
    u = l * rho
    truth, _, _ = truths.magnification(law, u, rho, dps=30)
    value = float(ld.magnification(u, rho, module_law(law)))
    return group, key, float(abs(mpmath.mpf(value) / truth - 1))


def tasks():
    for rho in RHOS:
        for name in RHO_LAWS:
            yield from (("rho", rho, truths.LAWS[name], rho, l) for l in POSITIONS)
    for m in SIZES:
        for kind, coefficients in bright_limb_laws(m):
            law = {"kind": kind, "coefficients": coefficients}
            yield from (("coefficients", m, law, 0.01, l) for l in POSITIONS)
    for alpha in ALPHAS:
        for c in (0.7, 1.0):
            law = {"kind": "Power2", "coefficients": [c, alpha]}
            yield from (("alpha", (alpha, c), law, 0.01, l) for l in POSITIONS)


def main():
    worst = {}
    with multiprocessing.Pool(2) as pool:
        for group, key, value in pool.imap_unordered(error, list(tasks())):
            worst[group, key] = max(worst.get((group, key), 0.0), value)
    print("largest relative error against mpmath, by rho (six laws, seven positions):")
    print("  " + "  ".join(f"{rho:g}: {worst['rho', rho]:.1e}" for rho in RHOS))
    print("by the size M of the coefficients (six laws bright at the limb, rho = 0.01):")
    print("  " + "  ".join(f"{m:g}: {worst['coefficients', m]:.1e}" for m in SIZES))
    print("by the power-2 exponent alpha (rho = 0.01), c = 0.7 / c = 1:")
    print("  " + "  ".join(f"{a:g}: {worst['alpha', (a, 0.7)]:.1e} / {worst['alpha', (a, 1.0)]:.1e}"
                           for a in ALPHAS))


if __name__ == "__main__":
    main()
