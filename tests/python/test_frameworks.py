"""caldrith_ld inside pyLIMA and MulensModel: the examples with_pylima.py and with_mulensmodel.py.

They need the extra `frameworks` (pyLIMA, MulensModel) and mpmath; without a framework its tests
are skipped, saying so.
"""

import re
import subprocess
import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy", reason="the framework examples need numpy")
pytest.importorskip("mpmath", reason="the framework examples judge by mpmath")

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))

import mb08310  # noqa: E402

import caldrith_ld as ld  # noqa: E402

PUBLISHED = mb08310.PUBLISHED
NUMBER = r"[-+]?\d+\.?\d*(?:e[-+]\d+)?"


def run_example(script, *arguments):
    return subprocess.run([sys.executable, str(EXAMPLES / script), *arguments], capture_output=True, text=True,
                          timeout=600, check=True).stdout


def test_pylima_example_fits_the_event_and_mpmath_backs_caldrith():
    pytest.importorskip("pyLIMA", reason="pyLIMA is not installed (pip install .[frameworks])")
    out = run_example("with_pylima.py", "--quick")
    fitted = {name: float(value) for name, value in re.findall(r"(\w+)=(\S+)", out.strip().splitlines()[-1])}
    assert list(fitted) == ["t0", "u0", "tE", "rho"]
    # A point lens fitted around the masked anomaly: the published planetary solution to within a
    # few of the fit's uncertainties, as fit_mb08310.py finds it.
    assert abs(fitted["t0"] - PUBLISHED["t0"]) < 1e-3
    for name in ("u0", "tE", "rho"):
        assert fitted[name] == pytest.approx(PUBLISHED[name], rel=0.15)
    # Both models fit the same star: their chi^2 agree.
    chi2 = [float(x) for x in re.findall(rf"^  (?:caldrith_ld|pyLIMA FSPL)\s+chi2 = ({NUMBER})", out, re.MULTILINE)]
    assert len(chi2) == 2 and chi2[0] == pytest.approx(chi2[1], abs=0.1)
    # Where the two light curves differ most: caldrith_ld to mpmath's digits, pyLIMA's own model to
    # its accuracy, at the u of pyLIMA's trajectory.
    judged = re.findall(rf"mpmath: caldrith_ld ({NUMBER}), pyLIMA FSPL ({NUMBER})", out)
    assert len(judged) == 2
    for ours, theirs in judged:
        assert abs(float(ours)) < 1e-9 and abs(float(theirs)) < 1e-4


@pytest.mark.parametrize("parallax", [False, True])
def test_pylima_glue_takes_pylimas_trajectory_and_its_jacobian_is_the_derivative(parallax):
    pytest.importorskip("pyLIMA", reason="pyLIMA is not installed (pip install .[frameworks])")
    import with_pylima as wp
    from pyLIMA.models import FSPL_model

    moa310 = wp.make_event()
    law = ld.Quadratic(0.4, 0.25)
    with wp.quietly():
        ours = wp.CaldrithFSPLmodel(moa310, law, **wp.model_options(parallax))
        theirs = FSPL_model.FSPLmodel(moa310, **wp.model_options(parallax))
    parameters = [PUBLISHED["t0"], PUBLISHED["u0"], PUBLISHED["tE"], PUBLISHED["rho"]] + ([0.3, -0.2] if parallax else [])
    p = ours.compute_pyLIMA_parameters(parameters)
    telescope = moa310.telescopes[0]  # MOA: three seasons, the peak among them
    value, u = ours.model_magnification(telescope, p, return_impact_parameter=True)
    _, their_u = theirs.model_magnification(telescope, theirs.compute_pyLIMA_parameters(parameters),
                                            return_impact_parameter=True)
    # pyLIMA's own model's u (to its rounding), and caldrith_ld's magnification there.
    assert np.allclose(u, their_u, rtol=1e-13, atol=0)
    assert np.allclose(value, ld.magnification(their_u, PUBLISHED["rho"], law), rtol=1e-12, atol=0)
    if parallax:
        t = telescope.lightcurve["time"].value
        assert np.max(np.abs(u / np.hypot(PUBLISHED["u0"], (t - PUBLISHED["t0"]) / PUBLISHED["tE"]) - 1)) > 1e-4
        return
    # The Jacobian against central differences of the glue's magnification.
    jacobian, a = ours.model_magnification_Jacobian(telescope, p)
    assert np.array_equal(a, value)
    for k, step in enumerate((2e-5, 1e-8, 1e-6, 1e-8)):  # t0 ~ 2.5e6 d is rounded to 5e-10 d
        shifted = [list(parameters), list(parameters)]
        shifted[0][k] += step
        shifted[1][k] -= step
        plus, minus = (ours.model_magnification(telescope, ours.compute_pyLIMA_parameters(s)) for s in shifted)
        numerical = (plus - minus) / (2 * step)
        assert np.allclose(jacobian[:, k], numerical, rtol=1e-4, atol=1e-6 * np.max(np.abs(numerical)))


def test_mulensmodel_example_caldrith_agrees_with_mpmath_and_with_its_exact_methods():
    pytest.importorskip("MulensModel", reason="MulensModel is not installed (pip install .[frameworks])")
    out = run_example("with_mulensmodel.py", "--quick")
    rows = {}
    for line in out.splitlines():
        fields = line.split()
        if fields and (fields[0] == "caldrith_ld" or fields[0].startswith("finite_source_")):
            rows.setdefault(fields[0], []).append([float(x) for x in fields[4:]])
    assert len(rows) == 9 and len(rows["caldrith_ld"]) == 2  # both laws
    for errors in rows["caldrith_ld"]:
        assert len(errors) == 7 and max(map(abs, errors)) < 1e-9
    # MulensModel's methods that integrate directly, at the u of its own trajectory, within the
    # 1e-4 that its documentation gives (and far better) of mpmath at the u of the glue's.
    for method in ("finite_source_uniform_Gould94_direct", "finite_source_LD_Yoo04_direct"):
        assert max(map(abs, rows[method][0])) < 1e-5


@pytest.mark.parametrize("pi_e", [(0.0, 0.0), (0.3, -0.2)])
def test_mulensmodel_glue_follows_its_parallax(pi_e):
    pytest.importorskip("MulensModel", reason="MulensModel is not installed (pip install .[frameworks])")
    import with_mulensmodel as wm

    model = wm.make_model(pi_e)
    t = np.linspace(PUBLISHED["t0"] - 20, PUBLISHED["t0"] + 20, 201)
    ours = wm.caldrith_magnification(model, t, ld.Uniform())
    exact = wm.mulensmodel_magnification(model, "finite_source_uniform_Gould94_direct", t)
    assert np.max(np.abs(ours / exact - 1)) < 1e-5
    straight = ld.magnification(np.hypot(PUBLISHED["u0"], (t - PUBLISHED["t0"]) / PUBLISHED["tE"]), PUBLISHED["rho"])
    assert (np.max(np.abs(ours / straight - 1)) > 1e-5) == any(pi_e)
