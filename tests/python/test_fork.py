"""A child made by fork() after the parent used the module: it builds a pool of its own on its first
parallel call and gets the parent's results to the bit; state left behind by parent threads that do
not exist in the child (a one-time initialisation in progress) does not block it.

Each scenario runs in a fresh interpreter with a timeout, since the fault these tests guard against
is a child that waits forever."""

import json
import textwrap

from conftest import FORKS_WITH_THREADS, run_python

HANG_TIMEOUT = 120

pytestmark = FORKS_WITH_THREADS

PRELUDE = """\
import json, os, struct, sys, warnings
import caldrith
# Forking a process with threads is what these tests are about.
warnings.simplefilter("ignore", DeprecationWarning)

def threads():
    return len(os.listdir("/proc/self/task"))

def bits(values):
    return struct.pack(f"<{len(values)}d", *values).hex()

POSITIONS = [0.0, 0.3, 0.9995, 1.0, 1.0005, 2.5, float("nan"), float("inf"), 5e-324] + [
    i / 997 for i in range(3000)
]

def results():
    # Both pooled functions, the nested one with several (re, rstar) pairs, and a calling-thread one.
    outcome = [bits(caldrith.witt_mao_magnification(POSITIONS, 1.0, 0.05))]
    outcome += [bits(inner) for inner in caldrith.multi_witt_mao_magnification(POSITIONS, [1.0, 2.0], [0.05, 0.3])]
    outcome.append(bits(caldrith.integrated_heyrovsky_magnification(POSITIONS[:20], 1.0, 0.1)))
    return outcome
"""


def run(body, pool_threads="3"):
    env_code = f"os.environ['RAYON_NUM_THREADS'] = {pool_threads!r}\n"
    code = PRELUDE + env_code + textwrap.dedent(body)
    return json.loads(run_python(code, timeout=HANG_TIMEOUT).stdout)


def test_os_fork_child_builds_its_own_pool_by_the_thread_count_rule():
    parent, child = run(
        """
        parent = results()
        # The child reads the environment again when it builds its pool.
        os.environ["RAYON_NUM_THREADS"] = "2"
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            before = threads()
            outcome = results()
            os.write(write_end, json.dumps([threads() - before, outcome]).encode())
            os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            child = json.loads(pipe.read())
        assert os.waitpid(pid, 0)[1] == 0
        print(json.dumps([parent, child]))
        """
    )
    added_threads, child_results = child
    assert added_threads == 2
    assert child_results == parent


def test_multiprocessing_fork_workers_match_the_parent():
    parent, children = run(
        """
        import multiprocessing

        def chunk_results(start):
            chunk = POSITIONS[start : start + 500]
            return [bits(caldrith.witt_mao_magnification(chunk, 1.0, 0.05)),
                    bits(caldrith.multi_witt_mao_magnification(chunk, [1.0], [0.3])[0])]

        starts = list(range(0, len(POSITIONS), 500))
        parent = [chunk_results(start) for start in starts]
        with multiprocessing.get_context("fork").Pool(2) as workers:
            children = workers.map(chunk_results, starts)
        print(json.dumps([parent, children]))
        """
    )
    assert children == parent


def test_fork_during_another_threads_initialisation_does_not_block_the_child():
    # One thread is inside the one-time lookup of collections.abc.Sequence (held there by a stand-in
    # module) when the main thread forks. The child runs the lookup itself.
    parent_error, child_error = run(
        """
        import threading, types

        real = sys.modules["collections.abc"]
        entered, release = threading.Event(), threading.Event()

        def lookup(name):
            entered.set()
            release.wait(60)
            return getattr(real, name)

        stand_in = types.ModuleType("collections.abc")
        stand_in.__getattr__ = lookup
        sys.modules["collections.abc"] = stand_in

        def non_sequence_call(errors):
            try:
                caldrith.witt_mao_magnification({}, 1.0, 0.1)
            except TypeError as error:
                errors.append(str(error))

        parent_errors = []
        thread = threading.Thread(target=non_sequence_call, args=(parent_errors,))
        thread.start()
        entered.wait(60)
        sys.modules["collections.abc"] = real
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            child_errors = []
            non_sequence_call(child_errors)
            os.write(write_end, json.dumps(child_errors).encode())
            os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            child_errors = json.loads(pipe.read())
        os.waitpid(pid, 0)
        release.set()
        thread.join()
        print(json.dumps([parent_errors, child_errors]))
        """
    )
    assert parent_error == child_error == ["'dict' object is not an instance of 'Sequence'"]
