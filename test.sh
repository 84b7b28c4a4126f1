#!/usr/bin/env bash
# Installs the dependencies of the program, its tests and benchmarks, builds
# everything and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake --preset default -DDH_BUILD_TESTS=ON >/dev/null
cmake --build --preset default
cd build
ctest --output-on-failure --no-tests=error -j2 "$@"
