#!/usr/bin/env bash
# Runs the example: the light curve of a limb-darkened star crossing the lens,
# through caldrith_ld, as a short table against a uniform disk's. Takes the
# machine's own python3 when it is CPython 3.11 or later (CPython 3.14
# otherwise, obtained as the tests obtain it), in the virtual environment
# .venv-example, which sees python3's own packages and installs only what of
# numpy and the build tools they lack; builds caldrith_ld alone. Sets up
# whatever is missing first.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/venv.sh
source "$here/scripts/venv.sh"
python="$(machine_python)"
if [[ -z "$python" ]]; then
    python="$("$here/scripts/python314.sh")"
fi
venv="$here/.venv-example"
venv_create "$venv" "$python" --system-site-packages
venv_requirements "$venv" "$here/requirements-example.txt"
venv_install_project "$venv" -C cmake.define.CALDRITH_BUILD_EIGHT_FUNCTIONS=OFF
"$venv/bin/python" "$here/examples/limb_darkened_table.py"
