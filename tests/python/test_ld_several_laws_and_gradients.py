"""caldrith_ld with several laws in one call, and its derivatives: each row of a call with several
laws has the bits of that law's own call, on every route; light curves' derivatives follow the
trajectory's chain rule."""

import dataclasses

import pytest

np = pytest.importorskip("numpy")
import caldrith_ld as ld  # noqa: E402

# One law of each route: the small-star series, the sampled series, the quadrature (power-2), the
# uniform disk.
LAWS = [ld.Quadratic(0.4, 0.25), ld.Sampled([0, 0.3, 0.8, 1], [1, 0.9, 0.7, 0.2]), ld.Power2(0.7, 0.6), ld.Uniform()]
SERIES_LAWS = [ld.Linear(0.6), ld.SquareRoot(0.2, 0.5), ld.Logarithmic(0.6, 0.15), ld.FourParameter(0.5, 0.1, 0.3, -0.2)]


@pytest.mark.parametrize("rho", [1e-3, 0.05, 0.5])
def test_each_row_has_the_bits_of_its_own_call(rho):
    u = np.random.default_rng(7).uniform(0.0, 3.0 * rho, (30, 7))
    u[0, :3] = [0.0, rho, np.inf]
    rows = ld.magnification(u, rho, LAWS + SERIES_LAWS)
    assert rows.shape == (len(LAWS) + len(SERIES_LAWS), *u.shape)
    for row, law in zip(rows, LAWS + SERIES_LAWS):
        assert np.array_equal(row, ld.magnification(u, rho, law))
    t = np.linspace(-1.0, 1.0, 11)
    curves = ld.light_curve(t, 0.0, 0.3 * rho, 20.0, rho, SERIES_LAWS)
    assert np.array_equal(curves[2], ld.light_curve(t, 0.0, 0.3 * rho, 20.0, rho, SERIES_LAWS[2]))


@pytest.mark.parametrize("rho", [1e-3, 0.05])
def test_several_gradients_are_each_laws_own(rho):
    u = np.r_[np.linspace(0.0, 6.0 * rho, 23), np.array([10.0, 100.0, 1e4]) * rho]  # the far field too
    laws = [law for law in LAWS + SERIES_LAWS if not isinstance(law, ld.Power2)]
    for mine, law in zip(ld.gradient(u, rho, laws), laws):
        alone = ld.gradient(u, rho, law)
        for field in dataclasses.fields(alone):
            assert np.array_equal(getattr(mine, field.name), getattr(alone, field.name)), field.name
        assert np.array_equal(alone.value, ld.magnification(u, rho, law))
        count = len(law.I) if isinstance(law, ld.Sampled) else len(dataclasses.fields(law))
        assert alone.d_coefficients.shape == (count, *u.shape)


@pytest.mark.parametrize("law", [ld.Quadratic(0.4, 0.25), ld.Sampled([0, 0.5, 1], [1, 0.8, 0.3])],
                         ids=lambda law: type(law).__name__)
def test_light_curve_derivatives_follow_the_trajectory(law):
    # Against central differences of the light curve itself (fourth order), away from the limb.
    t0, u0, te, rho = 0.1, 0.004, 15.0, 0.01
    t = np.array([-0.3, -0.05, 0.02, 0.1, 0.13, 0.5])
    g = ld.light_curve_gradient(t, t0, u0, te, rho, law)
    assert np.array_equal(g.value, ld.light_curve(t, t0, u0, te, rho, law))
    params = dict(t0=t0, u0=u0, tE=te, rho=rho)
    for name, step in [("t0", 1e-5), ("u0", 1e-6), ("tE", 1e-3), ("rho", 1e-6)]:
        def curve(x):
            return ld.light_curve(t, **{**params, name: x}, law=law)

        x = params[name]
        numeric = (8 * (curve(x + step) - curve(x - step)) - (curve(x + 2 * step) - curve(x - 2 * step))) / (12 * step)
        np.testing.assert_allclose(getattr(g, f"d_{name}"), numeric, rtol=1e-6, err_msg=name)
    # At the closest approach of a central crossing the curve is flat in t0, u0 and tE.
    centre = ld.light_curve_gradient(np.array([t0]), t0, 0.0, te, rho, law)
    assert centre.d_t0[0] == centre.d_u0[0] == centre.d_tE[0] == 0.0


def test_laws_must_be_laws():
    for bad in ([], [ld.Linear(0.6), "quadratic"], "linear", 0.6):
        for call in (ld.magnification, ld.gradient):
            with pytest.raises(TypeError, match="law"):
                call([0.1], 0.01, bad)
