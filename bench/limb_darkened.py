"""caldrith_ld against its goals: accuracy, speed on one core, two Python threads, a real fit.

Prints
  - the largest relative error against the mpmath truths of tests/data/ld_truths.json, per law and
    over all, and by position class;
  - nanoseconds per position on one core (RAYON_NUM_THREADS=1, so that every call computes on its
    calling thread), per law: near the star (l = u/rho uniform over [0, 2]) for rho from 1e-4 to 0.1
    (goal: 200 ns; 2 us for a law of 8 samples), at the limb ([0.95, 1.05]), for stars larger than
    0.1 (goal: 1 us), and averaged over a light curve of 10^4 points over +-2 tE with u0 = rho = 0.01
    (goal: 30 ns);
  - three laws in one call against one (goal: 1.3x), and the gradient against the value alone
    (goal: 2x);
  - the throughput of two Python threads, each on its own array, against one (goal: 1.7x);
  - the CPU time of one model evaluation of the fit of MOA-2008-BLG-310 (examples/pointlens.py)
    and of a peak-heavy event of as many points, on one thread.

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

def fastest(call, repeats=5):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best

def per_position(call, n):
    return fastest(call) / n * 1e9

rng = np.random.default_rng(1)
laws = {{name: eval(law) for name, law in {laws}.items()}}
result = {{"near": {{}}, "limb": {{}}, "large": {{}}, "curve": {{}}, "several": {{}}, "gradient": {{}}}}
for name, law in laws.items():
    for rho in {near_rhos}:
        u = rng.uniform(0.0, 2.0, 4000) * rho
        result["near"].setdefault(name, []).append(per_position(lambda: ld.magnification(u, rho, law), u.size))
        u = rng.uniform(0.95, 1.05, 4000) * rho
        result["limb"].setdefault(name, []).append(per_position(lambda: ld.magnification(u, rho, law), u.size))
    for rho in {large_rhos}:
        u = rng.uniform(0.0, 2.0, 1000) * rho
        result["large"].setdefault(name, []).append(per_position(lambda: ld.magnification(u, rho, law), u.size))
    t = np.linspace(-2.0, 2.0, 10_000)
    result["curve"][name] = per_position(lambda: ld.light_curve(t, 0.0, 0.01, 1.0, 0.01, law), t.size)
    if name != "power-2":
        u = rng.uniform(0.0, 2.0, 4000) * 0.01
        value = per_position(lambda: ld.magnification(u, 0.01, law), u.size)
        result["gradient"][name] = [per_position(lambda: ld.gradient(u, 0.01, law), u.size) / value,
                                    per_position(lambda: ld.light_curve_gradient(t, 0.0, 0.01, 1.0, 0.01, law), t.size)
                                    / result["curve"][name]]
bands = [ld.Quadratic(0.45, 0.25), ld.Quadratic(0.35, 0.28), ld.Quadratic(0.25, 0.3)]
u = rng.uniform(0.0, 2.0, 4000) * 0.01
one = per_position(lambda: ld.magnification(u, 0.01, bands[0]), u.size)
result["several"] = [one, per_position(lambda: ld.magnification(u, 0.01, bands), u.size)]
print(json.dumps(result))
"""

NEAR_RHOS = [1e-4, 1e-3, 1e-2, 0.1]
LARGE_RHOS = [0.3, 1.0, 10.0]


def speed():
    code = SPEED.format(laws=repr(LAWS), near_rhos=NEAR_RHOS, large_rhos=LARGE_RHOS)
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    result = json.loads(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                                       check=True).stdout)
    print("\nns per position on one core; near the star, 0 <= l <= 2 (goals: 200 for the closed-form laws, "
          "2000 for 8 samples), and at the limb, 0.95 <= l <= 1.05:")
    header = "".join(f"{f'rho={rho:g}':>11s}" for rho in NEAR_RHOS)
    print(f"  {'law':16s}{header}   limb, over the same rho")
    for name, row in result["near"].items():
        limb = result["limb"][name]
        print(f"  {name:16s}" + "".join(f"{value:11.0f}" for value in row) + f"   {min(limb):.0f}-{max(limb):.0f}")
    print("\nns per position on one core for stars larger than 0.1, 0 <= l <= 2 (goal: 1000):")
    print(f"  {'law':16s}" + "".join(f"{f'rho={rho:g}':>11s}" for rho in LARGE_RHOS))
    for name, row in result["large"].items():
        print(f"  {name:16s}" + "".join(f"{value:11.0f}" for value in row))
    print("\nns per point of a light curve, 10^4 points over +-2 tE, u0 = rho = 0.01 (goal: 30):")
    print("  " + ", ".join(f"{name} {value:.0f}" for name, value in result["curve"].items()))
    one, three = result["several"]
    print(f"\nthree quadratic laws in one call, rho = 0.01, 0 <= l <= 2: {three:.0f} ns a position against "
          f"{one:.0f} for one: {three / one:.2f}x (goal: 1.3x)")
    print("\nthe gradient (value and every derivative) against the value alone, rho = 0.01 (goal: 2x):")
    print("  " + ", ".join(f"{name} {near:.2f}x near the star, {curve:.2f}x along a light curve"
                           for name, (near, curve) in result["gradient"].items()))


THREADS = """
import json, threading, time
import numpy as np
import caldrith_ld as ld

law = ld.Quadratic(0.4, 0.25)
arrays = [np.random.default_rng(seed).uniform(0.0, 0.02, 500_000) for seed in (1, 2)]

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
    print("\ntwo Python threads, each on its own array of 500000 positions, against one (goal: 1.7x):")
    for pool in ("1", "2"):
        env = dict(os.environ, RAYON_NUM_THREADS=pool)
        one, two = json.loads(subprocess.run([sys.executable, "-c", THREADS], env=env, capture_output=True,
                                             text=True, check=True).stdout)
        print(f"  caldrith pool of {pool}: one thread {one:.3f} s, two threads {two:.3f} s for twice the work: "
              f"{2 * one / two:.2f}x the throughput")


FIT = """
import json, sys, time
import numpy as np
sys.path.insert(0, {examples!r})
import caldrith_ld as ld
import mb08310
import pointlens

def cpu_per_call(call, calls=20, repeats=5):
    call()
    best = float("inf")
    for _ in range(repeats):
        start = time.process_time()
        for _ in range(calls):
            call()
        best = min(best, (time.process_time() - start) / calls)
    return best

datasets = mb08310.load()
params = (2454656.39975, 0.0030, 11.14, 0.0049)
fit = cpu_per_call(lambda: pointlens.chi2(params, datasets))
points = sum(int(d.mask.sum()) for d in datasets)
# A peak-heavy event of as many points, 60 % of them within 0.2 d of the peak, the rest over +-3 tE.
rng = np.random.default_rng(2)
t0, u0, te, rho = 0.0, 0.0030, 11.14, 0.0049
near = int(0.6 * points)
t = np.sort(np.concatenate([rng.uniform(-0.2, 0.2, near), rng.uniform(-3 * te, 3 * te, points - near)]))
law = ld.Linear(0.55)
peak = cpu_per_call(lambda: ld.light_curve(t, t0, u0, te, rho, law))
print(json.dumps([fit, points, peak]))
"""


def fit():
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    code = FIT.format(examples=str(ROOT / "examples"))
    best, points, peak = json.loads(subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                                                   text=True, check=True).stdout)
    print(f"\nms of CPU per model evaluation on one thread: MOA-2008-BLG-310, {points} points, linear law at "
          f"every point, fluxes solved per data set (examples/pointlens.py): {best * 1e3:.3f} (goal: 0.15); a "
          f"peak-heavy event of as many points, 60 % within 0.2 d of the peak: {peak * 1e3:.3f} (goal: 0.7)")


if __name__ == "__main__":
    accuracy()
    speed()
    threads()
    fit()
