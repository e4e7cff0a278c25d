import struct
import subprocess
import sys

import pytest

import caldrith

# Every function with arguments that convert and compute without error.
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

PARAMETERS = {
    name: getattr(caldrith, name).__text_signature__.strip("()").split(", ") for name in VALID_CALLS
}


@pytest.fixture(params=list(VALID_CALLS))
def function_name(request):
    return request.param


def run_python(code, env=None, check=True):
    """Runs code in a fresh interpreter; returns the completed process."""
    return subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=env, check=check, timeout=300
    )


def result_bits(result):
    """The bit patterns of a result (a float, a list of floats or a list of lists), so that
    comparisons tell -0.0 from 0.0 and NaNs apart."""
    if isinstance(result, list):
        return [result_bits(item) for item in result]
    return struct.pack("<d", result)
