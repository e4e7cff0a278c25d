"""Leak check of the modules: every good input and every error path, called many times in a row.

caldrith's eight functions, and caldrith_ld: every law (the sampled one included) on the calling
thread and on the worker pool, a law's intensity and its making, the light curve, and the errors of
its Python layer and of its compiled core. Calls stopped by a signal handler (an interval timer
fires every 100 µs; its handler raises while a call runs): on the calling thread, and on the pool,
where the waiting caller cancels the map and waits for it to drain.

For each case, after a warm-up, the resident set size (RSS, /proc/self/statm) and the memory that
tracemalloc traces (Python objects) are read before, halfway through and after COUNT calls
(default 10^5; first argument to change it; a tenth of it for the interrupted calls, which run
for a millisecond or so each). A reference kept by a call shows in the traced
figure, a native allocation not freed in the RSS. A leak grows in both halves, while the
interpreter's own caches (of tracebacks printed, say) grow by a few kilobytes now and then: the
figure per call is the smaller growth of the two halves. A case leaks when either figure is at
least TRACED_LIMIT or RSS_LIMIT bytes per call and the growth of each half is at least NOISE_FLOOR
(so that a short run does not take such a cache for a leak); the last line sums up.

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

import numpy as np

import caldrith
import caldrith_ld as ld
from caldrith_ld import _core

COUNT = int(sys.argv[1]) if len(sys.argv) > 1 else 10**5
INTERRUPTED_SHARE = 10  # the interrupted calls run COUNT / INTERRUPTED_SHARE times
WARM_UP = 1000
TRACED_LIMIT = 1.0  # bytes per call: one leaked float is 24
RSS_LIMIT = 16.0  # bytes per call: one leaked 8-byte allocation is 32 with malloc's header
NOISE_FLOOR = 16 << 10  # bytes per half

PAGE = resource.getpagesize()
POSITIONS = [0.0, 0.3, 0.9995, 1.0, 1.5, 3.0, math.nan, math.inf] * 12
PROFILE = ([0.0, 0.5, 1.0], [1.0, 0.8, 0.3])

# caldrith_ld: a star of radius 0.01 and every law; separations at the centre, inside, on and
# beyond the limb, in the far field, NaN and infinite. The long array, far from the star, is
# cheap enough for 10^5 calls and long enough for the pool.
RHO = 0.01
SAMPLED = ld.Sampled([0.0, 0.3, 0.7, 1.0], [1.0, 0.9, 0.6, 0.3])
LAWS = [ld.Uniform(), ld.Linear(0.6), ld.Quadratic(0.4, 0.25), ld.SquareRoot(0.2, 0.5), ld.Logarithmic(0.6, 0.15),
        ld.Power2(0.7, 0.6), ld.FourParameter(0.5, -0.1, 0.4, -0.2), SAMPLED]
U_SHORT = np.array([0.0, 0.004, 0.0099, 0.01, 0.0101, 0.02, 0.5, math.nan, math.inf])
U_POOL = np.linspace(0.02, 2.0, 1000)
U_ON_STAR = np.linspace(0.0, 0.01, 2000)
MU = np.linspace(0.0, 1.0, 9)
# A law sampled at 2000 radii: a few ms a position, stated far cheaper, so that 20 positions stay
# on the calling thread and run until interrupted.
DENSE = ld.Sampled(np.linspace(0.0, 1.0, 2000), np.linspace(1.0, 0.4, 2000))


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


def ld_good_cases():
    for law in LAWS:
        name = f"caldrith_ld {type(law).__name__}"
        yield name, lambda law=law: ld.magnification(U_SHORT, RHO, law)
        yield name + " on the pool", lambda law=law: ld.magnification(U_POOL, RHO, law)
        yield name + " intensity", lambda law=law: law(MU)
    yield "caldrith_ld making laws", lambda: (ld.Quadratic(0.4, 0.25), ld.Sampled([0.0, 1.0], [1.0, 0.5]))
    yield "caldrith_ld light curve, 2-D strided times", lambda: ld.light_curve(
        np.linspace(-1.0, 1.0, 40).reshape(4, 10)[:, ::2], 0.0, 0.002, 20.0, RHO, LAWS[2])


def ld_error_cases():
    quadratic = (2, (0.4, 0.25), (), ())
    out = np.empty(len(U_SHORT))
    read_only = np.empty(len(U_SHORT))
    read_only.setflags(write=False)
    return [
        ("caldrith_ld rho not positive", lambda: ld.magnification(U_SHORT, 0.0, LAWS[2])),
        ("caldrith_ld u not numbers", lambda: ld.magnification(["a", "b"], RHO, LAWS[2])),
        ("caldrith_ld law negative", lambda: ld.Quadratic(2.0, 0.0)),
        ("caldrith_ld sampled radii", lambda: ld.Sampled([0.0, 0.5], [1.0, 1.0])),
        ("caldrith_ld core: out too short", lambda: _core.magnification(U_SHORT, out[:3], RHO, *quadratic)),
        ("caldrith_ld core: rho", lambda: _core.magnification(U_SHORT, out, -1.0, *quadratic)),
        ("caldrith_ld core: no such law", lambda: _core.magnification(U_SHORT, out, RHO, 99, (), (), ())),
        ("caldrith_ld core: coefficients", lambda: _core.magnification(U_SHORT, out, RHO, 2, (0.4,), (), ())),
        ("caldrith_ld core: samples", lambda: _core.magnification(U_SHORT, out, RHO, 7, (), (0.0, 1.0), (1.0,))),
        ("caldrith_ld core: not float64", lambda: _core.magnification(np.arange(9), out, RHO, *quadratic)),
        ("caldrith_ld core: not a buffer", lambda: _core.magnification([0.5] * 9, out, RHO, *quadratic)),
        ("caldrith_ld core: read-only out", lambda: _core.magnification(U_SHORT, read_only, RHO, *quadratic)),
        ("caldrith_ld core: coefficients not a sequence", lambda: _core.intensity(MU, MU.copy(), 2, None, (), ())),
        ("caldrith_ld core: minimum of a sampled law", lambda: _core.minimum_intensity(7, ())),
    ]


def interrupted_cases():
    return [
        ("interrupted, calling thread", lambda: interrupted(caldrith.integrated_heyrovsky_magnification,
                                                            [0.5] * 1000, 1.0, 0.1)),
        ("interrupted, pool", lambda: interrupted(caldrith.witt_mao_magnification, [0.5, 1.5] * 5000, 1.0, 0.1)),
        ("caldrith_ld interrupted, calling thread", lambda: interrupted(ld.magnification, U_ON_STAR[:20], RHO, DENSE)),
        ("caldrith_ld interrupted, pool", lambda: interrupted(ld.magnification, U_ON_STAR, RHO, LAWS[2])),
    ]


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


def measure(call, count):
    """Growth per call of the traced memory and of the RSS, the smaller of two halves of `count`
    calls, and the time per call."""
    run(call, min(WARM_UP, count))
    half = count // 2
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
    cases = [(name, call, COUNT) for name, call in [*good_cases(), *error_cases(), *ld_good_cases(), *ld_error_cases()]]
    cases += [(name, call, COUNT // INTERRUPTED_SHARE) for name, call in interrupted_cases()]
    for name, call, count in cases:
        traced, resident, elapsed = measure(call, count)
        floor = NOISE_FLOOR / (count // 2)
        leaked = traced >= max(TRACED_LIMIT, floor) or resident >= max(RSS_LIMIT, floor)
        if leaked:
            leaks.append(name)
        print(f"{name:58} {traced:8.3f} {resident:8.3f} {elapsed * 1e6:8.1f}{'  LEAK' if leaked else ''}",
              flush=True)
    signal.setitimer(signal.ITIMER_REAL, 0)
    verdict = "clean" if not leaks else "LEAKS in " + ", ".join(leaks)
    print(f"leak check: {len(cases)} cases x {COUNT} calls ({COUNT // INTERRUPTED_SHARE} when interrupted), limits {TRACED_LIMIT} B/call traced and "
          f"{RSS_LIMIT} B/call RSS (at least {NOISE_FLOOR >> 10} KiB per half): {verdict}", flush=True)
    report.close()
    return 1 if leaks else 0


if __name__ == "__main__":
    sys.exit(main())
