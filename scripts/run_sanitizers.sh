#!/usr/bin/env bash
# Builds the C++ tests and the modules (caldrith and caldrith_ld's compiled
# core) twice, with AddressSanitizer + UndefinedBehaviorSanitizer and with
# ThreadSanitizer, and runs the C++ tests and the Python suite under each,
# both modules loaded from the instrumented build (the interpreter itself is
# not instrumented: the sanitizer's runtime is preloaded into it). Logs go to
# build/sanitize-<name>/*.log; a clean run prints one summary line. Extra
# arguments go to pytest. Not part of the normal test run.
#
# Tests that cannot work under a sanitizer are skipped by name, each with its
# reason (tests/python/conftest.py, CALDRITH_SANITIZER; #if in the C++ tests):
#   - under ASan and TSan, the deliberate reservation of 2^59 doubles cannot
#     throw: the sanitizer's allocator reports the request and ends the process;
#   - under ASan and TSan, an address-space limit (RLIMIT_AS) leaves no room
#     for the shadow memory;
#   - under ASan and TSan, the instrumented modules are loaded from the build
#     folder, where the stub package is not installed beside them;
#   - under TSan, its own background thread shows up in thread counts, it
#     cannot start threads in a child forked from a process with threads, and
#     it delivers a signal only when the thread next calls a function that it
#     intercepts, which the conversions and computations on the calling thread
#     do not do for seconds (the C++ tests cover cancellation under TSan);
#     and jaxlib is not instrumented, so TSan reports races between XLA's own
#     threads, whose synchronisation it cannot see (ASan runs the JAX tests).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
export PATH="$here/.venv/bin:$PATH"
python="$here/.venv/bin/python"
doctest_dir="$("$here/scripts/doctest.sh")"
summary=()

# run_under NAME COMPILE_FLAGS RUNTIME_LIBRARY
run_under() {
    local name="$1" flags="$2" preload
    # The C++ runtime is preloaded with the sanitizer's, so that the sanitizer
    # finds the functions it intercepts there (__cxa_throw) when it starts.
    preload="$(c++ -print-file-name="$3") $(c++ -print-file-name=libstdc++.so)"
    local build="$here/build/sanitize-$name"
    mkdir -p "$build"
    if ! { cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCALDRITH_BUILD_MODULE=ON -DCALDRITH_BUILD_TESTS=ON -DDOCTEST_INCLUDE_DIR="$doctest_dir" \
            -DPython_EXECUTABLE="$python" -DCMAKE_CXX_FLAGS="$flags -fno-omit-frame-pointer" \
            -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" &&
          cmake --build "$build" -j 2; } >"$build/build.log" 2>&1; then
        echo "sanitizers: $name build failed; see $build/build.log" >&2
        exit 1
    fi
    if ! ctest --test-dir "$build" --output-on-failure >"$build/ctest.log" 2>&1; then
        echo "sanitizers: $name C++ tests failed; see $build/ctest.log" >&2
        exit 1
    fi
    local ctest_line pytest_line
    ctest_line="$(grep -o '[0-9]*% tests passed.*' "$build/ctest.log")"
    # caldrith_ld as a package in the build folder: its Python layer from the
    # source, its instrumented core from the build.
    local package="$build/python/caldrith_ld"
    mkdir -p "$package"
    ln -sf "$here"/python/caldrith_ld/* "$package/"
    ln -sf "$build"/src/ld/_core.*.so "$package/"
    local path="$build/src/lib:$build/python"
    if ! (cd "$here" && PYTHONPATH="$path" LD_PRELOAD="$preload" ASAN_OPTIONS="detect_leaks=0" "$python" -c "
import sys, caldrith, caldrith_ld._core as core
sys.exit(not all(module.__file__.startswith('$build/') for module in (caldrith, core)))"); then
        echo "sanitizers: $name modules not loaded from $build" >&2
        exit 1
    fi
    # The sanitized modules come first on the path; child interpreters inherit
    # the preloaded runtime and the path.
    # Leaks of the interpreter itself (never freed at exit) are not the
    # module's: leak detection covers the C++ tests only.
    if ! (cd "$here" && CALDRITH_SANITIZER="$name" PYTHONPATH="$path" LD_PRELOAD="$preload" \
            ASAN_OPTIONS="detect_leaks=0" "$python" -m pytest -q -p no:cacheprovider "${@:4}") \
            >"$build/pytest.log" 2>&1; then
        echo "sanitizers: $name Python suite failed; see $build/pytest.log" >&2
        exit 1
    fi
    if grep -q -E '^(SUMMARY: |WARNING: ThreadSanitizer|==[0-9]+==ERROR)|runtime error:' "$build"/*.log; then
        echo "sanitizers: $name reported problems; see $build/ctest.log and $build/pytest.log" >&2
        exit 1
    fi
    pytest_line="$(tail -n 1 "$build/pytest.log" | tr -d '=' | sed 's/^ *//; s/ *$//')"
    summary+=("$name: C++ $ctest_line; Python $pytest_line")
}

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_under asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined" libasan.so "$@"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
run_under tsan "-fsanitize=thread" libtsan.so "$@"

echo "sanitizers clean: ${summary[0]} | ${summary[1]}"
