"""caldrith_ld, the modellers' module: magnifications against mpmath truths for every law (computed
once by tools/generate_ld_truths.py), the laws themselves, bad input, arrays of every shape,
threads and Ctrl-C."""

import json
import math
import os
import pathlib
import subprocess
import sys
import sysconfig
import textwrap
import threading

import mpmath
import pytest

np = pytest.importorskip("numpy")
import caldrith_ld as ld  # noqa: E402
import ld_laws_reference  # noqa: E402
from conftest import HOLDS_BACK_SIGNALS  # noqa: E402

TRUTHS = json.loads((pathlib.Path(__file__).parents[1] / "data" / "ld_truths.json").read_text())


def cases_of(name):
    return [case for case in TRUTHS["cases"] if case["law"] == name]


def tolerance(law, rho):
    """Small stars of every law but power-2 take the tabulated series (measured worst 3.4e-12, a sampled
    law); the others the quadrature (8.5e-11, the linear law at rho = 4.8)."""
    return 1e-11 if rho <= 0.1 and not isinstance(law, ld.Power2) else 3e-10


@pytest.mark.parametrize("name", sorted(TRUTHS["laws"]))
def test_against_the_truths(name):
    law = ld_laws_reference.module_law(TRUTHS["laws"][name])
    cases = cases_of(name)
    failures = []
    for rho in sorted({case["rho"] for case in cases}):
        group = [case for case in cases if case["rho"] == rho]
        # One call per star: the positions run through the batches and, long enough, the pool.
        values = ld.magnification([case["u"] for case in group], rho, law)
        for case, value in zip(group, values):
            error = abs(mpmath.mpf(float(value)) / mpmath.mpf(case["truth"]) - 1)
            if not error <= tolerance(law, rho):
                failures.append((rho, case["u"], float(value), case["truth"], float(error)))
    assert failures == []


def test_every_family_and_position_class_is_covered():
    kinds = {law["kind"] for law in TRUTHS["laws"].values()}
    assert kinds == {"Uniform", "Linear", "Quadratic", "SquareRoot", "Logarithmic", "Power2", "FourParameter", "Sampled"}
    ls = [case["u"] / case["rho"] for case in TRUTHS["cases"]]
    assert 0.0 in ls and min(abs(l - 1) for l in ls if l != 1) < 1e-8 and max(case["u"] for case in TRUTHS["cases"]) >= 1e3


@pytest.mark.parametrize("name", sorted(TRUTHS["laws"]))
def test_law_intensity_against_the_reference(name):
    description = TRUTHS["laws"][name]
    law = ld_laws_reference.module_law(description)
    mu = np.array([0.0, 1e-6, 0.01, 0.3, 0.5, 0.9, 1.0])
    with mpmath.workdps(30):
        if description["kind"] == "Sampled":
            expected = [float(ld_laws_reference.sampled_intensity(description["r"], description["I"],
                                                                  mpmath.sqrt(1 - mpmath.mpf(m) ** 2)))
                        for m in mu]
        else:
            expected = [float(ld_laws_reference.intensity(description["kind"], description["coefficients"], m))
                        for m in mu]
    assert law(mu) == pytest.approx(expected, rel=1e-13, abs=1e-14)
    assert law(0.5) == pytest.approx(expected[4], rel=1e-13)


def test_gamma_convention():
    # I ∝ 1 − Γ (1 − 3μ/2), normalised to the centre: 1 − (3Γ / (2 + Γ)) (1 − μ).
    law = ld.Linear.from_gamma(0.5)
    assert law.u == pytest.approx(0.6, rel=1e-15)
    assert law.gamma == pytest.approx(0.5, rel=1e-15)
    mu = np.linspace(0, 1, 5)
    assert law(mu) == pytest.approx((1 - 0.5 * (1 - 1.5 * mu)) / 1.25, rel=1e-15)


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: ld.Linear(1.2), "negative at μ = 0"),
        (lambda: ld.Quadratic(0.8, 0.5), "negative"),
        (lambda: ld.SquareRoot(0.1, 1.2), "negative"),
        (lambda: ld.Logarithmic(1.2, 0.1), "negative"),
        (lambda: ld.Power2(1.3, 0.5), "negative"),
        (lambda: ld.FourParameter(-3.0, 10.0, -11.0, 4.8), "negative at μ = 0.0"),  # a dip inside the disk
        (lambda: ld.Power2(0.5, 0.0), "alpha"),
        (lambda: ld.Linear(math.nan), "finite"),
        (lambda: ld.Sampled([0, 0.5, 1], [1, 1]), "as long"),
        (lambda: ld.Sampled([0.1, 0.5, 1], [1, 1, 1]), "from exactly 0"),
        (lambda: ld.Sampled([0, 0.5, 0.9], [1, 1, 1]), "to exactly 1"),
        (lambda: ld.Sampled([0, 0.6, 0.6, 1], [1, 1, 1, 1]), "strictly"),
        (lambda: ld.Sampled([0, 1], [1, -0.1]), "≥ 0"),
        (lambda: ld.Sampled([0, 1], [0, 0]), "0 everywhere"),
        (lambda: ld.Sampled([0], [1]), "two samples"),
        (lambda: ld.magnification([0.1], 0.0), "rho"),
        (lambda: ld.magnification([0.1], -0.1), "rho"),
        (lambda: ld.magnification([0.1], math.inf), "rho"),
        (lambda: ld.magnification([0.1], math.nan), "rho"),
        (lambda: ld.light_curve([0.0], 0.0, 0.1, 0.0, 0.01), "tE"),
    ],
)
def test_bad_values_raise_value_error_naming_them(make, message):
    with pytest.raises(ValueError, match=message):
        make()


def test_a_law_that_touches_zero_is_accepted():
    # Exactly 0 at the limb, up to the rounding of a + b = 1.
    assert ld.Quadratic(0.7, 0.3)(0.0) == pytest.approx(0.0, abs=1e-15)
    assert ld.magnification([0.0], 0.1, ld.Linear(1.0))[0] > 1


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda: ld.magnification(["0.1"], 0.1), "u"),
        (lambda: ld.magnification([0.1 + 1j], 0.1), "u"),
        (lambda: ld.magnification([[0.1], [0.2, 0.3]], 0.1), "u"),
        (lambda: ld.magnification({"u": 1}, 0.1), "u"),
        (lambda: ld.magnification([0.1], "0.1"), "rho"),
        (lambda: ld.magnification([0.1], 0.1, "linear"), "law"),
        (lambda: ld.magnification([0.1], 0.1, law=ld.Linear), "law"),
        (lambda: ld.Linear("0.6"), "u"),
        (lambda: ld.Quadratic(0.4, None), "b"),
        (lambda: ld.Sampled([0, "a", 1], [1, 1, 1]), "r"),
        (lambda: ld.light_curve(["x"], 0.0, 0.1, 1.0, 0.01), "t"),
    ],
)
def test_bad_types_raise_type_error_naming_them(call, name):
    with pytest.raises(TypeError, match=rf"^{name}\b"):
        call()


def test_shapes_and_types_of_u():
    law = ld.Quadratic(0.4, 0.25)
    grid = np.linspace(0.0, 0.03, 12)
    flat = ld.magnification(grid, 0.01, law)
    assert flat.dtype == np.float64 and flat.shape == (12,)
    assert np.array_equal(ld.magnification(grid.reshape(3, 4), 0.01, law), flat.reshape(3, 4))
    assert np.array_equal(ld.magnification(grid.reshape(2, 3, 2)[:, ::-1], 0.01, law),
                          flat.reshape(2, 3, 2)[:, ::-1])
    assert np.array_equal(ld.magnification(grid[::3], 0.01, law), flat[::3])
    assert np.array_equal(ld.magnification(grid.tolist(), 0.01, law), flat)
    assert np.array_equal(ld.magnification(tuple(grid), 0.01, law), flat)
    assert np.array_equal(ld.magnification(grid.astype(np.float32), 0.01, law),
                          ld.magnification(grid.astype(np.float32).astype(np.float64), 0.01, law))
    assert np.array_equal(ld.magnification(np.arange(3), 1.0, law), ld.magnification([0.0, 1.0, 2.0], 1.0, law))
    scalar = ld.magnification(grid[5], 0.01, law)
    assert scalar.shape == () and scalar == flat[5]
    assert ld.magnification(np.empty((0, 3)), 0.01, law).shape == (0, 3)


def test_nan_infinite_and_negative_positions():
    law = ld.SquareRoot(0.2, 0.5)
    values = ld.magnification([math.nan, math.inf, -math.inf, -0.004, 0.004, -0.0], 0.01, law)
    assert math.isnan(values[0])
    assert values[1] == 1.0 and values[2] == 1.0
    assert values[3] == values[4]
    assert values[5] == ld.magnification([0.0], 0.01, law)[0]


def test_light_curve_follows_the_trajectory():
    law = ld.Logarithmic(0.6, 0.15)
    t = np.linspace(-1.0, 3.0, 41)
    u = np.hypot(0.002, (t - 1.0) / 20.0)
    assert np.array_equal(ld.light_curve(t, 1.0, 0.002, 20.0, 0.004, law), ld.magnification(u, 0.004, law))
    # Symmetric about t0, whatever the sign of u0.
    t = np.arange(-20, 21) / 10.0  # exactly symmetric
    curve = ld.light_curve(t, 0.0, -0.002, 20.0, 0.004, law)
    assert np.array_equal(curve[:20], curve[-1:-21:-1])
    assert curve[20] == ld.magnification(0.002, 0.004, law)


def test_long_arrays_give_the_bits_of_short_ones():
    # Long arrays run on the worker pool, short ones on the calling thread.
    law = ld.Power2(0.7, 0.6)
    u = np.random.default_rng(3).uniform(0.0, 0.05, 5000)
    whole = ld.magnification(u, 0.01, law)
    pieces = np.concatenate([ld.magnification(part, 0.01, law) for part in np.array_split(u, 250)])
    assert np.array_equal(whole, pieces)


def test_python_threads_compute_side_by_side():
    # Each call releases the interpreter lock while it computes: the other thread's Python code
    # keeps running meanwhile, and every thread gets its own results. Power-2 takes the quadrature,
    # some microseconds a position.
    law = ld.Power2(0.7, 0.6)
    u = np.random.default_rng(4).uniform(0.0, 0.02, 20000)
    expected = ld.magnification(u, 0.01, law)
    results = {}
    running = threading.Event()

    def compute(key):
        running.set()
        results[key] = ld.magnification(u, 0.01, law)

    thread = threading.Thread(target=compute, args=("other",))
    thread.start()
    running.wait()
    ticks = 0
    while thread.is_alive():
        ticks += 1
    results["main"] = ld.magnification(u, 0.01, law)
    thread.join()
    assert ticks > 1000
    assert np.array_equal(results["other"], expected) and np.array_equal(results["main"], expected)


# (law, positions, pool size): a law of a few microseconds a position on the star, and one sampled
# at 20000 radii, some 40 ms a position, which the calling thread (a pool of one worker) and the
# workers must stop within the position: the check goes by time, not by positions.
# Calls of several seconds: a law by quadrature (about a microsecond a position), and a law of 20000
# samples (about half a millisecond a position on the small-star series).
LONG_LD_CALLS = [
    ("ld.Power2(0.7, 0.6)", 6_000_000, None),
    ("sampled(20000)", 6000, "1"),
    ("sampled(20000)", 6000, "2"),
]


@HOLDS_BACK_SIGNALS
@pytest.mark.parametrize("law, size, workers", LONG_LD_CALLS)
def test_a_signal_stops_a_long_call(law, size, workers):
    code = textwrap.dedent(
        f"""
        import json, signal, time
        import numpy as np
        import caldrith_ld as ld

        class Stop(Exception):
            pass

        def stop(signum, frame):
            raise Stop("alarm")

        def sampled(samples):
            r = np.linspace(0.0, 1.0, samples)
            return ld.Sampled(r, 1.0 - 0.6 * (1.0 - np.sqrt(1.0 - r * r)))

        law = {law}
        u = np.linspace(0.0, 0.01, {size})
        start = time.perf_counter()
        ld.magnification(u[: {size} // 80], 0.01, law)
        full = (time.perf_counter() - start) * 80
        signal.signal(signal.SIGALRM, stop)
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        start = time.perf_counter()
        try:
            ld.magnification(u, 0.01, law)
            outcome = "finished"
        except Stop as error:
            outcome = str(error)
        elapsed = time.perf_counter() - start
        after = ld.magnification(u[:3], 0.01, law).tolist()
        print(json.dumps([outcome, elapsed, full, after == ld.magnification(u[:3], 0.01, law).tolist()]))
        """
    )
    env = None if workers is None else dict(os.environ, RAYON_NUM_THREADS=workers)
    completed = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600, env=env)
    assert completed.returncode == 0, completed.stderr
    outcome, elapsed, full, same_after = json.loads(completed.stdout)
    assert outcome == "alarm"
    assert full > 2.0 and elapsed < full / 2
    assert same_after


# caldrith's eight functions are built for the regular CPython 3.14 alone; caldrith_ld everywhere.
REGULAR_314 = sys.version_info[:2] == (3, 14) and not sysconfig.get_config_var("Py_GIL_DISABLED")


@pytest.mark.skipif(not REGULAR_314, reason="caldrith is built for the regular CPython 3.14 alone")
def test_caldrith_keeps_its_eight_functions():
    import caldrith

    assert len(caldrith.__all__) == 8 and not hasattr(caldrith, "magnification")


@pytest.mark.skipif(REGULAR_314, reason="caldrith is built here")
def test_caldrith_says_why_it_is_missing():
    with pytest.raises(ImportError, match=r"not installed for CPython 3\.\d+: .* only CPython 3\.14 has.*caldrith_ld"):
        import caldrith  # noqa: F401
