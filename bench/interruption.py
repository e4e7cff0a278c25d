"""Ctrl-C during long calls, and what the checks for it cost.

1. Latency: a child interpreter starts a long call; 0.5 s later this script sends it SIGINT and
   the child notes when KeyboardInterrupt reaches it. Prints the latency (signal sent to exception
   caught, fastest and slowest of a few runs) and how long the call would have taken, estimated
   from a part of the list.
2. Cost: per-position time of each list function with the installed module and, with
   --reference DIR, with another build of the module found in DIR (for example one built from the
   commit before the checks were added), loaded into the same interpreter; the two take turns call
   by call, and the difference is the cost of the checks.

Run from the repository root: .venv/bin/python bench/interruption.py [--reference DIR]
"""

import argparse
import glob
import importlib.util
import json
import os
import signal
import statistics
import subprocess
import sys
import time

import caldrith

LATENCY_CALLS = [
    ("witt_mao_magnification", 10**7, "1.0, 0.1"),
    ("integrated_heyrovsky_magnification", 10**5, "1.0, 0.1"),
]
LATENCY_RUNS = 3
SIGNAL_AFTER = 0.5

LATENCY_CHILD = """
import json, sys, time
import caldrith
function = caldrith.{name}
l = [0.25, 0.9999, 1.5, 3.0] * ({size} // 4)
sample = l[: {size} // 100]
start = time.perf_counter()
function(sample, {rest})
full = (time.perf_counter() - start) * 100
function([0.5, 1.5], {rest})
print("ready", flush=True)
try:
    function(l, {rest})
    caught = None
except KeyboardInterrupt:
    caught = time.time()
print(json.dumps([caught, full]), flush=True)
"""

# (function, arguments after l, positions per call): the calling-thread functions on short and
# long profiles, and the pooled ones.
COST_CALLS = [
    ("witt_mao_magnification", "1.0, 0.1", 10**6),
    ("multi_witt_mao_magnification", "[1.0, 2.0], [0.1]", 5 * 10**5),
    ("integrated_witt_mao_magnification", "1.0, 0.1", 400),
    ("integrated_heyrovsky_magnification", "1.0, 0.1", 400),
    ("integrated_flux_map_witt_mao_magnification", "1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.8, 0.3]", 200),
    ("integrated_flux_map_heyrovsky_magnification", "1.0, 0.1, [0.0, 0.5, 1.0], [1.0, 0.8, 0.3]", 400),
    ("discrete_flux_map_heyrovsky_magnification", "1.0, 0.1, [0.5], [1.0]", 10**5),
    ("discrete_flux_map_heyrovsky_magnification", "1.0, 0.1, [i / 50 for i in range(50)], [1.0] * 50", 10**4),
]
POOLED = {"witt_mao_magnification", "multi_witt_mao_magnification"}
COST_ROUNDS = 15


def load_reference(directory):
    """The build of the module in `directory`, loaded beside the installed one."""
    [path] = glob.glob(os.path.join(directory, "caldrith*.so"))
    module_spec = importlib.util.spec_from_file_location("caldrith", path)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def per_position(module, name, rest, size):
    """Fastest time per position over COST_ROUNDS calls: CPU time of this thread for the calling-thread
    functions (less disturbed by other load than wall time), wall time for the pooled ones."""
    function = getattr(module, name)
    arguments = eval(f"[{rest}]")
    l = [0.25, 0.9999, 1.5, 3.0, 0.6] * (size // 5)
    clock = time.perf_counter if name in POOLED else time.thread_time
    start = clock()
    function(l, *arguments)
    return (clock() - start) / len(l)


def costs(modules):
    """{build: [seconds per position of each COST_CALLS entry]}; the builds take turns call by call."""
    best = {build: [float("inf")] * len(COST_CALLS) for build in modules}
    for module in modules.values():
        module.witt_mao_magnification([0.5, 1.5], 1.0, 0.1)
    for _ in range(COST_ROUNDS):
        for k, call in enumerate(COST_CALLS):
            for build, module in modules.items():
                best[build][k] = min(best[build][k], per_position(module, *call))
    return best


def latency(name, size, rest):
    code = LATENCY_CHILD.format(name=name, size=size, rest=rest)
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True) as child:
        assert child.stdout.readline() == "ready\n"
        time.sleep(SIGNAL_AFTER)
        sent = time.time()
        child.send_signal(signal.SIGINT)
        caught, full = json.loads(child.stdout.readline())
    return caught - sent, full


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reference", help="directory holding another build of the module")
    options = parser.parse_args()

    print(f"Ctrl-C latency: SIGINT {SIGNAL_AFTER} s into the call, {LATENCY_RUNS} runs")
    for name, size, rest in LATENCY_CALLS:
        runs = [latency(name, size, rest) for _ in range(LATENCY_RUNS)]
        delays = [delay * 1e3 for delay, _ in runs]
        full = statistics.median(full for _, full in runs)
        print(f"  {name} on {size:.0e} positions: {min(delays):.1f} to {max(delays):.1f} ms "
              f"(the whole call: about {full:.1f} s)")

    modules = {"this": caldrith}
    if options.reference:
        modules["reference"] = load_reference(options.reference)
    print(f"Per-position time (ns), fastest of {COST_ROUNDS} calls" +
          (", this build against the reference (taking turns)" if options.reference else ""))
    best = costs(modules)
    for k, (name, rest, size) in enumerate(COST_CALLS):
        line = f"  {name}({rest[:24]}) {best['this'][k] * 1e9:10.1f}"
        if options.reference:
            reference = best["reference"][k]
            line += f"  reference {reference * 1e9:10.1f}  cost {(best['this'][k] / reference - 1) * 100:+.2f}%"
        print(line)


if __name__ == "__main__":
    main()
