#!/usr/bin/env bash
# Installs what building and running needs (not the test tools: ./test.sh adds
# those), builds DocHarvest and starts it. Extra arguments go to the program
# (for example ./run.sh --demo).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh --run
cmake --preset default >/dev/null
cmake --build --preset default --target docharvest
exec ./build/docharvest "$@"
