import os
import signal
import struct
import subprocess
import sys

import pytest

# Every function of caldrith with arguments that convert and compute without error.
VALID_CALLS = {
    "witt_mao_magnification": ([0.5], 1.0, 0.1),
    "integrated_witt_mao_magnification": ([0.5], 1.0, 0.1),
    "integrated_flux_map_witt_mao_magnification": ([0.5], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]),
    "multi_witt_mao_magnification": ([0.5], [1.0], [0.1]),
    "heyrovsky_magnification": (0.5, 0.3, 1.0, 0.1),
    "integrated_heyrovsky_magnification": ([0.5], 1.0, 0.1),
    "integrated_flux_map_heyrovsky_magnification": ([0.5], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]),
    "discrete_flux_map_heyrovsky_magnification": ([0.5], 1.0, 0.1, [0.3, 0.7], [0.5, 0.5]),
}

# The sanitizer the module was built with, when scripts/run_sanitizers.sh runs the suite.
SANITIZER = os.environ.get("CALDRITH_SANITIZER", "")


def unless_sanitizer(names, reason):
    """Skips a test that cannot work under the named sanitizers ("asan", "tsan", separated by "+")."""
    return pytest.mark.skipif(SANITIZER in names.split("+"), reason=f"under {names}: {reason}")


NO_SHADOW_ROOM = unless_sanitizer("asan+tsan", "an address-space limit leaves no room for the shadow memory")
COUNTS_THREADS = unless_sanitizer("tsan", "its own background thread shows up in thread counts")
HOLDS_BACK_SIGNALS = unless_sanitizer(
    "tsan", "it delivers a signal only when the thread next calls a function it intercepts, which the conversions "
    "and computations on the calling thread do not do for seconds"
)
FORKS_WITH_THREADS = unless_sanitizer("tsan", "it cannot start threads in a child forked from a process with threads")
RUNS_XLA = unless_sanitizer(
    "tsan", "jaxlib is not instrumented: TSan reports races between XLA's own threads, whose synchronisation it "
    "cannot see"
)
LOADED_FROM_BUILD = unless_sanitizer(
    "asan+tsan", "the instrumented module is loaded from its build folder, where no stub package is installed"
)

@pytest.fixture(params=list(VALID_CALLS))
def function_name(request):
    return request.param


def run_python(code, env=None, check=True, timeout=300):
    """Runs code in a fresh interpreter; returns the completed process. On timeout the interpreter
    and every process it started (forked children too) are killed and TimeoutExpired is raised."""
    with subprocess.Popen(
        [sys.executable, "-c", code],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
        start_new_session=True,
    ) as process:
        try:
            stdout, stderr = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            raise
    completed = subprocess.CompletedProcess(process.args, process.returncode, stdout, stderr)
    if check:
        completed.check_returncode()
    return completed


def result_bits(result):
    """The bit patterns of a result (a float, a list of floats or a list of lists), so that
    comparisons tell -0.0 from 0.0 and NaNs apart."""
    if isinstance(result, list):
        return [result_bits(item) for item in result]
    return struct.pack("<d", result)


def pytest_collection_modifyitems(items):
    # JAX's runtime, once test_jax.py's tests start it, keeps threads that a child forked afterwards
    # would inherit half-copied: those tests run after all others, the forking ones among them.
    items.sort(key=lambda item: item.path.name == "test_jax.py")
