"""Ctrl-C during long calls, and what the checks for it cost.

1. Latency: a child interpreter starts a long call; 0.5 s later this script sends it SIGINT and
   the child notes when its SIGINT handler runs (the call's check has seen the signal) and when
   the KeyboardInterrupt that the handler raises reaches it (the call has drained its work and
   freed its arrays: some 4 to 10 ms for the 160 MB of a list of 10^7). Prints both latencies
   (fastest, median and slowest of a few runs) and how long the call would have taken, estimated
   from a part of the array. Calls: caldrith's list functions on the pool and on the
   calling thread (a pool of one worker), and caldrith_ld with a power-2 law and with sampled laws
   of 1000 and 20000 samples (about 0.6 us, 40 us and 0.8 ms a position on the star), on pools of
   1 and 2 workers, and the power-2 law beside a Python thread that spins.
2. A busy Python thread: the time of a caldrith_ld call (5 x 10^5 positions on the star with a
   power-2 law, about 0.3 s) alone and beside a thread that spins in Python (`while True: pass`), against the same spin in
   another process, on pools of 1 and 2 workers, and with the call on a second thread while the
   main thread spins. The calling thread takes the interpreter lock back to look for signals; a
   spinning thread makes it wait for the switch interval (5 ms) each time.
3. Cost: per-position time of each list function with the installed module and, with
   --reference DIR, with another build of the module found in DIR (for example one built from the
   commit before the checks were added), loaded into the same interpreter; the two take turns call
   by call, and the difference is the cost of the checks.

Run from the repository root: .venv/bin/python bench/interruption.py [--reference DIR] [--runs N]
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

LATENCY_RUNS = 5
SIGNAL_AFTER = 0.5

# (label, workers or None for the machine's pool, set-up code, size, call of `positions`): the
# set-up defines `positions(size)`; the child times a hundredth of the call first.
CALDRITH_SETUP = """
import caldrith
def positions(size):
    return [0.25, 0.9999, 1.5, 3.0] * (size // 4)
"""
LD_SETUP = """
import numpy as np
import caldrith_ld as ld
def positions(size):
    return np.linspace(0.0, 0.01, size)  # on the star, rho = 0.01
def sampled(samples):
    r = np.linspace(0.0, 1.0, samples)
    return ld.Sampled(r, 1.0 - 0.6 * (1.0 - np.sqrt(1.0 - r * r)))
"""
SPINNING_THREAD = """
import threading
def spin():
    while True:
        pass
threading.Thread(target=spin, daemon=True).start()
"""
LATENCY_CALLS = [
    ("witt_mao_magnification, pool", None, CALDRITH_SETUP, 10**7, "caldrith.witt_mao_magnification({}, 1.0, 0.1)"),
    ("witt_mao_magnification, calling thread", 1, CALDRITH_SETUP, 10**7,
     "caldrith.witt_mao_magnification({}, 1.0, 0.1)"),
    ("integrated_heyrovsky_magnification", None, CALDRITH_SETUP, 10**5,
     "caldrith.integrated_heyrovsky_magnification({}, 1.0, 0.1)"),
] + [
    (f"caldrith_ld {label}, {workers} worker{'s' if workers > 1 else ''}", workers, LD_SETUP, size,
     f"ld.magnification({{}}, 0.01, {law})")
    # Sized for calls of a few seconds on one worker: a power-2 law about 0.6 us a position on
    # the star, a sampled one about 40 ns a sample (the closed-form laws' 25 ns would need
    # gigabytes of positions).
    for label, law, size in [
        ("Power2(0.7, 0.6)", "ld.Power2(0.7, 0.6)", 5 * 10**6),
        ("sampled, 1000 samples", "sampled(1000)", 60000),
        ("sampled, 20000 samples", "sampled(20000)", 3000),
    ]
    for workers in [1, 2]
] + [
    # The call waits for the interpreter lock (a switch interval) to run the handler, and looks
    # for signals less often while the lock is contended.
    (f"caldrith_ld Power2(0.7, 0.6), {workers} worker{'s' if workers > 1 else ''}, beside a spinning thread",
     workers, LD_SETUP + SPINNING_THREAD, 5 * 10**6, "ld.magnification({}, 0.01, ld.Power2(0.7, 0.6))")
    for workers in [1, 2]
]

# The handler notes when it runs (the call's check has seen the signal), then raises as Python's
# own does; the call then drains its work and frees its arrays before the exception is caught.
LATENCY_CHILD = """
import json, signal, sys, time
{setup}
l = positions({size})
sample = l[: max(2, {size} // 100)]
start = time.perf_counter()
{call_sample}
full = (time.perf_counter() - start) * len(l) / len(sample)
handled = []
def handler(signum, frame):
    handled.append(time.time())
    raise KeyboardInterrupt
signal.signal(signal.SIGINT, handler)
print("ready", flush=True)
try:
    {call}
    caught = None
except KeyboardInterrupt:
    caught = time.time()
print(json.dumps([handled[0], caught, full]), flush=True)
"""

# A caldrith_ld call timed alone and beside a spinning Python thread or process, fastest of
# BUSY_ROUNDS each, the two taking turns. With "main spins" the call runs on a second thread.
BUSY_ROUNDS = 5
BUSY_CHILD = """
import json, subprocess, sys, threading, time
import numpy as np
import caldrith_ld as ld
law = ld.Power2(0.7, 0.6)  # about 0.3 s on one worker: long against a switch interval
u = np.linspace(0.0, 0.01, 500_000)
ld.magnification(u[:10], 0.01, law)
spinning = False

def spin():
    while spinning:
        pass

def timed_call():
    start = time.perf_counter()
    ld.magnification(u, 0.01, law)
    return time.perf_counter() - start

def beside(spinner):
    global spinning
    spinning = True
    if spinner == "thread":
        other = threading.Thread(target=spin)
        other.start()
        elapsed = timed_call()
        spinning = False
        other.join()
    elif spinner == "process":
        other = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        time.sleep(0.05)
        elapsed = timed_call()
        other.kill()
        other.wait()
    else:  # the main thread spins while a second thread calls
        result = []
        other = threading.Thread(target=lambda: result.append(timed_call()))
        other.start()
        while other.is_alive():
            pass
        elapsed = result[0]
    return elapsed

alone, busy = [], []
for _ in range({rounds}):
    alone.append(timed_call())
    busy.append(beside("{spinner}"))
print(json.dumps([min(alone), min(busy)]))
"""
BUSY_CASES = [(spinner, workers) for workers in [1, 2] for spinner in ["thread", "process", "main spins"]]

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


def child_env(workers):
    return None if workers is None else {**os.environ, "RAYON_NUM_THREADS": str(workers)}


def latency(workers, setup, size, call):
    code = LATENCY_CHILD.format(setup=setup, size=size, call_sample=call.format("sample"), call=call.format("l"))
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True,
                          env=child_env(workers)) as child:
        assert child.stdout.readline() == "ready\n"
        time.sleep(SIGNAL_AFTER)
        sent = time.time()
        child.send_signal(signal.SIGINT)
        handled, caught, full = json.loads(child.stdout.readline())
    return handled - sent, caught - sent, full


def busy(spinner, workers):
    code = BUSY_CHILD.format(rounds=BUSY_ROUNDS, spinner=spinner)
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                               env=child_env(workers), timeout=600)
    return json.loads(completed.stdout)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reference", help="directory holding another build of the module")
    parser.add_argument("--runs", type=int, default=LATENCY_RUNS, help="interrupted calls per case")
    options = parser.parse_args()

    print(f"Ctrl-C latency: SIGINT {SIGNAL_AFTER} s into the call, {options.runs} runs, fastest / median / slowest ms "
          "until the handler runs and until the exception is caught (the call's work drained, its arrays freed)")
    for label, workers, setup, size, call in LATENCY_CALLS:
        runs = [latency(workers, setup, size, call) for _ in range(options.runs)]
        full = statistics.median(run[2] for run in runs)
        figures = []
        for k in (0, 1):
            delays = sorted(run[k] * 1e3 for run in runs)
            figures.append(f"{delays[0]:5.1f} / {statistics.median(delays):5.1f} / {delays[-1]:5.1f}")
        print(f"  {label} on {size:.0e} positions (the whole call: about {full:.1f} s)\n"
              f"      handler {figures[0]} ms, caught {figures[1]} ms")

    print(f"caldrith_ld beside a spinning Python thread or process: 5 x 10^5 positions of a power-2 law, fastest of {BUSY_ROUNDS}")
    for spinner, workers in BUSY_CASES:
        alone, beside = busy(spinner, workers)
        print(f"  {workers} worker{'s' if workers > 1 else ' '}, {spinner:>10}: alone {alone * 1e3:6.1f} ms, "
              f"beside it {beside * 1e3:6.1f} ms ({beside / alone:.2f}x)")

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
