"""Speed of the batch (vector) kernels: the scalar path against every vector path.

Prints, in one run:
  - kernel ns per evaluation, scalar against each vector path (the C++ program bench_kernels,
    built with the C++ tests by scripts/run_tests.sh);
  - per path, the figures of the speed goals: witt_mao_magnification ns per position on one worker
    (10^6 positions, l uniform in [0, 3], rho = 0.05), and us per position of the limb-darkened and
    flux-map functions (positions evenly over [0, 3], rho = 0.05, a 20-sample limb-darkening profile);
  - the speed-up of witt_mao_magnification with two workers over one, on the process's own path;
  - the calling thread's serial share: converting l and building the result list, per position.

Each path runs in its own interpreter (CALDRITH_SIMD names it; RAYON_NUM_THREADS sizes the pool).
Times are the fastest of a few calls: wall clock, and the process's processor time (all threads),
which a shared machine disturbs less.

Run from the repository root: .venv/bin/python bench/batch.py
"""

import json
import math
import os
import pathlib
import random
import subprocess
import sys
import time

import caldrith

ROOT = pathlib.Path(__file__).resolve().parent.parent
KERNEL_BENCH = ROOT / "build" / "cpp-tests" / "bench_kernels"
PATHS = ["scalar", "sse2", "avx2", "avx512"]
RE = 1.0
RSTAR = 0.05
LARGE = 10**6
REPEATS = 3
INTEGRATED_POSITIONS = [3.0 * k / 199 for k in range(200)]
SAMPLES = 20


def fastest(call, repeats=REPEATS):
    """Fastest wall and processor time (s) of `repeats` calls."""
    call()  # warm-up (and the pool's build)
    wall = cpu = math.inf
    for _ in range(repeats):
        w0, c0 = time.perf_counter(), time.process_time()
        call()
        wall = min(wall, time.perf_counter() - w0)
        cpu = min(cpu, time.process_time() - c0)
    return wall, cpu


def profile_samples():
    bl = [math.sin(math.pi * k / (2 * (SAMPLES - 1))) for k in range(SAMPLES)]
    return bl, [1 - 0.6 * (1 - math.sqrt(1 - t * t)) for t in bl]


def measure():
    """Child interpreter: the figures of one path and pool size, as JSON."""
    generator = random.Random(1)
    l = [generator.uniform(0.0, 3.0) for _ in range(LARGE)]
    figures = {}
    wall, cpu = fastest(lambda: caldrith.witt_mao_magnification(l, RE, RSTAR))
    figures["witt_mao_magnification"] = (wall / LARGE * 1e9, cpu / LARGE * 1e9)
    # Converting l and building a list of len(l) floats, and nothing else: the flux map with an
    # empty profile computes nothing.
    wall, cpu = fastest(lambda: caldrith.discrete_flux_map_heyrovsky_magnification(l, RE, RSTAR, [], []))
    figures["serial"] = (wall / LARGE * 1e9, cpu / LARGE * 1e9)
    if os.environ.get("RAYON_NUM_THREADS") == "1":
        positions = INTEGRATED_POSITIONS
        bl, bf = profile_samples()
        calls = {
            "integrated_witt_mao_magnification": lambda: caldrith.integrated_witt_mao_magnification(
                positions, RE, RSTAR
            ),
            "integrated_heyrovsky_magnification": lambda: caldrith.integrated_heyrovsky_magnification(
                positions, RE, RSTAR
            ),
            "integrated_flux_map_witt_mao_magnification": lambda: (
                caldrith.integrated_flux_map_witt_mao_magnification(positions, RE, RSTAR, bl, bf)
            ),
            "integrated_flux_map_heyrovsky_magnification": lambda: (
                caldrith.integrated_flux_map_heyrovsky_magnification(positions, RE, RSTAR, bl, bf)
            ),
            "discrete_flux_map_heyrovsky_magnification": lambda: (
                caldrith.discrete_flux_map_heyrovsky_magnification(positions, RE, RSTAR, bl, bf)
            ),
        }
        for name, call in calls.items():
            wall, cpu = fastest(call, repeats=2)
            figures[name] = (wall / len(positions) * 1e6, cpu / len(positions) * 1e6)
    print(json.dumps(figures))


def run_child(path, workers):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    if path is None:
        env.pop("CALDRITH_SIMD", None)
    else:
        env["CALDRITH_SIMD"] = path
    completed = subprocess.run(
        [sys.executable, __file__, "--measure"], env=env, capture_output=True, text=True, check=True
    )
    return json.loads(completed.stdout)


def kernel_table():
    if not KERNEL_BENCH.exists():
        print(f"(no {KERNEL_BENCH.relative_to(ROOT)}: run scripts/run_tests.sh first to build it)\n")
        return
    print(subprocess.run([str(KERNEL_BENCH)], capture_output=True, text=True, check=True).stdout)


def main():
    if sys.argv[1:] == ["--measure"]:
        measure()
        return
    print(f"CPUs available: {len(os.sched_getaffinity(0))}, load average: {os.getloadavg()[0]:.2f}\n")
    kernel_table()

    results = {}
    for path in PATHS:
        try:
            results[path] = run_child(path, 1)
        except subprocess.CalledProcessError as failure:
            print(f"{path}: failed: {failure.stderr.strip()}")
    # A path this processor cannot run falls back to the widest runnable one: such columns repeat it.
    units = {"witt_mao_magnification": "ns", "serial": "ns"}
    names = list(next(iter(results.values())))
    for index, clock in ((1, "processor time (all threads)"), (0, "wall clock")):
        print(f"Goal figures on one worker, per path, {clock}; per position:")
        print(f"  {'function':46s} {'unit':>4s}" + "".join(f"{path:>10s}" for path in results))
        for name in names:
            row = "".join(f"{results[path][name][index]:10.1f}" for path in results)
            print(f"  {name:46s} {units.get(name, 'us'):>4s}{row}")
        print()
    print("  goals: witt_mao_magnification <= 130 ns; integrated_witt_mao_magnification and")
    print("  integrated_heyrovsky_magnification <= 40 us. serial: the calling thread's share,")
    print("  converting l and building the result list (a flux map with an empty profile).\n")

    one = results.get("avx512") or results[list(results)[-1]]
    two = run_child(None, 2)
    own = run_child(None, 1)
    print("witt_mao_magnification, 10^6 positions, the process's own path:")
    print(f"  T = 1: {own['witt_mao_magnification'][0]:7.1f} ns/position (wall)")
    print(f"  T = 2: {two['witt_mao_magnification'][0]:7.1f} ns/position (wall)")
    print(f"  speed-up of T = 2 over T = 1: {own['witt_mao_magnification'][0] / two['witt_mao_magnification'][0]:.2f}")
    busy = two["witt_mao_magnification"][1] / two["witt_mao_magnification"][0]
    print(f"  processor time / wall time at T = 2: {busy:.2f} (near 1: the workers did not run at once,")
    print("  other load held the second CPU; the speed-up needs that ratio near 2 minus the serial share)")
    print(f"  serial share (calling thread): {one['serial'][0]:.1f} ns/position")


if __name__ == "__main__":
    main()
