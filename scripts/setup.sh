#!/usr/bin/env bash
# Prepares everything the project's commands need, idempotently: CPython 3.14,
# the virtual environment .venv with the build and test dependencies, and the
# caldrith module built and installed into it. Prints nothing on success
# except what pip and the build report on failure.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=scripts/venv.sh
source "$here/scripts/venv.sh"

python="$("$here/scripts/python314.sh")"
venv_create "$here/.venv" "$python"
venv_requirements "$here/.venv" "$here/requirements-dev.txt"
venv_install_project "$here/.venv"
