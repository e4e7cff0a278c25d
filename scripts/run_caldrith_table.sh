#!/usr/bin/env bash
# Prints a table of uniform-disk magnifications through caldrith's eight
# functions (CPython 3.14), from the installed module. Sets up whatever is
# missing first.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
"$here/.venv/bin/python" "$here/examples/uniform_disk_table.py"
