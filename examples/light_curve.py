"""Draws the light curve of a lens crossing a star, through every route of caldrith.

    .venv/bin/python examples/light_curve.py [--output docs/light_curve.png]

One event, u0 = 0.004, tE = 20 d, a star of rho = 0.01 Einstein radii (u0 < rho: the lens crosses
the star), drawn as
- a point source (the closed form, for reference);
- a uniform disk (witt_mao_magnification);
- a star with the linear limb-darkening law of coefficient 0.6, through the uniform-disk kernel
  (integrated_witt_mao_magnification) and through the thin-ring kernel
  (integrated_heyrovsky_magnification);
- the same law given as samples (integrated_flux_map_heyrovsky_magnification, the default
  placement of limb_darkening.py);
- the same law through caldrith_ld (light_curve, u and rho in Einstein radii).
The lower panel gives each curve's relative difference from the thin-ring limb-darkened one.
Every call of caldrith passes l = u / rho, re = 1, rstar = rho.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))

import caldrith  # noqa: E402
import caldrith_ld  # noqa: E402
import limb_darkening as ld  # noqa: E402
import pointlens as pl  # noqa: E402

T0, U0, TE, RHO = 0.0, 0.004, 20.0, 0.01
COEFFICIENT = 0.6  # the law fixed in the integrated functions
OUTPUT = Path(__file__).resolve().parent.parent / "docs" / "light_curve.png"


def times() -> np.ndarray:
    """An even grid over +-3 crossing times, refined geometrically towards the two limb crossings."""
    half = 3.0 * RHO * TE
    grid = [np.linspace(T0 - half, T0 + half, 801)]
    crossing = TE * np.sqrt(RHO * RHO - U0 * U0)  # |t - t0| at which u = rho
    offsets = np.geomspace(1e-7, 1e-2, 60) * RHO * TE
    for centre in (T0 - crossing, T0 + crossing):
        grid += [centre - offsets, centre + offsets]
    return np.unique(np.concatenate(grid))


def curves(t: np.ndarray) -> dict[str, np.ndarray]:
    u = pl.separation(t, T0, U0, TE)
    l = (u / RHO).tolist()
    bl, bf = ld.samples(ld.Linear(COEFFICIENT))
    return {
        "point source": pl.point_source_magnification(u),
        "uniform disk (witt_mao)": np.array(caldrith.witt_mao_magnification(l, 1.0, RHO)),
        "limb-darkened, uniform-disk kernel (integrated_witt_mao)": np.array(
            caldrith.integrated_witt_mao_magnification(l, 1.0, RHO)),
        "limb-darkened, thin-ring kernel (integrated_heyrovsky)": np.array(
            caldrith.integrated_heyrovsky_magnification(l, 1.0, RHO)),
        f"sampled profile, {len(bl)} radii (integrated_flux_map_heyrovsky)": np.array(
            caldrith.integrated_flux_map_heyrovsky_magnification(l, 1.0, RHO, bl, bf)),
        "limb-darkened, caldrith_ld": caldrith_ld.light_curve(t, T0, U0, TE, RHO, caldrith_ld.Linear(COEFFICIENT)),
    }


def draw(t: np.ndarray, values: dict[str, np.ndarray], path: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    names = list(values)
    reference = values[names[3]]
    styles = {names[0]: ("0.6", "--"), names[1]: ("C0", "-"), names[2]: ("C1", "-"), names[3]: ("k", "-"),
              names[4]: ("C2", ":"), names[5]: ("C3", "--")}
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(8.5, 8.5), sharex=True, gridspec_kw={"height_ratios": [3, 2]})
    for name in names:
        colour, line = styles[name]
        top.plot(t, values[name], color=colour, ls=line, lw=1.2, label=name)
        if name != names[3]:
            bottom.semilogy(t, np.abs(values[name] / reference - 1.0), color=colour, ls=line, lw=1.0, label=name)
    crossing = TE * np.sqrt(RHO * RHO - U0 * U0)
    for ax in (top, bottom):
        for edge in (T0 - crossing, T0 + crossing):
            ax.axvline(edge, color="0.7", lw=0.8, ls="-.")
    top.set_ylim(0, 1.15 * values[names[1]].max())
    top.set_ylabel("magnification")
    top.set_title(f"Lens crossing a star: u0 = {U0}, tE = {TE:g} d, ρ = {RHO}, "
                  f"linear limb darkening c = {COEFFICIENT}")
    top.legend(fontsize=8, loc="upper right")
    top.text(T0 - 3 * RHO * TE, 5, "dash-dot: limb crossings (u = ρ)", fontsize=8)
    bottom.set_ylabel("|A / A(integrated_heyrovsky) − 1|")
    bottom.set_xlabel("t − t0 (days)")
    bottom.set_ylim(1e-16, 3.0)
    bottom.grid(True, which="major", lw=0.3)
    fig.tight_layout()
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110)


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--output", type=Path, default=OUTPUT)
    args = parser.parse_args(argv)
    t = times()
    values = curves(t)
    reference = values["limb-darkened, thin-ring kernel (integrated_heyrovsky)"]
    for name, value in values.items():
        difference = np.max(np.abs(value / reference - 1))
        print(f"{name:70s} peak {value.max():9.3f}  max |relative difference| {difference:.2e}")
    draw(t, values, args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
