"""What the stable ABI costs caldrith_ld's small calls: its core built on the stable ABI of CPython
3.11 (_core.abi3.so, the build every wheel carries) against the same sources built for the running
interpreter alone (_core.cpython-3XY-<platform>.so, CALDRITH_LD_STABLE_ABI=OFF).

Prints, for n = 1 and 10 positions (u uniform in [0, 0.02], rho = 0.01) and the uniform disk and
the linear law of coefficient 0.6, the time of one call on each build and the difference, with the
difference between two copies of the per-version build beside it (the noise of the measurement), of
  - ld.magnification(u, 0.01, law), the modellers' call;
  - _core.magnification(u, out, 0.01, laws), the compiled core's own call (laws as the Python layer describes them)
    (the binding alone, without the Python layer's checks and conversions).
The three cores are loaded into one interpreter, each as a package of its own (caldrith_ld's Python
layer copied under another name beside a copy of its core), and take turns, ROUNDS times in
rotating order, each turn timing every call as the fastest of a few repeats; the figure is the
fastest over all turns. One worker thread (RAYON_NUM_THREADS=1).

    python bench/abi3_small_calls.py                      # builds both cores into build/bench-*
    python bench/abi3_small_calls.py --abi3 A.so --per-version B.so

Without the two cores it builds them with CMake for the interpreter running it (cmake and ninja
from its environment or PATH): .venv/bin/python for 3.14, .venv-oldest/bin/python for the
machine's python3.
"""

import argparse
import importlib
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import timeit

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent
ROUNDS = 60
SIZES = [1, 10]
LAWS = {"uniform": lambda ld: ld.Uniform(), "linear": lambda ld: ld.Linear(0.6)}

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
    """A package named caldrith_ld_<variant>, caldrith_ld's Python layer with `core`, in a folder
    of build/ that the function puts first on sys.path; returns the imported package."""
    folder = ROOT / "build" / f"bench-packages-{sysconfig.get_config_var('SOABI')}"
    name = f"caldrith_ld_{variant.replace('-', '_')}"
    shutil.rmtree(folder / name, ignore_errors=True)
    (folder / name).mkdir(parents=True)
    layer = (ROOT / "python" / "caldrith_ld" / "__init__.py").read_text()
    assert "from caldrith_ld import _core" in layer
    (folder / name / "__init__.py").write_text(layer.replace("from caldrith_ld import _core", f"from {name} import _core"))
    shutil.copy2(core, folder / name / core.name)
    sys.path.insert(0, str(folder))
    module = importlib.import_module(name)
    assert module._core.__file__ == str(folder / name / core.name), module._core.__file__
    return module


def calls(ld):
    """{(call, law, n): the call} of the package `ld`."""
    laws = {name: make(ld) for name, make in LAWS.items()}
    made = {}
    for n in SIZES:
        u = np.random.default_rng(n).uniform(0.0, 0.02, n)
        out = np.empty(n)
        for name, law in laws.items():
            made["ld.magnification", name, n] = lambda u=u, law=law: ld.magnification(u, 0.01, law)
            laws_, _ = ld._laws(law)
            made["_core.magnification", name, n] = lambda u=u, out=out, laws_=laws_: ld._core.magnification(
                u, out, 0.01, laws_)
    return made


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--abi3", type=pathlib.Path, help="a core built on the stable ABI (_core.abi3.so)")
    parser.add_argument("--per-version", type=pathlib.Path, help="a core built for this interpreter alone")
    arguments = parser.parse_args()
    cores = {"abi3": arguments.abi3 or build_core(True), "per-version": arguments.per_version or build_core(False)}
    cores["per-version-copy"] = cores["per-version"]
    os.environ["RAYON_NUM_THREADS"] = "1"
    timed = {variant: calls(package(core, variant)) for variant, core in cores.items()}

    best = {variant: {} for variant in timed}
    variants = list(timed)
    for turn in range(ROUNDS):
        for variant in variants[turn % 3:] + variants[:turn % 3]:
            for key, call in timed[variant].items():
                seconds = min(timeit.repeat(call, number=200, repeat=3)) / 200
                best[variant][key] = min(best[variant].get(key, seconds), seconds)

    print(f"caldrith_ld's core on the stable ABI against a build for CPython {sys.version.split()[0]} alone")
    for variant, core in cores.items():
        print(f"  {variant}: {core}")
    print(f"fastest of {ROUNDS} rotating turns in one interpreter, one worker thread; ns per call")
    print(f"{'call':<22} {'law':<8} {'n':>3} {'abi3':>7} {'per-version':>12} {'abi3 - per-version':>19} "
          f"{'copy - per-version':>19}")
    for (call, law, n), seconds in best["abi3"].items():
        stable, own, copy = (best[variant][call, law, n] * 1e9 for variant in variants)
        print(f"{call:<22} {law:<8} {n:>3} {stable:>7.0f} {own:>12.0f} "
              f"{stable - own:>+8.0f} ns {100 * (stable / own - 1):>+6.1f}% "
              f"{copy - own:>+8.0f} ns {100 * (copy / own - 1):>+6.1f}%")


if __name__ == "__main__":
    main()
