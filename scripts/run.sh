#!/bin/sh
# Sets up, builds and starts Ravelin Pro. Arguments are passed to the program
# (for example /noquery).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${RAVELIN_BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
exec "$BUILD/src/app/ravelin" "$@"
