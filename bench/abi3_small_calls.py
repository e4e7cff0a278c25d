"""What the stable ABI costs caldrith_ld's small calls: its core built on the stable ABI of CPython
3.11 (_core.abi3.so, the build every wheel carries) against the same sources built for the running
interpreter alone (_core.cpython-3XY-<platform>.so, CALDRITH_LD_STABLE_ABI=OFF).

Prints, for n = 1 and 10 positions (u uniform in [0, 0.02], rho = 0.01) and the uniform disk and
the linear law of coefficient 0.6, the time of one call on each build and the difference, of
  - ld.magnification(u, 0.01, law), the modellers' call;
  - _core.magnification(u, out, 0.01, kind, coefficients, (), ()), the compiled core's own call
    (the binding alone, without the Python layer's checks and conversions).
Each build runs in interpreters of its own (RAYON_NUM_THREADS=1); the two builds take turns,
ROUNDS times, in alternating order, each turn timing every call as the fastest of many repeats; the
figure is the fastest over all turns.

    python bench/abi3_small_calls.py                      # builds both cores into build/bench-*
    python bench/abi3_small_calls.py --abi3 A.so --per-version B.so

Without the two cores it builds them with CMake for the interpreter running it (cmake and ninja
from its environment or PATH): .venv/bin/python for 3.14, .venv-oldest/bin/python for the
machine's python3.
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

ROOT = pathlib.Path(__file__).resolve().parent.parent
ROUNDS = 24
SIZES = [1, 10]
LAWS = {"uniform": "ld.Uniform()", "linear": "ld.Linear(0.6)"}

# Run in a child interpreter with the package folder first on sys.path: times every call, prints
# {name: seconds per call}.
CHILD = """
import json, sys, timeit
sys.path.insert(0, sys.argv[1])
import numpy as np
import caldrith_ld as ld
from caldrith_ld import _core
assert _core.__file__.startswith(sys.argv[1]), _core.__file__
laws = {name: eval(law) for name, law in json.loads(sys.argv[2]).items()}
timings = {}
for n in json.loads(sys.argv[3]):
    u = np.random.default_rng(n).uniform(0.0, 0.02, n)
    out = np.empty(n)
    for name, law in laws.items():
        calls = {
            "ld.magnification": lambda: ld.magnification(u, 0.01, law),
            "_core.magnification": lambda: _core.magnification(u, out, 0.01, law._kind, law._coefficients(), (), ()),
        }
        for call, function in calls.items():
            timings[f"{call}|{name}|{n}"] = min(timeit.repeat(function, number=500, repeat=5)) / 500
print(json.dumps(timings))
"""


def tool(name):
    """A build tool from the running interpreter's environment, else from PATH."""
    beside = pathlib.Path(sys.executable).parent / name
    found = str(beside) if beside.exists() else shutil.which(name)
    if found is None:
        sys.exit(f"no {name}: install it into this environment (pip install {name})")
    return found


def build_core(stable_abi):
    """Builds caldrith_ld's core for this interpreter (into build/bench-<variant>-<soabi>) and
    returns its path."""
    variant = "abi3" if stable_abi else "per-version"
    build = ROOT / "build" / f"bench-{variant}-{sysconfig.get_config_var('SOABI')}"
    subprocess.run(
        [tool("cmake"), "-S", str(ROOT), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         f"-DCMAKE_MAKE_PROGRAM={tool('ninja')}", f"-DPython_EXECUTABLE={sys.executable}",
         "-DCALDRITH_BUILD_EIGHT_FUNCTIONS=OFF", f"-DCALDRITH_LD_STABLE_ABI={'ON' if stable_abi else 'OFF'}"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run([tool("cmake"), "--build", str(build), "--target", "caldrith_ld_core"], check=True,
                   stdout=subprocess.DEVNULL)
    (core,) = (build / "src" / "ld").glob("_core.*.so")
    return core


def package(core, variant):
    """A folder holding the package caldrith_ld (its Python layer from python/) with `core`."""
    folder = ROOT / "build" / f"bench-package-{variant}-{sysconfig.get_config_var('SOABI')}"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(ROOT / "python" / "caldrith_ld", folder / "caldrith_ld")
    shutil.copy2(core, folder / "caldrith_ld" / core.name)
    return folder


def run_turn(folder):
    environment = dict(os.environ, RAYON_NUM_THREADS="1")
    completed = subprocess.run(
        [sys.executable, "-c", CHILD, str(folder), json.dumps(LAWS), json.dumps(SIZES)],
        capture_output=True, text=True, env=environment, check=True)
    return json.loads(completed.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--abi3", type=pathlib.Path, help="a core built on the stable ABI (_core.abi3.so)")
    parser.add_argument("--per-version", type=pathlib.Path, help="a core built for this interpreter alone")
    arguments = parser.parse_args()
    cores = {"abi3": arguments.abi3 or build_core(True), "per-version": arguments.per_version or build_core(False)}
    folders = {variant: package(core, variant) for variant, core in cores.items()}

    best = {variant: {} for variant in folders}
    for turn in range(ROUNDS):
        order = list(folders) if turn % 2 == 0 else list(reversed(folders))
        for variant in order:
            for name, seconds in run_turn(folders[variant]).items():
                best[variant][name] = min(best[variant].get(name, seconds), seconds)

    print(f"caldrith_ld's core on the stable ABI against a build for CPython {sys.version.split()[0]} alone")
    for variant, core in cores.items():
        print(f"  {variant}: {core.name}")
    print(f"fastest of {ROUNDS} alternating turns, one worker thread; ns per call")
    print(f"{'call':<22} {'law':<8} {'n':>3} {'abi3':>9} {'per-version':>12} {'abi3 - per-version':>19}")
    for name in best["abi3"]:
        call, law, n = name.split("|")
        stable, own = best["abi3"][name] * 1e9, best["per-version"][name] * 1e9
        print(f"{call:<22} {law:<8} {n:>3} {stable:>9.0f} {own:>12.0f} "
              f"{stable - own:>+8.0f} ns {100 * (stable / own - 1):>+6.1f}%")


if __name__ == "__main__":
    main()
