"""caldrith_ld.jax: values as ld.magnification's, derivatives through grad/jacfwd/jacrev as ld.gradient's
rows and as numerical differentiation, vmap, jit, the JAX fit_fluxes, bad input; and the NUTS example.

Needs the extra `jax` (and numpyro for the example); skipped where they do not install."""

import functools
import math
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import caldrith_ld as ld
from conftest import RUNS_XLA

pytestmark = RUNS_XLA

jax = pytest.importorskip("jax", reason="jax does not install on this Python (pip install .[jax])")
jax.config.update("jax_enable_x64", True)
import jax.numpy as jnp  # noqa: E402

import caldrith_ld.jax as ldj  # noqa: E402

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"

# (law type, coefficients): every kind, a sampled law through its partial.
LAWS = [
    (ld.Uniform, []),
    (ld.Linear, [0.6]),
    (ld.Quadratic, [0.4, 0.25]),
    (ld.SquareRoot, [0.3, 0.4]),
    (ld.Logarithmic, [0.6, 0.2]),
    (ld.Power2, [0.6, 0.7]),
    (ld.FourParameter, [0.5, 0.1, 0.2, -0.1]),
    (functools.partial(ld.Sampled, [0.0, 0.3, 0.8, 1.0]), [1.0, 0.9, 0.6, 0.3]),
]
IDS = ["uniform", "linear", "quadratic", "square-root", "logarithmic", "power-2", "four-parameter", "sampled"]


def law_of(law_type, coefficients):
    return law_type(coefficients) if isinstance(law_type, functools.partial) else law_type(*coefficients)


def gradient_or_skip(u, rho, law):
    """ld.gradient, or a skip where the core has no derivatives for the route yet (quadrature)."""
    try:
        return ld.gradient(u, rho, law)
    except BaseException as error:  # the internal-fault exception derives from BaseException
        if "not built yet" not in str(error):
            raise
        pytest.skip(f"the core: {error}")


def positions(rho):
    """Inside, across the limb and outside, and far away."""
    return np.concatenate([np.linspace(0.0, 3.0 * rho, 14), [0.999 * rho, 1.001 * rho, 7.0 * rho, 2.0]])


@pytest.mark.parametrize("rho", [0.01, 0.3])
@pytest.mark.parametrize("law_type, coefficients", LAWS, ids=IDS)
def test_values_are_those_of_magnification_eager_and_jitted(law_type, coefficients, rho):
    u = positions(rho)
    expected = ld.magnification(u, rho, law_of(law_type, coefficients))
    c = jnp.array(coefficients, dtype=jnp.float64)
    assert np.array_equal(ldj.magnification(u, rho, law_type, c), expected)
    jitted = jax.jit(lambda u, rho, c: ldj.magnification(u, rho, law_type, c))
    assert np.array_equal(jitted(u.reshape(3, 6), rho, c), expected.reshape(3, 6))


@pytest.mark.parametrize("rho", [0.01, 0.3])
@pytest.mark.parametrize("law_type, coefficients", LAWS, ids=IDS)
def test_jacobians_are_the_rows_of_gradient(law_type, coefficients, rho):
    u = positions(rho)
    g = gradient_or_skip(u, rho, law_of(law_type, coefficients))
    c = jnp.array(coefficients, dtype=jnp.float64)
    for jacobian in (jax.jacfwd, jax.jacrev):
        d_u, d_rho, d_c = jacobian(ldj.magnification, argnums=(0, 1, 3))(jnp.asarray(u), rho, law_type, c)
        np.testing.assert_allclose(np.diag(d_u), g.d_u, rtol=1e-15)
        np.testing.assert_allclose(d_rho, g.d_rho, rtol=1e-15)
        np.testing.assert_allclose(d_c.T, g.d_coefficients, rtol=1e-15)
    grad = jax.grad(lambda rho, c: ldj.magnification(u, rho, law_type, c) @ u, argnums=(0, 1))(rho, c)
    np.testing.assert_allclose(grad[0], g.d_rho @ u, rtol=1e-13)
    np.testing.assert_allclose(grad[1], g.d_coefficients @ u, rtol=1e-13)


@pytest.mark.parametrize("rho, law_type, coefficients", [(0.01, ld.Quadratic, [0.4, 0.25]),
                                                         (0.05, *LAWS[-1]), (0.09, ld.Linear, [0.6])])
def test_derivatives_against_numerical_differentiation(rho, law_type, coefficients):
    u = np.array([0.25 * rho, 0.9 * rho, 1.2 * rho, 3.0 * rho])  # off the sampled law's kinks
    c = np.array(coefficients)
    d_rho, d_c = jax.jacfwd(ldj.magnification, argnums=(1, 3))(u, rho, law_type, jnp.asarray(c))
    if d_rho is None or not np.all(np.isfinite(d_rho)):
        pytest.fail("no derivative")

    def value(r, k=None, step=0.0):
        shifted = c.copy()
        if k is not None:
            shifted[k] += step
        return ld.magnification(u, r, law_of(law_type, list(shifted)))

    def slope(f, h):  # five points: the values' own errors of 1e-12 need a wide step
        return (8 * (f(h) - f(-h)) - (f(2 * h) - f(-2 * h))) / (12 * h)

    np.testing.assert_allclose(d_rho, slope(lambda h: value(rho + h), 1e-3 * rho), rtol=1e-7)
    for k in range(len(c)):
        np.testing.assert_allclose(d_c[:, k], slope(lambda h: value(rho, k, h), 1e-3), rtol=1e-7, atol=1e-10)


def test_light_curve_and_its_jacobian_are_those_of_light_curve_gradient():
    t = np.linspace(-0.3, 0.3, 41)
    p = (0.01, 0.004, 20.0, 0.01)
    g = ld.light_curve_gradient(t, *p, ld.Linear(0.6))
    np.testing.assert_allclose(ldj.light_curve(t, *p, ld.Linear, jnp.array([0.6])), g.value, rtol=1e-13)
    jac = jax.jacrev(ldj.light_curve, argnums=(1, 2, 3, 4, 6))(t, *p, ld.Linear, jnp.array([0.6]))
    for got, expected in zip(jac, [g.d_t0, g.d_u0, g.d_tE, g.d_rho, g.d_coefficients.T]):
        np.testing.assert_allclose(got, expected, rtol=1e-12, atol=1e-12 * np.abs(expected).max())
    # At u = 0 the derivatives in the trajectory are 0, not NaN.
    at_lens = jax.grad(lambda u0: ldj.light_curve(jnp.array([0.01]), 0.01, u0, 20.0, 0.01).sum())(0.0)
    assert at_lens == 0.0


def test_vmap_over_positions_radii_and_coefficients():
    u = np.linspace(0.0, 0.05, 9)
    rhos = np.array([0.005, 0.01, 0.08])
    cs = np.array([[0.4, 0.25], [0.6, 0.0], [0.2, 0.5]])

    def one(u, rho, c):
        return ld.magnification(u, float(rho), ld.Quadratic(*c))

    f = functools.partial(ldj.magnification, law_type=ld.Quadratic)
    cases = [
        (jax.vmap(lambda r: f(u, r, coefficients=cs[0]))(rhos), [one(u, r, cs[0]) for r in rhos]),
        (jax.vmap(lambda c: f(u, 0.01, coefficients=c))(cs), [one(u, 0.01, c) for c in cs]),
        (jax.vmap(lambda x: f(x, 0.01, coefficients=cs[0]), in_axes=1, out_axes=1)(u.reshape(3, 3)),
         one(u, 0.01, cs[0]).reshape(3, 3)),
        (jax.vmap(lambda r, c: f(u, r, coefficients=c))(rhos, cs), [one(u, r, c) for r, c in zip(rhos, cs)]),
        # nested: positions inside stars
        (jax.vmap(lambda r: jax.vmap(lambda x: f(x, r, coefficients=cs[0]))(u))(rhos),
         [one(u, r, cs[0]) for r in rhos]),
    ]
    for got, expected in cases:
        np.testing.assert_array_equal(got, np.array(expected))
    per_star = jax.vmap(jax.grad(lambda r, c: f(u, r, coefficients=c).sum(), argnums=(0, 1)))(rhos, cs)
    for k, (r, c) in enumerate(zip(rhos, cs)):
        g = ld.gradient(u, float(r), ld.Quadratic(*c))
        np.testing.assert_allclose(per_star[0][k], g.d_rho.sum(), rtol=1e-14)
        np.testing.assert_allclose(per_star[1][k], g.d_coefficients.sum(axis=1), rtol=1e-14)


@pytest.mark.parametrize("blend", [True, False])
def test_jax_fit_fluxes_and_its_gradient_are_those_of_fit_fluxes(blend):
    rng = np.random.default_rng(3)
    t = np.linspace(-0.4, 0.4, 80)
    sigma = rng.uniform(0.5, 1.5, t.size)
    flux = 30.0 * ld.light_curve(t, 0.0, 0.005, 15.0, 0.01, ld.Linear(0.5)) + 4.0 + sigma * rng.standard_normal(t.size)
    theta = jnp.array([0.001, 0.0052, 15.5, 0.0102])
    g = ld.light_curve_gradient(t, *np.asarray(theta), ld.Linear(0.5))
    expected = ld.fit_fluxes(g.value, flux, sigma, blend, [g.d_t0, g.d_u0, g.d_tE, g.d_rho])

    def chi2(p):
        return ldj.fit_fluxes(ldj.light_curve(t, *p, ld.Linear, jnp.array([0.5])), flux, sigma, blend).chi2

    fit = ldj.fit_fluxes(g.value, flux, sigma, blend)
    np.testing.assert_allclose([fit.source, fit.blend, fit.chi2], [expected.source, expected.blend, expected.chi2],
                               rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(jax.jit(jax.grad(chi2))(theta), expected.d_chi2, rtol=1e-8)
    assert math.isnan(ldj.fit_fluxes(jnp.ones(3), jnp.arange(3.0), jnp.ones(3)).source)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: ldj.magnification([0.1], -0.01), ValueError, "rho must be positive"),
        (lambda: ldj.magnification([0.1], jnp.ones(2)), ValueError, "rho must be a scalar"),
        (lambda: ldj.magnification([0.1], 0.01, ld.Linear, [0.6, 0.1]), ValueError, r"coefficients must be of shape \(1,\)"),
        (lambda: ldj.magnification([0.1], 0.01, ld.Linear, [1.5]), ValueError, "intensity is negative"),
        (lambda: ldj.magnification([0.1], 0.01, ld.Power2, [0.5, 0.0]), ValueError, "alpha must be positive"),
        (lambda: ldj.magnification([0.1], 0.01, ld.Sampled, [1.0, 0.5]), TypeError, "functools.partial"),
        (lambda: ldj.magnification([0.1], 0.01, functools.partial(ld.Sampled, [0.0, 0.5]), [1.0, 0.5]),
         ValueError, "r must increase"),
        (lambda: ldj.magnification([0.1], 0.01, ld.Linear(0.6), [0.6]), TypeError, "law_type must be a law class"),
        (lambda: ldj.magnification(["a"], 0.01), TypeError, "u must be real numbers"),
        (lambda: ldj.light_curve([0.0], 0.0, 0.1, -3.0, 0.01), ValueError, "tE must be positive"),
        (lambda: ldj.fit_fluxes(jnp.ones(3), jnp.ones(2), jnp.ones(3)), ValueError, "flux must have the shape"),
        (lambda: jax.hessian(lambda r: ldj.magnification([0.01], r).sum())(0.01), NotImplementedError,
         "first derivatives only"),
    ],
)
def test_bad_input(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_traced_values_that_make_no_star_give_nan():
    u = jnp.array([0.0, 0.02])
    cases = [(-0.01, ld.Linear, [0.6]), (jnp.nan, ld.Linear, [0.6]), (0.01, ld.Linear, [jnp.inf]),
             (0.01, ld.Power2, [0.5, -1.0]), (0.01, functools.partial(ld.Sampled, [0.0, 1.0]), [0.0, 0.0])]
    for rho, law_type, c in cases:
        values = jax.jit(lambda rho, c: ldj.magnification(u, rho, law_type, c))(rho, jnp.array(c))
        assert np.all(np.isnan(values)), (rho, law_type, c)


def test_float32_is_refused_with_the_way_out():
    jax.config.update("jax_enable_x64", False)
    try:
        with pytest.raises(RuntimeError, match="jax_enable_x64"):
            ldj.magnification([0.1], 0.01)
    finally:
        jax.config.update("jax_enable_x64", True)


def test_nuts_example_runs_briefly():
    pytest.importorskip("numpyro", reason="numpyro does not install on this Python (pip install .[nuts])")
    pytest.importorskip("scipy", reason="the example's starting fit needs scipy (pip install .[examples])")
    done = subprocess.run([sys.executable, str(EXAMPLES / "fit_mb08310_nuts.py"), "--warmup", "20", "--samples", "20",
                           "--chains", "2", "--no-figure"], capture_output=True, text=True, timeout=600, check=True)
    last = dict(item.split("=") for item in done.stdout.strip().splitlines()[-1].split())
    assert set(last) == {"t0", "u0", "tE", "rho"}
    values = {name: float(value) for name, value in last.items()}
    assert all(math.isfinite(v) for v in values.values())
    assert abs(values["t0"] - 2454656.399) < 0.01 and 0.001 < values["rho"] < 0.02
