#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
cd build
ctest --output-on-failure --no-tests=error -j2 "$@"
