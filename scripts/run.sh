#!/usr/bin/env bash
# Sets up and builds, then runs a program: scripts/run.sh workbench|testbench [--console]
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-workbench}"
shift || true
scripts/setup.sh
exec "build/$program/$program" "$@"
