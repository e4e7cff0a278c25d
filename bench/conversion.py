"""Speed of converting the positions l: a list against numpy arrays.

Prints nanoseconds per element of witt_mao_magnification on 10^6 positions with rstar = 0, where
the kernel costs a few operations per element and the call's time is converting l and building
the result list. The same positions are given as
  - a list of floats,
  - a contiguous float64 ndarray,
  - a strided float64 view (every second element of an array twice as long),
  - a contiguous float32 ndarray and an array.array('d') (other buffers read the same way).
The workloads take turns call by call for a few rounds; the fastest and the median call are shown,
so that other load on the machine disturbs the figures less. The last column is the time per
element beyond the list's.

Run from the repository root: .venv/bin/python bench/conversion.py
"""

import array
import os
import random
import statistics
import time

import numpy

import caldrith

COUNT = 10**6
RE = 1.0
RSTAR = 0.0
ROUNDS = 15


def workloads():
    generator = random.Random(1)
    values = [generator.uniform(0.0, 3.0) for _ in range(COUNT)]
    doubled = numpy.repeat(numpy.array(values), 2)
    return {
        "list": values,
        "float64 ndarray": numpy.array(values),
        "strided float64 view": doubled[::2],
        "float32 ndarray": numpy.array(values, dtype=numpy.float32),
        "array.array('d')": array.array("d", values),
    }


def main():
    print(f"witt_mao_magnification, {COUNT} positions, re = {RE}, rstar = {RSTAR}")
    print(f"CPUs available: {len(os.sched_getaffinity(0))}, load average before: {os.getloadavg()[0]:.2f}")
    inputs = workloads()
    times = {name: [] for name in inputs}
    caldrith.witt_mao_magnification([0.5], RE, RSTAR)  # builds the pool
    for _ in range(ROUNDS):
        for name, l in inputs.items():
            start = time.perf_counter_ns()
            caldrith.witt_mao_magnification(l, RE, RSTAR)
            times[name].append((time.perf_counter_ns() - start) / COUNT)
    print(f"load average after: {os.getloadavg()[0]:.2f}\n")
    print(f"ns per element (fastest / median of {ROUNDS} calls), and fastest minus the list's:")
    reference = min(times["list"])
    for name, measured in times.items():
        print(
            f"  {name:22s} {min(measured):7.1f} / {statistics.median(measured):7.1f}"
            f"   {min(measured) - reference:+7.1f}"
        )


if __name__ == "__main__":
    main()
