#!/bin/bash
# Click-to-key latency of Orvix and of xvkbd, measured in the same run in a
# private Xvfb with openbox. Prints one table.
#
#   bench/latency/run-latency.sh [BUILD_DIR] [CLICKS]
#
# Needs xvfb, openbox, xdotool and xvkbd (Debian packages of those names),
# and the targets orvix, orvix_resources and bench_latency built in BUILD_DIR.
set -euo pipefail

build="${1:-build}"
clicks="${2:-300}"
orvix="$build/bin/orvix"
bench="$build/bin/bench_latency"
for tool in Xvfb openbox xdotool xvkbd; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$orvix" ] && [ -x "$bench" ] || { echo "build orvix and bench_latency in $build first" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf -- "$work"
}
trap cleanup EXIT

# A home of our own, so no settings of the user's are read or written.
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache" XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p "$XDG_CONFIG_HOME/Orvix" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[General]\nCheckForUpdates=false\n' >"$XDG_CONFIG_HOME/Orvix/Orvix.conf"
export QT_QPA_PLATFORM=xcb ALSOFT_DRIVERS=null
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x800x24 -nolisten tcp -noreset 2>"$work/xvfb.log" &
pids+=($!)
read -r -t 10 number <&"$displayfd"
exec {displayfd}>&-
export DISPLAY=":$number"
openbox --sm-disable 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
    sleep 0.1
done

# The pointer away from where the panel opens.
xdotool mousemove 2 2

window_of() { # pid
    xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n1
}

printf '%-8s %-8s %6s %5s %9s %9s %9s %9s\n' keyboard types-on clicks lost median-ms p99-ms min-ms max-ms

"$orvix" >"$work/orvix.log" 2>&1 &
orvix_pid=$!
pids+=($orvix_pid)
panel="$(timeout 20 bash -c "$(declare -f window_of); window_of $orvix_pid")"
sleep 1 # the fade-in
"$bench" --keyboard orvix --window "$panel" --clicks "$clicks" || echo "orvix: failed ($?)"
kill "$orvix_pid"
wait "$orvix_pid" 2>/dev/null || true

xvkbd -compact -geometry +600+450 >"$work/xvkbd.log" 2>&1 &
xvkbd_pid=$!
pids+=($xvkbd_pid)
# xvkbd does not set _NET_WM_PID: find its main window by title.
peer="$(timeout 20 xdotool search --sync --onlyvisible --name '^xvkbd - Virtual Keyboard$' | head -n1)"
sleep 1
"$bench" --keyboard xvkbd --window "$peer" --clicks "$clicks" || echo "xvkbd: failed ($?)"
