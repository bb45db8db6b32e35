#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the program, its
# resources, the desktop entry and the icon land in the usual XDG places.
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orvix-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/orvix libexec/orvix/orvix-fetch libexec/orvix/orvix-watchdog share/orvix/metal.png \
    share/orvix/orvix.svg \
    share/applications/org.orvix.Orvix.desktop \
    share/icons/hicolor/scalable/apps/org.orvix.Orvix.svg; do
    if [ ! -e "$prefix/$f" ]; then
        echo "missing after install: $f"
        status=1
    fi
done
grep -q '^Exec=orvix$' "$prefix/share/applications/org.orvix.Orvix.desktop" || { echo "desktop entry does not run orvix"; status=1; }
grep -q '^Icon=org.orvix.Orvix$' "$prefix/share/applications/org.orvix.Orvix.desktop" || { echo "desktop entry names another icon"; status=1; }
[ $status -eq 0 ] && echo "install layout ok"
exit $status
