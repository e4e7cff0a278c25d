"""The flux-map magnifications of a star whose brightness profile is given as samples."""

import math

import pytest

import caldrith
from lensing_references import sampled_average

DISCRETE = caldrith.discrete_flux_map_heyrovsky_magnification
UNIFORM_DISK = caldrith.integrated_flux_map_witt_mao_magnification
THIN_RING = caldrith.integrated_flux_map_heyrovsky_magnification
FLUX_MAPS = [DISCRETE, UNIFORM_DISK, THIN_RING]
INTEGRATED = [UNIFORM_DISK, THIN_RING]
ELLIPK_NAN = "ellipk: Arguments cannot be NAN."


def relative_error(value, reference):
    return abs(float((value - reference) / reference))


def point_lens(u):
    return (u * u + 2) / (u * math.sqrt(u * u + 4))


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
    assert not issubclass(kind, Exception)
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


# Against the mean of the point-lens magnification over the disk weighted by the piecewise-linear
# profile (17-digit nested quadrature split at the samples and at the ring through the lens).
# Neither method splits its quadrature at the samples, so a kink of the profile inside [0, 1]
# limits the accuracy: measured, for (l, rho) below,
#   linear, no interior sample:    thin ring 1.4e-12 inside, 1.8e-15 outside;
#   kink at t = 0.5:               thin ring 9.0e-6 inside, 2.4e-7 outside;
#   jumps at 0.3 and 0.8:          thin ring 8.3e-3 inside, 1.3e-4 outside.
# Outside the star the uniform-disk route matches the thin-ring route to about 3e-10 (the annuli of
# half-width 1e-4 approximate the rings to O(1e-8) relative or better). Inside the star it is off by
# 4e-3 to 4e-2: its annuli are narrower than the uniform-disk kernel's near-limb window (1e-3 of the
# disk radius), so for rings within about 1e-3 t of the lens both disks return their on-limb value and
# the ring magnification collapses (1.57 instead of about 6.5 at l = 0.5, rho = 1), with spikes at the
# window's edges.
PROFILES = {
    "linear": ((0.0, 1.0), (1.0, 0.45)),
    "kinked": ((0.0, 0.5, 1.0), (1.0, 0.85, 0.45)),
    "jumps": ((0.3, 0.8), (1.0, 0.6)),
}
REFERENCE_CASES = [
    # profile, l, rho, thin-ring tolerance, uniform-disk tolerance
    ("linear", 0.3, 0.05, 1e-10, 1e-2),
    ("linear", 1.5, 0.05, 1e-13, 1e-9),
    ("kinked", 0.5, 1.0, 3e-5, 5e-2),
    ("kinked", 1.5, 0.05, 1e-6, 1e-6),
    ("jumps", 0.5, 1.0, 2e-2, 5e-2),
    ("jumps", 1.5, 0.05, 3e-4, 3e-4),
]


@pytest.mark.parametrize("profile, l, rho, thin_ring_tolerance, uniform_disk_tolerance", REFERENCE_CASES)
def test_integrated_agree_with_the_disk_average(profile, l, rho, thin_ring_tolerance, uniform_disk_tolerance):
    bl, bf = PROFILES[profile]
    reference = sampled_average(l, rho, bl, bf)
    assert relative_error(THIN_RING([l], 1.0, rho, list(bl), list(bf))[0], reference) < thin_ring_tolerance
    uniform_disk = UNIFORM_DISK([l], 1.0, rho, list(bl), list(bf))[0]
    assert relative_error(uniform_disk, reference) < uniform_disk_tolerance


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
        # Inside the star this route is dominated by its near-limb error (see above).
        (UNIFORM_DISK, caldrith.integrated_witt_mao_magnification, [0.0, 1.5, 3.0]),
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


@pytest.mark.parametrize("rho", [0.05, 1.0])
def test_one_sample_is_a_uniform_disk(rho):
    # The profile is constant whatever the sample's radius and brightness. Measured against the
    # uniform disk: 2.6e-9 at l = 1.1 down to 1e-11 far out (annulus approximation); 3.4e-5 at the
    # centre, where the annuli reaching t = 0 take the whole inner disk.
    outside = [1.1, 1.5, 3.0, 10.0]
    disks = caldrith.witt_mao_magnification(outside, 1.0, rho)
    for value, disk in zip(UNIFORM_DISK(outside, 1.0, rho, [0.4], [2.5]), disks):
        assert relative_error(value, disk) < 1e-8
    [centre] = UNIFORM_DISK([0.0], 1.0, rho, [0.4], [2.5])
    assert relative_error(centre, caldrith.witt_mao_magnification([0.0], 1.0, rho)[0]) < 1e-4
    # Another sample changes only the quadrature's stopping level (its target is absolute): 1e-11.
    positions = [0.0, 0.5, 1.5]
    others = UNIFORM_DISK(positions, 1.0, rho, [0.9], [0.3])
    for value, other in zip(UNIFORM_DISK(positions, 1.0, rho, [0.4], [2.5]), others):
        assert relative_error(value, other) < 1e-10


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


def test_empty_positions():
    for function in FLUX_MAPS:
        assert function([], 1.0, 0.1, [0.0, 1.0], [1.0, 0.5]) == []


@pytest.mark.parametrize("function", INTEGRATED, ids=lambda function: function.__name__)
def test_nan_position_gives_zero(function):
    positions = [0.5, math.nan, 1.5]
    values = function(positions, 1.0, 0.05, [0.0, 1.0], [1.0, 0.5])
    assert values[1] == 0.0  # every integrand value is NaN and counts as 0
    for index in [0, 2]:
        assert values[index] == function([positions[index]], 1.0, 0.05, [0.0, 1.0], [1.0, 0.5])[0]


# Far from the star the mean magnification approaches the point lens, and 1 from above. The
# uniform-disk route divides the difference of two disks by the annulus' area, which magnifies the
# uniform-disk closed form's cancellation at large separations (1.8e-6 too high at l = 1e4).
@pytest.mark.parametrize(
    "function, positions, absolute",
    [(THIN_RING, [20.0, 100.0, 1e3, 1e4], 1e-15), (UNIFORM_DISK, [20.0, 100.0, 1e3], 2e-8)],
    ids=["thin_ring", "uniform_disk"],
)
def test_far_from_the_star_tends_to_one(function, positions, absolute):
    rho = 0.05
    values = function(positions, 1.0, rho, [0.0, 1.0], [1.0, 0.45])
    assert all(value > 1 for value in values)
    assert values == sorted(values, reverse=True)
    for position, value in zip(positions, values):
        excess = point_lens(position * rho) - 1
        assert abs(value - 1 - excess) < 1e-3 * excess + absolute
