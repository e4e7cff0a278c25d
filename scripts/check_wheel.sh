#!/usr/bin/env bash
# Checks the distributions: `pip wheel .` builds a CPython 3.14 wheel holding
# the extension, the stub package caldrith-stubs and the modellers' package
# caldrith_ld with its compiled core; the wheel installs into a fresh virtual
# environment (with numpy, caldrith_ld's one dependency, from PyPI), where
# both modules import and compute and a type checker finds their types; and
# the source distribution holds everything a build needs (a second wheel is
# built from it alone, with the same files).
# Builds in a temporary folder (a few minutes: the sdist build compiles from
# scratch); prints the wheel's contents and "wheel check passed".
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
venv="$here/.venv"
python="$("$here/scripts/python314.sh")"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
pip() { "$venv/bin/python" -m pip --disable-pip-version-check "$@"; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== pip wheel ."
pip wheel --quiet --no-deps --wheel-dir "$work/wheel" "$here"
wheel="$(ls "$work"/wheel/caldrith-*.whl)"
case "$(basename "$wheel")" in
    caldrith-*-cp314-cp314-linux_x86_64.whl) ;;
    *) echo "unexpected wheel tag: $(basename "$wheel")" >&2; exit 1 ;;
esac
contents() { "$venv/bin/python" -m zipfile --list "$1" | awk 'NR > 1 { print $1 }' | sort; }
contents "$wheel"
for member in caldrith-stubs/__init__.pyi caldrith.cpython-314-x86_64-linux-gnu.so \
    caldrith_ld/__init__.py caldrith_ld/_core.pyi caldrith_ld/py.typed caldrith_ld/_core.cpython-314-x86_64-linux-gnu.so; do
    contents "$wheel" | grep -qx "$member" || { echo "wheel lacks $member" >&2; exit 1; }
done

echo "== install into a fresh virtual environment"
"$python" -m venv --without-pip "$work/fresh"
pip --python "$work/fresh/bin/python" install --quiet "$wheel"
(cd "$work" && "$work/fresh/bin/python" - <<'EOF'
import pathlib
import caldrith

print(caldrith.__file__)
print(caldrith.witt_mao_magnification([0.0, 0.5, 2.0], 1.0, 0.1))
stub = pathlib.Path(caldrith.__file__).parent / "caldrith-stubs" / "__init__.pyi"
assert stub.is_file(), stub
print(stub)

import caldrith_ld as ld

print(ld.__file__)
print(ld.magnification([0.0, 0.005, 0.02], 0.01, ld.Quadratic(0.4, 0.25)))
EOF
)
cat > "$work/use.py" <<'EOF'
import caldrith

import caldrith_ld

magnifications: list[float] = caldrith.witt_mao_magnification([0.5], 1.0, 0.1)
reveal_type(caldrith.heyrovsky_magnification)
reveal_type(caldrith_ld.light_curve)
EOF
(cd "$work" && "$venv/bin/python" -m mypy --strict --no-incremental \
    --python-executable "$work/fresh/bin/python" use.py | tee "$work/mypy.txt")
grep -q 'def (l: ' "$work/mypy.txt" || { echo "mypy did not find the stubs" >&2; exit 1; }
grep -q 'def (t: ' "$work/mypy.txt" || { echo "mypy did not find caldrith_ld's types" >&2; exit 1; }

echo "== sdist, and a wheel built from it alone"
"$venv/bin/python" -m build --sdist --outdir "$work/sdist" "$here" >/dev/null
sdist="$(ls "$work"/sdist/caldrith-*.tar.gz)"
tar -tzf "$sdist" | sed 's|^[^/]*/||' | grep -E '^(CMakeLists.txt|pyproject.toml|README.md|LICENSE|caldrith-stubs/|python/caldrith_ld/|src/[a-z]+/CMakeLists.txt)' | sort
pip wheel --quiet --no-deps --wheel-dir "$work/from-sdist" "$sdist"
if ! diff <(contents "$wheel") <(contents "$work"/from-sdist/caldrith-*.whl); then
    echo "the wheel built from the sdist differs in its files" >&2
    exit 1
fi
echo "wheel check passed"
