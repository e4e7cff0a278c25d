"""caldrith_ld's compiled core called directly: its binding and conversions (src/lib, compiled on
the stable ABI for the core) raise the interpreter's own errors, with a note naming the argument
and the traceback of Python code that failed, and read every kind of sequence alike, on every
CPython the core is built for."""

import array

import pytest

np = pytest.importorskip("numpy")
from caldrith_ld import _core  # noqa: E402

U = np.array([0.005, 0.5])
NAMES = ("u", "out", "rho", "laws")


class FailingSequence(list):
    """A list whose iteration fails after its first item."""

    def __iter__(self):
        yield self[0]
        raise ValueError("iteration failed")


def linear(**changes):
    """The core's magnification of the linear law of coefficient 0.5, arguments (and the law's parts
    kind, coefficients, radius, intensity) replaced by `changes`, all given by position."""
    arguments = dict(u=U, out=np.empty(2), rho=0.01, kind=1, coefficients=(0.5,), radius=(), intensity=())
    arguments.update(changes)
    law = tuple(arguments.pop(name) for name in ("kind", "coefficients", "radius", "intensity"))
    _core.magnification(*arguments.values(), [law])
    return arguments["out"]


LAWS = [(1, (0.5,), (), ())]


@pytest.mark.parametrize("call, error, message, note", [
    (lambda: linear(u=[0.5]), TypeError, "a bytes-like object is required, not 'list'", "u"),
    (lambda: linear(out=np.frombuffer(bytes(16))), ValueError, "buffer source array is read-only", "out"),
    (lambda: linear(u=np.zeros(2, dtype=np.int64)), TypeError,
     "u must be a one-dimensional contiguous array of float64", None),
    (lambda: linear(rho="x"), TypeError, "must be real number, not str", "rho"),
    (lambda: linear(kind=1.5), TypeError, "'float' object cannot be interpreted as an integer", "laws"),
    (lambda: linear(coefficients=(c for c in [0.5])), TypeError,
     "'generator' object is not an instance of 'Sequence'", "laws"),
    (lambda: linear(coefficients="a"), TypeError, "Can't extract `str` to `Vec`", "laws"),
    (lambda: linear(coefficients=["a"]), TypeError, "must be real number, not str", "laws"),
    (lambda: linear(coefficients=FailingSequence([0.5])), ValueError, "iteration failed", "laws"),
    (lambda: _core.magnification(U, np.empty(2), 0.01, [(1, (0.5,), ())]), TypeError,
     "a law is described by (kind, coefficients, radius, intensity)", "laws"),
    (lambda: _core.magnification(U, np.empty(2), 0.01, []), TypeError, "laws: a non-empty sequence of laws", None),
    (lambda: _core.magnification(U, np.empty(2), 0.01, LAWS, x=1), TypeError,
     "magnification() got an unexpected keyword argument 'x'", None),
    (lambda: _core.magnification(U, np.empty(2), 0.01, LAWS, u=U), TypeError,
     "magnification() got multiple values for argument 'u'", None),
    (lambda: _core.magnification(U, np.empty(2)), TypeError, "magnification() missing 2 required positional "
     "arguments: 'rho' and 'laws'", None),
])
def test_bad_arguments_raise_the_interpreters_error_naming_them(call, error, message, note):
    with pytest.raises(error) as caught:
        call()
    assert str(caught.value) == message
    assert getattr(caught.value, "__notes__", None) == ([f"while processing '{note}'"] if note else None)


def test_an_error_of_python_code_keeps_its_traceback():
    with pytest.raises(ValueError) as caught:
        linear(coefficients=FailingSequence([0.5]))
    assert "__iter__" in [entry.name for entry in caught.traceback]


@pytest.mark.parametrize("coefficients", [
    [0.5], np.array([0.5]), np.array([0.5], dtype=np.float32), array.array("d", [0.5]),
    memoryview(array.array("f", [0.5])),
])
def test_every_sequence_and_keywords_give_the_same_bits(coefficients):
    expected = linear()
    assert linear(coefficients=coefficients).tobytes() == expected.tobytes()
    out = np.empty(2)
    keywords = dict(zip(NAMES, (U, out, 0.01, [(1, coefficients, (), ())])))
    _core.magnification(**dict(reversed(list(keywords.items()))))
    assert out.tobytes() == expected.tobytes()
