#!/usr/bin/env bash
# Prepares everything the project's commands need, idempotently: CPython 3.14,
# the virtual environment .venv with the build and test dependencies, and the
# caldrith module built and installed into it. Prints nothing on success
# except what pip and the build report on failure.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
venv="$here/.venv"
python="$("$here/scripts/python314.sh")"

venv_ok() {
    [[ -x "$venv/bin/python" ]] &&
        "$venv/bin/python" -c 'import sys, pip; assert sys.version_info[:2] == (3, 14)' 2>/dev/null
}

if ! venv_ok; then
    rm -rf "$venv"
    if ! "$python" -m venv "$venv" >/dev/null 2>&1; then
        # Debian's ensurepip looks for its wheels in the system's folder; a
        # privately unpacked interpreter carries them beside itself instead.
        rm -rf "$venv"
        "$python" -m venv --without-pip "$venv"
        wheel="$(ls "$(dirname "$python")"/../share/python-wheels/pip-*.whl | tail -n 1)"
        "$venv/bin/python" "$wheel/pip" install --quiet --no-index "$wheel"
    fi
fi

requirements="$here/requirements-dev.txt"
stamp="$venv/.requirements-installed"
if [[ ! -f "$stamp" ]] || ! cmp -s "$requirements" "$stamp"; then
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check -r "$requirements"
    cp "$requirements" "$stamp"
fi

# Rebuilds incrementally in build/<wheel tag>.
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
    --no-build-isolation --no-deps --force-reinstall "$here"
