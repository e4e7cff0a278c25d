"""Fits MOA-2008-BLG-310 with a finite-source point-lens model and linear limb darkening.

    .venv/bin/python examples/fit_mb08310.py            # optimiser, then MCMC (a few minutes)
    .venv/bin/python examples/fit_mb08310.py --quick    # optimiser only (well under a minute)

Model: the straight point-lens trajectory u(t) = sqrt(u0^2 + ((t - t0)/tE)^2) and a star of radius
rho (Einstein radii) with the linear law I(mu) = 1 - c (1 - mu), one coefficient c per band, at
every point through caldrith_ld (accurate across the limb, which the lens crosses: u0 < rho). Each
data set's source and blend flux are solved linearly at every step.

Fit: scipy.optimize.least_squares from rough starting values (and from the lens passing at half and
at one and a half stellar radii, keeping the best); the errors of each data set are then
scaled up so that its chi^2 per point is 1 (never down), and the fit is repeated. Without --quick,
emcee then samples the posterior (flat priors, u0, tE, rho > 0) on a pool of threads: caldrith_ld
computes without the interpreter lock, so the walkers' models run side by side (--processes N
takes worker processes started with 'spawn' instead, each with a one-thread caldrith pool).

The event is planetary. The planet's short anomaly, just after the peak, is masked: the points of
HJD 2454656.46 to 2454656.58 (a dip of up to 2.5 % seen by CTIO I, Danish and Bronberg alike).
The residuals there are drawn in the figure all the same.

Writes docs/mb08310_fit.png (data, model and residuals) and prints, last, one line
t0=... u0=... tE=... rho=...
"""

from __future__ import annotations

import argparse
import multiprocessing
import os
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))

import mb08310  # noqa: E402
import pointlens as pl  # noqa: E402

ANOMALY = mb08310.ANOMALY
T_REF = 2454656.0
FORMATS = {"t0": ".5f", "u0": ".5f", "tE": ".3f", "rho": ".5f"}
FIGURE = Path(__file__).resolve().parent.parent / "docs" / "mb08310_fit.png"


# The worker processes of the MCMC keep the data sets here (set by their initialiser).
_DATASETS: list[pl.Dataset] = []


def _init_worker(datasets: list[pl.Dataset]) -> None:
    # One caldrith worker thread per process: the processes already use the cores. The pool reads
    # this variable when it is built, on the first long call, which comes after this.
    os.environ["RAYON_NUM_THREADS"] = "1"
    _DATASETS[:] = datasets


def _log_probability(params) -> float:
    return pl.log_probability(params, _DATASETS)


def sample(datasets, fit: pl.FitResult, walkers: int, steps: int, threads: int, processes: int, seed: int):
    """emcee from around the fit, the walkers' models on `threads` threads, or on `processes`
    worker processes if that is not 0."""
    import emcee
    from multiprocessing.pool import ThreadPool

    rng = np.random.default_rng(seed)
    start = fit.params + 0.5 * fit.errors * rng.standard_normal((walkers, 4))
    start[:, 1:] = np.abs(start[:, 1:])
    if processes:
        pool = multiprocessing.get_context("spawn").Pool(processes, initializer=_init_worker, initargs=(datasets,))
        log_probability = _log_probability
    else:
        pool = ThreadPool(threads)

        def log_probability(params) -> float:
            return pl.log_probability(params, datasets)

    with pool:
        sampler = emcee.EnsembleSampler(walkers, 4, log_probability, pool=pool)
        sampler.run_mcmc(start, steps, progress=True)
    burn = steps // 3
    chain = sampler.get_chain(discard=burn, flat=True)
    tau = sampler.get_autocorr_time(discard=burn, quiet=True)
    return chain, float(np.mean(sampler.acceptance_fraction)), tau


def draw(datasets, params, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    t0, u0, te, rho = params
    fig, axes = plt.subplots(3, 1, figsize=(9, 10), gridspec_kw={"height_ratios": [2, 2, 1.2]})
    season, zoom, resid = axes
    window = 0.7
    for i, d in enumerate(datasets):
        colour = f"C{i}"
        behind = d.band == "H"  # the noisiest photometry, drawn faint and behind
        style = {"fmt": ".", "ms": 3, "elinewidth": 0.5, "color": colour, "alpha": 0.35 if behind else 1.0,
                 "zorder": 1 if behind else 3}
        a = pl.magnification(pl.separation(d.t, t0, u0, te), rho, d.coefficient)
        fs, fb = pl.solve_fluxes(a[d.mask], d.flux[d.mask], d.sigma[d.mask])
        observed, error = (d.flux - fb) / fs, d.sigma / fs
        near_season = np.abs(d.t - t0) < 25
        season.errorbar(d.t[near_season] - T_REF, observed[near_season], error[near_season],
                        label=f"{d.name} ({d.band}, c = {d.coefficient})", **style)
        near = np.abs(d.t - t0) < window
        if not near.any():
            continue
        zoom.errorbar(d.t[near] - T_REF, observed[near], error[near], **style)
        resid.errorbar(d.t[near] - T_REF, (observed - a)[near] / a[near], error[near] / a[near], **style)
    for ax, half in ((season, 25.0), (zoom, window)):
        t = np.linspace(t0 - half, t0 + half, 1500)
        ax.plot(t - T_REF, pl.magnification(pl.separation(t, t0, u0, te), rho, mb08310.COEFFICIENTS["I"]), "k-",
                lw=1, label="model (I band)", zorder=5)
        ax.set_ylabel("magnification")
    season.set_yscale("log")
    season.set_ylim(0.5, 700)  # the faintest baseline points, with errors of several tens of percent, fall below
    season.set_xlim(t0 - 25 - T_REF, t0 + 25 - T_REF)
    season.set_title("MOA-2008-BLG-310: finite-source point lens, linear limb darkening")
    season.legend(fontsize=7, loc="upper left")
    zoom.set_xlim(t0 - window - T_REF, t0 + window - T_REF)
    resid.set_xlim(zoom.get_xlim())
    resid.set_ylim(-0.08, 0.08)
    resid.axhline(0.0, color="k", lw=0.8)
    for ax in (zoom, resid):
        ax.axvspan(ANOMALY[0] - T_REF, ANOMALY[1] - T_REF, color="0.85", zorder=0)
        for edge in (t0 - rho * te, t0 + rho * te):  # limb crossings, where u = rho
            ax.axvline(edge - T_REF, color="0.5", ls=":", lw=0.8)
    zoom.text(ANOMALY[0] - T_REF + 0.005, zoom.get_ylim()[1] * 0.9, "masked:\nplanetary\nanomaly", fontsize=8, va="top")
    resid.set_ylabel("(data − model) / model")
    resid.set_xlabel(f"HJD − {T_REF:.0f}")
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="optimiser only, no MCMC")
    parser.add_argument("--walkers", type=int, default=16)
    parser.add_argument("--steps", type=int, default=600)
    parser.add_argument("--threads", type=int, default=2, help="threads of the MCMC")
    parser.add_argument("--processes", type=int, default=0, help="worker processes of the MCMC instead of threads")
    parser.add_argument("--seed", type=int, default=310)
    parser.add_argument("--figure", type=Path, default=FIGURE)
    args = parser.parse_args(argv)

    datasets = mb08310.load()
    began = time.perf_counter()
    fit = pl.fit_with_error_scaling(datasets, mb08310.START, T_REF)
    print(f"optimiser: chi2 = {fit.chi2:.1f} for {fit.dof} degrees of freedom, {fit.evaluations} evaluations, "
          f"{time.perf_counter() - began:.1f} s")
    for d in datasets:
        print(f"  {d.name:9s} {d.band:10s} c = {d.coefficient:.2f}  points {int(d.mask.sum()):4d} "
              f"(masked {int((~d.mask).sum())})  error scale {d.error_scale:.2f}")
    for name, value, error in zip(pl.PARAMETER_NAMES, fit.params, fit.errors):
        print(f"  {name:4s} = {value:{FORMATS[name]}} ± {error:.2g}")
    params = fit.params

    if not args.quick:
        began = time.perf_counter()
        chain, acceptance, tau = sample(datasets, fit, args.walkers, args.steps, args.threads, args.processes,
                                        args.seed)
        low, params, high = np.percentile(chain, [15.865, 50.0, 84.135], axis=0)
        print(f"MCMC: {args.walkers} walkers x {args.steps} steps in {time.perf_counter() - began:.0f} s, "
              f"acceptance {acceptance:.2f}, autocorrelation times {np.array2string(tau, precision=0)} steps")
        for name, value, lo, hi in zip(pl.PARAMETER_NAMES, params, low, high):
            print(f"  {name:4s} = {value:{FORMATS[name]}} +{hi - value:.2g} -{value - lo:.2g}")
        t_star = np.percentile(chain[:, 2] * chain[:, 3], [15.865, 50.0, 84.135])
        print(f"  t*   = {t_star[1]:.5f} +{t_star[2] - t_star[1]:.2g} -{t_star[1] - t_star[0]:.2g} d (rho tE)")

    _, _, te, rho = params
    published = mb08310.PUBLISHED
    print(f"published: t0={published['t0']:.5f} u0={published['u0']:.5f} tE={published['tE']:.2f} "
          f"rho={published['rho']:.5f} (t*={published['t_star']:.5f} d)")
    print(f"fitted t* = rho tE = {rho * te:.5f} d")
    draw(datasets, params, args.figure)
    print(" ".join(f"{name}={value:{FORMATS[name]}}" for name, value in zip(pl.PARAMETER_NAMES, params)))


if __name__ == "__main__":
    main()
