"""Binding of positional and keyword arguments, with the interpreter's messages."""

import pytest

import caldrith
from caldrith_parameters import PARAMETERS
from conftest import VALID_CALLS


def quoted_list(names):
    quoted = [f"'{name}'" for name in names]
    if len(quoted) == 1:
        return quoted[0]
    if len(quoted) == 2:
        return f"{quoted[0]} and {quoted[1]}"
    return ", ".join(quoted[:-1]) + ", and " + quoted[-1]


def raises_type_error(function, *args, **kwargs):
    with pytest.raises(TypeError) as caught:
        function(*args, **kwargs)
    assert not getattr(caught.value, "__notes__", None), "binding errors carry no note"
    return str(caught.value)


def test_keywords_bind_like_positions(function_name):
    function = getattr(caldrith, function_name)
    args = VALID_CALLS[function_name]
    by_keyword = dict(zip(PARAMETERS[function_name], args))
    assert function(**dict(reversed(list(by_keyword.items())))) == function(*args)
    half = len(args) // 2
    assert function(*args[:half], **dict(list(by_keyword.items())[half:])) == function(*args)


def test_too_many_positional_arguments(function_name):
    function = getattr(caldrith, function_name)
    args = VALID_CALLS[function_name]
    message = raises_type_error(function, *args, 1.0)
    assert message == (
        f"{function_name}() takes {len(args)} positional arguments but {len(args) + 1} were given"
    )


@pytest.mark.parametrize("given", [0, 1, 2])
def test_missing_arguments_are_listed_in_order(function_name, given):
    function = getattr(caldrith, function_name)
    parameters = PARAMETERS[function_name]
    missing = parameters[given:]
    noun = "argument" if len(missing) == 1 else "arguments"
    message = raises_type_error(function, *VALID_CALLS[function_name][:given])
    assert message == (
        f"{function_name}() missing {len(missing)} required positional {noun}: {quoted_list(missing)}"
    )


def test_missing_arguments_between_keywords():
    message = raises_type_error(caldrith.heyrovsky_magnification, l=1.0, rstar=2.0)
    assert message == "heyrovsky_magnification() missing 2 required positional arguments: 'r' and 're'"
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], 1.0)
    assert message == "witt_mao_magnification() missing 1 required positional argument: 'rstar'"


def test_argument_given_twice():
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], 1.0, 0.1, l=[2.0])
    assert message == "witt_mao_magnification() got multiple values for argument 'l'"
    message = raises_type_error(caldrith.heyrovsky_magnification, 1.0, 2.0, r=1.0, re=1.0, rstar=1.0)
    assert message == "heyrovsky_magnification() got multiple values for argument 'r'"


@pytest.mark.parametrize("keyword", ["x", "L", "l ", "rStar", "\N{GREEK SMALL LETTER RHO}", "self"])
def test_unexpected_keyword_wins_over_missing_arguments(keyword):
    message = raises_type_error(caldrith.witt_mao_magnification, **{keyword: 1})
    assert message == f"witt_mao_magnification() got an unexpected keyword argument '{keyword}'"


def test_unexpected_keyword_that_is_not_utf8():
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], 1.0, 0.1, **{"a\udc80": 1})
    assert message == "witt_mao_magnification() got an unexpected keyword argument 'a\ufffd\ufffd\ufffd'"


def test_excess_positionals_win_over_keyword_errors():
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], 1.0, 0.1, 4.0, x=1)
    assert message == "witt_mao_magnification() takes 3 positional arguments but 4 were given"


def test_keyword_errors_are_reported_in_keyword_order():
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], l=[1.0], x=1)
    assert message == "witt_mao_magnification() got multiple values for argument 'l'"
    message = raises_type_error(caldrith.witt_mao_magnification, [1.0], x=1, l=[1.0])
    assert message == "witt_mao_magnification() got an unexpected keyword argument 'x'"
