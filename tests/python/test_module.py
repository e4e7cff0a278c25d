"""The module's face: its definition, functions, signatures and exported symbol."""

import importlib.machinery
import shutil
import subprocess
import types

import pytest

import caldrith
from conftest import run_python

SIGNATURES = {
    "witt_mao_magnification": "(l, re, rstar)",
    "integrated_witt_mao_magnification": "(l, re, rstar)",
    "integrated_flux_map_witt_mao_magnification": "(l, re, rstar, bl, bf)",
    "multi_witt_mao_magnification": "(l, re, rstar)",
    "heyrovsky_magnification": "(l, r, re, rstar)",
    "integrated_heyrovsky_magnification": "(l, re, rstar)",
    "integrated_flux_map_heyrovsky_magnification": "(l, re, rstar, bl, bf)",
    "discrete_flux_map_heyrovsky_magnification": "(l, re, rstar, bl, bf)",
}


def test_module_is_the_compiled_extension():
    assert isinstance(caldrith.__loader__, importlib.machinery.ExtensionFileLoader)
    assert caldrith.__file__.endswith(".so")
    assert caldrith.__name__ == "caldrith"
    assert isinstance(caldrith.__doc__, str) and caldrith.__doc__


def test_all_lists_the_functions_in_table_order_and_the_module_holds_nothing_else():
    assert caldrith.__all__ == list(SIGNATURES)
    assert {name for name in vars(caldrith) if not name.startswith("__")} == set(SIGNATURES)


@pytest.mark.parametrize("name, signature", SIGNATURES.items())
def test_function_face(name, signature):
    function = getattr(caldrith, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__name__ == name
    assert function.__qualname__ == name
    assert function.__module__ == "caldrith"
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    assert function.__self__ is None


@pytest.mark.skipif(shutil.which("nm") is None, reason="binutils' nm is not installed")
def test_entry_point_is_the_only_exported_symbol():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", caldrith.__file__], capture_output=True, text=True, check=True
    ).stdout
    exported = [line.split()[-1] for line in output.splitlines() if line.split()[1] in "TDBVWRiu"]
    assert exported == ["PyInit_caldrith"]


def test_internal_fault_type_is_created_on_first_need():
    code = (
        "import caldrith\n"
        "try:\n"
        "    caldrith.discrete_flux_map_heyrovsky_magnification([], 1.0, 1.0, [1.0], [])\n"
        "except BaseException as error:\n"
        "    kind = type(error)\n"
        "print(kind.__module__, kind.__qualname__, kind.__bases__ == (BaseException,))\n"
    )
    assert run_python(code).stdout.strip() == "pyo3_runtime PanicException True"
