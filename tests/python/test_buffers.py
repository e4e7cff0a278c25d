"""Arrays as sequence arguments: one-dimensional numeric buffers of exact ndarray, array.array and
memoryview objects are read from memory, and must give exactly what the sequence rule gives for
the items their iteration yields, the same results, errors, notes and warnings. Everything else
must behave as the sequence rule always did."""

import array
import math
import warnings

import numpy
import pytest

import caldrith
from conftest import result_bits

WITT_MAO = caldrith.witt_mao_magnification
HEYROVSKY = caldrith.heyrovsky_magnification

FLOAT_TYPES = ["f8", "f4", "f2", ">f8", ">f4", ">f2", "<f8", "=f4"]
INTEGER_TYPES = ["i1", "i2", "i4", "i8", "u1", "u2", "u4", "u8", "q", "Q", "intp", "uintp"]
INTEGER_TYPES += [">i2", ">i4", ">i8", ">u2", ">u4", ">u8", "<i8"]
ELEMENT_TYPES = FLOAT_TYPES + INTEGER_TYPES + ["?"]


def outcome(function, *args):
    """What a call gives: the bits of its result, or its exception; and the warnings it issues."""
    with warnings.catch_warnings(record=True) as issued:
        warnings.simplefilter("always")
        try:
            result = ("result", result_bits(function(*args)))
        except Exception as error:
            result = ("error", type(error), error.args, getattr(error, "__notes__", None))
    return result, [(warning.category, str(warning.message)) for warning in issued]


def as_lists(args):
    """The arguments with every buffer replaced by the list of what its iteration yields."""
    return [list(arg) if isinstance(arg, (numpy.ndarray, array.array, memoryview)) else arg for arg in args]


def assert_as_sequence_rule(function, *args):
    """The call gives what the sequence rule gives for the items of its buffer arguments."""
    expected = outcome(function, *as_lists(args))
    assert outcome(function, *args) == expected
    return expected


def sample(dtype, kind):
    """Arrays of one element type: positions, profile radii, profile weights, length scales."""
    dtype = numpy.dtype(dtype)
    if dtype.kind == "f":
        generator = numpy.random.default_rng(7)
        values = {
            "positions": numpy.concatenate([generator.uniform(0.05, 3.0, 9), [0.0, 0.5, 1.0, 1.7]]),
            "radii": [0.0, 0.3, 0.55, 0.8, 1.0],
            "weights": [1.0, 0.9, 0.7, 0.55, 0.4],
            "scales": [0.07, 1.0, 1.35],
        }[kind]
    elif dtype.kind == "b":
        values = {"positions": [1, 0, 1], "radii": [0, 1], "weights": [1, 1], "scales": [1, 1]}[kind]
    else:
        values = {
            "positions": [0, 1, 2, 3, 5, 2, 1],
            "radii": [0, 1],
            "weights": [2, 1],
            "scales": [1, 2, 3],
        }[kind]
    return numpy.array(values).astype(dtype)


def list_calls(dtype):
    """Every function taking sequences, with every sequence parameter an array of dtype."""
    l, bl, bf, scales = (sample(dtype, kind) for kind in ["positions", "radii", "weights", "scales"])
    return [
        (caldrith.witt_mao_magnification, (l, 1.0, 0.1)),
        (caldrith.integrated_witt_mao_magnification, (l, 1.0, 0.1)),
        (caldrith.integrated_flux_map_witt_mao_magnification, (l, 1.0, 0.1, bl, bf)),
        (caldrith.multi_witt_mao_magnification, (l, scales, scales)),
        (caldrith.integrated_heyrovsky_magnification, (l, 1.0, 0.1)),
        (caldrith.integrated_flux_map_heyrovsky_magnification, (l, 1.0, 0.1, bl, bf)),
        (caldrith.discrete_flux_map_heyrovsky_magnification, (l, 1.0, 0.1, bl, bf)),
    ]


@pytest.mark.parametrize("dtype", ELEMENT_TYPES)
def test_every_function_gives_the_results_of_the_items(dtype):
    for function, args in list_calls(dtype):
        expected = assert_as_sequence_rule(function, *args)
        assert expected[0][0] == "result", (function.__name__, expected)


@pytest.mark.parametrize("dtype", ELEMENT_TYPES)
def test_heyrovsky_magnification_takes_numpy_scalars_and_zero_dimensional_arrays(dtype):
    kind = numpy.dtype(dtype).kind
    values = numpy.array({"f": [0.7, 0.4, 1.3, 0.2], "b": [1, 0, 1, 1]}.get(kind, [2, 1, 3, 1])).astype(dtype)
    expected = outcome(HEYROVSKY, *(float(value) for value in values))
    assert outcome(HEYROVSKY, *values) == expected
    assert outcome(HEYROVSKY, *(numpy.array(value) for value in values)) == expected


def test_scalar_parameters_take_numpy_scalars():
    l = numpy.linspace(0.0, 2.0, 5)
    for scalar in [numpy.float64(0.1), numpy.float32(0.1), numpy.float16(0.1), numpy.int16(1), numpy.array(0.1)]:
        assert outcome(WITT_MAO, l, 1.0, scalar) == outcome(WITT_MAO, l.tolist(), 1.0, float(scalar))


def extremes(dtype):
    """Edge values of an element type, as a one-dimensional array of it."""
    dtype = numpy.dtype(dtype)
    if dtype.kind == "f":
        info = numpy.finfo(dtype)
        values = [0.0, -0.0, info.smallest_subnormal, info.smallest_normal, info.eps, 1.0 / 3.0, 0.1]
        values += [-2.5, info.max, -info.max, math.inf, -math.inf]
        return numpy.array(values).astype(dtype)
    if dtype.kind == "b":
        return numpy.array([False, True])
    info = numpy.iinfo(dtype)
    values = [info.min, info.min + 1, 0, 1, info.max - 1, info.max]
    if dtype.itemsize == 8:
        # Beyond 2^53 int.__float__ rounds to nearest, ties to even.
        values += [2**53 + 1, 2**53 + 3, 2**62 + 511, 2**62 + 512, 2**62 + 513, 2**62 + 1536, 2**63 - 512]
        values += [2**64 - 1024 - 1, 2**64 - 1024] if dtype.kind == "u" else [-(2**53) - 1, -(2**62) - 512]
    return numpy.array(values, dtype=object).astype(dtype)


def weighted_ring(weights):
    """A probe that shows the converted doubles: one thin ring per weight, each contributing
    a × weight with the same magnification a of 1 < a < 2. Rounded to nearest, a × w and a × w'
    differ for any two doubles w != w' of one binade (their distance a·|w − w'| exceeds the spacing
    of the products), so unequal conversions give unequal results."""
    return caldrith.discrete_flux_map_heyrovsky_magnification([20.0], 1.0, 0.1, [0.5] * len(weights), weights)


def test_the_probe_multiplies_by_a_magnification_between_one_and_two():
    (a,) = weighted_ring([1.0])
    assert 1.0 < a < 2.0


@pytest.mark.parametrize("dtype", ELEMENT_TYPES)
def test_edge_values_convert_exactly(dtype):
    values = extremes(dtype)
    for index, value in enumerate(values):
        single = values[index : index + 1]
        expected = assert_as_sequence_rule(weighted_ring, single)
        # The truth: Python's own conversion of the number (exact, or rounded to nearest with
        # ties to even beyond 2^53).
        assert expected == outcome(weighted_ring, [float(value.item())])
    assert_as_sequence_rule(WITT_MAO, values, 1.0, 0.5)


@pytest.mark.parametrize(
    "dtype, raw",
    [
        ("f8", [0x7FF8000000000000, 0xFFF8000000000001, 0x7FF0000000000001, 0x7FF4000000000123]),
        ("f4", [0x7FC00000, 0xFFC00001, 0x7F800001, 0x7FA00123]),
        ("f2", [0x7E00, 0xFE01, 0x7C01, 0x7D23]),
    ],
)
def test_nans_give_the_results_of_the_items(dtype, raw):
    """Quiet, negative and signalling NaNs with payloads, as stored; converters differ in which
    payload bits survive, and the results must not depend on the route."""
    unsigned = numpy.dtype(dtype.replace("f", "u"))
    values = numpy.array(raw, dtype=unsigned).view(dtype)
    arrays = [values, values.astype(values.dtype.newbyteorder(">")), values[::-1], memoryview(values)]
    if dtype != "f2":
        arrays.append(array.array("d" if dtype == "f8" else "f", values.tobytes()))
    for items in arrays:
        assert_as_sequence_rule(WITT_MAO, items, 1.0, 0.1)
        assert_as_sequence_rule(caldrith.integrated_witt_mao_magnification, items, 1.0, 0.1)
        assert_as_sequence_rule(weighted_ring, items)


def test_every_half_precision_value_converts_exactly():
    halves = numpy.arange(2**16, dtype=numpy.uint16).view(numpy.float16)
    assert_as_sequence_rule(WITT_MAO, halves, 1.0, 0.1)
    assert_as_sequence_rule(WITT_MAO, memoryview(halves), 1.0, 0.1)
    for index in range(len(halves)):
        assert_as_sequence_rule(weighted_ring, halves[index : index + 1])


def test_boolean_bytes_other_than_zero_and_one_convert_as_their_items():
    for byte in [0, 1, 2, 255]:
        stored = numpy.array([byte], dtype=numpy.uint8)
        assert_as_sequence_rule(WITT_MAO, stored.view(numpy.bool_), 1.0, 0.1)
        assert_as_sequence_rule(WITT_MAO, memoryview(stored).cast("?"), 1.0, 0.1)


@pytest.mark.parametrize("dtype", ["f8", "f4", "f2", "i8", "u2", "?", ">f8", ">i4"])
@pytest.mark.parametrize(
    "view",
    [
        lambda a: a[::2],
        lambda a: a[::-1],
        lambda a: a[1::3],
        lambda a: numpy.stack([a, a + 1]).T[:, 1],
        lambda a: numpy.broadcast_to(a[2], (5,)),
        lambda a: numpy.frombuffer(b"\x00" + a.tobytes(), dtype=a.dtype, offset=1),
        lambda a: a[:0],
    ],
    ids=["every second", "reversed", "from 1 by 3", "column", "broadcast", "unaligned", "empty"],
)
def test_strided_and_unaligned_views_give_the_results_of_the_items(dtype, view):
    items = view(sample(dtype, "positions"))
    for function, args in list_calls(dtype):
        assert_as_sequence_rule(function, *((items,) + args[1:]))


@pytest.mark.parametrize("typecode", "bBhHiIlLqQfd")
def test_array_array_and_memoryview_give_the_results_of_the_items(typecode):
    values = array.array(typecode, [0, 1, 2, 3, 1] if typecode not in "fd" else [0.1, 1.7, 2.5, 0.0])
    for items in [values, memoryview(values), memoryview(values)[::-2], memoryview(values.tobytes()).cast(typecode)]:
        for function, args in list_calls("f8"):
            assert_as_sequence_rule(function, *((items,) + args[1:]))


@pytest.mark.parametrize("typecode", ["n", "N", "e", "c", "P"])
def test_memoryview_formats_give_the_results_of_the_items(typecode):
    raw = numpy.array([0, 1, 2, 60], dtype=numpy.uint8).repeat(8).tobytes()
    assert_as_sequence_rule(WITT_MAO, memoryview(raw).cast(typecode), 1.0, 0.1)


def iteration_error(sequence):
    try:
        list(sequence)
    except Exception as error:
        return type(error), error.args
    return None


class Unit:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        raise TypeError("only dimensionless quantities can be converted to Python scalars")


class WithUnits(numpy.ndarray):
    """An ndarray subclass whose items, like a quantity's with units, refuse to become floats."""

    def __iter__(self):
        return (Unit(value) for value in self.view(numpy.ndarray))


class Doubled(numpy.ndarray):
    def __iter__(self):
        return iter(2 * self.view(numpy.ndarray))


class DoubledArray(array.array):
    def __iter__(self):
        return (2 * value for value in super().__iter__())


def impostor(name, module):
    """A class named like one of the exporters, with a buffer of doubles, iterating other values."""

    def buffer(self, flags):
        return memoryview(array.array("d", [0.5, 1.5]))

    namespace = {
        "__module__": module,
        "__buffer__": buffer,
        "__len__": lambda self: 2,
        "__getitem__": lambda self, index: [2.5, 3.5][index],
    }
    return type(name, (), namespace)()


FALLBACKS = {
    "0-d float64": numpy.array(1.5),
    "0-d memoryview": memoryview(numpy.array(1.5)),
    "2-D": numpy.ones((2, 3)),
    "2-D of one column": numpy.ones((3, 1)),
    "2-D memoryview": memoryview(numpy.ones((2, 2))),
    "object": numpy.array([1.0, 2, None], dtype=object)[:2],
    "object with a str": numpy.array([1.0, "2"], dtype=object),
    "complex": numpy.array([1.0 + 0.0j, 0.5 + 1.0j]),
    "complex64": numpy.array([0.25 + 0.0j], dtype=numpy.complex64),
    "long double": numpy.array([0.5, 1.5], dtype=numpy.longdouble),
    "str": numpy.array(["1.5", "2"]),
    "bytes": numpy.array([b"1.5"]),
    "datetime": numpy.array(["2026-01-01"], dtype="datetime64[D]"),
    "timedelta": numpy.array([3], dtype="timedelta64[s]"),
    "structured": numpy.zeros(2, dtype=[("x", "f8")]),
    "ndarray subclass with units": numpy.arange(3.0).view(WithUnits),
    "ndarray subclass iterating its own way": numpy.arange(3.0).view(Doubled),
    "masked array": numpy.ma.masked_array([0.5, 1.0], mask=[False, True]),
    "array.array subclass": DoubledArray("d", [0.5, 1.0]),
    "array.array of str": array.array("w", "12"),
    "big-endian memoryview": memoryview(numpy.array([0.5], dtype=">f8")),
    "big-endian integer memoryview": memoryview(numpy.array([1], dtype=">i4")),
    "class named numpy.ndarray": impostor("ndarray", "numpy"),
    "class named array.array": impostor("array", "array"),
    "bytearray": bytearray(b"\x00\x01"),
    "bytes object": b"\x00\x07",
}


@pytest.mark.parametrize("sequence", FALLBACKS.values(), ids=FALLBACKS.keys())
def test_other_arrays_convert_by_the_sequence_rule(sequence):
    """Iteration errors are raised as they are, with the note; otherwise the items convert, or
    fail, as they do in a list."""
    failure = iteration_error(sequence)
    if failure is None:
        assert_as_sequence_rule(WITT_MAO, sequence, 1.0, 0.1)
        assert_as_sequence_rule(caldrith.discrete_flux_map_heyrovsky_magnification, [0.5], 1.0, 0.1, sequence, sequence)
        return
    for position, args in [(0, (sequence, 1.0, 0.1)), (2, ([0.5], [1.0], sequence))]:
        function = WITT_MAO if position == 0 else caldrith.multi_witt_mao_magnification
        result, _ = outcome(function, *args)
        parameter = "l" if position == 0 else "rstar"
        assert result == ("error", *failure, [f"while processing '{parameter}'"])


def test_classes_named_like_the_exporters_are_iterated():
    assert WITT_MAO(impostor("ndarray", "numpy"), 1.0, 0.1) == WITT_MAO([2.5, 3.5], 1.0, 0.1)


def test_a_quantity_with_units_keeps_raising():
    with pytest.raises(TypeError) as caught:
        WITT_MAO(numpy.arange(3.0).view(WithUnits), 1.0, 0.1)
    assert caught.value.args == ("only dimensionless quantities can be converted to Python scalars",)
    assert caught.value.__notes__ == ["while processing 'l'"]
    doubled = numpy.arange(3.0).view(Doubled)
    assert WITT_MAO(doubled, 1.0, 0.1) == WITT_MAO([0.0, 2.0, 4.0], 1.0, 0.1)


def test_bad_array_argument_is_named_after_the_good_ones():
    with pytest.raises(TypeError) as caught:
        caldrith.integrated_flux_map_heyrovsky_magnification(
            numpy.zeros(2), 1.0, 0.1, numpy.zeros(2), numpy.array(["x", "y"])
        )
    assert caught.value.__notes__ == ["while processing 'bf'"]


def test_unequal_profile_arrays_are_an_internal_fault():
    with pytest.raises(BaseException) as caught:
        caldrith.discrete_flux_map_heyrovsky_magnification([0.5], 1.0, 0.1, numpy.zeros(3), numpy.zeros(2))
    assert type(caught.value).__name__ == "PanicException"
    assert caught.value.args == ("assertion `left == right` failed\n  left: 3\n right: 2",)


def test_array_too_long_to_hold_is_a_capacity_overflow():
    # A broadcast view reports 2^60 items without holding them.
    with pytest.raises(BaseException) as caught:
        WITT_MAO(numpy.broadcast_to(numpy.int8(1), (2**60,)), 1.0, 0.1)
    assert type(caught.value).__name__ == "PanicException"
    assert caught.value.args == ("capacity overflow",)


def test_array_stays_usable_after_the_call():
    """The buffer is released on every path: an array whose buffer is still exported cannot be
    resized."""
    for items in [numpy.arange(4.0), numpy.array(["x"]), numpy.array([numpy.nan], dtype=numpy.float32)]:
        try:
            WITT_MAO(items, 1.0, 0.1)
        except TypeError:
            pass
        items.resize(8, refcheck=False)
    values = array.array("d", [0.5, 1.0])
    WITT_MAO(values, 1.0, 0.1)
    values.append(2.0)
    view = memoryview(bytearray(16)).cast("d")
    WITT_MAO(view, 1.0, 0.1)
    view.release()
