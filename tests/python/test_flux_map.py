"""The flux-map magnifications of a star whose brightness profile is given as samples."""

import math

import pytest

import caldrith
from lensing_references import relative_error, sampled_average, uniform_disk

DISCRETE = caldrith.discrete_flux_map_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_flux_map_witt_mao_magnification
THIN_RING = caldrith.integrated_flux_map_heyrovsky_magnification
FLUX_MAPS = [DISCRETE, UNIFORM_DISK, THIN_RING]
INTEGRATED = [UNIFORM_DISK, THIN_RING]
ELLIPK_NAN = "ellipk: Arguments cannot be NAN."


def limb_darkening(t):
    return 1 - 0.6 * (1 - math.sqrt(1 - t * t))


@pytest.mark.parametrize("function", FLUX_MAPS, ids=lambda function: function.__name__)
@pytest.mark.parametrize(
    "l, bl, bf",
    [
        ([0.5], [0.1, 0.5, 0.9], [1.0, 0.8, 0.6, 0.4]),
        ([], [0.1, 0.5, 0.9], [1.0, 0.8, 0.6, 0.4]),
        ([0.5], [], [1.0]),
        ([], [0.5, 0.7], []),
        # Lengths are checked before any value: every thin ring would fail here.
        ([math.nan, -1.0], [-0.5, math.nan], [1.0]),
    ],
)
def test_unequal_profile_lengths_are_an_internal_fault(function, l, bl, bf):
    with pytest.raises(BaseException) as caught:
        function(l, 1.0, 0.0, bl, bf)
    kind = type(caught.value)
    assert (kind.__module__, kind.__name__) == ("pyo3_runtime", "PanicException")
    assert caught.value.args == (f"assertion `left == right` failed\n  left: {len(bl)}\n right: {len(bf)}",)


@pytest.mark.parametrize("function", FLUX_MAPS, ids=lambda function: function.__name__)
@pytest.mark.parametrize(
    "arguments, parameter",
    [
        ((["x"], 1.0, 0.1, [0.5], [1.0, 2.0]), "l"),
        (([0.5], None, 0.1, [0.5], [1.0, 2.0]), "re"),
        (([0.5], 1.0, 0.1, [0.5, "x"], [1.0]), "bl"),
        (([0.5], 1.0, 0.1, [0.5], [1.0, "x"]), "bf"),
    ],
)
def test_argument_conversion_precedes_the_length_check(function, arguments, parameter):
    with pytest.raises(TypeError) as caught:
        function(*arguments)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize("re, rstar", [(1.0, 0.05), (2.0, 3.0), (0.7, 0.7)])
def test_discrete_sum_is_the_weighted_sum_of_rings(re, rstar):
    positions = [0.0, 0.2, 0.5001, 0.95, 1.0, 2.5, 40.0]
    bl = [0.9, 0.1, 0.5, 1.0, 0.3, 1.7]  # any order, also beyond the limb
    bf = [0.1, 0.3, 0.2, 0.25, 0.15, -0.05]
    expected = []
    for position in positions:
        total = 0.0
        for radius, weight in zip(bl, bf):
            total = total + caldrith.heyrovsky_magnification(position, radius, re, rstar) * weight
        expected.append(total)
    assert DISCRETE(positions, re, rstar, bl, bf) == expected


@pytest.mark.parametrize(
    "l, bl, message",
    [
        ([0.5], [0.3, -0.2], ELLIPK_NAN),  # a ring of the opposite sign
        ([0.5, 1.0, -2.0], [0.3, 0.7], ELLIPK_NAN),  # the third position fails: no partial result
        ([0.5, math.nan], [0.3, 0.7], ELLIPK_NAN),
        # Positions first, then samples: the first failing ring decides the message. At l = 2^10,
        # r = l + 2^-16 the characteristic n rounds to 1.
        ([1024.0], [1024.0 + 2.0**-16, -1.0], "ellippi: n cannot be 1."),
        ([1024.0], [-1.0, 1024.0 + 2.0**-16], ELLIPK_NAN),
        ([-1.0, 1024.0], [1024.0 + 2.0**-16], ELLIPK_NAN),
    ],
)
def test_discrete_sum_raises_the_first_ring_error(l, bl, message):
    with pytest.raises(RuntimeError) as caught:
        DISCRETE(l, 1.0, 1.0, bl, [0.5] * len(bl))
    assert caught.value.args == (message,)


# Against the profile-weighted mean of the point-lens magnification over the disk (17-digit quadrature
# split at the samples and at the ring through the lens). Neither route splits at the samples, so kinks
# limit them. Measured, thin ring inside / outside: linear 1.4e-12 / 1.8e-15, kink at 0.5 9.0e-6 / 2.4e-7,
# jumps at 0.3 and 0.8 8.3e-3 / 1.3e-4. The uniform-disk route matches the thin ring to 3e-10 outside and to
# a few 1e-6 inside, where its rings are differences of disks over annuli of half-width 1e-4.
LINEAR = ((0.0, 1.0), (1.0, 0.45))
KINKED = ((0.0, 0.5, 1.0), (1.0, 0.85, 0.45))
JUMPS = ((0.3, 0.8), (1.0, 0.6))


@pytest.mark.parametrize(
    "profile, l, rho, thin_ring_tolerance, uniform_disk_tolerance",
    [
        (LINEAR, 0.3, 0.05, 1e-10, 1e-6),
        (LINEAR, 1.5, 0.05, 1e-13, 1e-9),
        (KINKED, 0.5, 1.0, 3e-5, 3e-5),
        (KINKED, 1.5, 0.05, 1e-6, 1e-6),
        (JUMPS, 0.5, 1.0, 2e-2, 2e-2),
        (JUMPS, 1.5, 0.05, 3e-4, 3e-4),
    ],
)
def test_integrated_agree_with_the_disk_average(profile, l, rho, thin_ring_tolerance, uniform_disk_tolerance):
    reference = sampled_average(l, rho, *profile)
    assert relative_error(THIN_RING([l], 1.0, rho, *profile)[0], reference) < thin_ring_tolerance
    assert relative_error(UNIFORM_DISK([l], 1.0, rho, *profile)[0], reference) < uniform_disk_tolerance


def sampled_limb_darkening(count):
    """The limb-darkening law at radii sin(k pi / (2 (count - 1))), denser towards the limb."""
    bl = [math.sin(math.pi * k / (2 * (count - 1))) for k in range(count)]
    return bl, [limb_darkening(t) for t in bl]


def interpolation_deviation(bl, bf):
    """Integral of |interpolated - exact profile| 2 pi t dt over that of the exact profile (0.8 pi)."""
    steps = 1000
    total = 0.0
    for (x0, y0), (x1, y1) in zip(zip(bl, bf), zip(bl[1:], bf[1:])):
        for k in range(steps):
            t = x0 + (x1 - x0) * (k + 0.5) / steps
            total += abs(y0 + (y1 - y0) * (t - x0) / (x1 - x0) - limb_darkening(t)) * t * (x1 - x0) / steps
    return 2 * math.pi * total / (0.8 * math.pi)


@pytest.mark.parametrize(
    "flux_map, limb_darkened, positions",
    [
        (THIN_RING, caldrith.integrated_heyrovsky_magnification, [0.0, 0.3, 0.7, 1.0, 1.5, 3.0]),
        (UNIFORM_DISK, caldrith.integrated_heyrovsky_magnification, [0.0, 0.3, 0.7, 1.0, 1.5, 3.0]),
    ],
)
def test_sampled_limb_darkening_reproduces_the_law(flux_map, limb_darkened, positions):
    # The difference is the interpolation's: below twice the profile's relative L1 deviation (measured
    # 2.4e-4 at 20 samples against a deviation of 8.5e-4), and falling as the square of the spacing.
    rho = 0.05
    exact = limb_darkened(positions, 1.0, rho)
    differences = {}
    for count in [20, 40]:
        bl, bf = sampled_limb_darkening(count)
        sampled = flux_map(positions, 1.0, rho, bl, bf)
        differences[count] = [relative_error(value, reference) for value, reference in zip(sampled, exact)]
        assert max(differences[count]) < 2 * interpolation_deviation(bl, bf)
    assert all(fine < coarse / 3 for fine, coarse in zip(differences[40], differences[20]))


# A constant profile is a uniform disk: against the Witt-Mao closed form (30 digits). The rings are
# differences of disks over annuli of half-width 1e-4, taken with a near-limb window of 1e-5 of each disk's
# radius. Measured over rho in {0.1, 0.01, 0.001}: 3.9e-5 at the centre (the annuli reaching t = 0 take the
# whole inner disk), 9.7e-6 on the limb, 2.4e-6 elsewhere inside, 3.8e-7 at l = 1.001, 1e-9 beyond 1.2.
@pytest.mark.parametrize("rho", [0.1, 0.01, 0.001])
@pytest.mark.parametrize(
    "positions, tolerance",
    [
        ([0.0], 5e-5),
        ([0.1, 0.3, 0.5, 0.8, 0.95], 5e-6),
        ([0.999, 0.9999, 1.0, 1.0001, 1.001], 2e-5),
        ([1.01, 1.2, 1.5], 1e-7),
    ],
)
def test_uniform_profile_through_the_uniform_disk_route(rho, positions, tolerance):
    values = UNIFORM_DISK(positions, 1.0, rho, [0.0, 1.0], [1.0, 1.0])
    for position, value in zip(positions, values):
        assert relative_error(value, uniform_disk(position * rho, rho)) < tolerance


@pytest.mark.parametrize("rho", [0.1, 0.01, 0.001])
def test_the_two_routes_agree_on_a_finely_sampled_law(rho):
    # The same 200 samples of the linear law through both kernels: measured 4.4e-5 at most (the
    # uniform-disk route at the centre), 1e-5 elsewhere.
    bl = [k / 199 for k in range(200)]
    bf = [limb_darkening(t) for t in bl]
    positions = [0.0, 0.1, 0.5, 0.9, 0.999, 1.0, 1.001, 1.5]
    for a, b in zip(UNIFORM_DISK(positions, 1.0, rho, bl, bf), THIN_RING(positions, 1.0, rho, bl, bf)):
        assert relative_error(a, b) < 6e-5


@pytest.mark.parametrize("rho", [0.05, 1.0])
def test_one_sample_is_a_uniform_disk(rho):
    # The profile is constant whatever the sample's radius and brightness. Measured against the
    # uniform disk: 2.6e-9 at l = 1.1 down to 1e-11 far out (annulus approximation); 3.4e-5 at the
    # centre, where the annuli reaching t = 0 take the whole inner disk.
    positions = [0.0, 1.1, 1.5, 3.0, 10.0]
    one_sample = UNIFORM_DISK(positions, 1.0, rho, [0.4], [2.5])
    disks = caldrith.witt_mao_magnification(positions, 1.0, rho)
    assert relative_error(one_sample[0], disks[0]) < 1e-4
    assert all(relative_error(value, disk) < 1e-8 for value, disk in zip(one_sample[1:], disks[1:]))
    # Another sample changes only the quadrature's stopping level (its target is absolute): 1e-11.
    other = UNIFORM_DISK([0.0, 0.5, 1.5], 1.0, rho, [0.9], [0.3])
    same = UNIFORM_DISK([0.0, 0.5, 1.5], 1.0, rho, [0.4], [2.5])
    assert all(relative_error(value, reference) < 1e-10 for value, reference in zip(other, same))


@pytest.mark.parametrize("scale", [0.37, 3.7, 1e3, 2.0, 0.25])
def test_scaling_the_brightness(scale):
    positions = [0.01, 0.31, 0.7, 0.99, 1.5, 3.0]  # off the samples, where a ring is infinite
    bl = [0.0, 0.3, 0.6, 0.85, 1.0]
    bf = [1.0, 0.95, 0.8, 0.6, 0.4]
    scaled = [scale * value for value in bf]
    for function in INTEGRATED:
        original = function(positions, 1.0, 0.05, bl, bf)
        rescaled = function(positions, 1.0, 0.05, bl, scaled)
        # Measured 1.1e-15 at most, except where the scale moves a difference of the quadrature across
        # its absolute stopping threshold and so changes its level: 3e-12 (thin ring, l = 0.01,
        # scale 0.25 or 0.37), even for a power of two.
        assert all(relative_error(new, old) < 1e-11 for new, old in zip(rescaled, original))
    original, rescaled = DISCRETE(positions, 1.0, 0.05, bl, bf), DISCRETE(positions, 1.0, 0.05, bl, scaled)
    if math.log2(scale).is_integer():  # every product and sum scales exactly
        assert rescaled == [scale * value for value in original]
    else:
        assert all(relative_error(new, scale * old) < 1e-15 for new, old in zip(rescaled, original))


@pytest.mark.parametrize("bl, bf", [([], []), ([0.1, 0.6, 1.0], [0.0, 0.0, 0.0])])
def test_profiles_without_flux(bl, bf):
    positions = [0.0, 0.5, 2.0]
    assert DISCRETE(positions, 1.0, 0.1, bl, bf) == [0.0, 0.0, 0.0]
    for function in INTEGRATED:
        assert all(math.isnan(value) for value in function(positions, 1.0, 0.1, bl, bf))
