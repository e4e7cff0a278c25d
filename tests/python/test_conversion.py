"""Conversion of arguments: the float rule, the sequence rule, and their errors."""

import ctypes
import fractions
import math
import textwrap

import pytest

import caldrith
from caldrith_parameters import PARAMETERS
from conftest import NO_SHADOW_ROOM, VALID_CALLS, run_python, unless_sanitizer

WITT_MAO = caldrith.witt_mao_magnification
HEYROVSKY = caldrith.heyrovsky_magnification


class FloatLike:
    """__float__ returns value, or raises it if it is an exception."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value


class Lying:
    """A sequence whose __len__ disagrees with what its iterator yields."""

    def __init__(self, items, length):
        self.items, self.length = items, length

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        return iter(self.items)


class Outer:
    class Inner:
        """Its qualified name is Outer.Inner."""


def conversion_error(expected_type, function, *args):
    with pytest.raises(expected_type) as caught:
        function(*args)
    return caught.value


@pytest.mark.parametrize(
    "value, expected",
    [
        (2, 2.0),
        (True, 1.0),
        (FloatLike(0.25), 0.25),
        (type("IndexLike", (), {"__index__": lambda self: 3})(), 3.0),
        (type("FloatSubclass", (float,), {})(0.75), 0.75),
        (fractions.Fraction(1, 4), 0.25),
        (-1.0, -1.0),
        (FloatLike(-1.0), -1.0),
    ],
)
def test_float_rule_accepts_numbers(value, expected):
    assert HEYROVSKY(0.5, 0.3, value, 1.0) == HEYROVSKY(0.5, 0.3, expected, 1.0)
    assert WITT_MAO([0.5], 1.0, value) == WITT_MAO([0.5], 1.0, expected)


@pytest.mark.parametrize(
    "sequence, expected",
    [
        ([0.0, 1.0, 2.0], [0.0, 1.0, 2.0]),
        ((0.0, 1.0, 2.0), [0.0, 1.0, 2.0]),
        (range(3), [0.0, 1.0, 2.0]),
        (b"\x00\x01\x02", [0.0, 1.0, 2.0]),
        ([], []),
        (Lying([0.5, 1.5], 7), [0.5, 1.5]),
        (Lying([0.5, 1.5], 0), [0.5, 1.5]),
        (Lying([0.5, 1.5], ValueError("no length")), [0.5, 1.5]),
        pytest.param(
            Lying([0.5], 2**59),
            [0.5],
            marks=unless_sanitizer(
                "asan+tsan", "the deliberate 2^59 reservation cannot throw: the allocator ends the process"
            ),
        ),
    ],
)
def test_sequence_rule_accepts_sequences(sequence, expected):
    assert WITT_MAO(sequence, 1.0, 0.1) == WITT_MAO(expected, 1.0, 0.1)


@pytest.mark.parametrize(
    "value, message",
    [
        ("123", "Can't extract `str` to `Vec`"),
        (type("Text", (str,), {})("1"), "Can't extract `str` to `Vec`"),
        ({1.0: 2.0}, "'dict' object is not an instance of 'Sequence'"),
        ({1.0}, "'set' object is not an instance of 'Sequence'"),
        ((x for x in [1.0]), "'generator' object is not an instance of 'Sequence'"),
        (1.5, "'float' object is not an instance of 'Sequence'"),
        (7, "'int' object is not an instance of 'Sequence'"),
        (None, "'None' is not an instance of 'Sequence'"),
        (FloatLike(1.0), "'FloatLike' object is not an instance of 'Sequence'"),
        (Outer.Inner(), "'Outer.Inner' object is not an instance of 'Sequence'"),
    ],
)
def test_sequence_rule_refuses_non_sequences(value, message):
    error = conversion_error(TypeError, WITT_MAO, value, 1.0, 0.1)
    assert error.args == (message,)
    assert error.__notes__ == ["while processing 'l'"]


@pytest.mark.parametrize(
    "args, bad_value, parameter",
    [
        (([1.0, "x"], 1.0, 0.1), "x", "l"),
        (([1.0], "1.0", 0.1), "1.0", "re"),
        (([1.0], 1.0, 10**400), 10**400, "rstar"),
        (([1.0], 1.0, FloatLike("no")), FloatLike("no"), "rstar"),
        (([1.0, FloatLike(None)], 1.0, 0.1), FloatLike(None), "l"),
    ],
)
def test_interpreter_errors_keep_their_type_and_message(args, bad_value, parameter):
    # math.isnan converts its argument with the interpreter's float conversion.
    with pytest.raises(Exception) as reference:
        math.isnan(bad_value)
    error = conversion_error(Exception, WITT_MAO, *args)
    assert type(error) is type(reference.value)
    assert error.args == reference.value.args
    assert error.__notes__ == [f"while processing '{parameter}'"]


def test_errors_raised_by_float_conversion_pass_through_and_keep_their_notes():
    error = conversion_error(KeyError, HEYROVSKY, 1.0, 1.0, 1.0, FloatLike(KeyError("inside __float__")))
    assert error.args == ("inside __float__",)
    assert error.__notes__ == ["while processing 'rstar'"]
    assert error.__traceback__ is not None
    noted = ValueError("bad")
    noted.add_note("first")
    error = conversion_error(ValueError, WITT_MAO, [FloatLike(noted)], 1.0, 0.1)
    assert error.__notes__ == ["first", "while processing 'l'"]


def test_iteration_errors_are_reported():
    class FailingItem:
        def __len__(self):
            return 2

        def __getitem__(self, index):
            if index == 1:
                raise LookupError("second item")
            return 1.0

    class NoIterator(Lying):
        def __iter__(self):
            raise RuntimeError("no iterator")

    for sequence, kind, message in [
        (FailingItem(), LookupError, "second item"),
        (NoIterator([], 0), RuntimeError, "no iterator"),
    ]:
        error = conversion_error(kind, WITT_MAO, sequence, 1.0, 0.1)
        assert error.args == (message,)
        assert error.__notes__ == ["while processing 'l'"]


def test_first_bad_parameter_is_reported(function_name):
    function = getattr(caldrith, function_name)
    parameters = PARAMETERS[function_name]
    for bad in range(len(parameters)):
        args = list(VALID_CALLS[function_name])
        for index in range(bad, len(parameters)):
            args[index] = "bad"
        with pytest.raises(TypeError) as caught:
            function(*args)
        assert caught.value.__notes__ == [f"while processing '{parameters[bad]}'"]


def test_capacity_overflow_is_an_internal_fault():
    with pytest.raises(BaseException) as caught:
        caldrith.witt_mao_magnification(Lying([1.0], 2**60), 1.0, 0.1)
    assert type(caught.value).__name__ == "PanicException"
    assert caught.value.args == ("capacity overflow",)


def test_failed_interpreter_call_without_exception_is_a_system_error():
    """A sequence type whose iterator factory (tp_iter) fails without setting an exception."""

    class Slot(ctypes.Structure):
        _fields_ = [("slot", ctypes.c_int), ("pfunc", ctypes.c_void_p)]

    class TypeLayout(ctypes.Structure):
        _fields_ = [("name", ctypes.c_char_p), ("basicsize", ctypes.c_int), ("itemsize", ctypes.c_int)]
        _fields_ += [("flags", ctypes.c_uint), ("slots", ctypes.POINTER(Slot))]

    py_sq_item, py_tp_iter = 44, 62
    iterate = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.py_object)(lambda self: None)
    item = ctypes.CFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_ssize_t)(lambda self, i: 1.0)
    slots = (Slot * 3)(
        Slot(py_tp_iter, ctypes.cast(iterate, ctypes.c_void_p)),
        Slot(py_sq_item, ctypes.cast(item, ctypes.c_void_p)),
        Slot(0, None),
    )
    make_type = ctypes.pythonapi.PyType_FromSpec
    make_type.argtypes, make_type.restype = [ctypes.POINTER(TypeLayout)], ctypes.py_object
    silent_type = make_type(
        ctypes.byref(TypeLayout(b"silent.Silent", ctypes.sizeof(ctypes.py_object) * 2, 0, 0, slots))
    )

    error = conversion_error(SystemError, WITT_MAO, silent_type(), 1.0, 0.1)
    assert str(error) == "attempted to fetch exception but none was set"
    assert error.__notes__ == ["while processing 'l'"]


def test_internal_fault_inside_float_conversion_is_resumed():
    code = textwrap.dedent(
        """
        import caldrith

        class Faulty:
            def __float__(self):
                caldrith.discrete_flux_map_heyrovsky_magnification([], 1.0, 1.0, [1.0, 2.0], [1.0])

        try:
            caldrith.witt_mao_magnification([Faulty()], 1.0, 0.1)
        except BaseException as error:
            print(type(error).__name__, repr(error.args), getattr(error, "__notes__", None))
        """
    )
    result = run_python(code)
    expected = "assertion `left == right` failed\n  left: 2\n right: 1"
    assert result.stdout.strip() == f"PanicException {(expected,)!r} None"
    # The original fault's diagnostic, then the notice and the Python traceback
    # of the resumed exception.
    assert "internal fault" in result.stderr
    assert "Traceback (most recent call last)" in result.stderr
    assert "in __float__" in result.stderr
    assert result.stderr.rstrip().endswith("right: 1")


@NO_SHADOW_ROOM
def test_native_allocation_failure_raises_memory_error():
    # 200000 x 200000 (Einstein radius, stellar radius) pairs cannot be held;
    # the call fails with MemoryError and the process goes on.
    code = textwrap.dedent(
        """
        import resource
        import caldrith

        resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
        radii = [1.0] * 200_000
        try:
            caldrith.multi_witt_mao_magnification([1.0], radii, radii)
        except MemoryError:
            print("MemoryError")
        print(caldrith.multi_witt_mao_magnification([0.0], [1.0], [0.5]))
        """
    )
    expected = ["MemoryError", repr([caldrith.witt_mao_magnification([0.0], 1.0, 0.5)])]
    assert run_python(code).stdout.splitlines() == expected
