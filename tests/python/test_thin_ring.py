"""The thin-ring magnification (Heyrovsky) of one ring of the star, against direct ring averages."""

import math

import mpmath
import pytest

import caldrith
from lensing_references import point_lens, relative_error, ring_average

ELLIPK_NAN = "ellipk: Arguments cannot be NAN."
ELLIPPI_ONE = "ellippi: n cannot be 1."


def ring(l, r, c):
    """The kernel with the Einstein radius c in stellar radii (re = c, rstar = 1: re / rstar is c exactly)."""
    return caldrith.heyrovsky_magnification(l, r, c, 1.0)


@pytest.mark.parametrize("c", [0.05, 1.0, 20.0])
@pytest.mark.parametrize("r", [1e-5, 0.01, 0.5, 1.0, 3.0])
def test_lens_behind_the_centre_sees_a_point_lens_at_r_over_c(r, c):
    # Every point of the ring lies r from the lens; r = 1e-5 is already the general branch.
    with mpmath.workdps(30):
        expected = point_lens(mpmath.mpf(r) / c)
    assert relative_error(ring(0.0, r, c), expected) < 1e-15


@pytest.mark.parametrize(
    "l, r, expected",
    [
        (0.7, 0.7, math.inf),  # the ring passes through the lens
        (3e-3, 3e-3, math.inf),
        (0.0, 0.0, math.nan),  # ln(0 / 0)
        (0.0, 1e-6, math.inf),  # near-ring branch divides by l = 0
        (0.0, 9.99e-6, math.inf),
    ],
)
def test_degenerate_rings(l, r, expected):
    for c in [0.1, 1.0, 10.0]:
        assert str(ring(l, r, c)) == str(expected)


WELL_SEPARATED_GRID = [
    (l, r, c)
    for l in [0.01, 0.3, 0.5, 1.0, 2.0, 10.0]
    for r in [0.05, 0.3, 0.7, 1.0]
    for c in [0.05, 1.0, 20.0]
    if abs(r - l) >= 0.05 * (l + r)
]


@pytest.mark.parametrize("l, r, c", WELL_SEPARATED_GRID)
def test_general_branch_is_the_ring_average(l, r, c):
    # Measured: 1.9e-15 at worst on this grid.
    assert relative_error(ring(l, r, c), ring_average(l, r, c)) < 1e-12


# Closer to the ring the characteristic n = 4lr / (l + r)^2 approaches 1 and 1 - n = (r - l)^2 / (l + r)^2
# is formed from a rounded n: the closed form then loses about 1e-16 (l / (r - l))^2 relative (the
# elliptic integrals themselves stay exact for the rounded n and m). Measured worst over l in
# {0.3, 1, 2}, c in {0.05, 1, 20}, both sides of the ring: 1.3e-13 at |r - l| = 0.05 l, 6.5e-12 at
# 1e-2 l, 4.1e-10 at 1e-3 l, 5.3e-8 at 1e-4 l and 2.6e-6 at 1e-5 l.
@pytest.mark.parametrize("gap, tolerance", [(1e-2, 2e-11), (1e-3, 2e-9), (1e-4, 2e-7)])
@pytest.mark.parametrize("c", [0.05, 1.0, 20.0])
@pytest.mark.parametrize("l", [0.3, 1.0, 2.0])
def test_general_branch_close_to_the_ring(l, c, gap, tolerance):
    for r in [l * (1 + gap), l * (1 - gap)]:
        assert relative_error(ring(l, r, c), ring_average(l, r, c)) < tolerance


@pytest.mark.parametrize("gap", [9.99999e-6, -9.99999e-6, 1e-6, -1e-6, 1e-9, -1e-9])
@pytest.mark.parametrize("c", [0.05, 1.0, 20.0])
@pytest.mark.parametrize("l", [0.3, 1.0, 2.0, 10.0])
def test_near_ring_expansion_is_first_order_accurate(l, c, gap):
    # The expansion drops terms of second order in the gap g: measured errors stay below
    # 0.75 g^2 (1/l^2 + 1/(l c)), e.g. 1.0e-11 at l = 2, c = 2, g = 1e-5, 1.2e-10 at l = 10, c = 0.05.
    r = l + gap
    tolerance = 2 * gap * gap * (1 / l**2 + 1 / (l * c)) + 1e-14
    assert relative_error(ring(l, r, c), ring_average(l, r, c)) < tolerance


@pytest.mark.parametrize("l, r", [(1e-5, 2e-5), (2e-5, 1e-5)])
def test_gap_of_exactly_1e_5_takes_the_general_branch(l, r):
    # Only rings this small have |r - l| equal to the double 1e-5 (its significand is odd).
    assert abs(r - l) == 1e-5
    reference = ring_average(l, r, 1.0)
    assert relative_error(ring(l, r, 1.0), reference) < 1e-12
    # One step closer the expansion takes over; at |g| = l it is far off the ring average.
    closer = math.nextafter(r, l)
    assert abs(closer - l) < 1e-5
    assert relative_error(ring(l, closer, 1.0), ring_average(l, closer, 1.0)) > 0.01


def test_branches_on_both_sides_of_the_threshold():
    # l = 2, re = 1, rstar = 0.5. Just inside the window the expansion is good to 1.0e-11; just
    # outside, the general branch has lost 4.5e-6 to the rounding of n (see above), so the two
    # branches differ there by 3.2e-6 relative.
    l = 2.0
    below, above = l + 0.99999e-5, l + 1.00001e-5
    assert abs(below - l) < 1e-5 < abs(above - l)
    for r, tolerance in [(below, 1e-10), (above, 2e-5)]:
        assert (
            relative_error(caldrith.heyrovsky_magnification(l, r, 1.0, 0.5), ring_average(l, r, 2.0))
            < tolerance
        )


@pytest.mark.parametrize(
    "l, r, re, rstar, message",
    [
        (0.5, -0.3, 1.0, 0.1, ELLIPK_NAN),  # opposite signs: l r / q < 0 and its square root is NaN
        (-0.5, 0.3, 1.0, 0.1, ELLIPK_NAN),
        (-2.0, 1.0, 1.0, 1.0, ELLIPK_NAN),
        (0.5, 0.3, 1.0, 0.0, ELLIPK_NAN),  # c infinite: k = 0 x inf
        (math.nan, 0.3, 1.0, 0.1, ELLIPK_NAN),
        (0.5, math.nan, 1.0, 0.1, ELLIPK_NAN),
        (0.5, 0.3, math.nan, 0.1, ELLIPK_NAN),
        (0.5, 0.3, 1.0, math.nan, ELLIPK_NAN),
        # The near-ring branch calls no elliptic integral: NaN instead of an error.
        (0.5, 0.5 + 1e-6, 1.0, 0.0, None),  # c infinite
        (0.5, 0.5 + 1e-6, math.nan, 0.1, None),
        (0.5, 0.5 - 1e-6, 1.0, math.nan, None),
        (-2e-6, 2e-6, 1.0, 0.1, None),  # opposite signs: the logarithm of a negative number
    ],
)
def test_invalid_arguments(l, r, re, rstar, message):
    if message is None:
        assert math.isnan(caldrith.heyrovsky_magnification(l, r, re, rstar))
        return
    with pytest.raises(RuntimeError) as caught:
        caldrith.heyrovsky_magnification(l, r, re, rstar)
    assert caught.value.args == (message,)


@pytest.mark.parametrize("l, r", [(0.5, 0.3), (2.0, 0.7), (0.3, 1.0), (1.0, 1.5)])
def test_without_a_lens_the_ring_is_not_magnified(l, r):
    # re = 0: c = 0 and m = 0, leaving 2|g| Pi(n, 0) / (pi (l + r)), which is exactly 1 for l, r > 0.
    # Its rounding is that of 1 - n, about 1e-16 (l + r)^2 / (r - l)^2 relative.
    with mpmath.workdps(30):
        lm, rm = mpmath.mpf(l), mpmath.mpf(r)
        n = 4 * lm * rm / (lm + rm) ** 2
        expected = 2 * abs(rm - lm) * mpmath.ellippi(n, 0) / (mpmath.pi * (lm + rm))
    condition = ((l + r) / (r - l)) ** 2
    assert relative_error(caldrith.heyrovsky_magnification(l, r, 0.0, 1.0), expected) < 8e-16 * condition


def test_characteristic_rounding_to_one_fails_in_ellippi():
    # l = 2^10, r = l + 2^-16 (a gap of 1.5e-5, outside the near-ring window): 4lr = 2^22 + 2^-4
    # exactly, while (l + r)^2 = 2^22 + 2^-4 + 2^-32 rounds to 2^22 + 2^-4, so n is exactly 1.
    l = 1024.0
    r = l + 2.0**-16
    assert r - l > 1e-5
    assert (l * 4) * r / ((l + r) * (l + r)) == 1.0
    for re, rstar in [(1.0, 1.0), (1.0, 1e-3), (0.0, 1.0)]:
        with pytest.raises(RuntimeError) as caught:
            caldrith.heyrovsky_magnification(l, r, re, rstar)
        assert caught.value.args == (ELLIPPI_ONE,)


@pytest.mark.parametrize("c", [1e-3, 1.0, 1e8])
@pytest.mark.parametrize("l, r", [(1e155, 1.0), (1e200, 0.3), (1e300, 1.0), (1.7e308, 0.5), (0.5, 1e300), (3e153, 0.3)])
def test_lengths_whose_squares_overflow(l, r, c):
    # Beyond about 1e154 (l + r)^2 overflows; the kernel scales the lengths by a power of two first.
    assert relative_error(ring(l, r, c), ring_average(l, r, c)) < 1e-15


@pytest.mark.parametrize("c", [0.05, 1.0, 20.0])
@pytest.mark.parametrize("l, r", [(0.5, 0.3), (2.0, 0.7), (0.3, 1.0), (1.0, 1.0 + 2e-5)])
def test_scaled_lengths_give_the_same_bits(l, r, c):
    # The magnification depends on the ratios of l, r and c only, and scaling by a power of two is
    # exact: lengths beyond the threshold 2^500, scaled down inside the kernel, give the same bits.
    for exponent in (600, 1000):
        scale = 2.0**exponent
        assert caldrith.heyrovsky_magnification(l * scale, r * scale, c * scale, 1.0) == ring(l, r, c)
