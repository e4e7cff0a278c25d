"""Leak check of the module: every good input and every error path, called many times in a row.

For each case, after a warm-up, the resident set size (RSS, /proc/self/statm) and the memory that
tracemalloc traces (Python objects) are read before, halfway through and after COUNT calls
(default 10^5; first argument to change it). A reference kept by a call shows in the traced
figure, a native allocation not freed in the RSS. A leak grows in both halves, while the
interpreter's own caches (of tracebacks printed, say) grow by a few kilobytes now and then: the
figure per call is the smaller growth of the two halves. A case leaks when either figure is at
least TRACED_LIMIT or RSS_LIMIT bytes per call and the growth of each half is at least NOISE_FLOOR
(so that a short run does not take such a cache for a leak); the last line sums up.

Cancelling a pooled map is covered by the C++ tests under LeakSanitizer
(scripts/run_sanitizers.sh): its poll interval makes 10^5 calls take too long here.

Run from the repository root: .venv/bin/python scripts/leak_check.py [COUNT]
"""

import collections.abc
import gc
import math
import os
import resource
import signal
import sys
import time
import tracemalloc

import caldrith

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10**5
WARM_UP = 1000
TRACED_LIMIT = 1.0  # bytes per call: one leaked float is 24
RSS_LIMIT = 16.0  # bytes per call: one leaked 8-byte allocation is 32 with malloc's header
NOISE_FLOOR = 16 << 10  # bytes per half

PAGE = resource.getpagesize()
POSITIONS = [0.0, 0.3, 0.9995, 1.0, 1.5, 3.0, math.nan, math.inf] * 12
PROFILE = ([0.0, 0.5, 1.0], [1.0, 0.8, 0.3])


class Lengthless(collections.abc.Sequence):
    """A sequence whose __len__ raises: the error is discarded."""

    def __init__(self, items):
        self.items = items

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, index):
        return self.items[index]


class FailingIteration(Lengthless):
    def __iter__(self):
        yield 0.5
        raise LookupError("iteration stopped")


class BadFloat:
    def __float__(self):
        raise ArithmeticError("no float here")


class PanickingFloat:
    def __float__(self):
        # An internal fault of the module, raised from a conversion of the module.
        caldrith.integrated_flux_map_heyrovsky_magnification([0.5], 1.0, 0.1, [0.0], [])
        return 0.5


class Stop(Exception):
    pass


stop_armed = False


def stop(signum, frame):
    if stop_armed:
        raise Stop


def interrupted(function, *arguments):
    """The call, stopped by a signal handler that raises (the interval timer fires every 100 µs)."""
    global stop_armed
    try:
        stop_armed = True
        try:
            function(*arguments)
        finally:
            stop_armed = False
    except Stop:
        pass


def good_cases():
    for name in caldrith.__all__:
        function = getattr(caldrith, name)
        if name == "heyrovsky_magnification":
            yield name, lambda f=function: f(0.5, 0.3, 1.0, 0.1)
            continue
        pooled = name in ("witt_mao_magnification", "multi_witt_mao_magnification")
        # The pooled functions on lists long enough to be split over the workers, the others on one
        # position of a tuple and of a sequence whose __len__ raises.
        if name == "multi_witt_mao_magnification":
            yield name, lambda f=function: f(POSITIONS, [1.0, 2.0], [0.05, 0.1])
            continue
        extra = PROFILE if name.startswith(("integrated_flux", "discrete")) else ()
        if pooled:
            yield name, lambda f=function, e=extra: f(POSITIONS, 1.0, 0.1, *e)
        else:
            yield name + " (tuple)", lambda f=function, e=extra: f((0.5,), 1.0, 0.1, *e)
            yield name + " (__len__ raises)", lambda f=function, e=extra: f(Lengthless([1.5]), 1.0, 0.1, *e)


def error_cases():
    wm = caldrith.witt_mao_magnification
    fm = caldrith.integrated_flux_map_heyrovsky_magnification
    return [
        ("too many positional", lambda: caldrith.heyrovsky_magnification(1.0, 2.0, 3.0, 4.0, 5.0)),
        ("unexpected keyword", lambda: wm([0.5], 1.0, 0.1, x=1)),
        ("multiple values", lambda: wm([0.5], 1.0, 0.1, l=[0.5])),
        ("missing", lambda: wm([0.5])),
        ("str for a sequence", lambda: wm("0.5", 1.0, 0.1)),
        ("not a sequence", lambda: wm({}, 1.0, 0.1)),
        ("None for a sequence", lambda: wm(None, 1.0, 0.1)),
        ("str item", lambda: wm([0.5, "x"], 1.0, 0.1)),
        ("__float__ raises", lambda: wm([0.5, BadFloat()], 1.0, 0.1)),
        ("iteration raises", lambda: wm(FailingIteration([0.5]), 1.0, 0.1)),
        ("int too large", lambda: wm([0.5], 10**400, 0.1)),
        ("str for a float", lambda: caldrith.heyrovsky_magnification(0.5, "r", 1.0, 0.1)),
        ("model error", lambda: caldrith.heyrovsky_magnification(math.nan, 0.5, 1.0, 0.1)),
        ("model error in a list", lambda: caldrith.discrete_flux_map_heyrovsky_magnification([0.5, math.nan], 1.0, 0.1, [0.5], [1.0])),
        ("internal fault", lambda: fm([0.5], 1.0, 0.1, [0.0, 1.0], [1.0])),
        ("internal fault resumed", lambda: wm([PanickingFloat()], 1.0, 0.1)),
        ("interrupted", lambda: interrupted(caldrith.integrated_heyrovsky_magnification, [0.5] * 1000, 1.0, 0.1)),
    ]


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def run(call, count):
    for _ in range(count):
        try:
            call()
        except Exception:
            pass
        except BaseException as error:  # the internal-fault exception
            if type(error).__name__ != "PanicException":
                raise


def readings():
    gc.collect()
    return tracemalloc.get_traced_memory()[0], rss()


def measure(call):
    """Growth per call of the traced memory and of the RSS, the smaller of two halves of COUNT calls,
    and the time per call."""
    run(call, WARM_UP)
    half = COUNT // 2
    start = time.perf_counter()
    before = readings()
    run(call, half)
    middle = readings()
    run(call, half)
    after = readings()
    elapsed = time.perf_counter() - start
    traced, resident = (min(m - b, a - m) / half for b, m, a in zip(before, middle, after))
    return traced, resident, elapsed / (2 * half)


def main():
    # Internal faults write a diagnostic per call: keep standard error for this script's own.
    report = os.fdopen(os.dup(2), "w", buffering=1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    signal.signal(signal.SIGALRM, stop)
    signal.setitimer(signal.ITIMER_REAL, 1e-4, 1e-4)
    tracemalloc.start()
    print(f"leak check: {COUNT} calls per case; bytes per call", flush=True)
    print(f"{'case':58} {'traced':>8} {'RSS':>8} {'µs/call':>8}", flush=True)
    leaks = []
    cases = [*good_cases(), *error_cases()]
    for name, call in cases:
        traced, resident, elapsed = measure(call)
        floor = NOISE_FLOOR / (COUNT // 2)
        leaked = traced >= max(TRACED_LIMIT, floor) or resident >= max(RSS_LIMIT, floor)
        if leaked:
            leaks.append(name)
        print(f"{name:58} {traced:8.3f} {resident:8.3f} {elapsed * 1e6:8.1f}{'  LEAK' if leaked else ''}",
              flush=True)
    signal.setitimer(signal.ITIMER_REAL, 0)
    verdict = "clean" if not leaks else "LEAKS in " + ", ".join(leaks)
    print(f"leak check: {len(cases)} cases x {COUNT} calls, limits {TRACED_LIMIT} B/call traced and "
          f"{RSS_LIMIT} B/call RSS (at least {NOISE_FLOOR >> 10} KiB per half): {verdict}", flush=True)
    report.close()
    return 1 if leaks else 0


if __name__ == "__main__":
    sys.exit(main())
