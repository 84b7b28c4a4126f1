#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run DocHarvest.
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
  qt6-multimedia-dev qt6-svg-dev qt6-image-formats-plugins libqt6svg6
  libgl-dev libglx-dev libopengl-dev libvulkan-dev
  qcoro-qt6-dev libgumbo-dev libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libzstd-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth x11-utils imagemagick fonts-wqy-microhei
  tinyproxy curl file procps
  desktop-file-utils appstream
  gstreamer1.0-plugins-base pulseaudio-utils
  # Office documents for the content-detection test (about 40 s to install).
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  aria2 wget  # peers of bench/many_files_vs_curl.sh
)

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
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# tinyproxy is started by the tests themselves; keep the packaged service out of the way.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now tinyproxy >/dev/null 2>&1 || true; fi
$SUDO pkill -x tinyproxy >/dev/null 2>&1 || true
