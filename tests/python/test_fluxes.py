"""caldrith_ld.fit_fluxes: the linear fluxes against closed forms, the profiled chi2's gradient against
numerical differentiation, and bad input."""

from fractions import Fraction as F

import numpy as np
import pytest

import caldrith_ld as ld


# (magnification, flux, sigma, blend, source, blend flux, chi2), solved by hand in fractions.
@pytest.mark.parametrize(
    "a, f, sigma, blend, source, blend_flux, chi2",
    [
        ([1, 2, 3], [2, 3, 5], [1, 1, 1], True, F(3, 2), F(1, 3), F(1, 6)),
        ([1, 2, 3], [2, 3, 5], [1, 1, 1], False, F(23, 14), 0, F(3, 14)),
        # weights 1, 1/4, 1: the middle point pulls less
        ([1, 2, 3], [2, 3, 5], [1, 2, 1], True, F(3, 2), F(4, 9), F(1, 18)),
        ([2, 4], [5, 9], [1, 1], True, 2, 1, 0),
        ([2, 4], [4, 8], [0.5, 3], False, 2, 0, 0),
    ],
)
def test_fluxes_and_chi2_against_closed_forms(a, f, sigma, blend, source, blend_flux, chi2):
    fit = ld.fit_fluxes(a, f, sigma, blend=blend)
    assert fit.source == pytest.approx(float(source), rel=1e-14)
    assert fit.blend == pytest.approx(float(blend_flux), rel=1e-14, abs=1e-14)
    assert fit.chi2 == pytest.approx(float(chi2), rel=1e-13, abs=1e-28)
    assert fit.d_chi2 is None


@pytest.mark.parametrize("blend", [True, False])
def test_profiled_chi2_gradient_against_numerical_differentiation(blend):
    rng = np.random.default_rng(7)
    law = ld.Linear(0.6)
    t = np.linspace(-0.4, 0.4, 120)
    truth = (0.01, 0.006, 18.0, 0.012)
    sigma = rng.uniform(0.5, 1.5, t.size)
    flux = 40.0 * ld.light_curve(t, *truth, law) + (8.0 if blend else 0.0) + sigma * rng.standard_normal(t.size)
    theta = np.array([0.012, 0.0055, 18.5, 0.0115])  # off the best fit: the gradient is not 0
    g = ld.light_curve_gradient(t, *theta, law)
    fit = ld.fit_fluxes(g.value, flux, sigma, blend=blend, d_magnification=[g.d_t0, g.d_u0, g.d_tE, g.d_rho])

    def profiled(p):
        return ld.fit_fluxes(ld.light_curve(t, *p, law), flux, sigma, blend=blend).chi2

    for k, step in enumerate([1e-6, 1e-7, 1e-4, 1e-7]):
        up, down = theta.copy(), theta.copy()
        up[k] += step
        down[k] -= step
        numerical = (profiled(up) - profiled(down)) / (2 * step)
        assert fit.d_chi2[k] == pytest.approx(numerical, rel=1e-5), k


@pytest.mark.parametrize(
    "arguments, message",
    [
        (([1, 2], [1, 2, 3], [1, 1]), "flux must have the shape"),
        (([1, 2], [1, 2], [[1, 1]]), "sigma must have the shape"),
        (([1, 2], [1, 2], [1, 0]), "sigma must be positive"),
        (([1, 2], [1, 2], [1, -2]), "sigma must be positive"),
        (([1, 2], [1, 2], [1, np.inf]), "sigma must be finite"),
        (([1, np.nan], [1, 2], [1, 1]), "magnification must be finite"),
        (([1, 2], [np.nan, 2], [1, 1]), "flux must be finite"),
        (([], [], []), "magnification must not be empty"),
        (([3, 3, 3], [1, 2, 3], [1, 1, 1]), "magnification is constant"),
        (([0.1 + 1e-18, 0.1, 0.1], [1, 2, 3], [1, 1, 1]), "magnification is constant"),
    ],
)
def test_bad_input_raises_value_error_naming_it(arguments, message):
    with pytest.raises(ValueError, match=message):
        ld.fit_fluxes(*arguments)


def test_degenerate_cases_of_the_fixed_blend_and_the_gradient_shape():
    with pytest.raises(ValueError, match="magnification is 0 everywhere"):
        ld.fit_fluxes([0, 0], [1, 2], [1, 1], blend=False)
    assert ld.fit_fluxes([3, 3], [6, 6], [1, 1], blend=False).source == 2.0  # a constant is fine without a blend
    with pytest.raises(ValueError, match="d_magnification must have the shape"):
        ld.fit_fluxes([1, 2], [1, 2], [1, 1], d_magnification=[1, 2])
