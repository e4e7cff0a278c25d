"""Speed of witt_mao_magnification on the worker pool.

Prints, for pools of 1 and 2 workers (each measured in its own interpreter, the pool's size
being fixed by RAYON_NUM_THREADS when the first parallel call builds it):
  - nanoseconds per element for 10^6 positions (l uniform in [0, 3], rho = 0.05) and the speed-up;
  - for lists of 1, 10, 100 and 1000 elements, the time per call and its overhead against
    evaluating the same elements on the calling thread (where calls of one worker, and lists of
    less work than the pool's hand-off, are evaluated: bench/small_calls.py).

The interpreters for 1 and 2 workers take turns for a few rounds, and timings are the fastest
seen (medians where stated), so that other load on the machine disturbs the figures less.

Run from the repository root: .venv/bin/python bench/uniform_disk.py
"""

import json
import os
import random
import statistics
import subprocess
import sys
import time

import caldrith

RE = 1.0
RSTAR = 0.05
TRIVIAL_RSTAR = 0.0  # a point source at u = 0: the kernel costs a few operations per element
WORKER_COUNTS = [1, 2]
ROUNDS = 2
LARGE = 10**6
LARGE_REPEATS = 4
SMALL_SIZES = [1, 10, 100, 1000]
ELEMENTS_PER_BATCH = 10000  # a timed batch of calls covers this many elements, a few milliseconds
BATCHES = 12
IDLE_SECONDS = 0.002  # long enough for the workers to go to sleep between calls
IDLE_CALLS = 100


def positions(count, seed):
    generator = random.Random(seed)
    return [generator.uniform(0.0, 3.0) for _ in range(count)]


def witt_mao_calls(lists, rstar=RSTAR):
    return caldrith.witt_mao_magnification, [(l, RE, rstar) for l in lists]


def boundary_calls(lists):
    """The same lists through a calling-thread list function that, with an empty profile,
    evaluates nothing: it binds, converts l and builds a list of len(l) floats."""
    function = caldrith.discrete_flux_map_heyrovsky_magnification
    return function, [(l, RE, RSTAR, [], []) for l in lists]


def fastest_per_call(workloads):
    """Fastest time per call (ns) of each workload {name: (function, argument tuples)}; the
    workloads take turns batch by batch, so that a burst of outside load hits them alike."""
    best = dict.fromkeys(workloads, float("inf"))
    for _ in range(BATCHES):
        for name, (function, calls) in workloads.items():
            start = time.perf_counter_ns()
            for arguments in calls:
                function(*arguments)
            best[name] = min(best[name], (time.perf_counter_ns() - start) / len(calls))
    return best


def idle_call_times(l):
    """Times (ns) of single calls, each made after the workers have had time to fall asleep."""
    times = []
    for _ in range(IDLE_CALLS):
        time.sleep(IDLE_SECONDS)
        start = time.perf_counter_ns()
        caldrith.witt_mao_magnification(l, RE, RSTAR)
        times.append(time.perf_counter_ns() - start)
    return times


def measure_large():
    l = positions(LARGE, seed=1)
    caldrith.witt_mao_magnification(l, RE, RSTAR)  # builds the pool
    times = []
    for _ in range(LARGE_REPEATS):
        start = time.perf_counter_ns()
        caldrith.witt_mao_magnification(l, RE, RSTAR)
        times.append((time.perf_counter_ns() - start) / LARGE)
    return times


def measure_small(size):
    """Raw timings (ns per call) for lists of one size, with the realistic and the trivial kernel."""
    l = positions(size, seed=size)
    repeats = max(1, ELEMENTS_PER_BATCH // size)
    singles = [[x] for x in l] * repeats
    empties = [[] for _ in singles]
    timings = fastest_per_call(
        {
            "call": witt_mao_calls([l] * repeats),
            "single": witt_mao_calls(singles),
            "trivial_call": witt_mao_calls([l] * repeats, TRIVIAL_RSTAR),
            "trivial_single": witt_mao_calls(singles, TRIVIAL_RSTAR),
            "empty": witt_mao_calls(empties),
            "boundary": boundary_calls([l] * repeats),
            "boundary_single": boundary_calls(singles),
            "boundary_empty": boundary_calls(empties),
        }
    )
    timings["idle"] = idle_call_times(l) if size > 1 else []
    return timings


def measure():
    """Runs in a child interpreter whose pool size is set by RAYON_NUM_THREADS."""
    small = {size: measure_small(size) for size in SMALL_SIZES}
    print(json.dumps({"large": measure_large(), "small": small}))


def run_child(workers):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    env.pop("RAYON_RS_NUM_CPUS", None)
    completed = subprocess.run(
        [sys.executable, __file__, "--measure"], env=env, capture_output=True, text=True, check=True
    )
    return json.loads(completed.stdout)


def combine(rounds):
    """Merges the rounds of one pool size: all large-list times, the fastest small-list timings."""
    large = [t for result in rounds for t in result["large"]]
    small = {}
    for size in rounds[0]["small"]:
        timings = [result["small"][size] for result in rounds]
        small[int(size)] = {name: min(t[name] for t in timings) for name in timings[0] if name != "idle"}
        small[int(size)]["idle"] = [t for timing in timings for t in timing["idle"]]
    return {"large": large, "small": small}


def calling_thread_ns(size, timings, single):
    """Estimated cost of one call that evaluates its size elements on the calling thread."""
    # A one-element call runs on the calling thread; the boundary function's cost of the same
    # one-element and empty lists removes conversion, result and call costs, leaving the kernel.
    boundary_empty = timings["boundary_empty"]
    kernel = (timings[single] - timings["empty"]) - (timings["boundary_single"] - boundary_empty)
    return timings["empty"] + (timings["boundary"] - boundary_empty) + size * kernel


def microseconds(ns):
    return f"{ns / 1000:9.2f}" if ns is not None else "        -"


def report(results):
    large = {workers: results[workers]["large"] for workers in WORKER_COUNTS}
    print(f"{LARGE} positions, ns per element (fastest / median of {len(large[1])} calls):")
    for workers, times in large.items():
        print(f"  T = {workers}: {min(times):7.1f} / {statistics.median(times):7.1f}")
    print(f"  speed-up of T = 2 over T = 1 (fastest calls): {min(large[1]) / min(large[2]):.2f}")
    print("  (each includes converting l and building the result list on the calling thread)\n")

    print("Small lists, microseconds per call:")
    print("   T      n   pool call  after idle  calling thread  difference  trivial-kernel difference")
    for workers in WORKER_COUNTS:
        for size, timings in results[workers]["small"].items():
            serial = calling_thread_ns(size, timings, "single")
            trivial = timings["trivial_call"] - calling_thread_ns(size, timings, "trivial_single")
            idle = statistics.median(timings["idle"]) if timings["idle"] else None
            print(
                f"  {workers:2d} {size:6d}   {microseconds(timings['call'])}   {microseconds(idle)}"
                f"       {microseconds(serial)}   {microseconds(timings['call'] - serial)}"
                f"        {microseconds(trivial)}"
            )
    print(
        "  pool call: fastest batch of back-to-back calls; after idle: median single call after a\n"
        f"  {IDLE_SECONDS * 1000:g} ms pause (workers asleep). calling thread: empty call + converting\n"
        "  and returning n elements (discrete_flux_map_heyrovsky_magnification with an empty profile,\n"
        "  which computes nothing) + n x the kernel's time per element (one-element calls, which run on\n"
        "  the calling thread, minus the same boundary costs). difference = pool call - calling thread:\n"
        "  the pool's net cost (negative: a gain). trivial-kernel difference: the same with\n"
        f"  rstar = {TRIVIAL_RSTAR} (a few operations per element), i.e. the pool's own cost per call.\n"
        "  Lists run on the workers only with T = 2 and n >= 273 (1000 here); every other call runs\n"
        "  on the calling thread, so its differences are noise."
    )


def main():
    if sys.argv[1:] == ["--measure"]:
        measure()
        return
    print(f"witt_mao_magnification, rho = {RSTAR / RE}, l uniform in [0, 3]")
    print(f"CPUs available: {len(os.sched_getaffinity(0))}, load average before: {os.getloadavg()[0]:.2f}")
    rounds = {workers: [] for workers in WORKER_COUNTS}
    for _ in range(ROUNDS):
        for workers in WORKER_COUNTS:
            rounds[workers].append(run_child(workers))
    print(f"load average after: {os.getloadavg()[0]:.2f}\n")
    report({workers: combine(results) for workers, results in rounds.items()})


if __name__ == "__main__":
    main()
