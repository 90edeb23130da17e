#!/bin/sh
# Sets up, builds and starts Ravelin Pro. Arguments are passed to the program
# (for example /noquery).
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${RAVELIN_BUILD_DIR:-$ROOT/build}
"$ROOT/scripts/setup.sh"
# ravelin-cab, which Get Info runs, is built beside it in bin/.
exec "$BUILD/bin/ravelin" "$@"
