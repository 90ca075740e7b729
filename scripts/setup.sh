#!/usr/bin/env bash
# Installs the Debian packages Tessel needs to build, test and run. Only what is missing is
# installed, so a second run costs one dpkg query.
set -euo pipefail

PACKAGES=(
  build-essential cmake make pkg-config ccache git
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6serialport6 libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth fonts-wqy-microhei qt6-translations-l10n
  mbpoll nut-client
  lintian dpkg-dev man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO="sudo"; else
    echo "Missing packages and not root: ${missing[*]}" >&2; exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
