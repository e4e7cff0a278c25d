#!/usr/bin/env bash
# Runs the example: a table of uniform-disk magnifications from the installed
# module. Sets up whatever is missing first.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
"$here/.venv/bin/python" "$here/examples/uniform_disk_table.py"
