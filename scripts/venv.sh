# Sourced by the set-up scripts: a project virtual environment made,
# furnished and given the project, each step only when it is not done yet.
# shellcheck shell=bash

venv_project="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# machine_python: the interpreter of the machine's own `python3` (the one a
# virtual environment was made from, if python3 is in one) if it is CPython
# 3.11 or later, on which caldrith_ld runs; nothing otherwise.
machine_python() {
    python3 -c 'import sys, venv
assert sys.implementation.name == "cpython" and sys.version_info >= (3, 11)
print(getattr(sys, "_base_executable", sys.executable))' 2>/dev/null || true
}

# find_cpython 3.MINOR: a regular (not free-threaded) CPython 3.MINOR of the
# machine, from PATH or pyenv's versions; nothing if there is none. CPython
# 3.14 comes from scripts/python314.sh, which obtains one.
find_cpython() {
    local version="$1" candidate
    if [[ "$version" == 3.14 ]]; then
        "$venv_project/scripts/python314.sh"
        return
    fi
    local pyenv_root
    pyenv_root="$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")"
    for candidate in "$(command -v "python$version" || true)" \
        $(ls -d "$pyenv_root/versions/$version".*/bin/"python$version" 2>/dev/null | sort -V -r); do
        if [[ -n "$candidate" ]] && "$candidate" -c "import sys, sysconfig, venv
assert sys.implementation.name == 'cpython' and '%d.%d' % sys.version_info[:2] == '$version'
assert not sysconfig.get_config_var('Py_GIL_DISABLED')" 2>/dev/null; then
            echo "$candidate"
            return
        fi
    done
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
