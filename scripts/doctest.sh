#!/usr/bin/env bash
# Prints an include folder that holds doctest/doctest.h, the C++ test
# framework: the system's when Debian's doctest-dev is installed, otherwise
# the header of Debian's package unpacked into the project's toolchain folder.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
toolchain="${CALDRITH_TOOLCHAIN:-$here/.toolchain}"

if [[ -f /usr/include/doctest/doctest.h ]]; then
    echo /usr/include
    exit 0
fi
root="$toolchain/doctest"
if [[ ! -f "$root/usr/include/doctest/doctest.h" ]]; then
    # shellcheck source=scripts/sid_apt.sh
    source "$here/scripts/sid_apt.sh"
    sid_apt_update "$toolchain/apt"
    debs="$toolchain/apt/debs"
    mkdir -p "$debs"
    (cd "$debs" && sid_apt_get download doctest-dev >/dev/null)
    rm -rf "$root" && mkdir -p "$root"
    dpkg -x "$(ls "$debs"/doctest-dev_*.deb | tail -n 1)" "$root"
fi
echo "$root/usr/include"
