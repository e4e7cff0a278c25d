"""Computes the reference magnifications of the accuracy atlas once, into docs/atlas/truths.json.

    nice .venv/bin/python docs/atlas/make_truths.py       # about three minutes on two cores

Every truth is evaluated in mpmath at the exact double inputs that the atlas hands to caldrith
(re = 1, rstar = rho, so u = l * rho in Einstein radii and c = 1 / rho in stellar radii):

- uniform disk: the Witt-Mao closed form (lensing_references.uniform_disk) at enough digits to
  outlast its cancellation far from the star and for tiny stars, 40 + 2 log10(l) + 2 log10(1/rho)
  (at least 40); where that would exceed 120 digits (l * max(1, 1/rho) beyond 1e40), the ring-by-ring
  quadrature below with a uniform profile instead;
- thin ring: the mean point-lens magnification over the ring in closed form, written with one
  Bulirsch complete elliptic integral whose arguments p = 1 - n and kc^2 = 1 - m are formed
  from r - l directly, so the ring through the lens costs no digits (30 digits);
- limb-darkened star (linear law, coefficient 0.6) and the sampled profile: the integral over
  the disk of the profile times the point-lens magnification, taken ring by ring as a quadrature
  in the radius t of the closed-form ring mean, split at t = l and at the profile's kinks
  (30 digits);
- the discrete flux map: the weighted sum of the closed-form ring means of its rings.

mpmath's exponents are unbounded, so none of these overflows out to l = 1e300; far from the star the
ring means are the point-lens magnification to within (1/l)^2 relative, which 30 digits resolve
wherever it matters to a double.

Before writing, a few truths of each kind, l = 1e300 and rho = 1e-8 among them, are checked
against the direct quadratures of tests/python/lensing_references.py (point-lens magnification
averaged over the ring or disk, no elliptic integral), and the closed form at up to 116 digits
against the rings; the run stops if any disagrees by more than 1e-16 relative, and stores the
largest difference as "cross_check".
Truths are stored as decimal strings of 25 significant digits; grid points as doubles (repr).
"""

import json
import math
import multiprocessing
import pathlib
import sys
import time

import mpmath

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent.parent / "tests" / "python"))
import lensing_references  # noqa: E402

OUTPUT = HERE / "truths.json"
DIGITS = 25

# Stellar radii in Einstein radii.
RHOS = [1e-8, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 0.1, 1.0, 10.0, 1e3]

# Distances from the lens to the star's centre, in stellar radii: the centre, the inside, both
# sides of the limb from 1e-7 to 1e-1 away, far outside, and (a light curve's baseline) beyond, out
# to the largest powers of ten whose products with every rho stay doubles.
CENTRE = [0.0, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 3e-3, 1e-2]
INSIDE = [0.03, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.87]
LIMB_OFFSETS = [1e-7, 3e-7, 1e-6, 3e-6, 1e-5, 3e-5, 1e-4, 3e-4, 5e-4, 1e-3, 2e-3, 5e-3, 1e-2, 3e-2, 1e-1]
FAR = [1.15, 1.3, 1.5, 2.0, 3.0, 5.0, 10.0, 30.0, 100.0, 300.0, 1e3,
       1e4, 1e5, 1e6, 1e8, 1e10, 1e15, 1e30, 1e100, 1e155, 1e200, 1e300]
POSITIONS = sorted(
    set(CENTRE + INSIDE + [1.0] + [1.0 - d for d in LIMB_OFFSETS] + [1.0 + d for d in LIMB_OFFSETS] + FAR)
)

# Thin rings: the limb ring r = 1 over the positions above (except l = 1, the ring through the lens,
# where the mean is infinite), and a ring r = 0.3 approached from both sides, with offsets around the
# kernel's near-ring threshold 1e-5.
RING_OFFSETS = [1e-7, 1e-6, 5e-6, 9e-6, 1.1e-5, 2e-5, 1e-4, 1e-3, 1e-2, 1e-1]
RINGS = [
    *((l, 1.0) for l in sorted(set(POSITIONS + [1.0 - d for d in RING_OFFSETS] + [1.0 + d for d in RING_OFFSETS])) if l != 1.0),
    *((l, 0.3) for l in sorted(set([0.0, 1e-8, 1e-4, 1e-2, 0.5, 1.0, 2.0, 10.0, 1e3, 1e6, 1e300]
                                   + [0.3 - d for d in RING_OFFSETS] + [0.3 + d for d in RING_OFFSETS]))),
]

# A sampled brightness profile with two kinks inside the star (the README's example).
SAMPLED = {"bl": [0.0, 0.5, 0.9, 1.0], "bf": [1.0, 0.9, 0.6, 0.4]}

# Ten rings weighted by the limb-darkened flux of the annulus each stands for, weights summing to 1
# (to rounding; the truth takes the weights exactly as stored).
_RADII = [(j + 0.5) / 10 for j in range(10)]
_WEIGHTS = [t * (1 - 0.6 * (1 - math.sqrt(1 - t * t))) for t in _RADII]
DISCRETE = {"bl": _RADII, "bf": [w / sum(_WEIGHTS) for w in _WEIGHTS]}


def ring_mean(l, r, c):
    """The mean point-lens magnification over the ring of radius r whose centre lies l from the lens
    (l, r >= 0, l != r; lengths in stellar radii, c the Einstein radius):
    2 / (pi s sqrt(4c^2 + g^2)) [2c^2 K(m) + g^2 Pi(n, m)], s = l + r, g = r - l,
    with 1 - n = g^2 / s^2 and 1 - m = g^2 (4c^2 + s^2) / (s^2 (4c^2 + g^2)) formed without cancellation,
    and 2c^2 K + g^2 Pi = cel(kc, 1 - n, 2c^2 + g^2, 2c^2 (1 - n) + g^2)."""
    s, g = l + r, r - l
    g2, s2, c2 = g * g, s * s, c * c
    q = 4 * c2 + g2
    p = g2 / s2
    kc = mpmath.sqrt(g2 * (4 * c2 + s2) / (s2 * q))
    bracket = lensing_references.cel(kc, p, 2 * c2 + g2, 2 * c2 * p + g2)
    return 2 * bracket / (mpmath.pi * s * mpmath.sqrt(q))


def disk_mean(l, rho, profile, kinks):
    """(1/N) * integral over t in [0, 1] of I(t) 2 pi t ring_mean(l, t, c) dt, N the same without the ring
    mean; split at t = l (the ring through the lens, a logarithmic singularity) and at the kinks."""
    l, c = mpmath.mpf(l), einstein_radius(rho)
    points = sorted({mpmath.mpf(0), mpmath.mpf(1), *(mpmath.mpf(k) for k in kinks), *([l] if 0 < l < 1 else [])})
    flux = mpmath.quad(lambda t: profile(t) * t, points)

    def magnified_ring(t):
        # A node that rounds onto the ring through the lens meets the (integrable) logarithmic
        # singularity; its weight is below the working precision, so it counts as 0.
        return profile(t) * t * ring_mean(l, t, c) if t != l else mpmath.mpf(0)

    magnified = mpmath.quad(magnified_ring, points)
    return magnified / flux


def _disk_truths(task):
    """The uniform-disk and both profile-weighted truths at one grid point (the expensive part, run
    in a worker)."""
    rho, l = task
    uniform = mpmath.nstr(uniform_truth(l, rho), DIGITS)
    with mpmath.workdps(30):
        sampled = lensing_references.sampled_profile(SAMPLED["bl"], SAMPLED["bf"])
        kinks = [b for b in SAMPLED["bl"] if 0 < b < 1]
        return (
            uniform,
            mpmath.nstr(disk_mean(l, rho, lensing_references.limb_darkening, []), DIGITS),
            mpmath.nstr(disk_mean(l, rho, sampled, kinks), DIGITS),
        )


def einstein_radius(rho):
    """c = 1 / rho, the Einstein radius in stellar radii, to 30 digits (or the working precision if higher)."""
    with mpmath.workdps(max(30, mpmath.mp.dps)):
        return 1 / mpmath.mpf(rho)


# The most digits the closed form is given; beyond, the uniform disk is integrated ring by ring.
CLOSED_FORM_DIGITS = 120


def closed_form_digits(l, rho):
    """The digits the Witt-Mao closed form needs at l, rho: its terms cancel as about (l / rho)^2."""
    return int(40 + 2 * math.log10(max(l, 1.0)) + 2 * math.log10(max(1.0 / rho, 1.0)))


def uniform_closed_form(l, rho):
    with mpmath.workdps(40):  # u = l * rho exactly (the product of two doubles has 106 bits)
        u = mpmath.mpf(l) * mpmath.mpf(rho)
    return lensing_references.uniform_disk(u, rho, dps=closed_form_digits(l, rho))


def uniform_truth(l, rho):
    if closed_form_digits(l, rho) <= CLOSED_FORM_DIGITS:
        return uniform_closed_form(l, rho)
    with mpmath.workdps(30):
        return disk_mean(l, rho, lambda t: mpmath.mpf(1), [])


def ring_truth(l, r, rho):
    with mpmath.workdps(30):
        return ring_mean(mpmath.mpf(l), mpmath.mpf(r), einstein_radius(rho))


def discrete_truth(l, rho):
    with mpmath.workdps(30):
        return sum(mpmath.mpf(w) * ring_mean(mpmath.mpf(l), mpmath.mpf(b), einstein_radius(rho))
                   for b, w in zip(DISCRETE["bl"], DISCRETE["bf"]))


def _agree(name, value, reference, tolerance=1e-16):
    """The relative difference of a truth from its reference; stops the run if above the tolerance."""
    with mpmath.workdps(30):
        error = float(abs((value - reference) / reference))
    print(f"  {name}: {mpmath.nstr(reference, 20)}  relative difference {error:.1e}", flush=True)
    if not error <= tolerance:
        raise SystemExit(f"cross-check failed: {name}")
    return error


def cross_check():
    """A few truths of each kind against the direct quadratures of lensing_references, among them
    the largest distance, the smallest star and, for the uniform disk, the closed form at its most
    digits against the rings."""
    print("cross-checks against direct quadrature of the point-lens magnification:", flush=True)
    differences = []
    for l, r, rho in [(2.0, 0.7, 0.5), (0.3 + 1e-7, 0.3, 0.01), (1.0 - 1e-5, 1.0, 1e3), (1e-8, 1.0, 1e-6),
                      (0.0, 0.3, 10.0), (1.0 + 1e-3, 1.0, 1e-8), (1e8, 1.0, 1e-8), (1e300, 1.0, 1e3),
                      (1e300, 0.3, 1e-8)]:
        differences.append(_agree(f"ring l={l!r} r={r!r} rho={rho!r}", ring_truth(l, r, rho),
                                  lensing_references.ring_average(l, r, einstein_radius(rho))))
    for l, rho in [(0.5, 0.1), (1.0 + 1e-4, 1.0), (1.0 + 1e-7, 1e-2), (0.5, 1e-8), (1.0 - 1e-7, 1e-8), (1.0 - 2e-3, 1e-8),
                   (1e8, 1e-8), (1e15, 1e-8), (1e30, 1e-8), (1e15, 1.0)]:
        with mpmath.workdps(30):
            uniform = disk_mean(l, rho, lambda t: mpmath.mpf(1), [])
        differences.append(_agree(f"uniform disk by rings l={l!r} rho={rho!r} ({closed_form_digits(l, rho)} digits)",
                                  uniform, uniform_closed_form(l, rho)))
    for l, rho in [(1e300, 1e-3), (1e100, 1e3)]:
        differences.append(_agree(f"uniform disk l={l!r} rho={rho!r} by rings and direct quadrature",
                                  uniform_truth(l, rho), lensing_references.disk_average(l, rho, lambda t: 1, dps=30)))
    for l, rho in [(0.5, 0.1), (1.0 - 1e-3, 1e-2), (1e8, 1e-8), (1e300, 1e-3)]:
        _, limb, sampled = (mpmath.mpf(x) for x in _disk_truths((rho, l)))
        differences.append(_agree(f"limb-darkened l={l!r} rho={rho!r}", limb,
                                  lensing_references.limb_darkened_average(l, rho)))
        differences.append(_agree(f"sampled profile l={l!r} rho={rho!r}", sampled,
                                  lensing_references.sampled_average(l, rho, tuple(SAMPLED["bl"]), tuple(SAMPLED["bf"]))))
    for l, rho in [(0.52, 0.1), (1e300, 1e-8)]:
        with mpmath.workdps(30):
            direct = sum(mpmath.mpf(w) * lensing_references.ring_average(l, b, einstein_radius(rho))
                         for b, w in zip(DISCRETE["bl"], DISCRETE["bf"]))
        differences.append(_agree(f"discrete rings l={l!r} rho={rho!r}", discrete_truth(l, rho), direct))
    return max(differences)


def main():
    start = time.monotonic()
    agreement = cross_check()
    print(f"cross-checks done in {time.monotonic() - start:.0f} s", flush=True)

    tasks = [(rho, l) for rho in RHOS for l in POSITIONS]
    with multiprocessing.Pool(2) as pool:
        disks = pool.map(_disk_truths, tasks, chunksize=4)
    print(f"uniform-disk and profile truths done in {time.monotonic() - start:.0f} s", flush=True)

    disk_rows = [
        {
            "rho": rho,
            "l": l,
            "uniform": uniform,
            "limb_darkened": limb,
            "sampled": sampled,
            "discrete": mpmath.nstr(discrete_truth(l, rho), DIGITS),
        }
        for (rho, l), (uniform, limb, sampled) in zip(tasks, disks)
    ]
    ring_rows = [
        {"rho": rho, "l": l, "r": r, "ring": mpmath.nstr(ring_truth(l, r, rho), DIGITS)}
        for rho in RHOS
        for l, r in RINGS
    ]
    data = {
        "about": "Reference magnifications for the accuracy atlas, made by docs/atlas/make_truths.py. "
                 "Inputs: re = 1, rstar = rho; positions l in stellar radii.",
        "cross_check": f"{agreement:.1e}",  # the largest relative difference of the cross-checks
        "sampled_profile": SAMPLED,
        "discrete_profile": DISCRETE,
        "disk": disk_rows,
        "ring": ring_rows,
    }
    OUTPUT.write_text(json.dumps(data, indent=0) + "\n")
    print(f"wrote {len(disk_rows)} disk and {len(ring_rows)} ring points to {OUTPUT} "
          f"in {time.monotonic() - start:.0f} s", flush=True)


if __name__ == "__main__":
    main()
