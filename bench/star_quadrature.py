"""Speed of caldrith_ld's quadrature route (power-2 at every rho, every law for rho > 0.1).

Prints the table of the C++ program bench_star_quadrature (built with the C++ tests by
scripts/run_tests.sh): per law and stellar radius, nanoseconds per position on one core for positions
evenly spread over a band of l = u/rho (the route serves l < 1.6; beyond, the far-field series), the
value alone and with its gradient (dA/du, dA/drho and the derivatives in the law's coefficients), their
ratio, and the mean number of ring means (quadrature nodes) per position. Goals: 1 us per position
for stars larger than 0.1 (rho = 0.3, 1, 10); the gradient within twice the value.

Times are the calling thread's processor time, fastest of seven runs of 2000 positions.

Run from the repository root: .venv/bin/python bench/star_quadrature.py
"""

import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
PROGRAM = ROOT / "build" / "cpp-tests" / "bench_star_quadrature"

if __name__ == "__main__":
    if not PROGRAM.exists():
        sys.exit(f"{PROGRAM.relative_to(ROOT)} is missing: scripts/run_tests.sh builds it")
    print("caldrith_ld's quadrature route, ns per position on one core (value, with gradient):")
    print(subprocess.run([str(PROGRAM)], capture_output=True, text=True, check=True).stdout, end="")
