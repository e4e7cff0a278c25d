"""The limb-darkened magnification through the uniform-disk and thin-ring kernels."""

import math

import pytest

import caldrith
from lensing_references import limb_darkened_average

THIN_RING = caldrith.integrated_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_witt_mao_magnification


def point_lens(u):
    return (u * u + 2) / (u * math.sqrt(u * u + 4))


def relative_error(value, reference):
    return abs(float((value - reference) / reference))


# Against the mean of the point-lens magnification over the limb-darkened disk (17-digit nested
# quadrature, good to 1e-18); (l, rho, thin-ring tolerance, uniform-disk tolerance). Measured:
#   l = 0:   thin ring 1.2e-5 low: at l = 0 the rings t < 1e-5 fall into the near-ring branch, which
#            divides by l and gives +inf (counted as 0), and the jump at t = 1e-5 costs the
#            quadrature another 3e-7. Uniform disk 6.9e-13.
#   inside:  thin ring 7.9e-13 (l = 0.5, rho = 0.05) and 5.4e-12 (l = 0.9, rho = 1), split at the
#            ring through the lens. Uniform disk 2.4e-6 and 2.8e-6 (7.4e-8 at l = 0.2): its integrand
#            mu^2 A(u, rho mu) has a logarithmic kink at t = sqrt(1 - l^2), where the nested disk's limb
#            crosses the lens, and the quadrature over [0, 1] is not split there.
#   limb:    thin ring 2.7e-12; uniform disk 4.8e-5 (and up to 2e-3 within 1e-3 of the limb, where
#            the uniform-disk kernel returns its on-limb value).
#   outside: thin ring 1.5e-15 and 3.6e-16; uniform disk 5.4e-15 and 3.8e-15.
REFERENCE_CASES = [
    (0.0, 0.05, 2e-5, 1e-11),
    (0.5, 0.05, 1e-10, 1e-5),
    (0.9, 1.0, 1e-10, 1e-5),
    (1.0, 0.05, 1e-10, 2e-4),
    (1.5, 0.05, 1e-13, 1e-13),
    (3.0, 1.0, 1e-13, 1e-13),
]


@pytest.mark.parametrize("l, rho, thin_ring_tolerance, uniform_disk_tolerance", REFERENCE_CASES)
def test_agrees_with_the_disk_average(l, rho, thin_ring_tolerance, uniform_disk_tolerance):
    reference = limb_darkened_average(l, rho)
    assert relative_error(THIN_RING([l], 1.0, rho)[0], reference) < thin_ring_tolerance
    assert relative_error(UNIFORM_DISK([l], 1.0, rho)[0], reference) < uniform_disk_tolerance


@pytest.mark.parametrize("rho", [0.05, 1.0])
def test_thin_ring_route_misses_the_innermost_rings_at_the_centre(rho):
    [value] = THIN_RING([0.0], 1.0, rho)
    assert 1e-6 < 1 - value / float(limb_darkened_average(0.0, rho)) < 2e-5


# Two kernels, one physical quantity. Measured worst relative differences over rho in
# {0.01, 0.05, 0.3, 1, 3}: outside 2.7e-14; inside 2.2e-5 and at the limb 2.1e-3 (the uniform-disk
# route, see above); at the centre 1.2e-5 (the thin-ring route). For rho = 0.001 the inside figure
# grows to 1.1e-4: the uniform-disk kernel's near-limb window has the absolute floor 1e-5.
REGIONS = {
    "centre": ([0.0], 2e-5),
    "inside": ([0.1, 0.3, 0.5, 0.7, 0.9, 0.97], 5e-5),
    "limb": ([0.999, 1.0, 1.001], 5e-3),
    "outside": ([1.05, 1.2, 1.5, 2.0, 3.0, 10.0], 1e-13),
}


@pytest.mark.parametrize("region", list(REGIONS))
@pytest.mark.parametrize("rho", [0.01, 0.05, 0.3, 1.0, 3.0])
def test_the_two_kernels_agree(rho, region):
    positions, tolerance = REGIONS[region]
    for thin_ring, uniform_disk in zip(THIN_RING(positions, 1.0, rho), UNIFORM_DISK(positions, 1.0, rho)):
        assert relative_error(thin_ring, uniform_disk) < tolerance


# Far from the star both approach the point lens, and so 1 from above. Beyond l = 1e3 (u = 50) the
# uniform-disk closed form cancels terms of size (u / rho)^2 and drops below 1 (1 - 1.7e-9 at
# l = 1e4), so it is checked only that far.
@pytest.mark.parametrize(
    "function, positions, absolute",
    [
        (THIN_RING, [20.0, 100.0, 1e3, 1e4, 1e5], 1e-15),
        (UNIFORM_DISK, [20.0, 100.0, 1e3], 1e-10),
    ],
)
def test_far_from_the_star_tends_to_one_from_above(function, positions, absolute):
    rho = 0.05
    values = function(positions, 1.0, rho)
    assert all(value > 1 for value in values)
    assert values == sorted(values, reverse=True)
    for position, value in zip(positions, values):
        excess = point_lens(position * rho) - 1
        assert abs(value - 1 - excess) < 1e-3 * excess + absolute


def test_empty_positions():
    assert THIN_RING([], 1.0, 0.1) == []
    assert UNIFORM_DISK([], 1.0, 0.1) == []


@pytest.mark.parametrize("l", [-1e-5, -0.3, -1.0, -5.0])
def test_negative_positions(l):
    # Every thin ring has the opposite sign of l and fails; the uniform disk has no value there.
    assert THIN_RING([l], 1.0, 0.05) == [0.0]
    assert math.isnan(UNIFORM_DISK([l], 1.0, 0.05)[0])


def test_point_star():
    positions = [0.0, 0.5, 2.0, -0.5, -0.0]
    assert THIN_RING(positions, 1.0, 0.0) == [0.0] * 5
    assert UNIFORM_DISK(positions, 1.0, 0.0) == [math.inf, math.inf, math.inf, -math.inf, -math.inf]


def test_nan_position_spoils_only_its_own_element():
    positions = [0.5, math.nan, 1.5]
    thin_ring = THIN_RING(positions, 1.0, 0.05)
    uniform_disk = UNIFORM_DISK(positions, 1.0, 0.05)
    assert thin_ring[1] == 0.0  # every integrand value is NaN and counts as 0
    assert math.isnan(uniform_disk[1])
    for index in [0, 2]:
        assert thin_ring[index] == THIN_RING([positions[index]], 1.0, 0.05)[0]
        assert uniform_disk[index] == UNIFORM_DISK([positions[index]], 1.0, 0.05)[0]
