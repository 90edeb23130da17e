#!/bin/sh
# Installs the built tree into an empty prefix and checks what a desktop and
# a packager see there: every file in place, the desktop entry and the
# AppStream description valid, and the program answering --help and
# --version without a display. VERSION is the project's ("6.2"): --version,
# the manual page and the AppStream release all carry it.
set -eu
BUILD=$1
PREFIX=$2
VERSION=$3
rm -rf "$PREFIX"
cmake --install "$BUILD" --prefix "$PREFIX" > /dev/null

for f in bin/ravelin bin/ravelin-cab \
         share/applications/ravelin.desktop \
         share/metainfo/com.korvane.ravelin.metainfo.xml \
         share/man/man1/ravelin.1 \
         share/doc/RavelinPro/LICENSE \
         share/icons/hicolor/scalable/apps/ravelin.svg \
         share/icons/hicolor/32x32/apps/ravelin.png \
         share/icons/hicolor/48x48/apps/ravelin.png \
         share/icons/hicolor/256x256/apps/ravelin.png; do
  [ -f "$PREFIX/$f" ] || { echo "missing after install: $f"; exit 1; }
done

desktop-file-validate "$PREFIX/share/applications/ravelin.desktop"
appstreamcli validate --no-net "$PREFIX/share/metainfo/com.korvane.ravelin.metainfo.xml"
grep -q "\"Ravelin Pro $VERSION\"" "$PREFIX/share/man/man1/ravelin.1" ||
  { echo "the manual page does not carry version $VERSION"; exit 1; }
grep -q "<release version=\"$VERSION\"" "$PREFIX/share/metainfo/com.korvane.ravelin.metainfo.xml" ||
  { echo "the AppStream release is not version $VERSION"; exit 1; }
if command -v groff > /dev/null; then
  groff -man -Tutf8 -z "$PREFIX/share/man/man1/ravelin.1"
fi

# No display at all: --help and --version must not need one.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$PREFIX/bin/ravelin" --version)
[ "$out" = "ravelin $VERSION (Ravelin Pro)" ] || { echo "unexpected --version: $out"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$PREFIX/bin/ravelin" --help | grep -q '^usage: ravelin '
out=$("$PREFIX/bin/ravelin-cab" --version)
[ "$out" = "ravelin-cab $VERSION (Ravelin Pro)" ] || { echo "unexpected ravelin-cab --version: $out"; exit 1; }

# The command line runs on machines without a desktop: Qt Core and the
# engines only, never Qt's GUI or widget libraries.
needed=$(readelf -d "$PREFIX/bin/ravelin-cab" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "$needed" | grep -q '^libQt6Core' || { echo "ravelin-cab does not link Qt Core as expected"; exit 1; }
if echo "$needed" | grep -q -e 'Qt6Gui' -e 'Qt6Widgets'; then
  echo "ravelin-cab needs a GUI library:"; echo "$needed"; exit 1
fi
echo "install check passed"
