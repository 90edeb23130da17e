#!/bin/sh
# Installs what is missing (Debian 12), then configures the build tree.
# Sourced by run.sh and test.sh; a second run only rebuilds what changed.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${RAVELIN_BUILD_DIR:-$ROOT/build}

PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev \
zlib1g-dev libmspack-dev libssl-dev clang clang-format libclang-rt-14-dev desktop-file-utils appstream man-db \
cabextract gcab 7zip libarchive-tools xvfb x11-utils"

missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" = 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends $missing
  else
    echo "These Debian packages are missing. Install them as root, then run this again:"
    echo "  apt-get install -y$missing"
    exit 1
  fi
fi

if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$BUILD" -j "$(nproc)"
