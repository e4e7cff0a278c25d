"""caldrith_ld against bad and extreme input: every refusal is a TypeError or ValueError naming its
argument, the compiled core checks a law on every call however the law was made, and what is
served at the ends of the ranges is right (against mpmath)."""

import copy
import decimal
import fractions
import math
import pickle

import mpmath
import pytest

np = pytest.importorskip("numpy")
import caldrith_ld as ld  # noqa: E402
import ld_laws_reference  # noqa: E402

BIG = 10**400  # beyond the doubles
LONG_BIG = np.longdouble("1e400") if np.finfo(np.longdouble).maxexp > 1024 else None


def tampered(law, **fields):
    """The law with fields changed behind its constructor's back."""
    for name, value in fields.items():
        object.__setattr__(law, name, value)
    return law


def magnify(law):
    return lambda: ld.magnification([0.0, 0.1], 0.1, law)


@pytest.mark.parametrize(
    "call, error, message",
    [
        # The core checks the law again on every call, by the rules of the constructors.
        (magnify(tampered(ld.Linear(0.6), u=5.0)), ValueError, r"^u: the intensity is negative at μ = 0 \(-4\)"),
        (lambda: tampered(ld.Linear(0.6), u=5.0)(0.5), ValueError, r"^u: the intensity is negative"),
        (magnify(tampered(ld.Quadratic(0.4, 0.25), b=2e4)), ValueError, r"^b must be finite and within \[-1e4, 1e4\]"),
        (magnify(tampered(ld.SquareRoot(0.2, 0.5), d=math.nan)), ValueError, r"^d must be finite"),
        (magnify(tampered(ld.Logarithmic(0.6, 0.15), e=1.5)), ValueError, r"^e, f: the intensity is negative"),
        (magnify(tampered(ld.Power2(0.7, 0.6), alpha=-1.0)), ValueError, r"^alpha must be positive and at most 1e15"),
        (lambda: ld.Power2(0.7, 2e15), ValueError, r"^alpha must be positive and at most 1e15"),
        (magnify(tampered(ld.FourParameter(0.5, 0.1, 0.3, -0.2), a3=3.0)), ValueError, r"^a1, a2, a3, a4: the inten"),
        (magnify(tampered(ld.Sampled([0, 0.5, 1], [1, 0.8, 0.5]), r=(0.0, 0.7, 0.5, 1.0), I=(1, 1, 1, 1))),
         ValueError, r"^r must increase strictly"),
        (magnify(tampered(ld.Sampled([0, 1], [1, 0.5]), I=(1.0, -0.5))), ValueError, r"^I must be finite and ≥ 0"),
        (magnify(tampered(ld.Sampled([0, 1], [1, 0.5]), I=(1.0,))), ValueError, r"^r and I must be as long"),
        # Unpickling and copying go through the constructor.
        (lambda: pickle.loads(pickle.dumps(tampered(ld.Power2(0.5, 0.5), alpha=-1.0))), ValueError, r"^alpha"),
        (lambda: copy.deepcopy(tampered(ld.Linear(0.6), u=5.0)), ValueError, r"^u: the intensity is negative"),
        # Ranges.
        (lambda: ld.magnification(0.1, np.nextafter(1e30, 2e30)), ValueError, r"^rho must be positive and at most 1e30"),
        (lambda: ld.magnification(0.1, 1e77), ValueError, r"^rho must be positive and at most 1e30"),
        (lambda: ld.Linear(np.nextafter(-1e4, -2e4)), ValueError, r"^u must be finite and within \[-1e4, 1e4\]"),
        (lambda: ld.Linear(-1e308), ValueError, r"^u must be finite and within"),
        (lambda: ld.Power2(-1e308, 1.0), ValueError, r"^c must be finite and within"),
        (lambda: ld.FourParameter(0.0, 0.0, 0.0, 1e5), ValueError, r"^a4 must be finite and within"),
        (lambda: ld.Sampled([0, 1e-310, 1], [1, 0.5, 0.4]), ValueError, r"^r must increase .* steps of 2.2e-308"),
        # Numbers beyond the doubles.
        (lambda: ld.magnification([0.1, BIG], 0.1), ValueError, r"^u must be within the range of a double"),
        (lambda: ld.magnification(0.1, BIG), ValueError, r"^rho must be within the range of a double"),
        (lambda: ld.magnification(0.1, fractions.Fraction(BIG, 3)), ValueError, r"^rho must be within the range"),
        (lambda: ld.light_curve([BIG], 0.0, 0.1, 1.0, 0.01), ValueError, r"^t must be within the range"),
        (lambda: ld.light_curve([0.0], BIG, 0.1, 1.0, 0.01), ValueError, r"^t0 must be within the range"),
        (lambda: ld.light_curve([0.0], 0.0, BIG, 1.0, 0.01), ValueError, r"^u0 must be within the range"),
        (lambda: ld.light_curve([0.0], 0.0, 0.1, BIG, 0.01), ValueError, r"^tE must be within the range"),
        (lambda: ld.Linear(BIG), ValueError, r"^u must be within the range"),
        (lambda: ld.Quadratic(0.1, BIG), ValueError, r"^b must be within the range"),
        (lambda: ld.Power2(0.5, BIG), ValueError, r"^alpha must be within the range"),
        (lambda: ld.Sampled([0, BIG], [1, 1]), ValueError, r"^r must be within the range"),
        (lambda: ld.magnification(np.array([LONG_BIG]), 0.1), ValueError, r"^u must be within the range"),
        (lambda: ld.magnification(0.1, LONG_BIG), ValueError, r"^rho must be within the range"),
        # Non-numbers.
        (lambda: ld.magnification(None, 0.01), TypeError, r"^u must be .* not NoneType"),
        (lambda: ld.magnification(np.array([0.1, None], dtype=object), 0.01), TypeError, r"^u must .* NoneType"),
        (lambda: ld.magnification(np.array([True, False]), 0.01), TypeError, r"^u must .* not of bool"),
        (lambda: ld.magnification([decimal.Decimal("0.1")], 0.01), TypeError, r"^u must .* not Decimal"),
        (lambda: ld.magnification(0.1, decimal.Decimal("0.1")), TypeError, r"^rho must be a real number, not Dec"),
        (lambda: ld.magnification(0.1, np.ma.masked), TypeError, r"^rho must be a real number"),
        (lambda: ld.magnification(0.1, np.array([0.1])), TypeError, r"^rho must be a real number, not ndarray"),
        (lambda: ld.magnification(0.1, 0.1, ld.Law()), TypeError, r"^law must be a law of caldrith_ld"),
        (lambda: ld.Sampled([0, 1], [True, True]), TypeError, r"^I must .* bool"),
        (lambda: ld.Sampled(np.ma.masked_array([0, 0.5, 1], mask=[0, 1, 0]), [1, 1, 1]), ValueError,
         r"^r must have no masked entries"),
    ],
)
def test_bad_input_raises_naming_the_argument(call, error, message):
    if "LONG_BIG" in call.__code__.co_names and LONG_BIG is None:
        pytest.skip("long double is a double here")
    with pytest.raises(error, match=message):
        call()


def reference_centre(description, rho):
    """A(u = 0) in mpmath: ∫ I(t) 2t A(tρ) dt / ∫ I(t) 2t dt, A the point-lens magnification."""
    with mpmath.workdps(30):
        profile = ld_laws_reference.profile(description)
        rho = mpmath.mpf(rho)
        points = sorted({mpmath.mpf(0), min(mpmath.mpf(1), 4 / rho), mpmath.mpf(1),
                         *map(mpmath.mpf, ld_laws_reference.kinks(description))})

        def point_lens(x):
            return (x * x + 2) / (x * mpmath.sqrt(x * x + 4))

        flux = mpmath.quad(lambda t: profile(t) * 2 * t, points)
        return mpmath.quad(lambda t: profile(t) * 2 * t * point_lens(t * rho) if t > 0 else profile(t) * 2 / rho,
                           points) / flux


SAMPLES_R = [0.0, 0.5, 0.8, 1.0]
SAMPLES_I = [1.0, 0.75, 0.5, 0.25]  # exact in binary at any power-of-two scale down to 2^-1072


@pytest.mark.parametrize(
    "description, rho",
    [
        ({"kind": "Linear", "coefficients": [0.6]}, 30.0),
        ({"kind": "Power2", "coefficients": [0.7, 0.6]}, 1e3),
        ({"kind": "FourParameter", "coefficients": [0.7, -0.55, 1.1, -0.45]}, 1e6),
        ({"kind": "Quadratic", "coefficients": [0.4, 0.25]}, 1e30),  # the largest rho served
        ({"kind": "Linear", "coefficients": [-1e4]}, 0.01),  # the largest coefficients served
        ({"kind": "FourParameter", "coefficients": [1e4, -1e4, 1e4, -1e4]}, 0.01),
        ({"kind": "Sampled", "r": SAMPLES_R, "I": [i * 2.0**1020 for i in SAMPLES_I]}, 0.01),  # any scale
        ({"kind": "Sampled", "r": SAMPLES_R, "I": [i * 1.7e307 for i in SAMPLES_I]}, 0.01),
        ({"kind": "Sampled", "r": SAMPLES_R, "I": [i * 2.0**-1070 for i in SAMPLES_I]}, 0.01),
    ],
)
def test_the_ends_of_the_ranges_against_mpmath(description, rho):
    law = ld_laws_reference.module_law(description)
    value = ld.magnification(0.0, rho, law)
    assert float(abs(mpmath.mpf(float(value)) / reference_centre(description, rho) - 1)) < 1e-8
    if description["kind"] == "Sampled":  # the law's own values keep the samples' scale
        assert law([1.0, 0.0]).tolist() == [description["I"][0], description["I"][-1]]


@pytest.mark.parametrize(
    "law",
    [ld.Uniform(), ld.Linear(0.6), ld.Quadratic(0.4, 0.25), ld.SquareRoot(0.2, 0.5), ld.Logarithmic(0.6, 0.15),
     ld.Power2(0.7, 0.6), ld.FourParameter(0.5, 0.1, 0.3, -0.2), ld.Sampled([0, 1], [1, 0.5])],
    ids=lambda law: type(law).__name__,
)
def test_every_law_is_nan_at_nan_and_outside_zero_to_one(law):
    assert np.isnan(law([math.nan, -1e-300, -1.0, np.nextafter(1.0, 2.0), 2.0, math.inf, -math.inf])).all()
    assert math.isnan(law(math.nan))
    assert law([0.0, 1.0])[1] == 1.0 and law(-0.0) == law(0.0) >= 0.0


LAW = ld.Quadratic(0.4, 0.25)
U = [0.0, 0.004, 0.01, 0.03]


@pytest.mark.parametrize(
    "u, rho",
    [
        (np.array(U, dtype=">f8"), 0.01),  # big-endian
        (np.array([U, U]).T[:, 1], 0.01),  # strided
        (np.array([fractions.Fraction(x) for x in U], dtype=object), 0.01),
        (np.array(U, dtype=np.longdouble), np.array(0.01)),  # 0-d rho
        (U, fractions.Fraction(0.01)),
        (U, np.float64(0.01)),
    ],
)
def test_numbers_of_any_kind_give_the_float64_results(u, rho):
    expected = ld.magnification(np.array(U), 0.01, LAW)
    assert np.array_equal(ld.magnification(u, rho, LAW), expected)


@pytest.mark.parametrize(
    "call",
    [
        lambda values: ld.magnification(values, 0.01, LAW),
        lambda values: ld.light_curve(values, 0.0, 0.002, 0.5, 0.01, LAW),
        lambda values: LAW(values),
    ],
)
def test_a_mask_is_kept_and_masked_entries_are_not_read(call):
    # Under the mask: None, which no function could read.
    values = np.ma.masked_array(np.array([[0.005, None], [None, 0.02]], dtype=object), mask=[[0, 1], [1, 0]])
    result = call(values)
    assert isinstance(result, np.ma.MaskedArray)
    assert result.mask.tolist() == [[False, True], [True, False]]
    assert result.compressed().tolist() == call(np.array([0.005, 0.02])).tolist()
