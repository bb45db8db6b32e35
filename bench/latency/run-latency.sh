#!/bin/bash
# Click-to-key latency of Orvix and of the on-screen keyboards Debian ships
# (xvkbd, Onboard, matchbox-keyboard), measured in the same run in a private
# Xvfb with openbox and a session bus, one program after another. Prints one
# table. The peers start as bench/compare/run-comparison starts them. Two
# last rows are the floor: bench_reference_keyboard, a one-thread Xlib window
# that types on the press, then on the release.
#
#   bench/latency/run-latency.sh [BUILD_DIR] [CLICKS]
#
# Needs xvfb, openbox, xdotool and dbus-daemon, and the targets orvix,
# orvix_resources, bench_latency and bench_reference_keyboard built in
# BUILD_DIR. A peer that is not
# installed (Debian packages xvkbd, onboard, matchbox-keyboard) is reported as
# skipped.
set -euo pipefail

build="${1:-build}"
clicks="${2:-300}"
orvix="$build/bin/orvix"
bench="$build/bin/bench_latency"
for tool in Xvfb openbox xdotool dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$orvix" ] && [ -x "$bench" ] || { echo "build orvix and bench_latency in $build first" >&2; exit 1; }

# shellcheck source=session.sh
source "$(dirname "$0")/session.sh"
# Onboard keeps its settings in GSettings (dconf, which needs the bus); with
# the private home above it starts from its defaults: a plain floating
# window, no first-run dialog.
{
    read -r bus_address
    read -r bus_pid
} < <(dbus-daemon --session --fork --print-address=1 --print-pid=1)
pids+=("$bus_pid")
export DBUS_SESSION_BUS_ADDRESS="$bus_address"
start_openbox

# The pointer away from where the panel opens.
xdotool mousemove 2 2

window_of() { # pid
    xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -n1
}

printf '%-17s %-8s %6s %5s %9s %9s %9s %9s\n' keyboard types-on clicks lost median-ms p99-ms min-ms max-ms

# Runs a keyboard (a peer as run-comparison starts it: no options), finds its
# window with the xdotool search arguments after `--`, measures it under the
# name ROW and ends it.
#   measure ROW COMMAND... -- SEARCH-ARGS...
measure() {
    local row="$1" window pid command=()
    shift
    while [ "$1" != -- ]; do
        command+=("$1")
        shift
    done
    shift
    if ! command -v "${command[0]}" >/dev/null; then
        printf '%-17s skipped: not installed\n' "$row"
        return
    fi
    "${command[@]}" >"$work/$row.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    window="$(timeout 30 xdotool search --sync --onlyvisible "$@" | head -n1)" || true
    if [ -z "$window" ]; then
        printf '%-17s failed: no window\n' "$row"
    else
        sleep 1 # the first paint
        "$bench" --keyboard "$row" --window "$window" --clicks "$clicks" ||
            echo "$row: failed ($?)"
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

"$orvix" >"$work/orvix.log" 2>&1 &
orvix_pid=$!
pids+=($orvix_pid)
panel="$(timeout 20 bash -c "$(declare -f window_of); window_of $orvix_pid")"
sleep 1 # the fade-in
"$bench" --keyboard orvix --window "$panel" --clicks "$clicks" || echo "orvix: failed ($?)"
kill "$orvix_pid"
wait "$orvix_pid" 2>/dev/null || true

# xvkbd and matchbox-keyboard set no _NET_WM_PID: their windows are found by
# title, Onboard's by its WM_CLASS.
measure xvkbd xvkbd -- --name '^xvkbd - Virtual Keyboard$'
measure onboard onboard -- --class '^onboard$'
measure matchbox-keyboard matchbox-keyboard -- --name '^Keyboard$'

for types_on in press release; do
    measure "reference-$types_on" "$build/bin/bench_reference_keyboard" --types-on "$types_on" \
        -- --name '^reference keyboard$'
done
