#!/usr/bin/env bash
# Installs the dependencies, builds DocHarvest and starts it. Extra arguments go
# to the program (for example ./run.sh --demo).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target docharvest
exec ./build/docharvest "$@"
