#!/bin/sh
# Fails when a C++ source of the tree is not formatted as .clang-format says.
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
bad=$(git ls-files '*.cpp' '*.h' | while read -r f; do
  "$CLANG_FORMAT" --dry-run --Werror "$f" > /dev/null 2>&1 || echo "$f"
done)
if [ -n "$bad" ]; then
  echo "These files are not formatted (run: $CLANG_FORMAT -i FILE):"
  echo "$bad"
  exit 1
fi
echo "every source is formatted"
