"""The process-wide worker pool behind the two uniform-disk list functions.

Each pool property is observed in a fresh interpreter with a controlled environment:
the pool's size is the number of threads the process gains (entries of /proc/self/task).
"""

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
from conftest import VALID_CALLS, run_python

POOL_VARIABLES = ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")

PRELUDE = """\
import json, os
def threads():
    return len(os.listdir("/proc/self/task"))
"""

# Threads gained by the first parallel call of a fresh interpreter.
ADDED_THREADS = """
import caldrith
before = threads()
caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
print(json.dumps(threads() - before))
"""


def environment(settings):
    """os.environ without the pool variables, plus settings (str or bytes values)."""
    env = {name: value for name, value in os.environ.items() if name not in POOL_VARIABLES}
    env.update(settings)
    return env


def run_child(body, settings):
    """Runs body after PRELUDE in a fresh interpreter; returns what it printed as JSON."""
    completed = run_python(PRELUDE + textwrap.dedent(body), env=environment(settings))
    return json.loads(completed.stdout)


@pytest.fixture(scope="module")
def machine():
    """The machine's available parallelism, as the pool sees it with neither variable set."""
    count = run_child(ADDED_THREADS, {})
    assert 1 <= count <= len(os.sched_getaffinity(0))
    return count


def bits(values):
    """The exact bit patterns of a list of doubles, so that NaN compares equal to NaN."""
    return struct.pack(f"<{len(values)}d", *values).hex()


# (RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS, expected workers); None leaves a variable unset.
# "{spare}" stands for a count that differs from the machine's, so each case tells the sources apart.
THREAD_COUNT_CASES = [
    # RAYON_NUM_THREADS decides when it parses to a positive count.
    ("1", None, 1),
    ("2", None, 2),
    ("3", None, 3),
    ("8", None, 8),
    ("+4", None, 4),
    ("0004", None, 4),
    ("3", "{spare}", 3),
    # Not parseable: RAYON_RS_NUM_CPUS decides.
    (" 4", "{spare}", "spare"),
    ("4 ", "{spare}", "spare"),
    ("-1", "{spare}", "spare"),
    ("", "{spare}", "spare"),
    ("abc", "{spare}", "spare"),
    ("+", "{spare}", "spare"),
    ("4.0", "{spare}", "spare"),
    ("18446744073709551616", "{spare}", "spare"),
    (b"4\xff", "{spare}", "spare"),
    (None, "{spare}", "spare"),
    (None, "+{spare}", "spare"),
    (None, "000{spare}", "spare"),
    # Zero selects the machine, even with RAYON_RS_NUM_CPUS set.
    ("0", "{spare}", "machine"),
    ("+000", "{spare}", "machine"),
    ("0", None, "machine"),
    # Neither variable gives a positive count: the machine.
    (None, "0", "machine"),
    ("abc", "0", "machine"),
    (None, " {spare}", "machine"),
    (None, "-1", "machine"),
    (None, "", "machine"),
    (None, b"\xff", "machine"),
    ("abc", "xyz", "machine"),
]


@pytest.mark.parametrize("num_threads, num_cpus, expected", THREAD_COUNT_CASES, ids=repr)
def test_thread_count_from_the_environment(machine, num_threads, num_cpus, expected):
    spare = machine + 3
    settings = {}
    for name, value in zip(POOL_VARIABLES, (num_threads, num_cpus)):
        if value is not None:
            settings[name] = value.format(spare=spare) if isinstance(value, str) else value
    workers = {"machine": machine, "spare": spare}.get(expected, expected)
    assert run_child(ADDED_THREADS, settings) == workers


CALLING_THREAD_FUNCTIONS = {
    name: args
    for name, args in VALID_CALLS.items()
    if name not in ("witt_mao_magnification", "multi_witt_mao_magnification")
}


@pytest.mark.parametrize(
    "first_parallel_call",
    [
        "witt_mao_magnification([], 1.0, 0.1)",
        "witt_mao_magnification([0.5], 1.0, 0.1)",
        "multi_witt_mao_magnification([], [1.0], [0.1])",
        "multi_witt_mao_magnification([0.5], [1.0], [0.1])",
        "multi_witt_mao_magnification([0.5], [], [0.1])",
    ],
)
def test_pool_is_built_by_the_first_parallel_call_only(first_parallel_call):
    counts = run_child(
        f"""
        start = threads()
        import caldrith
        imported = threads()
        for name, args in {CALLING_THREAD_FUNCTIONS!r}.items():
            getattr(caldrith, name)(*args)
        calling_thread = threads()
        caldrith.{first_parallel_call}
        print(json.dumps([start, imported, calling_thread, threads()]))
        """,
        {"RAYON_NUM_THREADS": "3"},
    )
    start = counts[0]
    assert counts == [start, start, start, start + 3]


@pytest.mark.parametrize("settings", [{"RAYON_NUM_THREADS": "2"}, {}], ids=["two", "unset"])
def test_later_changes_of_the_environment_have_no_effect(machine, settings):
    added = run_child(
        """
        import caldrith
        before = threads()
        caldrith.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
        first = threads() - before
        os.environ["RAYON_NUM_THREADS"] = str(first + 4)
        os.environ["RAYON_RS_NUM_CPUS"] = str(first + 5)
        caldrith.witt_mao_magnification([0.5, 1.5, 2.5], 1.0, 0.1)
        caldrith.multi_witt_mao_magnification([0.5, 1.5], [1.0, 2.0], [0.1, 0.2])
        print(json.dumps([first, threads() - before]))
        """,
        settings,
    )
    workers = int(settings.get("RAYON_NUM_THREADS", machine))
    assert added == [workers, workers]


def make_positions():
    """A few thousand positions, with the points where the kernel changes branch or gives NaN."""
    generator = random.Random(20240611)
    special = [0.0, -0.0, 1.0, 0.9995, 1.0005, -1.0, -0.3, math.nan, math.inf, -math.inf]
    special += [5e-324, 1e-300, 1e300, 0.999999, 1.000001]
    positions = [generator.uniform(-0.5, 4.0) for _ in range(2600)] + special
    generator.shuffle(positions)
    return positions


POSITIONS = make_positions()
RE = 1.0
RSTAR = 0.05
# Pairs for the nested maps: point source (rstar 0), negative radius, and re 0 (every element NaN).
MULTI_RE = [1.0, 0.0]
MULTI_RSTAR = [0.0, 0.05, 0.3, -0.2]
PREFIX_LENGTHS = [2, 3, 5, 17, 64]


def one_at_a_time(positions, re, rstar):
    """Each element by its own one-element call, which runs on the calling thread."""
    return [caldrith.witt_mao_magnification([x], re, rstar)[0] for x in positions]


@pytest.fixture(scope="module")
def reference():
    single = one_at_a_time(POSITIONS, RE, RSTAR)
    assert any(math.isnan(value) for value in single)
    multi = [one_at_a_time(POSITIONS, re, rstar) for re in MULTI_RE for rstar in MULTI_RSTAR]
    return {
        "single": bits(single),
        "prefixes": [bits(single[:n]) for n in PREFIX_LENGTHS],
        "multi": [bits(values) for values in multi],
        "multi_one_pair": [bits(single)],
    }


@pytest.fixture(scope="module")
def positions_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("pool") / "positions.json"
    path.write_text(json.dumps([x.hex() for x in POSITIONS]))
    return path


@pytest.mark.parametrize("workers", [1, 2, 3, 8])
def test_results_are_identical_for_every_thread_count(reference, positions_file, workers):
    results = run_child(
        f"""
        import struct, caldrith
        def bits(values):
            return struct.pack(f"<{{len(values)}}d", *values).hex()
        with open({str(positions_file)!r}) as file:
            l = [float.fromhex(text) for text in json.load(file)]
        print(json.dumps({{
            "single": bits(caldrith.witt_mao_magnification(l, {RE!r}, {RSTAR!r})),
            "prefixes": [bits(caldrith.witt_mao_magnification(l[:n], {RE!r}, {RSTAR!r}))
                         for n in {PREFIX_LENGTHS!r}],
            "multi": [bits(values) for values in
                      caldrith.multi_witt_mao_magnification(l, {MULTI_RE!r}, {MULTI_RSTAR!r})],
            "multi_one_pair": [bits(values) for values in
                               caldrith.multi_witt_mao_magnification(l, [{RE!r}], [{RSTAR!r}])],
        }}))
        """,
        {"RAYON_NUM_THREADS": str(workers)},
    )
    assert results == reference


def test_concurrent_python_threads_get_their_own_results():
    callers = 8
    start = Barrier(callers)

    def call(index):
        # Each caller maps its own slice, so a mix-up between callers shows.
        positions = POSITIONS[index * 300 : index * 300 + 600]
        expected = one_at_a_time(positions, RE, RSTAR)
        start.wait()
        for _ in range(20):
            assert bits(caldrith.witt_mao_magnification(positions, RE, RSTAR)) == bits(expected)
            [nested] = caldrith.multi_witt_mao_magnification(positions, [RE], [RSTAR])
            assert bits(nested) == bits(expected)

    with ThreadPoolExecutor(callers) as executor:
        for future in [executor.submit(call, index) for index in range(callers)]:
            future.result()


def test_failed_pool_build_is_an_internal_fault_every_time():
    # Address space for the first worker's stack only: the second cannot start.
    body = """
    import resource
    import caldrith

    size = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmSize:"))
    limit = size * 1024 + (3 << 20)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
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
    prefix = "The global thread pool has not been initialized.: ThreadPoolBuildError { kind: "
    assert first[0] == later[0] == "PanicException"
    assert first[1].startswith(prefix + "IOError(")
    assert later[1] == prefix + "GlobalPoolAlreadyInitialized }"
