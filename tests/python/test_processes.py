"""The functions in other processes: pickled by reference, and giving bit-identical results in
the workers of a process pool, whatever the start method."""

import concurrent.futures
import multiprocessing
import os
import pickle

import numpy
import pytest

import caldrith
from conftest import FORKS_WITH_THREADS, VALID_CALLS, result_bits

# With "fork" the parent has already built its worker pool; each forked child builds its own.
START_METHODS = ["spawn", "forkserver", pytest.param("fork", marks=FORKS_WITH_THREADS)]

# Forking a process that runs worker threads is what the fork start method does here on purpose.
pytestmark = pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")

POSITIONS = numpy.linspace(0.0, 3.0, 31)
CALLS = list(VALID_CALLS.items()) + [
    ("witt_mao_magnification", (POSITIONS, 1.0, 0.1)),
    ("multi_witt_mao_magnification", (POSITIONS, [1.0, 2.0], [0.1, 0.3])),
    ("integrated_heyrovsky_magnification", (POSITIONS.tolist(), 1.0, 0.1)),
]


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_functions_pickle_by_reference(function_name, protocol):
    function = getattr(caldrith, function_name)
    assert pickle.loads(pickle.dumps(function, protocol)) is function


def set_worker_threads(count):
    """Sizes a worker process's thread pool before its first parallel call builds it."""
    os.environ["RAYON_NUM_THREADS"] = count


@pytest.mark.parametrize("threads", [None, "1"], ids=["default threads", "one thread per process"])
@pytest.mark.parametrize("method", START_METHODS)
def test_process_pool_gives_bit_identical_results(method, threads):
    expected = [result_bits(getattr(caldrith, name)(*args)) for name, args in CALLS]
    context = multiprocessing.get_context(method)
    initializer = {} if threads is None else {"initializer": set_worker_threads, "initargs": (threads,)}
    with concurrent.futures.ProcessPoolExecutor(max_workers=2, mp_context=context, **initializer) as pool:
        futures = [pool.submit(getattr(caldrith, name), *args) for name, args in CALLS]
        results = [result_bits(future.result(timeout=120)) for future in futures]
    assert results == expected


@pytest.mark.parametrize("method", START_METHODS)
def test_errors_cross_the_process_boundary(method):
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        with pytest.raises(TypeError) as caught:
            pool.submit(caldrith.witt_mao_magnification, "123", 1.0, 0.1).result(timeout=120)
    assert caught.value.args == ("Can't extract `str` to `Vec`",)
    assert caught.value.__notes__ == ["while processing 'l'"]
