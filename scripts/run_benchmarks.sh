#!/usr/bin/env bash
# Runs the benchmarks against the installed module and prints their figures.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup.sh"
for benchmark in "$here"/bench/*.py; do
    "$here/.venv/bin/python" "$benchmark"
done
