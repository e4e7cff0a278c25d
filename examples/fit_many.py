"""Fits many microlensing events at once on a Dask cluster: simulated ones, and MOA-2008-BLG-310.

    .venv/bin/python examples/fit_many.py                                  # local cluster, 2 processes
    .venv/bin/python examples/fit_many.py --events 200 --workers 8
    .venv/bin/python examples/fit_many.py --scheduler tcp://host:8786      # an existing cluster

Each event is one task: a finite-source point-lens fit (scipy.optimize.least_squares, linear limb
darkening through caldrith_ld, source and blend flux solved linearly; see pointlens.py) with its
covariance. The simulated light curves come from known parameters and a
seeded generator (event i of seed s is the same on every machine); the fits start from the true
values perturbed by 10-30 %, as an event finder's rough estimates would be, and again with the
lens passing at half and at one and a half stellar radii (pointlens.fit_best_of_limb_starts). The real event is fitted
as in fit_mb08310.py (planetary anomaly masked, errors scaled to chi^2 = 1 per data set) and listed
with the published values as its "true" ones.

Why Dask: the tasks are independent Python calls with numpy arrays in and a row out, which is
Dask distributed's plain futures API; the same script runs on a laptop (LocalCluster of worker
processes) and on a cluster of many machines (dask-scheduler / dask-worker, dask-jobqueue on a
batch system, Kubernetes) by changing only the scheduler address. Ray would do the same with a
second runtime to install and run; MPI (mpi4py) needs an MPI launcher and a static set of ranks,
and does no load balancing of uneven tasks by itself. Dask's worker processes are started with
'spawn', so no worker inherits a forked copy of caldrith's thread pool.

Threads: every worker process runs one caldrith worker thread (RAYON_NUM_THREADS=1, set by a
worker plugin before the first task). Dask already runs one task per worker thread, and with one
caldrith thread caldrith_ld computes on the calling thread (without the interpreter lock, so a
worker's threads compute side by side); a caldrith pool per worker as large as the machine would
oversubscribe its cores.

Writes a CSV table of fitted against true parameters (with 1-sigma errors and pulls, chi^2, the
wall-clock and CPU time of each fit, the worker that ran it and its caldrith pool size) and prints
the time per event.
"""

from __future__ import annotations

import argparse
import csv
import math
import os
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import pointlens as pl  # noqa: E402

OUTPUT = HERE.parent / "docs" / "fit_many.csv"


def simulate(seed: int, index: int) -> dict:
    """One simulated event: a survey light curve over +-2.5 tE and dense follow-up over the peak.

    The survey data are in I (c = 0.55), the follow-up in R (c = 0.63). The lens passes within
    1.2 stellar radii of the star's centre, so every event shows finite-source effects.
    """
    rng = np.random.default_rng([seed, index])
    te = math.exp(rng.uniform(math.log(8.0), math.log(40.0)))
    rho = math.exp(rng.uniform(math.log(0.003), math.log(0.03)))
    u0 = rho * rng.uniform(0.1, 1.2)
    t0 = rng.uniform(-1.0, 1.0)
    truth = {"t0": t0, "u0": u0, "tE": te, "rho": rho}

    def observe(name, band, coefficient, t, fs, fb, floor):
        a = pl.magnification(pl.separation(t, t0, u0, te), rho, coefficient)
        flux = fs * a + fb
        sigma = np.sqrt((floor * flux) ** 2 + 0.02 * flux * fs)  # a floor plus photon noise
        return pl.Dataset(name, band, coefficient, t, flux + sigma * rng.standard_normal(t.size), sigma)

    crossing = rho * te  # time for the lens to move one stellar radius
    survey = np.sort(rng.uniform(t0 - 2.5 * te, t0 + 2.5 * te, 400))
    follow_up = np.sort(t0 + crossing * rng.uniform(-2.5, 2.5, 120))
    datasets = [
        observe("survey", "I", 0.55, survey, 1.0, rng.uniform(0.0, 1.0), 0.004),
        observe("follow-up", "R", 0.63, follow_up, 2.0, rng.uniform(0.0, 2.0), 0.004),
    ]
    start = (t0 + 0.1 * crossing * rng.standard_normal(), u0 * math.exp(0.3 * rng.standard_normal()),
             te * math.exp(0.1 * rng.standard_normal()), rho * math.exp(0.1 * rng.standard_normal()))
    return {"event": f"sim-{seed}-{index}", "kind": "simulated", "truth": truth, "datasets": datasets,
            "start": start, "t_ref": 0.0, "scale_errors": False}


def real_event() -> dict:
    import mb08310

    published = {name: mb08310.PUBLISHED[name] for name in pl.PARAMETER_NAMES}
    return {"event": "MOA-2008-BLG-310", "kind": "real (true = published)", "truth": published,
            "datasets": mb08310.load(), "start": mb08310.START, "t_ref": 2454656.0, "scale_errors": True}


def fit_event(event: dict) -> dict:
    """The task run on a worker: fits one event and returns its row of the table."""
    import socket

    import pointlens

    began, cpu_began = time.perf_counter(), time.thread_time()
    fit = (pointlens.fit_with_error_scaling if event["scale_errors"] else pointlens.fit_best_of_limb_starts)(
        event["datasets"], event["start"], event["t_ref"])
    row = {"event": event["event"], "kind": event["kind"]}
    for name, value, error in zip(pointlens.PARAMETER_NAMES, fit.params, fit.errors):
        true = event["truth"][name]
        row.update({f"true_{name}": true, f"fit_{name}": value, f"err_{name}": error,
                    f"pull_{name}": (value - true) / error})
    row.update({"chi2": fit.chi2, "dof": fit.dof, "converged": fit.success, "evaluations": fit.evaluations,
                "seconds": time.perf_counter() - began, "cpu_seconds": time.thread_time() - cpu_began,
                "caldrith_threads": os.environ.get("RAYON_NUM_THREADS", "all CPUs"),
                "worker": f"{socket.gethostname()}:{os.getpid()}"})
    return row


def connect(scheduler: str | None, workers: int):
    """A client of the given scheduler, or of a new local cluster of worker processes."""
    from distributed import Client, LocalCluster

    if scheduler:
        return Client(scheduler), None
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None)
    return Client(cluster), cluster


def one_caldrith_thread_per_worker():
    from distributed.diagnostics.plugin import WorkerPlugin

    class OneCaldrithThread(WorkerPlugin):
        """Sets the size of caldrith's pool before any task of the worker builds it."""

        def setup(self, worker):
            os.environ["RAYON_NUM_THREADS"] = "1"

    return OneCaldrithThread()


def write_table(rows: list[dict], path: Path) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    with path.open("w", newline="") as stream:
        writer = csv.DictWriter(stream, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)


def main(argv=None) -> list[dict]:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--events", type=int, default=16, help="number of simulated events")
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster")
    parser.add_argument("--scheduler", help="address of an existing Dask scheduler, tcp://host:port")
    parser.add_argument("--no-real-event", action="store_true", help="simulated events only")
    parser.add_argument("--output", type=Path, default=OUTPUT, help="CSV table to write")
    args = parser.parse_args(argv)

    from distributed import as_completed
    from tqdm import tqdm

    events = [simulate(args.seed, index) for index in range(args.events)]
    if not args.no_real_event:
        events.append(real_event())
    client, cluster = connect(args.scheduler, args.workers)
    try:
        client.register_plugin(one_caldrith_thread_per_worker())
        for module in ("pointlens.py", "mb08310.py"):  # workers of another machine may not have them
            client.upload_file(str(HERE / module))
        began = time.perf_counter()
        futures = client.map(fit_event, events, pure=False)
        rows = [future.result() for future in tqdm(as_completed(futures), total=len(futures), desc="fits")]
        wall = time.perf_counter() - began
        workers = len(client.scheduler_info()["workers"])
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    order = {event["event"]: index for index, event in enumerate(events)}
    rows.sort(key=lambda row: order[row["event"]])
    write_table(rows, args.output)
    simulated = [row for row in rows if row["kind"] == "simulated"]
    seconds = np.mean([row["seconds"] for row in simulated])
    cpu_seconds = np.mean([row["cpu_seconds"] for row in simulated])
    worst = max(abs(row[f"pull_{name}"]) for row in simulated for name in pl.PARAMETER_NAMES)
    print(f"{len(rows)} events on {workers} workers in {wall:.1f} s: {wall / len(rows):.2f} s per event "
          f"(wall clock); a simulated fit takes {seconds:.2f} s on its worker ({cpu_seconds:.2f} s of CPU); "
          f"largest |pull| {worst:.2f}")
    print(f"wrote {args.output}")
    return rows


if __name__ == "__main__":
    main()
