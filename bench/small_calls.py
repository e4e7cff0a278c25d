"""Cost of witt_mao_magnification and multi_witt_mao_magnification against the length of the list.

Prints, for pools of 1 and 2 workers (each measured in its own interpreter, the pool's size fixed
by RAYON_NUM_THREADS when the first call builds it; the interpreters take turns for a few rounds
and the fastest figures are kept):
  - the time per call for 1 to 10^5 positions (l uniform in [0, 3], rho = 0.05), calls back to back;
  - each call's cost beyond its work, the work being n times the per-position cost of a call of
    10^5 positions on one worker, and whether 2 to 100 positions keep within 2 us of their work;
  - the shortest list from which two workers beat one;
  - the break-even of the pool's hand-off measured in C++ (build/cpp-tests/bench_pool_hand_off,
    built by scripts/run_tests.sh), which sets the work below which a map stays on the calling
    thread.

Run from the repository root: .venv/bin/python bench/small_calls.py
"""

import json
import os
import pathlib
import random
import subprocess
import sys
import time

import caldrith

ROOT = pathlib.Path(__file__).resolve().parent.parent
HAND_OFF_BENCH = ROOT / "build" / "cpp-tests" / "bench_pool_hand_off"
RE = 1.0
RSTAR = 0.05
WORKER_COUNTS = [1, 2]
ROUNDS = 3
SIZES = [1, 2, 3, 5, 10, 20, 50, 100, 200, 300, 500, 1000, 2000, 5000, 10**4, 10**5]
LONG = SIZES[-1]
POSITIONS_PER_BATCH = 20000  # a timed batch of calls covers about this many positions
BATCHES = 15
GOAL_SIZES = range(2, 101)
GOAL_US = 2.0
# multi_witt_mao_magnification: two stars at each position.
MULTI_RE = [1.0]
MULTI_RSTAR = [0.05, 0.1]


def positions(count):
    generator = random.Random(count)
    return [generator.uniform(0.0, 3.0) for _ in range(count)]


def fastest_per_call(call, size):
    """Fastest time per call (us) over BATCHES batches of back-to-back calls."""
    calls = max(1, POSITIONS_PER_BATCH // size)
    best = float("inf")
    for _ in range(BATCHES):
        start = time.perf_counter_ns()
        for _ in range(calls):
            call()
        best = min(best, (time.perf_counter_ns() - start) / calls / 1000)
    return best


def measure():
    """Runs in a child interpreter whose pool size is set by RAYON_NUM_THREADS."""
    caldrith.witt_mao_magnification([], RE, RSTAR)  # builds the pool
    single, multi = {}, {}
    for size in SIZES:
        l = positions(size)
        single[size] = fastest_per_call(lambda: caldrith.witt_mao_magnification(l, RE, RSTAR), size)
        multi[size] = fastest_per_call(
            lambda: caldrith.multi_witt_mao_magnification(l, MULTI_RE, MULTI_RSTAR), size * len(MULTI_RSTAR)
        )
    print(json.dumps({"single": single, "multi": multi}))


def run_child(workers):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    completed = subprocess.run(
        [sys.executable, __file__, "--measure"], env=env, capture_output=True, text=True, check=True
    )
    return {name: {int(n): t for n, t in curve.items()} for name, curve in json.loads(completed.stdout).items()}


def fastest_of(rounds):
    """Merges the rounds of one pool size: the fastest time per call of each function and size."""
    return {name: {n: min(r[name][n] for r in rounds) for n in SIZES} for name in rounds[0]}


def report(name, curves, positions_per_call):
    """The curve of one function for both pool sizes, its excess over the work and the goal's check."""
    one, two = curves[1], curves[2]
    work = {workers: curves[workers][LONG] / LONG for workers in WORKER_COUNTS}
    print(f"{name}, {positions_per_call} magnification(s) per position, microseconds per call:")
    print(f"  per position in a call of {LONG}: T = 1 {work[1] * 1000:.1f} ns, T = 2 {work[2] * 1000:.1f} ns")
    print("       n       T = 1       T = 2   T=1 - work   T=2 - work")
    for n in SIZES:
        print(
            f"  {n:6d}  {one[n]:10.2f}  {two[n]:10.2f}   {one[n] - n * work[1]:10.2f}   {two[n] - n * work[1]:10.2f}"
        )
    measured = [n for n in SIZES if n in GOAL_SIZES]
    worst = {workers: max(curves[workers][n] - n * work[1] for n in measured) for workers in WORKER_COUNTS}
    for workers in WORKER_COUNTS:
        verdict = "met" if worst[workers] <= GOAL_US else "missed"
        print(
            f"  T = {workers}, 2 to 100 positions: at most {worst[workers]:.2f} us beyond the work "
            f"(goal {GOAL_US:g} us): {verdict}"
        )
    faster = [n for n in SIZES if two[n] < one[n]]
    from_n = next((n for n in SIZES if all(two[m] < one[m] for m in SIZES if m >= n)), None)
    if from_n is None:
        print(f"  two workers beat one at no length from some n on (faster at: {faster})\n")
    else:
        print(f"  two workers beat one from n = {from_n} on\n")


def main():
    if sys.argv[1:] == ["--measure"]:
        measure()
        return
    print(f"l uniform in [0, 3], re = {RE}, rstar = {RSTAR}; calls back to back, fastest of {ROUNDS} interpreters")
    print(f"CPUs available: {len(os.sched_getaffinity(0))}, load average before: {os.getloadavg()[0]:.2f}")
    rounds = {workers: [] for workers in WORKER_COUNTS}
    for _ in range(ROUNDS):
        for workers in WORKER_COUNTS:
            rounds[workers].append(run_child(workers))
    print(f"load average after: {os.getloadavg()[0]:.2f}\n")
    merged = {workers: fastest_of(results) for workers, results in rounds.items()}
    print("work = n x the per-position time of a call of 10^5 positions on one worker\n")
    report("witt_mao_magnification", {w: merged[w]["single"] for w in WORKER_COUNTS}, 1)
    report("multi_witt_mao_magnification", {w: merged[w]["multi"] for w in WORKER_COUNTS}, len(MULTI_RSTAR))

    if HAND_OFF_BENCH.exists():
        print(subprocess.run([str(HAND_OFF_BENCH)], capture_output=True, text=True, check=True).stdout)
    else:
        print(f"(no {HAND_OFF_BENCH.relative_to(ROOT)}: run scripts/run_tests.sh first to build it)")


if __name__ == "__main__":
    main()
