#!/usr/bin/env bash
# Runs every test: the C++ tests of the kernels, models and worker pool, then
# the Python tests of the installed module on CPython 3.14, then caldrith_ld's
# tests on the machine's own python3 with the oldest numpy it supports. Sets
# up whatever is missing first. Extra arguments go to pytest on 3.14 (and the
# run on python3 is left out).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/venv.sh
source "$here/scripts/venv.sh"
oldest="$(machine_python)"
"$here/scripts/setup.sh"
# cmake and ninja from the virtual environment, whatever the machine has.
export PATH="$here/.venv/bin:$PATH"

build="$here/build/cpp-tests"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCALDRITH_BUILD_MODULE=OFF -DCALDRITH_BUILD_TESTS=ON \
    -DDOCTEST_INCLUDE_DIR="$("$here/scripts/doctest.sh")" >/dev/null
cmake --build "$build" -j 2
ctest --test-dir "$build" --output-on-failure

cd "$here"
"$here/.venv/bin/python" -m pytest "$@"
if [[ $# -gt 0 ]]; then
    exit 0
fi

# caldrith_ld on the machine's python3 (3.11 to 3.13: the build on the stable
# ABI that their wheel carries) with the oldest numpy it supports (1.26 on
# 3.11 and 3.12), in .venv-oldest: its tests, accuracy, threads and Ctrl-C
# included. caldrith's own tests need 3.14.
if [[ -z "$oldest" ]]; then
    echo "run_tests: the machine's python3 is not CPython 3.11 or later; caldrith_ld was tested on 3.14 alone"
    exit 0
fi
venv_create "$here/.venv-oldest" "$oldest"
venv_requirements "$here/.venv-oldest" "$here/requirements-oldest.txt"
venv_install_project "$here/.venv-oldest"
"$here/.venv-oldest/bin/python" -m pytest tests/python/test_ld*.py tests/python/test_fluxes.py
