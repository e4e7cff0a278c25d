"""Speed of the profile-integrated and flux-map functions, which run on the calling thread.

Prints positions per second (best and median of a few calls) of the two limb-darkened functions and
the three flux-map functions, for 1,000 positions spread evenly over [0, 3] stellar radii, rho = 0.05,
and a 20-sample profile (the limb-darkening law at radii denser towards the limb). The integrated
functions cost one quadrature of up to 385 integrand evaluations per position (two for a lens inside
the star with the thin-ring kernel); the discrete sum costs one thin-ring evaluation per sample.

Run from the repository root: .venv/bin/python bench/integrated.py
"""

import math
import os
import statistics
import time

import caldrith

RE = 1.0
RSTAR = 0.05
POSITIONS = [3.0 * k / 999 for k in range(1000)]
SAMPLES = 20
REPEATS = 5


def limb_darkening_samples(count):
    bl = [math.sin(math.pi * k / (2 * (count - 1))) for k in range(count)]
    return bl, [1 - 0.6 * (1 - math.sqrt(1 - t * t)) for t in bl]


def positions_per_second(call):
    call()  # warm-up
    rates = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        call()
        rates.append(len(POSITIONS) / (time.perf_counter() - start))
    return max(rates), statistics.median(rates)


def main():
    bl, bf = limb_darkening_samples(SAMPLES)
    calls = {
        "integrated_witt_mao_magnification": lambda: caldrith.integrated_witt_mao_magnification(POSITIONS, RE, RSTAR),
        "integrated_heyrovsky_magnification": lambda: caldrith.integrated_heyrovsky_magnification(
            POSITIONS, RE, RSTAR
        ),
        "integrated_flux_map_witt_mao_magnification": lambda: caldrith.integrated_flux_map_witt_mao_magnification(
            POSITIONS, RE, RSTAR, bl, bf
        ),
        "integrated_flux_map_heyrovsky_magnification": lambda: caldrith.integrated_flux_map_heyrovsky_magnification(
            POSITIONS, RE, RSTAR, bl, bf
        ),
        "discrete_flux_map_heyrovsky_magnification": lambda: caldrith.discrete_flux_map_heyrovsky_magnification(
            POSITIONS, RE, RSTAR, bl, bf
        ),
    }
    print(f"{len(POSITIONS)} positions evenly over [0, 3] stellar radii, rho = {RSTAR / RE}, {SAMPLES}-sample profile")
    print(f"load average: {os.getloadavg()[0]:.2f}; best / median of {REPEATS} calls, calling thread only\n")
    print(f"  {'function':46s} {'positions/s':>12s} {'median':>12s} {'us/position':>12s}")
    for name, call in calls.items():
        best, median = positions_per_second(call)
        print(f"  {name:46s} {best:12.0f} {median:12.0f} {1e6 / best:12.1f}")


if __name__ == "__main__":
    main()
