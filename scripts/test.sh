#!/bin/sh
# Sets up, builds and runs every test headless.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${RAVELIN_BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
cd "$BUILD"
ctest --output-on-failure -j "$(nproc)" "$@"
