#!/usr/bin/env bash
# Result-page extraction: gumbo document model against BeautifulSoup over
# lxml (Debian's python3-bs4 and python3-lxml, run by /usr/bin/python3), on
# the same ~200 KB demo result page, in the same run.
#
# usage: bench/document_bench.sh [BUILD_DIR] [extra document_bench options]
#   BUILD_DIR  build folder holding bench/document_bench (default: build)
#   options    --kb 200 (page size), --runs 300, --py-runs 60
set -euo pipefail

BUILD=${1:-build}
shift || true
BIN=$(cd "$BUILD" && pwd)/bench/document_bench
[ -x "$BIN" ] || { echo "no bench/document_bench in $BUILD (cmake --build $BUILD --target document_bench)" >&2; exit 2; }

if ! /usr/bin/python3 -c 'import bs4, lxml' 2>/dev/null; then
    echo "installing python3-bs4 python3-lxml (the benchmark's peer) ..."
    if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi
    $SUDO apt-get install -y python3-bs4 python3-lxml >/dev/null
fi

/usr/bin/python3 -c 'import bs4, lxml; print("peer: BeautifulSoup", bs4.__version__, "lxml", lxml.__version__)'
exec "$BIN" "$@"
