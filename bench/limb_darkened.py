"""caldrith_ld against its goals: accuracy, speed on one core, two Python threads, a real fit.

Prints
  - the largest relative error against the mpmath truths of tests/data/ld_truths.json, per law and
    over all (goal: 1e-7), and by position class;
  - nanoseconds per position on one core (RAYON_NUM_THREADS=1, so that every call computes on its
    calling thread) for positions uniform in l = u/rho over [0, 1], the limb band [0.95, 1.05],
    [1, 2] and [0, 2] (goal: 2 us), and averaged over a light curve of 10^4 points over +-2 tE with
    u0 = rho = 0.01 (goal: 0.2 us), per law; the uniform disk everywhere (goal: 150 ns);
  - the throughput of two Python threads, each on its own array, against one (goal: 1.7x);
  - the CPU time of one model evaluation of the fit of MOA-2008-BLG-310 (examples/pointlens.py), on
    one thread.

Each timing is the fastest of several runs. Run from the repository root:
    .venv/bin/python bench/limb_darkened.py
"""

import collections
import json
import os
import pathlib
import subprocess
import sys
import threading
import time

import mpmath
import numpy as np

ROOT = pathlib.Path(__file__).resolve().parents[1]
TRUTHS = ROOT / "tests" / "data" / "ld_truths.json"
sys.path.insert(0, str(ROOT / "tests" / "python"))

LAWS = {
    "uniform": "ld.Uniform()",
    "linear": "ld.Linear(0.6)",
    "quadratic": "ld.Quadratic(0.4, 0.25)",
    "square root": "ld.SquareRoot(0.2, 0.5)",
    "logarithmic": "ld.Logarithmic(0.6, 0.15)",
    "power-2": "ld.Power2(0.7, 0.6)",
    "four-parameter": "ld.FourParameter(0.5, 0.1, 0.3, -0.2)",
    "sampled, 8": "ld.Sampled(np.linspace(0, 1, 8), 1 - 0.6 * (1 - np.sqrt(1 - np.linspace(0, 1, 8) ** 2)))",
    "sampled, 30": "ld.Sampled(np.linspace(0, 1, 30), 1 - 0.6 * (1 - np.sqrt(1 - np.linspace(0, 1, 30) ** 2)))",
}
BANDS = [(0.0, 1.0), (0.95, 1.05), (1.0, 2.0), (0.0, 2.0)]
RHO = 0.01


def accuracy():
    import caldrith_ld as ld
    from ld_laws_reference import module_law

    data = json.loads(TRUTHS.read_text())
    by_law = collections.defaultdict(float)
    by_class = collections.defaultdict(float)
    for case in data["cases"]:
        law = module_law(data["laws"][case["law"]])
        value = ld.magnification(case["u"], case["rho"], law)
        error = float(abs(mpmath.mpf(float(value)) / mpmath.mpf(case["truth"]) - 1))
        l = case["u"] / case["rho"]
        kind = ("centre" if l < 1e-3 else "inside" if l < 0.95 else "limb" if l <= 1.05
                else "outside" if l < 10 else "far wings")
        by_law[case["law"]] = max(by_law[case["law"]], error)
        by_class[kind] = max(by_class[kind], error)
    print(f"accuracy against {len(data['cases'])} mpmath truths (largest relative error; goal 1e-7):")
    for name, error in sorted(by_law.items()):
        print(f"  {name:36s} {error:.1e}")
    print("  by position: " + ", ".join(f"{kind} {error:.1e}" for kind, error in by_class.items()))
    print(f"  over all: {max(by_law.values()):.1e}")


SPEED = """
import json, time
import numpy as np
import caldrith_ld as ld

def fastest(call, repeats=7):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best

rng = np.random.default_rng(1)
rho = {rho}
rows = {{}}
for name, law in {laws}.items():
    law = eval(law)
    row = []
    for lo, hi in {bands}:
        u = rng.uniform(lo, hi, 4000) * rho
        row.append(fastest(lambda: ld.magnification(u, rho, law)) / u.size * 1e9)
    t = np.linspace(-2.0, 2.0, 10_000)
    row.append(fastest(lambda: ld.light_curve(t, 0.0, 0.01, 1.0, rho, law)) / t.size * 1e9)
    rows[name] = row
print(json.dumps(rows))
"""


def speed():
    code = SPEED.format(rho=RHO, laws=repr(LAWS), bands=repr(BANDS))
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    rows = json.loads(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                                     check=True).stdout)
    header = "".join(f"{f'l in [{lo:g}, {hi:g}]':>18s}" for lo, hi in BANDS) + f"{'light curve':>14s}"
    print(f"\nns per position on one core, rho = {RHO} (goals: 2000 near the star, 200 over a light curve,"
          " 150 for the uniform disk):")
    print(f"  {'law':16s}{header}")
    for name, row in rows.items():
        print(f"  {name:16s}" + "".join(f"{value:18.0f}" for value in row[:-1]) + f"{row[-1]:14.0f}")


THREADS = """
import json, threading, time
import numpy as np
import caldrith_ld as ld

law = ld.Quadratic(0.4, 0.25)
arrays = [np.random.default_rng(seed).uniform(0.0, 0.02, 20_000) for seed in (1, 2)]

def work(u, repeats):
    for _ in range(repeats):
        ld.magnification(u, 0.01, law)

best_one = best_two = float("inf")
for _ in range(3):
    start = time.perf_counter()
    work(arrays[0], 4)
    best_one = min(best_one, time.perf_counter() - start)
    threads = [threading.Thread(target=work, args=(u, 4)) for u in arrays]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    best_two = min(best_two, time.perf_counter() - start)
print(json.dumps([best_one, best_two]))
"""


def threads():
    print("\ntwo Python threads, each on its own array of 20000 positions, against one (goal: 1.7x):")
    for pool in ("1", "2"):
        env = dict(os.environ, RAYON_NUM_THREADS=pool)
        one, two = json.loads(subprocess.run([sys.executable, "-c", THREADS], env=env, capture_output=True,
                                             text=True, check=True).stdout)
        print(f"  caldrith pool of {pool}: one thread {one:.3f} s, two threads {two:.3f} s for twice the work: "
              f"{2 * one / two:.2f}x the throughput")


FIT = """
import json, sys, time
sys.path.insert(0, {examples!r})
import mb08310
import pointlens

datasets = mb08310.load()
params = (2454656.39975, 0.0030, 11.14, 0.0049)
pointlens.chi2(params, datasets)
best = float("inf")
for _ in range(5):
    start = time.process_time()
    for _ in range(10):
        pointlens.chi2(params, datasets)
    best = min(best, (time.process_time() - start) / 10)
print(json.dumps([best, sum(int(d.mask.sum()) for d in datasets)]))
"""


def fit():
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    code = FIT.format(examples=str(ROOT / "examples"))
    best, points = json.loads(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                             text=True, check=True).stdout)
    print(f"\nMOA-2008-BLG-310, {points} points, linear law at every point: {best * 1e3:.2f} ms of CPU per "
          "model evaluation (one thread)")


if __name__ == "__main__":
    accuracy()
    speed()
    threads()
    fit()
