"""The process-wide worker pool behind the two uniform-disk list functions.

Each pool property is observed in a fresh interpreter with a controlled environment:
the pool's size is the number of threads the process gains (entries of /proc/self/task).
"""

import inspect
import json
import math
import os
import random
import struct
import textwrap
from concurrent.futures import ThreadPoolExecutor
from threading import Barrier

import pytest

import caldrith
from conftest import COUNTS_THREADS, NO_SHADOW_ROOM, VALID_CALLS, run_python

POOL_VARIABLES = ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")
BUILD_FAILURE = "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "


def bits(values):
    """The exact bit patterns of a list of doubles, so that NaN compares equal to NaN."""
    return struct.pack(f"<{len(values)}d", *values).hex()


PRELUDE = f"""\
import json, os, struct
def threads():
    return len(os.listdir("/proc/self/task"))
{inspect.getsource(bits)}
START = threads()
import caldrith
"""

# Threads gained by the first parallel call of a fresh interpreter.
ADDED_THREADS = """
before = threads()
caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
print(json.dumps(threads() - before))
"""


def run_child(body, settings, timeout=300):
    """Runs body after PRELUDE in a fresh interpreter without the pool variables but for settings (str or bytes);
    returns what it printed as JSON."""
    env = {name: value for name, value in os.environ.items() if name not in POOL_VARIABLES}
    completed = run_python(PRELUDE + textwrap.dedent(body), env={**env, **settings}, timeout=timeout)
    return json.loads(completed.stdout)


def address_space_beyond_now(extra):
    """Child code that limits its address space to what it uses now plus `extra` bytes."""
    return f"""
    import resource

    size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
    limit = size * 1024 + {extra}
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
"""


@pytest.fixture(scope="module")
def machine():
    """The machine's available parallelism, as the pool sees it with neither variable set."""
    count = run_child(ADDED_THREADS, {})
    assert 1 <= count <= len(os.sched_getaffinity(0))
    return count


# (RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS, expected workers); None leaves a variable unset. "{spare}" stands
# for a count that differs from the machine's, so each case tells the sources apart. Plain counts of
# RAYON_NUM_THREADS are covered by test_results_are_identical_for_every_thread_count.
THREAD_COUNT_CASES = [
    # RAYON_NUM_THREADS decides when it parses to a positive count.
    ("+4", None, 4),
    ("0004", None, 4),
    ("3", "{spare}", 3),
    # Not parseable: RAYON_RS_NUM_CPUS decides.
    *[(text, "{spare}", "spare") for text in [" 4", "4 ", "-1", "", "abc", "+", "4.0", b"4\xff"]],
    ("18446744073709551616", "{spare}", "spare"),
    *[(None, text, "spare") for text in ["{spare}", "+{spare}", "000{spare}"]],
    # Zero selects the machine, even with RAYON_RS_NUM_CPUS set.
    *[(text, "{spare}", "machine") for text in ["0", "+000"]],
    ("0", None, "machine"),
    # Neither variable gives a positive count: the machine.
    *[(None, text, "machine") for text in ["0", " {spare}", "-1", "", b"\xff"]],
    ("abc", "0", "machine"),
    ("abc", "xyz", "machine"),
]


@COUNTS_THREADS
@pytest.mark.parametrize("num_threads, num_cpus, expected", THREAD_COUNT_CASES, ids=repr)
def test_thread_count_from_the_environment(machine, num_threads, num_cpus, expected):
    spare = machine + 3
    settings = {
        name: value.format(spare=spare) if isinstance(value, str) else value
        for name, value in zip(POOL_VARIABLES, (num_threads, num_cpus))
        if value is not None
    }
    assert run_child(ADDED_THREADS, settings) == {"machine": machine, "spare": spare}.get(expected, expected)


CALLING_THREAD_CALLS = {
    name: args
    for name, args in VALID_CALLS.items()
    if name not in ("witt_mao_magnification", "multi_witt_mao_magnification")
}


@COUNTS_THREADS
@pytest.mark.parametrize(
    "first_parallel_call",
    [
        "witt_mao_magnification([], 1.0, 0.1)",
        "witt_mao_magnification([0.5], 1.0, 0.1)",
        "witt_mao_magnification([0.5, 1.5], 1.0, 0.1)",
        "multi_witt_mao_magnification([], [1.0], [0.1])",
        "multi_witt_mao_magnification([0.5], [1.0], [0.1])",
        "multi_witt_mao_magnification([0.5], [], [0.1])",
    ],
)
def test_pool_is_built_by_the_first_parallel_call_only(first_parallel_call):
    counts = run_child(
        f"""
        imported = threads()
        for name, args in {CALLING_THREAD_CALLS!r}.items():
            getattr(caldrith, name)(*args)
        calling_thread = threads()
        caldrith.{first_parallel_call}
        print(json.dumps([START, imported, calling_thread, threads()]))
        """,
        {"RAYON_NUM_THREADS": "3"},
    )
    start = counts[0]
    assert counts == [start, start, start, start + 3]


def make_positions():
    """A few thousand positions, with the points where the kernel changes branch or gives NaN."""
    generator = random.Random(20240611)
    special = [0.0, -0.0, 1.0, 0.9995, 1.0005, -1.0, -0.3, math.nan, math.inf, -math.inf]
    special += [5e-324, 1e-300, 1e300, 0.999999, 1.000001]
    positions = [generator.uniform(-0.5, 4.0) for _ in range(2600)] + special
    generator.shuffle(positions)
    return positions


POSITIONS = make_positions()
RE, RSTAR = 1.0, 0.05


@COUNTS_THREADS
@pytest.mark.parametrize("workers", [1, 2, 3, 8, None])
def test_results_are_identical_for_every_thread_count(machine, workers):
    # Against each element's own one-element call, which runs on the calling thread. The lengths lie
    # on both sides of the work below which a list stays on the calling thread (272 positions and 273
    # at the pool's break-even; 136 and 137 positions of two stars). The nested maps include a point
    # source (rstar 0), a negative radius, and re 0 (every element NaN). Changes of the variables
    # after the first parallel call have no effect.
    counts_and_mismatches = run_child(
        f"""
        l = [float.fromhex(x) for x in {[x.hex() for x in POSITIONS]!r}]
        radii = [({RE!r}, {RSTAR!r})] + [(re, rstar) for re in [1.0, 0.0] for rstar in [0.0, 0.05, 0.3, -0.2]]
        def one_at_a_time(positions, re, rstar):
            return [caldrith.witt_mao_magnification([x], re, rstar)[0] for x in positions]
        before = threads()
        pooled = [caldrith.witt_mao_magnification(l, {RE!r}, {RSTAR!r})]
        added = threads() - before
        os.environ["RAYON_NUM_THREADS"] = str(added + 4)
        os.environ["RAYON_RS_NUM_CPUS"] = str(added + 5)
        expected = [one_at_a_time(l, {RE!r}, {RSTAR!r})]
        for n in [2, 3, 5, 17, 64, 200, 272, 273, 400]:
            pooled.append(caldrith.witt_mao_magnification(l[:n], {RE!r}, {RSTAR!r}))
            expected.append(expected[0][:n])
        pooled += caldrith.multi_witt_mao_magnification(l, [{RE!r}], [{RSTAR!r}])
        pooled += caldrith.multi_witt_mao_magnification(l, [1.0, 0.0], [0.0, 0.05, 0.3, -0.2])
        expected += [one_at_a_time(l, re, rstar) for re, rstar in radii]
        for n in [136, 137]:
            pooled += caldrith.multi_witt_mao_magnification(l[:n], [1.0], [0.05, 0.3])
            expected += [one_at_a_time(l[:n], 1.0, rstar) for rstar in [0.05, 0.3]]
        mismatches = [k for k, (a, b) in enumerate(zip(pooled, expected)) if bits(a) != bits(b)]
        print(json.dumps([added, threads() - before, mismatches]))
        """,
        {} if workers is None else {"RAYON_NUM_THREADS": str(workers)},
    )
    expected_workers = machine if workers is None else workers
    assert counts_and_mismatches == [expected_workers, expected_workers, []]


def test_concurrent_python_threads_get_their_own_results():
    callers = 8
    start = Barrier(callers)

    def call(index):
        # Each caller maps its own slice, so a mix-up between callers shows.
        positions = POSITIONS[index * 300 : index * 300 + 600]
        expected = [caldrith.witt_mao_magnification([x], RE, RSTAR)[0] for x in positions]
        start.wait()
        for _ in range(20):
            assert bits(caldrith.witt_mao_magnification(positions, RE, RSTAR)) == bits(expected)
            [nested] = caldrith.multi_witt_mao_magnification(positions, [RE], [RSTAR])
            assert bits(nested) == bits(expected)

    with ThreadPoolExecutor(callers) as executor:
        for future in [executor.submit(call, index) for index in range(callers)]:
            future.result()


@NO_SHADOW_ROOM
def test_failed_pool_build_is_an_internal_fault_every_time():
    # Address space for the first worker's stack only: the second cannot start.
    body = address_space_beyond_now(3 << 20) + """
    outcomes = []
    for positions in ([], [0.5, 1.5]):
        try:
            caldrith.witt_mao_magnification(positions, 1.0, 0.1)
            outcomes.append("built")
        except BaseException as error:
            outcomes.append([type(error).__name__, *error.args])
    print(json.dumps(outcomes))
    """
    first, later = run_child(body, {"RAYON_NUM_THREADS": "8"})
    assert first[0] == later[0] == "PanicException"
    assert first[1].startswith(BUILD_FAILURE + "IOError(")
    assert later[1] == BUILD_FAILURE + "GlobalPoolAlreadyInitialized }"


@NO_SHADOW_ROOM
def test_refused_thread_of_a_large_pool_is_reported_without_a_stall():
    # The largest pool, with address space for the stacks of about 4000 workers: the workers that did
    # start must not hold up the report (each searching all 65535 queues, say, which takes about a
    # minute here). The timeout only guards against such a stall; bench/pool_startup.py measures how
    # soon the report comes (a fraction of a second).
    body = address_space_beyond_now(8 << 30) + """
    try:
        caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
        outcome = ["built"]
    except BaseException as error:
        outcome = [type(error).__name__, *error.args]
    print(json.dumps(outcome))
    """
    name, message = run_child(body, {"RAYON_NUM_THREADS": "65536"}, timeout=30)
    assert name == "PanicException"
    assert message.startswith(BUILD_FAILURE + "IOError(Os { code: 11, ")
