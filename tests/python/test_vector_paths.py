"""Every vector path of the batch kernels gives the scalar path's results to the bit.

Each path runs in its own interpreter, chosen by the environment variable CALDRITH_SIMD; a path
this processor lacks is skipped. The inputs cover every branch of the kernels: positions across
and beyond the star, on and next to the limb, negative, zero, NaN and infinite, with several
stellar radii (zero and negative included, and Einstein radii so large that the thin ring scales
its lengths) and profiles.
"""

import json
import pathlib

import pytest

from conftest import run_python

CHILD = r"""
import json, math, random, struct
import caldrith

def bits(value):
    return struct.pack("<d", value).hex()

def outcome(call):
    try:
        result = call()
    except RuntimeError as error:
        return "error: " + str(error)
    if isinstance(result, float):
        return bits(result)
    return [outcome(lambda item=item: item) if not isinstance(item, float) else bits(item) for item in result]

generator = random.Random(7)
special = [0.0, -0.0, 1.0, 1.0 + 1e-4, 1.0 - 1e-4, 1.0 + 1e-6, 1.0 - 1e-9, 1e-7, 0.5, 2.0, -0.5,
           float("nan"), float("inf"), -float("inf"), 1e-300, 5e-324, 1e300]
positions = special + [generator.uniform(0.0, 3.0) for _ in range(3000)]
few = special + [3.0 * k / 24 for k in range(25)]
bl = [math.sin(math.pi * k / 38) for k in range(20)]
bf = [1 - 0.6 * (1 - math.sqrt(1 - t * t)) for t in bl]
# The last two: Einstein radii of 2^510 and 2^501 stellar radii, which the thin ring scales.
stars = [(1.0, 0.05), (1.0, 0.001), (1.0, 2.0), (1.0, 0.0), (0.0, 1.0), (1.0, -0.1), (3.0, 1e-6),
         (2.0**510, 1.0), (2.0**500, 0.5)]
results = {}
for re, rstar in stars:
    key = f"{re},{rstar}"
    results["witt_mao " + key] = outcome(lambda: caldrith.witt_mao_magnification(positions, re, rstar))
    results["integrated_witt_mao " + key] = outcome(lambda: caldrith.integrated_witt_mao_magnification(few, re, rstar))
    results["integrated_heyrovsky " + key] = outcome(lambda: caldrith.integrated_heyrovsky_magnification(few, re, rstar))
    results["flux_witt_mao " + key] = outcome(
        lambda: caldrith.integrated_flux_map_witt_mao_magnification(few[:12], re, rstar, bl, bf))
    results["flux_heyrovsky " + key] = outcome(
        lambda: caldrith.integrated_flux_map_heyrovsky_magnification(few[:12], re, rstar, bl, bf))
    results["discrete " + key] = outcome(
        lambda: caldrith.discrete_flux_map_heyrovsky_magnification(positions, re, rstar, bl, bf))
    results["heyrovsky " + key] = [outcome(lambda: caldrith.heyrovsky_magnification(l, 0.3, re, rstar)) for l in few]
results["multi"] = outcome(lambda: caldrith.multi_witt_mao_magnification(positions[:500], [1.0, 2.0], [0.05, 0.5]))
print(json.dumps(results))
"""


def cpu_flags():
    try:
        text = pathlib.Path("/proc/cpuinfo").read_text()
    except OSError:
        return set()
    for line in text.splitlines():
        if line.startswith("flags"):
            return set(line.split(":", 1)[1].split())
    return set()


def runnable(path):
    flags = cpu_flags()
    return {
        "sse2": "sse2" in flags,
        "avx2": "avx2" in flags,
        "avx512": {"avx512f", "avx512dq", "avx512vl"} <= flags,
    }[path]


def results_on(path):
    import os

    env = dict(os.environ, CALDRITH_SIMD=path)
    return json.loads(run_python(CHILD, env=env).stdout)


@pytest.fixture(scope="module")
def scalar_results():
    return results_on("scalar")


@pytest.mark.parametrize("path", ["sse2", "avx2", "avx512"])
def test_vector_path_matches_scalar_path_bit_for_bit(path, scalar_results):
    if not runnable(path):
        pytest.skip(f"this processor has no {path}")
    vector = results_on(path)
    assert vector.keys() == scalar_results.keys()
    for name, expected in scalar_results.items():
        assert vector[name] == expected, name


def test_unknown_path_name_runs_a_runnable_path(scalar_results):
    assert results_on("no-such-path") == scalar_results
