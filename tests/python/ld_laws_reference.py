"""Limb-darkening laws in mpmath: the intensity I of each law, normalised to I = 1 at the centre.

The analytic laws are functions of mu = sqrt(1 - r^2) (r the radius on the star in stellar radii,
mu = 1 at the centre, 0 at the limb); the sampled law is piecewise linear in r through its samples.
Coefficients are taken as given (floats are converted exactly). Kinds and the order of their
coefficients:

    Uniform()                       1
    Linear(u)                       1 - u (1 - mu)
    Quadratic(a, b)                 1 - a (1 - mu) - b (1 - mu)^2
    SquareRoot(c, d)                1 - c (1 - mu) - d (1 - sqrt(mu))
    Logarithmic(e, f)               1 - e (1 - mu) - f mu ln mu        (mu ln mu = 0 at mu = 0)
    Power2(c, alpha)                1 - c (1 - mu^alpha)
    FourParameter(a1, a2, a3, a4)   1 - sum over k of a_k (1 - mu^(k/2))
    Sampled(r, I)                   linear in r between the samples, r[0] = 0 < ... < r[-1] = 1

A law is described as in tests/data/ld_truths.json: {"kind": ..., "coefficients": [...]}, or
{"kind": "Sampled", "r": [...], "I": [...]}.
"""

import bisect

import mpmath

ANALYTIC = {"Uniform": 0, "Linear": 1, "Quadratic": 2, "SquareRoot": 2, "Logarithmic": 2, "Power2": 2, "FourParameter": 4}


def intensity(kind, coefficients, mu):
    """I(mu) of an analytic law; mu in [0, 1] (converted to mpf), at the working precision."""
    if len(coefficients) != ANALYTIC[kind]:
        raise ValueError(f"{kind} takes {ANALYTIC[kind]} coefficients, not {len(coefficients)}")
    k = [mpmath.mpf(c) for c in coefficients]
    mu = mpmath.mpf(mu)
    x = 1 - mu
    if kind == "Uniform":
        return mpmath.mpf(1)
    if kind == "Linear":
        return 1 - k[0] * x
    if kind == "Quadratic":
        return 1 - k[0] * x - k[1] * x * x
    if kind == "SquareRoot":
        return 1 - k[0] * x - k[1] * (1 - mpmath.sqrt(mu))
    if kind == "Logarithmic":
        return 1 - k[0] * x - k[1] * (mu * mpmath.log(mu) if mu > 0 else 0)
    if kind == "Power2":
        return 1 - k[0] * (1 - mpmath.power(mu, k[1]))
    return 1 - mpmath.fsum(a * (1 - mpmath.power(mu, mpmath.mpf(j) / 2)) for j, a in enumerate(k, 1))


def sampled_intensity(r_samples, i_samples, r):
    """The piecewise-linear profile through (r_samples, i_samples) at radius r in [0, 1]."""
    r = mpmath.mpf(r)
    j = min(max(bisect.bisect_right(r_samples, r) - 1, 0), len(r_samples) - 2)
    r0, r1 = mpmath.mpf(r_samples[j]), mpmath.mpf(r_samples[j + 1])
    i0, i1 = mpmath.mpf(i_samples[j]), mpmath.mpf(i_samples[j + 1])
    return i0 + (i1 - i0) * (r - r0) / (r1 - r0)


def profile(law):
    """The law as a function of the radius r in [0, 1] (mpf in, mpf out)."""
    if law["kind"] == "Sampled":
        r_samples, i_samples = list(law["r"]), list(law["I"])
        if not (r_samples[0] == 0 and r_samples[-1] == 1 and all(a < b for a, b in zip(r_samples, r_samples[1:]))):
            raise ValueError("sample radii must rise from 0 to 1")
        return lambda r: sampled_intensity(r_samples, i_samples, r)
    kind, coefficients = law["kind"], law["coefficients"]
    # Rounding can put a node a hair past the limb; the intensity there is that at mu = 0.
    return lambda r: intensity(kind, coefficients, mpmath.sqrt(max(1 - r * r, 0)))


def kinks(law):
    """Radii inside (0, 1) where the profile is not smooth: the interior samples of a sampled law."""
    return list(law["r"][1:-1]) if law["kind"] == "Sampled" else []


def weighted_mean(law, f, points):
    """The mean of f(r) over the star weighted by the law's brightness, the radial quadrature split at
    points (and at the law's kinks)."""
    intensity = profile(law)
    nodes = sorted({0, 1, *kinks(law), *points})
    flux = mpmath.quad(lambda r: intensity(r) * 2 * r, nodes)
    return mpmath.quad(lambda r: intensity(r) * 2 * r * f(r), nodes) / flux


def module_law(law):
    """The same law as an object of caldrith_ld, for the module's own evaluation of a truth."""
    import caldrith_ld

    if law["kind"] == "Sampled":
        return caldrith_ld.Sampled(law["r"], law["I"])
    return getattr(caldrith_ld, law["kind"])(*law["coefficients"])
