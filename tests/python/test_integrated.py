"""The limb-darkened magnification through the uniform-disk and thin-ring kernels, and what it shares with
the integrated flux maps."""

import math

import pytest

import caldrith
from lensing_references import limb_darkened_average, point_lens, relative_error, sampled_average

THIN_RING = caldrith.integrated_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_witt_mao_magnification
LINEAR_SAMPLES = ((0.0, 1.0), (1.0, 0.45))
LINEAR_PROFILE = tuple(map(list, LINEAR_SAMPLES))


def with_linear_profile(flux_map):
    return lambda l, re, rstar: flux_map(l, re, rstar, *LINEAR_PROFILE)


FLUX_MAP_THIN_RING = with_linear_profile(caldrith.integrated_flux_map_heyrovsky_magnification)
FLUX_MAP_UNIFORM_DISK = with_linear_profile(caldrith.integrated_flux_map_witt_mao_magnification)


# Against the mean of the point-lens magnification over the limb-darkened disk (17-digit quadrature, good
# to 1e-18). Measured, thin ring / uniform disk: centre 1.0e-14 / 6.9e-13; inside 7.9e-13 and
# 5.4e-12 (split at the ring through the lens) / 2.4e-6 and 2.8e-6 (the uniform-disk integrand has a
# logarithmic kink at t = sqrt(1 - l^2), where the nested disk's limb crosses the lens, and is not split
# there); limb 2.7e-12 / 4.8e-5 (up to 2e-3 within 1e-3 of the limb, the kernel's on-limb window);
# outside 1.5e-15 and 3.6e-16 / 5.4e-15 and 3.8e-15.
@pytest.mark.parametrize(
    "l, rho, thin_ring_tolerance, uniform_disk_tolerance",
    [
        (0.0, 0.05, 1e-12, 1e-11),
        (0.5, 0.05, 1e-10, 1e-5),
        (0.9, 1.0, 1e-10, 1e-5),
        (1.0, 0.05, 1e-10, 2e-4),
        (1.5, 0.05, 1e-13, 1e-13),
        (3.0, 1.0, 1e-13, 1e-13),
    ],
)
def test_agrees_with_the_disk_average(l, rho, thin_ring_tolerance, uniform_disk_tolerance):
    reference = limb_darkened_average(l, rho)
    assert relative_error(THIN_RING([l], 1.0, rho)[0], reference) < thin_ring_tolerance
    assert relative_error(UNIFORM_DISK([l], 1.0, rho)[0], reference) < uniform_disk_tolerance


# With the lens within 1e-4 stellar radii of the centre the magnification is that of l = 0 to 1e-8 relative.
# The thin-ring expansion near the lens holds only for gaps small against l itself; inside the profile
# integrals it is taken where |t - l| < 1e-5 l, so rings near a lens at the centre keep their closed form
# (at l = 0 the point-lens value). Measured against the disk average at l = 0: 1e-14 at l = 0, 9e-14 at
# 1e-8, 5e-13 at 1e-6, 3.9e-11 at 1e-5 (the magnification itself has moved by then).
@pytest.mark.parametrize("function", [THIN_RING, FLUX_MAP_THIN_RING])
@pytest.mark.parametrize("rho", [0.05, 1.0])
def test_thin_ring_routes_with_the_lens_at_the_centre(function, rho):
    positions = [0.0, 1e-12, 1e-8, 1e-6, 1e-5]
    if function is THIN_RING:
        reference = limb_darkened_average(0.0, rho)
    else:
        reference = sampled_average(0.0, rho, *LINEAR_SAMPLES)
    for value in function(positions, 1.0, rho):
        assert relative_error(value, reference) < 1e-9


# Two kernels, one physical quantity. Measured worst relative differences over rho in
# {0.01, 0.05, 0.3, 1, 3}: outside 2.7e-14; inside 2.2e-5 and at the limb 2.1e-3 (the uniform-disk
# route, see above); at the centre 7e-11 (rho = 0.01). For rho = 0.001 the inside figure grows to 1.1e-4: the
# uniform-disk kernel's near-limb window has the absolute floor 1e-5.
REGIONS = {
    "centre": ([0.0], 2e-10),
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


# Far from the star the mean magnification approaches the point lens, and 1 from above. Beyond l = 1e3
# (u = 50) the uniform-disk closed form cancels terms of size (u / rho)^2 and drops below 1 (1 - 1.7e-9
# at l = 1e4), so the uniform-disk routes are checked only that far; the flux map divides the difference
# of two disks by the annulus' area, which magnifies that cancellation (1.8e-6 too high at l = 1e4).
@pytest.mark.parametrize(
    "function, positions, absolute",
    [
        (THIN_RING, [20.0, 100.0, 1e3, 1e4, 1e5], 1e-15),
        (UNIFORM_DISK, [20.0, 100.0, 1e3], 1e-10),
        (FLUX_MAP_THIN_RING, [20.0, 100.0, 1e3, 1e4], 1e-15),
        (FLUX_MAP_UNIFORM_DISK, [20.0, 100.0, 1e3], 2e-8),
    ],
)
def test_far_from_the_star_tends_to_one_from_above(function, positions, absolute):
    rho = 0.05
    values = function(positions, 1.0, rho)
    assert all(value > 1 for value in values)
    assert values == sorted(values, reverse=True)
    for position, value in zip(positions, values):
        excess = float(point_lens(position * rho)) - 1
        assert abs(value - 1 - excess) < 1e-3 * excess + absolute


def test_empty_positions():
    discrete = with_linear_profile(caldrith.discrete_flux_map_heyrovsky_magnification)
    for function in [THIN_RING, UNIFORM_DISK, FLUX_MAP_THIN_RING, FLUX_MAP_UNIFORM_DISK, discrete]:
        assert function([], 1.0, 0.1) == []


@pytest.mark.parametrize("l", [-1e-5, -0.3, -1.0, -5.0])
def test_negative_positions(l):
    # The uniform disk has no value there, and neither has the limb-darkened star.
    assert math.isnan(THIN_RING([l], 1.0, 0.05)[0])
    assert math.isnan(UNIFORM_DISK([l], 1.0, 0.05)[0])


def test_point_star():
    positions = [0.0, 0.5, 2.0, -0.5, -0.0]
    assert THIN_RING(positions, 1.0, 0.0) == [0.0] * 5
    assert UNIFORM_DISK(positions, 1.0, 0.0) == [math.inf, math.inf, math.inf, -math.inf, -math.inf]


# A NaN position gives NaN; the other elements are those of one-element calls.
@pytest.mark.parametrize("function", [THIN_RING, UNIFORM_DISK, FLUX_MAP_THIN_RING, FLUX_MAP_UNIFORM_DISK])
def test_nan_position_spoils_only_its_own_element(function):
    positions = [0.5, math.nan, 1.5]
    values = function(positions, 1.0, 0.05)
    assert math.isnan(values[1])
    for index in [0, 2]:
        assert values[index] == function([positions[index]], 1.0, 0.05)[0]
