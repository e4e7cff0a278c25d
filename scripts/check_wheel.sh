#!/usr/bin/env bash
# Checks the distributions (a few minutes: the sdist build compiles from
# scratch):
#   - scripts/build_wheels.sh builds the wheels into dist/: the wheel on the
#     stable ABI (caldrith_ld alone, with a module in caldrith's place) and
#     the CPython 3.14 wheel (caldrith_ld, caldrith and its stub package);
#   - each installs into a fresh virtual environment of every CPython it
#     serves that the machine has (3.11, 3.12, 3.13; 3.14), with numpy from
#     PyPI, where caldrith_ld imports and computes, and caldrith does on 3.14
#     and says why it is missing elsewhere; on 3.14 a type checker finds both
#     modules' types;
#   - the source distribution holds everything a build needs (a second 3.14
#     wheel is built from it alone, with the same files).
# Prints each wheel's contents and "wheel check passed".
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/venv.sh
source "$here/scripts/venv.sh"
"$here/scripts/build_wheels.sh" >/dev/null
venv="$here/.venv"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
pip() { "$venv/bin/python" -m pip --disable-pip-version-check "$@"; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The files of a wheel, without its folders.
contents() { "$venv/bin/python" -m zipfile --list "$1" | awk 'NR > 1 && $1 !~ /\/$/ { print $1 }' | sort; }
# has WHEEL FILE...: every FILE is in the wheel. lacks WHEEL PATTERN: no file matches.
has() {
    local wheel="$1" member
    shift
    for member in "$@"; do
        contents "$wheel" | grep -qx "$member" || { echo "$(basename "$wheel") lacks $member" >&2; exit 1; }
    done
}
lacks() {
    if contents "$1" | grep -q "$2"; then
        echo "$(basename "$1") holds $2" >&2
        exit 1
    fi
}
# the_wheel PATTERN: the one wheel of dist/ whose name matches.
the_wheel() {
    local found=("$here"/dist/caldrith-*-$1.whl)
    [[ ${#found[@]} -eq 1 && -f "${found[0]}" ]] || { echo "dist/ holds no single *-$1.whl" >&2; exit 1; }
    echo "${found[0]}"
}

stable_wheel="$(the_wheel "cp311-abi3-manylinux_*_x86_64")"
wheel="$(the_wheel "cp314-cp314-manylinux_*_x86_64")"
ld_files=(caldrith_ld/__init__.py caldrith_ld/_core.pyi caldrith_ld/py.typed caldrith_ld/_core.abi3.so)
echo "== $(basename "$stable_wheel")"
contents "$stable_wheel"
has "$stable_wheel" "${ld_files[@]}" caldrith.py
lacks "$stable_wheel" 'caldrith-stubs\|cpython-'
echo "== $(basename "$wheel")"
contents "$wheel"
has "$wheel" "${ld_files[@]}" caldrith-stubs/__init__.pyi caldrith.cpython-314-x86_64-linux-gnu.so
lacks "$wheel" '^caldrith\.py$'

# check_install VERSION WHEEL: installs WHEEL into a fresh virtual environment
# of CPython VERSION and computes there.
check_install() {
    local version="$1" python fresh="$work/fresh-$1"
    python="$(find_cpython "$version")"
    if [[ -z "$python" ]]; then
        echo "== CPython $version: not on this machine, not checked"
        return
    fi
    echo "== CPython $version: install $(basename "$2") into a fresh virtual environment"
    "$python" -m venv --without-pip "$fresh"
    pip --python "$fresh/bin/python" install --quiet "$2"
    (cd "$work" && "$fresh/bin/python" - <<'PYTHON'
import math
import sys

import caldrith_ld as ld
import numpy as np

print(sys.version.split()[0], "numpy", np.__version__, ld._core.__file__)
values = ld.magnification([0.0, 0.005, 0.02, 30.0], 0.01, ld.Quadratic(0.4, 0.25))
print(values)
# Far from the star the point lens: (u^2 + 2) / (u sqrt(u^2 + 4)).
assert math.isclose(values[-1], (30.0**2 + 2) / (30.0 * math.sqrt(30.0**2 + 4)), rel_tol=1e-9), values
try:
    import caldrith
except ImportError as error:
    assert sys.version_info[:2] != (3, 14), error
    print("import caldrith:", error)
else:
    assert sys.version_info[:2] == (3, 14)
    print(caldrith.__file__)
    print(caldrith.witt_mao_magnification([0.0, 0.5, 2.0], 1.0, 0.1))
PYTHON
    )
}
for version in 3.11 3.12 3.13; do
    check_install "$version" "$stable_wheel"
done
check_install 3.14 "$wheel"

fresh="$work/fresh-3.14"
stub="$("$fresh/bin/python" -c 'import caldrith, pathlib; print(pathlib.Path(caldrith.__file__).parent / "caldrith-stubs" / "__init__.pyi")')"
[[ -f "$stub" ]] || { echo "no stub package beside caldrith: $stub" >&2; exit 1; }
echo "$stub"
cat > "$work/use.py" <<'EOF_USE'
import caldrith

import caldrith_ld

magnifications: list[float] = caldrith.witt_mao_magnification([0.5], 1.0, 0.1)
reveal_type(caldrith.heyrovsky_magnification)
reveal_type(caldrith_ld.light_curve)
EOF_USE
(cd "$work" && "$venv/bin/python" -m mypy --strict --no-incremental \
    --python-executable "$fresh/bin/python" use.py | tee "$work/mypy.txt")
grep -q 'def (l: ' "$work/mypy.txt" || { echo "mypy did not find the stubs" >&2; exit 1; }
grep -q 'def (t: ' "$work/mypy.txt" || { echo "mypy did not find caldrith_ld's types" >&2; exit 1; }

echo "== sdist, and a wheel built from it alone"
"$venv/bin/python" -m build --sdist --outdir "$work/sdist" "$here" >/dev/null
sdist="$(ls "$work"/sdist/caldrith-*.tar.gz)"
tar -tzf "$sdist" | sed 's|^[^/]*/||' | grep -E '^(CMakeLists.txt|pyproject.toml|README.md|LICENSE|caldrith-stubs/|python/|src/[a-z]+/CMakeLists.txt)' | sort
pip wheel --quiet --no-deps --wheel-dir "$work/from-sdist" "$sdist"
if ! diff <(contents "$wheel") <(contents "$work"/from-sdist/caldrith-*.whl); then
    echo "the wheel built from the sdist differs in its files" >&2
    exit 1
fi
echo "wheel check passed"
