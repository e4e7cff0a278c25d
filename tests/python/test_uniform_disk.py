"""The uniform-disk magnification (Witt-Mao) and its two list functions."""

import math

import mpmath
import pytest

import caldrith

mpmath.mp.dps = 40


def witt_mao_terms(u, rho):
    """The three terms of the Witt-Mao closed form at 40 digits (mpmath's elliptic integrals)."""
    u, rho = mpmath.mpf(u), mpmath.mpf(rho)
    n = 4 * u * rho / (u + rho) ** 2
    w = mpmath.sqrt(4 + (u - rho) ** 2)
    m = 4 * n / (4 + (u - rho) ** 2)
    return [
        (u + rho) * w / (2 * rho**2) * mpmath.ellipe(m) / mpmath.pi,
        -(u - rho) * (8 + u**2 - rho**2) / (2 * rho**2 * w) * mpmath.ellipk(m) / mpmath.pi,
        2 * (u - rho) ** 2 * (1 + rho**2) / (rho**2 * (u + rho) * w) * mpmath.ellippi(n, m) / mpmath.pi,
    ]


def point_source(u):
    return (u * u + 2) / (u * math.sqrt(u * u + 4))


def on_limb(rho):
    q = rho * rho
    return ((1 + q) / q * (math.asin((q - 1) / (1 + q)) + math.pi / 2) + 2 / rho) / math.pi


def magnification(u, rho):
    """The kernel at separation u and radius rho (Einstein radii), through the list function."""
    [value] = caldrith.witt_mao_magnification([u / rho], 1.0, rho)
    return value


# (rho, u / rho) outside the near-limb window |u - rho| < max(1e-3 rho, 1e-5).
GENERAL_BRANCH_GRID = [
    (rho, ratio)
    for rho in [1e-3, 0.01, 0.1, 0.5, 1.0, 3.0]
    for ratio in [0.0, 0.3, 0.9, 0.998, 1.002, 1.1, 2.0, 10.0, 100.0]
    if abs(ratio * rho - rho) >= max(1e-3 * rho, 1e-5)
]


@pytest.mark.parametrize("rho, ratio", GENERAL_BRANCH_GRID)
def test_general_branch_matches_high_precision(rho, ratio):
    u = ratio * rho
    terms = witt_mao_terms(u, rho)
    expected = sum(terms)
    # The terms cancel for small stars and near the limb, where also 1 - n,
    # formed from rounded inputs, carries a relative error of about 1e-16/(1 - n).
    n = 4 * u * rho / (u + rho) ** 2
    condition = float(sum(abs(term) for term in terms) / abs(expected)) + 1 / (1 - n)
    tolerance = 16 * 2.0**-52 * condition
    assert magnification(u, rho) == pytest.approx(float(expected), rel=tolerance)


@pytest.mark.parametrize("rho", [1e-4, 0.01, 0.1, 0.5, 2.0])
def test_centred_lens_gives_closed_form(rho):
    assert caldrith.witt_mao_magnification([0.0], 1.0, rho)[0] == pytest.approx(
        math.sqrt(rho * rho + 4) / rho, rel=1e-14
    )


@pytest.mark.parametrize(
    "rho, offsets_inside, offsets_outside",
    [
        (0.5, [0.0, 0.0004, -0.0004, 0.000499], [0.000501, -0.000501, 0.001]),
        (0.01, [0.0, 9.9e-6, -9.9e-6], [1.001e-5, -1.001e-5, 2e-5]),
    ],
)
def test_near_limb_window(rho, offsets_inside, offsets_outside):
    limb = on_limb(rho)
    for offset in offsets_inside:
        assert magnification(rho + offset, rho) == limb
    for offset in offsets_outside:
        value = magnification(rho + offset, rho)
        assert value != limb
        if rho > 1e-5:
            assert value == pytest.approx(limb, rel=0.05)


@pytest.mark.parametrize("u", [0.1, 1.0, 7.5, -0.3])
def test_point_source_branch(u):
    # rho <= 0: the point-lens magnification at u = l rho, which is infinite for rho = 0.
    assert caldrith.witt_mao_magnification([u], 1.0, 0.0) == [math.copysign(math.inf, u)]
    assert caldrith.witt_mao_magnification([u], 1.0, -0.2) == [point_source(u * -0.2)]


def test_far_from_the_star_tends_to_point_source():
    rho = 0.05
    for u in [5.0, 20.0, 80.0]:
        assert magnification(u, rho) == pytest.approx(point_source(u), rel=1e-4)


def test_invalid_geometries_give_nan():
    # Negative positions (outside the near-limb window), u = -rho, re = 0, NaN radii.
    for l, re, rstar in [(-0.5, 1.0, 0.1), (-1.0, 1.0, 0.1), (2.0, 0.0, 0.1), (2.0, 1.0, math.nan)]:
        assert math.isnan(caldrith.witt_mao_magnification([l], re, rstar)[0])
    # Tiny stars too: their near-limb window, 1e-3 rho, never reaches past the centre.
    assert math.isnan(caldrith.witt_mao_magnification([-1.0], 1.0, 1e-6)[0])


def test_only_the_ratio_of_the_radii_enters():
    positions = [0.0, 0.3, 0.999, 1.5, 9.0]
    for re, rstar in [(3.0, 0.1), (0.2, 0.7), (1e6, 2e4)]:
        assert caldrith.witt_mao_magnification(positions, re, rstar) == caldrith.witt_mao_magnification(
            positions, 1.0, rstar / re
        )


def test_empty_lists():
    assert caldrith.witt_mao_magnification([], 1.0, 0.1) == []
    assert caldrith.multi_witt_mao_magnification([], [1.0, 2.0], [0.1, 0.2, 0.3]) == [[]] * 6
    assert caldrith.multi_witt_mao_magnification([1.0], [], [0.1]) == []
    assert caldrith.multi_witt_mao_magnification([1.0], [1.0], []) == []


def test_multi_covers_every_pair_einstein_radius_outer():
    positions = [0.0, 0.5, 1.0, 1.5, 4.0]
    einstein = [1.0, 2.5]
    stellar = [0.01, 0.1, 0.3]
    result = caldrith.multi_witt_mao_magnification(positions, einstein, stellar)
    assert len(result) == len(einstein) * len(stellar)
    for i, re in enumerate(einstein):
        for j, rstar in enumerate(stellar):
            assert result[i * len(stellar) + j] == caldrith.witt_mao_magnification(positions, re, rstar)
