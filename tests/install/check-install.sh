#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that the programs, their
# resources, the desktop entry, the icons, the software-centre metadata and the
# manual pages land in the usual XDG and FHS places.
set -euo pipefail
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orvix-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
files=(bin/orvix bin/orvix-snth bin/orvix-render libexec/orvix/orvix-fetch
    libexec/orvix/orvix-watchdog
    share/orvix/metal.png share/orvix/orvix.svg
    share/applications/org.orvix.Orvix.desktop
    share/metainfo/org.orvix.Orvix.metainfo.xml
    share/icons/hicolor/scalable/apps/org.orvix.Orvix.svg
    share/doc/orvix/copyright share/doc/orvix/changelog.gz
    lib/udev/rules.d/70-orvix.rules)
for page in orvix orvix-snth orvix-render; do files+=("share/man/man1/$page.1.gz"); done
for size in 16 22 24 32 48 64 128 256 512; do
    files+=("share/icons/hicolor/${size}x${size}/apps/org.orvix.Orvix.png")
done
for f in "${files[@]}"; do
    if [ ! -e "$prefix/$f" ]; then
        echo "missing after install: $f"
        status=1
    fi
done
# Each PNG icon is drawn at the size its folder names.
for png in "$prefix"/share/icons/hicolor/*x*/apps/org.orvix.Orvix.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    [ "$(identify -format '%wx%h' "$png")" = "$size" ] || { echo "$png is not $size"; status=1; }
done
grep -q '^Exec=orvix$' "$prefix/share/applications/org.orvix.Orvix.desktop" || { echo "desktop entry does not run orvix"; status=1; }
grep -q '^Icon=org.orvix.Orvix$' "$prefix/share/applications/org.orvix.Orvix.desktop" || { echo "desktop entry names another icon"; status=1; }
grep -q '<launchable type="desktop-id">org.orvix.Orvix.desktop</launchable>' \
    "$prefix/share/metainfo/org.orvix.Orvix.metainfo.xml" || { echo "metadata launches another entry"; status=1; }
[ $status -eq 0 ] && echo "install layout ok"
exit $status
