"""Uniform-disk magnification of a few stars across a range of separations.

Prints one row per lens-source separation (in stellar radii) and one column
per stellar radius rho (in Einstein radii).
"""

import caldrith

RHOS = [0.01, 0.1, 0.5, 1.0]
SEPARATIONS = [0.0, 0.25, 0.5, 0.9, 1.0, 1.1, 2.0, 5.0, 20.0]


def main() -> None:
    einstein_radius = 1.0
    stellar_radii = [rho * einstein_radius for rho in RHOS]
    columns = caldrith.multi_witt_mao_magnification(SEPARATIONS, [einstein_radius], stellar_radii)
    print("uniform-disk magnification (rows: separation / stellar radius; columns: rho)")
    print(f"{'l':>6} " + " ".join(f"{f'rho={rho}':>12}" for rho in RHOS))
    for row, separation in enumerate(SEPARATIONS):
        print(f"{separation:>6} " + " ".join(f"{column[row]:>12.6f}" for column in columns))


if __name__ == "__main__":
    main()
