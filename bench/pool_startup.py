"""Start-up time of the worker pool as a function of its thread count.

For each thread count T (set with RAYON_NUM_THREADS), a fresh interpreter times the first call
of witt_mao_magnification on two positions, which builds the pool of T workers (and computes on
the calling thread, two positions being less work than the hand-off), and then, on the built pool
once its workers have settled, calls of witt_mao_magnification on 1000 and 10^5 positions and of
caldrith_ld on 2000 positions on the star (fastest of a few): however many workers the pool has,
a call wakes only as many as it has chunks worth handing off, so these take about as long as on a
pool of two. Prints the fastest of a few interpreters per T, then how long a first call takes to
report a thread that the operating system refused.

Run from the repository root: .venv/bin/python bench/pool_startup.py [T ...]
"""

import json
import os
import subprocess
import sys

THREAD_COUNTS = [2, 1000, 4000, 8000]
ROUNDS = 3

CHILD = """
import json, time
import numpy as np
import caldrith
import caldrith_ld as ld
start = time.perf_counter()
caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
first = time.perf_counter() - start
start = time.perf_counter()
caldrith.witt_mao_magnification([0.5, 1.5] * 500, 1.0, 0.1)
second = time.perf_counter() - start
time.sleep(2.0)  # the workers started by the build settle (sleep)
law = ld.Quadratic(0.4, 0.25)
u = np.linspace(0.0, 0.01, 2000)
calls = [lambda: caldrith.witt_mao_magnification([0.5, 1.5] * 500, 1.0, 0.1),
         lambda: caldrith.witt_mao_magnification([0.5, 1.5] * 50000, 1.0, 0.1),
         lambda: ld.magnification(u, 0.01, law)]
settled = []
for call in calls:
    times = []
    for _ in range(5):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    settled.append(min(times))
print(json.dumps([first, second, *settled]))
"""


# The largest pool with address space for the stacks of about 2000 workers: the operating system
# refuses a thread, and the first call fails with the build error once the workers that did start
# are stopped. Its duration bounds the time from the refusal to the report.
REFUSED_CHILD = """
import json, resource, time
import caldrith
size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
limit = size * 1024 + (4 << 30)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
start = time.perf_counter()
try:
    caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
    outcome = "built"
except BaseException as error:
    outcome = str(error)
print(json.dumps([time.perf_counter() - start, outcome]))
"""


def measure(thread_count, code=CHILD):
    env = {**os.environ, "RAYON_NUM_THREADS": str(thread_count)}
    completed = subprocess.run(
        [sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True, timeout=900
    )
    return json.loads(completed.stdout)


def main():
    counts = [int(argument) for argument in sys.argv[1:]] or THREAD_COUNTS
    print("pool start-up: first call of witt_mao_magnification (2 positions), fastest of", ROUNDS)
    print("then, on the settled pool (ms): witt_mao_magnification on 1000 and 10^5 positions, caldrith_ld on 2000")
    print(f"{'threads':>8} {'first call (s)':>15} {'1000 next (ms)':>15} {'1000':>8} {'10^5':>8} {'ld 2000':>8}")
    for count in counts:
        runs = [measure(count) for _ in range(ROUNDS)]
        first, second, *settled = (min(run[k] for run in runs) for k in range(len(runs[0])))
        print(f"{count:>8} {first:>15.3f} {second * 1e3:>15.3f} " + " ".join(f"{t * 1e3:>8.2f}" for t in settled))
    runs = [measure(65535, REFUSED_CHILD) for _ in range(ROUNDS)]
    print(f"refused thread (65535 asked for, room for about 2000): first call fails after "
          f"{min(run[0] for run in runs):.3f} s (slowest {max(run[0] for run in runs):.3f} s) with")
    print(f"  {runs[0][1]}")


if __name__ == "__main__":
    main()
