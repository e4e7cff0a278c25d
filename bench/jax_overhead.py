"""The cost of calling caldrith_ld from JAX: microseconds per call of n positions (linear law, rho 0.01,
positions across the star), n = 1, 10, 1000, by route:

- ld.magnification: the numpy function (argument checks, arrays made, the core called);
- core: caldrith_ld._core.magnification on prepared arrays, the work with the least around it;
- jit: a jit-compiled caldrith_ld.jax.magnification called from Python (JAX's dispatch, XLA's
  custom call, the FFI handler, the work); overhead = jit - core;
- in XLA: one call of a jit-compiled loop of 1000 such calls, per call (the custom call and FFI
  handler without JAX's dispatch); overhead = in XLA - core;
- jit of u * 2: JAX's own dispatch of a trivial compiled function, for scale.

Needs jax (pip install .[jax]). Run: .venv/bin/python bench/jax_overhead.py
"""

from __future__ import annotations

import sys
import timeit

import numpy as np

try:
    import jax
except ImportError:
    print("jax_overhead: jax is not installed (pip install .[jax]); nothing to measure")
    sys.exit(0)

jax.config.update("jax_enable_x64", True)
import jax.numpy as jnp  # noqa: E402

import caldrith_ld as ld  # noqa: E402
import caldrith_ld.jax as ldj  # noqa: E402
from caldrith_ld import _core  # noqa: E402

RHO = 0.01
LAW = ld.Linear(0.6)
LOOP = 1000


def best_per_call(function, calls: int) -> float:
    """Microseconds per call, the best of five rounds."""
    return min(timeit.repeat(function, number=calls, repeat=5)) / calls * 1e6


def main() -> None:
    c = jnp.array([0.6])
    jitted = jax.jit(lambda u: ldj.magnification(u, RHO, ld.Linear, c))
    trivial = jax.jit(lambda u: u * 2.0)

    @jax.jit
    def looped(u):
        # Each call depends on the previous one, so that XLA neither merges nor reorders them.
        def body(_, carry):
            return carry + 1e-300 * ldj.magnification(u + carry[0] * 0.0, RHO, ld.Linear, c)

        return jax.lax.fori_loop(0, LOOP, body, jnp.zeros_like(u))

    print(f"caldrith_ld from JAX, microseconds per call (linear law, rho {RHO}, best of 5; {jax.__version__})")
    print(f"{'n':>6} {'ld.magnification':>17} {'core':>8} {'jit':>8} {'in XLA':>8} {'jit u*2':>8} "
          f"{'overhead: jit':>14} {'in XLA':>7}")
    for n in (1, 10, 1000):
        u = np.linspace(0.0, 2.0 * RHO, n)
        out = np.empty(n)
        laws = [(1, (0.6,), (), ())]
        device_u = jax.device_put(u)
        for f in (jitted, trivial, looped):
            jax.block_until_ready(f(device_u))  # compiled before timing
        calls = 20000 if n < 1000 else 500
        numpy_route = best_per_call(lambda: ld.magnification(u, RHO, LAW), calls)
        core = best_per_call(lambda: _core.magnification(u, out, RHO, laws), calls)
        jit = best_per_call(lambda: jitted(device_u).block_until_ready(), calls)
        trivial_jit = best_per_call(lambda: trivial(device_u).block_until_ready(), calls)
        in_xla = best_per_call(lambda: looped(device_u).block_until_ready(), max(1, calls // LOOP)) / LOOP
        print(f"{n:>6} {numpy_route:>17.2f} {core:>8.2f} {jit:>8.2f} {in_xla:>8.2f} {trivial_jit:>8.2f} "
              f"{jit - core:>14.2f} {in_xla - core:>7.2f}")


if __name__ == "__main__":
    main()
