#!/usr/bin/env bash
# Installs the Debian packages DocHarvest needs, and does nothing else: it never
# stops, disables or reconfigures a service (the tests start their own tinyproxy
# on a free port with their own configuration, whatever runs on the machine).
#
#   scripts/install-deps.sh --run   building and running the program (./run.sh)
#   scripts/install-deps.sh         that, plus the tests and benchmarks (./test.sh, .ci/run)
#
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail

RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-multimedia-dev qt6-svg-dev qt6-image-formats-plugins libqt6svg6
  libgl-dev libglx-dev libopengl-dev libvulkan-dev
  qcoro-qt6-dev libgumbo-dev libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libzstd-dev
  libcurl4-openssl-dev libcurl4   # transfers through libcurl (headers to build, the library to run)
  fonts-wqy-microhei          # the Chinese interface
  qt6-translations-l10n       # Qt's own buttons, dialogs and menus in Chinese
  gstreamer1.0-plugins-base   # the download window's cue sounds
)

TEST_PACKAGES=(
  git googletest libgtest-dev libgmock-dev
  xvfb xauth x11-utils imagemagick
  tinyproxy curl file procps
  python3                     # scripts/check-names.py, run as a test
  desktop-file-utils appstream
  pulseaudio-utils
  # Office documents for the content-detection test (about 40 s to install).
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  aria2 wget                  # peers of bench/many_files_vs_curl.sh
  nginx-light strace linux-perf   # the benchmarks' server and their system-call and CPU profiles
)

usage() {
  echo "usage: scripts/install-deps.sh [--run]"
  echo "  --run   only what building and running DocHarvest needs (./run.sh)"
  echo "          without it: also what the tests and benchmarks need (./test.sh)"
}

case "${1:-}" in
  --run) PACKAGES=("${RUN_PACKAGES[@]}") ;;
  "") PACKAGES=("${RUN_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  -h | --help) usage; exit 0 ;;
  *) echo "install-deps: unknown option '$1'" >&2; usage >&2; exit 2 ;;
esac

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}" >&2
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
