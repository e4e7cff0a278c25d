"""MOA-2008-BLG-310 fitted by pyLIMA, the magnification of its finite source computed by caldrith_ld.

    .venv/bin/python examples/with_pylima.py              # both models fitted, compared and timed
    .venv/bin/python examples/with_pylima.py --parallax   # with annual parallax (pyLIMA's DE fit, minutes)
    .venv/bin/python examples/with_pylima.py --quick      # fewer timing turns

The glue is CaldrithFSPLmodel, pyLIMA's finite-source point-lens model (FSPLmodel) with its
magnification, and that magnification's derivatives, taken from caldrith_ld: any law, one per
telescope or per filter. Everything else is pyLIMA's: its parameters, its source trajectories
(with parallax, as pyLIMA computes it for each telescope), its fluxes and its fits. Here the
laws are the linear ones of examples/mb08310.py, one per band, so that pyLIMA's own FSPLmodel,
given the same coefficients, models the same star.

The event's telescopes are built from the data files (the planet's anomaly left out, as in
fit_mb08310.py), at the coordinates the files' headers give. Both models are fitted by pyLIMA's
trust-region fit (TRF, every telescope's source and total flux fitted with the model parameters)
from the same rough start (with --parallax by its differential evolution, as its trust-region fit
has no analytic Jacobian then), and the script prints each fit, the CPU time of one evaluation of each
model on one core (the magnification at every data point, and a whole chi^2 through pyLIMA), and
how far apart the two models' light curves are at the same parameters, with mpmath's value where
they differ most.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import sys
import time
from collections.abc import Iterator, Mapping
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import one_core  # noqa: E402  (before numpy: one BLAS thread)

import numpy as np  # noqa: E402
from pyLIMA import event, telescopes  # noqa: E402
from pyLIMA.fits import DE_fit, ML_fit, TRF_fit  # noqa: E402
from pyLIMA.models import FSPL_model  # noqa: E402

import caldrith_ld as ld  # noqa: E402
import mb08310  # noqa: E402
import mpmath_truth  # noqa: E402

PARAMETERS = ("t0", "u0", "tE", "rho")
FORMATS = {"t0": ".5f", "u0": ".6f", "tE": ".4f", "rho": ".6f", "piEN": ".3f", "piEE": ".3f"}


class CaldrithFSPLmodel(FSPL_model.FSPLmodel):
    """pyLIMA's finite-source point-lens model whose magnification comes from caldrith_ld.

    laws: one caldrith_ld law for every telescope, or a mapping from a telescope's name, or else
    from its camera filter, to its law. The other arguments are FSPLmodel's (parallax, ...).
    """

    def __init__(self, event, laws: ld.Law | Mapping[str, ld.Law], **options) -> None:
        self.laws = laws
        super().__init__(event, **options)

    def law(self, telescope) -> ld.Law:
        if isinstance(self.laws, ld.Law):
            return self.laws
        return self.laws[telescope.name] if telescope.name in self.laws else self.laws[telescope.filter]

    def model_magnification(self, telescope, pyLIMA_parameters, return_impact_parameter=False):
        x, y = self.sources_trajectory(telescope, pyLIMA_parameters, data_type="photometry")[:2]
        u = np.hypot(x, y)
        magnification = ld.magnification(u, pyLIMA_parameters["rho"], self.law(telescope))
        return (magnification, u) if return_impact_parameter else magnification

    def model_magnification_Jacobian(self, telescope, pyLIMA_parameters):
        """dA/d(t0, u0, tE, rho) as columns, and A. pyLIMA asks for it only where the model has no
        second-order effect, so on the straight trajectory u = sqrt(u0^2 + ((t - t0) / tE)^2)."""
        t0, u0, te, rho = (pyLIMA_parameters[name] for name in PARAMETERS)
        tau = (np.asarray(telescope.lightcurve["time"].value, dtype=float) - t0) / te
        u = np.hypot(tau, u0)
        g = ld.gradient(u, rho, self.law(telescope))
        # dA/du / u, which is 0 at u = 0 (A is even in u).
        d_u_over_u = np.divide(g.d_u, u, out=np.zeros_like(u), where=u > 0)
        jacobian = np.column_stack([-d_u_over_u * tau / te, d_u_over_u * u0, -d_u_over_u * tau * tau / te, g.d_rho])
        return jacobian, g.value


@contextlib.contextmanager
def quietly() -> Iterator[None]:
    """pyLIMA reports every step on standard output; the script prints its own summary."""
    with contextlib.redirect_stdout(io.StringIO()):
        yield


def make_event() -> event.Event:
    """MOA-2008-BLG-310's seven telescopes, in flux, the planet's anomaly left out; each carries its
    band's linear limb-darkening coefficient for pyLIMA's own finite-source model."""
    ra, dec = mb08310.coordinates()
    moa310 = event.Event(ra=ra, dec=dec)
    moa310.name = "MOA-2008-BLG-310"
    for d in mb08310.load():
        columns = np.column_stack([d.t, d.flux, d.flux_err])[d.mask]
        # pyLIMA names each telescope's flux parameters after it: no spaces.
        telescope = telescopes.Telescope(name=d.name.replace(" ", "_"), camera_filter=d.band, lightcurve=columns,
                                         lightcurve_names=["time", "flux", "err_flux"],
                                         lightcurve_units=["JD", "W/m^2", "W/m^2"])
        telescope.ld_a1 = d.coefficient
        telescope.define_limb_darkening_coefficients()
        moa310.telescopes.append(telescope)
    with quietly():
        moa310.check_event()
    return moa310


def band_laws() -> dict[str, ld.Law]:
    """The linear law of each band, as fit_mb08310.py takes them, keyed by pyLIMA's camera filter."""
    return {band: ld.Linear(coefficient) for band, coefficient in mb08310.COEFFICIENTS.items()}


def model_options(parallax: bool) -> dict:
    return {"parallax": ["Annual" if parallax else "None", mb08310.PUBLISHED["t0"]]}


def fit(model, parallax: bool) -> tuple[np.ndarray, np.ndarray | None, float]:
    """pyLIMA's fit: its trust-region fit from fit_mb08310.py's rough start, or with parallax its
    differential evolution (its trust-region fit needs an analytic Jacobian, which pyLIMA gives
    only without parallax) within a day of that start. The model parameters, their errors (TRF
    only) and the fit's CPU seconds."""
    if parallax:
        de = DE_fit.DEfit(model)
        t0, _, _, _ = mb08310.START
        de.fit_parameters["t0"][1] = (t0 - 0.5, t0 + 0.5)
        de.fit_parameters["u0"][1] = (0.0, 0.05)
        de.fit_parameters["tE"][1] = (1.0, 100.0)
        solver = de
    else:
        trf = TRF_fit.TRFfit(model)
        trf.model_parameters_guess = list(mb08310.START)
        solver = trf
    start = time.process_time()
    with quietly():
        solver.fit()
    seconds = time.process_time() - start
    n = len(model.model_dictionnary) - 2 * len(model.event.telescopes)
    result = solver.fit_results
    errors = None if parallax else np.sqrt(np.diag(result["covariance_matrix"]))[:n]
    return np.asarray(result["best_model"][:n]), errors, seconds


def chi2_of(model):
    """pyLIMA's chi^2 of the model's parameters, each telescope's fluxes solved linearly."""
    objective = ML_fit.MLfit(model, telescopes_fluxes_method="polyfit")
    return lambda parameters: float(objective.model_chi2(parameters)[0])


def magnifications(model, parameters) -> np.ndarray:
    """The model's magnification at every data point, the telescopes one after the other."""
    p = model.compute_pyLIMA_parameters(parameters)
    return np.concatenate([model.model_magnification(telescope, p) for telescope in model.event.telescopes])


def compare(ours: CaldrithFSPLmodel, theirs, parameters) -> list[tuple]:
    """Where the two models' light curves differ most, over every data point and over those within
    2 t* of t0: (where, points, A_theirs / A_ours - 1, HJD, u / rho, mpmath's error of ours and of
    theirs there), u from pyLIMA's trajectory."""
    p = ours.compute_pyLIMA_parameters(parameters)
    t0, te, rho = p["t0"], p["tE"], p["rho"]
    rows: list[tuple] = []
    for telescope in ours.event.telescopes:
        a_ours, u = ours.model_magnification(telescope, p, return_impact_parameter=True)
        a_theirs = theirs.model_magnification(telescope, theirs.compute_pyLIMA_parameters(parameters))
        rows += zip(telescope.lightcurve["time"].value, u, a_ours, a_theirs, [telescope] * len(u))
    out = []
    for where, chosen in (("all points", rows), ("within 2 t* of t0", [r for r in rows if abs(r[0] - t0) < 2 * rho * te])):
        t, u, a_ours, a_theirs, telescope = max(chosen, key=lambda row: abs(row[3] / row[2] - 1))
        truth = mpmath_truth.magnification(ours.law(telescope), u, rho)
        out.append((where, len(chosen), a_theirs / a_ours - 1, t, u / rho, a_ours / truth - 1, a_theirs / truth - 1))
    return out


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--parallax", action="store_true", help="annual parallax (pi_EN, pi_EE fitted)")
    parser.add_argument("--quick", action="store_true", help="fewer timing turns")
    args = parser.parse_args(argv)
    cpu = one_core.pin_to_one_core()

    moa310 = make_event()
    points = sum(len(telescope.lightcurve) for telescope in moa310.telescopes)
    with quietly():
        ours = CaldrithFSPLmodel(moa310, band_laws(), **model_options(args.parallax))
        theirs = FSPL_model.FSPLmodel(moa310, **model_options(args.parallax))
    names = list(ours.model_dictionnary)[: 6 if args.parallax else 4]
    print(f"MOA-2008-BLG-310: {len(moa310.telescopes)} telescopes, {points} points, parallax "
          f"{'annual, pyLIMA DE fit' if args.parallax else 'none, pyLIMA TRF fit'}; timed on CPU {cpu} alone")

    fitted = {}
    for label, model in (("caldrith_ld", ours), ("pyLIMA FSPL", theirs)):
        best, errors, seconds = fitted[label] = fit(model, args.parallax)
        summary = "  ".join(f"{name} = {best[i]:{FORMATS[name]}}" + ("" if errors is None else f" ± {errors[i]:.2g}")
                            for i, name in enumerate(names))
        print(f"  {label:12s} chi2 = {chi2_of(model)(best):.2f}  {summary}  ({seconds:.2f} s of CPU)")
    best = fitted["caldrith_ld"][0]
    published = mb08310.PUBLISHED
    print("  published    " + "  ".join(f"{name} = {published[name]:{FORMATS[name]}}" for name in PARAMETERS))

    repeat = 3 if args.quick else 20
    print(f"CPU per model evaluation at the caldrith_ld fit, {points} points, one core:")
    for label, model in (("caldrith_ld", ours), ("pyLIMA FSPL", theirs)):
        magnification_cost = one_core.cpu_seconds(lambda: magnifications(model, best), repeat)
        chi2 = chi2_of(model)
        chi2_cost = one_core.cpu_seconds(lambda: chi2(best), repeat)
        print(f"  {label:12s} magnification {1e3 * magnification_cost:7.3f} ms   "
              f"chi2 through pyLIMA {1e3 * chi2_cost:7.3f} ms")

    print("pyLIMA FSPL against caldrith_ld at the same parameters, where they differ most, and mpmath's "
          "error of each there:")
    for where, count, difference, t, l, ours_error, theirs_error in compare(ours, theirs, best):
        print(f"  {where:18s} ({count:4d} points)  A_FSPL / A_caldrith - 1 = {difference:+.2e} at HJD {t:.5f}, "
              f"u/rho = {l:.3f};  mpmath: caldrith_ld {ours_error:+.1e}, pyLIMA FSPL {theirs_error:+.1e}")
    print(" ".join(f"{name}={value:{FORMATS[name]}}" for name, value in zip(names, best)))


if __name__ == "__main__":
    main()
