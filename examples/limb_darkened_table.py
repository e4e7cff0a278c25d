"""A limb-darkened star crossing the lens: its magnification at a dozen times against a uniform
disk's (caldrith_ld, on any CPython from 3.11).

A star of rho = 0.01 Einstein radii with the quadratic law I(mu) = 1 - 0.4 (1 - mu) - 0.25 (1 - mu)^2,
the lens passing u0 = 0.004 from its centre (inside the star) at t0 = 0, tE = 20 days: the lens
crosses the limb at |t| = tE sqrt(rho^2 - u0^2) = 0.183 d. Inside, the darkened limb leaves the
centre brighter than the disk's mean, so the limb-darkened magnification is higher; near the limb
and beyond, lower.
"""

import numpy as np

import caldrith_ld as ld

T0, U0, TE, RHO = 0.0, 0.004, 20.0, 0.01
LAW = ld.Quadratic(0.4, 0.25)
TIMES = np.array([0.0, 0.05, 0.1, 0.15, 0.17, 0.18, 0.183, 0.186, 0.19, 0.2, 0.3, 1.0])


def main() -> None:
    separations = np.hypot(U0, (TIMES - T0) / TE)
    uniform = ld.light_curve(TIMES, T0, U0, TE, RHO)
    darkened = ld.light_curve(TIMES, T0, U0, TE, RHO, LAW)
    print(f"rho = {RHO}, u0 = {U0}, tE = {TE} d; law {LAW}")
    print(f"{'t (d)':>7} {'u / rho':>8} {'uniform':>10} {'quadratic':>10} {'difference':>10}")
    for t, u, a, b in zip(TIMES, separations, uniform, darkened):
        print(f"{t:>7.3f} {u / RHO:>8.4f} {a:>10.4f} {b:>10.4f} {b / a - 1:>+10.2%}")


if __name__ == "__main__":
    main()
