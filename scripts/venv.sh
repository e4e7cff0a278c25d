# Sourced by the set-up scripts: a project virtual environment made,
# furnished and given the project, each step only when it is not done yet.
# shellcheck shell=bash

venv_project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# machine_python: the machine's own `python3` if it is CPython 3.11 or later
# (on which caldrith_ld runs); nothing otherwise.
machine_python() {
    local python
    python="$(command -v python3 || true)"
    if [[ -n "$python" ]] && "$python" -c 'import sys, venv
assert sys.implementation.name == "cpython" and sys.version_info >= (3, 11)' 2>/dev/null; then
        echo "$python"
    fi
}

# venv_create VENV PYTHON [VENV OPTION...]: a virtual environment of PYTHON's
# version at VENV, with pip; one of another version or without pip is made
# again.
venv_create() {
    local venv="$1" python="$2"
    shift 2
    local version
    version="$("$python" -c 'import sys; print(sys.version_info[:2])')"
    if [[ -x "$venv/bin/python" ]] &&
        [[ "$("$venv/bin/python" -c 'import sys, pip; print(sys.version_info[:2])' 2>/dev/null)" == "$version" ]]; then
        return
    fi
    rm -rf "$venv"
    if ! "$python" -m venv "$@" "$venv" >/dev/null 2>&1; then
        # Debian's ensurepip looks for its wheels in the system's folder; a
        # privately unpacked interpreter carries them beside itself instead.
        rm -rf "$venv"
        "$python" -m venv --without-pip "$@" "$venv"
        local wheel
        wheel="$(ls "$(dirname "$python")"/../share/python-wheels/pip-*.whl | tail -n 1)"
        "$venv/bin/python" "$wheel/pip" install --quiet --no-index "$wheel"
    fi
}

# venv_requirements VENV FILE: installs the requirements FILE lists, unless
# the same list was installed last.
venv_requirements() {
    local venv="$1" requirements="$2"
    local stamp="$venv/.requirements-installed"
    if [[ ! -f "$stamp" ]] || ! cmp -s "$requirements" "$stamp"; then
        "$venv/bin/python" -m pip install --quiet --disable-pip-version-check -r "$requirements"
        cp "$requirements" "$stamp"
    fi
}

# venv_install_project VENV [PIP OPTION...]: builds the project with the
# build tools of VENV (incrementally, in build/<wheel tag>) and installs it.
venv_install_project() {
    local venv="$1"
    shift
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
        --no-build-isolation --no-deps --force-reinstall "$@" "$venv_project"
}
