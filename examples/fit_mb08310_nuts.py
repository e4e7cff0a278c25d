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
Priors as emcee's: flat in t0, u0 > 0, tE > 0, and in rho on 0 < rho < 0.1 (RHO_MAX below; the
same posterior, which lies at rho ~ 0.005); numpyro samples the bounded ones in unbounded variables
and adds the Jacobian.

NUTS with a dense mass matrix adapted in the warm-up, 4 chains from the optimiser's fit. Prints
R-hat and the effective samples (per second of the whole run, and of the sampling alone), and with --emcee the same for emcee and
the posteriors side by side (means and standard deviations, their differences in sigma), drawing
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
# The largest star the sampler may try. The posterior of rho lies near 0.005, nowhere near it, but the
# warm-up's first trial steps can leap far: this keeps them on the stars whose derivatives caldrith_ld
# computes by its series (rho <= 0.1); larger stars' come by quadrature, which the core does not have yet.
RHO_MAX = 0.1


def make_model(datasets):
    """The numpyro model: flat priors and the chi^2 of every data set at its best fluxes."""
    import jax.numpy as jnp
    import numpyro
    import numpyro.distributions as dist
    from numpyro.distributions import constraints

    import caldrith_ld as ld
    import caldrith_ld.jax as ldj

    sets = [(jnp.asarray(d.t[d.mask] - T_REF), jnp.asarray(d.flux[d.mask]), jnp.asarray(d.sigma[d.mask]),
             jnp.array([d.coefficient])) for d in datasets]

    def model():
        t0 = numpyro.sample("t0", dist.ImproperUniform(constraints.real, (), ()))  # days after T_REF
        u0, te = (numpyro.sample(name, dist.ImproperUniform(constraints.positive, (), ())) for name in ("u0", "tE"))
        rho = numpyro.sample("rho", dist.Uniform(0.0, RHO_MAX))
        chi2 = sum(ldj.fit_fluxes(ldj.light_curve(t, t0, u0, te, rho, ld.Linear, c), flux, sigma).chi2
                   for t, flux, sigma, c in sets)
        numpyro.factor("likelihood", -0.5 * chi2)

    return model


def nuts(datasets, start, chains: int, warmup: int, samples: int, seed: int, method: str):
    """Posterior samples {name: (chains, samples)} (t0 in HJD), numpyro's summary, the seconds of the
    warm-up (compilation included) and of the sampling, the number of divergent transitions and the
    mean number of leapfrog steps (gradients) per sample."""
    import jax
    from numpyro.diagnostics import summary
    from numpyro.infer import MCMC, NUTS, init_to_value

    init = dict(zip(NAMES, (start[0] - T_REF, *start[1:])))
    kernel = NUTS(make_model(datasets), dense_mass=True, init_strategy=init_to_value(values=init))
    mcmc = MCMC(kernel, num_warmup=warmup, num_samples=samples, num_chains=chains, chain_method=method,
                progress_bar=False)
    warm_key, run_key = jax.random.split(jax.random.PRNGKey(seed))
    began = time.perf_counter()
    mcmc.warmup(warm_key)
    jax.block_until_ready(mcmc.last_state)  # the calls return before the computation ends
    warmed = time.perf_counter()
    mcmc.run(run_key, extra_fields=("diverging", "num_steps"))
    samples_by_chain = jax.block_until_ready(mcmc.get_samples(group_by_chain=True))
    done = time.perf_counter()
    draws = {name: np.asarray(values) for name, values in samples_by_chain.items()}
    stats = summary(draws, group_by_chain=True)
    draws["t0"] = draws["t0"] + T_REF
    extra = mcmc.get_extra_fields()
    return draws, stats, warmed - began, done - warmed, int(extra["diverging"].sum()), float(extra["num_steps"].mean())


def emcee_run(datasets, fit, seed: int):
    """emcee as fit_mb08310.py runs it: flat samples, effective samples per parameter and seconds."""
    from fit_mb08310 import sample

    walkers, steps = 16, 600
    began = time.perf_counter()
    chain, acceptance, tau = sample(datasets, fit, walkers, steps, threads=2, processes=0, seed=seed)
    seconds = time.perf_counter() - began
    return chain, len(chain) / np.asarray(tau), seconds, acceptance


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

    draws, stats, warm_seconds, sample_seconds, divergences, steps = nuts(datasets, fit.params, args.chains, args.warmup, args.samples, args.seed,
                                               args.chain_method)
    ess = np.array([stats[name]["n_eff"] for name in NAMES])
    seconds = warm_seconds + sample_seconds
    print(f"NUTS: {args.chains} chains ({args.chain_method}) x ({args.warmup} warm-up + {args.samples}): "
          f"warm-up {warm_seconds:.1f} s (compilation included), sampling {sample_seconds:.1f} s; "
          f"{divergences} divergences, {steps:.1f} gradients per sample")
    print(f"  {'':4s} {'mean':>16s} {'sd':>10s} {'R-hat':>7s} {'ESS':>7s} {'ESS/s':>7s} {'sampling':>9s}")
    for name, n in zip(NAMES, ess):
        values = draws[name]
        print(f"  {name:4s} {values.mean():16.6f} {values.std():10.3g} {stats[name]['r_hat']:7.3f} {n:7.0f} "
              f"{n / seconds:7.1f} {n / sample_seconds:9.1f}")

    if args.emcee:
        chain, emcee_ess, emcee_seconds, acceptance = emcee_run(datasets, fit, args.seed)
        print(f"emcee: 16 walkers x 600 steps (first 200 discarded) in {emcee_seconds:.1f} s, "
              f"acceptance {acceptance:.2f}")
        print(f"  {'':4s} {'mean':>16s} {'sd':>10s} {'ESS':>7s} {'ESS/s':>7s} {'NUTS-emcee':>11s}")
        for k, (name, n) in enumerate(zip(NAMES, emcee_ess)):
            mean, sd = chain[:, k].mean(), chain[:, k].std()
            shift = (draws[name].mean() - mean) / sd
            print(f"  {name:4s} {mean:16.6f} {sd:10.3g} {n:7.0f} {n / emcee_seconds:7.1f} {shift:+9.2f} sd "
                  f"(sd ratio {draws[name].std() / sd:.2f})")
        print(f"min ESS/s: NUTS {ess.min() / seconds:.1f}, emcee {emcee_ess.min() / emcee_seconds:.1f}")
        if not args.no_figure:
            draw(draws, chain, FIGURE)
            print(f"figure: {FIGURE}")
    print(" ".join(f"{name}={draws[name].mean():.6f}" for name in NAMES))


if __name__ == "__main__":
    main()
