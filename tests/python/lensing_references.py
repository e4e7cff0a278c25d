"""High-precision references: point-lens magnification averaged directly over rings and disks (mpmath).

Every average here is taken by numerical quadrature of the point-lens magnification
mu(u) = (u^2 + 2) / (u sqrt(u^2 + 4)) over the source, never through an elliptic-integral
closed form, so it checks the kernels' formulas as well as their arithmetic. Lengths are in
stellar radii; c = re / rstar is the Einstein radius in stellar radii (u = distance / c).
Each function works at its own precision (mpmath.workdps) and leaves the global one alone.
"""

import functools

import mpmath


def point_lens(u):
    return (u * u + 2) / (u * mpmath.sqrt(u * u + 4))


def _ring_average(l, r, c):
    """(1/pi) * integral over phi in [0, pi] of mu(d(phi) / c), d^2 = (r - l)^2 + 4 l r sin^2(phi / 2)."""
    g = abs(r - l)
    lr4 = 4 * l * r
    if lr4 == 0:
        return point_lens(g / c)
    # Near phi = 0 the ring passes within |g| of the lens and mu ~ c / d peaks with width
    # ~|g| / sqrt(lr). On phi in [0, pi/3] the substitution sin(phi/2) = a sinh(s), a = |g| / sqrt(4lr),
    # makes d = |g| cosh(s) and flattens the peak; the rest of the ring is smooth in phi.
    a = g / mpmath.sqrt(lr4)

    def near(s):
        x = a * mpmath.sinh(s)
        return point_lens(g * mpmath.cosh(s) / c) * 2 * a * mpmath.cosh(s) / mpmath.sqrt(1 - x * x)

    def far(phi):
        return point_lens(mpmath.sqrt(g * g + lr4 * mpmath.sin(phi / 2) ** 2) / c)

    near_part = mpmath.quad(near, [0, mpmath.asinh(1 / (2 * a))])
    return (near_part + mpmath.quad(far, [mpmath.pi / 3, mpmath.pi])) / mpmath.pi


def ring_average(l, r, c, dps=30):
    """The mean point-lens magnification over the ring of radius r about a star centre l from the lens."""
    with mpmath.workdps(dps):
        return _ring_average(mpmath.mpf(l), mpmath.mpf(r), mpmath.mpf(c))


def disk_average(l, rho, profile, breaks=(), dps=17):
    """(1/N) * integral over the disk of I(t) mu, N = integral of I(t) over the disk.

    The star lies l from the lens, rho = rstar / re; profile(t) is I at radius t (mpf in, mpf out);
    breaks are radii in (0, 1) where I has a kink, to split the quadrature at. The ring through the
    lens (t = l) is split at too. At 17 digits the result is good to about 1e-18 relative.
    """
    with mpmath.workdps(dps):
        l, c = mpmath.mpf(l), 1 / mpmath.mpf(rho)
        splits = [mpmath.mpf(b) for b in breaks] + ([l] if 0 < l < 1 else [])
        points = sorted({mpmath.mpf(0), mpmath.mpf(1), *splits})
        flux = mpmath.quad(lambda t: profile(t) * 2 * mpmath.pi * t, points)
        magnified = mpmath.quad(lambda t: profile(t) * 2 * mpmath.pi * t * _ring_average(l, t, c), points)
        return magnified / flux


def limb_darkening(t):
    """The linear limb-darkening law of coefficient 0.6, 1 at the centre."""
    return 1 - mpmath.mpf("0.6") * (1 - mpmath.sqrt(1 - t * t))


def limb_darkening_law(name, coefficients):
    """A limb-darkening law as a profile of the radius t (mpf in, mpf out), I(mu = 1) = 1, mu = sqrt(1 - t^2).

    name is one of uniform, linear (u), quadratic (a, b), square-root (c, d), logarithmic (e, f),
    power-2 (c, alpha) and four-parameter (a1, a2, a3, a4), with the coefficients in that order.
    """
    k = [mpmath.mpf(a) for a in coefficients]

    def darkening(mu):
        """1 - I(mu)."""
        if name == "uniform":
            return 0
        if name == "linear":
            return k[0] * (1 - mu)
        if name == "quadratic":
            return k[0] * (1 - mu) + k[1] * (1 - mu) ** 2
        if name == "square-root":
            return k[0] * (1 - mu) + k[1] * (1 - mpmath.sqrt(mu))
        if name == "logarithmic":
            return k[0] * (1 - mu) + k[1] * (mu * mpmath.log(mu) if mu > 0 else 0)
        if name == "power-2":
            return k[0] * (1 - mpmath.power(mu, k[1]))
        if name == "four-parameter":
            return mpmath.fsum(a * (1 - mpmath.power(mu, mpmath.mpf(j + 1) / 2)) for j, a in enumerate(k))
        raise ValueError(f"unknown law {name!r}")

    return lambda t: 1 - darkening(mpmath.sqrt(1 - t * t))


@functools.cache
def limb_darkened_average(l, rho):
    """The mean magnification of a limb-darkened star (coefficient 0.6); cached, it costs about a second."""
    return disk_average(l, rho, limb_darkening)


def sampled_profile(bl, bf):
    """The piecewise-linear profile through the samples (bl ascending), 0 outside them."""
    samples = [(mpmath.mpf(x), mpmath.mpf(y)) for x, y in zip(bl, bf)]

    def profile(t):
        if len(samples) == 1:
            return samples[0][1]
        for (x0, y0), (x1, y1) in zip(samples, samples[1:]):
            if x0 <= t <= x1:
                return y0 + (y1 - y0) * (t - x0) / (x1 - x0)
        return mpmath.mpf(0)

    return profile


@functools.cache
def sampled_average(l, rho, bl, bf):
    """The mean magnification of a star with the sampled profile (bl, bf as tuples); cached."""
    return disk_average(l, rho, sampled_profile(bl, bf), breaks=[b for b in bl if 0 < b < 1])


def uniform_disk(u, rho, dps=30):
    """The Witt-Mao closed form for a uniform disk of radius rho at separation u (Einstein radii),
    with mpmath's complete elliptic integrals (parameter convention, Pi(n, m))."""
    with mpmath.workdps(dps):
        u, rho = mpmath.mpf(u), mpmath.mpf(rho)
        q = rho * rho
        if u == 0:
            return mpmath.sqrt(q + 4) / rho
        if u == rho:  # the lens on the limb: n = 1, where the terms of the general form cancel
            return ((1 + q) / q * (mpmath.asin((q - 1) / (1 + q)) + mpmath.pi / 2) + 2 / rho) / mpmath.pi
        d, s = u - rho, u + rho
        w = mpmath.sqrt(4 + d * d)
        n = 4 * u * rho / (s * s)
        m = 4 * n / (w * w)
        return (
            s * w / (2 * q) * mpmath.ellipe(m)
            - d * (8 + u * u - q) / (2 * q * w) * mpmath.ellipk(m)
            + 2 * d * d * (1 + q) / (q * s * w) * mpmath.ellippi(n, m)
        ) / mpmath.pi


def far_field(u, s):
    """The mean of A - 1 over the circle of radius s about a point u from the lens (s < u), to order
    x^-6: A(x) - 1 = 2/x^4 - 8/x^6 + R with |R| <= 30/x^8 (alternating, decreasing terms), and the
    means of x^-4 and x^-6 over the circle are exact: (u^2 + s^2)/(u^2 - s^2)^3 and
    (u^4 + 4u^2 s^2 + s^4)/(u^2 - s^2)^5."""
    s2, u2 = s * s, u * u
    return 2 * (u2 + s2) / (u2 - s2) ** 3 - 8 * (u2 * u2 + 4 * u2 * s2 + s2 * s2) / (u2 - s2) ** 5


def inverse_distance(l, r):
    """The mean of 1/|x| over the circle of radius r about a point l from the lens, (2 / (pi max(l, r)))
    K(min(l, r)^2 / max(l, r)^2); 0 on the circle through the lens (a node of a quadrature that lands
    there meets an integrable logarithmic singularity)."""
    near, far = sorted((l, r))
    return 2 * mpmath.ellipk((near / far) ** 2) / (mpmath.pi * far) if near != far else mpmath.mpf(0)


def cel(kc, p, a, b):
    """Bulirsch's complete elliptic integral
    cel(kc, p, a, b) = integral over [0, pi/2] of (a cos^2 + b sin^2) / ((cos^2 + p sin^2) sqrt(cos^2 + kc^2 sin^2)),
    for p > 0, by its Gauss (AGM-like) transformation, to the working precision."""
    tolerance = mpmath.mpf(10) ** (-(mpmath.mp.dps // 2 + 2))
    kc = abs(kc)
    e, em = kc, mpmath.mpf(1)
    p = mpmath.sqrt(p)
    b = b / p
    while True:
        f = a
        a = a + b / p
        g = e / p
        b = 2 * (b + f * g)
        p = g + p
        g = em
        em = kc + em
        if abs(g - kc) <= g * tolerance:
            break
        kc = 2 * mpmath.sqrt(e)
        e = kc * em
    return mpmath.pi / 2 * (b + a * em) / (em * (em + p))


def relative_error(value, reference):
    return abs(float((value - reference) / reference))
