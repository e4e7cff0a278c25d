"""MOA-2008-BLG-310's light curve on MulensModel's trajectory, its magnification from caldrith_ld,
against MulensModel's own finite-source methods and mpmath.

    .venv/bin/python examples/with_mulensmodel.py                    # the published parameters
    .venv/bin/python examples/with_mulensmodel.py --pi-E 0.2 -0.1    # with a parallax (illustrative)
    .venv/bin/python examples/with_mulensmodel.py --quick            # fewer points and timing turns

MulensModel picks a magnification method by name from a fixed list, so caldrith_ld does not plug
into it as a method: the glue, `caldrith_magnification`, takes the source's trajectory from
MulensModel (`Model.get_trajectory`, parallax included when the model has one: it has the event's
coordinates) and hands u = |(x, y)| with the model's rho and any caldrith_ld law to
`ld.magnification`.

At the published parameters (examples/mb08310.py, which fit no parallax; --pi-E adds one), over
t0 ± 2 tE and over the peak (t0 ± 2 t*, where u < 2.2 rho), the script compares caldrith_ld with
MulensModel's uniform-source methods (caldrith_ld's uniform disk) and its limb-darkened methods
(caldrith_ld's linear law, the I-band coefficient of examples/mb08310.py given to MulensModel as
its u): the largest relative difference of each, the CPU time of each per light curve on one core,
and each one's error against mpmath (tools/generate_ld_truths.py's quadrature, 34 digits) at a
handful of points over the peak and at the point of the light curve where they differ most.
"""

from __future__ import annotations

import argparse
import sys
import warnings
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import one_core  # noqa: E402  (before numpy: one BLAS thread)

import MulensModel as mm  # noqa: E402
import numpy as np  # noqa: E402

import caldrith_ld as ld  # noqa: E402
import mb08310  # noqa: E402
import mpmath_truth  # noqa: E402

BAND = "I"
UNIFORM = ("finite_source_uniform_Gould94", "finite_source_uniform_Gould94_direct",
           "finite_source_uniform_WittMao94", "finite_source_uniform_Lee09")
LIMB_DARKENED = ("finite_source_LD_Yoo04", "finite_source_LD_Yoo04_direct", "finite_source_LD_WittMao94",
                 "finite_source_LD_Lee09")
# u / rho of the points over the peak where mpmath judges: the closest approach (t0), inside, both
# sides of the limb, outside.
PEAK_POINTS = (0.8, 0.99, 1.01, 1.5, 2.0)


def caldrith_magnification(model: mm.Model, times, law: ld.Law) -> np.ndarray:
    """The magnification of the model's source, a star of radius rho with the given law, at the
    times, on MulensModel's trajectory of that source (parallax included)."""
    trajectory = model.get_trajectory(times)
    return ld.magnification(np.hypot(trajectory.x, trajectory.y), model.parameters.rho, law)


def make_model(pi_e: tuple[float, float]) -> mm.Model:
    """MulensModel's point lens at the published parameters, with the parallax pi_e (north, east) at
    the event's coordinates, and the I band's linear limb-darkening coefficient."""
    published = mb08310.PUBLISHED
    parameters = {"t_0": published["t0"], "u_0": published["u0"], "t_E": published["tE"], "rho": published["rho"]}
    if any(pi_e):
        parameters.update(pi_E_N=pi_e[0], pi_E_E=pi_e[1])
    ra, dec = mb08310.coordinates()
    model = mm.Model(parameters, coords=f"{ra / 15} {dec}")
    model.set_limb_coeff_u(BAND, mb08310.COEFFICIENTS[BAND])
    return model


def mulensmodel_magnification(model: mm.Model, method: str, times) -> np.ndarray:
    """MulensModel's magnification by one of its finite-source methods, at every time."""
    model.set_magnification_methods([np.min(times) - 1.0, method, np.max(times) + 1.0])
    with warnings.catch_warnings():
        # Its limb-darkened methods warn far from the star (u / rho of several tens).
        warnings.simplefilter("ignore", UserWarning)
        return model.get_magnification(times, bandpass=BAND) if "_LD_" in method else model.get_magnification(times)


def judged_times(model: mm.Model) -> np.ndarray:
    """The times, after t0, at which u / rho takes the values PEAK_POINTS, and t0 itself."""
    p = model.parameters
    u = np.array(PEAK_POINTS) * p.rho
    return np.concatenate([[p.t_0], p.t_0 + p.t_E * np.sqrt(u * u - p.u_0**2)])


def compare(model: mm.Model, law: ld.Law, methods, light_curve: np.ndarray, peak: np.ndarray, repeat: int):
    """For caldrith_ld and each method: CPU seconds per light curve, largest |A / A_caldrith - 1|
    over the light curve and over the peak, and the relative errors against mpmath at the judged
    times and at the light curve's point where the methods differ most from caldrith_ld."""
    ours = {"light curve": caldrith_magnification(model, light_curve, law),
            "peak": caldrith_magnification(model, peak, law)}
    theirs = {method: {"light curve": mulensmodel_magnification(model, method, light_curve),
                       "peak": mulensmodel_magnification(model, method, peak)} for method in methods}
    worst = int(np.argmax(np.max([np.abs(a["light curve"] / ours["light curve"] - 1) for a in theirs.values()], axis=0)))
    judged = np.append(judged_times(model), light_curve[worst])
    trajectory = model.get_trajectory(judged)
    u = np.hypot(trajectory.x, trajectory.y)
    truth = np.array([mpmath_truth.magnification(law, x, model.parameters.rho) for x in u])
    rows = [("caldrith_ld", one_core.cpu_seconds(lambda: caldrith_magnification(model, light_curve, law), repeat),
             0.0, 0.0, caldrith_magnification(model, judged, law) / truth - 1)]
    for method in methods:
        slow = "direct" in method or "Lee09" in method or "LD_WittMao" in method
        seconds = one_core.cpu_seconds(lambda: mulensmodel_magnification(model, method, light_curve),
                                       1 if slow else repeat)
        rows.append((method, seconds,
                     float(np.max(np.abs(theirs[method]["light curve"] / ours["light curve"] - 1))),
                     float(np.max(np.abs(theirs[method]["peak"] / ours["peak"] - 1))),
                     mulensmodel_magnification(model, method, judged) / truth - 1))
    return u / model.parameters.rho, rows


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pi-E", nargs=2, type=float, default=(0.0, 0.0), metavar=("N", "E"),
                        help="microlensing parallax, north and east components (default none, as published)")
    parser.add_argument("--quick", action="store_true", help="fewer points and timing turns")
    args = parser.parse_args(argv)
    cpu = one_core.pin_to_one_core()

    model = make_model(tuple(args.pi_E))
    p = model.parameters
    points = (201, 41) if args.quick else (4001, 801)
    light_curve = np.linspace(p.t_0 - 2 * p.t_E, p.t_0 + 2 * p.t_E, points[0])
    peak = np.linspace(p.t_0 - 2 * p.t_star, p.t_0 + 2 * p.t_star, points[1])
    repeat = 2 if args.quick else 5
    print(f"MOA-2008-BLG-310 at the published parameters, rho = {p.rho:.6f}, pi_E = ({args.pi_E[0]}, "
          f"{args.pi_E[1]}), MulensModel {mm.__version__}; {points[0]} times over t0 ± 2 tE, {points[1]} over "
          f"t0 ± 2 t*; CPU on CPU {cpu} alone")
    for law, methods in ((ld.Uniform(), UNIFORM), (ld.Linear(mb08310.COEFFICIENTS[BAND]), LIMB_DARKENED)):
        l, rows = compare(model, law, methods, light_curve, peak, repeat)
        print(f"\n{law}: largest |A / A_caldrith - 1|; CPU per light curve of {points[0]}; error against mpmath at "
              "u/rho = (the last where the methods differ most)")
        print(f"  {'method':38s} {'light curve':>11s} {'peak':>9s} {'CPU ms':>9s}  "
              + " ".join(f"{x:>8.3f}" for x in l))
        for method, seconds, everywhere, over_peak, errors in rows:
            print(f"  {method:38s} {everywhere:11.2e} {over_peak:9.2e} {1e3 * seconds:9.2f}  "
                  + " ".join(f"{e:+8.1e}" for e in errors))


if __name__ == "__main__":
    main()
