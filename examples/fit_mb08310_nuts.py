"""MOA-2008-BLG-310 sampled with NUTS (numpyro) on caldrith_ld.jax, and compared with emcee.

    .venv/bin/python examples/fit_mb08310_nuts.py            # NUTS, 4 chains
    .venv/bin/python examples/fit_mb08310_nuts.py --emcee    # and emcee as fit_mb08310.py runs it, compared

The model and data are those of fit_mb08310.py: a finite-source point lens with the linear law, one
coefficient per band (assumed), the planetary anomaly masked, each data set's errors scaled as the
optimiser's fit leaves them. The magnification and its derivatives come from caldrith_ld.jax (one
core call per data set and step, inside the compiled model).

Each data set's source and blend flux are profiled out, solved at every step by weighted linear
least squares (caldrith_ld.jax.fit_fluxes), not sampled: that is the likelihood emcee samples in
fit_mb08310.py (pointlens.log_probability), so the two posteriors are the same distribution and can
be compared; NUTS's gradient through the solved fluxes is the profiled chi^2's. Sampling the 14
fluxes instead would target their marginal, another distribution, in 18 dimensions instead of 4.
Priors as emcee's: flat in t0, u0 > 0, tE > 0, and in rho up to 0.1 (RHO_MAX below; the same
posterior, which lies at rho ~ 0.005).

NUTS with a dense mass matrix adapted in the warm-up, 4 chains started at the optimiser's fit, each
on its own XLA CPU device, in variables standardised by the fit (to_parameters; the prior's
Jacobian added). Prints R-hat and the effective samples per second (wall clock and CPU, of the
whole run and of the sampling alone), and with --emcee the same for emcee and the posteriors side
by side (means and standard deviations, their differences in sigma), drawing
docs/mb08310_nuts.png. The last line: t0=... u0=... tE=... rho=... (NUTS posterior means).
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))

import mb08310  # noqa: E402
import pointlens as pl  # noqa: E402

T_REF = 2454656.0
NAMES = pl.PARAMETER_NAMES  # t0, u0, tE, rho
FIGURE = Path(__file__).resolve().parent.parent / "docs" / "mb08310_nuts.png"
# The largest star the model computes. The posterior of rho lies near 0.005, nowhere near it, but the
# warm-up's first trial steps can leap far: this keeps them on the stars whose derivatives caldrith_ld
# computes by its series (rho <= 0.1); larger stars' come by quadrature, which the core does not have yet.
RHO_MAX = 0.1


def make_model(datasets, fit: pl.FitResult):
    """The numpyro model in the standardised variables z (see to_parameters): flat priors on t0, u0,
    tE and rho, and the chi^2 of every data set at its best fluxes."""
    import jax.numpy as jnp
    import numpyro
    import numpyro.distributions as dist
    from numpyro.distributions import constraints

    import caldrith_ld as ld
    import caldrith_ld.jax as ldj

    sets = [(jnp.asarray(d.t[d.mask] - T_REF), jnp.asarray(d.flux[d.mask]), jnp.asarray(d.sigma[d.mask]),
             jnp.array([d.coefficient])) for d in datasets]

    def model():
        z = numpyro.sample("z", dist.ImproperUniform(constraints.real_vector, (), (4,)))
        t0, u0, te, rho = to_parameters(z, fit, jnp)
        chi2 = sum(ldj.fit_fluxes(ldj.light_curve(t, t0, u0, te, jnp.minimum(rho, RHO_MAX), ld.Linear, c),
                                  flux, sigma).chi2 for t, flux, sigma, c in sets)
        # The flat prior in (t0, u0, tE, rho) seen in z: the Jacobian u0 tE rho; nothing beyond RHO_MAX.
        prior = jnp.log(u0 * te * rho) + jnp.where(rho < RHO_MAX, 0.0, -jnp.inf)
        numpyro.factor("posterior", prior - 0.5 * chi2)

    return model


def to_parameters(z, fit: pl.FitResult, xp=np):
    """(t0 - T_REF, u0, tE, rho) from the sampler's variables z, standardised by the optimiser's fit:
    t0 = t0_fit + sigma z_0, and ln p = ln p_fit + (sigma / p_fit) z_k for the positive u0, tE, rho.
    Every z_k then has a posterior width near 1: numpyro's adaptation of the mass matrix shrinks its
    estimate towards unit variances, which in days or in Einstein radii (widths of 1e-4) would make it
    take every direction for far wider than it is and force steps a hundred times too short."""
    centre, error = fit.params, fit.errors
    t0 = centre[0] - T_REF + error[0] * z[..., 0]
    u0, te, rho = (centre[k] * xp.exp(error[k] / centre[k] * z[..., k]) for k in (1, 2, 3))
    return t0, u0, te, rho


def nuts(datasets, fit: pl.FitResult, chains: int, warmup: int, samples: int, seed: int, method: str):
    """Posterior samples {name: (chains, samples)} (t0 in HJD), numpyro's summary of them, the seconds
    (wall clock and CPU) of the warm-up (compilation included) and of the sampling, the number of
    divergent transitions and the mean number of leapfrog steps (gradients) per sample."""
    import jax
    import jax.numpy as jnp
    from numpyro.diagnostics import summary
    from numpyro.infer import MCMC, NUTS, init_to_value

    kernel = NUTS(make_model(datasets, fit), dense_mass=True, init_strategy=init_to_value(values={"z": jnp.zeros(4)}))
    mcmc = MCMC(kernel, num_warmup=warmup, num_samples=samples, num_chains=chains, chain_method=method,
                progress_bar=False)
    warm_key, run_key = jax.random.split(jax.random.PRNGKey(seed))
    clocks = [(time.perf_counter(), time.process_time())]
    mcmc.warmup(warm_key)
    jax.block_until_ready(mcmc.last_state)  # the calls return before the computation ends
    clocks.append((time.perf_counter(), time.process_time()))
    mcmc.run(run_key, extra_fields=("diverging", "num_steps"))
    z = np.asarray(jax.block_until_ready(mcmc.get_samples(group_by_chain=True))["z"])
    clocks.append((time.perf_counter(), time.process_time()))
    draws = dict(zip(NAMES, to_parameters(z, fit)))
    stats = summary(draws, group_by_chain=True)
    draws["t0"] = draws["t0"] + T_REF
    extra = mcmc.get_extra_fields()
    seconds = {phase: (clocks[k + 1][0] - clocks[k][0], clocks[k + 1][1] - clocks[k][1])
               for k, phase in enumerate(("warm-up", "sampling"))}
    return draws, stats, seconds, int(extra["diverging"].sum()), float(extra["num_steps"].mean())


def emcee_run(datasets, fit, seed: int):
    """emcee as fit_mb08310.py runs it (16 walkers x 600 steps on 2 threads): flat samples, the
    effective samples per parameter (samples / autocorrelation time), seconds (wall clock, CPU) and
    the acceptance."""
    from fit_mb08310 import sample

    began = (time.perf_counter(), time.process_time())
    chain, acceptance, tau = sample(datasets, fit, 16, 600, threads=2, processes=0, seed=seed)
    seconds = (time.perf_counter() - began[0], time.process_time() - began[1])
    return chain, len(chain) / np.asarray(tau), seconds, acceptance


def rates(ess, seconds) -> str:
    wall, cpu = seconds
    return (f"{wall:6.1f} s, CPU {cpu:6.1f} s; min ESS {ess.min():5.0f}: {ess.min() / wall:6.1f} per second, "
            f"{ess.min() / cpu:6.1f} per CPU second")


def draw(nuts_draws, emcee_chain, path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 4, figsize=(13, 3.2))
    for k, (ax, name) in enumerate(zip(axes, NAMES)):
        offset = T_REF if name == "t0" else 0.0
        a, b = nuts_draws[name].ravel() - offset, emcee_chain[:, k] - offset
        bins = np.linspace(min(a.min(), b.min()), max(a.max(), b.max()), 40)
        ax.hist(a, bins, density=True, histtype="step", lw=1.5, label="NUTS (caldrith_ld.jax)")
        ax.hist(b, bins, density=True, histtype="step", lw=1.5, label="emcee")
        ax.set_xlabel(f"{name} − {T_REF:.0f}" if offset else name)
        ax.set_yticks([])
    axes[0].legend(fontsize=7, loc="upper left")
    fig.suptitle("MOA-2008-BLG-310: posteriors of NUTS and emcee (same likelihood, fluxes profiled)")
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--chains", type=int, default=4)
    parser.add_argument("--warmup", type=int, default=500)
    parser.add_argument("--samples", type=int, default=1000, help="per chain")
    parser.add_argument("--seed", type=int, default=310)
    parser.add_argument("--emcee", action="store_true", help="run emcee too and compare")
    parser.add_argument("--no-figure", action="store_true")
    parser.add_argument("--chain-method", choices=("parallel", "sequential", "vectorized"), default="parallel",
                        help="parallel: each chain on its own XLA CPU device, side by side")
    args = parser.parse_args(argv)

    # As many XLA CPU devices as chains, made when jax starts (it is imported here first). The chains
    # (and emcee's two threads) already share the cores: caldrith's pool gets one thread, which it
    # reads when its first long call builds it, below.
    os.environ["XLA_FLAGS"] = f"{os.environ.get('XLA_FLAGS', '')} --xla_force_host_platform_device_count={args.chains}"
    os.environ.setdefault("RAYON_NUM_THREADS", "1")
    import jax

    jax.config.update("jax_enable_x64", True)

    datasets = mb08310.load()
    fit = pl.fit_with_error_scaling(datasets, mb08310.START, T_REF)  # scales each data set's errors
    print(f"optimiser: chi2 = {fit.chi2:.1f} for {fit.dof} degrees of freedom")

    draws, stats, seconds, divergences, steps = nuts(datasets, fit, args.chains, args.warmup, args.samples,
                                                     args.seed, args.chain_method)
    ess = np.array([stats[name]["n_eff"] for name in NAMES])
    whole = tuple(np.add(*seconds.values()))
    print(f"NUTS: {args.chains} chains ({args.chain_method}) x ({args.warmup} warm-up + {args.samples}), "
          f"{divergences} divergences, {steps:.1f} gradients per sample")
    print(f"  {'':4s} {'mean':>16s} {'sd':>10s} {'R-hat':>7s} {'ESS':>7s}")
    for name, n in zip(NAMES, ess):
        print(f"  {name:4s} {draws[name].mean():16.6f} {draws[name].std():10.3g} {stats[name]['r_hat']:7.3f} {n:7.0f}")
    print(f"  warm-up (compilation included) {seconds['warm-up'][0]:.1f} s, sampling {rates(ess, seconds['sampling'])}")
    print(f"  whole run {rates(ess, whole)}")

    if args.emcee:
        chain, emcee_ess, emcee_seconds, acceptance = emcee_run(datasets, fit, args.seed)
        print(f"emcee: 16 walkers x 600 steps (first 200 discarded), acceptance {acceptance:.2f}")
        print(f"  {'':4s} {'mean':>16s} {'sd':>10s} {'ESS':>7s} {'NUTS - emcee':>14s}")
        for k, (name, n) in enumerate(zip(NAMES, emcee_ess)):
            mean, sd = chain[:, k].mean(), chain[:, k].std()
            print(f"  {name:4s} {mean:16.6f} {sd:10.3g} {n:7.0f} {(draws[name].mean() - mean) / sd:+8.2f} sd "
                  f"(sd ratio {draws[name].std() / sd:.2f})")
        print(f"  whole run {rates(emcee_ess, emcee_seconds)}")
        if not args.no_figure:
            draw(draws, chain, FIGURE)
            print(f"figure: {FIGURE}")
    print(" ".join(f"{name}={draws[name].mean():.6f}" for name in NAMES))


if __name__ == "__main__":
    main()
