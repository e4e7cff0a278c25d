"""CPU time of a call on one core, for the examples that weigh a framework's models against caldrith_ld's.

Import it before numpy: it asks numpy's BLAS for one thread, whose threads would otherwise spin
against each other on the one core (a fit of MOA-2008-BLG-310 took ten times its CPU so).
"""

from __future__ import annotations

import math
import os
import time
from collections.abc import Callable

for _variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_variable, "1")


def pin_to_one_core() -> int:
    """Keeps this process on one CPU, and caldrith's pool (built on its first long call, after this)
    to one worker; returns that CPU."""
    cpu = min(os.sched_getaffinity(0))
    os.sched_setaffinity(0, {cpu})
    os.environ["RAYON_NUM_THREADS"] = "1"
    return cpu


def cpu_seconds(call: Callable[[], object], repeat: int = 5, number: int = 1) -> float:
    """CPU seconds per call: the least over `repeat` turns of `number` calls each, after one call
    that warms caches and tables up."""
    call()
    best = math.inf
    for _ in range(repeat):
        start = time.process_time()
        for _ in range(number):
            call()
        best = min(best, time.process_time() - start)
    return best / number
