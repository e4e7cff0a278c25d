#!/usr/bin/env bash
# Runs every test: the C++ tests of the kernels, models and worker pool, then
# the Python tests of the installed module. Sets up whatever is missing first.
# Extra arguments go to pytest.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
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
