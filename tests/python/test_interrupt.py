"""Ctrl-C and other signal handlers that raise stop a long call promptly: the call ends with the
handler's exception and no result, and the next call works and gives the same results as before.

Each call runs in a fresh interpreter; its uninterrupted duration is estimated there from a part of
the same list, and the interrupted call has to end well before that. How promptly it ends is
measured by bench/interruption.py."""

import json
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import HOLDS_BACK_SIGNALS

pytestmark = HOLDS_BACK_SIGNALS

# Each list function with the number of positions that keeps it busy for several seconds here,
# and its arguments after l. The positions cycle through the inside, the limb and the outside of
# the star.
LONG_CALLS = {
    "witt_mao_magnification": (3 * 10**7, "1.0, 0.1"),
    "multi_witt_mao_magnification": (10**7, "[1.0, 2.0, 3.0, 4.0], [0.1]"),
    "integrated_witt_mao_magnification": (10**5, "1.0, 0.1"),
    "integrated_heyrovsky_magnification": (10**5, "1.0, 0.1"),
    "integrated_flux_map_witt_mao_magnification": (10**5, "1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.8, 0.3]"),
    "integrated_flux_map_heyrovsky_magnification": (10**5, "1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.8, 0.3]"),
    "discrete_flux_map_heyrovsky_magnification": (10**6, "1.0, 0.1, [i / 400 for i in range(400)], [1.0] * 400"),
}

CHILD = """
import json, signal, struct, sys, time
import caldrith

def bits(values):
    return struct.pack(f"<{{len(values)}}d", *values).hex()

function = caldrith.{name}
def call(l):
    result = function(l, {rest})
    return result[0] if "{name}" == "multi_witt_mao_magnification" else result

l = [0.25, 0.9999, 1.5, 3.0] * ({size} // 4)
sample = l[: max(4, {size} // 200)]
start = time.perf_counter()
reference = bits(call(sample))
full = (time.perf_counter() - start) * len(l) / len(sample)
{arm}
start = time.perf_counter()
try:
    call(l)
    outcome = "finished"
except BaseException as error:
    outcome = [type(error).__name__, str(error), error.__context__ is None]
elapsed = time.perf_counter() - start
print(json.dumps([outcome, elapsed, full, bits(call(sample)) == reference]))
"""

# SIGALRM after 0.3 s, whose handler raises an ordinary exception.
ALARM = """
class Stop(Exception):
    pass
def stop(signum, frame):
    raise Stop("alarm")
signal.signal(signal.SIGALRM, stop)
signal.setitimer(signal.ITIMER_REAL, 0.3)
"""

# Tells the test process that the long call starts now; the test then sends SIGINT. Python's own
# handler first: a child started from a background job inherits SIGINT ignored, and Python then
# installs none.
READY = 'signal.signal(signal.SIGINT, signal.default_int_handler); print("ready", flush=True)'


def check(report):
    outcome, elapsed, full, same_after = report
    assert full > 1.0, "the call is too short to tell an interruption from its end"
    assert elapsed < full / 2
    assert same_after
    return outcome


# Every list function on the machine's pool, and the two pooled ones on a pool of one worker, where
# the whole list is evaluated on the calling thread.
ALARM_CASES = [(name, None) for name in LONG_CALLS] + [
    (name, "1") for name in ["witt_mao_magnification", "multi_witt_mao_magnification"]
]


@pytest.mark.parametrize("name, workers", ALARM_CASES)
def test_raising_signal_handler_stops_the_call(name, workers):
    size, rest = LONG_CALLS[name]
    code = CHILD.format(name=name, size=size, rest=rest, arm=ALARM)
    env = None if workers is None else dict(os.environ, RAYON_NUM_THREADS=workers)
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600, env=env)
    assert completed.returncode == 0, completed.stderr
    # Exactly the handler's exception, not chained to another one.
    assert check(json.loads(completed.stdout)) == ["Stop", "alarm", True]


@pytest.mark.parametrize("name", ["witt_mao_magnification", "integrated_heyrovsky_magnification"])
def test_ctrl_c_raises_keyboard_interrupt(name):
    size, rest = LONG_CALLS[name]
    code = CHILD.format(name=name, size=size, rest=rest, arm=READY)
    with subprocess.Popen(
        [sys.executable, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    ) as child:
        try:
            assert child.stdout.readline() == "ready\n"
            time.sleep(0.5)
            child.send_signal(signal.SIGINT)
            stdout, stderr = child.communicate(timeout=600)
        finally:
            child.kill()
    assert child.returncode == 0, stderr
    assert check(json.loads(stdout)) == ["KeyboardInterrupt", "", True]


def test_signal_handler_stops_a_long_conversion():
    # A list of 3e7 integers takes a good fraction of a second to convert; the alarm comes early in
    # it. rstar cannot be converted, so a call that finished converting l ends in a TypeError: the
    # handler's exception shows that the conversion itself stopped, and it carries no parameter note.
    code = textwrap.dedent(
        """
        import json, signal
        import caldrith

        class Stop(Exception):
            pass

        def stop(signum, frame):
            raise Stop("alarm")

        l = [1] * (3 * 10**7)
        signal.signal(signal.SIGALRM, stop)
        signal.setitimer(signal.ITIMER_REAL, 0.02)
        try:
            caldrith.witt_mao_magnification(l, 1.0, "not a number")
            outcome = "finished"
        except BaseException as error:
            outcome = [type(error).__name__, str(error), getattr(error, "__notes__", [])]
        print(json.dumps([outcome, caldrith.witt_mao_magnification([0.5], 1.0, 0.1)[0]]))
        """
    )
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stderr
    outcome, after = json.loads(completed.stdout)
    assert outcome == ["Stop", "alarm", []]
    assert after > 1.0


def test_signal_while_the_result_list_is_built_stops_the_call():
    # SIGALRM every millisecond; its handler raises only once more than 10^5 results exist (each
    # result is a new float: the interpreter's count of allocated blocks tells). So it stops the
    # call while the list of 10^6 results is built, not after.
    code = textwrap.dedent(
        """
        import json, signal, sys
        import caldrith

        class Stop(Exception):
            pass

        size = 10**6
        made = []

        def stop(signum, frame):
            if sys.getallocatedblocks() - before > size // 10:
                made.append(sys.getallocatedblocks() - before)
                signal.setitimer(signal.ITIMER_REAL, 0)
                raise Stop("signal")

        l = [0.5] * size
        signal.signal(signal.SIGALRM, stop)
        before = sys.getallocatedblocks()
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        result = None
        try:
            result = caldrith.witt_mao_magnification(l, 1.0, 0.0)
            outcome = "finished"
        except Stop as error:
            outcome = [str(error), error.__context__ is None]
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(json.dumps([outcome, result is None, made[0], size, caldrith.witt_mao_magnification([0.5], 1.0, 0.1)[0]]))
        """
    )
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)
    assert completed.returncode == 0, completed.stderr
    outcome, no_result, made, size, after = json.loads(completed.stdout)
    assert outcome == ["signal", True]
    assert no_result
    assert made < size / 2
    assert after > 1.0
