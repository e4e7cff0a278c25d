"""The type stubs: found by type checkers where the module is installed, faithful to the module,
documented, and strict enough to catch wrong arguments."""

import ast
import pathlib
import subprocess
import sys
import textwrap

import pytest

import caldrith
from conftest import LOADED_FROM_BUILD

ROOT = pathlib.Path(__file__).resolve().parents[2]


def run_module(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


def installed_stub():
    return pathlib.Path(caldrith.__file__).parent / "caldrith-stubs" / "__init__.pyi"


@LOADED_FROM_BUILD
def test_stub_package_is_installed_beside_the_module():
    assert installed_stub().read_text() == (ROOT / "caldrith-stubs" / "__init__.pyi").read_text()


@pytest.mark.parametrize("module", ["caldrith", "caldrith_ld"])
def test_stubtest_finds_the_stubs_faithful_to_the_module(module, tmp_path):
    result = run_module("mypy.stubtest", module, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_examples_type_check(tmp_path):
    result = run_module("mypy", "--cache-dir", str(tmp_path), "examples", cwd=ROOT)
    assert result.returncode == 0, result.stdout + result.stderr


def test_type_checker_accepts_numbers_and_arrays_and_refuses_the_rest(tmp_path):
    (tmp_path / "use.py").write_text(
        textwrap.dedent(
            """
            import array
            import fractions

            import numpy
            import caldrith

            positions = numpy.linspace(0.0, 3.0, 7)
            a: list[float] = caldrith.witt_mao_magnification(positions, 1.0, numpy.float64(0.1))
            b: list[list[float]] = caldrith.multi_witt_mao_magnification(
                range(3), array.array("d", [1.0]), memoryview(b"\\x01")
            )
            c: float = caldrith.heyrovsky_magnification(numpy.float32(0.5), 1, True, fractions.Fraction(1, 3))
            d: list[float] = caldrith.integrated_flux_map_heyrovsky_magnification(
                l=(0.5,), re=1, rstar=0.1, bl=[0.0, 1.0], bf=numpy.ones(2)
            )
            caldrith.witt_mao_magnification([1.0], "1.0", 0.1)  # line 17
            caldrith.heyrovsky_magnification([0.5], 1.0, 1.0, 1.0)  # line 18
            caldrith.witt_mao_magnification(1.0, 1.0, 0.1)  # line 19
            e: float = caldrith.integrated_witt_mao_magnification([0.5], 1.0, 0.1)  # line 20
            caldrith.discrete_flux_map_heyrovsky_magnification([0.5], 1.0, 0.1, bl=[0.5])  # line 21
            caldrith.PanicException  # line 22
            """
        )
    )
    result = run_module("mypy", "--strict", "use.py", cwd=tmp_path)
    lines = [line.split(":")[1] for line in result.stdout.splitlines() if ": error:" in line]
    assert lines == ["17", "18", "19", "20", "21", "22"], result.stdout


STUB = ast.parse((ROOT / "caldrith-stubs" / "__init__.pyi").read_text())
STUB_FUNCTIONS = {node.name: node for node in STUB.body if isinstance(node, ast.FunctionDef)}


@pytest.mark.parametrize("name", caldrith.__all__)
def test_every_function_is_documented_in_the_stubs_only(name):
    docstring = ast.get_docstring(STUB_FUNCTIONS[name])
    assert "stellar radii" in docstring and "one common unit" in docstring
    assert "Accuracy" in docstring
    assert getattr(caldrith, name).__doc__ is None
